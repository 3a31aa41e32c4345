// Acting on duplicates: moves keep their folder paths, the check just before each file
// leaves alone what is not the scanned duplicate, a dry run fails where the action
// fails, and --undo takes every action back to the last byte.
#include "actions.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <tuple>

#include "cli_runner.h"
#include "file_ops.h"
#include "mover.h"
#include "text_escape.h"
#include "undo.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::ActionKind;
using twintone_cli::MoveStatus;

void WriteAt(const std::string& strPath, const std::string& strBytes) {
  FILE* pFile = std::fopen(strPath.c_str(), "w");
  ASSERT_NE(nullptr, pFile) << strPath;
  std::fwrite(strBytes.data(), 1, strBytes.size(), pFile);
  std::fclose(pFile);
}

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_DATA_HOME", dir.MakeDir("data").c_str(), 1); }

  // Writes dir/strName, making its folders first.
  std::string Put(const std::string& strName, const std::string& strBytes = "") {
    size_t nSlash = strName.find_last_of('/');
    if (nSlash != std::string::npos) dir.MakeDir(strName.substr(0, nSlash));
    return dir.WriteFile(strName, strBytes);
  }

  // A member as the scan saw the file at strPath now.
  static twintone_cli::Member Scanned(const std::string& strPath) {
    twintone_cli::Member member;
    member.strPath = strPath;
    twintone_cli::FileFacts facts = twintone_cli::FactsOf(strPath);
    member.nDevice = facts.nDevice;
    member.nInode = facts.nInode;
    return member;
  }
  static twintone_cli::Group GroupOf(const std::vector<std::string>& vecPaths) {
    twintone_cli::Group group;
    for (const std::string& strPath : vecPaths) group.vecMembers.push_back(Scanned(strPath));
    return group;
  }

  twintone_cli::ActionResult Act(const std::vector<twintone_cli::Group>& vecGroups, ActionKind kind,
                                 bool bDryRun = false) {
    twintone_cli::ActionRequest request;
    request.kind = kind;
    request.strMoveDir = dir.Path("dups");
    request.vecRoots = {dir.Path("lib"), dir.Path("loose/given.mp3")};
    request.bDryRun = bDryRun;
    request.strJournal = dir.Path("journal-" + std::to_string(++nRuns) + ".jsonl");
    return twintone_cli::RunActions(vecGroups, request, nullptr);
  }

  // Undoes strJournal twice (the second finds everything in place) without problems.
  void UndoTwice(const std::string& strJournal) {
    for (int nRun = 0; nRun < 2; ++nRun) {
      FILE* pSink = std::fopen("/dev/null", "w");
      twintone_cli::UndoOutcome outcome = twintone_cli::UndoJournal(strJournal, pSink);
      std::fclose(pSink);
      EXPECT_TRUE(outcome.bRead) << outcome.strError;
      EXPECT_EQ(0, outcome.nProblems);
      if (nRun == 1) {
        EXPECT_EQ(0, outcome.nRestored);
      }
    }
  }

  TempDir dir;
  int nRuns = 0;
};

TEST_F(ActionsTest, NumberedNamesGoBeforeTheExtension) {
  const std::vector<std::tuple<std::string, int, std::string>> kCases = {
      {"song.mp3", 0, "song.mp3"},
      {"song.mp3", 2, "song (2).mp3"},
      {"a.b.flac", 1, "a.b (1).flac"},
      {".hidden", 1, ".hidden (1)"},
      {"noext", 3, "noext (3)"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(std::get<2>(c), twintone_cli::NumberedName(std::get<0>(c), std::get<1>(c)));
  }
}

TEST_F(ActionsTest, MovesKeepTheirFolderPathsAndUndoPutsEveryByteBack) {
  Put("lib/a/song.mp3", "kept");
  Put("lib/b/song.mp3", "copy b");
  Put("lib/c/d/song.mp3", "copy c/d");
  Put("loose/given.mp3", "given by name");
  Put("dups/b/song.mp3", "already there");
  auto mapBefore = Snapshot(dir.Root());
  auto group = GroupOf({dir.Path("lib/a/song.mp3"), dir.Path("lib/b/song.mp3"),
                        dir.Path("lib/c/d/song.mp3"), dir.Path("loose/given.mp3")});
  const std::vector<std::string> kTargets = {
      dir.Path("dups/b/song (1).mp3"), dir.Path("dups/c/d/song.mp3"), dir.Path("dups/given.mp3")};
  // The dry run names the same places and changes nothing, not even a journal.
  for (bool bDryRun : {true, false}) {
    auto result = Act({group}, ActionKind::kMove, bDryRun);
    ASSERT_EQ(kTargets.size(), result.vecRecords.size());
    for (size_t i = 0; i < kTargets.size(); ++i) {
      EXPECT_EQ(kTargets[i], result.vecRecords[i].strTo);
      EXPECT_EQ(bDryRun ? MoveStatus::kWouldMove : MoveStatus::kMoved, result.vecRecords[i].status);
    }
    if (bDryRun) {
      EXPECT_EQ(mapBefore, Snapshot(dir.Root()));
    }
  }
  EXPECT_EQ("copy c/d", TempDir::ReadFile(kTargets[1]));
  UndoTwice(dir.Path("journal-2.jsonl"));
  std::filesystem::remove(dir.Path("journal-2.jsonl"));
  EXPECT_EQ(mapBefore, Snapshot(dir.Root()));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("dups/c")));  // folders it made are gone
}

TEST_F(ActionsTest, TheCheckBeforeEachFileLeavesAloneWhatIsNotTheScannedDuplicate) {
  using Change = std::function<void(const std::string& strKeep, const std::string& strDup)>;
  const Change kNothing = [](auto&, auto&) {};
  struct Case {
    const char* pszName;
    Change pfnBeforeScan;
    Change pfnAfterScan;
    const char* pszReason;
  };
  const std::vector<Case> kCases = {
      {"gone", kNothing, [](auto&, auto& d) { unlink(d.c_str()); }, "no longer exists"},
      {"replaced", kNothing,
       [](auto&, auto& d) {
         WriteAt(d + ".new", "new");
         rename((d + ".new").c_str(), d.c_str());
       },
       "another file has taken its name"},
      {"keeper by another name",
       [](auto& k, auto& d) {
         unlink(d.c_str());
         link(k.c_str(), d.c_str());
       },
       kNothing, "the kept copy under another name"},
      {"keeper links to it", kNothing,
       [](auto& k, auto& d) {
         unlink(k.c_str());
         symlink(d.c_str(), k.c_str());
       },
       "the kept copy is a link to it"},
      {"keeper gone", kNothing, [](auto& k, auto&) { unlink(k.c_str()); }, "is gone"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.pszName);
    std::string strKeep = Put("lib/keep.mp3", "keep");
    std::string strDup = Put("lib/dup.mp3", "dup");
    c.pfnBeforeScan(strKeep, strDup);
    auto group = GroupOf({strKeep, strDup});
    c.pfnAfterScan(strKeep, strDup);
    for (ActionKind kind : {ActionKind::kMove, ActionKind::kTrash, ActionKind::kLinkSymbolic}) {
      auto result = Act({group}, kind);
      ASSERT_EQ(1u, result.vecRecords.size());
      EXPECT_EQ(MoveStatus::kSkipped, result.vecRecords[0].status);
      EXPECT_NE(std::string::npos, result.vecRecords[0].strError.find(c.pszReason))
          << result.vecRecords[0].strError;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path("dups/dup.mp3")));
    std::filesystem::remove(strKeep);
    std::filesystem::remove(strDup);
  }
  auto group = GroupOf({Put("lib/k.mp3"), Put("lib/d.mp3")});
  group.bUnsure = true;
  EXPECT_EQ(MoveStatus::kSkipped, Act({group}, ActionKind::kMove).vecRecords.at(0).status);
}

TEST_F(ActionsTest, ADryRunFailsWhereTheActionFails) {
  auto group = GroupOf({Put("lib/a/x.mp3", "k"), Put("lib/b/x.mp3", "d")});
  Put("dups", "a file where the folder should be");
  for (bool bDryRun : {true, false}) {
    auto result = Act({group}, ActionKind::kMove, bDryRun);
    EXPECT_TRUE(result.bRefused);
    EXPECT_EQ(dir.Path("dups") + " is a file, not a folder", result.strError);
  }
  std::filesystem::remove(dir.Path("dups"));
  Put("dups/b", "a file where a subfolder should be");
  for (bool bDryRun : {true, false}) {
    auto result = Act({group}, ActionKind::kMove, bDryRun);
    EXPECT_EQ(MoveStatus::kFailed, result.vecRecords.at(0).status);
  }
  EXPECT_EQ("d", TempDir::ReadFile(dir.Path("lib/b/x.mp3")));
}

TEST_F(ActionsTest, TrashAndLinksAreUndoneToTheLastByte) {
  std::string strKeep = Put("lib/keep song.flac", "kept bytes");
  std::string strDup = Put("lib/dup song.mp3", "duplicate bytes");
  auto mapBefore = Snapshot(dir.Path("lib"));
  for (ActionKind kind : {ActionKind::kTrash, ActionKind::kLinkHard, ActionKind::kLinkSymbolic}) {
    SCOPED_TRACE(twintone_cli::ActionName(kind));
    auto result = Act({GroupOf({strKeep, strDup})}, kind);
    ASSERT_EQ(MoveStatus::kMoved, result.vecRecords.at(0).status) << result.vecRecords[0].strError;
    // The original waits in the trash in either case, described for trash tools.
    EXPECT_EQ("duplicate bytes", TempDir::ReadFile(dir.Path("data/Trash/files/dup song.mp3")));
    std::string strInfo = TempDir::ReadFile(dir.Path("data/Trash/info/dup song.mp3.trashinfo"));
    EXPECT_EQ(0u, strInfo.find("[Trash Info]\nPath=" + dir.Path("lib/dup%20song.mp3") +
                               "\nDeletionDate=20"));
    twintone_cli::FileFacts now = twintone_cli::FactsOf(strDup);
    switch (kind) {
      case ActionKind::kTrash:
        EXPECT_FALSE(now.bExists);
        break;
      case ActionKind::kLinkHard:
        EXPECT_EQ(twintone_cli::FactsOf(strKeep).nInode, now.nInode);
        break;
      default:
        EXPECT_EQ(strKeep, std::filesystem::read_symlink(strDup));
    }
    UndoTwice(result.strJournal);
    EXPECT_EQ(mapBefore, Snapshot(dir.Path("lib")));
    EXPECT_TRUE(Snapshot(dir.Path("data/Trash")).empty());
  }
}

TEST_F(ActionsTest, UndoOfAForeignJournalDeletesNoUserFile) {
  std::string strSong = Put("lib/song.mp3", "song");
  std::string strOther = Put("lib/other.mp3", "other");
  twintone_cli::FileFacts facts = twintone_cli::FactsOf(strOther);
  auto Hex = [](const std::string& strPath) { return twintone_cli::HexBytes(strPath); };
  std::string strIds = "\"dev\": " + std::to_string(facts.nDevice) +
                       ", \"ino\": " + std::to_string(facts.nInode) + ", \"size\": 5";
  std::string strJournal =
      Put("foreign.jsonl",
          "{\"journal\": \"twintone\", \"version\": 1, \"stamp\": \"x\"}\n"
          "{\"step\": \"intent\", \"id\": 1, \"op\": \"copy\", \"from_hex\": \"" +
              Hex("/none") + "\", \"to_hex\": \"" + Hex("/none2") + "\", \"temp_hex\": \"" +
              Hex(strSong) + "\", " + strIds +
              "}\n"
              "{\"step\": \"intent\", \"id\": 2, \"op\": \"trash\", \"from_hex\": \"" +
              Hex(strOther) + "\", \"to_hex\": \"" + Hex("/none3") + "\", \"info_hex\": \"" +
              Hex(strSong) + "\", " + strIds + "}\n");
  FILE* pSink = std::fopen("/dev/null", "w");
  twintone_cli::UndoJournal(strJournal, pSink);
  std::fclose(pSink);
  EXPECT_EQ("song", TempDir::ReadFile(strSong));
  EXPECT_EQ("other", TempDir::ReadFile(strOther));
}

TEST_F(ActionsTest, APlanCannotSendAFileOutsideTheTarget) {
  std::string strKeep = Put("lib/keep.mp3", "same");
  std::string strDup = Put("lib/dup.mp3", "same");
  for (std::string strRel : {"../out.mp3", "a/../../out.mp3", "/tmp/out.mp3"}) {
    std::string strJson = "{\"twintone_plan\": 1, \"groups\": [{\"members\": [";
    for (const std::string& strPath : {strKeep, strDup}) {
      twintone_cli::FileFacts facts = twintone_cli::FactsOf(strPath);
      strJson += std::string(strPath == strKeep ? "" : ", ") + "{\"path_hex\": \"" +
                 twintone_cli::HexBytes(strPath) + "\", \"rel_hex\": \"" +
                 twintone_cli::HexBytes(strRel) + "\", \"size\": \"" + std::to_string(facts.nSize) +
                 "\", \"mtime_ns\": \"" + std::to_string(facts.nModifiedNs) + "\", \"dev\": \"" +
                 std::to_string(facts.nDevice) + "\", \"ino\": \"" + std::to_string(facts.nInode) +
                 "\", \"role\": \"" + (strPath == strKeep ? "keep" : "duplicate") + "\"}";
    }
    std::string strPlan = dir.WriteFile("plan.json", strJson + "]}]}");
    CliResult result =
        RunCli({"-q", "--apply", strPlan, "--move-duplicates", dir.Path("dups"), "--journal",
                dir.Path("plan-" + std::to_string(++nRuns) + ".jsonl")});
    EXPECT_EQ(1, result.nExitCode) << strRel;
    EXPECT_EQ("same", TempDir::ReadFile(strDup)) << strRel;
  }
}

TEST_F(ActionsTest, ADryRunFailsWhereTheSourceFolderCannotLetGo) {
  std::string strKeep = Put("lib/keep.mp3", "same");
  std::string strLocked = dir.MakeDir("lib/locked");
  // Permissions do not stop root: a read-only mount does.
  bool bRoot = geteuid() == 0;
  if (bRoot && std::system(("mount -t tmpfs tmpfs '" + strLocked + "'").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs";
  }
  std::string strDup = Put("lib/locked/dup.mp3", "same");
  if (bRoot) {
    std::system(("mount -o remount,ro '" + strLocked + "'").c_str());
  } else {
    chmod(strLocked.c_str(), 0555);
  }
  for (ActionKind kind : {ActionKind::kMove, ActionKind::kTrash}) {
    for (bool bDryRun : {true, false}) {
      auto result = Act({GroupOf({strKeep, strDup})}, kind, bDryRun);
      EXPECT_EQ(MoveStatus::kFailed, result.vecRecords.at(0).status) << bDryRun;
    }
  }
  if (bRoot) {
    std::system(("umount '" + strLocked + "'").c_str());
  } else {
    chmod(strLocked.c_str(), 0755);
  }
}

TEST_F(ActionsTest, CrossFileSystemActionsRefuseOrLeaveNoCopyBehind) {
  std::string strShm = "/dev/shm/twintone-actions-" + std::to_string(getpid());
  if (mkdir(strShm.c_str(), 0700) != 0 ||
      twintone_cli::FactsOf(strShm).nDevice == twintone_cli::FactsOf(dir.Root()).nDevice) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  std::string strFarKeep = strShm + "/keep.mp3";
  WriteAt(strFarKeep, "far");
  std::string strDup = Put("lib/d/dup.mp3", "near");
  for (bool bDryRun : {true, false}) {
    auto result = Act({GroupOf({strFarKeep, strDup})}, ActionKind::kLinkHard, bDryRun);
    EXPECT_NE(std::string::npos, result.vecRecords.at(0).strError.find("across file systems"));
  }
  // A source that cannot be removed (its folder is append-only) takes its copy back
  // out, so reruns never pile copies up in the target.
  bool bLocked = std::system(("chattr +a '" + dir.Path("lib/d") + "' 2>/dev/null").c_str()) == 0;
  for (int nRun = 0; bLocked && nRun < 2; ++nRun) {
    twintone_cli::ActionRequest request;
    request.kind = ActionKind::kMove;
    request.strMoveDir = strShm + "/dups";
    request.vecRoots = {dir.Path("lib")};
    request.strJournal = dir.Path("cross-" + std::to_string(nRun) + ".jsonl");
    auto result = twintone_cli::RunActions({GroupOf({strFarKeep, strDup})}, request, nullptr);
    EXPECT_EQ(MoveStatus::kFailed, result.vecRecords.at(0).status);
    EXPECT_FALSE(std::filesystem::exists(strShm + "/dups/d/dup.mp3"));
  }
  if (bLocked) std::system(("chattr -a '" + dir.Path("lib/d") + "'").c_str());
  EXPECT_EQ("near", TempDir::ReadFile(strDup));
  std::filesystem::remove_all(strShm);
}

}  // namespace
}  // namespace twintone_cli_test
