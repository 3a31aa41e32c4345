// The parallel group search answers exactly as a loop from the first group would.
#include "grouping/group_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "fixtures/fingerprints.h"

using namespace twintone;

namespace {

void ExpectFirstPassingIndices(ParallelGroupScan* pScan) {
  FingerprintMaker maker(5);
  for (int nRound = 0; nRound < 200; ++nRound) {
    std::vector<char> vecPass(64 + maker.Word() % 500);
    for (char& c : vecPass) c = maker.Word() % 40 == 0;
    const size_t nExpected = std::find(vecPass.begin(), vecPass.end(), 1) - vecPass.begin();
    EXPECT_EQ(pScan->FindFirst(vecPass.size(), [&](size_t i) { return vecPass[i] != 0; }),
              nExpected);
  }
  EXPECT_EQ(pScan->FindFirst(0, [](size_t) { return true; }), 0u);
  EXPECT_EQ(pScan->FindFirst(10, [](size_t i) { return i == 9; }), 9u);
}

// As a fingerprint run's decode pool helps: threads the scan does not own, woken
// through the hook, each also busy with work of its own in between.
TEST(GroupScanTest, ThreadsOfAnotherPoolHelpAndTheAnswerStaysTheFirst) {
  std::mutex mutex;
  std::condition_variable cvWake;
  bool bStop = false;
  ParallelGroupScan scan(0, [&] {
    { std::lock_guard<std::mutex> lock(mutex); }
    cvWake.notify_all();
  });
  std::vector<std::thread> vecPool;
  for (int i = 0; i < 2; ++i) {
    vecPool.emplace_back([&] {
      std::unique_lock<std::mutex> lock(mutex);
      while (!bStop) {
        cvWake.wait_for(lock, std::chrono::microseconds(200),
                        [&] { return bStop || scan.SearchOpen(); });
        lock.unlock();
        scan.Help();
        lock.lock();
      }
    });
  }
  ExpectFirstPassingIndices(&scan);
  {
    std::lock_guard<std::mutex> lock(mutex);
    bStop = true;
  }
  cvWake.notify_all();
  for (std::thread& t : vecPool) t.join();
}

}  // namespace
