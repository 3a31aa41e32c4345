// The fast matchers. Instead of a histogram filled pair by pair, each diagonal
// i - j = d is summed on its own by a vector kernel; the best diagonal gives the
// score. The sums are the reference's histogram entries, so the floats agree
// exactly. match_fingerprints2 is linear and has one implementation.
#include "grouping/acoustid_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "grouping/match_kernels.h"

namespace twintone {

namespace {

// match_fingerprints counts the diagonals from -119 to +120.
constexpr int64_t kWindowLow = -119;
constexpr int64_t kWindowHigh = 120;

// Most points a pair scores in match_fingerprints3.
constexpr int64_t kPairPoints = 16;

bool ValidPair(const uint32_t* a, int asize, const uint32_t* b, int bsize) {
  return a != nullptr && b != nullptr && asize > 0 && bsize > 0;
}

// The pairs (i, i - d) of diagonal d; d must lie in -(bsize - 1) .. asize - 1.
struct Diagonal {
  const uint32_t* pa;
  const uint32_t* pb;
  size_t n;
};

Diagonal DiagonalAt(const uint32_t* a, int asize, const uint32_t* b, int bsize, int64_t d) {
  const int64_t i0 = std::max<int64_t>(0, d);
  const int64_t i1 = std::min<int64_t>(asize, bsize + d);
  return {a + i0, b + (i0 - d), static_cast<size_t>(i1 - i0)};
}

// The diagonals, nLow to nHigh inclusive, that a search visits; empty when
// nLow > nHigh.
struct DiagonalRange {
  int64_t nLow;
  int64_t nHigh;
};

// match_fingerprints3's diagonals: -maxoffset + 1 .. maxoffset (none for 0), or
// all of them for a negative maxoffset, cut to those holding at least one pair.
DiagonalRange Match3Range(int asize, int bsize, int maxoffset) {
  DiagonalRange range{-(int64_t{bsize} - 1), int64_t{asize} - 1};
  if (maxoffset >= 0) {
    range.nLow = std::max(range.nLow, -int64_t{maxoffset} + 1);
    range.nHigh = std::min(range.nHigh, int64_t{maxoffset});
  }
  return range;
}

// The score of a top diagonal sum, rounded exactly as the reference does.
float Match3Score(int64_t nTop, int nMin) { return static_cast<float>(nTop / (16.0 * nMin)); }

// Pairs on diagonal d; d must lie in -(bsize - 1) .. asize - 1.
int64_t DiagonalLength(int asize, int bsize, int64_t d) {
  return std::min<int64_t>(asize, bsize + d) - std::max<int64_t>(0, d);
}

// x / y rounded down, for y > 0.
int64_t FloorDiv(int64_t x, int64_t y) { return x >= 0 ? x / y : -((-x + y - 1) / y); }

// A block with fewer live lanes than this walks them one diagonal at a time:
// there the block's full-width rows would cost more than the calls they save.
constexpr int kMinLiveLanes = 4;

// The largest diagonal sum in range that reaches nNeeded (>= 1), or -1 when
// none does. Diagonals nearest offset 0 come first, where matching recordings
// usually align; each found sum raises nNeeded, so later diagonals are left as
// soon as their losses show that they cannot beat it. The result is exact: a
// diagonal is only left when its sum is certain to stay below nNeeded.
//
// Kernels with a block loss take nBlockWidth neighbouring diagonals per call,
// each lane with its own budget from the nNeeded at the block's start; a lane
// that stays within its budget has its whole loss, so its sum is exact and
// reaches nNeeded. Blocks go outward from the one around offset 0.
int64_t BestDiagonal(const MatchKernel& kernel, const uint32_t* a, int asize, const uint32_t* b,
                     int bsize, DiagonalRange range, int64_t nNeeded) {
  // Only diagonals of at least nNeeded / 16 pairs can reach nNeeded: for d >= 0
  // they are those up to asize - L, for d < 0 those from L - bsize on.
  const int64_t nPairs = (nNeeded + kPairPoints - 1) / kPairPoints;
  if (nPairs > std::min(asize, bsize)) return -1;
  range.nLow = std::max(range.nLow, nPairs - bsize);
  range.nHigh = std::min(range.nHigh, int64_t{asize} - nPairs);
  int64_t nBest = -1;
  auto visit = [&](int64_t d) {
    const Diagonal diagonal = DiagonalAt(a, asize, b, bsize, d);
    const int64_t nFull = kPairPoints * static_cast<int64_t>(diagonal.n);
    if (nFull < nNeeded) return;
    const uint64_t nBudget = static_cast<uint64_t>(nFull - nNeeded);
    const uint64_t nLoss = kernel.pfnLoss(diagonal.pa, diagonal.pb, diagonal.n, nBudget);
    if (nLoss > nBudget) return;
    nBest = nFull - static_cast<int64_t>(nLoss);
    nNeeded = nBest + 1;
  };
  if (range.nLow > range.nHigh) return nBest;

  if (kernel.nBlockWidth == 0) {
    const int64_t nReach = std::max(std::abs(range.nLow), std::abs(range.nHigh));
    for (int64_t r = 0; r <= nReach; ++r) {
      if (r >= range.nLow && r <= range.nHigh) visit(r);
      if (r > 0 && -r >= range.nLow && -r <= range.nHigh) visit(-r);
    }
    return nBest;
  }

  const int64_t nWidth = kernel.nBlockWidth;
  // The block with top diagonal nTop holds nTop - nWidth + 1 .. nTop.
  auto visitBlock = [&](int64_t nTop) {
    int64_t anFull[kMaxBlockWidth], anBudget[kMaxBlockWidth];
    uint64_t anLoss[kMaxBlockWidth];
    int nLive = 0;
    for (int64_t k = 0; k < nWidth; ++k) {
      const int64_t d = nTop - k;
      const bool bInRange = d >= range.nLow && d <= range.nHigh;
      anFull[k] = bInRange ? kPairPoints * DiagonalLength(asize, bsize, d) : 0;
      anBudget[k] = bInRange && anFull[k] >= nNeeded ? anFull[k] - nNeeded : -1;
      nLive += anBudget[k] >= 0 ? 1 : 0;
    }
    if (nLive == 0) return;
    if (nLive < kMinLiveLanes) {
      for (int64_t k = 0; k < nWidth; ++k) {
        if (anBudget[k] >= 0) visit(nTop - k);
      }
      return;
    }
    kernel.pfnBlockLoss(a, asize, b, bsize, nTop, anBudget, anLoss);
    for (int64_t k = 0; k < nWidth; ++k) {
      if (anBudget[k] < 0 || anLoss[k] > static_cast<uint64_t>(anBudget[k])) continue;
      nBest = std::max(nBest, anFull[k] - static_cast<int64_t>(anLoss[k]));
    }
    if (nBest >= nNeeded) nNeeded = nBest + 1;
  };
  // Block m has top diagonal nWidth / 2 + m * nWidth, so block 0 holds offset
  // 0; blocks mLow .. mHigh meet the range, and go in order of distance from 0.
  const int64_t nFirstTop = nWidth / 2;
  const int64_t mLow = FloorDiv(range.nLow - nFirstTop + nWidth - 1, nWidth);
  const int64_t mHigh = FloorDiv(range.nHigh - nFirstTop + nWidth - 1, nWidth);
  for (int64_t r = 0; r <= std::max(std::abs(mLow), std::abs(mHigh)); ++r) {
    if (r >= mLow && r <= mHigh) visitBlock(nFirstTop + r * nWidth);
    if (r > 0 && -r >= mLow && -r <= mHigh) visitBlock(nFirstTop - r * nWidth);
  }
  return nBest;
}

// The smallest top sum whose score exceeds fThreshold, given that nFull, the
// perfect sum, does. The score rises with the sum, so a guess from the product
// is moved down while its predecessor still passes and up while it fails.
int64_t LowestPassingSum(float fThreshold, int nMin, int64_t nFull) {
  auto passes = [&](int64_t nSum) { return Match3Score(nSum, nMin) > fThreshold; };
  const double fGuess = std::ceil(static_cast<double>(fThreshold) * 16.0 * nMin);
  int64_t nSum = fGuess <= 0.0 ? 0 : fGuess >= nFull ? nFull : static_cast<int64_t>(fGuess);
  while (nSum > 0 && passes(nSum - 1)) --nSum;
  while (!passes(nSum)) ++nSum;
  return nSum;
}

}  // namespace

float MatchFingerprintsWith(const MatchKernel& kernel, const uint32_t* a, int asize,
                            const uint32_t* b, int bsize) {
  if (!ValidPair(a, asize, b, bsize)) return 0.0f;
  const int64_t nLow = std::max(kWindowLow, -(int64_t{bsize} - 1));
  const int64_t nHigh = std::min(kWindowHigh, int64_t{asize} - 1);
  uint64_t nTop = 0;
  for (int64_t d = nLow; d <= nHigh; ++d) {
    const Diagonal diagonal = DiagonalAt(a, asize, b, bsize, d);
    nTop = std::max(nTop, kernel.pfnCountClose(diagonal.pa, diagonal.pb, diagonal.n));
  }
  return static_cast<float>(nTop) / static_cast<float>(std::min(asize, bsize));
}

float MatchFingerprints3With(const MatchKernel& kernel, const uint32_t* a, int asize,
                             const uint32_t* b, int bsize, int maxoffset) {
  if (!ValidPair(a, asize, b, bsize)) return 0.0f;
  const int64_t nTop =
      BestDiagonal(kernel, a, asize, b, bsize, Match3Range(asize, bsize, maxoffset), 1);
  return Match3Score(std::max<int64_t>(nTop, 0), std::min(asize, bsize));
}

bool MatchAboveThresholdWith(const MatchKernel& kernel, const uint32_t* a, int asize,
                             const uint32_t* b, int bsize, int maxoffset, float fThreshold,
                             float* pfScore) {
  float fScore = 0.0f;
  if (ValidPair(a, asize, b, bsize)) {
    const int nMin = std::min(asize, bsize);
    const int64_t nFull = kPairPoints * nMin;
    // Not even a perfect diagonal passes (this also turns away a NaN threshold).
    if (!(Match3Score(nFull, nMin) > fThreshold)) return false;
    const int64_t nNeeded = LowestPassingSum(fThreshold, nMin, nFull);
    const int64_t nTop =
        BestDiagonal(kernel, a, asize, b, bsize, Match3Range(asize, bsize, maxoffset),
                     std::max<int64_t>(nNeeded, 1));
    // With nNeeded 0 every score passes, the empty histogram's 0 included.
    if (nTop < 0 && nNeeded > 0) return false;
    fScore = Match3Score(std::max<int64_t>(nTop, 0), nMin);
  }
  if (!(fScore > fThreshold)) return false;
  if (pfScore != nullptr) *pfScore = fScore;
  return true;
}

bool MatchAboveThreshold(const uint32_t* a, int asize, const uint32_t* b, int bsize, int maxoffset,
                         float fThreshold, float* pfScore) {
  return MatchAboveThresholdWith(ActiveMatchKernel(), a, asize, b, bsize, maxoffset, fThreshold,
                                 pfScore);
}

}  // namespace twintone

using twintone::ActiveMatchKernel;

extern "C" {

TWINTONE_EXPORT float match_fingerprints(const uint32_t* a, int asize, const uint32_t* b,
                                         int bsize) {
  return twintone::MatchFingerprintsWith(ActiveMatchKernel(), a, asize, b, bsize);
}

TWINTONE_EXPORT float match_fingerprints2(const uint32_t* a, int asize, const uint32_t* b,
                                          int bsize, int maxoffset) {
  return twintone::reference::match_fingerprints2(a, asize, b, bsize, maxoffset);
}

TWINTONE_EXPORT float match_fingerprints3(const uint32_t* a, int asize, const uint32_t* b,
                                          int bsize, int maxoffset) {
  return twintone::MatchFingerprints3With(ActiveMatchKernel(), a, asize, b, bsize, maxoffset);
}

}  // extern "C"
