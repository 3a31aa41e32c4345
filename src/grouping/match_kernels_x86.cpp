// The AVX2 and AVX-512 kernels. Each function carries its own target attribute,
// so the rest of the library stays buildable for any x86-64 and these run only
// where ActiveMatchKernel has found the instructions.
#include "grouping/match_kernels.h"

#ifdef TWINTONE_X86_KERNELS

#include <algorithm>
#include <cstdint>
#include <utility>

// GCC 12 warns about the deliberately undefined vectors inside its own AVX-512
// intrinsics when they are inlined into target-attributed functions; the
// warning concerns the header's code, not this file's.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

namespace twintone {
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#define TWINTONE_AVX512 __attribute__((target("avx512f,avx512vpopcntdq")))
#define TWINTONE_AVX2 __attribute__((target("avx2,popcnt")))

namespace {

// Pairs between two budget checks, once the first check is due: long enough that
// the horizontal sums cost little, short enough that a hopeless diagonal is left
// soon.
constexpr size_t kVectorLossBlock = 64;

// Most pairs or rows summed in 32-bit lanes between two checks: 16 points each
// stay below 2^32 even when a lane's sum collects several of them.
constexpr uint64_t kMaxStretch = uint64_t{1} << 24;

TWINTONE_AVX512 inline __m512i CappedPopcount512(const uint32_t* pa, const uint32_t* pb) {
  const __m512i x = _mm512_xor_si512(_mm512_loadu_si512(pa), _mm512_loadu_si512(pb));
  return _mm512_min_epu32(_mm512_popcnt_epi32(x), _mm512_set1_epi32(16));
}

// The same for the first nCount (< 16) pairs only: lanes past them load as zero
// on both sides and so lose nothing.
TWINTONE_AVX512 inline __m512i CappedPopcountPart512(const uint32_t* pa, const uint32_t* pb,
                                                     size_t nCount) {
  const __mmask16 mask = static_cast<__mmask16>((1u << nCount) - 1);
  const __m512i x =
      _mm512_xor_si512(_mm512_maskz_loadu_epi32(mask, pa), _mm512_maskz_loadu_epi32(mask, pb));
  return _mm512_min_epu32(_mm512_popcnt_epi32(x), _mm512_set1_epi32(16));
}

// Popcount of each 32-bit lane: a 4-bit table lookup per nibble, then the byte
// counts of each lane added up through two multiply-adds by one.
TWINTONE_AVX2 inline __m256i Popcount256(__m256i x) {
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2,
                                         1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i lo = _mm256_shuffle_epi8(table, _mm256_and_si256(x, nibble));
  const __m256i hi = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble));
  const __m256i words = _mm256_maddubs_epi16(_mm256_add_epi8(lo, hi), _mm256_set1_epi8(1));
  return _mm256_madd_epi16(words, _mm256_set1_epi16(1));
}

TWINTONE_AVX2 inline __m256i CappedPopcount256(const uint32_t* pa, const uint32_t* pb) {
  const __m256i x = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pa)),
                                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb)));
  return _mm256_min_epu32(Popcount256(x), _mm256_set1_epi32(16));
}

TWINTONE_AVX2 inline uint64_t HorizontalSum256(__m256i v) {
  __m128i x = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  x = _mm_add_epi32(x, _mm_shuffle_epi32(x, _MM_SHUFFLE(1, 0, 3, 2)));
  x = _mm_add_epi32(x, _mm_shuffle_epi32(x, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(x));
}

// Rows of a block between two budget checks once the first is due (the AVX-512
// walk takes its rows in groups of 16, so its distance is a multiple of 16). The
// lanes count in 32 bits within a stretch (at most 16 points a row, kMaxStretch
// rows) and in 64 bits across stretches, so no length of fingerprint overflows
// them.
constexpr int64_t kAvx512RowsPerCheck = 32;
constexpr int64_t kAvx2RowsPerCheck = 16;

// Rows of a block from its first before the first check: no lane can be past its
// budget sooner.
inline int64_t FirstBlockCheck(const int64_t* pnBudget, int nWidth, int64_t nStep) {
  int64_t nMax = 0;
  for (int k = 0; k < nWidth; ++k) nMax = std::max(nMax, pnBudget[k]);
  return static_cast<int64_t>(FirstLossCheck(static_cast<uint64_t>(nMax), nStep));
}

// The rows of a block of nWidth diagonals whose highest is nTop, in three
// stretches: [nBegin, nFullBegin) and [nFullEnd, nEnd) hold rows where some
// lanes fall outside b (or the block's end diagonals have no pair yet or any
// more), [nFullBegin, nFullEnd) the rows where every lane reads b[i - nTop ..
// i - nTop + nWidth - 1] in full.
struct BlockRows {
  int64_t nBegin, nFullBegin, nFullEnd, nEnd;
};

BlockRows BlockRowsOf(int64_t asize, int64_t bsize, int64_t nTop, int64_t nWidth) {
  BlockRows rows;
  // The lowest diagonal starts latest, the highest ends latest.
  rows.nBegin = std::max<int64_t>(0, nTop - nWidth + 1);
  rows.nEnd = std::max(rows.nBegin, std::min(asize, bsize + nTop));
  rows.nFullBegin = std::min(std::max(rows.nBegin, nTop), rows.nEnd);
  rows.nFullEnd = std::min(std::max(rows.nFullBegin, bsize + nTop - nWidth + 1), rows.nEnd);
  return rows;
}

// Lanes k of row i whose b index i - nTop + k lies in b: from nLow to nHigh
// (exclusive), both within 0 .. nWidth.
inline void EdgeLanes(int64_t bsize, int64_t nTop, int64_t nWidth, int64_t i, int64_t* pnLow,
                      int64_t* pnHigh) {
  *pnLow = std::min(nWidth, std::max<int64_t>(0, nTop - i));
  *pnHigh = std::max(*pnLow, std::min(nWidth, bsize + nTop - i));
}

// The address of b[nOffset] for a masked load that reads only the lanes inside
// b. nOffset may lie before b or past its end, so the address is formed as an
// integer rather than by pointer arithmetic outside the array.
inline const uint32_t* MaskedAddress(const uint32_t* b, int64_t nOffset) {
  return reinterpret_cast<const uint32_t*>(reinterpret_cast<uintptr_t>(b) +
                                           static_cast<uintptr_t>(nOffset) * sizeof(uint32_t));
}

// a[i] against 16 words of b, each lane's loss capped at 16.
TWINTONE_AVX512 inline __m512i RowLoss512(uint32_t nA, const uint32_t* pb) {
  const __m512i x = _mm512_xor_si512(_mm512_set1_epi32(static_cast<int>(nA)),
                                     _mm512_loadu_si512(pb));
  return _mm512_min_epu32(_mm512_popcnt_epi32(x), _mm512_set1_epi32(16));
}

// Row R of a group of 16 full rows: pa[R] against pb[R .. R + 15], added to
// one of two sums. The rows' words overlap, so even rows cut theirs out of the
// group's two vectors of b (low = pb[0 .. 15], high = pb[16 .. 30]) while odd
// rows load them: a load that straddles a cache line costs two load slots,
// and taking half the words from registers evens out the load ports and the
// vector units.
template <int R>
TWINTONE_AVX512 inline void GroupRow512(const uint32_t* pa, const uint32_t* pb, __m512i low,
                                        __m512i high, __m512i* pAcc) {
  __m512i words;
  if constexpr (R % 2 == 0) {
    words = _mm512_alignr_epi32(high, low, R);
  } else {
    words = _mm512_loadu_si512(pb + R);
  }
  const __m512i x = _mm512_xor_si512(_mm512_set1_epi32(static_cast<int>(pa[R])), words);
  const __m512i loss = _mm512_min_epu32(_mm512_popcnt_epi32(x), _mm512_set1_epi32(16));
  pAcc[R % 2] = _mm512_add_epi32(pAcc[R % 2], loss);
}

template <int... R>
TWINTONE_AVX512 inline void GroupRows512(std::integer_sequence<int, R...>, const uint32_t* pa,
                                         const uint32_t* pb, __m512i* pAcc) {
  const __m512i low = _mm512_loadu_si512(pb);
  // Row 15 reads up to pb[30]; pb[31] may lie past b and is not loaded.
  const __m512i high = _mm512_maskz_loadu_epi32(0x7fff, pb + 16);
  (GroupRow512<R>(pa, pb, low, high, pAcc), ...);
}

// a[i] against 8 words of b, each lane's loss capped at 16.
TWINTONE_AVX2 inline __m256i RowLoss256(uint32_t nA, const uint32_t* pb) {
  const __m256i x = _mm256_xor_si256(_mm256_set1_epi32(static_cast<int>(nA)),
                                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb)));
  return _mm256_min_epu32(Popcount256(x), _mm256_set1_epi32(16));
}

// acc plus a[i]'s capped losses against the lanes of row i that have a pair
// in b; the other lanes load nothing and add nothing.
TWINTONE_AVX512 inline __m512i EdgeRowLoss512(uint32_t nA, const uint32_t* b, int64_t bsize,
                                              int64_t nTop, int64_t i, __m512i acc) {
  int64_t nLow, nHigh;
  EdgeLanes(bsize, nTop, 16, i, &nLow, &nHigh);
  const __mmask16 mask = static_cast<__mmask16>((1u << nHigh) - (1u << nLow));
  const __m512i x = _mm512_xor_si512(_mm512_set1_epi32(static_cast<int>(nA)),
                                     _mm512_maskz_loadu_epi32(mask, MaskedAddress(b, i - nTop)));
  const __m512i loss = _mm512_min_epu32(_mm512_popcnt_epi32(x), _mm512_set1_epi32(16));
  return _mm512_mask_add_epi32(acc, mask, acc, loss);
}

// The same eight lanes wide, the lanes chosen by a vector of all-ones flags.
TWINTONE_AVX2 inline __m256i EdgeRowLoss256(uint32_t nA, const uint32_t* b, int64_t bsize,
                                            int64_t nTop, int64_t i, __m256i acc) {
  int64_t nLow, nHigh;
  EdgeLanes(bsize, nTop, 8, i, &nLow, &nHigh);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i mask =
      _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(nLow)), lanes),
                          _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(nHigh)), lanes));
  const __m256i x = _mm256_xor_si256(
      _mm256_set1_epi32(static_cast<int>(nA)),
      _mm256_maskload_epi32(reinterpret_cast<const int*>(MaskedAddress(b, i - nTop)), mask));
  const __m256i loss = _mm256_min_epu32(Popcount256(x), _mm256_set1_epi32(16));
  return _mm256_add_epi32(acc, _mm256_and_si256(loss, mask));
}

// A lower bound on a[i]'s losses against 8 words of b, per byte of each lane:
// every nibble of the difference counts its differing bits, but at most 2. Such a
// byte is at most 4 and the four bytes of a lane at most 16 and at most the
// pair's differing bits, so their sum never exceeds the pair's loss. No entry may
// be larger: a word of eight equal nibbles loses min(8 * bits, 16) points, so each
// nibble may count at most min(bits, 2), which is what the table holds. Unrelated
// words still lose about 13 of their 14.6 points on it, for 8 vector steps a row
// where the exact loss takes 11.
TWINTONE_AVX2 inline __m256i RowBound256(uint32_t nA, const uint32_t* pb) {
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 2, 0, 1, 1, 2,
                                         1, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 2);
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i x = _mm256_xor_si256(_mm256_set1_epi32(static_cast<int>(nA)),
                                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb)));
  const __m256i lo = _mm256_shuffle_epi8(table, _mm256_and_si256(x, nibble));
  const __m256i hi = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble));
  return _mm256_add_epi8(lo, hi);
}

// Rows summed in bytes between two widenings of the bound: 4 points a row stay
// below 256.
constexpr int64_t kBoundRows = 48;

// The first pass of Avx2BlockLoss over the block's full rows: adds to each lane of
// *pBoundLow / *pBoundHigh (lanes 0-3, 4-7, 64 bits each) a lower bound on its
// loss, and stops once every lane is past its budget (true) or after nGiveUp rows
// (false).
TWINTONE_AVX2 bool BoundPass256(const uint32_t* a, const uint32_t* b, int64_t nTop,
                                int64_t nBegin, int64_t nEnd, int64_t nGiveUp, __m256i budgetLow,
                                __m256i budgetHigh, __m256i* pBoundLow, __m256i* pBoundHigh) {
  const __m256i ones8 = _mm256_set1_epi8(1), ones16 = _mm256_set1_epi16(1);
  int64_t i = nBegin;
  const int64_t nStop = std::min(nEnd, nBegin + nGiveUp);
  while (i < nStop) {
    const int64_t nStretch = std::min(nStop, i + kBoundRows);
    __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
    for (; i + 2 <= nStretch; i += 2) {
      const uint32_t* pb = b + (i - nTop);
      acc0 = _mm256_add_epi8(acc0, RowBound256(a[i], pb));
      acc1 = _mm256_add_epi8(acc1, RowBound256(a[i + 1], pb + 1));
    }
    if (i < nStretch) {
      acc0 = _mm256_add_epi8(acc0, RowBound256(a[i], b + (i - nTop)));
      ++i;
    }
    // Each byte sum is at most 4 * kBoundRows: the two are added as 16-bit lanes.
    const __m256i acc = _mm256_madd_epi16(
        _mm256_add_epi16(_mm256_maddubs_epi16(acc0, ones8), _mm256_maddubs_epi16(acc1, ones8)),
        ones16);
    *pBoundLow = _mm256_add_epi64(*pBoundLow, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(acc)));
    *pBoundHigh =
        _mm256_add_epi64(*pBoundHigh, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(acc, 1)));
    const int nOver =
        _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpgt_epi64(*pBoundLow, budgetLow))) |
        (_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpgt_epi64(*pBoundHigh, budgetHigh)))
         << 4);
    if (nOver == 0xff) return true;
  }
  return false;
}

}  // namespace

TWINTONE_AVX512 uint64_t Avx512Loss(const uint32_t* pa, const uint32_t* pb, size_t n,
                                    uint64_t nBudget) {
  uint64_t nLoss = 0;
  // A few pairs first so that pa reaches a 64-byte boundary: its loads then
  // never straddle two cache lines. Their sum joins the final one; the budget
  // checks on the rest remain valid, as every pair adds a loss of zero or more.
  __m512i acc = _mm512_setzero_si512();
  const size_t nHead =
      std::min(n, static_cast<size_t>(-(reinterpret_cast<uintptr_t>(pa) >> 2) & 15));
  if (nHead > 0) {
    acc = CappedPopcountPart512(pa, pb, nHead);
    pa += nHead;
    pb += nHead;
    n -= nHead;
  }
  size_t k = 0;
  uint64_t nCheck = FirstLossCheck(nBudget, kVectorLossBlock);
  while (n - k >= 64) {
    const uint64_t nStop = std::min<uint64_t>({n, std::max<uint64_t>(nCheck, k + 64), k + kMaxStretch});
    // Four independent sums keep the popcount units busy.
    __m512i acc0 = _mm512_setzero_si512(), acc1 = acc0, acc2 = acc0, acc3 = acc0;
    for (; nStop - k >= 64; k += 64) {
      acc0 = _mm512_add_epi32(acc0, CappedPopcount512(pa + k, pb + k));
      acc1 = _mm512_add_epi32(acc1, CappedPopcount512(pa + k + 16, pb + k + 16));
      acc2 = _mm512_add_epi32(acc2, CappedPopcount512(pa + k + 32, pb + k + 32));
      acc3 = _mm512_add_epi32(acc3, CappedPopcount512(pa + k + 48, pb + k + 48));
    }
    const __m512i sum =
        _mm512_add_epi32(_mm512_add_epi32(acc0, acc1), _mm512_add_epi32(acc2, acc3));
    nLoss += static_cast<uint32_t>(_mm512_reduce_add_epi32(sum));
    if (nLoss > nBudget) return nLoss;
    nCheck = k + kVectorLossBlock;
  }
  for (; n - k >= 16; k += 16) acc = _mm512_add_epi32(acc, CappedPopcount512(pa + k, pb + k));
  if (k < n) acc = _mm512_add_epi32(acc, CappedPopcountPart512(pa + k, pb + k, n - k));
  return nLoss + static_cast<uint32_t>(_mm512_reduce_add_epi32(acc));
}

TWINTONE_AVX512 uint64_t Avx512CountClose(const uint32_t* pa, const uint32_t* pb, size_t n) {
  const __m512i two = _mm512_set1_epi32(2), one = _mm512_set1_epi32(1);
  __m512i acc = _mm512_setzero_si512();
  size_t k = 0;
  for (; n - k >= 16; k += 16) {
    const __m512i x = _mm512_xor_si512(_mm512_loadu_si512(pa + k), _mm512_loadu_si512(pb + k));
    const __mmask16 close = _mm512_cmple_epu32_mask(_mm512_popcnt_epi32(x), two);
    acc = _mm512_mask_add_epi32(acc, close, acc, one);
  }
  if (k < n) {
    // Lanes past the end would look equal: the tail mask keeps them out.
    const __mmask16 mask = static_cast<__mmask16>((1u << (n - k)) - 1);
    const __m512i x = _mm512_xor_si512(_mm512_maskz_loadu_epi32(mask, pa + k),
                                       _mm512_maskz_loadu_epi32(mask, pb + k));
    const __mmask16 close = _mm512_mask_cmple_epu32_mask(mask, _mm512_popcnt_epi32(x), two);
    acc = _mm512_mask_add_epi32(acc, close, acc, one);
  }
  return static_cast<uint32_t>(_mm512_reduce_add_epi32(acc));
}

TWINTONE_AVX2 uint64_t Avx2Loss(const uint32_t* pa, const uint32_t* pb, size_t n,
                                uint64_t nBudget) {
  uint64_t nLoss = 0;
  size_t k = 0;
  uint64_t nCheck = FirstLossCheck(nBudget, kVectorLossBlock);
  while (n - k >= 16) {
    const uint64_t nStop = std::min<uint64_t>({n, std::max<uint64_t>(nCheck, k + 16), k + kMaxStretch});
    __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
    for (; nStop - k >= 16; k += 16) {
      acc0 = _mm256_add_epi32(acc0, CappedPopcount256(pa + k, pb + k));
      acc1 = _mm256_add_epi32(acc1, CappedPopcount256(pa + k + 8, pb + k + 8));
    }
    nLoss += HorizontalSum256(_mm256_add_epi32(acc0, acc1));
    if (nLoss > nBudget) return nLoss;
    nCheck = k + kVectorLossBlock;
  }
  if (n - k >= 8) {
    nLoss += HorizontalSum256(CappedPopcount256(pa + k, pb + k));
    k += 8;
  }
  for (; k < n; ++k) {
    const uint64_t nBits = static_cast<uint64_t>(__builtin_popcount(pa[k] ^ pb[k]));
    nLoss += nBits < 16 ? nBits : 16;
  }
  return nLoss;
}

TWINTONE_AVX2 uint64_t Avx2CountClose(const uint32_t* pa, const uint32_t* pb, size_t n) {
  // At most two bits set: clearing the lowest set bit twice leaves zero.
  const __m256i ones = _mm256_set1_epi32(-1), zero = _mm256_setzero_si256();
  __m256i acc = zero;
  size_t k = 0;
  for (; n - k >= 8; k += 8) {
    __m256i x = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pa + k)),
                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb + k)));
    x = _mm256_and_si256(x, _mm256_add_epi32(x, ones));
    x = _mm256_and_si256(x, _mm256_add_epi32(x, ones));
    acc = _mm256_sub_epi32(acc, _mm256_cmpeq_epi32(x, zero));
  }
  uint64_t nClose = HorizontalSum256(acc);
  for (; k < n; ++k) nClose += __builtin_popcount(pa[k] ^ pb[k]) <= 2 ? 1 : 0;
  return nClose;
}

// Lane k follows diagonal nTop - k, so on row i the lanes meet a[i], broadcast,
// with the 16 consecutive words from b[i - nTop]: no lane needs a horizontal
// sum until the block is done. Each lane's sum collects the same integers as
// Avx512Loss would on its own diagonal, only in another order, and integer
// sums do not depend on the order, so the totals are the same.
TWINTONE_AVX512 void Avx512BlockLoss(const uint32_t* a, int64_t asize, const uint32_t* b,
                                     int64_t bsize, int64_t nTop, const int64_t* pnBudget,
                                     uint64_t* pnLoss) {
  constexpr int64_t kWidth = 16;
  const BlockRows rows = BlockRowsOf(asize, bsize, nTop, kWidth);
  const __m512i budgetLow = _mm512_loadu_si512(pnBudget);
  const __m512i budgetHigh = _mm512_loadu_si512(pnBudget + 8);
  __m512i lossLow = _mm512_setzero_si512(), lossHigh = _mm512_setzero_si512();
  int64_t i = rows.nBegin;
  int64_t nCheck = rows.nBegin + FirstBlockCheck(pnBudget, kWidth, kAvx512RowsPerCheck);
  while (i < rows.nEnd) {
    // A stretch: the leading edge rows on their own (fewer than 16), then whole
    // groups of 16 full rows up to the next check, so that the groups line up
    // with the stretches.
    const int64_t nToCheck = std::max<int64_t>(16, (nCheck - i + 15) & ~int64_t{15});
    const int64_t nStop =
        i < rows.nFullBegin
            ? rows.nFullBegin
            : std::min({rows.nEnd, i + nToCheck, i + static_cast<int64_t>(kMaxStretch)});
    const int64_t nFullStop =
        i < rows.nFullBegin ? i : std::max(i, std::min(nStop, rows.nFullEnd));
    __m512i anAcc[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    for (; i + 16 <= nFullStop; i += 16) {
      GroupRows512(std::make_integer_sequence<int, 16>(), a + i, b + (i - nTop), anAcc);
    }
    for (; i < nFullStop; ++i) {
      anAcc[0] = _mm512_add_epi32(anAcc[0], RowLoss512(a[i], b + (i - nTop)));
    }
    for (; i < nStop; ++i) anAcc[1] = EdgeRowLoss512(a[i], b, bsize, nTop, i, anAcc[1]);
    const __m512i acc = _mm512_add_epi32(anAcc[0], anAcc[1]);
    lossLow = _mm512_add_epi64(lossLow, _mm512_cvtepu32_epi64(_mm512_castsi512_si256(acc)));
    lossHigh =
        _mm512_add_epi64(lossHigh, _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(acc, 1)));
    if (i < nCheck) continue;
    const unsigned nOver = _mm512_cmpgt_epi64_mask(lossLow, budgetLow) |
                           (unsigned{_mm512_cmpgt_epi64_mask(lossHigh, budgetHigh)} << 8);
    if (nOver == 0xffffu) break;
    nCheck = i + kAvx512RowsPerCheck;
  }
  _mm512_storeu_si512(pnLoss, lossLow);
  _mm512_storeu_si512(pnLoss + 8, lossHigh);
}

// The same walk as Avx512BlockLoss, eight lanes wide, after a cheaper first pass.
// The AVX2 popcount keeps the vector units busy, so every full row simply loads its
// words. The first pass bounds each lane's loss from below over the full rows for
// as many rows as an unrelated lane takes to pass its budget on the bound; a block
// whose lanes are all past it is done there, and the exact walk then only sums
// lanes the bound has not already ruled out.
TWINTONE_AVX2 void Avx2BlockLoss(const uint32_t* a, int64_t asize, const uint32_t* b,
                                 int64_t bsize, int64_t nTop, const int64_t* pnBudget,
                                 uint64_t* pnLoss) {
  constexpr int64_t kWidth = 8;
  const BlockRows rows = BlockRowsOf(asize, bsize, nTop, kWidth);
  __m256i budgetLow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pnBudget));
  __m256i budgetHigh = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pnBudget + 4));
  // Unrelated words lose about 13 points a row on the bound: the pass gives up at
  // 12, and is not tried where that takes most of the block (large budgets, as
  // match_fingerprints3 gives before it has found a good diagonal).
  const int64_t nGiveUp = FirstBlockCheck(pnBudget, kWidth, 1) * 4 / 3 + kBoundRows;
  __m256i boundLow = _mm256_setzero_si256(), boundHigh = _mm256_setzero_si256();
  if (nGiveUp < (rows.nFullEnd - rows.nFullBegin) * 3 / 4 &&
      BoundPass256(a, b, nTop, rows.nFullBegin, rows.nFullEnd, nGiveUp, budgetLow, budgetHigh,
                   &boundLow, &boundHigh)) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pnLoss), boundLow);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pnLoss + 4), boundHigh);
    return;
  }
  // Lanes past their budget on the bound need no exact sum: their budget becomes -1
  // and their result the bound.
  const __m256i overLow = _mm256_cmpgt_epi64(boundLow, budgetLow);
  const __m256i overHigh = _mm256_cmpgt_epi64(boundHigh, budgetHigh);
  budgetLow = _mm256_or_si256(budgetLow, overLow);
  budgetHigh = _mm256_or_si256(budgetHigh, overHigh);
  int64_t anBudget[kWidth];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(anBudget), budgetLow);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(anBudget + 4), budgetHigh);
  __m256i lossLow = _mm256_setzero_si256(), lossHigh = _mm256_setzero_si256();
  int64_t i = rows.nBegin;
  int64_t nCheck = rows.nBegin + FirstBlockCheck(anBudget, kWidth, kAvx2RowsPerCheck);
  while (i < rows.nEnd) {
    const int64_t nStop =
        std::min({rows.nEnd, std::max(nCheck, i + 1), i + static_cast<int64_t>(kMaxStretch)});
    const int64_t nFullStop = std::max(i, std::min(nStop, rows.nFullEnd));
    __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
    for (; i < nStop && i < rows.nFullBegin; ++i) {
      acc0 = EdgeRowLoss256(a[i], b, bsize, nTop, i, acc0);
    }
    for (; i + 2 <= nFullStop; i += 2) {
      const uint32_t* pb = b + (i - nTop);
      acc0 = _mm256_add_epi32(acc0, RowLoss256(a[i], pb));
      acc1 = _mm256_add_epi32(acc1, RowLoss256(a[i + 1], pb + 1));
    }
    for (; i < nFullStop; ++i) acc0 = _mm256_add_epi32(acc0, RowLoss256(a[i], b + (i - nTop)));
    for (; i < nStop; ++i) acc1 = EdgeRowLoss256(a[i], b, bsize, nTop, i, acc1);
    const __m256i acc = _mm256_add_epi32(acc0, acc1);
    lossLow = _mm256_add_epi64(lossLow, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(acc)));
    lossHigh =
        _mm256_add_epi64(lossHigh, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(acc, 1)));
    if (i < nCheck) continue;
    const int nOver =
        _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpgt_epi64(lossLow, budgetLow))) |
        (_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpgt_epi64(lossHigh, budgetHigh))) << 4);
    if (nOver == 0xff) break;
    nCheck = i + kAvx2RowsPerCheck;
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(pnLoss),
                      _mm256_blendv_epi8(lossLow, boundLow, overLow));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(pnLoss + 4),
                      _mm256_blendv_epi8(lossHigh, boundHigh, overHigh));
}

#endif  // TWINTONE_X86_KERNELS

}  // namespace twintone
