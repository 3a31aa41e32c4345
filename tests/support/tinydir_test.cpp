#include "support/tinydir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

class TinydirTest : public ::testing::Test {
 protected:
  // Scans strPath into vecFiles (appending) and keeps what was printed in strPrinted.
  int Scan(const char* pszPath) {
    ::testing::internal::CaptureStdout();
    int nRet = GetDirAllAudioFiles(pszPath, &vecFiles);
    strPrinted = ::testing::internal::GetCapturedStdout();
    return nRet;
  }
  int Scan(const std::string& strPath) { return Scan(strPath.c_str()); }

  TempDir tmp;
  std::vector<std::string> vecFiles;
  std::string strPrinted;
};

TEST_F(TinydirTest, DirectoryScanAppendsOnlyRegularAudioFilesDirectlyInside) {
  std::vector<std::string> vecExpected;
  for (const char* pszName : {"Song.MP3", "a.aac", "b.WV", "c.AiFf", ".mp3", "real.flac"}) {
    vecExpected.push_back(tmp.WriteFile(pszName, "x"));
  }
  for (const char* pszName : {"cover.jpg", "ends.in.dot.", "noextension", "a.mp33", "a.m4",
                              "a.flac.bak"}) {
    tmp.WriteFile(pszName);
  }
  tmp.MakeDir("sub");
  tmp.WriteFile("sub/b.flac");
  tmp.MakeDir("music.mp3");
  vecExpected.push_back(tmp.Symlink(tmp.Path("real.flac"), "link.flac"));
  tmp.Symlink(tmp.Path("sub"), "dirlink.ogg");
  tmp.Symlink(tmp.Path("missing.mp3"), "dangling.mp3");
  vecFiles = {"/earlier/one.mp3"};

  EXPECT_EQ(Scan(tmp.Root() + "//"), 0);
  ASSERT_FALSE(vecFiles.empty());
  EXPECT_EQ(vecFiles[0], "/earlier/one.mp3");
  std::string strLines;
  for (size_t i = 1; i < vecFiles.size(); ++i) strLines += "load[" + vecFiles[i] + "]\n";
  EXPECT_EQ(strPrinted, strLines);
  std::vector<std::string> vecNew(vecFiles.begin() + 1, vecFiles.end());
  std::sort(vecNew.begin(), vecNew.end());
  std::sort(vecExpected.begin(), vecExpected.end());
  EXPECT_EQ(vecNew, vecExpected);
}

TEST_F(TinydirTest, UnreadableDirectoriesYieldNothingAndPrintNothing) {
  vecFiles = {"kept"};
  for (const std::string& strPath : {tmp.MakeDir("empty"), tmp.Path("missing"),
                                     tmp.WriteFile("a.mp3"), std::string(),
                                     "/" + std::string(1100, 'x')}) {
    EXPECT_EQ(Scan(strPath), 0);
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
  Scan(strDir);
  EXPECT_EQ(vecFiles, std::vector<std::string>{strFits});
}

TEST_F(TinydirTest, OpenRejectsBadArgumentsWithErrno) {
  tinydir_dir dir;
  EXPECT_EQ(tinydir_open(&dir, nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
  const std::vector<std::tuple<tinydir_dir*, std::string, int>> kCases = {
      {&dir, "", EINVAL},
      {nullptr, "/tmp", EINVAL},
      {&dir, "/" + std::string(1023, 'x'), ENAMETOOLONG},
      {&dir, tmp.Path("missing"), ENOENT}};
  for (const auto& c : kCases) {
    errno = 0;
    EXPECT_EQ(tinydir_open(std::get<0>(c), std::get<1>(c).c_str()), -1);
    EXPECT_EQ(errno, std::get<2>(c)) << std::get<1>(c).substr(0, 20);
  }
  EXPECT_EQ(dir.has_more, 0);
  EXPECT_EQ(dir.dir_handle, nullptr);
}

TEST_F(TinydirTest, WalkerVisitsEveryEntryOnceThenReportsTheEnd) {
  tmp.WriteFile("one");
  tmp.MakeDir("two");
  tinydir_dir dir;
  ASSERT_EQ(tinydir_open(&dir, (tmp.Root() + "//").c_str()), 0);
  EXPECT_EQ(std::string(dir.path), tmp.Root());
  std::vector<std::string> vecNames;
  while (dir.has_more) {
    tinydir_file file;
    ASSERT_EQ(tinydir_readfile(&dir, &file), 0);
    EXPECT_EQ(file.is_regular, std::string(file.name) == "one" ? 1 : 0) << file.name;
    EXPECT_EQ(std::string(file.path), tmp.Root() + "/" + file.name);
    vecNames.push_back(file.name);
    ASSERT_EQ(tinydir_next(&dir), 0);
  }
  std::sort(vecNames.begin(), vecNames.end());
  EXPECT_EQ(vecNames, (std::vector<std::string>{".", "..", "one", "two"}));
  tinydir_file file;
  EXPECT_EQ(tinydir_readfile(&dir, &file), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(tinydir_next(&dir), -1);
  EXPECT_EQ(errno, ENOENT);
  tinydir_close(&dir);
  EXPECT_EQ(dir.dir_handle, nullptr);
  EXPECT_EQ(dir.path[0], '\0');

  // The root keeps its slash, so entry paths there start with two.
  ASSERT_EQ(tinydir_open(&dir, "/"), 0);
  EXPECT_STREQ(dir.path, "/");
  ASSERT_EQ(tinydir_readfile(&dir, &file), 0);
  EXPECT_EQ(std::string(file.path), std::string("//") + file.name);
  tinydir_close(&dir);
}

}  // namespace
