// Fingerprint matching: the exported scores, their straightforward reference
// versions, and the threshold-aware scorer the engine files with.
#ifndef TWINTONE_GROUPING_ACOUSTID_COMPARE_H
#define TWINTONE_GROUPING_ACOUSTID_COMPARE_H

#include <cstdint>

#include "twintone.h"

namespace twintone {

// The straightforward versions, kept as the reference for benchmarks and
// differential tests. Same contracts and results as the exported functions.
namespace reference {
float match_fingerprints(const uint32_t* a, int asize, const uint32_t* b, int bsize);
float match_fingerprints2(const uint32_t* a, int asize, const uint32_t* b, int bsize,
                          int maxoffset);
float match_fingerprints3(const uint32_t* a, int asize, const uint32_t* b, int bsize,
                          int maxoffset);
}  // namespace reference

// Decides whether match_fingerprints3(a, asize, b, bsize, maxoffset) > fThreshold.
// When it is, stores exactly that score in *pfScore and returns true; otherwise
// returns false and leaves *pfScore alone. May stop early once no diagonal can
// still pass.
using ThresholdScorer = bool (*)(const uint32_t* a, int asize, const uint32_t* b, int bsize,
                                 int maxoffset, float fThreshold, float* pfScore);
bool MatchAboveThreshold(const uint32_t* a, int asize, const uint32_t* b, int bsize,
                         int maxoffset, float fThreshold, float* pfScore);
// The same decision through reference::match_fingerprints3, the baseline.
bool ReferenceMatchAboveThreshold(const uint32_t* a, int asize, const uint32_t* b, int bsize,
                                  int maxoffset, float fThreshold, float* pfScore);

}  // namespace twintone

#endif  // TWINTONE_GROUPING_ACOUSTID_COMPARE_H
