// Every fast kernel against the reference matchers: the same float, bit for
// bit, on structured and random inputs, window sizes of every sign, and
// thresholds on either side of the true score.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/fingerprints.h"
#include "grouping/acoustid_compare.h"
#include "grouping/match_kernels.h"

// Failure messages name the kernel instead of dumping its bytes.
void PrintTo(const MatchKernel& kernel, std::ostream* pOut) { *pOut << kernel.pszName; }

namespace {

struct Pair {
  Words a, b;
  std::string strWhat;
};

uint32_t Bits(float f) {
  uint32_t n;
  memcpy(&n, &f, sizeof n);
  return n;
}

class MatchKernelTest : public ::testing::TestWithParam<MatchKernel> {
 protected:
  // words cut or padded with random words to nWords.
  Words Fit(Words words, int nWords) {
    const size_t nOld = words.size();
    words.resize(static_cast<size_t>(nWords));
    for (size_t k = nOld; k < words.size(); ++k) words[k] = maker_.Word();
    return words;
  }

  // One pair of the given kind, first fingerprint nA words, second nB.
  Pair Make(int nKind, int nA, int nB) {
    const Words a = nKind % 2 ? maker_.Drifting(nA, 5) : maker_.Random(nA);
    const int nShift = nA > 0 ? static_cast<int>(maker_.Word() % (2 * nA + 1)) - nA : 0;
    switch (nKind) {
      case 0:
      case 1:
        return {a, Fit(maker_.Random(nB), nB), "unrelated"};
      case 2:
      case 3:
        return {a, Fit(maker_.Sprinkled(maker_.Shifted(a, nShift), 2, 3), nB),
                "moved by " + std::to_string(nShift)};
      case 4:
      case 5: {
        const int nBits = static_cast<int>(maker_.Word() % 21);
        return {a, Fit(maker_.Flipped(a, nBits), nB), std::to_string(nBits) + " bits changed"};
      }
      case 6:
        return {Words(nA, 0u), Words(nB, 0u), "all zero"};
      case 7:
        return {Words(nA, 0u), Words(nB, ~0u), "zero against all ones"};
      default: {
        const uint32_t nWord = maker_.Word();
        return {Words(nA, nWord), Words(nB, nWord ^ 0x00ff0000u), "constant words"};
      }
    }
  }
  static constexpr int kKinds = 9;

  // Windows of every sign and size around the lengths.
  static std::vector<int> Windows(int nA, int nB) {
    const int n = std::max(nA, nB);
    return {INT_MIN, -7, -1, 0, 1, 2, 5, 16, std::min(nA, nB) / 3, n, n + 1, 2 * n + 5, INT_MAX};
  }

  void ExpectSameMatch3(const Pair& pair, int nWindow) {
    const int nA = static_cast<int>(pair.a.size()), nB = static_cast<int>(pair.b.size());
    const float fFast =
        MatchFingerprints3With(GetParam(), pair.a.data(), nA, pair.b.data(), nB, nWindow);
    const float fRef =
        reference::match_fingerprints3(pair.a.data(), nA, pair.b.data(), nB, nWindow);
    ASSERT_EQ(Bits(fFast), Bits(fRef))
        << pair.strWhat << ", " << nA << " x " << nB << " words, window " << nWindow;
  }

  void ExpectSameMatch1(const Pair& pair) {
    const int nA = static_cast<int>(pair.a.size()), nB = static_cast<int>(pair.b.size());
    const float fFast = MatchFingerprintsWith(GetParam(), pair.a.data(), nA, pair.b.data(), nB);
    const float fRef = reference::match_fingerprints(pair.a.data(), nA, pair.b.data(), nB);
    ASSERT_EQ(Bits(fFast), Bits(fRef)) << pair.strWhat << ", " << nA << " x " << nB;
  }

  // The decision and the stored score agree with the reference's, and a
  // refusal leaves the caller's score alone.
  void ExpectSameDecision(const Pair& pair, int nWindow, float fThreshold) {
    const int nA = static_cast<int>(pair.a.size()), nB = static_cast<int>(pair.b.size());
    float fFast = -7.0f, fRef = -7.0f;
    const bool bFast = MatchAboveThresholdWith(GetParam(), pair.a.data(), nA, pair.b.data(), nB,
                                               nWindow, fThreshold, &fFast);
    const bool bRef = ReferenceMatchAboveThreshold(pair.a.data(), nA, pair.b.data(), nB, nWindow,
                                                   fThreshold, &fRef);
    ASSERT_EQ(bFast, bRef) << pair.strWhat << ", " << nA << " x " << nB << ", window " << nWindow
                           << ", threshold " << fThreshold;
    ASSERT_EQ(Bits(fFast), Bits(fRef)) << pair.strWhat << ", threshold " << fThreshold;
  }

  FingerprintMaker maker_{99};
};

TEST_P(MatchKernelTest, Match3AgreesOnEveryKindLengthAndWindow) {
  for (int n : {1, 2, 15, 16, 17, 127, 128, 129, 300}) {
    for (int nKind = 0; nKind < kKinds; ++nKind) {
      for (int nB : {n, n / 2 + 1, 2 * n + 3}) {
        const Pair pair = Make(nKind, n, nB);
        for (int nWindow : Windows(n, nB)) ASSERT_NO_FATAL_FAILURE(ExpectSameMatch3(pair, nWindow));
      }
    }
  }
}

TEST_P(MatchKernelTest, Match3AgreesOnRandomLengthsUpTo3000) {
  for (int nRound = 0; nRound < 40; ++nRound) {
    const int nA = static_cast<int>(maker_.Word() % 3001);
    const int nB = nRound % 4 == 0 ? nA : static_cast<int>(maker_.Word() % 3001);
    const Pair pair = Make(nRound % kKinds, nA, nB);
    const int nSmall = static_cast<int>(maker_.Word() % 400);
    for (int nWindow : {-1, 0, nSmall, std::min(nA, nB) / 3, nA + nB + 1}) {
      ASSERT_NO_FATAL_FAILURE(ExpectSameMatch3(pair, nWindow));
    }
  }
}

TEST_P(MatchKernelTest, Match1AgreesOnEveryKindAndLength) {
  for (int n : {1, 2, 7, 16, 119, 120, 121, 250, 1000, 2999}) {
    for (int nKind = 0; nKind < kKinds; ++nKind) {
      for (int nB : {n, n / 3 + 1, n + 130})
        ASSERT_NO_FATAL_FAILURE(ExpectSameMatch1(Make(nKind, n, nB)));
    }
  }
}

TEST_P(MatchKernelTest, ThresholdDecisionIsExactAtTheScoreItself) {
  for (int nRound = 0; nRound < 60; ++nRound) {
    const int nA = 20 + static_cast<int>(maker_.Word() % 700);
    const int nB = nRound % 3 == 0 ? nA : 20 + static_cast<int>(maker_.Word() % 700);
    const Pair pair = Make(nRound % kKinds, nA, nB);
    const int nWindow = nRound % 5 == 0 ? -1 : std::min(nA, nB) / 3;
    const float fScore =
        reference::match_fingerprints3(pair.a.data(), nA, pair.b.data(), nB, nWindow);
    // The score one counter point higher: the next value a closer match can reach.
    const double fPoints = 16.0 * std::min(nA, nB);
    const float fNextStep = static_cast<float>((std::round(fScore * fPoints) + 1) / fPoints);
    for (float fThreshold :
         {fScore, std::nextafter(fScore, -1.0f), std::nextafter(fScore, 2.0f), fNextStep,
          std::nextafter(fNextStep, -1.0f), 0.8f, 0.0f, -0.5f, 1.0f}) {
      ASSERT_NO_FATAL_FAILURE(ExpectSameDecision(pair, nWindow, fThreshold));
    }
  }
}

TEST_P(MatchKernelTest, ThresholdDecisionHandlesEdgesLikeTheReference) {
  const Pair pair = Make(2, 400, 380);
  for (int nWindow : {INT_MIN, -1, 0, 1, 133, INT_MAX}) {
    for (float fThreshold : {-INFINITY, -1.0f, -0.0f, 0.0f, 0.5f, 0.999f, 1.0f, INFINITY, NAN}) {
      ASSERT_NO_FATAL_FAILURE(ExpectSameDecision(pair, nWindow, fThreshold));
    }
  }
  const Pair empty{Words(), Words(5, 1u), "empty first"};
  for (float fThreshold : {-1.0f, 0.0f}) {
    ASSERT_NO_FATAL_FAILURE(ExpectSameDecision(empty, -1, fThreshold));
  }
}

// Lengths and windows around the block widths (8 and 16 diagonals) and the
// 16-row groups: blocks that hang over either end of the window or of the
// fingerprints, and fingerprints shorter than one block, in both orders.
TEST_P(MatchKernelTest, Match3AndThresholdAgreeAroundBlockEdges) {
  const std::vector<int> vecLengths = {3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 49, 64, 81};
  for (int nA : vecLengths) {
    for (int nB : vecLengths) {
      const Pair pair = Make(static_cast<int>((nA + nB) % kKinds), nA, nB);
      std::vector<int> vecWindows = {1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 24};
      for (int n : {nA, nB}) vecWindows.insert(vecWindows.end(), {n - 1, n, n + 1});
      for (int nWindow : vecWindows) {
        ASSERT_NO_FATAL_FAILURE(ExpectSameMatch3(pair, nWindow));
        const float fScore = reference::match_fingerprints3(pair.a.data(), nA, pair.b.data(), nB,
                                                            nWindow);
        for (float fThreshold : {std::nextafter(fScore, -1.0f), fScore, 0.3f}) {
          ASSERT_NO_FATAL_FAILURE(ExpectSameDecision(pair, nWindow, fThreshold));
        }
      }
    }
  }
}

// Each lane of a block loss is its diagonal's whole loss, or a partial one
// (never more than the whole) above its budget; blocks reach past both ends of
// the fingerprints, and budgets range from "not needed" to "never stop".
TEST_P(MatchKernelTest, BlockLossIsWholeOrAboveBudgetInEveryLane) {
  const MatchKernel& kernel = GetParam();
  if (kernel.nBlockWidth == 0) GTEST_SKIP() << kernel.pszName << " sums one diagonal at a time";
  for (const auto& sizes : {std::pair<int, int>{1, 1}, {5, 40}, {40, 5}, {16, 16}, {17, 33},
                            {200, 190}, {190, 200}, {700, 700}}) {
    const int nA = sizes.first, nB = sizes.second;
    const Pair pair = Make(nA % 2 ? 3 : 0, nA, nB);
    const Words& a = pair.a;
    const Words& b = pair.b;
    for (int64_t nTop = -nB - 2; nTop <= nA + kernel.nBlockWidth; ++nTop) {
      int64_t anBudget[kMaxBlockWidth];
      uint64_t anLoss[kMaxBlockWidth], anWhole[kMaxBlockWidth];
      for (int k = 0; k < kernel.nBlockWidth; ++k) {
        anWhole[k] = 0;
        for (int64_t i = 0; i < nA; ++i) {
          const int64_t j = i - nTop + k;
          if (j >= 0 && j < nB) anWhole[k] += std::min(__builtin_popcount(a[i] ^ b[j]), 16);
        }
        // Not needed, a third or two thirds of the whole loss, or endless; odd
        // blocks leave out the endless budget so that they can stop early.
        const int64_t nWhole = static_cast<int64_t>(anWhole[k]);
        const int64_t anChoices[] = {-1, nWhole / 3, 2 * nWhole / 3, INT64_MAX};
        anBudget[k] = anChoices[maker_.Word() % (nTop % 2 ? 3 : 4)];
      }
      kernel.pfnBlockLoss(a.data(), nA, b.data(), nB, nTop, anBudget, anLoss);
      for (int k = 0; k < kernel.nBlockWidth; ++k) {
        const bool bWhole = anLoss[k] == anWhole[k];
        const bool bCutShort =
            anLoss[k] < anWhole[k] && static_cast<int64_t>(anLoss[k]) > anBudget[k];
        ASSERT_TRUE(bWhole || bCutShort)
            << nA << " x " << nB << ", top diagonal " << nTop << ", lane " << k << ": loss "
            << anLoss[k] << ", whole " << anWhole[k] << ", budget " << anBudget[k];
      }
    }
  }
}

TEST(MatchKernelsTest, ExportedMatchersUseTheFastestAvailableKernel) {
  ASSERT_FALSE(AvailableMatchKernels().empty());
  EXPECT_STREQ(ActiveMatchKernel().pszName, AvailableMatchKernels().front().pszName);
  EXPECT_STREQ(AvailableMatchKernels().back().pszName, "portable");
  FingerprintMaker maker(5);
  const Words a = maker.Random(700), b = maker.Sprinkled(maker.Shifted(a, 9), 2, 2);
  EXPECT_EQ(Bits(match_fingerprints3(a.data(), 700, b.data(), 700, 233)),
            Bits(reference::match_fingerprints3(a.data(), 700, b.data(), 700, 233)));
  EXPECT_EQ(Bits(match_fingerprints(a.data(), 700, b.data(), 700)),
            Bits(reference::match_fingerprints(a.data(), 700, b.data(), 700)));
}

INSTANTIATE_TEST_SUITE_P(AllKernels, MatchKernelTest, ::testing::ValuesIn(AvailableMatchKernels()),
                         [](const ::testing::TestParamInfo<MatchKernel>& info) {
                           return std::string(info.param.pszName);
                         });

}  // namespace
