// What one file sounds like: its effective bandwidth and any lossy encoder's edge,
// the channels it really uses, clipping, and the silence at either end, measured
// from its audio at its own rate and channels.
//
// The file is read in a few places only: from the start until kWindowMs after the
// first sound, kWindows windows of kWindowMs spread evenly through it, and its last
// kTailMs (from further back when those are silent). A file no longer than
// kWholeFileMs, or one whose length is unknown, is read from the start in one go, up
// to twice that. So the cost is about five seconds of decoding whatever the file's
// length.
#ifndef TWINTONE_ANALYSIS_AUDIO_QUALITY_H
#define TWINTONE_ANALYSIS_AUDIO_QUALITY_H

#include <atomic>

#include "support/quality_measures.h"

namespace twintone {

// Revision of the measures: a stored measure of another revision is measured again.
// Raise it whenever a change here would change a file's measures.
constexpr int kQualityRevision = 1;

constexpr int kWindowMs = 1000;
constexpr int kWindows = 3;
constexpr int kTailMs = 1000;
// The longest silence looked for at either end; a longer one reads as this much, with
// the end's CAPPED flag.
constexpr int kEdgeCapMs = 20000;
constexpr int kWholeFileMs = 12000;

// Measures the file at pszPath. Opens it read-only and never writes it. Any thread;
// keeps no state. An unreadable or undecodable file gives measures without
// TWINTONE_QUALITY_MEASURED (its rate and channels when they were learnt), a damaged
// one the measures of the audio that could be decoded. A set *pbCancel (may be null)
// stops the reading within a packet; the result is then unmeasured.
QualityMeasures MeasureAudioQuality(const char* pszPath,
                                    const std::atomic<bool>* pbCancel = nullptr);

}  // namespace twintone

#endif  // TWINTONE_ANALYSIS_AUDIO_QUALITY_H
