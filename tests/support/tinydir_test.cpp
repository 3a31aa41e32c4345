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
  // Scans strPath into vecFiles (appending) and keeps what was printed in strPrinted.
  int Scan(const char* pszPath) {
    ::testing::internal::CaptureStdout();
    int nRet = GetDirAllAudioFiles(pszPath, &vecFiles);
    strPrinted = ::testing::internal::GetCapturedStdout();
    return nRet;
  }
  int Scan(const std::string& strPath) { return Scan(strPath.c_str()); }

  // The printed lines expected for vecFiles[nFrom..], in list order.
  std::string LoadLines(size_t nFrom = 0) const {
    std::string strOut;
    for (size_t i = nFrom; i < vecFiles.size(); ++i) strOut += "load[" + vecFiles[i] + "]\n";
    return strOut;
  }

  std::vector<std::string> Sorted() const {
    std::vector<std::string> vecOut = vecFiles;
    std::sort(vecOut.begin(), vecOut.end());
    return vecOut;
  }

  TempDir tmp;
  std::vector<std::string> vecFiles;
  std::string strPrinted;
};

TEST_F(TinydirTest, DirectoryScanListsOnlyRegularAudioFilesDirectlyInside) {
  tmp.WriteFile("Song.MP3", "x");
  tmp.WriteFile("cover.jpg");
  tmp.WriteFile("notes.txt");
  tmp.WriteFile("ends.in.dot.");
  tmp.WriteFile("noextension");
  tmp.WriteFile(".mp3");
  tmp.MakeDir("sub");
  tmp.WriteFile("sub/b.flac");
  tmp.MakeDir("music.mp3");
  std::string strTarget = tmp.WriteFile("real.flac");
  tmp.Symlink(strTarget, "link.flac");
  tmp.Symlink(tmp.Path("sub"), "dirlink.ogg");
  tmp.Symlink(tmp.Path("missing.mp3"), "dangling.mp3");

  EXPECT_EQ(Scan(tmp.Root()), 0);
  const std::vector<std::string> vecExpected = {tmp.Path(".mp3"), tmp.Path("Song.MP3"),
                                                tmp.Path("link.flac"), tmp.Path("real.flac")};
  EXPECT_EQ(Sorted(), vecExpected);
  EXPECT_EQ(strPrinted, LoadLines());
}

TEST_F(TinydirTest, DirectoryScanTakesEverySupportedExtensionInAnyCase) {
  const std::vector<std::string> vecExt = {"aac", "alac", "ac3", "aif", "aiff", "ape", "flac",
                                           "m4a", "mp4",  "mp3", "mp2", "mp1",  "mpa", "mpc",
                                           "ogg", "tta",  "wav", "wma", "wv"};
  std::vector<std::string> vecExpected;
  for (const std::string& strExt : vecExt) {
    std::string strUpper = strExt;
    std::transform(strUpper.begin(), strUpper.end(), strUpper.begin(), ::toupper);
    vecExpected.push_back(tmp.WriteFile("lower." + strExt));
    vecExpected.push_back(tmp.WriteFile("UPPER." + strUpper));
  }
  for (const char* pszOther : {"a.mp", "a.p3", "a.mp33", "a.flac.bak", "a.aiff2", "a.m4"}) {
    tmp.WriteFile(pszOther);
  }
  Scan(tmp.Root());
  std::sort(vecExpected.begin(), vecExpected.end());
  EXPECT_EQ(Sorted(), vecExpected);
}

TEST_F(TinydirTest, TrailingSlashesAreRemovedFromListedPaths) {
  std::string strFile = tmp.WriteFile("a.mp3");
  for (const char* pszSuffix : {"/", "///"}) {
    vecFiles.clear();
    Scan(tmp.Root() + pszSuffix);
    EXPECT_EQ(vecFiles, std::vector<std::string>{strFile}) << pszSuffix;
    EXPECT_EQ(strPrinted, "load[" + strFile + "]\n");
  }
}

TEST_F(TinydirTest, ExistingListEntriesStayAheadOfNewOnes) {
  tmp.WriteFile("a.wav");
  vecFiles = {"/earlier/one.mp3", "/earlier/two.mp3"};
  Scan(tmp.Root());
  ASSERT_EQ(vecFiles.size(), 3u);
  EXPECT_EQ(vecFiles[0], "/earlier/one.mp3");
  EXPECT_EQ(vecFiles[1], "/earlier/two.mp3");
  EXPECT_EQ(vecFiles[2], tmp.Path("a.wav"));
  EXPECT_EQ(strPrinted, LoadLines(2));
}

TEST_F(TinydirTest, UnreadableDirectoriesYieldNothingAndPrintNothing) {
  std::string strFile = tmp.WriteFile("a.mp3");
  tmp.MakeDir("empty");
  vecFiles = {"kept"};
  const std::vector<std::string> vecPaths = {tmp.Path("empty"), tmp.Path("missing"), strFile, "",
                                             "/" + std::string(1100, 'x')};
  for (const std::string& strPath : vecPaths) {
    EXPECT_EQ(Scan(strPath), 0);
    EXPECT_EQ(vecFiles, std::vector<std::string>{"kept"});
    EXPECT_EQ(strPrinted, "");
  }
  EXPECT_EQ(Scan(nullptr), 0);
  EXPECT_EQ(GetDirAllAudioFiles(tmp.Root().c_str(), nullptr), 0);
}

TEST_F(TinydirTest, EntriesWhosePathReaches1024BytesAreSkipped) {
  // Build a folder whose path is 1000 bytes long, then names that bring the entry
  // path to 1023 bytes (listed) and to 1024 bytes (skipped).
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
  errno = 0;
  EXPECT_EQ(tinydir_open(&dir, nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(tinydir_open(&dir, ""), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(tinydir_open(nullptr, "/tmp"), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(tinydir_open(&dir, ("/" + std::string(1023, 'x')).c_str()), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(tinydir_open(&dir, tmp.Path("missing").c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(dir.has_more, 0);
  EXPECT_EQ(dir.dir_handle, nullptr);
}

TEST_F(TinydirTest, RootKeepsItsSlashSoEntryPathsStartWithTwo) {
  // Only the walker's own record is read: nothing is listed or printed.
  tinydir_dir dir;
  ASSERT_EQ(tinydir_open(&dir, "/"), 0);
  EXPECT_STREQ(dir.path, "/");
  ASSERT_EQ(dir.has_more, 1);
  tinydir_file file;
  ASSERT_EQ(tinydir_readfile(&dir, &file), 0);
  EXPECT_EQ(std::string(file.path), std::string("//") + file.name);
  tinydir_close(&dir);
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
  EXPECT_EQ(dir.entry, nullptr);
  EXPECT_EQ(dir.path[0], '\0');
}

}  // namespace
