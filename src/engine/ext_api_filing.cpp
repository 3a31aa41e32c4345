// Extension entry point that chooses the fingerprint filing strategy. Thin: check,
// forward, return; no exception leaves.
#include <new>

#include "engine/dedupe_music.h"
#include "twintone_ext.h"

extern "C" {

TWINTONE_EXPORT int twintone_set_filing(int nStrategy) {
  if (nStrategy != TWINTONE_FILING_EXACT && nStrategy != TWINTONE_FILING_FAST) return -1;
  if (g_pCDeDup == nullptr) g_pCDeDup = new (std::nothrow) CDedupeMusic();
  CDedupeMusic* pEngine = g_pCDeDup;
  if (pEngine == nullptr) return -1;
  // A run holds hDataLock from its start to its end; a reserved run that has not
  // taken it yet shows in bRunning.
  if (pthread_mutex_trylock(&pEngine->hDataLock) != 0) return -1;
  bool bRunning;
  {
    MutexHold state(&pEngine->hStateLock);
    bRunning = pEngine->bRunning;
  }
  if (!bRunning) pEngine->ext.nFiling = nStrategy;
  pthread_mutex_unlock(&pEngine->hDataLock);
  return bRunning ? -1 : 0;
}

}  // extern "C"
