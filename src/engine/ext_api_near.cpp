// Extension entry points about how alike two recordings are: scoring two fingerprints
// as the grouping does, and the near misses a run noted below its threshold. Thin:
// check, forward, return; no exception leaves.
#include <algorithm>

#include "engine/ext_api_support.h"
#include "grouping/match_kernels.h"
#include "twintone_ext.h"

namespace {

// The grouping files nothing shorter.
constexpr int kMinCompareWords = 20;

}  // namespace

extern "C" {

TWINTONE_EXPORT int twintone_compare_fingerprints(const uint32_t* pA, int nA, const uint32_t* pB,
                                                  int nB, double* pSimilarity) {
  if (pA == nullptr || pB == nullptr || pSimilarity == nullptr) return -1;
  if (nA < kMinCompareWords || nB < kMinCompareWords) return -2;
  // The scorer allocates nothing beyond its stack; the guard only keeps the promise.
  try {
    *pSimilarity = twintone::MatchFingerprints3With(twintone::ActiveMatchKernel(), pA, nA, pB, nB,
                                                    std::min(nA, nB) / 3);
  } catch (...) {
    return -1;
  }
  return 0;
}

TWINTONE_EXPORT int twintone_set_near_floor(int nPercent) {
  if (nPercent < 0 || nPercent > 100) return -1;
  return twintone::ChangeIdleSettings([&](CDedupeMusic::ExtSettings& settings) {
    settings.nNearFloor = nPercent;
    return 0;
  });
}

TWINTONE_EXPORT int twintone_near_miss_at(int nIndex, const char** ppszPath,
                                          double* pSimilarity) {
  if (ppszPath == nullptr || pSimilarity == nullptr) return -1;
  return twintone::WithEngineData(-2, [&](CDedupeMusic& e) {
    twintone_file_info info{};
    info.nStructSize = sizeof(info);
    if (e.FileInfoAt(nIndex, &info) != 0) return -2;
    const InerMusicDedupInfo* pRecord = e.mapLoaded.at(info.pszPath);
    if (pRecord->pNearFounder == nullptr) return 0;
    *ppszPath = pRecord->pNearFounder->strPath.c_str();
    *pSimilarity = pRecord->fNearScore;
    return 1;
  });
}

}  // extern "C"
