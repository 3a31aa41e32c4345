// The matchers' scores on fingerprints whose answer is known (identical, moved, altered
// in every word, unrelated, degenerate); then every fast kernel against the reference
// matchers: the same float, bit for bit, on structured and random inputs, window sizes
// of every sign, and thresholds on either side of the true score.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fixtures/fingerprints.h"
#include "grouping/acoustid_compare.h"
#include "grouping/duplicate_filing.h"
#include "grouping/match_kernels.h"
#include "twintone_ext.h"

using namespace twintone;

// Failure messages name the kernel instead of dumping its bytes.
void PrintTo(const MatchKernel& kernel, std::ostream* pOut) { *pOut << kernel.pszName; }

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

uint32_t Bits(float f) {
  uint32_t n;
  memcpy(&n, &f, sizeof n);
  return n;
}

class MatchKernelTest : public ::testing::TestWithParam<MatchKernel> {
 protected:
  static constexpr int kKinds = 9;

  // A pair of the given kind, nA and nB words long: unrelated, a moved copy with
  // sparse changes, a copy with bits changed in every word, or degenerate words.
  // Odd kinds start from drifting words, which look alike along a diagonal.
  void Make(int nKind, int nA, int nB) {
    a_ = nKind % 2 ? maker_.Drifting(nA, 5) : maker_.Random(nA);
    const int nShift = nA > 0 ? static_cast<int>(maker_.Word() % (2 * nA + 1)) - nA : 0;
    const uint32_t nWord = maker_.Word();
    if (nKind < 2) b_ = maker_.Random(nB);
    if (nKind == 2 || nKind == 3) b_ = maker_.Flipped(maker_.Shifted(a_, nShift), 2, 3);
    if (nKind == 4 || nKind == 5) b_ = maker_.Flipped(a_, static_cast<int>(nWord % 21));
    if (nKind >= 6) a_.assign(nA, nKind == 8 ? nWord : 0u);
    if (nKind >= 6) b_.assign(nB, nKind == 6 ? 0u : nKind == 7 ? ~0u : nWord ^ 0x00ff0000u);
    for (size_t k = b_.size(); k < static_cast<size_t>(nB); ++k) b_.push_back(maker_.Word());
    b_.resize(static_cast<size_t>(nB));
    std::tie(nA_, nB_) = std::make_pair(nA, nB);
    strWhat_ =
        "kind " + std::to_string(nKind) + ", " + std::to_string(nA) + "x" + std::to_string(nB);
  }
  float Reference3(int nWindow) const {
    return reference::match_fingerprints3(a_.data(), nA_, b_.data(), nB_, nWindow);
  }
  // match_fingerprints, and match_fingerprints3 at each window, give the reference's
  // floats; at one of them, so do the threshold decisions and the scores they store,
  // and a refusal leaves the caller's score alone.
  void ExpectSame(const std::vector<int>& vecWindows, int nWindow,
                  std::vector<float> vecThresholds) {
    const MatchKernel& k = GetParam();
    const uint32_t *a = a_.data(), *b = b_.data();
    ASSERT_EQ(Bits(MatchFingerprintsWith(k, a, nA_, b, nB_)),
              Bits(reference::match_fingerprints(a, nA_, b, nB_)))
        << strWhat_;
    for (int n : vecWindows) {
      ASSERT_EQ(Bits(MatchFingerprints3With(k, a, nA_, b, nB_, n)), Bits(Reference3(n)))
          << strWhat_ << ", window " << n;
    }
    for (float fThreshold : vecThresholds) {
      float fFast = -7.0f, fRef = -7.0f;
      const bool bFast = MatchAboveThresholdWith(k, a, nA_, b, nB_, nWindow, fThreshold, &fFast);
      const bool bRef = ReferenceMatchAboveThreshold(a, nA_, b, nB_, nWindow, fThreshold, &fRef);
      ASSERT_EQ(std::make_pair(bFast, Bits(fFast)), std::make_pair(bRef, Bits(fRef)))
          << strWhat_ << ", window " << nWindow << ", threshold " << fThreshold;
    }
  }

  FingerprintMaker maker_{99};
  Words a_, b_;
  int nA_ = 0, nB_ = 0;
  std::string strWhat_;
};

// Lengths around the 120-word reach of match_fingerprints, the block widths (8
// and 16 diagonals) and the 16-row groups, in both orders; windows of every sign,
// and windows that end just inside or beyond either fingerprint.
TEST_P(MatchKernelTest, ScoresAndDecisionsAgreeOnStructuredSizes) {
  const std::vector<int> vecLengths = {1,  2,  3,  7,  8,  9,   15,  16,  17,  31,  32,
                                       33, 47, 49, 64, 81, 119, 120, 121, 128, 129, 300};
  for (int nA : vecLengths) {
    for (int nB : vecLengths) {
      Make((nA + nB) % kKinds, nA, nB);
      std::vector<int> vecWindows = {INT_MIN, -7, -1, 0,  1,  2,  3,  4,
                                     7,       8,  9,  15, 16, 17, 24, INT_MAX};
      vecWindows.insert(vecWindows.end(), {std::min(nA, nB) / 3, 2 * std::max(nA, nB) + 5});
      for (int n : {nA, nB}) vecWindows.insert(vecWindows.end(), {n - 1, n, n + 1});
      for (int nWindow : vecWindows) {
        const float fScore = Reference3(nWindow);
        ASSERT_NO_FATAL_FAILURE(
            ExpectSame({nWindow}, nWindow, {std::nextafter(fScore, -1.0f), fScore, 0.3f}));
      }
    }
  }
}

// Random lengths up to 3000 for the scores, shorter ones for the decisions: at,
// just beside and one counter point above the score, and at infinite or NaN
// thresholds.
TEST_P(MatchKernelTest, ScoresAndDecisionsAgreeOnRandomSizes) {
  for (int nRound = 0; nRound < 100; ++nRound) {
    const bool bLong = nRound < 40;
    const int nLow = bLong ? 0 : 20, nMax = bLong ? 3001 : 700;
    const int nA = nLow + static_cast<int>(maker_.Word() % nMax);
    Make(nRound % kKinds, nA, nRound % 3 == 0 ? nA : nLow + static_cast<int>(maker_.Word() % nMax));
    const int anWindows[] = {-1, std::min(nA, nB_) / 3, INT_MIN, 0, 1, INT_MAX};
    const int nWindow = anWindows[nRound % 5 == 0 ? 0 : nRound % 7 == 0 ? 2 + nRound % 4 : 1];
    const float fScore = Reference3(nWindow);
    // The score one counter point higher: the next value a closer match can reach.
    const double fPoints = 16.0 * std::min(nA, nB_);
    const float fNextStep = static_cast<float>((std::round(fScore * fPoints) + 1) / fPoints);
    std::vector<float> vecThresholds = {fScore, std::nextafter(fScore, -1.0f)};
    if (!bLong) {
      vecThresholds.insert(
          vecThresholds.end(),
          {std::nextafter(fScore, 2.0f), fNextStep, std::nextafter(fNextStep, -1.0f), 0.8f, 0.0f,
           -0.0f, -0.5f, 1.0f, 0.999f, -INFINITY, INFINITY, NAN});
    }
    const int nSmall = static_cast<int>(maker_.Word() % 400);
    ASSERT_NO_FATAL_FAILURE(
        ExpectSame({-1, 0, nSmall, std::min(nA, nB_) / 3, nA + nB_ + 1}, nWindow, vecThresholds));
  }
  Make(0, 0, 5);
  ASSERT_NO_FATAL_FAILURE(ExpectSame({}, -1, {-1.0f, 0.0f}));
}

TEST(MatchKernelsTest, ExportedMatchersUseTheFastestAvailableKernel) {
  EXPECT_STREQ(ActiveMatchKernel().pszName, AvailableMatchKernels().front().pszName);
  EXPECT_STREQ(AvailableMatchKernels().back().pszName, "portable");
}

// A slower kernel can be chosen (as benchmarks do to stand in for another
// processor), and the advice on exact filing follows it: never more files for a
// slower kernel or fewer cores.
TEST(MatchKernelsTest, ChosenKernelRunsTheMatchersAndSetsTheExactFilingAdvice) {
  const MatchKernel& fastest = AvailableMatchKernels().front();
  const int nFastest = twintone_exact_filing_limit();
  EXPECT_EQ(nFastest, ExactFilingLimit(fastest, std::thread::hardware_concurrency()));
  EXPECT_FALSE(UseMatchKernel("no such kernel"));
  ASSERT_TRUE(UseMatchKernel("portable"));
  EXPECT_STREQ(ActiveMatchKernel().pszName, "portable");
  EXPECT_LE(twintone_exact_filing_limit(), nFastest);
  int nSlower = INT_MAX;
  for (const MatchKernel& kernel : AvailableMatchKernels()) {
    EXPECT_LE(ExactFilingLimit(kernel, 2), nSlower) << kernel.pszName;
    nSlower = ExactFilingLimit(kernel, 2);
    EXPECT_GE(nSlower, 1000);
    EXPECT_LE(ExactFilingLimit(kernel, 1), nSlower);
    EXPECT_GT(ExactFilingLimit(kernel, 8), nSlower);
  }
  ASSERT_TRUE(UseMatchKernel(nullptr));
  EXPECT_STREQ(ActiveMatchKernel().pszName, fastest.pszName);
}

INSTANTIATE_TEST_SUITE_P(AllKernels, MatchKernelTest, ::testing::ValuesIn(AvailableMatchKernels()),
                         [](const ::testing::TestParamInfo<MatchKernel>& info) {
                           return std::string(info.param.pszName);
                         });

}  // namespace
