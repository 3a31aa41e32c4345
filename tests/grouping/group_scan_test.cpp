// The parallel group search answers exactly as a loop from the first group would.
#include <random>

#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/fingerprints.h"
#include "grouping/group_scan.h"

namespace {

class GroupScanTest : public ::testing::Test {
 protected:
  ParallelGroupScan scan_{3};
};

TEST_F(GroupScanTest, FindsTheFirstPassingIndexWhateverTheThreadsFinishFirst) {
  std::mt19937 rng(5);
  for (int nRound = 0; nRound < 200; ++nRound) {
    size_t n = 64 + rng() % 500;
    std::vector<char> vecPass(n);
    for (char& c : vecPass) c = rng() % 40 == 0;
    size_t nExpected = std::find(vecPass.begin(), vecPass.end(), 1) - vecPass.begin();
    EXPECT_EQ(scan_.FindFirst(n, [&](size_t i) { return vecPass[i] != 0; }), nExpected);
  }
  EXPECT_EQ(scan_.FindFirst(0, [](size_t) { return true; }), 0u);
  EXPECT_EQ(scan_.FindFirst(10, [](size_t i) { return i == 9; }), 9u);
}

TEST_F(GroupScanTest, FilingWithTheParallelSearchGivesTheSameGroupsAndScores) {
  // 150 distinct recordings, then a noisy re-read of every third one.
  FingerprintMaker maker(9);
  std::vector<Words> vecFingers;
  for (int i = 0; i < 150; ++i) vecFingers.push_back(maker.Drifting(300, 3));
  for (int i = 0; i < 150; i += 3) vecFingers.push_back(maker.Sprinkled(maker.Shifted(vecFingers[i], 5), 2, 3));

  auto file = [&](ParallelGroupScan* pScan) {
    CDedupeMusic engine;
    engine.nMatchFlags = TWINTONE_MATCH_FINGERPRINT;
    engine.pGroupScan = pScan;
    std::vector<std::unique_ptr<InerMusicDedupInfo>> vecRecords;
    for (size_t i = 0; i < vecFingers.size(); ++i) {
      auto pRecord = std::make_unique<InerMusicDedupInfo>();
      pRecord->strPath = std::to_string(i);
      GroupKey* pKey = pRecord->pGroupKey;
      pKey->pFinger = static_cast<int32_t*>(malloc(vecFingers[i].size() * 4));
      memcpy(pKey->pFinger, vecFingers[i].data(), vecFingers[i].size() * 4);
      pKey->nFingerLen = static_cast<int32_t>(vecFingers[i].size());
      engine.AddToReaptList(pRecord.get());
      vecRecords.push_back(std::move(pRecord));
    }
    std::vector<std::pair<std::string, float>> vecOutcome;
    for (auto& entry : engine.mapGroups) {
      for (InerMusicDedupInfo* pMember : *entry.second) {
        vecOutcome.emplace_back(pMember->strPath, pMember->fSimilarity);
      }
      vecOutcome.emplace_back("|", 0.0f);
      delete entry.second;
    }
    return vecOutcome;
  };
  std::vector<std::pair<std::string, float>> vecAlone = file(nullptr);
  EXPECT_EQ(file(&scan_), vecAlone);
  EXPECT_EQ(std::count(vecAlone.begin(), vecAlone.end(), std::make_pair(std::string("|"), 0.0f)),
            150);
}

}  // namespace
