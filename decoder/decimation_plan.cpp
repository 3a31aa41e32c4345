// Measures what FFmpeg's resampler does to one input format, and checks that
// PcmDecimator reproduces it, before any file of that format relies on it.
#include <algorithm>
#include <initializer_list>
#include <map>
#include <mutex>
#include <random>
#include <tuple>

extern "C" {
#include <libavutil/opt.h>
}

#include "decimator_kernels.h"
#include "pcm_decimator.h"

namespace twintone {
namespace {

// Half the resampler's default filter length: still a steep low-pass, whose transition
// lies well above the highest pitch Chromaprint reads (about 3.5 kHz), and a tenth
// less CPU for the whole decode. Groups and similarities come out as with the default.
constexpr int kResampleFilterSize = 16;
constexpr int kMaxStartFrames = 4096;
constexpr int kImpulse16 = 32767;
constexpr uint32_t kCheckSeed = 0x7477746e;
constexpr int kCheckFrames = 48000;

struct SwrFree {
  void operator()(SwrContext* pSwr) const { swr_free(&pSwr); }
};
using SwrHold = std::unique_ptr<SwrContext, SwrFree>;

SwrContext* NewResampler(const AVChannelLayout& inLayout, AVSampleFormat inFormat, int nInRate,
                         AVSampleFormat outFormat) {
  SwrContext* pSwr = nullptr;
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;  // native order: nothing to release
  // The layouts are only read (FFmpeg's prototype predates const).
  if (swr_alloc_set_opts2(&pSwr, &mono, outFormat, kFingerprintRate,
                          const_cast<AVChannelLayout*>(&inLayout), inFormat, nInRate, 0,
                          nullptr) < 0) {
    return nullptr;
  }
  // Mixing down scales the channels so their sum cannot clip.
  av_opt_set_double(pSwr, "rematrix_maxval", 1.0, 0);
  av_opt_set_int(pSwr, "filter_size", kResampleFilterSize, 0);
  if (swr_init(pSwr) < 0) swr_free(&pSwr);
  return pSwr;
}

// The taps, from the resampler's answer to a unit impulse at each phase of the
// decimation, one channel: output k of an impulse at frame p is the tap for p - k * f.
bool MeasureTaps(DecimationPlan* pPlan) {
  const int f = pPlan->nFactor;
  const int nFrames = 1024 * f;
  std::map<int, double> mapTaps;
  for (int nPhase = 0; nPhase < f; ++nPhase) {
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrHold pSwr(NewResampler(mono, pPlan->bFloat ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16P,
                              f * kFingerprintRate,
                              pPlan->bFloat ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16));
    if (!pSwr) return false;
    const int nAt = nFrames / 2 + nPhase;
    std::vector<float> vecFloat(nFrames), vecOutF(nFrames);
    std::vector<int16_t> vecInt(nFrames), vecOutI(nFrames);
    vecFloat[nAt] = 1.0f;
    vecInt[nAt] = kImpulse16;
    const uint8_t* pIn = pPlan->bFloat ? reinterpret_cast<const uint8_t*>(vecFloat.data())
                                       : reinterpret_cast<const uint8_t*>(vecInt.data());
    uint8_t* pOut = pPlan->bFloat ? reinterpret_cast<uint8_t*>(vecOutF.data())
                                  : reinterpret_cast<uint8_t*>(vecOutI.data());
    const int nOut = swr_convert(pSwr.get(), &pOut, nFrames, &pIn, nFrames);
    for (int k = 0; k < nOut; ++k) {
      // A 16-bit tap c comes back as (32767 c + 16384) >> 15, which is c for |c| <= 16384.
      const double fTap = pPlan->bFloat ? vecOutF[k] : vecOutI[k];
      if (fTap != 0) mapTaps[nAt - k * f] = fTap;
    }
  }
  if (mapTaps.empty()) return false;
  const int nFirst = mapTaps.begin()->first, nLast = mapTaps.rbegin()->first;
  const int nAlign = pPlan->bFloat ? kFloatTapAlign : kIntTapAlign;
  pPlan->nHalf = -nFirst;
  pPlan->nTaps = (nLast - nFirst + nAlign) / nAlign * nAlign;
  if (pPlan->nHalf <= 0 || nLast < 0) return false;
  pPlan->vecFloatTaps.assign(pPlan->bFloat ? pPlan->nTaps : 0, 0.0f);
  pPlan->vecIntTaps.assign(pPlan->bFloat ? 0 : pPlan->nTaps, 0);
  for (const auto& tap : mapTaps) {
    const size_t j = static_cast<size_t>(tap.first - nFirst);
    if (pPlan->bFloat) {
      pPlan->vecFloatTaps[j] = static_cast<float>(tap.second);
    } else {
      if (tap.second > kImpulse16 / 2 + 1 || tap.second < -(kImpulse16 / 2 + 1)) return false;
      pPlan->vecIntTaps[j] = static_cast<int16_t>(tap.second);
    }
  }
  return true;
}

// One frame of silence in the format, for feeding the resampler frame by frame.
struct SilentFrame {
  uint8_t bytes[2][8] = {};
  const uint8_t* planes[2] = {bytes[0], bytes[1]};
};

// When the resampler starts (nStart) and how far its output trails (nDelay), from its
// answers to one frame at a time.
bool MeasureCounts(AVSampleFormat format, const AVChannelLayout& layout, int nRate,
                   DecimationPlan* pPlan) {
  SwrHold pSwr(NewFingerprintResampler(layout, format, nRate));
  if (!pSwr) return false;
  SilentFrame silence;
  int16_t out[64];
  std::vector<std::pair<int, int>> vecSeen;  // (frames in, outputs in all)
  int nOutputs = 0;
  for (int nIn = 1; nIn <= kMaxStartFrames && vecSeen.size() < 4u * pPlan->nFactor; ++nIn) {
    uint8_t* pOut = reinterpret_cast<uint8_t*>(out);
    const int nGot = swr_convert(pSwr.get(), &pOut, 64, silence.planes, 1);
    if (nGot < 0) return false;
    nOutputs += nGot;
    if (nOutputs == 0) continue;
    if (vecSeen.empty()) pPlan->nStart = nIn;
    vecSeen.emplace_back(nIn, nOutputs);
  }
  for (int nDelay = 0; nDelay < pPlan->nStart; ++nDelay) {
    bool bFits = true;
    for (const auto& seen : vecSeen) bFits &= (seen.first - nDelay) / pPlan->nFactor == seen.second;
    if (bFits && !vecSeen.empty()) {
      pPlan->nDelay = nDelay;
      return pPlan->nStart > pPlan->nHalf;
    }
  }
  return false;
}

// Random audio in the format, nFrames frames, as planes or one interleaved buffer.
struct RandomAudio {
  std::vector<float> vecFloat;
  std::vector<int16_t> vecInt;
  const uint8_t* planes[2] = {};
};

void MakeRandomAudio(std::mt19937* pRng, bool bFloat, bool bPlanar, int nChannels, int nFrames,
                     RandomAudio* pAudio) {
  std::normal_distribution<float> level(0.0f, 1.0f);
  const float fScale = std::uniform_real_distribution<float>(0.01f, 0.9f)(*pRng);
  const size_t nValues = static_cast<size_t>(nFrames) * nChannels;
  pAudio->vecFloat.resize(bFloat ? nValues : 0);
  pAudio->vecInt.resize(bFloat ? 0 : nValues);
  for (size_t i = 0; i < nValues; ++i) {
    const float fValue = level(*pRng) * fScale;
    if (bFloat) {
      pAudio->vecFloat[i] = fValue;
    } else {
      pAudio->vecInt[i] =
          static_cast<int16_t>(std::max(-32768.0f, std::min(32767.0f, fValue * 32768)));
    }
  }
  for (int c = 0; c < nChannels; ++c) {
    const size_t nAt = bPlanar ? static_cast<size_t>(c) * nFrames : 0;
    pAudio->planes[c] = bFloat ? reinterpret_cast<const uint8_t*>(pAudio->vecFloat.data() + nAt)
                               : reinterpret_cast<const uint8_t*>(pAudio->vecInt.data() + nAt);
  }
}

// Feeds the same stream, in the given buffer sizes, to a fresh resampler and a
// decimator with the plan, then ends it; true when both give the same samples per call.
bool SameStream(const std::shared_ptr<const DecimationPlan>& pPlan, AVSampleFormat format,
                const AVChannelLayout& layout, int nRate, const std::vector<int>& vecChunks,
                std::mt19937* pRng) {
  SwrHold pSwr(NewFingerprintResampler(layout, format, nRate));
  if (!pSwr) return false;
  PcmDecimator decimator(pPlan, format);
  const bool bPlanar = av_sample_fmt_is_planar(format) != 0;
  std::vector<int16_t> vecTheirs;
  for (size_t i = 0; i <= vecChunks.size(); ++i) {
    const bool bEnd = i == vecChunks.size();
    const int nIn = bEnd ? 0 : vecChunks[i];
    RandomAudio audio;
    MakeRandomAudio(pRng, pPlan->bFloat, bPlanar, pPlan->nChannels, nIn, &audio);
    // As the decoder calls it: room for the most it can give, nothing when that is none.
    const int nRoom = swr_get_out_samples(pSwr.get(), nIn);
    vecTheirs.resize(static_cast<size_t>(std::max(nRoom, 1)));
    uint8_t* pOut = reinterpret_cast<uint8_t*>(vecTheirs.data());
    const uint8_t** ppIn = bEnd ? nullptr : audio.planes;
    const int nTheirs = nRoom > 0 ? swr_convert(pSwr.get(), &pOut, nRoom, ppIn, nIn) : 0;
    const int16_t* pOurs = nullptr;
    const int nOurs = bEnd ? decimator.Drain(&pOurs) : decimator.Convert(audio.planes, nIn, &pOurs);
    if (nTheirs != nOurs) return false;
    if (nOurs > 0 && !std::equal(pOurs, pOurs + nOurs, vecTheirs.begin())) return false;
  }
  return true;
}

// A long stream in buffers of every size, small ones included, and short streams that
// end around the resampler's start.
bool Reproduces(const std::shared_ptr<const DecimationPlan>& pPlan, AVSampleFormat format,
                const AVChannelLayout& layout, int nRate) {
  std::mt19937 rng(kCheckSeed);
  std::vector<int> vecChunks;
  for (int nFrames = 0; nFrames < kCheckFrames;) {
    const int nChunk = rng() % 4 == 0 ? 1 + rng() % 40 : 1 + rng() % 4700;
    vecChunks.push_back(nChunk);
    nFrames += nChunk;
  }
  if (!SameStream(pPlan, format, layout, nRate, vecChunks, &rng)) return false;
  const int nStart = pPlan->nStart;
  for (int nTotal : {1, nStart - 1, nStart, nStart + pPlan->nFactor + 1, 3 * nStart + 5}) {
    std::vector<int> vecShort = {std::max(1, nTotal / 3)};
    if (nTotal > vecShort[0]) vecShort.push_back(nTotal - vecShort[0]);
    if (!SameStream(pPlan, format, layout, nRate, vecShort, &rng)) return false;
  }
  return true;
}

bool Supported(AVSampleFormat format, const AVChannelLayout& layout, int nRate) {
  static const AVChannelLayout s_mono = AV_CHANNEL_LAYOUT_MONO;
  static const AVChannelLayout s_stereo = AV_CHANNEL_LAYOUT_STEREO;
  const bool bFormat = format == AV_SAMPLE_FMT_S16 || format == AV_SAMPLE_FMT_S16P ||
                       format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP;
  const bool bLayout = av_channel_layout_compare(&layout, &s_mono) == 0 ||
                       av_channel_layout_compare(&layout, &s_stereo) == 0;
  const int f = nRate / kFingerprintRate;
  const bool bRate = nRate % kFingerprintRate == 0 && (f == 2 || f == 4 || f == 8 || f == 16);
  return bFormat && bLayout && bRate && DecimatorKernelsAvailable();
}

}  // namespace

SwrContext* NewFingerprintResampler(const AVChannelLayout& inLayout, AVSampleFormat inFormat,
                                    int nInRate) {
  return NewResampler(inLayout, inFormat, nInRate, AV_SAMPLE_FMT_S16);
}

std::shared_ptr<const DecimationPlan> MeasurePlan(AVSampleFormat format,
                                                  const AVChannelLayout& layout, int nRate) {
  if (!Supported(format, layout, nRate)) return nullptr;
  auto pPlan = std::make_shared<DecimationPlan>();
  pPlan->bFloat = format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP;
  pPlan->nChannels = layout.nb_channels;
  pPlan->nFactor = nRate / kFingerprintRate;
  if (!MeasureTaps(pPlan.get()) || !MeasureCounts(format, layout, nRate, pPlan.get())) {
    return nullptr;
  }
  std::shared_ptr<const DecimationPlan> pChecked = pPlan;
  return Reproduces(pChecked, format, layout, nRate) ? pChecked : nullptr;
}

std::shared_ptr<const DecimationPlan> PlanFor(AVSampleFormat format, const AVChannelLayout& layout,
                                              int nRate) {
  if (!Supported(format, layout, nRate)) return nullptr;
  struct PlanMemo {
    std::mutex mutex;
    // Guarded by mutex: every input format met so far, with its plan or null.
    std::map<std::tuple<int, int, int>, std::shared_ptr<const DecimationPlan>> mapPlans;
  };
  // Never destroyed: a host may leave while decodes still run on its threads.
  static PlanMemo* const s_pMemo = new PlanMemo;
  const auto key = std::make_tuple(static_cast<int>(format), layout.nb_channels, nRate);
  std::lock_guard<std::mutex> lock(s_pMemo->mutex);
  auto found = s_pMemo->mapPlans.find(key);
  if (found == s_pMemo->mapPlans.end()) {
    found = s_pMemo->mapPlans.emplace(key, MeasurePlan(format, layout, nRate)).first;
  }
  return found->second;
}

}  // namespace twintone
