// The matching algorithms in their plain form: a histogram over every diagonal,
// filled pair by pair through the byte-table popcount. They define the scores;
// the fast versions in acoustid_compare.cpp must return the same floats.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "grouping/acoustid_compare.h"
#include "grouping/popcount.h"

namespace twintone {

namespace {

// The top 14 bits of a word: match_fingerprints2's alignment key.
constexpr int kKeyBits = 14;
constexpr int kKeyCount = 1 << kKeyBits;

inline int KeyOf(uint32_t word) { return static_cast<int>(word >> (32 - kKeyBits)); }

bool ValidPair(const uint32_t* a, int asize, const uint32_t* b, int bsize) {
  return a != nullptr && b != nullptr && asize > 0 && bsize > 0;
}

// Largest histogram entry, 0 when all are 0.
int32_t TopCount(const int32_t* pCounts, size_t nCounts) {
  int32_t nTop = 0;
  for (size_t k = 0; k < nCounts; ++k) nTop = std::max(nTop, pCounts[k]);
  return nTop;
}

// Distinct keys among n words; pbSeen is a table of kKeyCount flags, cleared here.
int DistinctKeys(const uint32_t* p, int n, uint8_t* pbSeen) {
  memset(pbSeen, 0, kKeyCount);
  int nDistinct = 0;
  for (int i = 0; i < n; ++i) {
    const int nKey = KeyOf(p[i]);
    if (!pbSeen[nKey]) {
      pbSeen[nKey] = 1;
      ++nDistinct;
    }
  }
  return nDistinct;
}

// (distinct keys + 10) / length plus one half, at most 1.
float Diversity(int nDistinct, int nLength) {
  return std::min(1.0f, static_cast<float>(nDistinct + 10) / nLength + 0.5f);
}

}  // namespace

namespace reference {

float match_fingerprints(const uint32_t* a, int asize, const uint32_t* b, int bsize) {
  if (!ValidPair(a, asize, b, bsize)) return 0.0f;
  const size_t nCounts = static_cast<size_t>(asize) + bsize + 1;
  int32_t* pCounts = static_cast<int32_t*>(calloc(nCounts, sizeof(int32_t)));
  if (pCounts == nullptr) return 0.0f;
  for (int i = 0; i < asize; ++i) {
    const int jbegin = std::max(i - 120, 0);
    const int jend = static_cast<int>(std::min<int64_t>(bsize, int64_t{i} + 120));
    for (int j = jbegin; j < jend; ++j) {
      if (popcount_lookup8(a[i] ^ b[j]) <= 2) ++pCounts[i - j + bsize];
    }
  }
  const int32_t nTop = TopCount(pCounts, nCounts);
  free(pCounts);
  return static_cast<float>(nTop) / static_cast<float>(std::min(asize, bsize));
}

float match_fingerprints3(const uint32_t* a, int asize, const uint32_t* b, int bsize,
                          int maxoffset) {
  if (!ValidPair(a, asize, b, bsize)) return 0.0f;
  const size_t nCounts = static_cast<size_t>(asize) + bsize + 1;
  int32_t* pCounts = static_cast<int32_t*>(calloc(nCounts, sizeof(int32_t)));
  if (pCounts == nullptr) return 0.0f;
  int jbegin = 0, jend = bsize;
  for (int i = 0; i < asize; ++i) {
    if (maxoffset >= 0) {
      jbegin = static_cast<int>(std::max<int64_t>(int64_t{i} - maxoffset, 0));
      jend = static_cast<int>(std::min<int64_t>(bsize, int64_t{i} + maxoffset));
    }
    for (int j = jbegin; j < jend; ++j) {
      const int e = popcount_lookup8(a[i] ^ b[j]);
      if (e < 16) pCounts[i - j + bsize] += 16 - e;
    }
  }
  const int32_t nTop = TopCount(pCounts, nCounts);
  free(pCounts);
  return static_cast<float>(nTop / (16.0 * std::min(asize, bsize)));
}

float match_fingerprints2(const uint32_t* a, int asize, const uint32_t* b, int bsize,
                          int maxoffset) {
  if (!ValidPair(a, asize, b, bsize)) return 0.0f;
  const size_t nCounts = static_cast<size_t>(asize) + bsize + 1;
  // One zeroed block: the histogram, then the two position tables.
  uint16_t* pMemory =
      static_cast<uint16_t*>(calloc(nCounts + 2 * size_t{kKeyCount}, sizeof(uint16_t)));
  if (pMemory == nullptr) return 0.0f;
  uint16_t* pCounts = pMemory;
  uint16_t* pPosA = pMemory + nCounts;
  uint16_t* pPosB = pPosA + kKeyCount;

  for (int i = 0; i < asize; ++i) pPosA[KeyOf(a[i])] = static_cast<uint16_t>(i);
  for (int i = 0; i < bsize; ++i) pPosB[KeyOf(b[i])] = static_cast<uint16_t>(i);

  int nTopCount = 0, nTopOffset = -bsize;
  for (int nKey = 0; nKey < kKeyCount - 1; ++nKey) {
    if (pPosA[nKey] == 0 || pPosB[nKey] == 0) continue;
    const int d = pPosA[nKey] - pPosB[nKey];
    if (maxoffset != 0 && (d < -int64_t{maxoffset} || d > maxoffset)) continue;
    const int nCount = ++pCounts[d + bsize];
    if (nCount > nTopCount) {
      nTopCount = nCount;
      nTopOffset = d;
    }
  }

  const int nSize = std::min(asize, bsize) & ~1;
  if (nTopOffset < 0) {
    b -= nTopOffset;
    bsize = std::max(0, bsize + nTopOffset);
  } else {
    a += nTopOffset;
    asize = std::max(0, asize - nTopOffset);
  }
  const int nHalf = std::min(asize, bsize) / 2;
  if (nHalf == 0 || nSize == 0) {
    free(pMemory);
    return 0.0f;
  }

  // The position tables have served: the first one's memory holds the key flags.
  uint8_t* pbSeen = reinterpret_cast<uint8_t*>(pPosA);
  const int nDistinctA = DistinctKeys(a, asize, pbSeen);
  const int nDistinctB = DistinctKeys(b, bsize, pbSeen);
  free(pMemory);
  const float fDiversity = std::min(Diversity(nDistinctA, asize), Diversity(nDistinctB, bsize));
  if (0.02 * std::max(nDistinctA, nDistinctB) > nTopCount) return 0.0f;

  uint64_t nBitErrors = 0;
  for (int k = 0; k < nHalf; ++k) {
    uint64_t x, y;
    memcpy(&x, a + 2 * k, sizeof x);
    memcpy(&y, b + 2 * k, sizeof y);
    nBitErrors += popcount_3(x ^ y);
  }
  float fScore =
      static_cast<float>((nHalf * 2.0 / nSize) * (1.0 - 2.0 * nBitErrors / (nHalf * 64.0)));
  if (fScore < 0.0f) fScore = 0.0f;
  if (fDiversity < 1.0f) {
    fScore = static_cast<float>(std::pow(static_cast<double>(fScore), 8.0 - 7.0 * fDiversity));
  }
  return fScore;
}

}  // namespace reference

bool ReferenceMatchAboveThreshold(const uint32_t* a, int asize, const uint32_t* b, int bsize,
                                  int maxoffset, float fThreshold, float* pfScore) {
  const float fScore = reference::match_fingerprints3(a, asize, b, bsize, maxoffset);
  if (!(fScore > fThreshold)) return false;
  if (pfScore != nullptr) *pfScore = fScore;
  return true;
}

}  // namespace twintone
