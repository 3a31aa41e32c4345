// Extension entry point that chooses the fingerprint filing strategy. Thin: check,
// forward, return; no exception leaves.
#include <new>

#include "engine/ext_api_support.h"
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_set_filing(int nStrategy) {
  if (nStrategy != TWINTONE_FILING_EXACT && nStrategy != TWINTONE_FILING_FAST) return -1;
  return twintone::ChangeIdleSettings([&](CDedupeMusic::ExtSettings& settings) {
    settings.nFiling = nStrategy;
    return 0;
  });
}

}  // extern "C"
