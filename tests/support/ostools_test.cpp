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

using namespace twintone;

namespace {

using Cases = std::vector<std::pair<std::string, std::string>>;

TEST(OstoolsTest, PathTextHelpersSplitTheLastComponentAndReplaceWithoutRescanning) {
  for (const auto& c : Cases{{"C:\\music\\a.b.mp3", "a.b"}, {"/x/y/.hidden", ""},
                             {"/x.d/song", "song"}, {"mixed\\dir/t.flac", "t"}}) {
    std::string strPath = c.first;
    GetPathShortName(strPath);
    EXPECT_EQ(strPath, c.second) << c.first;
  }
  // The extension is lower-cased text after the last dot of the whole path.
  for (const auto& c : Cases{{"/x/Song.MP3", "mp3"}, {"/x/song", ""},
                             {"/x/album.live/song", "live/song"}, {"b.\xC3\x89X", "\xC3\x89x"}}) {
    EXPECT_EQ(GetFilePosfix(c.first), c.second) << c.first;
  }
  EXPECT_TRUE(IsSupportPos("aac", g_pszSupportedAudio) && !IsSupportPos("mp", g_pszSupportedAudio));
  std::string strText = "aXa";
  string_replace(strText, "a", "aa");
  EXPECT_EQ(strText, "aaXaa");
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
  char szReal[PATH_MAX];
  ASSERT_NE(realpath(program_invocation_name, szReal), nullptr);
  std::string strExe = szReal;
  EXPECT_EQ(GetAppPath(), strExe.substr(0, strExe.rfind('/')));
}

}  // namespace
