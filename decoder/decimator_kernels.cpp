// PcmDecimator's kernels for x86-64 with AVX2 and FMA, compiled for those instructions
// function by function and called only when the processor has them.
#include "decimator_kernels.h"

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace twintone {

void MixInt16(const int16_t* pA, const int16_t* pB, int nCount, int16_t* pOut) {
  for (int i = 0; i < nCount; ++i) pOut[i] = static_cast<int16_t>((pA[i] + pB[i] + 1) >> 1);
}

#if defined(__x86_64__)

#define TWINTONE_KERNEL __attribute__((target("avx2,fma")))

bool DecimatorKernelsAvailable() {
  static const bool s_bAvailable = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  }();
  return s_bAvailable;
}

namespace {

// Four eight-lane sums (acc0..acc3, one output each) reduced in the resampler's order:
// a = lo + hi, b = (a0 + a2, a1 + a3), r = b0 + b1. Returns r0, r1, r2, r3.
TWINTONE_KERNEL inline __m128 ReduceFour(__m256 acc0, __m256 acc1, __m256 acc2, __m256 acc3) {
  __m256 s01 = _mm256_add_ps(_mm256_permute2f128_ps(acc0, acc1, 0x20),
                             _mm256_permute2f128_ps(acc0, acc1, 0x31));
  __m256 s23 = _mm256_add_ps(_mm256_permute2f128_ps(acc2, acc3, 0x20),
                             _mm256_permute2f128_ps(acc2, acc3, 0x31));
  // Lane 0 of w holds b0, b1 of output 0 then of output 2; lane 1 those of 1 and 3.
  __m256 w = _mm256_add_ps(_mm256_shuffle_ps(s01, s23, _MM_SHUFFLE(1, 0, 1, 0)),
                           _mm256_shuffle_ps(s01, s23, _MM_SHUFFLE(3, 2, 3, 2)));
  __m256 r = _mm256_add_ps(_mm256_shuffle_ps(w, w, _MM_SHUFFLE(2, 0, 2, 0)),
                           _mm256_shuffle_ps(w, w, _MM_SHUFFLE(3, 1, 3, 1)));
  // r: r0 r2 r0 r2 | r1 r3 r1 r3
  return _mm_unpacklo_ps(_mm256_castps256_ps128(r), _mm256_extractf128_ps(r, 1));
}

}  // namespace

TWINTONE_KERNEL void DecimateFloat(const float* pHistory, int nFactor, const float* pTaps,
                                   int nTaps, int nCount, float* pOut) {
  for (int i = 0; i < nCount; i += kKernelBatch) {
    const float* p = pHistory + static_cast<ptrdiff_t>(i) * nFactor;
    const ptrdiff_t f = nFactor;
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0, a7 = a0;
    for (int j = 0; j < nTaps; j += 8) {
      const __m256 c = _mm256_loadu_ps(pTaps + j);
      const float* q = p + j;
      a0 = _mm256_fmadd_ps(_mm256_loadu_ps(q), c, a0);
      a1 = _mm256_fmadd_ps(_mm256_loadu_ps(q + f), c, a1);
      a2 = _mm256_fmadd_ps(_mm256_loadu_ps(q + 2 * f), c, a2);
      a3 = _mm256_fmadd_ps(_mm256_loadu_ps(q + 3 * f), c, a3);
      a4 = _mm256_fmadd_ps(_mm256_loadu_ps(q + 4 * f), c, a4);
      a5 = _mm256_fmadd_ps(_mm256_loadu_ps(q + 5 * f), c, a5);
      a6 = _mm256_fmadd_ps(_mm256_loadu_ps(q + 6 * f), c, a6);
      a7 = _mm256_fmadd_ps(_mm256_loadu_ps(q + 7 * f), c, a7);
    }
    _mm_storeu_ps(pOut + i, ReduceFour(a0, a1, a2, a3));
    _mm_storeu_ps(pOut + i + 4, ReduceFour(a4, a5, a6, a7));
  }
}

TWINTONE_KERNEL void DecimateInt16(const int16_t* pHistory, int nFactor, const int16_t* pTaps,
                                   int nTaps, int nCount, int16_t* pOut) {
  const __m256i round = _mm256_set1_epi32(1 << 14);
  for (int i = 0; i < nCount; i += kKernelBatch) {
    const int16_t* p = pHistory + static_cast<ptrdiff_t>(i) * nFactor;
    const ptrdiff_t f = nFactor;
    __m256i acc[kKernelBatch];
    for (__m256i& a : acc) a = _mm256_setzero_si256();
    for (int j = 0; j < nTaps; j += 16) {
      const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pTaps + j));
      for (int o = 0; o < kKernelBatch; ++o) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + o * f + j));
        acc[o] = _mm256_add_epi32(acc[o], _mm256_madd_epi16(x, c));
      }
    }
    // Integer sums: any order gives the same result.
    __m256i t01 = _mm256_hadd_epi32(acc[0], acc[1]), t23 = _mm256_hadd_epi32(acc[2], acc[3]);
    __m256i t45 = _mm256_hadd_epi32(acc[4], acc[5]), t67 = _mm256_hadd_epi32(acc[6], acc[7]);
    __m256i t0123 = _mm256_hadd_epi32(t01, t23), t4567 = _mm256_hadd_epi32(t45, t67);
    __m256i sums = _mm256_add_epi32(_mm256_permute2x128_si256(t0123, t4567, 0x20),
                                    _mm256_permute2x128_si256(t0123, t4567, 0x31));
    sums = _mm256_srai_epi32(_mm256_add_epi32(sums, round), 15);
    __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(sums, sums), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + i), _mm256_castsi256_si128(packed));
  }
}

TWINTONE_KERNEL void FloatToS16(const float* pA, const float* pB, int nCount, int16_t* pOut) {
  const __m256 half = _mm256_set1_ps(0.5f), scale = _mm256_set1_ps(32768.0f);
  for (int i = 0; i < nCount; i += kKernelBatch) {
    __m256 v = _mm256_loadu_ps(pA + i);
    if (pB != nullptr) {
      // Two roundings, as the mix makes them: the halves are exact, their sum is not.
      v = _mm256_add_ps(_mm256_mul_ps(v, half), _mm256_mul_ps(_mm256_loadu_ps(pB + i), half));
    }
    __m256i n = _mm256_cvtps_epi32(_mm256_mul_ps(v, scale));
    __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(n, n), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + i), _mm256_castsi256_si128(packed));
  }
}

#else  // no kernels for this processor: the resampler converts everything

bool DecimatorKernelsAvailable() { return false; }
void DecimateFloat(const float*, int, const float*, int, int, float*) {}
void DecimateInt16(const int16_t*, int, const int16_t*, int, int, int16_t*) {}
void FloatToS16(const float*, const float*, int, int16_t*) {}

#endif

}  // namespace twintone
