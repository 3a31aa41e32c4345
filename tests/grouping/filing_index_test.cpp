// Fast filing through the candidate index against plain filing: the same groups
// and scores for copies that keep some words intact, the documented miss, the
// index's window, and the index kept in step with the group map.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "engine/dedupe_music.h"
#include "fixtures/fingerprints.h"
#include "twintone_ext.h"

namespace {

class FastFilingTest : public ::testing::Test {
 protected:
  ~FastFilingTest() override {
    for (CDedupeMusic* pEngine : {&exact_, &fast_}) {
      for (auto& entry : pEngine->mapGroups) delete entry.second;
    }
  }
  void SetUp() override {
    exact_.nMatchFlags = fast_.nMatchFlags = TWINTONE_MATCH_FINGERPRINT;
    fast_.ext.nFiling = TWINTONE_FILING_FAST;
  }
  InerMusicDedupInfo* File(CDedupeMusic* pEngine, const Words& words) {
    vecOwned_.push_back(std::make_unique<InerMusicDedupInfo>());
    InerMusicDedupInfo* pRecord = vecOwned_.back().get();
    pRecord->strPath = "/r" + std::to_string(vecOwned_.size());
    SetFinger(pRecord->pGroupKey, words);
    pEngine->AddToReaptList(pRecord);
    return pRecord;
  }
  // Files every fingerprint into both engines; returns, per fingerprint, the index
  // of its group's founder (-1 for none) in each engine, and its scores.
  struct Outcome {
    std::vector<int> vecGroupOf;
    std::vector<float> vecScores;
  };
  std::pair<Outcome, Outcome> FileBoth(const std::vector<Words>& vecLibrary) {
    std::vector<InerMusicDedupInfo*> vecExact, vecFast;
    for (const Words& words : vecLibrary) vecExact.push_back(File(&exact_, words));
    for (const Words& words : vecLibrary) vecFast.push_back(File(&fast_, words));
    return {OutcomeOf(exact_, vecExact), OutcomeOf(fast_, vecFast)};
  }
  static Outcome OutcomeOf(const CDedupeMusic& engine,
                           const std::vector<InerMusicDedupInfo*>& vecRecords) {
    std::map<const InerMusicDedupInfo*, int> mapIndex;
    for (size_t i = 0; i < vecRecords.size(); ++i) mapIndex[vecRecords[i]] = static_cast<int>(i);
    Outcome outcome{std::vector<int>(vecRecords.size(), -1), {}};
    for (const auto& entry : engine.mapGroups) {
      int nFounder = static_cast<int>(vecRecords.size());
      for (const InerMusicDedupInfo* pMember : *entry.second) {
        nFounder = std::min(nFounder, mapIndex.at(pMember));
      }
      for (const InerMusicDedupInfo* pMember : *entry.second) {
        outcome.vecGroupOf[mapIndex.at(pMember)] = nFounder;
      }
    }
    for (const InerMusicDedupInfo* pRecord : vecRecords) {
      outcome.vecScores.push_back(pRecord->fSimilarity);
    }
    return outcome;
  }
  // base with a fraction nPercent of its words altered in nBits bits each.
  Words Altered(const Words& base, int nPercent, int nBits) {
    Words words = base;
    for (uint32_t& w : words) {
      if (static_cast<int>(rng_() % 100) < nPercent) w = maker_.Flipped({w}, nBits)[0];
    }
    return words;
  }

  CDedupeMusic exact_, fast_;
  FingerprintMaker maker_{17};
  std::mt19937 rng_{17};
  std::vector<std::unique_ptr<InerMusicDedupInfo>> vecOwned_;
};

// Copies moved, cut and altered the ways a re-encoded file is (most words intact,
// the others far off), some on either side of the threshold, among unrelated
// fingerprints: fast filing makes exactly the groups and scores of plain filing.
TEST_F(FastFilingTest, CopiesThatKeepSomeWordsGroupAsInPlainFiling) {
  const struct {
    int nPercent, nBits;
  } kAlterations[] = {{0, 0}, {10, 2}, {30, 8}, {20, 12}, {25, 10}, {30, 10}, {35, 10}};
  std::vector<Words> vecLibrary;
  for (int nBase = 0; nBase < 30; ++nBase) {
    const Words base = nBase % 2 ? maker_.Drifting(400, 4) : maker_.Random(400);
    vecLibrary.push_back(maker_.Random(350 + nBase));  // unrelated
    for (const auto& alteration : kAlterations) {
      Words copy = Altered(base, alteration.nPercent, alteration.nBits);
      copy = maker_.Shifted(copy, static_cast<int>(rng_() % 21) - 10);
      if (rng_() % 3 == 0) copy.resize(copy.size() * 9 / 10);
      vecLibrary.push_back(copy);
    }
  }
  std::shuffle(vecLibrary.begin(), vecLibrary.end(), rng_);
  const auto outcomes = FileBoth(vecLibrary);

  int nJoined = 0, nAlone = 0;
  for (size_t i = 0; i < vecLibrary.size(); ++i) {
    SCOPED_TRACE("fingerprint " + std::to_string(i));
    EXPECT_EQ(outcomes.first.vecGroupOf[i], outcomes.second.vecGroupOf[i]);
    EXPECT_EQ(outcomes.first.vecScores[i], outcomes.second.vecScores[i]);
    (outcomes.first.vecGroupOf[i] != static_cast<int>(i) ? nJoined : nAlone)++;
  }
  // The library exercises both outcomes near the threshold.
  EXPECT_GT(nJoined, 60);
  EXPECT_GT(nAlone, 60);
}

// Every word altered in 3 bits still scores 13/16 > 0.8, but no word is left for
// the index to find: the case fast filing gives up.
TEST_F(FastFilingTest, CopyWithEveryWordAlteredIsMissed) {
  const Words base = maker_.Random(500);
  const auto outcomes = FileBoth({base, maker_.Flipped(base, 3)});
  EXPECT_EQ(0, outcomes.first.vecGroupOf[1]);
  EXPECT_EQ(1, outcomes.second.vecGroupOf[1]);
}

// Two matching words on a diagonal name the group exactly when the diagonal lies
// in the window of match_fingerprints3 (maxoffset 300 / 3 = 100: -99 .. +100).
TEST_F(FastFilingTest, IndexNamesGroupsOnlyInsideTheWindow) {
  const Words key = maker_.Random(300);
  const struct {
    int nDiagonal;
    bool bNamed;
  } kCases[] = {{0, true}, {100, true}, {-99, true}, {101, false}, {-100, false}};
  for (const auto& c : kCases) {
    FilingIndex index;
    index.Add(key.data(), static_cast<int>(key.size()));
    const Words newcomer = maker_.Shifted(key, -c.nDiagonal);
    std::vector<uint32_t> vecIds;
    index.FindCandidates(newcomer.data(), static_cast<int>(newcomer.size()), &vecIds);
    EXPECT_EQ(c.bNamed, !vecIds.empty()) << "diagonal " << c.nDiagonal;
  }
}

// Groups filed plainly, and groups of a dropped map, are seen correctly once fast
// filing starts: the index is rebuilt from the map it finds.
TEST_F(FastFilingTest, IndexFollowsTheGroupMapAcrossModesAndDeallocation) {
  const Words a = maker_.Random(300), b = maker_.Random(300);
  InerMusicDedupInfo* pA = File(&exact_, a);
  exact_.ext.nFiling = TWINTONE_FILING_FAST;
  File(&exact_, maker_.Flipped(a, 2, 4));
  EXPECT_EQ(2u, exact_.mapGroups.at(*pA->pGroupKey)->size());

  ASSERT_EQ(0, exact_.DedupeDealloc());
  EXPECT_EQ(nullptr, exact_.pFilingIndex);
  InerMusicDedupInfo* pB = File(&exact_, b);
  File(&exact_, a);  // founds its own group: a's old group is gone
  File(&exact_, maker_.Flipped(b, 2, 4));
  EXPECT_EQ(2u, exact_.mapGroups.size());
  EXPECT_EQ(2u, exact_.mapGroups.at(*pB->pGroupKey)->size());
}

TEST(FilingStrategyApiTest, SetterTakesTheTwoStrategiesOnly) {
  EXPECT_EQ(-1, twintone_set_filing(2));
  EXPECT_EQ(0, twintone_set_filing(TWINTONE_FILING_FAST));
  ASSERT_NE(nullptr, g_pCDeDup);
  EXPECT_EQ(TWINTONE_FILING_FAST, g_pCDeDup->ext.nFiling);
  EXPECT_EQ(0, twintone_set_filing(TWINTONE_FILING_EXACT));
  EXPECT_EQ(TWINTONE_FILING_EXACT, g_pCDeDup->ext.nFiling);
}

}  // namespace
