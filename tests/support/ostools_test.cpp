#include "support/ostools.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fixtures/temp_dir.h"
#include "support/tinydir.h"
#include "twintone.h"

namespace {

using Cases = std::vector<std::pair<std::string, std::string>>;

TEST(OstoolsTest, ShortNameAndPosfixSplitTheLastComponent) {
  for (const auto& c : Cases{{"C:\\music\\a.b.mp3", "a.b"}, {"/x/y/.hidden", ""},
                             {"/x/y/", ""}, {"/x.d/song", "song"}, {"mixed\\dir/t.flac", "t"}}) {
    std::string strPath = c.first;
    GetPathShortName(strPath);
    EXPECT_EQ(strPath, c.second) << c.first;
  }
  // The extension is lower-cased text after the last dot of the whole path.
  for (const auto& c : Cases{{"/x/Song.MP3", "mp3"}, {"/x/song", ""}, {"/x/song.", ""},
                             {"/x/album.live/song", "live/song"}, {"b.\xC3\x89X", "\xC3\x89x"}}) {
    EXPECT_EQ(GetFilePosfix(c.first), c.second) << c.first;
  }
  EXPECT_TRUE(IsSupportPos("aac", g_pszSupportedAudio) && IsSupportPos("wv", g_pszSupportedAudio));
  for (const char* pszNot : {"MP3", "mp", "p3", ""}) {
    EXPECT_FALSE(IsSupportPos(pszNot, g_pszSupportedAudio)) << pszNot;
  }
}

TEST(OstoolsTest, ReplaceNeverRescansInsertedTextAndIgnoresAnEmptyPattern) {
  const std::vector<std::vector<std::string>> kCases = {{"a\\\\b", "\\", "/", "a//b"},
                                                        {"aXa", "a", "aa", "aaXaa"},
                                                        {"abcabc", "abc", "", ""},
                                                        {"abc", "", "x", "abc"}};
  for (std::vector<std::string> c : kCases) {
    string_replace(c[0], c[1], c[2]);
    EXPECT_EQ(c[0], c[3]) << c[1];
  }
}

TEST(OstoolsTest, ExistenceTestsFollowLinks) {
  TempDir tmp;
  std::string strFile = tmp.WriteFile("a.mp3", "x");
  std::string strDir = tmp.MakeDir("sub");
  // {path, IsFileExists, IsDirExits}
  const std::vector<std::tuple<std::string, bool, bool>> kCases = {
      {strFile, true, false}, {strDir, true, true}, {strDir + "/", true, true},
      {tmp.Symlink(strFile, "to_file"), true, false}, {tmp.Symlink(strDir, "to_dir"), true, true},
      {tmp.Symlink(tmp.Path("missing"), "dangling"), false, false},
      {tmp.Path("missing"), false, false}, {"", false, false}};
  for (const auto& c : kCases) {
    EXPECT_EQ(IsFileExists(std::get<0>(c)), std::get<1>(c)) << std::get<0>(c);
    EXPECT_EQ(IsDirExits(std::get<0>(c)), std::get<2>(c)) << std::get<0>(c);
  }
}

TEST(OstoolsTest, LinkTargetDirCutsAtTheLastSlashAndFitsIn1024Bytes) {
  TempDir tmp;
  // 1023 bytes plus the terminator fit; 1024 do not.
  const std::string strLong = "/" + std::string(1017, 'd');
  const Cases kCases = {{"/opt/host/bin/app", "/opt/host/bin"}, {"/app", ""}, {"app", "app"},
                        {strLong + "/app0", strLong}, {strLong + "/app01", ""},
                        {strLong + "/" + std::string(3000, 'a'), ""}};
  for (size_t i = 0; i < kCases.size(); ++i) {
    std::string strLink = tmp.Symlink(kCases[i].first, "link" + std::to_string(i));
    EXPECT_EQ(GetLinkTargetDir(strLink.c_str()), kCases[i].second) << i;
  }
  EXPECT_EQ(GetLinkTargetDir(tmp.Path("missing").c_str()), "");
}

TEST(OstoolsTest, AppPathIsTheFolderOfTheRunningExecutable) {
  char szReal[PATH_MAX];
  ASSERT_NE(realpath(program_invocation_name, szReal), nullptr);
  std::string strExe = szReal;
  EXPECT_EQ(GetAppPath(), strExe.substr(0, strExe.rfind('/')));
}

}  // namespace
