// The arithmetic of the quality measures, over planar float audio (full scale 1.0) in
// whatever pieces the decoder delivers: an averaged power spectrum (Hann-windowed real
// FFTs through FFmpeg's av_tx) for the bandwidth and the lossy edge, channel sums for
// the stereo kind, runs at full scale for clipping. Knows nothing of files.
#ifndef TWINTONE_ANALYSIS_QUALITY_STATS_H
#define TWINTONE_ANALYSIS_QUALITY_STATS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/quality_measures.h"

struct AVTXContext;

namespace twintone {

// Below this level on every channel a sample frame is silence (-60 dBFS).
constexpr float kSilenceLevel = 0.001f;
// At or above this level a sample counts as at full scale (within 0.01 dB of it).
constexpr float kClipLevel = 0.999f;

// True when every channel of frame i is below kSilenceLevel.
bool IsSilentFrame(const float* const* ppPlanes, int nChannels, int i);

// One file's accumulation; one thread. Throws std::bad_alloc, or std::runtime_error
// when the transform cannot be set up.
class QualityStats {
 public:
  QualityStats(int nSampleRate, int nChannels);
  ~QualityStats();
  QualityStats(const QualityStats&) = delete;
  QualityStats& operator=(const QualityStats&) = delete;

  // Adds frames [nFrom, nTo) of ppPlanes (nChannels planes) to the measures. Pieces
  // added one after another are one stretch of audio until EndStretch.
  void Add(const float* const* ppPlanes, int nFrom, int nTo);
  // The audio that follows is not contiguous with what came before (after a seek).
  void EndStretch();

  // Writes the bandwidth, lossy edge, stereo kind, clipping and nMeasuredMs into
  // *pOut, leaving its other fields alone.
  void Finish(QualityMeasures* pOut) const;

 private:
  struct TxFree {
    void operator()(AVTXContext* pCtx) const;
  };
  struct AvFree {
    void operator()(float* p) const;
  };

  // Adds the power spectrum of vecPending_ (one FFT's length) to vecPower_.
  void Transform();

  const int nSampleRate_;
  const int nChannels_;
  int nFftSize_ = 0;
  std::unique_ptr<AVTXContext, TxFree> tx_;
  void (*pfnTx_)(AVTXContext*, void*, void*, ptrdiff_t) = nullptr;
  std::unique_ptr<float, AvFree> pIn_;   // nFftSize_ floats, aligned for av_tx
  std::unique_ptr<float, AvFree> pOut_;  // nFftSize_ + 2 floats: the complex bins
  std::vector<float> vecWindow_;
  std::vector<float> vecPending_;  // under one FFT's length, of nSpectrumChannel_
  int nSpectrumChannel_ = 0;       // the channel whose audio the next FFT takes
  std::vector<double> vecPower_;   // per bin, summed over the FFTs
  std::vector<int> vecClipRun_;    // per channel: current run at full scale
  int64_t nFrames_ = 0;            // frames added
  int64_t nSpectra_ = 0;           // FFTs summed into vecPower_
  int64_t nClipped_ = 0;
  double fLL_ = 0, fRR_ = 0, fLR_ = 0;  // first two channels' sums of products
};

}  // namespace twintone

#endif  // TWINTONE_ANALYSIS_QUALITY_STATS_H
