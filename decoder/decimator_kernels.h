// The vector kernels of PcmDecimator. Each one works out the same arithmetic as
// FFmpeg's resampler, operation for operation, so the results are equal to the bit.
// Chosen at run time: DecimatorKernelsAvailable says whether this processor runs them.
//
// The kernels work in batches of 8 outputs: pHistory must be readable for
// ceil(nCount / 8) * 8 outputs and pOut must have room for as many.
#ifndef TWINTONE_DECODER_DECIMATOR_KERNELS_H
#define TWINTONE_DECODER_DECIMATOR_KERNELS_H

#include <cstdint>

namespace twintone {

constexpr int kKernelBatch = 8;
constexpr int kFloatTapAlign = 8;  // taps padded with zeros to these multiples
constexpr int kIntTapAlign = 16;

// x86-64 with AVX2 and FMA.
bool DecimatorKernelsAvailable();

// Output i is the dot product of pTaps[0..nTaps) with pHistory[i * nFactor ...]: eight
// lanes, lane j % 8 accumulating tap j by fused multiply-add in order of j, then
// summed as ((l0 + l4) + (l2 + l6)) + ((l1 + l5) + (l3 + l7)). nTaps is a multiple of 8.
void DecimateFloat(const float* pHistory, int nFactor, const float* pTaps, int nTaps, int nCount,
                   float* pOut);

// Output i is (16384 + the dot product of pTaps and pHistory[i * nFactor ...]) >> 15,
// saturated to 16 bits. nTaps is a multiple of 16.
void DecimateInt16(const int16_t* pHistory, int nFactor, const int16_t* pTaps, int nTaps,
                   int nCount, int16_t* pOut);

// pA[i] * 0.5 + pB[i] * 0.5 (pA[i] alone when pB is null), times 32768, rounded to
// the nearest integer (ties to even) and saturated to 16 bits; a value beyond the
// 32-bit range gives -32768.
void FloatToS16(const float* pA, const float* pB, int nCount, int16_t* pOut);

// (pA[i] + pB[i] + 1) >> 1.
void MixInt16(const int16_t* pA, const int16_t* pB, int nCount, int16_t* pOut);

}  // namespace twintone

#endif  // TWINTONE_DECODER_DECIMATOR_KERNELS_H
