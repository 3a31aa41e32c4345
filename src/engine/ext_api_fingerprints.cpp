// Extension entry points that hand fingerprints in and out. Thin: check, forward,
// return; no exception leaves.
#include <cstdlib>
#include <cstring>

#include "engine/ext_api_support.h"
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_get_fingerprint(const char* pszPath, uint32_t* pWords, int nCapacity) {
  if (pszPath == nullptr) return -1;
  return twintone::WithEngineData(-2, [&](CDedupeMusic& e) {
    auto found = e.mapLoaded.find(pszPath);
    if (found == e.mapLoaded.end()) return -2;
    const GroupKey& key = *found->second->pGroupKey;
    int nLength = key.pFinger != nullptr ? key.nFingerLen : 0;
    if (pWords != nullptr && nCapacity > 0 && nLength > 0) {
      size_t nCopy = static_cast<size_t>(nCapacity < nLength ? nCapacity : nLength);
      memcpy(pWords, key.pFinger, nCopy * sizeof(uint32_t));
    }
    return nLength;
  });
}

TWINTONE_EXPORT int twintone_set_fingerprint(const char* pszPath, const uint32_t* pWords,
                                             int nWords, int32_t nDecodedMs) {
  if (pszPath == nullptr || pWords == nullptr || nWords < 1) return -1;
  return twintone::WithIdleEngine([&](CDedupeMusic& e) {
    auto found = e.mapLoaded.find(pszPath);
    if (found == e.mapLoaded.end()) return -2;
    // malloc'ed like the buffers the extraction stores: the key frees it.
    size_t nBytes = static_cast<size_t>(nWords) * sizeof(int32_t);
    auto* pFinger = static_cast<int32_t*>(malloc(nBytes));
    if (pFinger == nullptr) return -1;
    memcpy(pFinger, pWords, nBytes);
    InerMusicDedupInfo& record = *found->second;
    record.pGroupKey->ReplaceFinger(pFinger, nWords);
    record.nDecodedMs = nDecodedMs >= 0 ? nDecodedMs : -1;
    return 0;
  });
}

}  // extern "C"
