// Extension entry point that chooses the fingerprint filing strategy. Thin: check,
// forward, return; no exception leaves.
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_set_filing(int) { return -1; }

}  // extern "C"
