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

#include "cli_runner.h"
#include "file_ops.h"
#include "mover.h"
#include "text_escape.h"
#include "undo.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::ActionKind;
using twintone_cli::MoveStatus;
namespace fs = std::filesystem;

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_DATA_HOME", dir.MakeDir("data").c_str(), 1); }

  // Writes dir/strName, making its folders first.
  std::string Put(const std::string& strName, const std::string& strBytes = "") {
    fs::create_directories(fs::path(dir.Path(strName)).parent_path());
    return dir.WriteFile(strName, strBytes);
  }

  // A group of the files at vecPaths as the scan sees them now.
  static twintone_cli::Group GroupOf(const std::vector<std::string>& vecPaths) {
    twintone_cli::Group group;
    for (const std::string& strPath : vecPaths) {
      twintone_cli::Member member;
      member.strPath = strPath;
      twintone_cli::FileFacts facts = twintone_cli::FactsOf(strPath);
      member.nDevice = facts.nDevice;
      member.nInode = facts.nInode;
      group.vecMembers.push_back(member);
    }
    return group;
  }

  twintone_cli::ActionResult Act(const twintone_cli::Group& group, ActionKind kind,
                                 bool bDryRun = false, const std::string& strMoveDir = "") {
    twintone_cli::ActionRequest request;
    request.kind = kind;
    request.strMoveDir = strMoveDir.empty() ? dir.Path("dups") : strMoveDir;
    request.vecRoots = {dir.Path("lib"), dir.Path("loose/given.mp3")};
    request.bDryRun = bDryRun;
    request.strJournal = dir.Path("journal-" + std::to_string(++nRuns) + ".jsonl");
    return twintone_cli::RunActions({group}, request, nullptr);
  }

  // Undoes strJournal twice (the second finds everything in place) without problems.
  static void UndoTwice(const std::string& strJournal) {
    for (int nRun = 0; nRun < 2; ++nRun) {
      FILE* pSink = std::fopen("/dev/null", "w");
      twintone_cli::UndoOutcome outcome = twintone_cli::UndoJournal(strJournal, pSink);
      std::fclose(pSink);
      EXPECT_TRUE(outcome.bRead && outcome.nProblems == 0) << outcome.strError;
      EXPECT_TRUE(nRun == 0 || outcome.nRestored == 0);
    }
  }

  TempDir dir;
  int nRuns = 0;
};

TEST_F(ActionsTest, MovesKeepTheirFolderPathsAndUndoPutsEveryByteBack) {
  EXPECT_EQ("a.b (1).flac", twintone_cli::NumberedName("a.b.flac", 1));
  EXPECT_EQ(".hidden (3)", twintone_cli::NumberedName(".hidden", 3));
  EXPECT_EQ("noext (2)", twintone_cli::NumberedName("noext", 2));
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
    auto result = Act(group, ActionKind::kMove, bDryRun);
    ASSERT_EQ(kTargets.size(), result.vecRecords.size());
    for (size_t i = 0; i < kTargets.size(); ++i) {
      EXPECT_EQ(kTargets[i], result.vecRecords[i].strTo);
      EXPECT_EQ(bDryRun ? MoveStatus::kWouldMove : MoveStatus::kMoved, result.vecRecords[i].status);
    }
    EXPECT_TRUE(!bDryRun || mapBefore == Snapshot(dir.Root()));
  }
  EXPECT_EQ("copy c/d", TempDir::ReadFile(kTargets[1]));
  UndoTwice(dir.Path("journal-2.jsonl"));
  fs::remove(dir.Path("journal-2.jsonl"));
  EXPECT_EQ(mapBefore, Snapshot(dir.Root()));
  EXPECT_FALSE(fs::exists(dir.Path("dups/c")));  // folders it made are gone
}

TEST_F(ActionsTest, TheCheckBeforeEachFileLeavesAloneWhatIsNotTheScannedDuplicate) {
  using Change = std::function<void(const std::string& strKeep, const std::string& strDup)>;
  const Change kNothing = [](auto&, auto&) {};
  struct Case {
    Change pfnBeforeScan, pfnAfterScan;
    const char* pszReason;
  };
  const std::vector<Case> kCases = {
      {kNothing, [](auto&, auto& d) { unlink(d.c_str()); }, "no longer exists"},
      {kNothing,
       [](auto&, auto& d) {  // a new file renamed over it: another inode
         std::fclose(std::fopen((d + ".new").c_str(), "w"));
         rename((d + ".new").c_str(), d.c_str());
       },
       "another file has taken its name"},
      {[](auto& k, auto& d) { unlink(d.c_str()), link(k.c_str(), d.c_str()); }, kNothing,
       "the kept copy under another name"},
      {kNothing, [](auto& k, auto& d) { unlink(k.c_str()), symlink(d.c_str(), k.c_str()); },
       "the kept copy is a link to it"},
      {kNothing, [](auto& k, auto&) { unlink(k.c_str()); }, "is gone"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.pszReason);
    std::string strKeep = Put("lib/keep.mp3", "keep"), strDup = Put("lib/dup.mp3", "dup");
    c.pfnBeforeScan(strKeep, strDup);
    auto group = GroupOf({strKeep, strDup});
    c.pfnAfterScan(strKeep, strDup);
    for (ActionKind kind : {ActionKind::kMove, ActionKind::kTrash, ActionKind::kLinkSymbolic}) {
      auto result = Act(group, kind);
      ASSERT_EQ(1u, result.vecRecords.size());
      EXPECT_EQ(MoveStatus::kSkipped, result.vecRecords[0].status);
      EXPECT_NE(std::string::npos, result.vecRecords[0].strError.find(c.pszReason))
          << result.vecRecords[0].strError;
    }
    EXPECT_FALSE(fs::exists(dir.Path("dups/dup.mp3")));
    fs::remove(strKeep), fs::remove(strDup);
  }
  auto group = GroupOf({Put("lib/k.mp3"), Put("lib/d.mp3")});
  group.bUnsure = true;
  EXPECT_EQ(MoveStatus::kSkipped, Act(group, ActionKind::kMove).vecRecords.at(0).status);
}

TEST_F(ActionsTest, ADryRunFailsWhereTheActionFails) {
  auto group = GroupOf({Put("lib/a/x.mp3", "k"), Put("lib/b/x.mp3", "d")});
  Put("dups", "a file where the folder should be");
  for (bool bDryRun : {true, false}) {
    auto result = Act(group, ActionKind::kMove, bDryRun);
    EXPECT_TRUE(result.bRefused);
    EXPECT_EQ(dir.Path("dups") + " is a file, not a folder", result.strError);
  }
  fs::remove(dir.Path("dups"));
  Put("dups/b", "a file where a subfolder should be");
  for (bool bDryRun : {true, false}) {
    EXPECT_EQ(MoveStatus::kFailed, Act(group, ActionKind::kMove, bDryRun).vecRecords.at(0).status);
  }
  EXPECT_EQ("d", TempDir::ReadFile(dir.Path("lib/b/x.mp3")));

  // A source folder that cannot let go: permissions do not stop root, a read-only mount does.
  std::string strLocked = dir.MakeDir("lib/locked");
  bool bRoot = geteuid() == 0;
  if (bRoot && std::system(("mount -t tmpfs tmpfs '" + strLocked + "'").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs";
  }
  group = GroupOf({dir.Path("lib/a/x.mp3"), Put("lib/locked/dup.mp3", "d")});
  bRoot ? std::system(("mount -o remount,ro '" + strLocked + "'").c_str())
        : chmod(strLocked.c_str(), 0555);
  for (ActionKind kind : {ActionKind::kMove, ActionKind::kTrash}) {
    for (bool bDryRun : {true, false}) {
      EXPECT_EQ(MoveStatus::kFailed, Act(group, kind, bDryRun).vecRecords.at(0).status) << bDryRun;
    }
  }
  bRoot ? std::system(("umount '" + strLocked + "'").c_str()) : chmod(strLocked.c_str(), 0755);
}

TEST_F(ActionsTest, TrashAndLinksAreUndoneToTheLastByte) {
  std::string strKeep = Put("lib/keep song.flac", "kept bytes");
  std::string strDup = Put("lib/dup song.mp3", "duplicate bytes");
  auto mapBefore = Snapshot(dir.Path("lib"));
  for (ActionKind kind : {ActionKind::kTrash, ActionKind::kLinkHard, ActionKind::kLinkSymbolic}) {
    SCOPED_TRACE(twintone_cli::ActionName(kind));
    auto result = Act(GroupOf({strKeep, strDup}), kind);
    ASSERT_EQ(MoveStatus::kMoved, result.vecRecords.at(0).status) << result.vecRecords[0].strError;
    // The original waits in the trash in either case, described for trash tools.
    EXPECT_EQ("duplicate bytes", TempDir::ReadFile(dir.Path("data/Trash/files/dup song.mp3")));
    std::string strInfo = TempDir::ReadFile(dir.Path("data/Trash/info/dup song.mp3.trashinfo"));
    EXPECT_EQ(0u, strInfo.find("[Trash Info]\nPath=" + dir.Path("lib/dup%20song.mp3") +
                               "\nDeletionDate=20"));
    twintone_cli::FileFacts now = twintone_cli::FactsOf(strDup);
    EXPECT_EQ(kind != ActionKind::kTrash, now.bExists);
    EXPECT_EQ(kind == ActionKind::kLinkHard, now.nInode == twintone_cli::FactsOf(strKeep).nInode);
    EXPECT_EQ(kind == ActionKind::kLinkSymbolic,
              fs::is_symlink(strDup) && fs::read_symlink(strDup) == strKeep);
    UndoTwice(result.strJournal);
    EXPECT_EQ(mapBefore, Snapshot(dir.Path("lib")));
    EXPECT_TRUE(Snapshot(dir.Path("data/Trash")).empty());
  }
}

// A forged journal whose temp and trash-info entries name user files, and a plan whose
// places lead out of the target: neither touches a user's file.
TEST_F(ActionsTest, AForgedJournalOrPlanTouchesNoUserFile) {
  std::string strSong = Put("lib/song.mp3", "song"), strOther = Put("lib/other.mp3", "other");
  twintone_cli::FileFacts facts = twintone_cli::FactsOf(strOther);
  auto Hex = [](const std::string& strPath) { return twintone_cli::HexBytes(strPath); };
  std::string strIds = "\"dev\": " + std::to_string(facts.nDevice) +
                       ", \"ino\": " + std::to_string(facts.nInode) + ", \"size\": 5}\n";
  std::string strIntent = "{\"step\": \"intent\", \"id\": ";
  Put("foreign.jsonl", "{\"journal\": \"twintone\", \"version\": 1, \"stamp\": \"x\"}\n" +
                           strIntent + "1, \"op\": \"copy\", \"from_hex\": \"" + Hex("/none") +
                           "\", \"to_hex\": \"" + Hex("/none2") + "\", \"temp_hex\": \"" +
                           Hex(strSong) + "\", " + strIds + strIntent +
                           "2, \"op\": \"trash\", \"from_hex\": \"" + Hex(strOther) +
                           "\", \"to_hex\": \"" + Hex("/none3") + "\", \"info_hex\": \"" +
                           Hex(strSong) + "\", " + strIds);
  FILE* pSink = std::fopen("/dev/null", "w");
  twintone_cli::UndoJournal(dir.Path("foreign.jsonl"), pSink);
  std::fclose(pSink);
  EXPECT_EQ("song", TempDir::ReadFile(strSong));
  EXPECT_EQ("other", TempDir::ReadFile(strOther));

  std::string strKeep = Put("lib/keep.mp3", "same"), strDup = Put("lib/dup.mp3", "same");
  for (std::string strRel : {"../out.mp3", "a/../../out.mp3", "/tmp/out.mp3"}) {
    std::string strPlan = dir.WriteFile("plan.json", PlanJson({{strKeep, strDup}}, "", strRel));
    CliResult result =
        RunCli({"-q", "--apply", strPlan, "--move-duplicates", dir.Path("dups"), "--journal",
                dir.Path("plan-" + std::to_string(++nRuns) + ".jsonl")});
    EXPECT_EQ(1, result.nExitCode) << strRel;
    EXPECT_EQ("same", TempDir::ReadFile(strDup)) << strRel;
  }
}

TEST_F(ActionsTest, CrossFileSystemActionsRefuseOrLeaveNoCopyBehind) {
  std::string strShm = "/dev/shm/twintone-actions-" + std::to_string(getpid());
  if (mkdir(strShm.c_str(), 0700) != 0 ||
      twintone_cli::FactsOf(strShm).nDevice == twintone_cli::FactsOf(dir.Root()).nDevice) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  std::string strFarKeep = strShm + "/keep.mp3";
  std::fclose(std::fopen(strFarKeep.c_str(), "w"));
  std::string strDup = Put("lib/d/dup.mp3", "near");
  for (bool bDryRun : {true, false}) {
    auto result = Act(GroupOf({strFarKeep, strDup}), ActionKind::kLinkHard, bDryRun);
    EXPECT_NE(std::string::npos, result.vecRecords.at(0).strError.find("across file systems"));
  }
  // A source that cannot be removed (its folder is append-only) takes its copy back
  // out, so reruns never pile copies up in the target.
  bool bLocked = std::system(("chattr +a '" + dir.Path("lib/d") + "' 2>/dev/null").c_str()) == 0;
  for (int nRun = 0; bLocked && nRun < 2; ++nRun) {
    auto result = Act(GroupOf({strFarKeep, strDup}), ActionKind::kMove, false, strShm + "/dups");
    EXPECT_EQ(MoveStatus::kFailed, result.vecRecords.at(0).status);
    EXPECT_FALSE(fs::exists(strShm + "/dups/d/dup.mp3"));
  }
  if (bLocked) std::system(("chattr -a '" + dir.Path("lib/d") + "'").c_str());
  EXPECT_EQ("near", TempDir::ReadFile(strDup));
  fs::remove_all(strShm);
}

}  // namespace
}  // namespace twintone_cli_test
