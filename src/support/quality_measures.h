// What one file's audio sounds like, as plain numbers: the analysis fills them, the
// store keeps them, the engine hands them to hosts as twintone_quality.
#ifndef TWINTONE_SUPPORT_QUALITY_MEASURES_H
#define TWINTONE_SUPPORT_QUALITY_MEASURES_H

#include <cstdint>

#include "twintone_ext.h"

namespace twintone {

// The fields of twintone_quality that belong to the file alone; the same units and
// unknown values. nFlags never holds TWINTONE_QUALITY_FROM_STORE: where the measures
// came from is the caller's to say.
struct QualityMeasures {
  uint32_t nFlags = 0;
  int32_t nSampleRate = 0;
  int32_t nChannels = 0;
  int32_t nBandwidthHz = -1;
  int32_t nStereo = TWINTONE_STEREO_UNKNOWN;
  int32_t nClippedPpm = -1;
  int32_t nLeadSilenceMs = -1;
  int32_t nTrailSilenceMs = -1;
  int32_t nMeasuredMs = 0;

  bool Measured() const { return (nFlags & TWINTONE_QUALITY_MEASURED) != 0; }
};

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_QUALITY_MEASURES_H
