// Moving duplicates aside never loses a byte: nothing overwritten, failures reported
// and passed over, copies across file systems verified before the source goes.
#include "mover.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "fixtures/temp_dir.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::Group;
using twintone_cli::Member;
using twintone_cli::MoveStatus;

// The bytes of every regular file below strRoot; links are not followed.
std::multiset<std::string> AllContents(const std::string& strRoot) {
  std::multiset<std::string> setContents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(strRoot)) {
    if (entry.is_regular_file() && !entry.is_symlink()) {
      setContents.insert(TempDir::ReadFile(entry.path().string()));
    }
  }
  return setContents;
}

class MoverTest : public ::testing::Test {
 protected:
  Group GroupOf(const std::vector<std::string>& vecPaths) {
    Group group;
    for (const std::string& strPath : vecPaths) {
      Member member;
      member.strPath = strPath;
      group.vecMembers.push_back(member);
    }
    return group;
  }
  TempDir dir;
};

TEST_F(MoverTest, NumberedNamesGoBeforeTheExtension) {
  EXPECT_EQ("song.mp3", twintone_cli::NumberedName("song.mp3", 0));
  EXPECT_EQ("song (2).mp3", twintone_cli::NumberedName("song.mp3", 2));
  EXPECT_EQ("a.b (1).flac", twintone_cli::NumberedName("a.b.flac", 1));
  EXPECT_EQ(".hidden (1)", twintone_cli::NumberedName(".hidden", 1));
  EXPECT_EQ("noext (3)", twintone_cli::NumberedName("noext", 3));
}

TEST_F(MoverTest, TakenNamesAreNeverOverwrittenAndEveryByteSurvives) {
  for (const char* pszFolder : {"a", "b", "c", "dups"}) dir.MakeDir(pszFolder);
  std::string strKeep = dir.WriteFile("a/song.mp3", "kept copy");
  std::string strDup1 = dir.WriteFile("b/song.mp3", "first duplicate");
  std::string strDup2 = dir.WriteFile("c/song.mp3", "second duplicate");
  std::string strTaken = dir.WriteFile("dups/song.mp3", "already in the folder");
  std::multiset<std::string> setBefore = AllContents(dir.Root());

  auto vecMoves = twintone_cli::MoveDuplicates({GroupOf({strKeep, strDup1, strDup2})},
                                               dir.Path("dups"), false, nullptr);

  ASSERT_EQ(2u, vecMoves.size());
  EXPECT_EQ(MoveStatus::kMoved, vecMoves[0].status);
  EXPECT_EQ(dir.Path("dups/song (1).mp3"), vecMoves[0].strTo);
  EXPECT_EQ(dir.Path("dups/song (2).mp3"), vecMoves[1].strTo);
  EXPECT_EQ("second duplicate", TempDir::ReadFile(vecMoves[1].strTo));
  EXPECT_EQ("already in the folder", TempDir::ReadFile(strTaken));
  EXPECT_EQ("kept copy", TempDir::ReadFile(strKeep));
  EXPECT_EQ(setBefore, AllContents(dir.Root()));
}

TEST_F(MoverTest, AFailedMoveIsReportedAndTheOthersGoOn) {
  std::string strKeep = dir.WriteFile("keep.mp3", "k");
  std::string strGone = dir.Path("vanished.mp3");
  std::string strDup = dir.WriteFile("dup.mp3", "d");
  auto vecMoves = twintone_cli::MoveDuplicates({GroupOf({strKeep, strGone, strDup})},
                                               dir.Path("dups/new/deep"), false, nullptr);
  ASSERT_EQ(2u, vecMoves.size());
  EXPECT_EQ(MoveStatus::kFailed, vecMoves[0].status);
  EXPECT_EQ(std::strerror(ENOENT), vecMoves[0].strError);
  // The destination is made on demand by the command; here it does not exist, so the
  // second move fails too, and still nothing is lost.
  EXPECT_EQ(MoveStatus::kFailed, vecMoves[1].status);
  EXPECT_EQ("d", TempDir::ReadFile(strDup));

  std::string strError;
  ASSERT_TRUE(twintone_cli::EnsureDirectory(dir.Path("dups/new/deep"), &strError)) << strError;
  vecMoves = twintone_cli::MoveDuplicates({GroupOf({strKeep, strGone, strDup})},
                                          dir.Path("dups/new/deep"), false, nullptr);
  EXPECT_EQ(MoveStatus::kFailed, vecMoves[0].status);
  EXPECT_EQ(MoveStatus::kMoved, vecMoves[1].status);
}

TEST_F(MoverTest, DryRunChangesNothingAndPlansDistinctNames) {
  for (const char* pszFolder : {"a", "b", "c", "dups"}) dir.MakeDir(pszFolder);
  std::string strKeep = dir.WriteFile("a/x.flac", "1");
  std::string strDup1 = dir.WriteFile("b/x.flac", "2");
  std::string strDup2 = dir.WriteFile("c/x.flac", "3");
  auto vecMoves = twintone_cli::MoveDuplicates({GroupOf({strKeep, strDup1, strDup2})},
                                               dir.Path("dups"), true, nullptr);
  ASSERT_EQ(2u, vecMoves.size());
  EXPECT_EQ(MoveStatus::kWouldMove, vecMoves[0].status);
  EXPECT_EQ(dir.Path("dups/x.flac"), vecMoves[0].strTo);
  EXPECT_EQ(dir.Path("dups/x (1).flac"), vecMoves[1].strTo);
  EXPECT_EQ("2", TempDir::ReadFile(strDup1));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path("dups")));
}

TEST_F(MoverTest, CopyingRefusesAnExistingTargetAndRemovesTheSourceOnlyWhenDone) {
  std::string strSource = dir.WriteFile("src.ogg", std::string(200000, 'x') + "end");
  chmod(strSource.c_str(), 0640);
  std::string strTaken = dir.WriteFile("taken.ogg", "mine");
  EXPECT_EQ(EEXIST, twintone_cli::CopyThenUnlink(strSource, strTaken));
  EXPECT_EQ("mine", TempDir::ReadFile(strTaken));
  EXPECT_EQ(200003u, TempDir::ReadFile(strSource).size());

  std::string strTarget = dir.Path("copy.ogg");
  ASSERT_EQ(0, twintone_cli::CopyThenUnlink(strSource, strTarget));
  EXPECT_EQ(std::string(200000, 'x') + "end", TempDir::ReadFile(strTarget));
  EXPECT_FALSE(std::filesystem::exists(strSource));
  struct stat st;
  ASSERT_EQ(0, stat(strTarget.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
}

TEST_F(MoverTest, MovesAcrossFileSystems) {
  struct stat stTmp, stShm;
  if (stat(dir.Root().c_str(), &stTmp) != 0 || stat("/dev/shm", &stShm) != 0 ||
      stTmp.st_dev == stShm.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  std::string strSource = dir.WriteFile("far.mp3", "travelling bytes");
  std::string strTarget = "/dev/shm/twintone-mover-test-" + std::to_string(getpid()) + ".mp3";
  ASSERT_EQ(0, twintone_cli::MoveNoReplace(strSource, strTarget));
  EXPECT_EQ("travelling bytes", TempDir::ReadFile(strTarget));
  EXPECT_FALSE(std::filesystem::exists(strSource));
  std::string strSecond = dir.WriteFile("far.mp3", "other bytes");
  EXPECT_EQ(EEXIST, twintone_cli::MoveNoReplace(strSecond, strTarget));
  EXPECT_EQ("other bytes", TempDir::ReadFile(strSecond));
  unlink(strTarget.c_str());
}

}  // namespace
}  // namespace twintone_cli_test
