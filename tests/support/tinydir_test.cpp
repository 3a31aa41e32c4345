#include "support/tinydir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

class TinydirTest : public ::testing::Test {
 protected:
  // Scans pszPath into vecFiles (appending) and keeps what was printed in strPrinted.
  int Scan(const char* pszPath) {
    ::testing::internal::CaptureStdout();
    int nRet = GetDirAllAudioFiles(pszPath, &vecFiles);
    strPrinted = ::testing::internal::GetCapturedStdout();
    return nRet;
  }

  TempDir tmp;
  std::vector<std::string> vecFiles;
  std::string strPrinted;
};

TEST_F(TinydirTest, DirectoryScanAppendsOnlyRegularAudioFilesDirectlyInside) {
  std::vector<std::string> vecExpected;
  for (const char* pszName : {"Song.MP3", "a.aac", "b.WV", "c.AiFf", ".mp3", "real.flac"}) {
    vecExpected.push_back(tmp.WriteFile(pszName, "x"));
  }
  tmp.MakeDir("sub");
  tmp.MakeDir("music.mp3");
  for (const char* pszName : {"cover.jpg", "ends.in.dot.", "noextension", "a.mp33", "a.m4",
                              "a.flac.bak", "sub/b.flac"}) {
    tmp.WriteFile(pszName);
  }
  vecExpected.push_back(tmp.Symlink(tmp.Path("real.flac"), "link.flac"));
  tmp.Symlink(tmp.Path("sub"), "dirlink.ogg");
  tmp.Symlink(tmp.Path("missing.mp3"), "dangling.mp3");
  vecFiles = {"/earlier/one.mp3"};

  EXPECT_EQ(Scan((tmp.Root() + "//").c_str()), 0);
  ASSERT_EQ("/earlier/one.mp3", vecFiles.at(0));
  std::string strLines;
  for (size_t i = 1; i < vecFiles.size(); ++i) strLines += "load[" + vecFiles[i] + "]\n";
  EXPECT_EQ(strPrinted, strLines);
  std::sort(vecFiles.begin() + 1, vecFiles.end());
  std::sort(vecExpected.begin(), vecExpected.end());
  EXPECT_EQ(std::vector<std::string>(vecFiles.begin() + 1, vecFiles.end()), vecExpected);
}

TEST_F(TinydirTest, UnreadableDirectoriesYieldNothingAndPrintNothing) {
  vecFiles = {"kept"};
  for (const std::string& strPath : {tmp.MakeDir("empty"), tmp.Path("missing"),
                                     tmp.WriteFile("a.mp3"), std::string(),
                                     "/" + std::string(1100, 'x')}) {
    EXPECT_EQ(Scan(strPath.c_str()), 0);
    EXPECT_EQ(vecFiles, std::vector<std::string>{"kept"});
    EXPECT_EQ(strPrinted, "");
  }
  EXPECT_EQ(Scan(nullptr), 0);
  EXPECT_EQ(GetDirAllAudioFiles(tmp.Root().c_str(), nullptr), 0);
}

TEST_F(TinydirTest, EntriesWhosePathReaches1024BytesAreSkipped) {
  // A folder whose path is 1000 bytes long, then names that bring the entry path to
  // 1023 bytes (listed) and to 1024 bytes (skipped).
  std::string strRel;
  while (tmp.Path(strRel).size() < 1000 - 200) strRel += std::string(150, 'd') + "/";
  strRel += std::string(1000 - tmp.Path(strRel).size(), 'e');
  std::string strDir = tmp.MakeDir(strRel);
  ASSERT_EQ(strDir.size(), 1000u);
  std::string strFits = tmp.WriteFile(strRel + "/" + std::string(18, 'f') + ".mp3");
  tmp.WriteFile(strRel + "/" + std::string(19, 'g') + ".mp3");
  ASSERT_EQ(strFits.size(), 1023u);
  Scan(strDir.c_str());
  EXPECT_EQ(vecFiles, std::vector<std::string>{strFits});
}

// The scans above cover a folder given with trailing slashes; the root keeps its own.
TEST(TinydirWalkerTest, TheRootKeepsItsSlashAndReadingPastTheEndFails) {
  tinydir_dir dir;
  tinydir_file file;
  ASSERT_EQ(tinydir_open(&dir, "/"), 0);
  ASSERT_EQ(tinydir_readfile(&dir, &file), 0);
  EXPECT_EQ(std::string(file.path), std::string("//") + file.name);
  while (dir.has_more) ASSERT_EQ(tinydir_next(&dir), 0);
  EXPECT_TRUE(tinydir_readfile(&dir, &file) == -1 && errno == ENOENT);
  tinydir_close(&dir);
  EXPECT_TRUE(dir.dir_handle == nullptr && dir.path[0] == '\0');
}

}  // namespace
