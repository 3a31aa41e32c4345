#include "support/tinydir.h"

#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
