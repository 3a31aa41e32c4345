// Moving duplicates aside never loses a byte: nothing overwritten, failures reported
// and passed over, copies across file systems verified before the source goes.
#include "mover.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "cli_runner.h"
#include "fixtures/temp_dir.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::MoveStatus;

class MoverTest : public ::testing::Test {
 protected:
  // Moves all but the first of vecPaths, as one group, into dir/strDest.
  std::vector<twintone_cli::MoveRecord> Move(const std::vector<std::string>& vecPaths,
                                             const std::string& strDest, bool bDryRun = false) {
    twintone_cli::Group group;
    group.vecMembers.resize(vecPaths.size());
    for (size_t i = 0; i < vecPaths.size(); ++i) group.vecMembers[i].strPath = vecPaths[i];
    return twintone_cli::MoveDuplicates({group}, dir.Path(strDest), bDryRun, nullptr);
  }
  TempDir dir;
};

TEST_F(MoverTest, NumberedNamesGoBeforeTheExtension) {
  const std::vector<std::tuple<std::string, int, std::string>> kCases = {
      {"song.mp3", 0, "song.mp3"}, {"song.mp3", 2, "song (2).mp3"},
      {"a.b.flac", 1, "a.b (1).flac"}, {".hidden", 1, ".hidden (1)"}, {"noext", 3, "noext (3)"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(std::get<2>(c), twintone_cli::NumberedName(std::get<0>(c), std::get<1>(c)));
  }
}

TEST_F(MoverTest, TakenNamesAreNeverOverwrittenAndEveryByteSurvives) {
  for (const char* pszFolder : {"a", "b", "c", "dups"}) dir.MakeDir(pszFolder);
  std::vector<std::string> vecPaths = {dir.WriteFile("a/song.mp3", "kept copy"),
                                       dir.WriteFile("b/song.mp3", "first duplicate"),
                                       dir.WriteFile("c/song.mp3", "second duplicate")};
  dir.WriteFile("dups/song.mp3", "already in the folder");
  auto mapBefore = Snapshot(dir.Root());
  // A dry run plans the same distinct names and touches nothing.
  for (bool bDryRun : {true, false}) {
    auto vecMoves = Move(vecPaths, "dups", bDryRun);
    ASSERT_EQ(2u, vecMoves.size());
    EXPECT_EQ(bDryRun ? MoveStatus::kWouldMove : MoveStatus::kMoved, vecMoves[1].status);
    EXPECT_EQ(dir.Path("dups/song (1).mp3"), vecMoves[0].strTo);
    EXPECT_EQ(dir.Path("dups/song (2).mp3"), vecMoves[1].strTo);
  }
  auto mapAfter = Snapshot(dir.Root());
  EXPECT_EQ(Contents(mapBefore), Contents(mapAfter));
  EXPECT_EQ("second duplicate", mapAfter[dir.Path("dups/song (2).mp3")]);
  EXPECT_EQ("already in the folder", mapAfter[dir.Path("dups/song.mp3")]);
  EXPECT_EQ("kept copy", mapAfter[vecPaths[0]]);
}

TEST_F(MoverTest, AFailedMoveIsReportedAndTheOthersGoOn) {
  std::vector<std::string> vecPaths = {dir.WriteFile("keep.mp3", "k"), dir.Path("vanished.mp3"),
                                       dir.WriteFile("dup.mp3", "d")};
  // The command makes the folder beforehand; without it every move fails, losing nothing.
  EXPECT_EQ(MoveStatus::kFailed, Move(vecPaths, "dups/new").at(1).status);
  EXPECT_EQ("d", TempDir::ReadFile(vecPaths[2]));

  std::string strError;
  ASSERT_TRUE(twintone_cli::EnsureDirectory(dir.Path("dups/new"), &strError)) << strError;
  auto vecMoves = Move(vecPaths, "dups/new");
  EXPECT_EQ(MoveStatus::kFailed, vecMoves[0].status);
  EXPECT_EQ(std::strerror(ENOENT), vecMoves[0].strError);
  EXPECT_EQ(MoveStatus::kMoved, vecMoves[1].status);
}

TEST_F(MoverTest, CopiesRefuseATakenTargetAndRemoveTheSourceOnlyWhenDone) {
  const std::string strBytes = std::string(200000, 'x') + "end";
  std::string strSource = dir.WriteFile("src.ogg", strBytes);
  chmod(strSource.c_str(), 0640);
  EXPECT_EQ(EEXIST, twintone_cli::CopyThenUnlink(strSource, dir.WriteFile("taken.ogg", "mine")));
  EXPECT_EQ("mine", TempDir::ReadFile(dir.Path("taken.ogg")));
  EXPECT_EQ(strBytes, TempDir::ReadFile(strSource));
  ASSERT_EQ(0, twintone_cli::CopyThenUnlink(strSource, dir.Path("copy.ogg")));
  EXPECT_EQ(strBytes, TempDir::ReadFile(dir.Path("copy.ogg")));
  EXPECT_FALSE(std::filesystem::exists(strSource));
  struct stat st;
  ASSERT_EQ(0, stat(dir.Path("copy.ogg").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);

  // The same through a move to another file system, where rename cannot work.
  struct stat stShm;
  if (stat("/dev/shm", &stShm) != 0 || stShm.st_dev == st.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  std::string strFar = "/dev/shm/twintone-mover-test-" + std::to_string(getpid()) + ".ogg";
  ASSERT_EQ(0, twintone_cli::MoveNoReplace(dir.Path("copy.ogg"), strFar));
  EXPECT_EQ(strBytes, TempDir::ReadFile(strFar));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("copy.ogg")));
  EXPECT_EQ(EEXIST, twintone_cli::MoveNoReplace(dir.Path("taken.ogg"), strFar));
  EXPECT_EQ("mine", TempDir::ReadFile(dir.Path("taken.ogg")));
  unlink(strFar.c_str());
}

}  // namespace
}  // namespace twintone_cli_test
