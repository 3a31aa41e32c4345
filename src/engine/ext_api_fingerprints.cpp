// Extension entry points that hand fingerprints in and out. Thin: check, forward,
// return; no exception leaves.
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_get_fingerprint(const char*, uint32_t*, int) { return -1; }
TWINTONE_EXPORT int twintone_set_fingerprint(const char*, const uint32_t*, int, int32_t) {
  return -1;
}

}  // extern "C"
