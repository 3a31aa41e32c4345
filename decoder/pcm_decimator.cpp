// PcmDecimator: the resampler's arithmetic on a history of input frames, a batch of
// outputs at a time.
#include "pcm_decimator.h"

#include <algorithm>
#include <cstring>

#include "decimator_kernels.h"

namespace twintone {
namespace {

// History dropped once this many frames lie before the next output's window: small
// enough for the history to stay in the processor's cache.
constexpr int64_t kCompactAfter = 1 << 13;

struct SwrFree {
  void operator()(SwrContext* pSwr) const { swr_free(&pSwr); }
};

int64_t RoundUp(int64_t n, int64_t nTo) { return (n + nTo - 1) / nTo * nTo; }

}  // namespace

std::unique_ptr<PcmDecimator> PcmDecimator::Create(AVSampleFormat format,
                                                   const AVChannelLayout& layout, int nRate) {
  std::shared_ptr<const DecimationPlan> pPlan = PlanFor(format, layout, nRate);
  if (!pPlan) return nullptr;
  return std::make_unique<PcmDecimator>(std::move(pPlan), format);
}

PcmDecimator::PcmDecimator(std::shared_ptr<const DecimationPlan> pPlan, AVSampleFormat format)
    : pPlanHold_(std::move(pPlan)),
      plan_(pPlanHold_.get()),
      format_(format),
      bPlanar_(av_sample_fmt_is_planar(format) != 0),
      nBase_(-plan_->nHalf) {}

// Frames before the stream's first one are its mirror image; they are written once
// the resampler would start (nStart frames in, more than nHalf).
void PcmDecimator::Prime() {
  const int64_t nHalf = plan_->nHalf;
  for (int c = 0; c < plan_->nChannels; ++c) {
    for (int64_t i = 1; i <= nHalf; ++i) {
      if (plan_->bFloat) {
        vecFloat_[c][nHalf - i] = vecFloat_[c][nHalf + i];
      } else {
        vecInt_[c][nHalf - i] = vecInt_[c][nHalf + i];
      }
    }
  }
  bPrimed_ = true;
}

// Frames after the last one that a batch of outputs may read (times zero taps).
size_t PcmDecimator::Padding() const {
  return static_cast<size_t>(plan_->nTaps + (kKernelBatch + 1) * plan_->nFactor);
}

void PcmDecimator::Append(const uint8_t* const* ppIn, int nIn) {
  const int nChannels = plan_->nChannels;
  const size_t nAt = static_cast<size_t>(nIn_ - nBase_);
  const size_t nEnd = nAt + nIn, nSize = nEnd + Padding();
  for (int c = 0; c < nChannels; ++c) {
    if (plan_->bFloat) {
      std::vector<float>& vec = vecFloat_[c];
      if (vec.size() < nSize) vec.resize(std::max(nSize, static_cast<size_t>(2 * kCompactAfter)));
      float* pDst = vec.data() + nAt;
      if (bPlanar_ || nChannels == 1) {
        memcpy(pDst, ppIn[bPlanar_ ? c : 0], sizeof(float) * nIn);
      } else {
        const float* pSrc = reinterpret_cast<const float*>(ppIn[0]) + c;
        for (int i = 0; i < nIn; ++i) pDst[i] = pSrc[2 * i];
      }
      std::fill(vec.begin() + nEnd, vec.begin() + nSize, 0.0f);
    } else {
      std::vector<int16_t>& vec = vecInt_[c];
      if (vec.size() < nSize) vec.resize(std::max(nSize, static_cast<size_t>(2 * kCompactAfter)));
      int16_t* pDst = vec.data() + nAt;
      if (bPlanar_ || nChannels == 1) {
        memcpy(pDst, ppIn[bPlanar_ ? c : 0], sizeof(int16_t) * nIn);
      } else {
        const int16_t* pSrc = reinterpret_cast<const int16_t*>(ppIn[0]) + c;
        for (int i = 0; i < nIn; ++i) pDst[i] = pSrc[2 * i];
      }
      std::fill(vec.begin() + nEnd, vec.begin() + nSize, int16_t{0});
    }
  }
  nIn_ += nIn;
}

// Outputs nFirst .. nFirst + nCount - 1 into vecOut_.
void PcmDecimator::Compute(int64_t nFirst, int nCount) {
  const size_t nBatch = static_cast<size_t>(RoundUp(nCount, kKernelBatch));
  const int64_t nFrom = WindowStart(nFirst) - nBase_;
  vecOut_.resize(nBatch);
  const bool bStereo = plan_->nChannels == 2;
  for (int c = 0; c < plan_->nChannels; ++c) {
    if (plan_->bFloat) {
      vecMixF_[c].resize(nBatch);
      DecimateFloat(vecFloat_[c].data() + nFrom, plan_->nFactor, plan_->vecFloatTaps.data(),
                    plan_->nTaps, nCount, vecMixF_[c].data());
      continue;
    }
    // Mono 16-bit input needs no mix: its sums are the output.
    int16_t* pSums = vecOut_.data();
    if (bStereo) {
      vecMixI_[c].resize(nBatch);
      pSums = vecMixI_[c].data();
    }
    DecimateInt16(vecInt_[c].data() + nFrom, plan_->nFactor, plan_->vecIntTaps.data(), plan_->nTaps,
                  nCount, pSums);
  }
  if (plan_->bFloat) {
    FloatToS16(vecMixF_[0].data(), bStereo ? vecMixF_[1].data() : nullptr, nCount, vecOut_.data());
  } else if (bStereo) {
    MixInt16(vecMixI_[0].data(), vecMixI_[1].data(), nCount, vecOut_.data());
  }
}

// Drops history no later output or drain reads.
void PcmDecimator::Compact() {
  const int64_t nKeep = 4 * static_cast<int64_t>(plan_->nTaps) + 64 * plan_->nFactor;
  const int64_t nDrop = WindowStart(nOut_) - nKeep - nBase_;
  if (nDrop < kCompactAfter) return;
  const size_t nLive = static_cast<size_t>(nIn_ - nBase_ - nDrop) + Padding();
  for (int c = 0; c < plan_->nChannels; ++c) {
    if (plan_->bFloat) {
      memmove(vecFloat_[c].data(), vecFloat_[c].data() + nDrop, nLive * sizeof(float));
    } else {
      memmove(vecInt_[c].data(), vecInt_[c].data() + nDrop, nLive * sizeof(int16_t));
    }
  }
  nBase_ += nDrop;
}

int PcmDecimator::Convert(const uint8_t* const* ppIn, int nIn, const int16_t** ppOut) {
  *ppOut = nullptr;
  if (nIn <= 0) return 0;
  Append(ppIn, nIn);
  if (nIn_ < plan_->nStart) return 0;
  if (!bPrimed_) Prime();
  const int64_t nWant = (nIn_ - plan_->nDelay) / plan_->nFactor;
  if (nWant <= nOut_) return 0;
  const int nCount = static_cast<int>(nWant - nOut_);
  Compute(nOut_, nCount);
  nOut_ = nWant;
  Compact();
  *ppOut = vecOut_.data();
  return nCount;
}

// The resampler ends a stream with a mirror image of its last frames, and not quite
// as many outputs as whole frames would give. Rather than model that, a fresh
// resampler is handed the stream's last frames, from a whole output's position far
// enough back that the outputs still owed do not see its own start, and flushed; the
// outputs it gives before those owed are dropped. A stream that never reached
// nStart frames is handed over whole.
int PcmDecimator::Drain(const int16_t** ppOut) {
  *ppOut = nullptr;
  const int nFactor = plan_->nFactor;
  int64_t nFrom = 0;
  if (bPrimed_) {
    const int64_t nLead = (plan_->nHalf + nFactor - 1) / nFactor + 16;
    nFrom = std::max<int64_t>(0, (nOut_ - nLead) * nFactor);
  }
  const int nFrames = static_cast<int>(nIn_ - nFrom);
  if (nFrames <= 0) return 0;

  AVChannelLayout layout{};
  av_channel_layout_default(&layout, plan_->nChannels);
  std::unique_ptr<SwrContext, SwrFree> pSwr(NewFingerprintResampler(
      layout, av_get_planar_sample_fmt(format_), nFactor * kFingerprintRate));
  if (!pSwr) return -1;
  const uint8_t* ppPlanes[2] = {};
  for (int c = 0; c < plan_->nChannels; ++c) {
    const size_t nAt = static_cast<size_t>(nFrom - nBase_);
    ppPlanes[c] = plan_->bFloat ? reinterpret_cast<const uint8_t*>(vecFloat_[c].data() + nAt)
                                : reinterpret_cast<const uint8_t*>(vecInt_[c].data() + nAt);
  }
  const int nRoom = nFrames / nFactor + 64;
  std::vector<int16_t> vecAll(static_cast<size_t>(nRoom));
  uint8_t* pDst = reinterpret_cast<uint8_t*>(vecAll.data());
  int nGot = swr_convert(pSwr.get(), &pDst, nRoom, ppPlanes, nFrames);
  if (nGot < 0) return -1;
  pDst = reinterpret_cast<uint8_t*>(vecAll.data() + nGot);
  int nTail = swr_convert(pSwr.get(), &pDst, nRoom - nGot, nullptr, 0);
  if (nTail < 0) return -1;
  nGot += nTail;

  const int64_t nSkip = nOut_ - nFrom / nFactor;
  if (nGot <= nSkip) return 0;
  vecOut_.assign(vecAll.begin() + nSkip, vecAll.begin() + nGot);
  nOut_ += static_cast<int64_t>(vecOut_.size());
  *ppOut = vecOut_.data();
  return static_cast<int>(vecOut_.size());
}

}  // namespace twintone
