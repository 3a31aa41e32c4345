// SimilarCompare's block search, agreement and final comparison; IsMaxFinger's
// ranking of a newcomer against a group member.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>
#include <vector>

#include "analysis/records.h"
#include "fixtures/fingerprints.h"
#include "twintone.h"

namespace {

int Compare(const Words& first, const Words& second, int nTolerance) {
  const std::vector<int> a(first.begin(), first.end()), b(second.begin(), second.end());
  return SimilarCompare(a.data(), b.data(), static_cast<int>(a.size()), nTolerance);
}

// Tolerance 1 allows 6 differing bits in a word and a bit error rate of 0.08: two
// bits in every word (1/16) pass, three (3/32) need tolerance 2.
TEST(SimilarCompareTest, KnownAnswers) {
  FingerprintMaker maker(4242);
  const Words small = maker.Random(100), original = maker.Random(300), other = maker.Random(300);
  const Words moved = maker.Shifted(original, 7), sprinkled = maker.Flipped(original, 1, 40);
  const Words two = maker.Flipped(original, 2), three = maker.Flipped(original, 3);
  const Words huge = maker.Random(200000), hugeMoved = maker.Shifted(huge, 3);
  // In 100 words a shift of 40 keeps block 0 clear of the last ten words; 41 does not.
  const Words small40 = maker.Shifted(small, 40), small41 = maker.Shifted(small, 41);
  Words spoiled = original;
  spoiled[250] ^= 0x7f;  // one word beyond the cap, whatever the rate
  const struct { const Words &a, &b; int nTolerance, nWant; } cases[] = {
      {small, small, 1, 1},       {original, moved, 1, 1},     {moved, original, 1, 1},
      {original, other, 1, 0},    {original, two, 1, 1},       {original, three, 1, 0},
      {original, three, 2, 1},    {original, spoiled, 1, 0},   {original, spoiled, 2, 1},
      {original, original, 0, 1}, {original, sprinkled, 0, 0}, {original, original, -1, 0},
      {original, original, INT_MIN, 0}, {original, original, INT_MAX, 1},
      {small, small40, 1, 1},     {small, small41, 1, 0},
      {huge, hugeMoved, 1, 1}};  // no fixed limit on the number of blocks
  for (const auto& c : cases) EXPECT_EQ(Compare(c.a, c.b, c.nTolerance), c.nWant) << &c - cases;
  const std::vector<int> words(small.begin(), small.end());
  EXPECT_EQ(SimilarCompare(words.data(), words.data(), 99, 1), -2);
  EXPECT_EQ(SimilarCompare(nullptr, words.data(), 99, 1), -1);
  EXPECT_EQ(SimilarCompare(words.data(), nullptr, 100, 1), -1);
}

TEST(IsMaxFingerTest, RanksByBitrateWhenDurationsAreCloseElseByDuration) {
  const struct { int nNewDur, nNewBitrate, nOldDur, nOldBitrate; bool bOutranks; } cases[] = {
      {210000, 320, 200000, 128, true},  {210000, 128, 200000, 320, false},
      {190000, 320, 200000, 128, true},  {229999, 192, 200000, 192, true},
      {200000, 192, 229999, 192, false}, {200000, 192, 200000, 192, false},
      {240000, 128, 200000, 320, true},  {230000, 128, 200000, 320, true},
      {200000, 320, 230000, 128, false}, {INT_MAX, 128, INT_MIN, 320, true},
      {INT_MIN, 320, INT_MAX, 128, false}};
  InerMusicDedupInfo member, newcomer;
  for (const auto& c : cases) {
    std::tie(member.nDuration, member.nBitrate) = std::make_pair(c.nOldDur, c.nOldBitrate);
    std::tie(newcomer.nDuration, newcomer.nBitrate) = std::make_pair(c.nNewDur, c.nNewBitrate);
    EXPECT_EQ(IsMaxFinger(&member, &newcomer), c.bOutranks) << "case " << &c - cases;
  }
  EXPECT_FALSE(IsMaxFinger(nullptr, &newcomer));
}

}  // namespace
