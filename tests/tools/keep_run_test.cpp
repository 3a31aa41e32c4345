// Which copy the command keeps, on real encoded files: the full-length and lossless
// copies under best, damaged copies never, the other policies, and tag comparison
// options.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "cli_runner.h"

namespace twintone_cli_test {
namespace {

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
  EXPECT_LT(std::stoi(doc["groups.1.members.0.bitrate_kbps"]),
            std::stoi(doc["groups.1.members.1.bitrate_kbps"]));
  EXPECT_EQ("kept: FLAC, lossless; others lossy", doc["groups.1.keep_reason"]);
  EXPECT_EQ("tags", doc["mode"]);
  EXPECT_EQ(0u, doc.count("groups.0.members.1.similarity"));
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
  EXPECT_EQ(0u, doc["groups.0.members.1.passed_over"].rfind("truncated", 0))
      << doc["groups.0.members.1.passed_over"];
  EXPECT_EQ("true", doc["groups.1.unsure"]);
  EXPECT_EQ("true", doc["groups.1.members.1.keep"]);
  EXPECT_EQ("1", doc["summary.duplicates"]);
  // Only the stub of piece 0 moved; both stubs of piece 1 stayed, the second said so.
  ASSERT_EQ("2", doc["moves.items#"]);
  EXPECT_EQ(strLib + "/p0-cut.mp3", doc["moves.items.0.from"]);
  EXPECT_EQ("moved", doc["moves.items.0.status"]);
  EXPECT_EQ("skipped", doc["moves.items.1.status"]);
  mapBefore.erase(strLib + "/p0-cut.mp3");
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

}  // namespace
}  // namespace twintone_cli_test
