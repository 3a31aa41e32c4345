// Which copy the command keeps: on plain member data, which copies look damaged; on real
// encoded files, the full-length and lossless copies under best, damaged copies never,
// the other policies, and tag comparison options.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "cli_runner.h"
#include "decide/keeper.h"
#include "scan/audio_format.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::Member;
using twintone_cli::WholenessContext;

Member Copy(const std::string& strPath, int64_t nSize, int nSeconds, int nKbps,
            int nDecodedMs = -1) {
  Member member;
  member.strPath = strPath;
  member.nSizeBytes = nSize;
  member.nDurationMs = nSeconds * 1000;
  member.nBitrateKbps = nKbps;
  member.nDecodedMs = nDecodedMs;
  twintone_cli::DescribeFormat(strPath, &member.strFormat, &member.bLossless);
  return member;
}

TEST(WholenessTest, FlagsOnlyCopiesThatCannotHoldWhatTheirHeaderClaims) {
  const WholenessContext kTags{false, 0}, kPrints{true, 120};
  struct Case {
    Member member;
    WholenessContext context;
    const char* pszProblem;  // start of the expected text; "" for whole
  };
  const std::vector<Case> kCases = {
      // 1:06 at 192 kbit/s takes 1.58 MB: 700 KB is a download cut before half way.
      {Copy("a.mp3", 700'000, 66, 192), kTags, "truncated"},
      {Copy("a.mp3", 1'600'000, 66, 192), kTags, ""},
      // VBR and tags of any size stay well within half the implied size.
      {Copy("a.ogg", 900'000, 66, 192), kTags, ""},
      // A FLAC's bitrate is worked out from its size, so only the length can be absurd:
      // 2^36-1 samples (18 days) in 20 MB.
      {Copy("a.flac", 20'000'000, 1'558'000, 0), kTags, "damaged header"},
      {Copy("a.flac", 30'000'000, 180, 1333), kTags, ""},
      {Copy("a.wav", 1'000'000, 180, 1411), kTags, "truncated"},
      // Fingerprint mode: the decoder's yield against min(seconds asked, length).
      {Copy("a.mp3", 4'800'000, 180, 192, 20'000), kPrints, "decoding stopped early"},
      {Copy("a.mp3", 480'000, 20, 192, 19'400), kPrints, ""},
      {Copy("a.mp3", 4'800'000, 180, 192, 120'000), kPrints, ""},
      {Copy("a.mp3", 4'800'000, 180, 192, 20'000), kTags, ""},
      // A cut Ogg stream has lost the page its length is read from.
      {Copy("a.ogg", 2'732, 0, 112), kTags, "length unknown"},
  };
  for (const Case& c : kCases) {
    std::string strProblem = twintone_cli::WholenessProblem(c.member, c.context);
    EXPECT_EQ(0u, strProblem.rfind(c.pszProblem, 0)) << c.member.strPath << " "
                                                    << c.member.nSizeBytes << ": " << strProblem;
    EXPECT_EQ(std::string(c.pszProblem).empty(), strProblem.empty()) << strProblem;
  }
}

class KeepRunTest : public ::testing::Test {
 protected:
  // A tagged tone of nSeconds encoded by ffmpeg with strCodec's arguments.
  std::string Encode(const std::string& strName, int nSeconds, const std::string& strTitle,
                     const std::vector<std::string>& vecCodec) {
    std::vector<std::string> vecArgs = {
        "-v", "error", "-nostdin", "-f", "lavfi", "-i",
        "sine=frequency=330:duration=" + std::to_string(nSeconds), "-metadata",
        "title=" + strTitle, "-metadata", "artist=Test Ensemble"};
    vecArgs.insert(vecArgs.end(), vecCodec.begin(), vecCodec.end());
    vecArgs.push_back(dir.Path(strName));
    EXPECT_EQ(0, CliProcess(vecArgs, "ffmpeg").Finish().nExitCode) << strName;
    return dir.Path(strName);
  }

  TempDir dir;
};

TEST_F(KeepRunTest, BestKeepsTheFullLengthCopyAndLosslessOverAHigherBitrate) {
  dir.MakeDir("lib");
  // The library's own order keeps the 2:42 copy: under 30 s apart, its bitrate wins.
  Encode("lib/full.mp3", 180, "Long Song", {"-c:a", "libmp3lame", "-b:a", "128k"});
  Encode("lib/cut.mp3", 162, "Long Song", {"-c:a", "libmp3lame", "-b:a", "320k"});
  // A pure tone packs into far fewer bits as FLAC than as 320 kbit/s MP3.
  Encode("lib/tone.mp3", 20, "Short Song", {"-c:a", "libmp3lame", "-b:a", "320k"});
  Encode("lib/tone.flac", 20, "Short Song", {"-ac", "1", "-ar", "8000", "-c:a", "flac"});
  JsonFields doc = RunJson({dir.Path("lib")});
  ASSERT_EQ("2", doc["groups#"]);
  // Groups come in the order of their keepers' paths.
  EXPECT_EQ("full.mp3", FileName(doc["groups.0.members.0.path"]));
  EXPECT_EQ("kept: longest, 3:00; others shorter (2:42)", doc["groups.0.keep_reason"]);
  EXPECT_EQ("tone.flac", FileName(doc["groups.1.members.0.path"]));
  EXPECT_EQ("kept: FLAC, lossless; others lossy", doc["groups.1.keep_reason"]);
}

TEST_F(KeepRunTest, TruncatedCopiesAreNeverKeptAndAGroupOfThemMovesNothing) {
  const auto& corpus = twintone_test::SharedAudioCorpus();
  std::string strLib = dir.MakeDir("lib");
  // Piece 0: a whole 128 kbit/s copy and the first 10 KB of the 320 kbit/s one, whose
  // header still claims the whole length. Piece 1: two such stubs and nothing whole.
  CopyPiece(0, AudioEncoding::kMp3At128, strLib + "/p0-whole.mp3");
  twintone_test::WriteTruncatedCopy(corpus.Path(0, AudioEncoding::kMp3At320),
                                    strLib + "/p0-cut.mp3", 10'000);
  twintone_test::WriteTruncatedCopy(corpus.Path(1, AudioEncoding::kMp3At320),
                                    strLib + "/p1-cut.mp3", 10'000);
  twintone_test::WriteTruncatedCopy(corpus.Path(1, AudioEncoding::kMp3At128),
                                    strLib + "/p1-cut-too.mp3", 10'000);
  auto mapBefore = Snapshot(strLib);
  JsonFields doc = RunJson({"--move-duplicates", dir.Path("dups"), strLib});
  ASSERT_EQ("2", doc["groups#"]);
  EXPECT_EQ("p0-whole.mp3", FileName(doc["groups.0.members.0.path"]));
  EXPECT_EQ("kept: the only whole copy", doc["groups.0.keep_reason"]);
  EXPECT_EQ(0u, doc["groups.0.different_recordings.0.passed_over"].rfind("truncated", 0))
      << doc["groups.0.different_recordings.0.passed_over"];
  EXPECT_EQ("true", doc["groups.1.unsure"]);
  // A stub too short to be heard cannot be shown to be the kept copy's recording, so
  // it stays too.
  EXPECT_EQ(mapBefore, Snapshot(strLib));
}

TEST_F(KeepRunTest, ACopyThatDecodesShortIsPassedOverInFingerprintMode) {
  // Half a FLAC: its header still gives the whole length, and its bitrate is worked out
  // from what is left, so only the decoder can tell.
  const auto& corpus = twintone_test::SharedAudioCorpus();
  const std::string& strFlac = corpus.Path(1, AudioEncoding::kFlac);
  twintone_test::WriteTruncatedCopy(strFlac, dir.Path("half.flac"),
                                    std::filesystem::file_size(strFlac) / 2);
  CopyPiece(1, AudioEncoding::kMp3At128, dir.Path("whole.mp3"));
  JsonFields doc = RunJson({"--fingerprint", dir.Path("half.flac"), dir.Path("whole.mp3")});
  ASSERT_EQ("1", doc["groups#"]);
  EXPECT_EQ(dir.Path("whole.mp3"), doc["groups.0.members.0.path"]);
  EXPECT_EQ(0u, doc["groups.0.members.1.passed_over"].rfind("decoding stopped early", 0))
      << doc["groups.0.members.1.passed_over"];
}

TEST_F(KeepRunTest, PoliciesChooseAmongIdenticalCopies) {
  std::string strOld = CopyPiece(2, AudioEncoding::kOggVorbis, dir.Path("a/song.ogg"));
  std::string strNew = CopyPiece(2, AudioEncoding::kOggVorbis, dir.Path("b/song.ogg"));
  struct timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, strOld.c_str(), times, 0));
  const std::vector<std::pair<std::string, std::string>> kCases = {
      {"newest", strNew},
      {"oldest", strOld},
      {"under=" + dir.Path("b"), strNew},
      {"under=" + dir.Path("nowhere") + ",newest", strNew},
  };
  for (const auto& c : kCases) {
    JsonFields doc = RunJson({"--keep", c.first, strNew, strOld});
    EXPECT_EQ(c.first, doc["keep_policy"]);
    EXPECT_EQ(c.second, doc["groups.0.members.0.path"]) << c.first;
  }
}

TEST_F(KeepRunTest, LooseComparisonAndLegacyEncodingReachTheLibrary) {
  twintone_test::WriteMp3WithId3Frames(dir.Path("a.mp3"),
                                       {{"TIT2", 0, "Metal Madness"}, {"TPE1", 0, "Bj\xF6rk"}});
  twintone_test::WriteMp3WithId3Frames(dir.Path("b.mp3"),
                                       {{"TIT2", 0, "  metal   MADNESS "}, {"TPE1", 0, "bj\xF6rk"}});
  EXPECT_EQ("0", RunJson({dir.Path("a.mp3"), dir.Path("b.mp3")})["groups#"]);
  JsonFields doc = RunJson({"--loose", "--legacy-encoding", "latin1", dir.Path("a.mp3"),
                            dir.Path("b.mp3")});
  EXPECT_EQ("true", doc["loose"]);
  ASSERT_EQ("1", doc["groups#"]);
  EXPECT_EQ("Bj\xC3\xB6rk", doc["groups.0.members.0.artist"]);
}

// Every piece has one artist, so by artist three files of two pieces agree. Reporting
// hears nothing; an action checks the group by ear first and moves only the copy that
// sounds like the kept one.
TEST_F(KeepRunTest, TagGroupsAreCheckedByEarAndADifferentRecordingNeverMoves) {
  std::string strLib = dir.MakeDir("lib");
  CopyPiece(0, AudioEncoding::kFlac, strLib + "/take1.flac");
  CopyPiece(0, AudioEncoding::kMp3At128, strLib + "/take1.mp3");
  CopyPiece(1, AudioEncoding::kMp3At128, strLib + "/take2.mp3");
  JsonFields doc = RunJson({"--by", "artist", strLib});
  ASSERT_EQ("3", doc["groups.0.members#"]);
  EXPECT_EQ(0u, doc.count("groups.0.members.1.similarity"));
  auto mapBefore = Snapshot(strLib);
  doc = RunJson({"--by", "artist", "--move-duplicates", dir.Path("dups"), strLib});
  ASSERT_EQ("2", doc["groups.0.members#"]);
  EXPECT_EQ(strLib + "/take1.mp3", doc["groups.0.members.1.path"]);
  EXPECT_EQ(strLib + "/take2.mp3", doc["groups.0.different_recordings.0.path"]);
  mapBefore.erase(strLib + "/take1.mp3");
  EXPECT_EQ(mapBefore, Snapshot(strLib));
}

// The first 20 s of a piece played 0.2 % fast agree with it on about 70 %: at the
// default 80 % a near miss, listed and never acted on; at 60 % a duplicate.
TEST_F(KeepRunTest, ANearMissIsListedApartAndGroupedAtALowerSimilarity) {
  std::string strLib = dir.MakeDir("lib");
  std::string strWhole = CopyPiece(3, AudioEncoding::kWav, strLib + "/whole.wav");
  ASSERT_EQ(0, CliProcess({"-v", "error", "-nostdin", "-i", strWhole, "-af",
                           "asetrate=44100*1.002,aresample=44100", "-t", "20",
                           strLib + "/edit.wav"},
                          "ffmpeg")
                   .Finish()
                   .nExitCode);
  auto mapBefore = Snapshot(strLib);
  JsonFields doc = RunJson({"-f", "--move-duplicates", dir.Path("dups"), strLib});
  EXPECT_EQ("0", doc["groups#"]);
  ASSERT_EQ("1", doc["near_misses#"]);
  EXPECT_EQ(strLib + "/whole.wav", doc["near_misses.0.path"]);
  EXPECT_EQ(strLib + "/edit.wav", doc["near_misses.0.other"]);
  EXPECT_EQ(mapBefore, Snapshot(strLib));
  EXPECT_EQ("0", RunJson({"-f", "--no-near", strLib})["near_misses#"]);
  EXPECT_EQ("1", RunJson({"-f", "--similarity", "60", strLib})["groups#"]);
}

}  // namespace
}  // namespace twintone_cli_test
