// The AVX2 and AVX-512 kernels. Each function carries its own target attribute,
// so the rest of the library stays buildable for any x86-64 and these run only
// where ActiveMatchKernel has found the instructions.
#include "grouping/match_kernels.h"

#ifdef TWINTONE_X86_KERNELS

#include <algorithm>
#include <cstdint>

// GCC 12 warns about the deliberately undefined vectors inside its own AVX-512
// intrinsics when they are inlined into target-attributed functions; the
// warning concerns the header's code, not this file's.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#define TWINTONE_AVX512 __attribute__((target("avx512f,avx512vpopcntdq")))
#define TWINTONE_AVX2 __attribute__((target("avx2,popcnt")))

namespace {

// Pairs between two budget checks: long enough that the horizontal sums cost
// little, short enough that a hopeless diagonal is left soon.
constexpr size_t kVectorLossBlock = 256;

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
  for (; n - k >= kVectorLossBlock; k += kVectorLossBlock) {
    // Four independent sums keep the popcount units busy.
    __m512i acc0 = CappedPopcount512(pa + k, pb + k);
    __m512i acc1 = CappedPopcount512(pa + k + 16, pb + k + 16);
    __m512i acc2 = CappedPopcount512(pa + k + 32, pb + k + 32);
    __m512i acc3 = CappedPopcount512(pa + k + 48, pb + k + 48);
    for (size_t u = 64; u < kVectorLossBlock; u += 64) {
      acc0 = _mm512_add_epi32(acc0, CappedPopcount512(pa + k + u, pb + k + u));
      acc1 = _mm512_add_epi32(acc1, CappedPopcount512(pa + k + u + 16, pb + k + u + 16));
      acc2 = _mm512_add_epi32(acc2, CappedPopcount512(pa + k + u + 32, pb + k + u + 32));
      acc3 = _mm512_add_epi32(acc3, CappedPopcount512(pa + k + u + 48, pb + k + u + 48));
    }
    const __m512i sum =
        _mm512_add_epi32(_mm512_add_epi32(acc0, acc1), _mm512_add_epi32(acc2, acc3));
    nLoss += static_cast<uint32_t>(_mm512_reduce_add_epi32(sum));
    if (nLoss > nBudget) return nLoss;
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
  for (; n - k >= kVectorLossBlock; k += kVectorLossBlock) {
    __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
    for (size_t u = 0; u < kVectorLossBlock; u += 16) {
      acc0 = _mm256_add_epi32(acc0, CappedPopcount256(pa + k + u, pb + k + u));
      acc1 = _mm256_add_epi32(acc1, CappedPopcount256(pa + k + u + 8, pb + k + u + 8));
    }
    nLoss += HorizontalSum256(_mm256_add_epi32(acc0, acc1));
    if (nLoss > nBudget) return nLoss;
  }
  __m256i acc = _mm256_setzero_si256();
  for (; n - k >= 8; k += 8) acc = _mm256_add_epi32(acc, CappedPopcount256(pa + k, pb + k));
  nLoss += HorizontalSum256(acc);
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

#endif  // TWINTONE_X86_KERNELS
