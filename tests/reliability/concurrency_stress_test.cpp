// Host threads calling every entry point at random moments while runs come and go:
// no deadlock (every run and every call ends within a bound), no data race (run
// under ThreadSanitizer), sane event sequences, and an engine that afterwards
// groups exactly as before. Stopping a run and loading the same files again gives
// the groups of an uninterrupted run.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
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

// The callback of ConsecutiveRunsNeverOverlapTheirCallbacks, for the runs it
// starts from inside itself.
DedupeNotifyProc g_pfnChained = nullptr;

constexpr int kRunBoundSeconds = 120;

class ConcurrencyStressTest : public ::testing::Test {
 protected:
  // Text mode: 24 records in 6 groups of 4, on files that exist. Fingerprint mode:
  // two pieces in two encodings each, and one piece alone.
  void SetUp() override {
    for (int i = 0; i < 24; ++i) {
      HostRecord record;
      record.strPath = dir_.WriteFile("rec" + std::to_string(i) + ".mp3", "x");
      record.strTitle = "Title " + std::to_string(i % 6);
      record.nBitrate = 64 + 32 * (i % 4);
      vecRecords_.push_back(record);
    }
    const AudioCorpus& corpus = SharedAudioCorpus();
    vecAudio_ = {corpus.Path(0, AudioEncoding::kMp3At128), corpus.Path(0, AudioEncoding::kFlac),
                 corpus.Path(1, AudioEncoding::kMp3At320), corpus.Path(1, AudioEncoding::kOggVorbis),
                 corpus.Path(2, AudioEncoding::kWav)};
    ASSERT_EQ(AddHostRecord(vecRecords_[0]), 0);  // the engine is made on this thread
  }

  // Loads a set, retrying while a host thread's intake holds the data lock for a
  // moment. A path some host thread already added gives -2, which is fine.
  void Load(bool bAudio) {
    const size_t n = bAudio ? vecAudio_.size() : vecRecords_.size();
    for (size_t i = 0; i < n; ++i) {
      int nCode = -1;
      for (int nTry = 0; nCode == -1 && nTry < 100000; ++nTry, std::this_thread::yield()) {
        nCode = bAudio ? AddToDedupeLists(vecAudio_[i].c_str(), 0) : AddHostRecord(vecRecords_[i]);
      }
      EXPECT_TRUE(nCode == 0 || nCode == -2) << nCode;
    }
  }

  static void DeallocUntilDone() {
    for (int i = 0; DedupeDealloc() != 0; ++i, std::this_thread::yield()) {
      if (i > 200000) {
        fprintf(stderr, "HANG: DedupeDealloc kept failing\n");
        std::_Exit(3);
      }
    }
  }

  static int Flags(bool bAudio) {
    return bAudio ? TWINTONE_MATCH_FINGERPRINT : TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST;
  }

  // A run without callback over exactly one set, from an empty engine.
  Groups CleanRun(bool bAudio) {
    DeallocUntilDone();
    Load(bAudio);
    EXPECT_EQ(StartDedupeThread(nullptr, nullptr, Flags(bAudio), 8, 0), 0);
    return ReadGroups();
  }

  // Starts a run and waits for its end; the events must be the start, progress
  // 1, 2, ... up to at most N, then the end.
  void RunAndCheckEvents(EventRecorder* pRecorder, bool bAudio, int nRun) {
    ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, pRecorder, Flags(bAudio), 8, 0), 0)
        << "run " << nRun << ": the previous run had ended";
    WaitForEndOrDie(pRecorder, kRunBoundSeconds, "a run");
    const std::vector<int> vecCodes = pRecorder->Codes();
    ASSERT_GE(vecCodes.size(), 2u) << "run " << nRun;
    EXPECT_EQ(vecCodes.front(), -1) << "run " << nRun;
    for (size_t k = 1; k + 1 < vecCodes.size(); ++k) {
      EXPECT_EQ(vecCodes[k], static_cast<int>(k)) << "run " << nRun;
    }
  }

  TempDir dir_;
  std::vector<HostRecord> vecRecords_;
  std::vector<std::string> vecAudio_;
};

TEST_F(ConcurrencyStressTest, HostThreadsCallingAnythingAnytimeNeitherHangNorCorrupt) {
  const Groups textBaseline = CleanRun(false);
  const Groups audioBaseline = CleanRun(true);
  ASSERT_EQ(textBaseline.size(), 6u);
  ASSERT_EQ(audioBaseline.size(), 2u);

  std::atomic<bool> bStop{false};
  std::atomic<long> nCalls{0};
  std::atomic<int> nFinished{0};
  std::vector<std::thread> vecHosts;
  for (unsigned nSeed = 0; nSeed < 4; ++nSeed) {
    vecHosts.emplace_back([this, nSeed, &bStop, &nCalls, &nFinished] {
      std::mt19937 rng(nSeed);
      tagInMusicDedupInfo* pInfo = nullptr;
      int nCount = 0;
      for (; !bStop.load(); ++nCalls) {
        switch (rng() % 10) {
          case 0: PauseDedupeThread(); break;
          case 1: case 2: ContinueDedupeThread(); break;
          case 3: QuitDedupeThread(); break;
          case 4: GetLoadCounts(); break;
          case 5: GetGroupIdCounts(); break;
          // The record is not read: another thread may free it at any moment.
          case 6: GetGroupRef(rng() % 8, &pInfo, &nCount, static_cast<int>(rng() % 5) - 1); break;
          case 7: AddHostRecord(vecRecords_[rng() % vecRecords_.size()]); break;
          case 8: AddToDedupeLists(vecAudio_[rng() % vecAudio_.size()].c_str(), 0); break;
          case 9: if (rng() % 4 == 0) DedupeDealloc(); break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
      }
      ++nFinished;
    });
  }

  // Recorders live to the end of the test: a worker may still be returning from
  // its last callback when the next run starts.
  std::vector<std::unique_ptr<EventRecorder>> vecRecorders;
  for (int nRun = 0; nRun < 30; ++nRun) {
    const bool bAudio = nRun % 6 == 5;
    Load(bAudio);
    vecRecorders.push_back(std::make_unique<EventRecorder>());
    // A callback that takes a moment, so that runs last long enough to be hit.
    vecRecorders.back()->onEvent = [](int) {
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    };
    RunAndCheckEvents(vecRecorders.back().get(), bAudio, nRun);
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

// Stop a run at several positions, from the callback or from another thread, clear,
// load the same files and run again: the groups of the uninterrupted run each time.
TEST_F(ConcurrencyStressTest, RunAgainAfterAStopGivesTheGroupsOfAnUninterruptedRun) {
  for (bool bAudio : {false, true}) {
    const Groups baseline = CleanRun(bAudio);
    for (int nStopAt : {1, bAudio ? 3 : 12}) {
      for (bool bFromCallback : {true, false}) {
        DeallocUntilDone();
        Load(bAudio);
        EventRecorder recorder;
        std::atomic<bool> bReached{false};
        recorder.onEvent = [&](int nCode) {
          if (nCode == nStopAt && bFromCallback) QuitDedupeThread();
          if (nCode == nStopAt) bReached = true;
        };
        std::thread host([&] {
          while (!bReached.load() && !bFromCallback) std::this_thread::yield();
          if (!bFromCallback) QuitDedupeThread();
        });
        RunAndCheckEvents(&recorder, bAudio, nStopAt);
        host.join();
        ASSERT_EQ(CleanRun(bAudio), baseline)
            << (bAudio ? "fingerprint" : "text") << " mode, stopped at " << nStopAt;
      }
    }
  }
}

// The host's callback is entered by one run at a time: a run started the moment the
// previous end event begins, from a host thread or from inside that end event, sends
// nothing until the end event has returned.
TEST_F(ConcurrencyStressTest, ConsecutiveRunsNeverOverlapTheirCallbacks) {
  constexpr int kFromHost = 10, kChained = 10;
  Load(false);
  struct Host {
    std::atomic<int> nInside{0}, nOverlaps{0}, nFiles{0}, nEnds{0}, nRefused{0};
    std::mutex mutex;
    std::condition_variable cvEnd;
  } host;
  static Host* s_pHost = &host;
  DedupeNotifyProc pfn = [](void* pData, int nCode, const char*, void*) {
    Host& h = *s_pHost;
    if (h.nInside.fetch_add(1) != 0) ++h.nOverlaps;
    if (nCode == -1) h.nFiles = *static_cast<int*>(pData);
    if (nCode == h.nFiles.load() + 1) {
      {
        std::lock_guard<std::mutex> lock(h.mutex);
        ++h.nEnds;
      }
      h.cvEnd.notify_all();
      // The later runs are each started from inside the end event before them.
      const int nEnds = h.nEnds.load();
      if (nEnds >= kFromHost && nEnds < kFromHost + kChained) {
        if (StartDedupeThread(g_pfnChained, nullptr, TWINTONE_MATCH_TITLE, 0, 0) != 0) ++h.nRefused;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    --h.nInside;
  };
  g_pfnChained = pfn;
  auto waitForEnds = [&](int nEnds) {
    std::unique_lock<std::mutex> lock(host.mutex);
    return host.cvEnd.wait_for(lock, std::chrono::seconds(kRunBoundSeconds),
                               [&] { return host.nEnds.load() >= nEnds; });
  };
  for (int nRun = 0; nRun < kFromHost; ++nRun) {
    ASSERT_TRUE(nRun == 0 || waitForEnds(nRun));
    // From the second run on, the previous end event is still running.
    ASSERT_EQ(StartDedupeThread(pfn, nullptr, TWINTONE_MATCH_TITLE, 0, 0), 0) << "run " << nRun;
  }
  ASSERT_TRUE(waitForEnds(kFromHost + kChained));
  while (host.nInside.load() != 0) std::this_thread::yield();  // the last end event returns
  EXPECT_EQ(host.nOverlaps.load(), 0);
  EXPECT_EQ(host.nRefused.load(), 0);
}

}  // namespace
}  // namespace twintone_test
