// Host threads calling every entry point at random moments while runs come and go:
// no deadlock (every run and every call ends within a bound), no data race (run
// under ThreadSanitizer), sane event sequences, and an engine that afterwards
// groups exactly as before. Stopping a run and loading the same files again gives
// the groups of an uninterrupted run.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/event_recorder.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "reliability/run_watch.h"
#include "twintone.h"

namespace twintone_test {
namespace {

constexpr int kRunBoundSeconds = 120;
constexpr int kTextFlags = TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST;

class ConcurrencyStressTest : public ::testing::Test {
 protected:
  // Text mode: 24 records in 6 groups of 4, on files that exist.
  void MakeTextSet() {
    for (int i = 0; i < 24; ++i) {
      HostRecord record;
      record.strPath = dir_.WriteFile("rec" + std::to_string(i) + ".mp3", "x");
      record.strTitle = "Title " + std::to_string(i % 6);
      record.strArtist = "Artist";
      record.nBitrate = 64 + 32 * (i % 4);
      record.nUserData = i;
      vecRecords_.push_back(record);
    }
  }

  // Fingerprint mode: two pieces in two encodings each, and one piece alone.
  void MakeAudioSet() {
    const AudioCorpus& corpus = SharedAudioCorpus();
    vecAudio_ = {corpus.Path(0, AudioEncoding::kMp3At128), corpus.Path(0, AudioEncoding::kFlac),
                 corpus.Path(1, AudioEncoding::kMp3At320), corpus.Path(1, AudioEncoding::kOggVorbis),
                 corpus.Path(2, AudioEncoding::kWav)};
  }

  // Loads a set; retried while a host thread's intake holds the data lock for a
  // moment. A path some host thread already added gives -2, which is fine.
  void Load(bool bAudio) {
    if (bAudio) {
      for (const std::string& strPath : vecAudio_) {
        Retry([&] { return AddToDedupeLists(strPath.c_str(), 0); });
      }
    } else {
      for (const HostRecord& record : vecRecords_) Retry([&] { return AddHostRecord(record); });
    }
  }

  template <typename Op>
  void Retry(Op op) {
    for (int i = 0; i < 100000; ++i) {
      const int nCode = op();
      if (nCode != -1) {
        EXPECT_TRUE(nCode == 0 || nCode == -2) << nCode;
        return;
      }
      std::this_thread::yield();
    }
    FAIL() << "intake refused for ever";
  }

  static void DeallocUntilDone() {
    for (int i = 0; DedupeDealloc() != 0; ++i) {
      if (i > 200000) {
        fprintf(stderr, "HANG: DedupeDealloc kept failing\n");
        std::_Exit(3);
      }
      std::this_thread::yield();
    }
  }

  // A run without callback over exactly one set, from an empty engine.
  Groups CleanRun(bool bAudio) {
    DeallocUntilDone();
    Load(bAudio);
    EXPECT_EQ(StartDedupeThread(nullptr, nullptr, Flags(bAudio), 8, 0), 0);
    return ReadGroups();
  }

  static int Flags(bool bAudio) { return bAudio ? TWINTONE_MATCH_FINGERPRINT : kTextFlags; }

  // An event sequence as a run sends it, stopped or not: the start with N, then
  // progress 1, 2, ... up to at most N, then N + 1.
  static void ExpectWellFormed(const std::vector<int>& vecCodes, int nRun) {
    ASSERT_GE(vecCodes.size(), 2u) << "run " << nRun;
    const int n = static_cast<int>(vecCodes.size()) - 2;
    EXPECT_EQ(vecCodes.front(), -1) << "run " << nRun;
    for (int k = 1; k <= n; ++k) EXPECT_EQ(vecCodes[static_cast<size_t>(k)], k) << "run " << nRun;
  }

  TempDir dir_;
  std::vector<HostRecord> vecRecords_;
  std::vector<std::string> vecAudio_;
};

// One host thread: random calls with random short pauses until told to stop.
void Meddle(unsigned nSeed, const std::vector<HostRecord>* pRecords,
            const std::vector<std::string>* pAudio, const std::atomic<bool>* pbStop,
            std::atomic<long>* pnCalls) {
  std::mt19937 rng(nSeed);
  while (!pbStop->load()) {
    tagInMusicDedupInfo* pInfo = nullptr;
    int nCount = 0;
    switch (rng() % 10) {
      case 0:
        PauseDedupeThread();
        break;
      case 1:
      case 2:
        ContinueDedupeThread();
        break;
      case 3:
        QuitDedupeThread();
        break;
      case 4:
        GetLoadCounts();
        break;
      case 5:
        GetGroupIdCounts();
        break;
      case 6:
        // The record is not read: another thread may free it at any moment.
        GetGroupRef(rng() % 8, &pInfo, &nCount, static_cast<int>(rng() % 5) - 1);
        break;
      case 7:
        AddHostRecord((*pRecords)[rng() % pRecords->size()]);
        break;
      case 8:
        AddToDedupeLists((*pAudio)[rng() % pAudio->size()].c_str(), 0);
        break;
      case 9:
        if (rng() % 4 == 0) DedupeDealloc();
        break;
    }
    pnCalls->fetch_add(1);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
  }
}

TEST_F(ConcurrencyStressTest, HostThreadsCallingAnythingAnytimeNeitherHangNorCorrupt) {
  MakeTextSet();
  MakeAudioSet();
  ASSERT_EQ(AddHostRecord(vecRecords_[0]), 0);  // the engine is made on this thread
  const Groups textBaseline = CleanRun(false);
  const Groups audioBaseline = CleanRun(true);
  ASSERT_EQ(textBaseline.size(), 6u);
  ASSERT_EQ(audioBaseline.size(), 2u);

  std::atomic<bool> bStop{false};
  std::atomic<long> nCalls{0};
  std::atomic<int> nFinished{0};
  std::vector<std::thread> vecHosts;
  for (unsigned i = 0; i < 4; ++i) {
    vecHosts.emplace_back([this, i, &bStop, &nCalls, &nFinished] {
      Meddle(1000 + i, &vecRecords_, &vecAudio_, &bStop, &nCalls);
      ++nFinished;
    });
  }

  // Recorders live to the end of the test: a worker may still be returning from
  // its last callback when the next run starts.
  std::vector<std::unique_ptr<EventRecorder>> vecRecorders;
  constexpr int kRuns = 30;
  for (int nRun = 0; nRun < kRuns; ++nRun) {
    const bool bAudio = nRun % 6 == 5;
    Load(bAudio);
    vecRecorders.push_back(std::make_unique<EventRecorder>());
    EventRecorder* pRecorder = vecRecorders.back().get();
    // A host whose callback takes a moment, so that runs last long enough to be hit.
    pRecorder->onEvent = [](int) { std::this_thread::sleep_for(std::chrono::microseconds(300)); };
    ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, pRecorder, Flags(bAudio), 8, 0), 0)
        << "run " << nRun << ": the previous run had ended";
    WaitForEndOrDie(pRecorder, kRunBoundSeconds, "a run under host calls");
    ExpectWellFormed(pRecorder->Codes(), nRun);
  }

  bStop = true;
  ContinueDedupeThread();
  // A host call stuck on a lock would keep its thread from ever finishing.
  const auto tDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (nFinished.load() < static_cast<int>(vecHosts.size())) {
    if (std::chrono::steady_clock::now() > tDeadline) {
      fprintf(stderr, "HANG: a host thread's call did not return\n");
      std::_Exit(3);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (std::thread& host : vecHosts) host.join();
  EXPECT_GT(nCalls.load(), 100);

  EXPECT_EQ(CleanRun(false), textBaseline);
  EXPECT_EQ(CleanRun(true), audioBaseline);
}

// A host that starts again while a run is active is refused, and the active run
// keeps its own mode, threshold and callback to the end.
TEST_F(ConcurrencyStressTest, StartDuringARunIsRefusedAndChangesNothingOfIt) {
  MakeTextSet();
  ASSERT_EQ(AddHostRecord(vecRecords_[0]), 0);
  const Groups baseline = CleanRun(false);
  DeallocUntilDone();
  Load(false);

  EventRecorder first, second;
  std::atomic<bool> bStarted{false};
  std::atomic<bool> bTried{false};
  first.onEvent = [&](int nCode) {
    if (nCode == 1) bStarted = true;
    // Hold the run at its first file until the second start has been tried.
    while (nCode == 1 && !bTried.load()) std::this_thread::yield();
  };
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &first, kTextFlags, 0, 0), 0);
  while (!bStarted.load()) std::this_thread::yield();
  EXPECT_EQ(StartDedupeThread(&EventRecorder::Callback, &second, TWINTONE_MATCH_FINGERPRINT, 5, 100),
            -1);
  bTried = true;
  WaitForEndOrDie(&first, kRunBoundSeconds, "the first run");
  EXPECT_EQ(first.Codes().size(), vecRecords_.size() + 2);
  EXPECT_TRUE(second.Codes().empty());
  EXPECT_EQ(ReadGroups(), baseline);
}

// Stop at every position of a run (from the callback, from another thread, and by
// DedupeDealloc), clear, load the same files, run again: the groups of the
// uninterrupted run every time.
TEST_F(ConcurrencyStressTest, RunAgainAfterAStopGivesTheGroupsOfAnUninterruptedRun) {
  MakeTextSet();
  MakeAudioSet();
  ASSERT_EQ(AddHostRecord(vecRecords_[0]), 0);
  for (bool bAudio : {false, true}) {
    const Groups baseline = CleanRun(bAudio);
    const int n = bAudio ? static_cast<int>(vecAudio_.size()) : static_cast<int>(vecRecords_.size());
    for (int nStopAt = 1; nStopAt <= n; nStopAt += bAudio ? 2 : 5) {
      for (int nHow = 0; nHow < 3; ++nHow) {
        DeallocUntilDone();
        Load(bAudio);
        EventRecorder recorder;
        std::atomic<bool> bReached{false};
        recorder.onEvent = [&](int nCode) {
          if (nCode != nStopAt) return;
          if (nHow == 0) QuitDedupeThread();
          bReached = true;
        };
        ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, Flags(bAudio), 8, 0), 0);
        if (nHow > 0) {
          while (!bReached.load()) std::this_thread::yield();
          if (nHow == 1) QuitDedupeThread();
          if (nHow == 2) DedupeDealloc();  // refused while the run holds the data
        }
        WaitForEndOrDie(&recorder, kRunBoundSeconds, "a stopped run");
        ExpectWellFormed(recorder.Codes(), nStopAt);
        ASSERT_EQ(CleanRun(bAudio), baseline)
            << (bAudio ? "fingerprint" : "text") << " mode, stopped at " << nStopAt << " by "
            << nHow;
      }
    }
  }
}

}  // namespace
}  // namespace twintone_test
