// Intake by path and by record: return codes, path normalisation, directory scans.
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"

namespace {

class IntakeTest : public ::testing::Test {
 protected:
  // AddToDedupeLists with standard output captured: directory scans print one
  // "load[...]" line per file found.
  int Add(const std::string& strPath, int nUserData = 0) {
    testing::internal::CaptureStdout();
    int nResult = AddToDedupeLists(strPath.c_str(), nUserData);
    strScanOutput_ = testing::internal::GetCapturedStdout();
    return nResult;
  }
  const InerMusicDedupInfo& Loaded(const std::string& strPath) {
    return *g_pCDeDup->mapLoaded.at(strPath);
  }
  std::vector<std::string> LoadedPaths() {
    std::vector<std::string> vecPaths;
    for (const auto& entry : g_pCDeDup->mapLoaded) vecPaths.push_back(entry.first);
    return vecPaths;
  }

  TempDir dir_;
  std::string strScanOutput_;
};

TEST_F(IntakeTest, PathsAreCheckedAndNormalisedBeforeTheyAreTaken) {
  dir_.MakeDir("a");
  const std::string strSong = dir_.WriteFile("a/song.mp3", "x");
  std::string strBackslashed = strSong;
  for (char& c : strBackslashed) c = c == '/' ? '\\' : c;
  dir_.WriteFile("ab\\", "x");
  dir_.WriteFile("abc\\", "x");
  ASSERT_EQ(chdir(dir_.Root().c_str()), 0);
  const std::pair<std::string, int> cases[] = {
      {std::string(2049, 'a'), -1},
      {"/" + std::string(2047, 'a'), -3},  // 2048 bytes are looked up: nothing is there
      {dir_.Path("nothing.mp3"), -3},
      {strSong, 0},
      {strBackslashed, -2},  // its slash form is the same file
      {"ab\\", 0},           // three bytes or fewer are taken unchanged
      {"abc\\", -3},         // four: the trailing backslash goes, "abc" is nothing
  };
  for (const auto& c : cases) EXPECT_EQ(Add(c.first, 7), c.second) << c.first;
  EXPECT_EQ(AddToDedupeLists(nullptr, 0), -1);
  EXPECT_EQ(LoadedPaths(), (std::vector<std::string>{strSong, "ab\\"}));
  EXPECT_EQ(Loaded(strSong).nUserData, 7);
}

// Which entries a scan takes is the folder reader's (tinydir_test); intake takes them
// with user data 0, once, under any spelling of the folder.
TEST_F(IntakeTest, DirectoryScanAddsItsAudioFilesOnce) {
  dir_.MakeDir("music/sub");
  dir_.WriteFile("music/b.MP3", "x");
  dir_.WriteFile("music/a.flac", "x");
  dir_.WriteFile("music/sub/c.mp3", "x");
  const std::string strMusic = dir_.Path("music");
  EXPECT_EQ(Add(strMusic + "//", 5), 0);
  EXPECT_EQ(LoadedPaths(), (std::vector<std::string>{strMusic + "/a.flac", strMusic + "/b.MP3"}));
  EXPECT_NE(strScanOutput_.find("load[" + strMusic + "/a.flac]\n"), std::string::npos);
  EXPECT_EQ(Loaded(strMusic + "/a.flac").nUserData, 0);
  EXPECT_EQ(Add(strMusic + "\\"), 0);  // found again, taken no second time
  EXPECT_EQ(GetLoadCounts(), 2);
}

TEST_F(IntakeTest, HostRecordIsCopiedWithItsPathUnchanged) {
  HostRecord record;
  record.strPath = "C:\\music\\song.mp3";
  record.nUserTag = 11;
  record.nUserData = 12;
  record.fSimilarity = 0.5f;
  ASSERT_EQ(AddHostRecord(record), 0);
  EXPECT_EQ(AddHostRecord(record), -2);
  const InerMusicDedupInfo& loaded = Loaded("C:\\music\\song.mp3");
  EXPECT_EQ(loaded.strTitle + "|" + loaded.strArtist + "|" + loaded.strGenre, "Title|Artist|");
  EXPECT_EQ(std::make_tuple(loaded.nUserTag, loaded.nUserData, loaded.nFileSize,
                            loaded.nDuration, loaded.nBitrate, loaded.fSimilarity),
            std::make_tuple(11, 12, 1000, 200000, 128, 0.5f));
  tagInMusicDedupInfo info{};  // null texts are empty texts
  info.pszPath = "/somewhere/x.mp3";
  ASSERT_EQ(AddToDedupeListsByInfo(&info), 0);
  EXPECT_EQ(Loaded("/somewhere/x.mp3").strTitle, "");
  EXPECT_EQ(AddToDedupeListsByInfo(nullptr), -1);
}

}  // namespace
