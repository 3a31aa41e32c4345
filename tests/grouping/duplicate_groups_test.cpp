// Filing records into duplicate groups in both modes: which group a record joins,
// member order, similarity scores, and the equal-key clash.
#include <random>

#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "engine/log.h"
#include "fixtures/temp_dir.h"

namespace {

class DuplicateGroupsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& entry : engine_.mapGroups) delete entry.second;
  }
  InerMusicDedupInfo* Record(const std::string& strPath, int nBitrate = 128,
                             int nDuration = 200000) {
    auto* pRecord = new InerMusicDedupInfo();
    pRecord->strPath = strPath;
    pRecord->nBitrate = nBitrate;
    pRecord->nDuration = nDuration;
    vecOwned_.emplace_back(pRecord);
    return pRecord;
  }
  InerMusicDedupInfo* TextRecord(const std::string& strKey, int nBitrate = 128,
                                 int nDuration = 200000) {
    InerMusicDedupInfo* pRecord = Record("/" + strKey + std::to_string(vecOwned_.size()),
                                         nBitrate, nDuration);
    pRecord->pGroupKey->strKey = strKey;
    return pRecord;
  }
  InerMusicDedupInfo* FingerRecord(const std::vector<uint32_t>& vecWords, int nBitrate = 128) {
    InerMusicDedupInfo* pRecord = Record("/f" + std::to_string(vecOwned_.size()), nBitrate);
    SetFinger(pRecord->pGroupKey, vecWords);
    return pRecord;
  }
  static void SetFinger(GroupKey* pKey, const std::vector<uint32_t>& vecWords) {
    pKey->pFinger = static_cast<int32_t*>(malloc(vecWords.size() * sizeof(int32_t) + 1));
    memcpy(pKey->pFinger, vecWords.data(), vecWords.size() * sizeof(int32_t));
    pKey->nFingerLen = static_cast<int32_t>(vecWords.size());
  }
  static std::vector<uint32_t> RandomWords(size_t n, unsigned nSeed) {
    std::mt19937 rng(nSeed);
    std::vector<uint32_t> vecWords(n);
    for (uint32_t& w : vecWords) w = rng();
    return vecWords;
  }
  std::vector<InerMusicDedupInfo*> Members(const GroupKey& key) {
    auto found = engine_.mapGroups.find(key);
    if (found == engine_.mapGroups.end()) return {};
    return {found->second->begin(), found->second->end()};
  }
  void UseFingerprints(float fThreshold = 0.8f) {
    engine_.nMatchFlags = TWINTONE_MATCH_FINGERPRINT;
    engine_.fThreshold = fThreshold;
  }

  CDedupeMusic engine_;
  std::vector<std::unique_ptr<InerMusicDedupInfo>> vecOwned_;
};

TEST_F(DuplicateGroupsTest, EqualTextsShareAGroupAndTheFindIsLogged) {
  TempDir logDir;
  g_log.EnableForTesting(logDir.Root());
  InerMusicDedupInfo* pA1 = TextRecord("A");
  InerMusicDedupInfo* pB = TextRecord("B");
  InerMusicDedupInfo* pA2 = TextRecord("A");
  for (InerMusicDedupInfo* p : {pA1, pB, pA2}) engine_.AddToReaptList(p);
  ASSERT_EQ(engine_.mapGroups.size(), 2u);
  EXPECT_EQ(Members(*pA1->pGroupKey), (std::vector<InerMusicDedupInfo*>{pA1, pA2}));
  EXPECT_EQ(Members(*pB->pGroupKey), (std::vector<InerMusicDedupInfo*>{pB}));
  EXPECT_EQ(pA1->fSimilarity, 1.0f);
  EXPECT_EQ(pA2->fSimilarity, 0.0f);  // text mode computes no score
  std::string strLog = TempDir::ReadFile(logDir.Path("dedupe.log"));
  EXPECT_NE(strLog.find("\r\n找到重复[" + pA2->strPath + "]\r\n"), std::string::npos) << strLog;
}

TEST_F(DuplicateGroupsTest, NewcomerOutrankingEveryMemberGoesInFrontAndSwapsScores) {
  InerMusicDedupInfo* pFirst = TextRecord("A", 128, 200000);
  InerMusicDedupInfo* pSecond = TextRecord("A", 128, 190000);
  InerMusicDedupInfo* pBest = TextRecord("A", 320, 210000);
  pBest->fSimilarity = 0.3f;  // as a host's record may carry
  for (InerMusicDedupInfo* p : {pFirst, pSecond, pBest}) engine_.AddToReaptList(p);
  EXPECT_EQ(Members(*pFirst->pGroupKey),
            (std::vector<InerMusicDedupInfo*>{pBest, pFirst, pSecond}));
  EXPECT_EQ(pBest->fSimilarity, 1.0f);
  EXPECT_EQ(pFirst->fSimilarity, 0.3f);
}

TEST_F(DuplicateGroupsTest, NewcomerOutrankingOnlySomeMembersGoesLast) {
  InerMusicDedupInfo* pFirst = TextRecord("A", 128);
  InerMusicDedupInfo* pStrong = TextRecord("A", 320);  // outranks pFirst: now in front
  InerMusicDedupInfo* pMiddle = TextRecord("A", 192);  // beats pFirst, not pStrong
  for (InerMusicDedupInfo* p : {pFirst, pStrong, pMiddle}) engine_.AddToReaptList(p);
  EXPECT_EQ(Members(*pFirst->pGroupKey),
            (std::vector<InerMusicDedupInfo*>{pStrong, pFirst, pMiddle}));
}

TEST_F(DuplicateGroupsTest, FingerprintsShorterThanTwentyWordsAreFiledNowhere) {
  UseFingerprints();
  std::vector<uint32_t> vecWords = RandomWords(20, 1);
  InerMusicDedupInfo* pShort = FingerRecord({vecWords.begin(), vecWords.begin() + 19});
  engine_.AddToReaptList(pShort);
  EXPECT_TRUE(engine_.mapGroups.empty());
  InerMusicDedupInfo* pEnough = FingerRecord(vecWords);
  engine_.AddToReaptList(pEnough);
  EXPECT_EQ(engine_.mapGroups.size(), 1u);
}

TEST_F(DuplicateGroupsTest, IdenticalFingerprintJoinsWithScoreOne) {
  UseFingerprints();
  std::vector<uint32_t> vecWords = RandomWords(300, 2);
  InerMusicDedupInfo* pFirst = FingerRecord(vecWords, 320);
  InerMusicDedupInfo* pCopy = FingerRecord(vecWords, 128);
  engine_.AddToReaptList(pFirst);
  engine_.AddToReaptList(pCopy);
  EXPECT_EQ(Members(*pFirst->pGroupKey), (std::vector<InerMusicDedupInfo*>{pFirst, pCopy}));
  EXPECT_EQ(pCopy->fSimilarity, 1.0f);
}

TEST_F(DuplicateGroupsTest, JoiningScoreIsTheMatchScoreAndBetterCopyTakesTheFront) {
  UseFingerprints();
  std::vector<uint32_t> vecWords = RandomWords(300, 3);
  std::vector<uint32_t> vecNoisy = vecWords;
  for (uint32_t& w : vecNoisy) w ^= 0x7;  // 3 bits in every word: 13/16
  InerMusicDedupInfo* pFounder = FingerRecord(vecWords, 128);
  InerMusicDedupInfo* pBetter = FingerRecord(vecNoisy, 320);
  engine_.AddToReaptList(pFounder);
  engine_.AddToReaptList(pBetter);
  EXPECT_EQ(Members(*pFounder->pGroupKey),
            (std::vector<InerMusicDedupInfo*>{pBetter, pFounder}));
  EXPECT_EQ(pBetter->fSimilarity, 1.0f);
  EXPECT_EQ(pFounder->fSimilarity, 0.8125f);
  // The group keeps its founder's fingerprint as key: a copy of the founder still
  // scores 1.0 against it.
  InerMusicDedupInfo* pCopy = FingerRecord(vecWords, 64);
  engine_.AddToReaptList(pCopy);
  EXPECT_EQ(pCopy->fSimilarity, 1.0f);
}

TEST_F(DuplicateGroupsTest, ScoreMustExceedTheThresholdStrictly) {
  UseFingerprints(0.8125f);
  std::vector<uint32_t> vecWords = RandomWords(300, 4);
  std::vector<uint32_t> vecNoisy = vecWords;
  for (uint32_t& w : vecNoisy) w ^= 0x7;
  engine_.AddToReaptList(FingerRecord(vecWords));
  engine_.AddToReaptList(FingerRecord(vecNoisy));
  EXPECT_EQ(engine_.mapGroups.size(), 2u);
}

TEST_F(DuplicateGroupsTest, RecordPassingTwoGroupsJoinsTheFirstInMapOrder) {
  UseFingerprints();
  std::vector<uint32_t> vecWords = RandomWords(120, 5);
  // Two groups whose keys both match the newcomer: the shorter key comes first.
  GroupKey longKey, shortKey;
  SetFinger(&longKey, vecWords);
  SetFinger(&shortKey, {vecWords.begin(), vecWords.begin() + 100});
  InerMusicDedupInfo* pLongFounder = FingerRecord(vecWords);
  InerMusicDedupInfo* pShortFounder = FingerRecord({vecWords.begin(), vecWords.begin() + 100});
  engine_.mapGroups.emplace(longKey, new RecordList{pLongFounder});
  engine_.mapGroups.emplace(shortKey, new RecordList{pShortFounder});
  InerMusicDedupInfo* pNewcomer = FingerRecord(vecWords, 64);
  engine_.AddToReaptList(pNewcomer);
  EXPECT_EQ(Members(shortKey), (std::vector<InerMusicDedupInfo*>{pShortFounder, pNewcomer}));
  EXPECT_EQ(Members(longKey).size(), 1u);
}

TEST_F(DuplicateGroupsTest, EqualKeyClashAtFullThresholdIsLoggedAndLeavesTheRecordOut) {
  TempDir logDir;
  g_log.EnableForTesting(logDir.Root());
  UseFingerprints(1.0f);
  std::vector<uint32_t> vecWords = RandomWords(100, 6);
  InerMusicDedupInfo* pFirst = FingerRecord(vecWords);
  InerMusicDedupInfo* pSecond = FingerRecord(vecWords);
  engine_.AddToReaptList(pFirst);
  engine_.AddToReaptList(pSecond);
  EXPECT_EQ(Members(*pFirst->pGroupKey), (std::vector<InerMusicDedupInfo*>{pFirst}));
  EXPECT_EQ(pSecond->fSimilarity, 1.0f);
  std::string strLog = TempDir::ReadFile(logDir.Path("dedupe.log"));
  EXPECT_NE(strLog.find("\n\ninsert bug[" + pSecond->strPath + "]!!!!\n\n\r\n"), std::string::npos)
      << strLog;
}

}  // namespace
