// Extension entry points of the persistent fingerprint store. Thin: check, forward,
// return; no exception leaves.
#include <pthread.h>

#include <new>
#include <string>

#include "engine/dedupe_music.h"
#include "engine/store_use.h"
#include "twintone_ext.h"

using twintone::t_bWorkerHoldsData;
using twintone::MutexHold;

namespace {

// Runs op with hDataLock held, creating the engine if needed. -1 when there is no
// engine, a run holds the lock, or op throws.
template <typename Op>
int WithIdleEngine(Op op) {
  if (g_pCDeDup == nullptr) g_pCDeDup = new (std::nothrow) CDedupeMusic();
  if (g_pCDeDup == nullptr || t_bWorkerHoldsData) return -1;
  if (pthread_mutex_trylock(&g_pCDeDup->hDataLock) != 0) return -1;
  int nResult = -1;
  try {
    nResult = op();
  } catch (...) {
    nResult = -1;
  }
  pthread_mutex_unlock(&g_pCDeDup->hDataLock);
  return nResult;
}

// The text twintone_store_message hands out; the host's thread.
std::string g_strMessage;

}  // namespace

extern "C" {

TWINTONE_EXPORT int twintone_open_store(const char* pszPath) {
  if (pszPath == nullptr || *pszPath == '\0') return -1;
  return WithIdleEngine([pszPath] { return twintone::OpenEngineStore(pszPath); });
}

TWINTONE_EXPORT int twintone_close_store(void) {
  return WithIdleEngine([] {
    twintone::CloseEngineStore();
    return 0;
  });
}

TWINTONE_EXPORT int twintone_prune_store(void) {
  return WithIdleEngine([] { return twintone::PruneEngineStore(); });
}

// A reader: waits for a run to end rather than refusing.
TWINTONE_EXPORT int twintone_store_stats(int* pnReused, int* pnWritten) {
  if (pnReused == nullptr || pnWritten == nullptr || t_bWorkerHoldsData) return -1;
  if (g_pCDeDup == nullptr) {
    *pnReused = *pnWritten = 0;
    return 0;
  }
  MutexHold hold(&g_pCDeDup->hDataLock);
  twintone::EngineStoreCounts(pnReused, pnWritten);
  return 0;
}

TWINTONE_EXPORT const char* twintone_store_message(void) {
  try {
    g_strMessage = twintone::EngineStoreMessage();
  } catch (...) {
    return "";
  }
  return g_strMessage.c_str();
}

}  // extern "C"
