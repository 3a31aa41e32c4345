// The parallel group search answers exactly as a loop from the first group would.
#include "grouping/group_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "grouping/duplicate_filing.h"
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

TEST(GroupScanTest, FilingWithTheParallelSearchGivesTheSameGroupsAndScores) {
  // 150 distinct recordings, then a noisy re-read of every third one.
  FingerprintMaker maker(9);
  std::vector<Words> vecFingers;
  for (int i = 0; i < 150; ++i) vecFingers.push_back(maker.Drifting(300, 3));
  for (int i = 0; i < 150; i += 3)
    vecFingers.push_back(maker.Flipped(maker.Shifted(vecFingers[i], 5), 2, 3));
  // Each group's members with their scores, groups ended by "|".
  auto file = [&](ParallelGroupScan* pScan) {
    FilingRules rules;
    rules.bFingerprint = true;
    rules.pScan = pScan;
    GroupMap groups;
    FilingIndexCache index;
    std::vector<InerMusicDedupInfo> vecRecords(vecFingers.size());
    for (size_t i = 0; i < vecFingers.size(); ++i) {
      vecRecords[i].strPath = std::to_string(i);
      SetFinger(vecRecords[i].pGroupKey, vecFingers[i]);
      FileRecord(&groups, &vecRecords[i], rules, &index);
    }
    std::string strOutcome;
    for (auto& entry : groups) {
      for (InerMusicDedupInfo* p : *entry.second)
        strOutcome += p->strPath + ":" + std::to_string(p->fSimilarity) + " ";
      strOutcome += "|";
    }
    ReleaseGroups(&groups);
    return strOutcome;
  };
  ParallelGroupScan scan(3);
  const std::string strAlone = file(nullptr);
  EXPECT_EQ(file(&scan), strAlone);
  EXPECT_EQ(std::count(strAlone.begin(), strAlone.end(), '|'), 150);
}

}  // namespace
