// IsMaxFinger ranks group members; SimilarCompare is a yes/no fingerprint test
// offered to hosts. Neither keeps state; both may run on any thread.
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "analysis/records.h"
#include "twintone.h"

namespace {

constexpr int kMinWords = 100;         // shorter fingerprints are refused
constexpr int kBlockWords = 50;        // words per block
constexpr int kShifts = 50;            // shifts 0..49 tried per block, both ways
constexpr int kTailMargin = 10;        // block comparisons stop short of the last 10 words
constexpr double kBlockBits = 1600.0;  // 50 words of 32 bits

// Durations closer than this rank by bitrate first.
constexpr uint32_t kCloseDurationMs = 30000;

// Differing bits of two words are added to a running total unless they exceed
// nCap, which breaks off the comparison in progress (false). A negative cap
// breaks every comparison, even of equal words.
inline bool AddDifferingBits(int32_t x, int32_t y, int nCap, int64_t* pnTotal) {
  const int nBits = __builtin_popcount(static_cast<uint32_t>(x) ^ static_cast<uint32_t>(y));
  if (nBits > nCap) return false;
  *pnTotal += nBits;
  return true;
}

// Error of one block at one shift: pLead[i] against pShifted[i + s] for the 50
// words of block nBlock, or -1.0 when a pair breaks the cap or the comparison
// would reach the last 10 words.
double BlockError(const int* pLead, const int* pShifted, int n, int nBlock, int s, int nCap) {
  int64_t nTotal = 0;
  for (int k = 0; k < kBlockWords; ++k) {
    const int i = nBlock * kBlockWords + k;
    if (i + s >= n - kTailMargin) return -1.0;
    if (!AddDifferingBits(pLead[i], pShifted[i + s], nCap, &nTotal)) return -1.0;
  }
  return static_cast<double>(nTotal) / kBlockBits;
}

struct Offsets {
  int nFirst = -1;  // offset into the first fingerprint; -1: the block found none
  int nSecond = -1;
  bool Found() const { return nFirst != -1 && nSecond != -1; }
};

// The offsets a block settles on: the shift with the smallest error, forward
// (offset into the second) before backward (into the first), earlier shifts
// winning ties; kept only when that error is within the tolerance.
Offsets BlockOffsets(const int* first, const int* second, int n, int nBlock, int nCap,
                     double fTolerance) {
  double fBest = 1.0;
  int nFirst = 0, nSecond = 0;
  for (int s = 0; s < kShifts; ++s) {
    const double fForward = BlockError(first, second, n, nBlock, s, nCap);
    const double fBackward = s == 0 ? fForward : BlockError(second, first, n, nBlock, s, nCap);
    if (fForward != -1.0 && fForward < fBest) {
      fBest = fForward;
      nFirst = 0;
      nSecond = s;
    }
    if (fBackward != -1.0 && fBackward < fBest) {
      fBest = fBackward;
      nFirst = s;
      nSecond = 0;
    }
  }
  Offsets offsets;
  if (fBest >= 0.0 && fBest <= fTolerance) {
    offsets.nFirst = nFirst;
    offsets.nSecond = nSecond;
  }
  return offsets;
}

// The offsets of the first block that a later block repeats, else those of the
// last block that found any; false when no block did. Offsets lie in 0..49, so
// a table of the last block holding each pair answers "repeated later".
bool AgreedOffsets(const std::vector<Offsets>& vecBlocks, Offsets* pAgreed) {
  int nLastBlock[kShifts][kShifts];
  memset(nLastBlock, -1, sizeof nLastBlock);
  const int nBlocks = static_cast<int>(vecBlocks.size());
  for (int i = 0; i < nBlocks; ++i) {
    if (vecBlocks[i].Found()) nLastBlock[vecBlocks[i].nFirst][vecBlocks[i].nSecond] = i;
  }
  for (int i = 0; i < nBlocks; ++i) {
    if (vecBlocks[i].Found() && nLastBlock[vecBlocks[i].nFirst][vecBlocks[i].nSecond] > i) {
      *pAgreed = vecBlocks[i];
      return true;
    }
  }
  for (int i = nBlocks - 1; i >= 0; --i) {
    if (vecBlocks[i].Found()) {
      *pAgreed = vecBlocks[i];
      return true;
    }
  }
  return false;
}

}  // namespace

TWINTONE_EXPORT int SimilarCompare(const int* first, const int* second, int n, int t) {
  if (first == nullptr || second == nullptr) return -1;
  if (n < kMinWords) return -2;
  // The cap and tolerance in 64 bits and double: no overflow for any t.
  const int64_t nCap64 = int64_t{6} * t;
  const int nCap = nCap64 > 32 ? 32 : nCap64 < -1 ? -1 : static_cast<int>(nCap64);
  const double fTolerance = 0.08 * t;

  std::vector<Offsets> vecBlocks;
  try {
    vecBlocks.resize(static_cast<size_t>(n / kBlockWords));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  for (size_t nBlock = 0; nBlock < vecBlocks.size(); ++nBlock) {
    vecBlocks[nBlock] = BlockOffsets(first, second, n, static_cast<int>(nBlock), nCap, fTolerance);
  }

  Offsets agreed;
  if (!AgreedOffsets(vecBlocks, &agreed)) return 0;
  const int m = n - (agreed.nFirst > agreed.nSecond ? agreed.nFirst : agreed.nSecond);
  int64_t nTotal = 0;
  for (int i = 0; i < m; ++i) {
    if (!AddDifferingBits(first[i + agreed.nFirst], second[i + agreed.nSecond], nCap, &nTotal)) {
      return 0;
    }
  }
  const double fBitErrorRate = static_cast<double>(nTotal) / (m * 32.0);
  return fBitErrorRate <= fTolerance ? 1 : 0;
}

TWINTONE_EXPORT bool IsMaxFinger(InerMusicDedupInfo* member, InerMusicDedupInfo* newcomer) {
  if (member == nullptr || newcomer == nullptr) return false;
  // The larger minus the smaller, taken in unsigned 32 bits: never negative and
  // free of signed overflow for any two durations.
  const uint32_t nLonger = static_cast<uint32_t>(
      member->nDuration > newcomer->nDuration ? member->nDuration : newcomer->nDuration);
  const uint32_t nShorter = static_cast<uint32_t>(
      member->nDuration > newcomer->nDuration ? newcomer->nDuration : member->nDuration);
  // Close durations rank by bitrate; equal bitrates, or distant durations, by
  // duration. Equal records do not outrank each other.
  if (nLonger - nShorter < kCloseDurationMs && newcomer->nBitrate != member->nBitrate) {
    return newcomer->nBitrate > member->nBitrate;
  }
  return newcomer->nDuration > member->nDuration;
}
