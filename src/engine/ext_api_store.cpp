// Extension entry points of the persistent fingerprint store. Thin: check, forward,
// return; no exception leaves.
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_open_store(const char*) { return -1; }
TWINTONE_EXPORT int twintone_close_store(void) { return 0; }
TWINTONE_EXPORT int twintone_prune_store(void) { return -2; }
TWINTONE_EXPORT int twintone_store_stats(int*, int*) { return -1; }
TWINTONE_EXPORT const char* twintone_store_message(void) { return ""; }

}  // extern "C"
