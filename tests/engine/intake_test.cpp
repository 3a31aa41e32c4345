// Intake by path and by record: return codes, path normalisation, directory scans.
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "twintone.h"

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

  InerMusicDedupInfo* Loaded(const std::string& strPath) {
    auto found = g_pCDeDup->mapLoaded.find(strPath);
    return found == g_pCDeDup->mapLoaded.end() ? nullptr : found->second;
  }
  std::vector<std::string> LoadedPaths() {
    std::vector<std::string> vecPaths;
    for (const auto& entry : g_pCDeDup->mapLoaded) vecPaths.push_back(entry.first);
    return vecPaths;
  }

  TempDir dir_;
  std::string strScanOutput_;
};

TEST_F(IntakeTest, NullOverlongAndMissingPathsAreRefused) {
  EXPECT_EQ(AddToDedupeLists(nullptr, 0), -1);
  EXPECT_EQ(AddToDedupeLists(std::string(2049, 'a').c_str(), 0), -1);
  // 2048 bytes is accepted for checking: nothing is there.
  EXPECT_EQ(AddToDedupeLists(("/" + std::string(2047, 'a')).c_str(), 0), -3);
  EXPECT_EQ(AddToDedupeLists(dir_.Path("nothing.mp3").c_str(), 0), -3);
  EXPECT_EQ(GetLoadCounts(), 0);
}

TEST_F(IntakeTest, SingleFileKeepsUserDataAndRefusesItsSecondIntake) {
  std::string strPath = dir_.WriteFile("notes.txt", "any file is taken");
  EXPECT_EQ(AddToDedupeLists(strPath.c_str(), 7), 0);
  EXPECT_EQ(AddToDedupeLists(strPath.c_str(), 8), -2);
  ASSERT_NE(Loaded(strPath), nullptr);
  EXPECT_EQ(Loaded(strPath)->nUserData, 7);
  EXPECT_EQ(Loaded(strPath)->nUserTag, 0);
  EXPECT_EQ(Loaded(strPath)->strPath, strPath);
}

TEST_F(IntakeTest, BackslashesAndOneTrailingSeparatorAreNormalised) {
  dir_.MakeDir("a");
  std::string strPath = dir_.WriteFile("a/song.mp3", "x");
  std::string strBackslashed = strPath;
  for (char& c : strBackslashed) {
    if (c == '/') c = '\\';
  }
  // The backslashed spelling names no file on this system, but its slash form does.
  EXPECT_EQ(AddToDedupeLists(strPath.c_str(), 0), 0);
  EXPECT_EQ(AddToDedupeLists(strBackslashed.c_str(), 0), -2);
  EXPECT_EQ(GetLoadCounts(), 1);
}

TEST_F(IntakeTest, PathsOfThreeBytesOrFewerAreTakenUnchanged) {
  dir_.WriteFile("ab\\", "x");
  dir_.WriteFile("abc\\", "x");
  ASSERT_EQ(chdir(dir_.Root().c_str()), 0);
  EXPECT_EQ(AddToDedupeLists("ab\\", 0), 0);
  EXPECT_NE(Loaded("ab\\"), nullptr);
  // Four bytes: the trailing backslash goes, and "abc" names nothing.
  EXPECT_EQ(AddToDedupeLists("abc\\", 0), -3);
}

TEST_F(IntakeTest, DirectoryScanAddsItsAudioFilesWithTrailingSeparatorsHandled) {
  dir_.MakeDir("music/sub");
  dir_.WriteFile("music/b.MP3", "x");
  dir_.WriteFile("music/a.flac", "x");
  dir_.WriteFile("music/cover.jpg", "x");
  dir_.WriteFile("music/sub/c.mp3", "x");
  std::string strMusic = dir_.Path("music");
  EXPECT_EQ(Add(strMusic + "/", 5), 0);
  EXPECT_EQ(LoadedPaths(), (std::vector<std::string>{strMusic + "/a.flac", strMusic + "/b.MP3"}));
  ASSERT_EQ(GetLoadCounts(), 2);
  EXPECT_EQ(Loaded(strMusic + "/a.flac")->nUserData, 0);
  // Scanning again adds nothing and still succeeds; so does a backslash spelling.
  EXPECT_EQ(Add(strMusic + "\\"), 0);
  EXPECT_EQ(GetLoadCounts(), 2);
}

TEST_F(IntakeTest, SeveralTrailingSlashesStillGiveSingleSlashPaths) {
  dir_.MakeDir("m");
  dir_.WriteFile("m/a.mp3", "x");
  std::string strMusic = dir_.Path("m");
  EXPECT_EQ(Add(strMusic + "//"), 0);
  EXPECT_EQ(LoadedPaths(), (std::vector<std::string>{strMusic + "/a.mp3"}));
  EXPECT_EQ(strScanOutput_, "load[" + strMusic + "/a.mp3]\n");
}

TEST_F(IntakeTest, DirectoryWithoutAudioAddsNothing) {
  dir_.MakeDir("docs");
  dir_.WriteFile("docs/readme.txt", "x");
  EXPECT_EQ(Add(dir_.Path("docs")), 0);
  EXPECT_EQ(strScanOutput_, "");
  EXPECT_EQ(GetLoadCounts(), 0);
}

TEST_F(IntakeTest, HostRecordIsCopiedWithItsPathUnchanged) {
  HostRecord record;
  record.strPath = "C:\\music\\song.mp3";
  record.strTitle = "Song";
  record.strGenre = "";
  record.nUserTag = 11;
  record.nUserData = 12;
  record.fSimilarity = 0.5f;
  ASSERT_EQ(AddHostRecord(record), 0);
  EXPECT_EQ(AddHostRecord(record), -2);
  InerMusicDedupInfo* pLoaded = Loaded("C:\\music\\song.mp3");
  ASSERT_NE(pLoaded, nullptr);
  EXPECT_EQ(pLoaded->strTitle, "Song");
  EXPECT_EQ(pLoaded->strArtist, "Artist");
  EXPECT_EQ(pLoaded->strGenre, "");
  EXPECT_EQ(pLoaded->nUserTag, 11);
  EXPECT_EQ(pLoaded->nUserData, 12);
  EXPECT_EQ(pLoaded->nFileSize, 1000);
  EXPECT_EQ(pLoaded->nDuration, 200000);
  EXPECT_EQ(pLoaded->nBitrate, 128);
  EXPECT_EQ(pLoaded->fSimilarity, 0.5f);
  EXPECT_EQ(AddToDedupeListsByInfo(nullptr), -1);
}

TEST_F(IntakeTest, NullTextPointersInAHostRecordAreEmptyTexts) {
  tagInMusicDedupInfo info{};
  info.pszPath = "/somewhere/x.mp3";
  ASSERT_EQ(AddToDedupeListsByInfo(&info), 0);
  EXPECT_EQ(Loaded("/somewhere/x.mp3")->strTitle, "");
}

}  // namespace
