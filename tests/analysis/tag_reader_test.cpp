#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "analysis/tag_reader.h"
#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

using twintone::TagTextOptions;
using twintone_test::AudioEncoding;
using twintone_test::SharedAudioCorpus;

// What GetDupMusicInfo reads from strPath, which must succeed.
DupMusicInfo Read(const std::string& strPath) {
  DupMusicInfo info;
  EXPECT_EQ(GetDupMusicInfo(strPath.c_str(), &info), 0) << strPath;
  return info;
}

// Open descriptors of this process: a read must leave none behind, and must never
// close one twice (the stream that TagLib reads from owns the file's descriptor).
size_t OpenDescriptorCount() {
  size_t nCount = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++nCount;
  }
  return nCount;
}

TEST(TagReaderTest, ReadsTagsAndPropertiesOfEveryTaggedEncoding) {
  const auto& piece = SharedAudioCorpus().vecPieces[1];
  const size_t nDescriptors = OpenDescriptorCount();
  for (AudioEncoding encoding : twintone_test::AllEncodings()) {
    if (encoding == AudioEncoding::kMp3Untagged) continue;
    SCOPED_TRACE(twintone_test::EncodingName(encoding));
    DupMusicInfo info = Read(piece.Path(encoding));
    EXPECT_EQ(info.strTitle + "|" + info.strArtist + "|" + info.strAlbum + "|" + info.strGenre,
              piece.strTitle + "|" + piece.strArtist + "|" + piece.strAlbum + "|" + piece.strGenre);
    EXPECT_EQ(info.nFileSize, static_cast<int64_t>(TempDir::ReadFile(piece.Path(encoding)).size()));
    EXPECT_EQ(info.nDuration % 1000, 0);
    EXPECT_NEAR(info.nDuration, piece.nSeconds * 1000, 1000);
    EXPECT_GT(info.nBitrate, 0);
  }
  EXPECT_EQ(Read(piece.Path(AudioEncoding::kMp3At320)).nBitrate, 320);
  DupMusicInfo wav = Read(piece.Path(AudioEncoding::kWav));
  EXPECT_EQ(wav.nDuration, piece.nSeconds * 1000);
  EXPECT_EQ(wav.nBitrate, 1411);
  EXPECT_EQ(OpenDescriptorCount(), nDescriptors);
}

// Single-byte frames are GBK, wide frames already Unicode; a missing or blank title
// becomes the file name without its extension, blanks kept.
TEST(TagReaderTest, TitlesFromFramesOrTheFileName) {
  TempDir dir;
  const std::string strUtf16("\xFF\xFE\xA9\x03\x20\x00\x60\x4F", 8);  // Omega, blank, "you"
  const struct {
    const char* pszName;
    std::vector<twintone_test::Id3TextFrame> vecFrames;
    std::string strTitle;
  } kCases[] = {
      {"gbk.mp3", {{"TIT2", 0, twintone_test::kGbkNiHao}}, twintone_test::kUtf8NiHao},
      {"wide.mp3", {{"TIT2", 1, strUtf16}}, "\xCE\xA9 \xE4\xBD\xA0"},
      {"Spaced.mp3", {{"TIT2", 0, " a b "}}, " a b "},
      {"Artist Only.mp3", {{"TPE1", 0, "Plain Artist"}}, "Artist Only"},
  };
  for (const auto& testCase : kCases) {
    std::string strPath = dir.Path(testCase.pszName);
    twintone_test::WriteMp3WithId3Frames(strPath, testCase.vecFrames);
    EXPECT_EQ(Read(strPath).strTitle, testCase.strTitle) << testCase.pszName;
  }

  const auto& corpus = SharedAudioCorpus();
  twintone_test::CopyFile(corpus.Path(0, AudioEncoding::kMp3Untagged), dir.Path("Track 07.mp3"));
  DupMusicInfo info = Read(dir.Path("Track 07.mp3"));
  EXPECT_EQ(info.strTitle + "|" + info.strArtist + info.strAlbum + info.strGenre, "Track 07|");
  EXPECT_EQ(info.nDuration, corpus.vecPieces[0].nSeconds * 1000);
}

TEST(TagReaderTest, UnreadableFilesReturnMinusOneAndLeaveTheRecord) {
  TempDir dir;
  std::string strFifo = dir.Path("pipe.mp3");
  ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
  const std::string vecPaths[] = {dir.Path("missing.mp3"), dir.WriteFile("notes.txt", "no tags\n"),
                                  dir.Root(), strFifo, "/dev/zero"};
  const size_t nDescriptors = OpenDescriptorCount();
  alarm(60);  // a blocking open fails the test instead of stalling the run
  for (const std::string& strPath : vecPaths) {
    DupMusicInfo info;
    info.nDuration = 9000;
    EXPECT_EQ(GetDupMusicInfo(strPath.c_str(), &info), -1) << strPath;
    EXPECT_EQ(info.nDuration, 9000);
  }
  alarm(0);
  EXPECT_EQ(OpenDescriptorCount(), nDescriptors);
  DupMusicInfo info;
  EXPECT_EQ(GetDupMusicInfo(nullptr, &info), -1);
  EXPECT_EQ(GetDupMusicInfo(strFifo.c_str(), nullptr), -1);
}

// Tag text read as the file stores it, or by the one-byte rule, in a chosen legacy
// encoding. (FLAC and ID3v2 UTF-8 and UTF-16 titles are read in whole runs, in
// tests/engine/ext_tags_test.cpp.)
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
