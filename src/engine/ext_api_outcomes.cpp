// Extension entry points that tell what became of each loaded file. Thin: check,
// forward, return; no exception leaves.
#include "engine/ext_api_support.h"
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_file_count(void) {
  return twintone::WithEngineData(
      0, [](CDedupeMusic& e) { return static_cast<int>(e.mapLoaded.size()); });
}

TWINTONE_EXPORT int twintone_file_info_at(int nIndex, twintone_file_info* pInfo) {
  if (pInfo == nullptr || pInfo->nStructSize < sizeof(twintone_file_info)) return -1;
  return twintone::WithEngineData(-2,
                                  [&](CDedupeMusic& e) { return e.FileInfoAt(nIndex, pInfo); });
}

}  // extern "C"
