#include "analysis/quality_stats.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

namespace twintone {
namespace {

// The spectrum's bins are at most this wide, and are summed into bands about
// kBandHz wide before the edge is looked for.
constexpr double kMaxBinHz = 24.0;
constexpr double kBandHz = 172.0;
// A band carries the music while it is within this much of the loudest band: a lossy
// encoder's stop band, and the quantisation floor of 16-bit audio, lie further down.
constexpr double kFloorBelowPeakDb = 75.0;
// Below this level (a full-scale sine's bin is about 0 dB) nothing is playing.
constexpr double kSilentPeakDb = -110.0;
// A lossy edge: the bands 500 to 1500 Hz below the bandwidth carry this much more
// energy than any band from 500 Hz above it up to Nyquist, and the bandwidth lies
// well below Nyquist.
constexpr double kEdgeDropDb = 30.0;
constexpr double kEdgeNearHz = 500.0;
constexpr double kEdgeFarHz = 1500.0;
constexpr double kEdgeBelowNyquist = 0.9;
// Two channels carry the same audio when they are this correlated: equal, or one a
// scaled copy of the other (a mono source panned), give 1; a difference 33 dB below
// the channels still gives 0.999.
constexpr double kDualMonoCorrelation = 0.999;
// A channel this far below the other carries nothing.
constexpr double kSilentChannelDb = -60.0;

double PowerToDb(double fPower) { return 10.0 * std::log10(fPower + 1e-30); }

struct SpectrumEdge {
  int32_t nBandwidthHz = 0;  // top of the highest band above the floor; 0 for none
  bool bLossyEdge = false;
};

// Where the spectrum ends, from per-band levels in dB of bands fBandHz wide starting
// at 0 Hz (band b covers [b, b + 1) x fBandHz).
SpectrumEdge FindSpectrumEdge(const std::vector<double>& vecBandDb, double fBandHz,
                              double fNyquistHz) {
  SpectrumEdge edge;
  if (vecBandDb.empty()) return edge;
  const double fPeak = *std::max_element(vecBandDb.begin(), vecBandDb.end());
  if (fPeak < kSilentPeakDb) return edge;
  const int nBands = static_cast<int>(vecBandDb.size());
  int nTop = nBands - 1;
  while (vecBandDb[nTop] < fPeak - kFloorBelowPeakDb) --nTop;  // the peak band stops it
  edge.nBandwidthHz = static_cast<int32_t>(std::min((nTop + 1) * fBandHz, fNyquistHz));
  if (edge.nBandwidthHz > kEdgeBelowNyquist * fNyquistHz) return edge;

  const int nNear = static_cast<int>(std::lround(kEdgeNearHz / fBandHz));
  const int nFar = static_cast<int>(std::lround(kEdgeFarHz / fBandHz));
  double fBelow = 0;
  int nBelow = 0;
  for (int b = std::max(0, nTop - nFar); b <= nTop - nNear; ++b, ++nBelow) {
    fBelow += std::pow(10.0, vecBandDb[b] / 10.0);
  }
  double fAbove = -1e300;
  for (int b = nTop + nNear; b < nBands; ++b) fAbove = std::max(fAbove, vecBandDb[b]);
  if (nBelow == 0 || nTop + nNear >= nBands) return edge;
  edge.bLossyEdge = PowerToDb(fBelow / nBelow) - fAbove >= kEdgeDropDb;
  return edge;
}

}  // namespace

bool IsSilentFrame(const float* const* ppPlanes, int nChannels, int i) {
  for (int c = 0; c < nChannels; ++c) {
    if (std::fabs(ppPlanes[c][i]) >= kSilenceLevel) return false;
  }
  return true;
}

void QualityStats::TxFree::operator()(AVTXContext* pCtx) const { av_tx_uninit(&pCtx); }
void QualityStats::AvFree::operator()(float* p) const { av_free(p); }

QualityStats::QualityStats(int nSampleRate, int nChannels)
    : nSampleRate_(nSampleRate),
      nChannels_(nChannels),
      vecClipRun_(static_cast<size_t>(nChannels), 0) {
  nFftSize_ = 256;
  while (static_cast<double>(nSampleRate_) / nFftSize_ > kMaxBinHz) nFftSize_ *= 2;
  AVTXContext* pCtx = nullptr;
  const float fScale = 1.0f;
  if (av_tx_init(&pCtx, &pfnTx_, AV_TX_FLOAT_RDFT, 0, nFftSize_, &fScale, 0) < 0) {
    throw std::runtime_error("no real FFT of this size");
  }
  tx_.reset(pCtx);
  pIn_.reset(static_cast<float*>(av_malloc(sizeof(float) * nFftSize_)));
  pOut_.reset(static_cast<float*>(av_malloc(sizeof(float) * (nFftSize_ + 2))));
  if (!pIn_ || !pOut_) throw std::bad_alloc();
  vecWindow_.resize(static_cast<size_t>(nFftSize_));
  for (int i = 0; i < nFftSize_; ++i) {
    vecWindow_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * i / nFftSize_));
  }
  vecPower_.assign(static_cast<size_t>(nFftSize_ / 2 + 1), 0.0);
  vecPending_.reserve(static_cast<size_t>(nFftSize_));
}

QualityStats::~QualityStats() = default;

void QualityStats::Add(const float* const* ppPlanes, int nFrom, int nTo) {
  if (nTo <= nFrom) return;
  nFrames_ += nTo - nFrom;
  for (int c = 0; c < nChannels_; ++c) {
    const float* pSamples = ppPlanes[c];
    int& nRun = vecClipRun_[c];
    for (int i = nFrom; i < nTo; ++i) {
      if (std::fabs(pSamples[i]) < kClipLevel) {
        nRun = 0;
      } else if (++nRun >= 2) {
        nClipped_ += nRun == 2 ? 2 : 1;  // a run counts from its second sample on
      }
    }
  }
  if (nChannels_ >= 2) {
    for (int i = nFrom; i < nTo; ++i) {
      const double l = ppPlanes[0][i], r = ppPlanes[1][i];
      fLL_ += l * l;
      fRR_ += r * r;
      fLR_ += l * r;
    }
  }
  // One FFT after another, each of the next nFftSize_ frames of one channel, the
  // channels taking turns: every channel shows in the spectrum at one FFT per frame
  // of audio. What is left over waits for the next piece.
  for (int i = nFrom; i < nTo;) {
    const int nTake = std::min(nTo - i, nFftSize_ - static_cast<int>(vecPending_.size()));
    const float* pSamples = ppPlanes[nSpectrumChannel_];
    vecPending_.insert(vecPending_.end(), pSamples + i, pSamples + i + nTake);
    i += nTake;
    if (vecPending_.size() == static_cast<size_t>(nFftSize_)) {
      Transform();
      vecPending_.clear();
      nSpectrumChannel_ = (nSpectrumChannel_ + 1) % nChannels_;
    }
  }
}

void QualityStats::Transform() {
  float* pIn = pIn_.get();
  for (int i = 0; i < nFftSize_; ++i) pIn[i] = vecPending_[i] * vecWindow_[i];
  pfnTx_(tx_.get(), pOut_.get(), pIn, sizeof(float));
  const float* pBins = pOut_.get();  // re, im pairs
  for (size_t k = 0; k < vecPower_.size(); ++k) {
    const double re = pBins[2 * k], im = pBins[2 * k + 1];
    vecPower_[k] += re * re + im * im;
  }
  ++nSpectra_;
}

void QualityStats::EndStretch() {
  vecPending_.clear();
  std::fill(vecClipRun_.begin(), vecClipRun_.end(), 0);
}

void QualityStats::Finish(QualityMeasures* pOut) const {
  pOut->nMeasuredMs = static_cast<int32_t>(nFrames_ * 1000 / nSampleRate_);
  pOut->nClippedPpm =
      nFrames_ == 0 ? -1 : static_cast<int32_t>(nClipped_ * 1000000 / (nFrames_ * nChannels_));

  if (nSpectra_ > 0) {
    // Levels such that a full-scale sine's bin is about 0 dB: the Hann window's gain
    // is a half, and the FFT's N / 2.
    const double fNorm = static_cast<double>(nSpectra_) * (nFftSize_ / 4.0) * (nFftSize_ / 4.0);
    const double fBinHz = static_cast<double>(nSampleRate_) / nFftSize_;
    const size_t nBandBins = std::max<size_t>(1, std::lround(kBandHz / fBinHz));
    std::vector<double> vecBandDb;
    for (size_t k = 0; k + nBandBins <= vecPower_.size(); k += nBandBins) {
      double fSum = 0;
      for (size_t j = k; j < k + nBandBins; ++j) fSum += vecPower_[j];
      vecBandDb.push_back(PowerToDb(fSum / nBandBins / fNorm));
    }
    const SpectrumEdge edge = FindSpectrumEdge(vecBandDb, fBinHz * nBandBins, nSampleRate_ / 2.0);
    pOut->nBandwidthHz = edge.nBandwidthHz;
    if (edge.bLossyEdge) pOut->nFlags |= TWINTONE_QUALITY_LOSSY_EDGE;
  }

  if (nChannels_ == 1) {
    pOut->nStereo = TWINTONE_STEREO_MONO;
  } else if (fLL_ + fRR_ > 0) {
    const double fQuiet = std::min(fLL_, fRR_), fLoud = std::max(fLL_, fRR_);
    if (PowerToDb(fQuiet) - PowerToDb(fLoud) < kSilentChannelDb) {
      pOut->nStereo = TWINTONE_STEREO_MONO;
    } else if (fLR_ / std::sqrt(fLL_ * fRR_) >= kDualMonoCorrelation) {
      pOut->nStereo = TWINTONE_STEREO_DUAL_MONO;
    } else {
      pOut->nStereo = TWINTONE_STEREO_TRUE;
    }
  }
}

}  // namespace twintone
