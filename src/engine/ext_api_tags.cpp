// Extension entry points for tag text: how single-byte and Unicode tag text becomes
// UTF-8. Thin: check, forward, return; no exception leaves.
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_set_tag_text_mode(int) { return -1; }
TWINTONE_EXPORT int twintone_set_legacy_encoding(const char*) { return -1; }
TWINTONE_EXPORT int twintone_set_key_compare(int) { return -1; }

}  // extern "C"
