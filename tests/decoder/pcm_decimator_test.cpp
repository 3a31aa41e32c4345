#include "pcm_decimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "decimator_kernels.h"

namespace twintone {
namespace {

struct SwrFree {
  void operator()(SwrContext* pSwr) const { swr_free(&pSwr); }
};

// A chord with a slow vibrato over soft noise, loud enough to clip now and then.
float Music(int64_t n, int nChannel, int nRate) {
  const double t = static_cast<double>(n) / nRate;
  const double fChord = std::sin(2 * M_PI * 220 * t + 3 * std::sin(2 * M_PI * 5 * t)) +
                        0.6 * std::sin(2 * M_PI * (330 + 40 * nChannel) * t) +
                        0.4 * std::sin(2 * M_PI * 2900 * t);
  const double fNoise = static_cast<double>((n * 7919 + nChannel * 104729) % 2003) / 2003 - 0.5;
  return static_cast<float>(0.45 * fChord + 0.1 * fNoise);
}

class PcmDecimatorTest : public ::testing::Test {
 protected:
  // Decodes a made-up stream of nFrames in the buffer sizes codecs deliver, through
  // the resampler and through a decimator; expects the same samples from every call
  // and from the end of the stream.
  static void ExpectSameAsTheResampler(AVSampleFormat format, int nChannels, int nRate,
                                       int64_t nFrames) {
    SCOPED_TRACE(std::string(av_get_sample_fmt_name(format)) + " x" + std::to_string(nChannels) +
                 " at " + std::to_string(nRate));
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, nChannels);
    std::unique_ptr<PcmDecimator> pDecimator = PcmDecimator::Create(format, layout, nRate);
    ASSERT_NE(pDecimator, nullptr) << "the resampler converts this input";
    std::unique_ptr<SwrContext, SwrFree> pSwr(NewFingerprintResampler(layout, format, nRate));
    ASSERT_NE(pSwr, nullptr);

    const bool bFloat = format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP;
    const bool bPlanar = av_sample_fmt_is_planar(format) != 0;
    const int kSizes[] = {1152, 4096, 576, 1024, 17, 2048, 1};
    std::vector<int16_t> vecTheirs;
    int64_t nAt = 0, nCompared = 0;
    for (int nCall = 0;; ++nCall) {
      const bool bEnd = nAt >= nFrames;
      const int nIn =
          bEnd ? 0 : static_cast<int>(std::min<int64_t>(kSizes[nCall % 7], nFrames - nAt));
      std::vector<float> vecF(static_cast<size_t>(nIn) * nChannels);
      std::vector<int16_t> vecI(vecF.size());
      for (int i = 0; i < nIn; ++i) {
        for (int c = 0; c < nChannels; ++c) {
          const size_t nSlot = bPlanar ? static_cast<size_t>(c) * nIn + i : i * nChannels + c;
          vecF[nSlot] = Music(nAt + i, c, nRate);
          vecI[nSlot] = static_cast<int16_t>(
              std::lrint(std::max(-1.0f, std::min(vecF[nSlot], 0.99f)) * 32768));
        }
      }
      const uint8_t* planes[2];
      for (int c = 0; c < nChannels; ++c) {
        const size_t nPlane = bPlanar ? static_cast<size_t>(c) * nIn : 0;
        planes[c] = bFloat ? reinterpret_cast<const uint8_t*>(vecF.data() + nPlane)
                           : reinterpret_cast<const uint8_t*>(vecI.data() + nPlane);
      }
      const int nRoom = swr_get_out_samples(pSwr.get(), nIn);
      vecTheirs.assign(static_cast<size_t>(std::max(nRoom, 1)), 0);
      uint8_t* pOut = reinterpret_cast<uint8_t*>(vecTheirs.data());
      const int nTheirs = swr_convert(pSwr.get(), &pOut, nRoom, bEnd ? nullptr : planes, nIn);
      const int16_t* pOurs = nullptr;
      const int nOurs = bEnd ? pDecimator->Drain(&pOurs) : pDecimator->Convert(planes, nIn, &pOurs);
      ASSERT_EQ(nOurs, nTheirs) << "call " << nCall;
      for (int i = 0; i < nOurs; ++i)
        ASSERT_EQ(pOurs[i], vecTheirs[i]) << "output " << nCompared + i;
      nCompared += nOurs;
      nAt += nIn;
      if (bEnd) break;
    }
    EXPECT_GT(nCompared, nFrames * kFingerprintRate / nRate - 2);
  }
};

// The decimator stands in for the resampler on the inputs most music decodes to (FLAC
// and WAV as 16-bit, MP3, Vorbis and AAC as float), on this processor.
TEST_F(PcmDecimatorTest, GivesTheResamplersSamplesForCommonInputs) {
  if (!DecimatorKernelsAvailable()) GTEST_SKIP() << "no AVX2 and FMA: the resampler converts";
  ExpectSameAsTheResampler(AV_SAMPLE_FMT_S16, 2, 44100, 200000);
  ExpectSameAsTheResampler(AV_SAMPLE_FMT_FLTP, 2, 44100, 200000);
  ExpectSameAsTheResampler(AV_SAMPLE_FMT_FLTP, 1, 22050, 50000);
  ExpectSameAsTheResampler(AV_SAMPLE_FMT_S16P, 1, 88200, 50000);
  ExpectSameAsTheResampler(AV_SAMPLE_FMT_FLT, 2, 176400, 50000);
  // Streams that end before the resampler's first output, or just after it.
  for (int64_t nFrames : {5, 66, 67, 71})
    ExpectSameAsTheResampler(AV_SAMPLE_FMT_FLTP, 2, 44100, nFrames);
}

// Rates that are no whole multiple of 11025 Hz, layouts beyond stereo and other
// sample formats stay with the resampler.
TEST_F(PcmDecimatorTest, LeavesOtherInputsToTheResampler) {
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO, surround = AV_CHANNEL_LAYOUT_5POINT1;
  EXPECT_EQ(PcmDecimator::Create(AV_SAMPLE_FMT_FLTP, stereo, 48000), nullptr);
  EXPECT_EQ(PcmDecimator::Create(AV_SAMPLE_FMT_FLTP, surround, 44100), nullptr);
  EXPECT_EQ(PcmDecimator::Create(AV_SAMPLE_FMT_S32, stereo, 44100), nullptr);
  EXPECT_EQ(PcmDecimator::Create(AV_SAMPLE_FMT_S16, stereo, 11025), nullptr);
}

}  // namespace
}  // namespace twintone
