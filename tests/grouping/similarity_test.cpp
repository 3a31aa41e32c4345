// SimilarCompare's block search, agreement and final comparison; IsMaxFinger's
// ranking of a newcomer against a group member.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "engine/records.h"
#include "fixtures/fingerprints.h"
#include "twintone.h"

namespace {

using Ints = std::vector<int>;

class SimilarCompareTest : public ::testing::Test {
 protected:
  static Ints AsInts(const Words& words) { return Ints(words.begin(), words.end()); }
  static int Compare(const Ints& first, const Ints& second, int t) {
    return SimilarCompare(first.data(), second.data(), static_cast<int>(first.size()), t);
  }

  FingerprintMaker maker_{4242};
};

TEST_F(SimilarCompareTest, HundredWordsMatchThemselvesThroughTheLastBlockWithOffsets) {
  const Ints words = AsInts(maker_.Random(100));
  EXPECT_EQ(Compare(words, words, 1), 1);
}

TEST_F(SimilarCompareTest, ACopyMovedBySevenWordsMatchesOnTheAgreedOffset) {
  const Words original = maker_.Random(300);
  EXPECT_EQ(Compare(AsInts(original), AsInts(maker_.Shifted(original, 7)), 1), 1);
  EXPECT_EQ(Compare(AsInts(maker_.Shifted(original, 7)), AsInts(original), 1), 1);
}

TEST_F(SimilarCompareTest, RefusesNullPointersBeforeShortLengths) {
  const Ints words = AsInts(maker_.Random(100));
  EXPECT_EQ(SimilarCompare(words.data(), words.data(), 99, 1), -2);
  EXPECT_EQ(SimilarCompare(nullptr, words.data(), 99, 1), -1);
  EXPECT_EQ(SimilarCompare(words.data(), nullptr, 100, 1), -1);
}

TEST_F(SimilarCompareTest, UnrelatedFingerprintsDoNotMatch) {
  EXPECT_EQ(Compare(AsInts(maker_.Random(300)), AsInts(maker_.Random(300)), 1), 0);
}

// Tolerance 1 allows 6 differing bits in a word and a bit error rate of 0.08.
TEST_F(SimilarCompareTest, ToleranceBoundsTheBitsPerWordAndTheErrorRate) {
  const Words original = maker_.Random(300);
  const Ints same = AsInts(original);
  EXPECT_EQ(Compare(same, AsInts(maker_.Flipped(original, 2)), 1), 1);  // rate 1/16
  EXPECT_EQ(Compare(same, AsInts(maker_.Flipped(original, 3)), 1), 0);  // rate 3/32
  EXPECT_EQ(Compare(same, AsInts(maker_.Flipped(original, 3)), 2), 1);
  // One word beyond the cap breaks the final comparison whatever the rate.
  Words spoiled = original;
  spoiled[250] ^= 0x7f;
  EXPECT_EQ(Compare(same, AsInts(spoiled), 1), 0);
  EXPECT_EQ(Compare(same, AsInts(spoiled), 2), 1);
}

TEST_F(SimilarCompareTest, ZeroToleranceAcceptsOnlyEqualWordsAndNegativeNothing) {
  const Words original = maker_.Random(200);
  const Ints same = AsInts(original);
  EXPECT_EQ(Compare(same, same, 0), 1);
  EXPECT_EQ(Compare(same, AsInts(maker_.Sprinkled(original, 1, 40)), 0), 0);
  EXPECT_EQ(Compare(same, same, -1), 0);
  EXPECT_EQ(Compare(same, same, INT_MIN), 0);
  EXPECT_EQ(Compare(same, same, INT_MAX), 1);
}

TEST_F(SimilarCompareTest, VeryLongFingerprintsAreComparedWithoutAFixedBlockLimit) {
  const Words original = maker_.Random(200000);
  const Ints same = AsInts(original);
  EXPECT_EQ(Compare(same, AsInts(maker_.Shifted(original, 3)), 1), 1);
  EXPECT_EQ(Compare(same, AsInts(maker_.Random(200000)), 1), 0);
}

class IsMaxFingerTest : public ::testing::Test {
 protected:
  bool Outranks(int nNewDuration, int nNewBitrate, int nOldDuration, int nOldBitrate) {
    member_.nDuration = nOldDuration;
    member_.nBitrate = nOldBitrate;
    newcomer_.nDuration = nNewDuration;
    newcomer_.nBitrate = nNewBitrate;
    return IsMaxFinger(&member_, &newcomer_);
  }

  InerMusicDedupInfo member_;
  InerMusicDedupInfo newcomer_;
};

TEST_F(IsMaxFingerTest, CloseDurationsRankByBitrateFirst) {
  EXPECT_TRUE(Outranks(210000, 320, 200000, 128));
  EXPECT_FALSE(Outranks(210000, 128, 200000, 320));
  EXPECT_TRUE(Outranks(190000, 320, 200000, 128));
}

TEST_F(IsMaxFingerTest, EqualBitratesRankByDuration) {
  EXPECT_TRUE(Outranks(229999, 192, 200000, 192));
  EXPECT_FALSE(Outranks(200000, 192, 229999, 192));
  EXPECT_FALSE(Outranks(200000, 192, 200000, 192));
}

TEST_F(IsMaxFingerTest, DurationsThirtySecondsApartRankByDurationAlone) {
  EXPECT_TRUE(Outranks(240000, 128, 200000, 320));
  EXPECT_TRUE(Outranks(230000, 128, 200000, 320));
  EXPECT_FALSE(Outranks(200000, 320, 230000, 128));
}

TEST_F(IsMaxFingerTest, ExtremeDurationsDoNotOverflowTheDifference) {
  EXPECT_TRUE(Outranks(INT_MAX, 128, INT_MIN, 320));
  EXPECT_FALSE(Outranks(INT_MIN, 320, INT_MAX, 128));
  EXPECT_FALSE(IsMaxFinger(nullptr, &newcomer_));
}

}  // namespace
