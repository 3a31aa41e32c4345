// The matchers' scores on fingerprints whose answer is known: identical, moved,
// altered in every word, unrelated, and degenerate inputs.
#include "grouping/acoustid_compare.h"

#include <gtest/gtest.h>

#include <climits>

#include "fixtures/fingerprints.h"

using namespace twintone;

namespace {

constexpr int kWords = 500;
constexpr float kUnrelated = -1.0f;  // only the weighted vote of stray pairs: 0.06 to 0.11

TEST(AcoustidCompareTest, KnownScoresOfAllThreeMatchers) {
  FingerprintMaker maker(1234);
  const Words a = maker.Random(kWords), flipped = maker.Flipped(a, 3), other = maker.Random(kWords);
  const Words m13 = maker.Shifted(a, 13), m300 = maker.Shifted(a, 300);
  const Words m20 = maker.Shifted(a, 20), mBack20 = maker.Shifted(a, -20);
  const Words m119 = maker.Shifted(a, 119), m120 = maker.Shifted(a, 120);
  const Words mBack120 = maker.Shifted(a, -120), mBack121 = maker.Shifted(a, -121);
  // match_fingerprints2 compares whole word pairs, so an odd shift loses a pair, and
  // needs a window (0: any) that holds the shift. A window of w in match_fingerprints3
  // covers the diagonals i - j from -w + 1 to +w; match_fingerprints reaches 119
  // words back and 120 forward.
  const struct { const Words& b; int nWindow2, nWindow3; float f1, f2, f3; } cases[] = {
      {a, 0, 1, 1, 1, 1},                            {a, 0, -1, 1, 1, 1},
      {a, 0, 0, 1, 1, 0},                            {m13, 0, 166, 0.974f, 0.972f, 0.974f},
      {m13, 13, 166, 0.974f, 0.972f, 0.974f},        {m13, 12, 166, 0.974f, 0, 0.974f},
      {flipped, 0, 1, 0, 0.8125f, 0.8125f},          {flipped, 0, 400, 0, 0.8125f, 0.8125f},
      {other, 0, 166, 0, 0, kUnrelated},             {m300, 0, 166, 0, 0.4f, kUnrelated},
      {m300, 0, -1, 0, 0.4f, 0.4f},                  {m300, 0, INT_MIN, 0, 0.4f, 0.4f},
      {m300, 0, INT_MAX, 0, 0.4f, 0.4f},             {m20, 0, 20, 0.96f, 0.96f, kUnrelated},
      {m20, 0, 21, 0.96f, 0.96f, 0.96f},             {mBack20, 0, 20, 0.96f, 0.96f, 0.96f},
      {mBack20, 0, 19, 0.96f, 0.96f, kUnrelated},    {m119, 0, -1, 0.762f, 0.76f, 0.762f},
      {m120, 0, -1, 0, 0.76f, 0.76f},                {mBack120, 0, -1, 0.76f, 0.76f, 0.76f},
      {mBack121, 0, -1, 0, 0.756f, 0.758f}};
  for (const auto& c : cases) {
    const uint32_t *pA = a.data(), *pB = c.b.data();
    EXPECT_FLOAT_EQ(match_fingerprints(pA, kWords, pB, kWords), c.f1) << &c - cases;
    EXPECT_FLOAT_EQ(match_fingerprints2(pA, kWords, pB, kWords, c.nWindow2), c.f2) << &c - cases;
    const bool bStray = c.f3 == kUnrelated;
    EXPECT_NEAR(match_fingerprints3(pA, kWords, pB, kWords, c.nWindow3),
                bStray ? 0.085f : c.f3, bStray ? 0.025f : 1e-6f) << &c - cases;
  }
}

TEST(AcoustidCompareTest, EmptyNegativeOrMissingInputsScoreZero) {
  const Words words = FingerprintMaker(1).Random(kWords);
  const uint32_t* p = words.data();
  for (int nBad : {0, -1, INT_MIN}) {
    for (const auto& n : {std::make_pair(nBad, kWords), std::make_pair(kWords, nBad)}) {
      EXPECT_EQ(match_fingerprints(p, n.first, p, n.second), 0.0f);
      EXPECT_EQ(match_fingerprints2(p, n.first, p, n.second, 0), 0.0f);
      EXPECT_EQ(match_fingerprints3(p, n.first, p, n.second, -1), 0.0f);
      EXPECT_EQ(reference::match_fingerprints(p, n.first, p, n.second), 0.0f);
    }
  }
  EXPECT_EQ(match_fingerprints(nullptr, kWords, p, kWords), 0.0f);
  EXPECT_EQ(match_fingerprints2(p, kWords, nullptr, kWords, 0), 0.0f);
  EXPECT_EQ(match_fingerprints3(nullptr, kWords, p, kWords, -1), 0.0f);
  EXPECT_EQ(reference::match_fingerprints3(p, kWords, nullptr, kWords, -1), 0.0f);
}

}  // namespace
