// Filing through the grouping layer: which group a record joins, member order,
// similarity scores, and the equal-key clash.
#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/fingerprints.h"
#include "fixtures/temp_dir.h"
#include "grouping/duplicate_filing.h"
#include "support/log.h"

using namespace twintone;

namespace {

using Records = std::vector<InerMusicDedupInfo*>;

class DuplicateFilingTest : public ::testing::Test {
 protected:
  void SetUp() override { rules_.bFingerprint = true; }
  void TearDown() override { ReleaseGroups(&groups_); }
  // A record keyed by its fingerprint or, with no words, by strKey text; filed
  // unless told otherwise.
  InerMusicDedupInfo* Add(const Words& words, int nBitrate = 128, int nDuration = 200000,
                          const std::string& strKey = "", bool bFile = true) {
    vecOwned_.push_back(std::make_unique<InerMusicDedupInfo>());
    InerMusicDedupInfo* pRecord = vecOwned_.back().get();
    pRecord->strPath = "/r" + std::to_string(vecOwned_.size());
    pRecord->nBitrate = nBitrate;
    pRecord->nDuration = nDuration;
    pRecord->pGroupKey->strKey = strKey;
    if (!words.empty()) SetFinger(pRecord->pGroupKey, words);
    if (bFile) last_ = FileRecord(&groups_, pRecord, rules_, &index_);
    return pRecord;
  }
  Records Members(const GroupKey& key) {
    const RecordList* pList = groups_.at(key);
    return {pList->begin(), pList->end()};
  }
  bool Logged(const std::string& strLine) {
    return TempDir::ReadFile(logDir_.Path("dedupe.log")).find(strLine) != std::string::npos;
  }

  GroupMap groups_;
  FilingRules rules_;
  FilingIndexCache index_;
  FilingOutcome last_ = FilingOutcome::kFiled;
  TempDir logDir_;
  FingerprintMaker maker_{3};
  std::vector<std::unique_ptr<InerMusicDedupInfo>> vecOwned_;
};

// Equal texts share a group. A newcomer that outranks every member goes in front
// and swaps scores with the old front member; any other newcomer goes last.
TEST_F(DuplicateFilingTest, EqualTextsShareAGroupOrderedByRank) {
  g_log.EnableForTesting(logDir_.Root());
  rules_.bFingerprint = false;
  const struct {
    std::vector<std::pair<int, int>> vecAdded;  // bitrate, duration
    std::vector<size_t> vecOrder;
    std::vector<float> vecScores;  // in member order
  } cases[] = {
      {{{128, 200000}, {128, 190000}, {320, 210000}}, {2, 0, 1}, {1.0f, 0.2f, 0.1f}},  // all
      {{{128, 200000}, {320, 200000}, {192, 200000}}, {1, 0, 2}, {1.0f, 0.1f, 0.2f}},  // some
      {{{320, 200000}, {128, 200000}}, {0, 1}, {1.0f, 0.1f}}};                         // none
  for (const auto& c : cases) {
    Records vecAdded, vecWant;
    for (const auto& added : c.vecAdded) {
      vecAdded.push_back(Add({}, added.first, added.second, std::to_string(&c - cases), false));
      vecAdded.back()->fSimilarity = 0.1f * (vecAdded.size() - 1);  // as a host's may carry
      FileRecord(&groups_, vecAdded.back(), rules_, &index_);
    }
    std::vector<float> vecScores;
    for (size_t n : c.vecOrder) vecWant.push_back(vecAdded[n]);
    for (InerMusicDedupInfo* p : vecWant) vecScores.push_back(p->fSimilarity);
    EXPECT_EQ(Members(*vecAdded[0]->pGroupKey), vecWant) << "case " << &c - cases;
    EXPECT_EQ(vecScores, c.vecScores) << "case " << &c - cases;
  }
  EXPECT_EQ(groups_.size(), 3u);
  EXPECT_TRUE(Logged("\r\n找到重复[" + vecOwned_.back()->strPath + "]\r\n"));
}

// Under 20 words a fingerprint is filed nowhere. The score must exceed the
// threshold; the group keeps its founder's fingerprint as key, which a copy of the
// founder matches fully.
TEST_F(DuplicateFilingTest, JoiningScoreIsTheMatchScoreAndBetterCopyTakesTheFront) {
  const Words words = maker_.Random(300), shortWords = maker_.Random(20);
  Add({shortWords.begin(), shortWords.begin() + 19});
  EXPECT_EQ(last_, FilingOutcome::kTooShort);
  Add(shortWords, 1, 1);
  EXPECT_EQ(groups_.size(), 1u);
  InerMusicDedupInfo* pFounder = Add(words, 128);
  InerMusicDedupInfo* pBetter = Add(maker_.Flipped(words, 3), 320);  // scores 13/16
  InerMusicDedupInfo* pCopy = Add(words, 64);
  EXPECT_EQ(Members(*pFounder->pGroupKey), (Records{pBetter, pFounder, pCopy}));
  EXPECT_EQ(std::make_tuple(pBetter->fSimilarity, pFounder->fSimilarity, pCopy->fSimilarity),
            std::make_tuple(1.0f, 0.8125f, 1.0f));
  rules_.fThreshold = 0.8125f;
  Add(maker_.Flipped(words, 3));
  EXPECT_EQ(groups_.size(), 3u);
}

TEST_F(DuplicateFilingTest, RecordPassingTwoGroupsJoinsTheFirstInMapOrder) {
  const Words words = maker_.Random(120), head(words.begin(), words.begin() + 100);
  // Two groups whose keys both match the newcomer: the shorter key comes first.
  InerMusicDedupInfo* pLong = Add(words);
  InerMusicDedupInfo* pShort = Add(head, 128, 200000, "", false);
  groups_.emplace(*pShort->pGroupKey, new RecordList{pShort});
  InerMusicDedupInfo* pNewcomer = Add(words, 64);
  EXPECT_EQ(Members(*pShort->pGroupKey), (Records{pShort, pNewcomer}));
  EXPECT_EQ(Members(*pLong->pGroupKey), (Records{pLong}));
}

TEST_F(DuplicateFilingTest, EqualKeyClashAtFullThresholdIsLoggedAndLeavesTheRecordOut) {
  g_log.EnableForTesting(logDir_.Root());
  rules_.fThreshold = 1.0f;
  const Words words = maker_.Random(100);
  InerMusicDedupInfo* pFirst = Add(words);
  InerMusicDedupInfo* pSecond = Add(words);
  EXPECT_EQ(last_, FilingOutcome::kKeyCollision);
  EXPECT_EQ(Members(*pFirst->pGroupKey), (Records{pFirst}));
  EXPECT_EQ(pSecond->fSimilarity, 1.0f);
  EXPECT_TRUE(Logged("\n\ninsert bug[" + pSecond->strPath + "]!!!!\n\n\r\n"));
}

}  // namespace

namespace {

// A near-miss floor changes no group and no score. Each record remembers the founder
// it came nearest to above the floor but not above the threshold, among the groups
// scored before the one it joined: searched one by one and spread over threads.
TEST_F(DuplicateFilingTest, NearMissFloorNotesTheClosestFounderAndChangesNoGroup) {
  const Words a = maker_.Random(300), b = maker_.Random(300);
  std::vector<Words> vecFiller;
  for (size_t i = 0; i < ParallelGroupScan::kMinParallel; ++i) vecFiller.push_back(maker_.Random(290));
  ParallelGroupScan scan(1);
  for (ParallelGroupScan* pScan : {static_cast<ParallelGroupScan*>(nullptr), &scan}) {
    std::vector<std::vector<size_t>> vecGroupSizes;
    for (float fFloor : {0.0f, 0.5f}) {
      ReleaseGroups(&groups_);
      rules_.pScan = pScan;
      rules_.fNearFloor = fFloor;
      for (const Words& words : vecFiller) Add(words);
      InerMusicDedupInfo* pA = Add(a);
      Add(b);
      InerMusicDedupInfo* pNear = Add(maker_.Flipped(a, 6));     // 10/16 against a
      InerMusicDedupInfo* pFar = Add(maker_.Flipped(a, 10));     // 6/16: under the floor
      InerMusicDedupInfo* pJoins = Add(maker_.Flipped(b, 3));    // 13/16: joins b
      InerMusicDedupInfo* pNearer = Add(maker_.Flipped(a, 5));   // 11/16, beats pNear's 10/16
      std::vector<size_t> vecSizes;
      for (const auto& entry : groups_) vecSizes.push_back(entry.second->size());
      std::sort(vecSizes.begin(), vecSizes.end());  // the flipped keys fall anywhere
      vecGroupSizes.push_back(vecSizes);
      EXPECT_EQ(pJoins->fSimilarity, 0.8125f);
      const InerMusicDedupInfo* pWant = fFloor > 0.0f ? pA : nullptr;
      EXPECT_EQ(std::make_tuple(pNear->pNearFounder, pFar->pNearFounder, pNearer->pNearFounder,
                                pJoins->pNearFounder),
                std::make_tuple(pWant, nullptr, pWant, nullptr));
      if (fFloor > 0.0f) {
        EXPECT_EQ(std::make_pair(pNear->fNearScore, pNearer->fNearScore),
                  std::make_pair(0.625f, 0.6875f));
      }
    }
    EXPECT_EQ(vecGroupSizes[0], vecGroupSizes[1]) << (pScan ? "parallel" : "one by one");
  }
}

}  // namespace
