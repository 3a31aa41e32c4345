// The conversion of decoded audio to the fingerprint format (11025 Hz mono S16), two
// ways that give the same samples:
//   - FFmpeg's resampler (NewFingerprintResampler), for every input;
//   - PcmDecimator, for the common inputs: 16-bit or float samples, mono or stereo,
//     at 2, 4, 8 or 16 times 11025 Hz (44.1 kHz above all). It works out the same
//     sums as the resampler, in the same order, with several outputs in flight, at a
//     fraction of its cost.
// A PcmDecimator is only made for an input whose conversion it has been shown, on
// this machine and with the FFmpeg it runs on, to reproduce sample for sample and
// buffer for buffer: the first request for an input format measures the resampler
// (its filter taps, its delay, how it starts and ends a stream) and compares the
// two on a stream of random audio in random buffer sizes. Any difference, or a
// processor without the vector instructions the kernels need, leaves that input to
// the resampler.
#ifndef TWINTONE_DECODER_PCM_DECIMATOR_H
#define TWINTONE_DECODER_PCM_DECIMATOR_H

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <cstdint>
#include <memory>
#include <vector>

namespace twintone {

constexpr int kFingerprintRate = 11025;

// FFmpeg's resampler from the given input to 11025 Hz mono S16, set up as the
// decoder uses it. Null on failure; the caller frees it with swr_free.
SwrContext* NewFingerprintResampler(const AVChannelLayout& inLayout, AVSampleFormat inFormat,
                                    int nInRate);

// What the resampler does to one input format, measured from it (decimation_plan.cpp).
struct DecimationPlan {
  bool bFloat = false;  // float samples (the taps in vecFloatTaps), else 16-bit
  int nChannels = 0;    // 1 or 2; two are resampled apart, then mixed
  int nFactor = 0;      // input rate / 11025
  int nHalf = 0;        // output k reads input from k * nFactor - nHalf on
  int nTaps = 0;        // taps per output, zero-padded to whole vectors
  int nStart = 0;       // input frames the resampler waits for before its first output
  int nDelay = 0;       // from then on, outputs = (input frames - nDelay) / nFactor
  std::vector<float> vecFloatTaps;
  std::vector<int16_t> vecIntTaps;
};

// The plan for an input, or null when PcmDecimator cannot stand in for the resampler
// there. Measured and checked once per input format and process; any thread.
std::shared_ptr<const DecimationPlan> PlanFor(AVSampleFormat format, const AVChannelLayout& layout,
                                              int nRate);

// The same, measured and checked now, without the process-wide memo (for tests).
std::shared_ptr<const DecimationPlan> MeasurePlan(AVSampleFormat format,
                                                  const AVChannelLayout& layout, int nRate);

// One stream's conversion; one thread at a time. Allocation failures throw
// std::bad_alloc.
class PcmDecimator {
 public:
  // A decimator for the input, or null when the resampler must do it (see PlanFor).
  static std::unique_ptr<PcmDecimator> Create(AVSampleFormat format, const AVChannelLayout& layout,
                                              int nRate);
  PcmDecimator(std::shared_ptr<const DecimationPlan> pPlan, AVSampleFormat format);

  // Takes nIn frames of input (planes or one interleaved buffer, in the format given
  // at creation) and returns how many output samples it leaves at *ppOut, valid until
  // the next call: as many as the resampler gives for the same input.
  int Convert(const uint8_t* const* ppIn, int nIn, const int16_t** ppOut);
  // End of the stream: the samples the resampler gives when flushed, or -1 when its
  // flush could not be set up.
  int Drain(const int16_t** ppOut);

 private:
  size_t Padding() const;
  void Append(const uint8_t* const* ppIn, int nIn);
  void Prime();
  void Compute(int64_t nFirst, int nCount);
  void Compact();
  int64_t WindowStart(int64_t nOutput) const { return nOutput * plan_->nFactor - plan_->nHalf; }

  std::shared_ptr<const DecimationPlan> pPlanHold_;
  const DecimationPlan* plan_;
  AVSampleFormat format_;
  bool bPlanar_;
  // Input history per channel, as float or int16 (one of the two is used). Element e
  // holds input frame nBase_ + e; frames before 0 mirror the stream's start, as the
  // resampler's do. Padding() zeros follow the last frame, for the padded taps.
  std::vector<float> vecFloat_[2];
  std::vector<int16_t> vecInt_[2];
  int64_t nBase_ = 0;
  int64_t nIn_ = 0;   // input frames taken
  int64_t nOut_ = 0;  // output samples given
  bool bPrimed_ = false;
  std::vector<float> vecMixF_[2];  // per channel sums of the current batch
  std::vector<int16_t> vecMixI_[2];
  std::vector<int16_t> vecOut_;
};

}  // namespace twintone

#endif  // TWINTONE_DECODER_PCM_DECIMATOR_H
