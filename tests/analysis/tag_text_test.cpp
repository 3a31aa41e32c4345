// Tag text read as the file stores it, or by the one-byte rule, in a chosen legacy
// encoding. (FLAC and ID3v2 UTF-8 and UTF-16 titles are read in whole runs, in
// tests/engine/ext_tags_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/tag_reader.h"
#include "fixtures/audio_fixtures.h"
#include "fixtures/retagged_copies.h"
#include "fixtures/temp_dir.h"

namespace {

using twintone::TagTextOptions;
using twintone_test::AudioEncoding;

TEST(TagTextTest, EachStorageIsReadAsStoredOrByTheOneByteRule) {
  TempDir dir;
  auto retagged = [&](const char* pszName, AudioEncoding encoding, const std::string& strTitle) {
    std::string strPath = dir.Path(pszName);
    twintone_test::WriteRetaggedCopy(twintone_test::SharedAudioCorpus().Path(0, encoding), strPath,
                                     {"title=" + strTitle}, {"-id3v2_version", "3"});
    return strPath;
  };
  const std::string strOgg = retagged("vorbis.ogg", AudioEncoding::kOggVorbis, "Cafè");
  const std::string strM4a = retagged("atoms.m4a", AudioEncoding::kAacM4a, "Café");
  const std::string strWide = retagged("wide.mp3", AudioEncoding::kMp3At128, "你好");
  const std::string strId3v1 = dir.Path("id3v1.mp3");
  twintone_test::WriteMp3WithId3v1(strId3v1, "Bj\xF6rk", "");
  const std::string strLatin1Frame = dir.Path("latin1-frame.mp3");
  twintone_test::WriteMp3WithId3Frames(strLatin1Frame, {{"TIT2", 0, "Bj\xF6rk"}});
  // Two songs whose Latin-1 frames differ in one accent: bytes GBK has no reading for.
  const std::string strAcute = dir.Path("acute.mp3"), strGrave = dir.Path("grave.mp3");
  twintone_test::WriteMp3WithId3Frames(strAcute, {{"TIT2", 0, "Caf\xE9"}, {"TPE1", 0, "Zo\xE9"}});
  twintone_test::WriteMp3WithId3Frames(strGrave, {{"TIT2", 0, "Caf\xE8"}, {"TPE1", 0, "Zo\xE9"}});
  const std::string strId3v1Cafe = dir.Path("id3v1-cafe.mp3");
  twintone_test::WriteMp3WithId3v1(strId3v1Cafe, "Caf\xE9", "Zo\xE9");

  const TagTextOptions kLegacyGbk;
  const TagTextOptions kStoredGbk{TWINTONE_TAGTEXT_AS_STORED, "gbk"};
  const TagTextOptions kStoredLatin1{TWINTONE_TAGTEXT_AS_STORED, "latin1"};
  const TagTextOptions kLegacyCp1252{TWINTONE_TAGTEXT_LEGACY, "cp1252"};
  const struct {
    const std::string& strPath;
    const TagTextOptions& options;
    const char* pszTitle;
    const char* pszArtist = nullptr;  // checked when given
  } kCases[] = {
      {strOgg, kLegacyGbk, "Caf"},
      {strOgg, kStoredGbk, "Cafè"},
      {strM4a, kLegacyGbk, "Caf"},
      {strM4a, kStoredGbk, "Café"},
      {strWide, kLegacyGbk, "你好"},
      {strWide, kStoredGbk, "你好"},
      {strId3v1, kLegacyGbk, "Bj鰎k"},
      {strId3v1, kStoredGbk, "Bj鰎k"},  // ID3v1 is stored in single bytes
      {strId3v1, kStoredLatin1, "Björk"},
      {strId3v1, kLegacyCp1252, "Björk"},
      {strLatin1Frame, kStoredGbk, "Bj鰎k"},
      {strLatin1Frame, kStoredLatin1, "Björk"},
      {strAcute, kLegacyGbk, "Caf"},  // the default still drops what GBK cannot read
      {strAcute, kStoredGbk, "Café"},
      {strGrave, kStoredGbk, "Cafè", "Zoé"},
      {strId3v1Cafe, kStoredGbk, "Café", "Zoé"},
  };
  for (const auto& c : kCases) {
    DupMusicInfo info;
    EXPECT_EQ(twintone::ReadDupMusicInfo(c.strPath.c_str(), &info, c.options), 0);
    EXPECT_EQ(info.strTitle, c.pszTitle) << c.strPath << " in " << c.options.strLegacyEncoding;
    if (c.pszArtist != nullptr) {
      EXPECT_EQ(info.strArtist, c.pszArtist) << c.strPath;
    }
  }
  DupMusicInfo info;  // the exported reader keeps the one-byte rule and GBK
  ASSERT_EQ(GetDupMusicInfo(strOgg.c_str(), &info), 0);
  EXPECT_EQ(info.strTitle, "Caf");
}

}  // namespace
