// The matchers' scores on fingerprints whose answer is known: identical, moved,
// altered in every word, unrelated, and degenerate inputs.
#include "grouping/acoustid_compare.h"

#include <gtest/gtest.h>

#include <climits>

#include "fixtures/fingerprints.h"

namespace {

class AcoustidCompareTest : public ::testing::Test {
 protected:
  static constexpr int kWords = 500;

  float Match1(const Words& a, const Words& b) {
    return match_fingerprints(a.data(), Size(a), b.data(), Size(b));
  }
  float Match2(const Words& a, const Words& b, int nMaxOffset) {
    return match_fingerprints2(a.data(), Size(a), b.data(), Size(b), nMaxOffset);
  }
  float Match3(const Words& a, const Words& b, int nMaxOffset) {
    return match_fingerprints3(a.data(), Size(a), b.data(), Size(b), nMaxOffset);
  }
  static int Size(const Words& words) { return static_cast<int>(words.size()); }

  FingerprintMaker maker_{1234};
  Words original_ = maker_.Random(kWords);
};

TEST_F(AcoustidCompareTest, AFingerprintMatchesItselfPerfectlyInAllThree) {
  EXPECT_EQ(Match1(original_, original_), 1.0f);
  EXPECT_EQ(Match2(original_, original_, 0), 1.0f);
  EXPECT_EQ(Match3(original_, original_, 1), 1.0f);
  EXPECT_EQ(Match3(original_, original_, -1), 1.0f);
}

TEST_F(AcoustidCompareTest, ACopyMovedBy13WordsScoresItsOverlap) {
  const Words moved = maker_.Shifted(original_, 13);
  EXPECT_EQ(Match1(original_, moved), 487.0f / 500.0f);
  EXPECT_EQ(Match3(original_, moved, 166), static_cast<float>(487.0 / 500.0));
  // match_fingerprints2 compares whole word pairs: 243 pairs out of 500 words.
  EXPECT_EQ(Match2(original_, moved, 0), static_cast<float>(486.0 / 500.0));
  EXPECT_FLOAT_EQ(Match3(original_, moved, 166), 0.974f);
  EXPECT_FLOAT_EQ(Match2(original_, moved, 0), 0.972f);
}

TEST_F(AcoustidCompareTest, UnrelatedFingerprintsScoreNothingExceptInTheWeightedVote) {
  const Words other = maker_.Random(kWords);
  EXPECT_EQ(Match1(original_, other), 0.0f);
  EXPECT_EQ(Match2(original_, other, 0), 0.0f);
  // Pairs differing in fewer than 16 bits still vote a little.
  EXPECT_GT(Match3(original_, other, 166), 0.06f);
  EXPECT_LT(Match3(original_, other, 166), 0.11f);
}

TEST_F(AcoustidCompareTest, ThreeBitsChangedInEveryWordSplitTheMatchers) {
  const Words flipped = maker_.Flipped(original_, 3);
  EXPECT_EQ(Match1(original_, flipped), 0.0f);
  EXPECT_EQ(Match3(original_, flipped, 1), 0.8125f);
  EXPECT_EQ(Match3(original_, flipped, 400), 0.8125f);
  EXPECT_EQ(Match2(original_, flipped, 0), 0.8125f);
}

TEST_F(AcoustidCompareTest, WindowZeroAllowsNoPairAndANegativeWindowAllowsAll) {
  EXPECT_EQ(Match3(original_, original_, 0), 0.0f);
  const Words far = maker_.Shifted(original_, 300);
  EXPECT_LT(Match3(original_, far, 166), 0.11f);
  EXPECT_EQ(Match3(original_, far, -1), static_cast<float>(200.0 / 500.0));
  EXPECT_EQ(Match3(original_, far, INT_MIN), static_cast<float>(200.0 / 500.0));
  EXPECT_EQ(Match3(original_, far, INT_MAX), static_cast<float>(200.0 / 500.0));
}

// A window of w covers the diagonals i - j from -w + 1 to +w: one more on the
// side where the first fingerprint runs ahead.
TEST_F(AcoustidCompareTest, WindowReachesOneDiagonalFurtherForwardThanBack) {
  const Words later = maker_.Shifted(original_, 20);     // pairs on diagonal -20
  const Words earlier = maker_.Shifted(original_, -20);  // pairs on diagonal +20
  const float fOverlap = static_cast<float>(480.0 / 500.0);
  EXPECT_LT(Match3(original_, later, 20), 0.11f);
  EXPECT_EQ(Match3(original_, later, 21), fOverlap);
  EXPECT_EQ(Match3(original_, earlier, 20), fOverlap);
  EXPECT_LT(Match3(original_, earlier, 19), 0.11f);
}

TEST_F(AcoustidCompareTest, Match1WindowEndsAt119WordsBackAnd120Forward) {
  EXPECT_EQ(Match1(original_, maker_.Shifted(original_, 119)), 381.0f / 500.0f);
  EXPECT_EQ(Match1(original_, maker_.Shifted(original_, 120)), 0.0f);
  EXPECT_EQ(Match1(original_, maker_.Shifted(original_, -120)), 380.0f / 500.0f);
  EXPECT_EQ(Match1(original_, maker_.Shifted(original_, -121)), 0.0f);
}

TEST_F(AcoustidCompareTest, EmptyNegativeOrMissingInputsScoreZero) {
  const uint32_t* p = original_.data();
  for (int nBad : {0, -1, INT_MIN}) {
    EXPECT_EQ(match_fingerprints(p, nBad, p, kWords), 0.0f);
    EXPECT_EQ(match_fingerprints(p, kWords, p, nBad), 0.0f);
    EXPECT_EQ(match_fingerprints2(p, nBad, p, kWords, 0), 0.0f);
    EXPECT_EQ(match_fingerprints2(p, kWords, p, nBad, 0), 0.0f);
    EXPECT_EQ(match_fingerprints3(p, nBad, p, kWords, -1), 0.0f);
    EXPECT_EQ(match_fingerprints3(p, kWords, p, nBad, -1), 0.0f);
  }
  EXPECT_EQ(match_fingerprints(nullptr, kWords, p, kWords), 0.0f);
  EXPECT_EQ(match_fingerprints2(p, kWords, nullptr, kWords, 0), 0.0f);
  EXPECT_EQ(match_fingerprints3(nullptr, kWords, p, kWords, -1), 0.0f);
  EXPECT_EQ(reference::match_fingerprints3(p, kWords, nullptr, kWords, -1), 0.0f);
  EXPECT_EQ(reference::match_fingerprints(p, 0, p, kWords), 0.0f);
}

TEST_F(AcoustidCompareTest, Match2NeedsAWindowThatHoldsTheAlignment) {
  const Words moved = maker_.Shifted(original_, 13);
  EXPECT_EQ(Match2(original_, moved, 13), static_cast<float>(486.0 / 500.0));
  EXPECT_EQ(Match2(original_, moved, 12), 0.0f);
}

}  // namespace
