// Extension entry points of the quality measures. Thin: check, forward, return; no
// exception leaves.
#include "analysis/audio_quality.h"
#include "engine/ext_api_support.h"
#include "twintone_ext.h"

namespace {

bool Fits(const twintone_quality* pQuality) {
  return pQuality != nullptr && pQuality->nStructSize >= sizeof(twintone_quality);
}

}  // namespace

extern "C" {

TWINTONE_EXPORT int twintone_set_quality(int bOn) {
  return twintone::ChangeIdleSettings([bOn](CDedupeMusic::ExtSettings& settings) {
    settings.bQuality = bOn != 0;
    return 0;
  });
}

TWINTONE_EXPORT int twintone_quality_at(int nIndex, twintone_quality* pQuality) {
  if (!Fits(pQuality)) return -1;
  return twintone::WithEngineData(-2,
                                  [&](CDedupeMusic& e) { return e.QualityAt(nIndex, pQuality); });
}

TWINTONE_EXPORT int twintone_quality_of(const char* pszPath, twintone_quality* pQuality) {
  if (pszPath == nullptr || !Fits(pQuality)) return -1;
  return twintone::WithEngineData(-2,
                                  [&](CDedupeMusic& e) { return e.QualityOf(pszPath, pQuality); });
}

TWINTONE_EXPORT int twintone_measure_quality(const char* pszPath, twintone_quality* pQuality) {
  if (pszPath == nullptr || !Fits(pQuality)) return -1;
  const twintone::QualityMeasures m = twintone::MeasureAudioQuality(pszPath);
  twintone::FillQualityFields(m, 0, pQuality);
  return m.Measured() ? 0 : -2;
}

}  // extern "C"
