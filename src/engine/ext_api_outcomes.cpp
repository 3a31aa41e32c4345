// Extension entry points that tell what became of each loaded file. Thin: check,
// forward, return; no exception leaves.
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_file_count(void) { return -1; }
TWINTONE_EXPORT int twintone_file_info_at(int, twintone_file_info*) { return -1; }

}  // extern "C"
