// Runs killed at random moments, by one harness: moves within one file system and across
// two, undoing them, and scans filling the fingerprint cache. Whatever moment SIGKILL
// lands at, --undo puts every file back byte for byte, leaves nothing in the target and
// can itself be killed and rerun; every cache entry left matches a fresh fingerprint.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "analysis/fingerprint.h"
#include "audio_decoder.h"
#include "cli_runner.h"
#include "common/file_ops.h"
#include "engine/store_use.h"
#include "support/fingerprint_store.h"
#include "support/word_codec.h"

using namespace twintone;

namespace twintone_cli_test {
namespace {

using Clock = std::chrono::steady_clock;

int64_t SizeOf(const std::string& strPath) {
  twintone_cli::FileFacts facts = twintone_cli::FactsOf(strPath);
  return facts.bExists ? facts.nSize : -1;
}

// Waits up to ten seconds for strPath's size (-1: absent) to differ from nSize.
void WaitForSizePast(const std::string& strPath, int64_t nSize) {
  for (Clock::time_point end = Clock::now() + std::chrono::seconds(10);
       SizeOf(strPath) == nSize && Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

// The kill harness: runs the command with vecArgs and, when nDelayUs >= 0, kills it that
// long after pfnStarted returns (at once when none is given). Returns how long the run
// went on after that moment: a run to the end measures the window kills are spread over.
struct Timed {
  long nUs;
  CliResult result;
};
Timed RunKilledAfter(const std::vector<std::string>& vecArgs, long nDelayUs,
                   const std::function<void()>& pfnStarted = {}) {
  CliProcess process(vecArgs);
  if (pfnStarted) pfnStarted();
  Clock::time_point start = Clock::now();
  if (nDelayUs >= 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(nDelayUs));
    process.Signal(SIGKILL);
  }
  CliResult result = process.Finish();
  auto nUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  return {static_cast<long>(nUs), result};
}

class KillTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& strMount : vecMounts) {
      EXPECT_EQ(0, std::system(("umount -l " + strMount).c_str()));
    }
  }

  // A fresh tmpfs at dir/strName when the test may mount one (fsyncs there cost
  // nothing, so kills test the order of the steps); else, with bElsewhere, /dev/shm
  // when it is another file system; else "".
  std::string Mounted(const std::string& strName, bool bElsewhere) {
    std::string strDir = dir.MakeDir(strName);
    if (std::system(("mount -t tmpfs -o size=64m tmpfs " + strDir + " 2>/dev/null").c_str()) == 0) {
      return vecMounts.push_back(strDir), strDir;
    }
    std::string strShm = "/dev/shm/twintone-kill-" + std::to_string(getpid());
    bool bOther = bElsewhere && mkdir(strShm.c_str(), 0700) == 0 &&
                  twintone_cli::FactsOf(strShm).nDevice != twintone_cli::FactsOf(strDir).nDevice;
    return bOther ? strShm : bElsewhere ? "" : strDir;
  }

  // Undoes the journal nRuns times, the first killed part-way when nKillUs >= 0 (after
  // its first line of progress); then everything must be as it was.
  void ExpectUndone(const std::string& strTarget, int nRuns, long nKillUs) {
    if (int64_t nSize = SizeOf(strJournal); nSize >= 0 && nKillUs >= 0) {
      RunKilledAfter({"--undo", strJournal}, nKillUs, [&] { WaitForSizePast(strJournal, nSize); });
    }
    for (int nRun = 0; SizeOf(strJournal) >= 0 && nRun < nRuns; ++nRun) {
      CliResult result = RunCli({"--undo", strJournal});
      ASSERT_EQ(0, result.nExitCode) << result.strOut << result.strErr;
      nUndoneMidway += nRun == 0 && result.strOut.find("Undo: 0 restored") == std::string::npos;
    }
    unlink(strJournal.c_str());
    ASSERT_EQ(mapBefore, Snapshot(strNear + "/lib"));
    EXPECT_TRUE(!twintone_cli::FactsOf(strTarget).bExists || Snapshot(strTarget).empty());
  }

  // Every entry of the fingerprint cache compared with a fresh fingerprint of its file.
  // Returns how many entries there are.
  static int CheckEveryEntry(const std::string& strCache) {
    twintone::FingerprintStore store(twintone::FingerprintVersionText());
    EXPECT_EQ(twintone::kStoreOk, store.Open(strCache)) << store.Message();
    sqlite3* pDb = nullptr;
    sqlite3_stmt* pStmt = nullptr;
    sqlite3_open_v2(strCache.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr);
    EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(pDb, "SELECT path, seconds, words FROM fingerprints",
                                            -1, &pStmt, nullptr));
    int nEntries = 0;
    for (; sqlite3_step(pStmt) == SQLITE_ROW; ++nEntries) {
      auto Text = [&](int n) {
        return std::string(static_cast<const char*>(sqlite3_column_blob(pStmt, n)),
                           sqlite3_column_bytes(pStmt, n));
      };
      std::string strPath = Text(0);
      int nSeconds = sqlite3_column_int(pStmt, 1);
      std::vector<uint32_t> vecStored;
      EXPECT_TRUE(twintone::DecodeWords(Text(2), &vecStored)) << strPath;
      tagCChromaPrintInfo info{};
      int32_t* pFresh = nullptr;
      int32_t nFresh = 0;
      EXPECT_EQ(0, ExtractFingerprint(strPath.c_str(), 0, &info, nSeconds, nullptr, &pFresh,
                                      &nFresh));
      if (info.handle != nullptr) DestroyConvertTask(&info.handle);
      EXPECT_EQ(std::vector<uint32_t>(pFresh, pFresh + nFresh), vecStored) << strPath << nSeconds;
      free(pFresh);
    }
    sqlite3_finalize(pStmt);
    sqlite3_close(pDb);
    return nEntries;
  }

  TempDir dir;
  std::vector<std::string> vecMounts;
  std::string strNear, strJournal;
  std::map<std::string, std::string> mapBefore;
  int nUndoneMidway = 0;  // kills after which --undo had files to put back
};

TEST_F(KillTest, EveryKilledMoveIsUndoneWithEveryByteAccountedFor) {
  // Three groups of three copies, 64 KB to 1.5 MB each: a copy across file systems
  // takes a while to kill in the middle of.
  strNear = Mounted("near", false), strJournal = strNear + "/journal.jsonl";
  std::mt19937 random(20261205);
  std::vector<std::vector<std::string>> vecGroups(3);
  for (int g = 0; g < 3; ++g) {
    for (std::string strFolder : {"A", "B/deep", "C"}) {
      std::string strBytes(64 * 1024 + random() % (1400 * 1024), '\0');
      for (char& c : strBytes) c = static_cast<char>(random());
      dir.MakeDir("near/lib/" + strFolder);
      vecGroups[g].push_back(dir.WriteFile(
          "near/lib/" + strFolder + "/song" + std::to_string(g) + ".flac", strBytes));
    }
  }
  mapBefore = Snapshot(strNear + "/lib");
  std::vector<std::string> vecTargets = {strNear + "/dups"};
  std::string strFar = Mounted("far", true);
  if (!strFar.empty()) vecTargets.push_back(strFar + "/dups");
  for (const std::string& strTarget : vecTargets) {
    auto Move = [&](long nDelayUs, bool bEarly) {
      std::string strPlan = dir.WriteFile("plan.json", PlanJson(vecGroups, strNear + "/lib"));
      return RunKilledAfter(
          {"-q", "--apply", strPlan, "--move-duplicates", strTarget, "--journal", strJournal},
          nDelayUs, [&] {
            if (!bEarly) WaitForSizePast(strJournal, -1);
          });
    };
    // One run to the end measures the window. Every tenth kill lands before the journal
    // can exist; every fourth undo is itself killed part-way first; every fifth runs twice.
    Timed whole = Move(-1, false);
    ASSERT_EQ(0, whole.result.nExitCode) << whole.result.strErr;
    ExpectUndone(strTarget, 2, -1);
    for (int nKill = 0; nKill < 52 / static_cast<int>(vecTargets.size()); ++nKill) {
      long nDelayUs = std::uniform_int_distribution<long>(0, whole.nUs)(random);
      Move(nDelayUs, nKill % 10 == 0);
      ExpectUndone(strTarget, nKill % 5 == 0 ? 2 : 1, nKill % 4 == 3 ? nDelayUs / 2 : -1);
      if (HasFatalFailure()) {
        FAIL() << "after a kill at " << nDelayUs << " us of " << whole.nUs << " into " << strTarget;
      }
    }
  }
  EXPECT_GT(nUndoneMidway, 0);
  if (strFar.empty()) GTEST_SKIP() << "no second file system: only moves within one were killed";
}

// Scans of two pieces in four encodings with the cache, killed anywhere from the start
// to past the end (the final commit included), each asking for other seconds than the
// runs before so each has fresh entries to write; then two runs share the cache.
TEST_F(KillTest, ScansKilledAtRandomMomentsLeaveOnlyCorrectCacheEntries) {
  for (size_t nPiece = 0; nPiece < 2; ++nPiece) {
    for (AudioEncoding enc : {AudioEncoding::kWav, AudioEncoding::kFlac, AudioEncoding::kMp3At128,
                              AudioEncoding::kOggVorbis}) {
      const std::string& strFrom = twintone_test::SharedAudioCorpus().Path(nPiece, enc);
      CopyPiece(nPiece, enc, dir.Path("music/" + FileName(strFrom)));
    }
  }
  auto Scan = [&](int nSeconds, const std::string& strCache) {
    std::vector<std::string> vecArgs = {"-q", "--csv", "--seconds", std::to_string(nSeconds),
                                        dir.Path("music"), "--cache", strCache};
    if (strCache.empty()) vecArgs.resize(5), vecArgs.push_back("--no-cache");
    return vecArgs;
  };
  std::string strCache = dir.Path("cache/fingerprints.sqlite");
  auto music = Snapshot(dir.Path("music"));
  Timed alone = RunKilledAfter(Scan(10, ""), -1);
  ASSERT_EQ(0, alone.result.nExitCode) << alone.result.strErr;
  std::mt19937 random(20261206);
  std::uniform_int_distribution<long> delay(0, alone.nUs * 13 / 10);
  int nKilled = 0;
  for (int i = 0; i < 120 && nKilled < 30; ++i) {
    nKilled += RunKilledAfter(Scan(3 + i % 25, strCache), delay(random)).result.nExitCode == -1;
  }
  EXPECT_GE(nKilled, 30);
  CliProcess first(Scan(10, strCache)), second(Scan(10, strCache));
  for (CliResult result : {first.Finish(), second.Finish()}) {
    EXPECT_EQ(0, result.nExitCode) << result.strErr;
    EXPECT_EQ("", result.strErr);
    EXPECT_EQ(alone.result.strOut, result.strOut);
  }
  EXPECT_GE(CheckEveryEntry(strCache), 8);
  EXPECT_EQ(music, Snapshot(dir.Path("music")));  // the music is only ever read
}

}  // namespace
}  // namespace twintone_cli_test
