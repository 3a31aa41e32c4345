#include "analysis/audio_quality.h"

#include <algorithm>
#include <cstdint>

#include "analysis/quality_reader.h"
#include "analysis/quality_stats.h"

namespace twintone {
namespace {

// Audio dropped after each seek while the decoder settles (an MP3 frame's bit
// reservoir, a transform codec's overlap).
constexpr int kSettleMs = 50;

using ReadEnd = QualityReader::ReadEnd;

// One file's measuring, in the order the file is read.
class Measuring {
 public:
  Measuring(QualityReader* pReader, QualityStats* pStats)
      : reader_(*pReader),
        stats_(*pStats),
        nRate_(pReader->SampleRate()),
        nChannels_(pReader->Channels()) {}

  // From the start: the lead silence, then kWindowMs of audio for the stats. Stops
  // after kEdgeCapMs without a sound. With bWhole it gives the stats up to
  // kWholeFileMs and reads on to the end (up to twice that) for the trailing silence.
  ReadEnd ReadLead(bool bWhole) {
    const int64_t nBodyCap = Frames(bWhole ? kWholeFileMs : kWindowMs);
    const int64_t nCap = Frames(bWhole ? 2 * kWholeFileMs : kEdgeCapMs);
    return reader_.Read([&](const float* const* ppPlanes, int nFrames) {
      const int nFirst = bSound ? 0 : FirstSound(ppPlanes, nFrames);
      if (!bSound && nFirst < nFrames) {
        bSound = true;
        nLeadFrames = nSeen + nFirst;
      }
      if (bSound) {
        const int nTake = static_cast<int>(std::min<int64_t>(nFrames - nFirst, nBodyCap - nBody));
        stats_.Add(ppPlanes, nFirst, nFirst + nTake);
        nBody += nTake;
        TrackTrail(ppPlanes, nFrames);
      } else {
        nTrailFrames += nFrames;
      }
      nSeen += nFrames;
      if (!bSound) return nSeen < nCap;
      return bWhole ? nSeen < nCap : nBody < nBodyCap;
    });
  }

  // nMs of audio from about nAtMs on, for the stats. False when the file cannot seek
  // there or reading fails.
  bool ReadWindow(int64_t nAtMs, int nMs) {
    if (!reader_.Seek(nAtMs)) return false;
    stats_.EndStretch();
    int64_t nSkip = Frames(kSettleMs), nLeft = Frames(nMs);
    const ReadEnd end = reader_.Read([&](const float* const* ppPlanes, int nFrames) {
      const int nFrom = static_cast<int>(std::min<int64_t>(nSkip, nFrames));
      nSkip -= nFrom;
      const int nTake = static_cast<int>(std::min<int64_t>(nFrames - nFrom, nLeft));
      stats_.Add(ppPlanes, nFrom, nFrom + nTake);
      nLeft -= nTake;
      return nLeft > 0;
    });
    return end != ReadEnd::kFailed;
  }

  // From about nFromMs to the end, for the trailing silence, and with bStats for the
  // stats too. False when the file cannot seek or reading fails.
  bool ReadTail(int64_t nFromMs, bool bStats) {
    if (!reader_.Seek(nFromMs)) return false;
    stats_.EndStretch();
    bSound = false;
    nTrailFrames = 0;
    nTailSeen = 0;
    int64_t nSkip = Frames(kSettleMs);
    return reader_.Read([&](const float* const* ppPlanes, int nFrames) {
      const int nFrom = static_cast<int>(std::min<int64_t>(nSkip, nFrames));
      nSkip -= nFrom;
      if (nFrom == nFrames) return true;
      if (bStats) stats_.Add(ppPlanes, nFrom, nFrames);
      TrackTrail(ppPlanes, nFrames);
      nTailSeen += nFrames - nFrom;
      return true;
    }) == ReadEnd::kEndOfFile;
  }

  int32_t Ms(int64_t nFrames) const { return static_cast<int32_t>(nFrames * 1000 / nRate_); }
  int64_t Frames(int64_t nMs) const { return nMs * nRate_ / 1000; }

  bool bSound = false;       // a sound was met in the current read
  int64_t nSeen = 0;         // frames the lead read saw
  int64_t nLeadFrames = 0;   // silent frames before the first sound
  int64_t nTrailFrames = 0;  // silent frames since the last sound (all, before one)
  int64_t nBody = 0;         // frames the lead read gave the stats
  int64_t nTailSeen = 0;     // frames the last tail read saw after settling

 private:
  int FirstSound(const float* const* ppPlanes, int nFrames) const {
    int i = 0;
    while (i < nFrames && IsSilentFrame(ppPlanes, nChannels_, i)) ++i;
    return i;
  }

  void TrackTrail(const float* const* ppPlanes, int nFrames) {
    int i = nFrames - 1;
    while (i >= 0 && IsSilentFrame(ppPlanes, nChannels_, i)) --i;
    if (i >= 0) bSound = true;
    nTrailFrames = i >= 0 ? nFrames - 1 - i : nTrailFrames + nFrames;
  }

  QualityReader& reader_;
  QualityStats& stats_;
  const int nRate_;
  const int nChannels_;
};

// MeasureAudioQuality's work; throws std::bad_alloc or std::runtime_error.
QualityMeasures Measure(const char* pszPath, const std::atomic<bool>* pbCancel) {
  QualityMeasures out;
  QualityReader reader(pbCancel);
  if (!reader.Open(pszPath)) {
    out.nSampleRate = reader.SampleRate();
    out.nChannels = reader.Channels();
    return out;
  }
  out.nSampleRate = reader.SampleRate();
  out.nChannels = reader.Channels();
  if (reader.LosslessCodec()) out.nFlags |= TWINTONE_QUALITY_LOSSLESS;
  QualityStats stats(out.nSampleRate, out.nChannels);
  Measuring measuring(&reader, &stats);

  const int64_t nDurationMs = reader.DurationMs();
  const bool bWhole = nDurationMs < 0 || nDurationMs <= kWholeFileMs;
  const ReadEnd lead = measuring.ReadLead(bWhole);
  if (measuring.nSeen == 0) return out;
  out.nFlags |= TWINTONE_QUALITY_MEASURED;
  const bool bHeardLead = measuring.bSound;
  out.nLeadSilenceMs = measuring.Ms(bHeardLead ? measuring.nLeadFrames : measuring.nSeen);
  if (!bHeardLead && lead == ReadEnd::kStopped) {
    out.nLeadSilenceMs = std::min(out.nLeadSilenceMs, kEdgeCapMs);  // reads end on a block
    out.nFlags |= TWINTONE_QUALITY_LEAD_CAPPED;
  }
  if (lead == ReadEnd::kEndOfFile) out.nTrailSilenceMs = measuring.Ms(measuring.nTrailFrames);

  if (lead == ReadEnd::kStopped && !bWhole) {
    const int64_t nReachedMs = measuring.Ms(measuring.nSeen);
    bool bSeeks = true;
    for (int i = 1; i <= kWindows && bSeeks; ++i) {
      const int64_t nAtMs = nDurationMs * i / (kWindows + 1);
      if (nAtMs >= nReachedMs) bSeeks = measuring.ReadWindow(nAtMs, kWindowMs);
    }
    // The tail; when it holds no sound at all (or nothing: a stated length too long),
    // once more from further back.
    bool bAtEnd = bSeeks && measuring.ReadTail(std::max<int64_t>(0, nDurationMs - kTailMs), true);
    if (bAtEnd && !measuring.bSound) {
      bAtEnd = measuring.ReadTail(std::max<int64_t>(0, nDurationMs - kEdgeCapMs), false);
    }
    if (bAtEnd && measuring.nTailSeen > 0) {
      out.nTrailSilenceMs = measuring.Ms(measuring.nTrailFrames);
      if (!measuring.bSound) {
        out.nTrailSilenceMs = std::min(out.nTrailSilenceMs, kEdgeCapMs);
        out.nFlags |= TWINTONE_QUALITY_TRAIL_CAPPED;
      }
    }
  }

  stats.Finish(&out);
  if (!bHeardLead && lead == ReadEnd::kEndOfFile) out.nBandwidthHz = 0;  // only silence
  if ((out.nFlags & TWINTONE_QUALITY_LOSSLESS) && (out.nFlags & TWINTONE_QUALITY_LOSSY_EDGE)) {
    out.nFlags |= TWINTONE_QUALITY_LOSSY_SOURCE;
  }
  return out;
}

}  // namespace

QualityMeasures MeasureAudioQuality(const char* pszPath, const std::atomic<bool>* pbCancel) {
  if (pszPath == nullptr) return QualityMeasures();
  try {
    QualityMeasures out = Measure(pszPath, pbCancel);
    if (pbCancel != nullptr && pbCancel->load()) return QualityMeasures();
    return out;
  } catch (...) {
    return QualityMeasures();  // out of memory, or no transform for this rate
  }
}

}  // namespace twintone
