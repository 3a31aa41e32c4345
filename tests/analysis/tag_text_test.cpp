// Tag text read as the file stores it, or by the one-byte rule, in a chosen legacy
// encoding.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "analysis/tag_reader.h"
#include "fixtures/audio_fixtures.h"
#include "fixtures/retagged_copies.h"
#include "fixtures/temp_dir.h"

namespace {

using twintone::TagTextOptions;
using twintone_test::AudioEncoding;

const TagTextOptions kLegacyGbk;
const TagTextOptions kStoredGbk{TWINTONE_TAGTEXT_AS_STORED, "gbk"};
const TagTextOptions kStoredLatin1{TWINTONE_TAGTEXT_AS_STORED, "latin1"};
const TagTextOptions kLegacyCp1252{TWINTONE_TAGTEXT_LEGACY, "cp1252"};

class TagTextTest : public ::testing::Test {
 protected:
  // A copy of piece 0 in encoding, titled strTitle, with extra muxer options.
  std::string Retagged(const char* pszName, AudioEncoding encoding, const std::string& strTitle,
                       const std::vector<std::string>& vecOptions = {}) {
    std::string strPath = dir_.Path(pszName);
    twintone_test::WriteRetaggedCopy(twintone_test::SharedAudioCorpus().Path(0, encoding), strPath,
                                     {"title=" + strTitle, "artist=Ensemble"}, vecOptions);
    return strPath;
  }
  std::string TitleOf(const std::string& strPath, const TagTextOptions& options) {
    DupMusicInfo info;
    EXPECT_EQ(twintone::ReadDupMusicInfo(strPath.c_str(), &info, options), 0) << strPath;
    EXPECT_EQ(info.strArtist, strPath.find("id3v1") == std::string::npos ? "Ensemble" : "Abba");
    return info.strTitle;
  }

  TempDir dir_;
};

TEST_F(TagTextTest, UnicodeStorageIsKeptAsStoredAndOnlyByDefaultReadAsGbk) {
  const std::string strId3v24 =
      Retagged("utf8.mp3", AudioEncoding::kMp3At128, "Résumé", {"-id3v2_version", "4"});
  const std::string strId3v23 =
      Retagged("utf16.mp3", AudioEncoding::kMp3At128, "Résumê", {"-id3v2_version", "3"});
  const struct {
    std::string strPath;
    std::string strDefault;  // today's reading: every character below 256 taken as GBK
    std::string strStored;
  } kCases[] = {
      {Retagged("vorbis.flac", AudioEncoding::kFlac, "Café"), "Caf", "Café"},
      {Retagged("vorbis.ogg", AudioEncoding::kOggVorbis, "Cafè"), "Caf", "Cafè"},
      {Retagged("atoms.m4a", AudioEncoding::kAacM4a, "Café"), "Caf", "Café"},
      {strId3v24, "R閟um", "Résumé"},
      {strId3v23, "R閟um", "Résumê"},
      {Retagged("wide.mp3", AudioEncoding::kMp3At128, "你好", {"-id3v2_version", "3"}), "你好",
       "你好"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(TitleOf(c.strPath, kLegacyGbk), c.strDefault) << c.strPath;
    EXPECT_EQ(TitleOf(c.strPath, kStoredGbk), c.strStored) << c.strPath;
    DupMusicInfo info;
    ASSERT_EQ(GetDupMusicInfo(c.strPath.c_str(), &info), 0);
    EXPECT_EQ(info.strTitle, c.strDefault) << "the exported reader keeps today's rule";
  }
}

TEST_F(TagTextTest, SingleByteStorageIsReadInTheChosenEncoding) {
  const std::string strId3v1 = dir_.Path("id3v1.mp3");
  twintone_test::WriteMp3WithId3v1(strId3v1, "Bj\xF6rk", "Abba");
  const std::string strLatin1Frame = dir_.Path("latin1-frame.mp3");
  twintone_test::WriteMp3WithId3Frames(strLatin1Frame,
                                       {{"TIT2", 0, "Bj\xF6rk"}, {"TPE1", 0, "Ensemble"}});
  const struct {
    const std::string& strPath;
    const TagTextOptions& options;
    const char* pszTitle;
  } kCases[] = {
      {strId3v1, kLegacyGbk, "Bj鰎k"},       {strId3v1, kStoredLatin1, "Björk"},
      {strId3v1, kLegacyCp1252, "Björk"},    {strLatin1Frame, kStoredGbk, "Bj鰎k"},
      {strLatin1Frame, kStoredLatin1, "Björk"}, {strLatin1Frame, kLegacyCp1252, "Björk"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(TitleOf(c.strPath, c.options), c.pszTitle)
        << c.strPath << " in " << c.options.strLegacyEncoding;
  }
}

}  // namespace
