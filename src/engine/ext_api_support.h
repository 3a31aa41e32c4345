// What the extension entry points share: reaching the engine, the two ways they take
// its data lock, and the guard that keeps exceptions inside the library.
#ifndef TWINTONE_ENGINE_EXT_API_SUPPORT_H
#define TWINTONE_ENGINE_EXT_API_SUPPORT_H

#include <pthread.h>

#include <new>

#include "engine/dedupe_music.h"

namespace twintone {

// The engine, created on first need as twintone.h's creating entry points do; null
// when it cannot be allocated.
inline CDedupeMusic* ExtCreatedEngine() {
  if (g_pCDeDup == nullptr) g_pCDeDup = new (std::nothrow) CDedupeMusic();
  return g_pCDeDup;
}

// For setters: runs op(engine) with hDataLock held, but only when it is free and no
// run is starting or active; else -1 at once. The engine is created if needed. -1
// also when op throws.
template <typename Op>
int WithIdleEngine(Op op) {
  CDedupeMusic* pEngine = ExtCreatedEngine();
  if (pEngine == nullptr) return -1;
  if (pthread_mutex_trylock(&pEngine->hDataLock) != 0) return -1;
  int nResult = -1;
  try {
    // A run holds hDataLock from its start to its end; a reserved run that has not
    // taken it yet is still active.
    if (!pEngine->RunActive()) nResult = op(*pEngine);
  } catch (...) {
    nResult = -1;
  }
  pthread_mutex_unlock(&pEngine->hDataLock);
  return nResult;
}

// For the setters of one run setting: change(settings) on a copy of the engine's
// settings, stored back when it returns 0; -1 as WithIdleEngine refuses.
template <typename Change>
int ChangeIdleSettings(Change change) {
  return WithIdleEngine([&](CDedupeMusic& engine) {
    CDedupeMusic::ExtSettings settings = engine.Settings();
    const int nResult = change(settings);
    if (nResult == 0) engine.SetSettings(settings);
    return nResult;
  });
}

// For readers: runs op(engine) with hDataLock held, waiting for an active run to end
// without asking it to stop. -1 at once from inside the start or progress events
// (the calling thread holds the lock), and when op throws; nNoEngine when there is no
// engine yet.
template <typename Op>
int WithEngineData(int nNoEngine, Op op) {
  CDedupeMusic* pEngine = g_pCDeDup;
  if (pEngine == nullptr) return nNoEngine;
  if (t_bWorkerHoldsData) return -1;
  MutexHold hold(&pEngine->hDataLock);
  try {
    return op(*pEngine);
  } catch (...) {
    return -1;
  }
}

}  // namespace twintone

#endif  // TWINTONE_ENGINE_EXT_API_SUPPORT_H
