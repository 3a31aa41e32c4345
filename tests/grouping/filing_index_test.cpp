// Fast filing through the candidate index against plain filing: the same groups
// and scores for copies that keep some words intact, the documented miss, the
// index's window, and the index kept in step with the group map.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/fingerprints.h"
#include "grouping/duplicate_filing.h"
#include "twintone_ext.h"

using namespace twintone;

namespace {

// Two group maps, one filed plainly and one fast, through the grouping layer.
class FastFilingTest : public ::testing::Test {
 protected:
  struct Filing {
    GroupMap groups;
    FilingRules rules;
    FilingIndexCache index;
    ~Filing() { ReleaseGroups(&groups); }
  };
  void SetUp() override {
    exact_.rules.bFingerprint = fast_.rules.bFingerprint = true;
    fast_.rules.bFast = true;
  }
  // Files a record named by its place in the library.
  InerMusicDedupInfo* File(Filing* pFiling, const Words& words, size_t nPlace = 0) {
    vecOwned_.push_back(std::make_unique<InerMusicDedupInfo>());
    InerMusicDedupInfo* pRecord = vecOwned_.back().get();
    pRecord->strPath = "/r" + std::to_string(nPlace);
    SetFinger(pRecord->pGroupKey, words);
    FileRecord(&pFiling->groups, pRecord, pFiling->rules, &pFiling->index);
    return pRecord;
  }
  // The groups in map order: each member's path and score, then "|".
  static std::vector<std::pair<std::string, float>> Groups(const Filing& filing) {
    std::vector<std::pair<std::string, float>> vecGroups;
    for (const auto& entry : filing.groups) {
      for (const InerMusicDedupInfo* p : *entry.second) {
        vecGroups.emplace_back(p->strPath, p->fSimilarity);
      }
      vecGroups.emplace_back("|", 0.0f);
    }
    return vecGroups;
  }
  void FileBoth(const std::vector<Words>& vecLibrary) {
    for (Filing* pFiling : {&exact_, &fast_}) {
      for (size_t i = 0; i < vecLibrary.size(); ++i) File(pFiling, vecLibrary[i], i);
    }
  }
  // base with a fraction nPercent of its words altered in nBits bits each.
  Words Altered(const Words& base, int nPercent, int nBits) {
    Words words = base;
    for (uint32_t& w : words) {
      if (static_cast<int>(rng_() % 100) < nPercent) w = maker_.Flipped({w}, nBits)[0];
    }
    return words;
  }

  Filing exact_, fast_;
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
  FileBoth(vecLibrary);
  EXPECT_EQ(Groups(exact_), Groups(fast_));
  // The library exercises both outcomes near the threshold.
  const size_t nGroups = exact_.groups.size();
  EXPECT_GT(vecLibrary.size() - nGroups, 60u);  // records that joined a group
  EXPECT_GT(nGroups, 60u + 30u);                // beyond the unrelated ones
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

// Groups filed plainly, and groups of a released map, are seen correctly once fast
// filing starts: the index is rebuilt from the map it finds.
TEST_F(FastFilingTest, IndexFollowsTheGroupMapAcrossModesAndRelease) {
  const Words a = maker_.Random(300), b = maker_.Random(300);
  InerMusicDedupInfo* pA = File(&exact_, a);
  exact_.rules.bFast = true;
  File(&exact_, maker_.Flipped(a, 2, 4));
  EXPECT_EQ(2u, exact_.groups.at(*pA->pGroupKey)->size());

  ReleaseGroups(&exact_.groups);
  InerMusicDedupInfo* pB = File(&exact_, b);
  File(&exact_, a);  // founds its own group: a's old group is gone
  File(&exact_, maker_.Flipped(b, 2, 4));
  EXPECT_EQ(2u, exact_.groups.size());
  EXPECT_EQ(2u, exact_.groups.at(*pB->pGroupKey)->size());
}

}  // namespace
