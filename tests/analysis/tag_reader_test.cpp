#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

using twintone_test::AudioEncoding;
using twintone_test::Id3TextFrame;
using twintone_test::SharedAudioCorpus;

class TagReaderTest : public ::testing::Test {
 protected:
  // An MP3 in the scratch folder whose only tag holds the given frames.
  std::string Mp3WithFrames(const std::string& strName,
                            const std::vector<Id3TextFrame>& vecFrames) {
    std::string strPath = tempDir_.Path(strName);
    twintone_test::WriteMp3WithId3Frames(strPath, vecFrames);
    return strPath;
  }

  // The title GetDupMusicInfo reads from strPath, which must succeed.
  static std::string TitleOf(const std::string& strPath) {
    DupMusicInfo info;
    EXPECT_EQ(GetDupMusicInfo(strPath.c_str(), &info), 0) << strPath;
    return info.strTitle;
  }

  static int64_t SizeOf(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 ? st.st_size : -1;
  }

  TempDir tempDir_;
};

TEST_F(TagReaderTest, ReadsTagsAndPropertiesOfEveryTaggedEncoding) {
  const auto& piece = SharedAudioCorpus().vecPieces[1];
  for (AudioEncoding encoding : twintone_test::AllEncodings()) {
    if (encoding == AudioEncoding::kMp3Untagged) continue;
    SCOPED_TRACE(twintone_test::EncodingName(encoding));
    DupMusicInfo info;
    ASSERT_EQ(GetDupMusicInfo(piece.Path(encoding).c_str(), &info), 0);
    EXPECT_EQ(info.strTitle, piece.strTitle);
    EXPECT_EQ(info.strArtist, piece.strArtist);
    EXPECT_EQ(info.strAlbum, piece.strAlbum);
    EXPECT_EQ(info.strGenre, piece.strGenre);
    EXPECT_EQ(info.nFileSize, SizeOf(piece.Path(encoding)));
    EXPECT_EQ(info.nDuration % 1000, 0);
    EXPECT_NEAR(info.nDuration, piece.nSeconds * 1000, 1000);
    EXPECT_GT(info.nBitrate, 0);
  }
  DupMusicInfo mp3;
  ASSERT_EQ(GetDupMusicInfo(piece.Path(AudioEncoding::kMp3At320).c_str(), &mp3), 0);
  EXPECT_EQ(mp3.nBitrate, 320);
  DupMusicInfo wav;
  ASSERT_EQ(GetDupMusicInfo(piece.Path(AudioEncoding::kWav).c_str(), &wav), 0);
  EXPECT_EQ(wav.nDuration, piece.nSeconds * 1000);
  EXPECT_EQ(wav.nBitrate, 1411);
}

TEST_F(TagReaderTest, SingleByteFramesAreReadAsGbk) {
  std::string strPath = Mp3WithFrames(
      "gbk.mp3", {{"TIT2", 0, twintone_test::kGbkNiHao}, {"TPE1", 0, "Plain Artist"}});
  DupMusicInfo info;
  ASSERT_EQ(GetDupMusicInfo(strPath.c_str(), &info), 0);
  EXPECT_EQ(info.strTitle, twintone_test::kUtf8NiHao);
  EXPECT_EQ(info.strArtist, "Plain Artist");
  EXPECT_EQ(info.strAlbum, "");
  EXPECT_EQ(info.strGenre, "");
}

TEST_F(TagReaderTest, WideFramesPassAsUtf8Unchanged) {
  // UTF-16LE with its byte order mark: Omega, blank, the character for "you".
  const std::string strUtf16("\xFF\xFE\xA9\x03\x20\x00\x60\x4F", 8);
  std::string strPath = Mp3WithFrames("wide.mp3", {{"TIT2", 1, strUtf16}});
  EXPECT_EQ(TitleOf(strPath), "\xCE\xA9 \xE4\xBD\xA0");
}

TEST_F(TagReaderTest, MissingOrBlankTitleBecomesTheBareFileName) {
  const auto& corpus = SharedAudioCorpus();
  std::string strUntagged = tempDir_.Path("Track 07.mp3");
  twintone_test::CopyFile(corpus.Path(0, AudioEncoding::kMp3Untagged), strUntagged);
  DupMusicInfo info;
  ASSERT_EQ(GetDupMusicInfo(strUntagged.c_str(), &info), 0);
  EXPECT_EQ(info.strTitle, "Track 07");
  EXPECT_EQ(info.strArtist, "");
  EXPECT_EQ(info.strAlbum, "");
  EXPECT_EQ(info.strGenre, "");
  EXPECT_EQ(info.nDuration, corpus.vecPieces[0].nSeconds * 1000);

  EXPECT_EQ(TitleOf(Mp3WithFrames("Blank Title.mp3", {{"TIT2", 0, "   "}})), "Blank Title");
  EXPECT_EQ(TitleOf(Mp3WithFrames("Spaced.mp3", {{"TIT2", 0, " a b "}})), " a b ");
}

TEST_F(TagReaderTest, UnreadableFilesReturnMinusOneAndLeaveTheRecord) {
  std::string strFifo = tempDir_.Path("pipe.mp3");
  ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
  const std::string vecPaths[] = {
      tempDir_.Path("missing.mp3"),
      tempDir_.WriteFile("notes.txt", "plain text, no tags\n"),
      tempDir_.WriteFile("unknown.xyz", "plain text, no tags\n"),
      tempDir_.Root(),
      strFifo,
      "/dev/zero",
  };
  alarm(60);  // a blocking open fails the test instead of stalling the run
  for (const std::string& strPath : vecPaths) {
    SCOPED_TRACE(strPath);
    DupMusicInfo info;
    info.strTitle = "kept";
    info.nFileSize = 7;
    info.nDuration = 9000;
    EXPECT_EQ(GetDupMusicInfo(strPath.c_str(), &info), -1);
    EXPECT_EQ(info.strTitle, "kept");
    EXPECT_EQ(info.nFileSize, 7);
    EXPECT_EQ(info.nDuration, 9000);
  }
  alarm(0);
  DupMusicInfo info;
  EXPECT_EQ(GetDupMusicInfo(nullptr, &info), -1);
  EXPECT_EQ(GetDupMusicInfo(strFifo.c_str(), nullptr), -1);
}

TEST(TrimTest, RemovesEveryBlankAndNothingElse) {
  std::string strText = " a b ";
  EXPECT_EQ(&trim(strText), &strText);
  EXPECT_EQ(strText, "ab");
  std::string strTab = "a\tb\n";
  EXPECT_EQ(trim(strTab), "a\tb\n");
  std::string strBlanks = "    ";
  EXPECT_EQ(trim(strBlanks), "");
  std::string strEmpty;
  EXPECT_EQ(trim(strEmpty), "");
  std::string strRuns = "a  b   c";
  EXPECT_EQ(trim(strRuns), "abc");
}

}  // namespace
