// Host threads calling every entry point at random moments while runs come and go:
// no deadlock (every run and every call ends within a bound), no data race (run
// under ThreadSanitizer), sane event sequences, and an engine that afterwards
// groups exactly as before, after runs stopped from their own callback or by another
// thread. Consecutive runs never overlap inside the host's callback.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "reliability/run_watch.h"

namespace twintone_test {
namespace {

constexpr auto kCallbackTime = std::chrono::microseconds(300);
constexpr int kTexts = TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ARTIST;
constexpr int kFingerprints = TWINTONE_MATCH_FINGERPRINT;

class ConcurrencyStressTest : public ::testing::Test {
 protected:
  // Texts: 24 records of files that exist, 6 groups of 4. Fingerprints: 2 pairs, 1 alone.
  void SetUp() override {
    for (int i = 0; i < 24; ++i) {
      vecRecords_.push_back({dir_.WriteFile(std::to_string(i)), "Title " + std::to_string(i % 6)});
      vecRecords_.back().nBitrate = 64 + 32 * (i % 4);
    }
    const AudioCorpus& corpus = SharedAudioCorpus();
    vecAudio_ = {corpus.Path(0, AudioEncoding::kMp3At128), corpus.Path(0, AudioEncoding::kFlac),
                 corpus.Path(1, AudioEncoding::kMp3At320),
                 corpus.Path(1, AudioEncoding::kOggVorbis), corpus.Path(2, AudioEncoding::kWav)};
    ASSERT_EQ(AddHostRecord(vecRecords_[0]), 0);  // the engine is made on this thread
  }

  // Loads a set, retrying while a host thread's intake holds the data lock for a
  // moment. A path some host thread already added gives -2, which is fine.
  void Load(bool bAudio) {
    for (size_t i = 0; i < (bAudio ? vecAudio_.size() : vecRecords_.size()); ++i) {
      int nCode = -1;
      for (int nTry = 0; nCode == -1 && nTry < 100000; ++nTry, std::this_thread::yield()) {
        nCode = bAudio ? AddToDedupeLists(vecAudio_[i].c_str(), 0) : AddHostRecord(vecRecords_[i]);
      }
      EXPECT_TRUE(nCode == 0 || nCode == -2) << nCode;
    }
  }

  // Loads a set and runs. Without a recorder the run starts from an empty engine (a
  // worker may still be returning from its end event) and gives its groups; with one,
  // its events are checked: the start, progress 1, 2, ... then the end.
  Groups Run(bool bAudio, EventRecorder* pRecorder = nullptr) {
    while (pRecorder == nullptr && DedupeDealloc() != 0) std::this_thread::yield();
    Load(bAudio);
    DedupeNotifyProc pfn = pRecorder ? &EventRecorder::Callback : nullptr;
    EXPECT_EQ(StartDedupeThread(pfn, pRecorder, bAudio ? kFingerprints : kTexts, 8, 0), 0);
    if (pRecorder == nullptr) return ReadGroups();
    WaitForEndOrDie(pRecorder, 120, "a run");
    const std::vector<int> vecCodes = pRecorder->Codes();
    EXPECT_EQ(vecCodes.at(0), -1);
    for (size_t k = 1; k + 1 < vecCodes.size(); ++k) EXPECT_EQ(vecCodes[k], static_cast<int>(k));
    return {};
  }

  TempDir dir_;
  std::vector<HostRecord> vecRecords_;
  std::vector<std::string> vecAudio_;
};

TEST_F(ConcurrencyStressTest, HostThreadsCallingAnythingAnytimeNeitherHangNorCorrupt) {
  const Groups textBaseline = Run(false), audioBaseline = Run(true);
  ASSERT_TRUE(textBaseline.size() == 6u && audioBaseline.size() == 2u);
  std::atomic<bool> bStop{false};
  std::atomic<int> nFinished{0};
  std::vector<std::thread> vecHosts;
  for (unsigned nSeed = 0; nSeed < 4; ++nSeed) {
    vecHosts.emplace_back([this, nSeed, &bStop, &nFinished] {
      std::mt19937 rng(nSeed);
      tagInMusicDedupInfo* pInfo = nullptr;
      int nCount = 0;
      for (; !bStop.load(); std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000))) {
        switch (rng() % 10) {
          case 0: PauseDedupeThread(); break;
          case 1: case 2: ContinueDedupeThread(); break;
          case 3: QuitDedupeThread(); break;
          case 4: GetLoadCounts(), GetGroupIdCounts(); break;
          // Groups past the last too; the record is not read, as another thread may free it.
          case 5: GetGroupRef(rng() % 8, &pInfo, &nCount, static_cast<int>(rng() % 5) - 1); break;
          case 6: case 7: AddHostRecord(vecRecords_[rng() % vecRecords_.size()]); break;
          case 8: AddToDedupeLists(vecAudio_[rng() % vecAudio_.size()].c_str(), 0); break;
          case 9: if (rng() % 4 == 0) DedupeDealloc(); break;
        }
      }
      ++nFinished;
    });
  }
  // Recorders live to the end of the test: a worker may still be returning from its
  // last callback when the next run starts. Every sixth run fingerprints.
  std::vector<std::unique_ptr<EventRecorder>> vecRecorders;
  for (int nRun = 0; nRun < 30; ++nRun) {
    vecRecorders.push_back(std::make_unique<EventRecorder>());
    // A callback that takes a moment, so that runs last long enough to be hit; every
    // third run it stops the run from inside its second event.
    vecRecorders.back()->onEvent = [bStopAtTwo = nRun % 3 == 1](int nCode) {
      if (bStopAtTwo && nCode == 2) QuitDedupeThread();
      std::this_thread::sleep_for(kCallbackTime);
    };
    Run(nRun % 6 == 5, vecRecorders.back().get());
  }
  bStop = true;
  ContinueDedupeThread();
  // A host call stuck on a lock would keep its thread from ever finishing.
  for (int i = 0; nFinished.load() < 4; ++i, std::this_thread::sleep_for(kCallbackTime)) {
    if (i > 200000) fprintf(stderr, "HANG: a host thread's call did not return\n"), std::_Exit(3);
  }
  for (std::thread& host : vecHosts) host.join();
  EXPECT_EQ(Run(false), textBaseline);
  EXPECT_EQ(Run(true), audioBaseline);
}

// The host's callback is entered by one run at a time: a run started the moment the
// previous end event begins, from a host thread or from inside that end event, sends
// nothing until the end event has returned.
constexpr int kFromHost = 10, kRuns = 20;
std::atomic<int> g_nInside{0}, g_nOverlaps{0}, g_nFiles{0}, g_nEnds{0};

void WatchedCallback(void* pData, int nCode, const char*, void*) {
  g_nOverlaps += g_nInside++ != 0;
  if (nCode == -1) g_nFiles = *static_cast<int*>(pData);
  if (nCode == g_nFiles + 1) {
    // The later runs are each started from inside the end event before them.
    const int nEnds = ++g_nEnds;
    if (nEnds >= kFromHost && nEnds < kRuns) {
      EXPECT_EQ(StartDedupeThread(WatchedCallback, nullptr, TWINTONE_MATCH_TITLE, 0, 0), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  --g_nInside;
}

TEST_F(ConcurrencyStressTest, ConsecutiveRunsNeverOverlapTheirCallbacks) {
  Load(false);
  const auto tDeadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  // The first runs are started from here as soon as the end event before them begins.
  for (int nStarted = 0; g_nEnds.load() < kRuns || g_nInside.load() != 0;
       std::this_thread::yield()) {
    if (nStarted < kFromHost && g_nEnds.load() == nStarted && ++nStarted) {
      ASSERT_EQ(StartDedupeThread(WatchedCallback, nullptr, TWINTONE_MATCH_TITLE, 0, 0), 0);
    }
    if (std::chrono::steady_clock::now() > tDeadline) fprintf(stderr, "HANG\n"), std::_Exit(3);
  }
  EXPECT_EQ(g_nOverlaps.load(), 0);
}

}  // namespace
}  // namespace twintone_test
