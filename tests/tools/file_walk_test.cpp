// The command's own walk: which files it hands over, and the reason it gives for every
// other entry it meets. Files need no audio inside: the walk only looks at names and
// identities.
#include "file_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "fixtures/temp_dir.h"

namespace twintone_cli {
namespace {

class FileWalkTest : public ::testing::Test {
 protected:
  WalkResult Walk(const std::vector<std::string>& vecPaths, bool bRecursive,
                  bool bFollowSymlinks = false, const std::string& strSkipDir = "") {
    WalkSettings settings;
    settings.bRecursive = bRecursive;
    settings.bFollowSymlinks = bFollowSymlinks;
    settings.strSkipDir = strSkipDir;
    return CollectFiles(vecPaths, settings);
  }

  // An empty file, its folders made as needed.
  std::string Touch(const std::string& strName) {
    dir.MakeDir(strName.substr(0, strName.find_last_of('/')));
    return dir.WriteFile(strName);
  }

  static std::vector<std::string> Loaded(const WalkResult& result) {
    std::vector<std::string> vecPaths;
    for (const FileToLoad& file : result.vecFiles) vecPaths.push_back(file.strPath);
    return vecPaths;
  }

  static std::map<std::string, std::string> LeftOut(const WalkResult& result) {
    std::map<std::string, std::string> mapReasons;
    for (const SkippedFile& skipped : result.vecSkipped) {
      EXPECT_TRUE(skipped.bLeftOut) << skipped.strPath;
      EXPECT_TRUE(mapReasons.emplace(skipped.strPath, skipped.strReason).second)
          << skipped.strPath << " listed twice";
    }
    return mapReasons;
  }

  TempDir dir;
};

TEST_F(FileWalkTest, EveryEntryOfAFolderIsTakenOnceOrLeftOutWithItsReason) {
  Touch("m/hard.mp3");
  ASSERT_EQ(0, link(dir.Path("m/hard.mp3").c_str(), dir.Path("m/song.MP3").c_str()));
  Touch("m/cover.jpg");
  Touch("m/.hidden.mp3");
  Touch("m/track.opus");
  Touch("m/sub/deep.flac");
  dir.Symlink("song.MP3", "m/link.flac");
  dir.Symlink("nowhere.mp3", "m/dangling.mp3");
  ASSERT_EQ(0, mkfifo(dir.Path("m/fifo.mp3").c_str(), 0600));

  WalkResult result = Walk({dir.Path("m")}, false);
  EXPECT_EQ(std::vector<std::string>({dir.Path("m/hard.mp3"), dir.Path("m/track.opus")}),
            Loaded(result));
  std::map<std::string, std::string> mapExpected = {
      {dir.Path("m/.hidden.mp3"), "hidden"},
      {dir.Path("m/cover.jpg"), "not audio"},
      {dir.Path("m/dangling.mp3"), "symbolic link"},
      {dir.Path("m/fifo.mp3"), "not a regular file"},
      {dir.Path("m/link.flac"), "symbolic link"},
      {dir.Path("m/song.MP3"), "same file as " + dir.Path("m/hard.mp3")}};
  EXPECT_EQ(mapExpected, LeftOut(result));
  EXPECT_TRUE(result.bSubfoldersNotSearched);
  EXPECT_TRUE(result.vecErrors.empty());

  // Followed, a link stands for its target: the target is the same file again, and the
  // dangling one is broken. The subfolder is entered.
  result = Walk({dir.Path("m")}, true, true);
  EXPECT_EQ(std::vector<std::string>(
                {dir.Path("m/hard.mp3"), dir.Path("m/track.opus"), dir.Path("m/sub/deep.flac")}),
            Loaded(result));
  mapExpected.erase(dir.Path("m/link.flac"));
  mapExpected[dir.Path("m/dangling.mp3")] = "broken symbolic link";
  EXPECT_EQ(mapExpected, LeftOut(result));
  EXPECT_FALSE(result.bSubfoldersNotSearched);
}

TEST_F(FileWalkTest, RecursionEntersEachFolderOnceAndSkipsHiddenOnesAndTheTarget) {
  Touch("m/a/x.flac");
  Touch("m/.git/y.mp3");
  Touch("m/dups/z.mp3");
  dir.Symlink("..", "m/a/loop");
  WalkResult result = Walk({dir.Path("m")}, true, false, dir.Path("m/dups"));
  EXPECT_EQ(std::vector<std::string>({dir.Path("m/a/x.flac")}), Loaded(result));
  EXPECT_EQ((std::map<std::string, std::string>{
                {dir.Path("m/.git"), "hidden folder"},
                {dir.Path("m/dups"), "folder duplicates are moved into"}}),
            LeftOut(result));
}

}  // namespace
}  // namespace twintone_cli
