#include "support/ostools.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/temp_dir.h"
#include "support/tinydir.h"
#include "twintone.h"

namespace {

class OstoolsTest : public ::testing::Test {
 protected:
  static std::string ShortName(std::string strPath) {
    GetPathShortName(strPath);
    return strPath;
  }
  static std::string Replaced(std::string strText, const std::string& strPattern,
                              const std::string& strReplacement) {
    string_replace(strText, strPattern, strReplacement);
    return strText;
  }
  // Folder of a link whose target is strTarget, through GetLinkTargetDir.
  std::string DirOfTarget(const std::string& strTarget) {
    return GetLinkTargetDir(tmp.Symlink(strTarget, "link" + std::to_string(nLinks++)).c_str());
  }

  TempDir tmp;
  int nLinks = 0;
};

TEST_F(OstoolsTest, ShortNameIsTheLastComponentWithoutItsLastExtension) {
  const std::vector<std::pair<std::string, std::string>> vecCases = {
      {"C:\\music\\a.b.mp3", "a.b"}, {"/x/y/song", "song"},
      {"/x/y/.hidden", ""},          {"/x/y/", ""},
      {"name.mp3", "name"},          {"", ""},
      {"/x.d/song", "song"},         {"mixed\\dir/t.flac", "t"}};
  for (const auto& c : vecCases) EXPECT_EQ(ShortName(c.first), c.second) << c.first;
}

TEST_F(OstoolsTest, PosfixIsLowerCasedTextAfterTheLastDotOfThePath) {
  const std::vector<std::pair<std::string, std::string>> vecCases = {
      {"/x/Song.MP3", "mp3"},
      {"/x/song", ""},
      {"/x/song.", ""},
      {"/x/album.live/song", "live/song"},
      {"/x/.mp3", "mp3"},
      {"a.FlAc", "flac"},
      {"b.\xC3\x89X", "\xC3\x89x"}};
  for (const auto& c : vecCases) EXPECT_EQ(GetFilePosfix(c.first), c.second) << c.first;
}

TEST_F(OstoolsTest, SupportTestMatchesWholeLowerCaseEntriesOnly) {
  EXPECT_TRUE(IsSupportPos("mp3", g_pszSupportedAudio));
  EXPECT_TRUE(IsSupportPos("aac", g_pszSupportedAudio));  // first entry
  EXPECT_TRUE(IsSupportPos("wv", g_pszSupportedAudio));   // last entry
  EXPECT_FALSE(IsSupportPos("MP3", g_pszSupportedAudio));
  EXPECT_FALSE(IsSupportPos("mp", g_pszSupportedAudio));
  EXPECT_FALSE(IsSupportPos("p3", g_pszSupportedAudio));
  EXPECT_FALSE(IsSupportPos("", g_pszSupportedAudio));
}

TEST_F(OstoolsTest, ReplaceNeverRescansInsertedTextAndIgnoresAnEmptyPattern) {
  EXPECT_EQ(Replaced("a\\\\b", "\\", "/"), "a//b");
  EXPECT_EQ(Replaced("aXa", "a", "aa"), "aaXaa");
  EXPECT_EQ(Replaced("abcabc", "abc", ""), "");
  EXPECT_EQ(Replaced("none here", "zz", "y"), "none here");
  EXPECT_EQ(Replaced("abc", "", "x"), "abc");  // an empty pattern is a no-op
}

TEST_F(OstoolsTest, ExistenceCoversAnyKindOfObjectAndFollowsLinks) {
  std::string strFile = tmp.WriteFile("a.mp3", "x");
  std::string strDir = tmp.MakeDir("sub");
  EXPECT_TRUE(IsFileExists(strFile));
  EXPECT_TRUE(IsFileExists(strDir));
  EXPECT_TRUE(IsFileExists(tmp.Symlink(strFile, "to_file")));
  EXPECT_FALSE(IsFileExists(tmp.Path("missing")));
  EXPECT_FALSE(IsFileExists(tmp.Symlink(tmp.Path("missing"), "dangling")));
  EXPECT_FALSE(IsFileExists(""));
}

TEST_F(OstoolsTest, DirectoryTestFollowsLinksAndRejectsEverythingElse) {
  std::string strDir = tmp.MakeDir("sub");
  EXPECT_TRUE(IsDirExits(strDir));
  EXPECT_TRUE(IsDirExits(strDir + "/"));
  EXPECT_TRUE(IsDirExits(tmp.Symlink(strDir, "to_dir")));
  EXPECT_FALSE(IsDirExits(tmp.WriteFile("a.mp3")));
  EXPECT_FALSE(IsDirExits(tmp.Path("missing")));
  EXPECT_FALSE(IsDirExits(tmp.Symlink(tmp.Path("a.mp3"), "to_file")));
}

TEST_F(OstoolsTest, LinkTargetDirCutsAtTheLastSlash) {
  EXPECT_EQ(DirOfTarget("/opt/host/bin/app"), "/opt/host/bin");
  EXPECT_EQ(DirOfTarget("/app"), "");
  EXPECT_EQ(DirOfTarget("app"), "app");
  EXPECT_EQ(DirOfTarget("/a/./b/../app"), "/a/./b/..");
  EXPECT_EQ(GetLinkTargetDir(tmp.Path("missing").c_str()), "");
}

TEST_F(OstoolsTest, LinkTargetDirIsEmptyWhenTheTargetDoesNotFitIn1024Bytes) {
  // 1023 bytes plus the terminator fit; 1024 do not.
  std::string strDir = "/" + std::string(1017, 'd');
  EXPECT_EQ(DirOfTarget(strDir + "/app0"), strDir);
  EXPECT_EQ(DirOfTarget(strDir + "/app01"), "");
  EXPECT_EQ(DirOfTarget(strDir + "/" + std::string(3000, 'a')), "");
}

TEST_F(OstoolsTest, AppPathIsTheFolderOfTheRunningExecutable) {
  char szReal[PATH_MAX];
  ASSERT_NE(realpath(program_invocation_name, szReal), nullptr);
  std::string strExe = szReal;
  std::string strApp = GetAppPath();
  EXPECT_EQ(strApp, strExe.substr(0, strExe.rfind('/')));
  EXPECT_TRUE(IsDirExits(strApp));
}

}  // namespace
