// Extension entry points about the fingerprint filing strategy. Thin: check,
// forward, return; no exception leaves.
#include <new>
#include <thread>

#include "engine/ext_api_support.h"
#include "grouping/duplicate_filing.h"
#include "grouping/match_kernels.h"
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_set_filing(int nStrategy) {
  if (nStrategy != TWINTONE_FILING_EXACT && nStrategy != TWINTONE_FILING_FAST) return -1;
  return twintone::ChangeIdleSettings([&](CDedupeMusic::ExtSettings& settings) {
    settings.nFiling = nStrategy;
    return 0;
  });
}

TWINTONE_EXPORT int twintone_exact_filing_limit(void) {
  return twintone::ExactFilingLimit(twintone::ActiveMatchKernel(),
                                    std::thread::hardware_concurrency());
}

}  // extern "C"
