// Acting on duplicates: moves keep their folder paths, the check just before each file
// leaves alone what is not the scanned duplicate, a dry run fails where the action
// fails, and --undo takes every action back to the last byte.
#include "act/actions.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "cli_runner.h"
#include "common/file_ops.h"
#include "act/mover.h"
#include "common/text_escape.h"
#include "act/undo.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::ActionKind;
using twintone_cli::MoveStatus;
namespace fs = std::filesystem;

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_DATA_HOME", dir.MakeDir("data").c_str(), 1); }
  void TearDown() override {
    for (const std::string& strMount : vecMounts) std::system(("umount " + strMount).c_str());
  }

  // Writes dir/strName, making its folders first.
  std::string Put(const std::string& strName, const std::string& strBytes = "") {
    fs::create_directories(fs::path(dir.Path(strName)).parent_path());
    return dir.WriteFile(strName, strBytes);
  }

  // A fresh tmpfs at dir/strName; false when the test may not mount one.
  bool Mount(const std::string& strName) {
    std::string strDir = "'" + dir.MakeDir(strName) + "'";
    if (std::system(("mount -t tmpfs tmpfs " + strDir + " 2>/dev/null").c_str()) != 0) return false;
    return vecMounts.push_back(strDir), true;
  }

  // A group of the files at vecPaths as the scan sees them now.
  static twintone_cli::Group GroupOf(const std::vector<std::string>& vecPaths) {
    twintone_cli::Group group;
    for (const std::string& strPath : vecPaths) {
      twintone_cli::FileFacts facts = twintone_cli::FactsOf(strPath);
      group.vecMembers.emplace_back();
      twintone_cli::Member& member = group.vecMembers.back();
      member.strPath = strPath, member.nDevice = facts.nDevice, member.nInode = facts.nInode;
      member.nSizeBytes = facts.nSize, member.nModifiedNs = facts.nModifiedNs;
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

  TempDir dir;
  std::vector<std::string> vecMounts;
  int nRuns = 0;
};

// Each action against the same library, with a name already taken in the target and
// another in the trash: a dry run names the same places and changes nothing, the action
// does what it says, and undo (twice: the second finds everything in place) puts every
// byte back.
TEST_F(ActionsTest, EachActionIsUndoneToTheLastByte) {
  EXPECT_EQ(".hidden (3)", twintone_cli::NumberedName(".hidden", 3));
  std::string strKeep = Put("lib/a/my song.mp3", "kept");
  std::vector<std::string> vecDups = {Put("lib/b/my song.mp3", "copy b"),
                                      Put("lib/c/d/my song.mp3", "copy c/d"),
                                      Put("loose/given.mp3", "given by name")};
  Put("dups/b/my song.mp3", "already there");
  Put("data/Trash/info/my song.mp3.trashinfo", "another file's record");
  auto mapBefore = Snapshot(dir.Root());
  auto group = GroupOf({strKeep, vecDups[0], vecDups[1], vecDups[2]});
  // Where each duplicate goes, below the test's folder; trashed or linked, the original
  // waits in the trash.
  const std::vector<std::string> kTrashed = {"data/Trash/files/my song (1).mp3",
                                             "data/Trash/files/my song (2).mp3",
                                             "data/Trash/files/given.mp3"};
  const std::vector<std::string> kKept(3, "lib/a/my song.mp3");
  const std::map<ActionKind, std::vector<std::string>> kTo = {
      {ActionKind::kMove, {"dups/b/my song (1).mp3", "dups/c/d/my song.mp3", "dups/given.mp3"}},
      {ActionKind::kTrash, kTrashed},
      {ActionKind::kLinkHard, kKept},
      {ActionKind::kLinkSymbolic, kKept}};
  for (const auto& [kind, vecTo] : kTo) {
    SCOPED_TRACE(twintone_cli::ActionName(kind));
    twintone_cli::ActionResult result;
    for (bool bDryRun : {true, false}) {
      result = Act(group, kind, bDryRun);
      std::vector<std::string> vecSeen;  // the place, and the error of a step not taken
      for (const auto& record : result.vecRecords) {
        bool bTaken = record.status == (bDryRun ? MoveStatus::kWouldMove : MoveStatus::kMoved);
        vecSeen.push_back(record.strTo.substr(dir.Root().size() + 1) +
                          (bTaken ? "" : " not taken: " + record.strError));
      }
      EXPECT_EQ(vecTo, vecSeen);
      EXPECT_TRUE(!bDryRun || mapBefore == Snapshot(dir.Root()));
    }
    for (size_t i = 0; i < 3; ++i) {
      std::string strDup = vecDups[i];
      std::string strWaits = dir.Path(kind == ActionKind::kMove ? vecTo[i] : kTrashed[i]);
      EXPECT_EQ(mapBefore[strDup], TempDir::ReadFile(strWaits));
      if (kind == ActionKind::kMove) continue;
      std::string strInfo = TempDir::ReadFile(dir.Path("data/Trash/info/") +
                                              FileName(strWaits) + ".trashinfo");
      for (size_t n; (n = strDup.find(' ')) != std::string::npos;) strDup.replace(n, 1, "%20");
      EXPECT_EQ(0u, strInfo.find("[Trash Info]\nPath=" + strDup + "\nDeletionDate=20"));
      twintone_cli::FileFacts now = twintone_cli::FactsOf(vecDups[i]);
      EXPECT_EQ(kind != ActionKind::kTrash, now.bExists);
      EXPECT_EQ(kind == ActionKind::kLinkHard, now.nInode == twintone_cli::FactsOf(strKeep).nInode);
      EXPECT_EQ(kind == ActionKind::kLinkSymbolic,
                fs::is_symlink(vecDups[i]) && fs::read_symlink(vecDups[i]) == strKeep);
    }
    for (int nRun = 0; nRun < 2; ++nRun) {
      FILE* pSink = std::fopen("/dev/null", "w");
      twintone_cli::UndoOutcome outcome = twintone_cli::UndoJournal(result.strJournal, pSink);
      std::fclose(pSink);
      EXPECT_TRUE(outcome.bRead && outcome.nProblems == 0) << outcome.strError;
      EXPECT_TRUE(nRun == 0 || outcome.nRestored == 0);
    }
    fs::remove(result.strJournal);
    EXPECT_EQ(mapBefore, Snapshot(dir.Root()));
    EXPECT_FALSE(fs::exists(dir.Path("dups/c")));  // folders it made are gone
  }
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
      // The kept copy cut short, or rewritten to the same size, while the run went on.
      {kNothing, [](auto& k, auto&) { truncate(k.c_str(), 0); }, "changed size since the scan"},
      {kNothing,
       [](auto& k, auto&) {
         struct timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 1}};
         utimensat(AT_FDCWD, k.c_str(), times, 0);
       },
       "was modified since the scan"},
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
  group.bUnsure = false;  // a plan keeping the copy that stops early
  group.vecMembers[0].strPassedOver = "decoding stopped early";
  EXPECT_EQ(MoveStatus::kSkipped, Act(group, ActionKind::kMove).vecRecords.at(0).status);
}

// A folder that cannot let go of its file (a read-only mount, as permissions do not
// stop root): the action fails, and so does its dry run.
TEST_F(ActionsTest, ADryRunFailsWhereTheActionFails) {
  bool bRoot = geteuid() == 0;
  if (bRoot && !Mount("lib/locked")) GTEST_SKIP() << "cannot mount a tmpfs";
  std::string strLocked = dir.Path("lib/locked");
  auto group = GroupOf({Put("lib/keep.mp3", "k"), Put("lib/locked/dup.mp3", "d")});
  bRoot ? std::system(("mount -o remount,ro '" + strLocked + "'").c_str())
        : chmod(strLocked.c_str(), 0555);
  for (ActionKind kind : {ActionKind::kMove, ActionKind::kTrash}) {
    for (bool bDryRun : {true, false}) {
      EXPECT_EQ(MoveStatus::kFailed, Act(group, kind, bDryRun).vecRecords.at(0).status) << bDryRun;
    }
  }
  if (!bRoot) chmod(strLocked.c_str(), 0755);
}

// A journal that cannot grow (a full disk, here a file size limit): the step it could
// not record is not taken, so nothing is where undo cannot find it.
TEST_F(ActionsTest, NothingMovesThatTheJournalCouldNotRecord) {
  dir.MakeDir("data/Trash/files"), dir.MakeDir("data/Trash/info");
  auto group = GroupOf({Put("lib/keep.mp3", "k"), Put("lib/dup.mp3", "d")});
  struct rlimit full, old;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
  full = old, full.rlim_cur = 700;  // room for a trash info file and the journal's header and scope
  signal(SIGXFSZ, SIG_IGN);
  for (ActionKind kind : {ActionKind::kMove, ActionKind::kTrash}) {
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &full));
    auto result = Act(group, kind);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &old));
    EXPECT_EQ(MoveStatus::kFailed, result.vecRecords.at(0).status);
    EXPECT_EQ("d", TempDir::ReadFile(dir.Path("lib/dup.mp3"))) << twintone_cli::ActionName(kind);
  }
  signal(SIGXFSZ, SIG_DFL);
}

// On other file systems (fresh tmpfs mounts, so only as root): a file written to while
// it is copied across stays where it is with every write, and no copy is left; the
// first files of two mounts have one inode number, so only the device tells the
// duplicate from the kept copy, and a hard link cannot join them while a move can.
TEST_F(ActionsTest, AcrossFileSystems) {
  if (geteuid() != 0 || !Mount("far") || !Mount("a") || !Mount("b")) GTEST_SKIP() << "cannot mount";
  std::string strFar = dir.Path("far");
  auto group = GroupOf({Put("lib/keep.mp3", "k"), Put("lib/dup.mp3", std::string(16 << 20, 'd'))});
  std::atomic<bool> bMoved{false};
  std::thread writer([&] {  // writes once the copy has begun
    int fd = open(dir.Path("lib/dup.mp3").c_str(), O_WRONLY);
    for (int n = 0; !bMoved.load() && fd >= 0; usleep(100)) {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(strFar + "/dups", error)) {
        if (entry.path().filename().string().rfind(".twintone-partial", 0) == 0) {
          n += pwrite(fd, "w", 1, n) == 1;
        }
      }
    }
    if (fd >= 0) close(fd);
  });
  auto result = Act(group, ActionKind::kMove, false, strFar + "/dups");
  bMoved = true;
  writer.join();
  EXPECT_EQ(MoveStatus::kFailed, result.vecRecords.at(0).status);
  EXPECT_NE(std::string::npos, result.vecRecords[0].strError.find("changed while it was copied"));
  EXPECT_TRUE(twintone_cli::FactsOf(dir.Path("lib/dup.mp3")).bExists);
  EXPECT_TRUE(Snapshot(strFar).empty());

  auto twins = GroupOf({Put("a/keep.mp3", "k"), Put("b/dup.mp3", "d")});
  EXPECT_EQ(twins.vecMembers[0].nInode, twins.vecMembers[1].nInode);
  for (bool bDryRun : {true, false}) {
    auto linked = Act(twins, ActionKind::kLinkHard, bDryRun);
    EXPECT_NE(std::string::npos, linked.vecRecords.at(0).strError.find("across file systems"));
  }
  EXPECT_EQ(MoveStatus::kMoved, Act(twins, ActionKind::kMove).vecRecords.at(0).status);
  EXPECT_EQ("d", TempDir::ReadFile(dir.Path("dups/dup.mp3")));
}

// A trash at the top of another file system is used only when it is the user's own,
// a real folder closed to others; any other is left alone and the file stays.
TEST_F(ActionsTest, OnlyTheUsersOwnPrivateTrashIsUsed) {
  if (geteuid() != 0 || !Mount("top")) GTEST_SKIP() << "cannot mount";
  std::string strTrash = dir.Path("top/.Trash-0");
  const std::vector<std::pair<const char*, std::function<void()>>> kTrashes = {
      {"another user's",
       [&] { mkdir(strTrash.c_str(), 0700), chown(strTrash.c_str(), 1234, 1234); }},
      {"open to others", [&] { mkdir(strTrash.c_str(), 0755); }},
      {"a link", [&] { symlink(dir.MakeDir("elsewhere").c_str(), strTrash.c_str()); }},
      {"private", [&] { mkdir(strTrash.c_str(), 0700); }}};
  for (const auto& [pszTrash, pfnMake] : kTrashes) {
    SCOPED_TRACE(pszTrash);
    pfnMake();
    auto result = Act(GroupOf({Put("top/keep.mp3", "k"), Put("top/dup.mp3", "d")}),
                      ActionKind::kTrash);
    bool bUsed = std::string(pszTrash) == "private";
    EXPECT_EQ(bUsed ? MoveStatus::kMoved : MoveStatus::kFailed, result.vecRecords.at(0).status);
    EXPECT_EQ(!bUsed, fs::exists(dir.Path("top/dup.mp3")));
    EXPECT_EQ(bUsed, fs::exists(strTrash + "/files/dup.mp3"));
    EXPECT_FALSE(fs::exists(dir.Path("elsewhere/files")));
    fs::remove_all(strTrash);
  }
}

}  // namespace
}  // namespace twintone_cli_test
