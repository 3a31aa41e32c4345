// The command's fingerprint cache under stress: runs killed at random moments, and
// two runs sharing one cache; every entry left must match a fresh fingerprint.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <random>
#include <thread>

#include "analysis/fingerprint.h"
#include "audio_decoder.h"
#include "cli_runner.h"
#include "engine/store_use.h"
#include "support/fingerprint_store.h"
#include "support/word_codec.h"

using namespace twintone;

namespace twintone_cli_test {
namespace {

class FingerprintCacheTest : public ::testing::Test {
 protected:
  // Eight short files: two pieces in four encodings.
  void SetUp() override {
    for (size_t nPiece = 0; nPiece < 2; ++nPiece) {
      for (AudioEncoding enc : {AudioEncoding::kWav, AudioEncoding::kFlac, AudioEncoding::kMp3At128,
                                AudioEncoding::kOggVorbis}) {
        const std::string& strFrom = twintone_test::SharedAudioCorpus().Path(nPiece, enc);
        CopyPiece(nPiece, enc, tmp_.Path("music/" + FileName(strFrom)));
      }
    }
  }

  // A CSV run over the music at nSeconds with the cache at strCache ("": none).
  std::vector<std::string> FingerprintArgs(int nSeconds, const std::string& strCache) {
    std::vector<std::string> vecArgs = {"-q", "--csv", "--seconds", std::to_string(nSeconds),
                                        tmp_.Path("music"), "--cache", strCache};
    if (strCache.empty()) vecArgs.resize(5), vecArgs.push_back("--no-cache");
    return vecArgs;
  }

  // Every entry of the cache, compared with a fresh fingerprint of its file. Returns
  // how many entries there are.
  int CheckEveryEntry(const std::string& strCache) {
    twintone::FingerprintStore store(twintone::FingerprintVersionText());
    EXPECT_EQ(twintone::kStoreOk, store.Open(strCache)) << store.Message();
    sqlite3* pDb = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(strCache.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr));
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(pDb, "SELECT path, seconds, words FROM fingerprints",
                                            -1, &pStmt, nullptr));
    int nEntries = 0;
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
      std::string strPath(static_cast<const char*>(sqlite3_column_blob(pStmt, 0)),
                          sqlite3_column_bytes(pStmt, 0));
      int nSeconds = sqlite3_column_int(pStmt, 1);
      std::string strWords(static_cast<const char*>(sqlite3_column_blob(pStmt, 2)),
                           sqlite3_column_bytes(pStmt, 2));
      std::vector<uint32_t> vecStored;
      EXPECT_TRUE(twintone::DecodeWords(strWords, &vecStored)) << strPath;
      tagCChromaPrintInfo info{};
      int32_t* pFresh = nullptr;
      int32_t nFresh = 0;
      EXPECT_EQ(0,
                ExtractFingerprint(strPath.c_str(), 0, &info, nSeconds, nullptr, &pFresh, &nFresh));
      if (info.handle != nullptr) DestroyConvertTask(&info.handle);
      EXPECT_EQ(std::vector<uint32_t>(pFresh, pFresh + nFresh), vecStored) << strPath << nSeconds;
      free(pFresh);
      ++nEntries;
    }
    sqlite3_finalize(pStmt);
    sqlite3_close(pDb);
    return nEntries;
  }

  TempDir tmp_;
};

TEST_F(FingerprintCacheTest, RunsKilledAtRandomMomentsLeaveOnlyCorrectEntries) {
  std::string strCache = tmp_.Path("cache/fingerprints.sqlite");
  auto music = Snapshot(tmp_.Path("music"));
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, RunCli(FingerprintArgs(10, "")).nExitCode);
  auto nFullMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();

  // Each run asks for other seconds than the runs before, so each has fresh entries to
  // write; runs go on until 30 were killed before they ended.
  std::mt19937 random(20261206);
  // Kills land anywhere from the start to past the end of a run, the final commit
  // included; runs that were not killed add entries of their own.
  std::uniform_int_distribution<long> delay(0, nFullMs * 13 / 10);
  int nKilled = 0;
  for (int i = 0; i < 120 && nKilled < 30; ++i) {
    CliProcess run(FingerprintArgs(3 + i % 25, strCache));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
    run.Signal(SIGKILL);
    if (run.Finish().nExitCode == -1) ++nKilled;
  }
  EXPECT_GE(nKilled, 30);
  ASSERT_EQ(0, RunCli(FingerprintArgs(10, strCache)).nExitCode);
  EXPECT_GT(CheckEveryEntry(strCache), 0);
  EXPECT_EQ(music, Snapshot(tmp_.Path("music")));  // the music is only ever read
}

TEST_F(FingerprintCacheTest, TwoRunsOnOneCacheBothFinishWithTheRightGroups) {
  std::string strCache = tmp_.Path("shared.sqlite");
  CliResult alone = RunCli(FingerprintArgs(10, ""));
  ASSERT_EQ(0, alone.nExitCode) << alone.strErr;
  for (int nRound = 0; nRound < 2; ++nRound) {  // an empty cache, then a full one
    CliProcess first(FingerprintArgs(10, strCache));
    CliProcess second(FingerprintArgs(10, strCache));
    for (CliResult result : {first.Finish(), second.Finish()}) {
      EXPECT_EQ(0, result.nExitCode) << result.strErr;
      EXPECT_EQ("", result.strErr);
      EXPECT_EQ(alone.strOut, result.strOut);
    }
  }
  EXPECT_EQ(8, CheckEveryEntry(strCache));
}

}  // namespace
}  // namespace twintone_cli_test
