// The exported entry points: each checks, forwards to the engine and returns its
// int. No exception leaves this file; a failure to allocate becomes -1.
#include <cstdlib>
#include <new>

#include "engine/dedupe_music.h"
#include "twintone.h"

CDedupeMusic* g_pCDeDup = nullptr;

namespace {

void StopEngineAtExit() { g_pCDeDup->StopForExit(); }

// Creates the engine on first need. Unguarded: the host makes its first call from
// one thread. Returns null when it cannot be allocated.
//
// A host may return from main, or call exit, while a run is active. exit runs its
// handlers and the destructors of static objects in the reverse order of their
// registration, so StopEngineAtExit, registered here, runs before the destructors
// of TagLib's, Chromaprint's and this library's static objects, which were
// registered as the libraries were loaded, before any engine could exist: the
// workers have stopped before anything they use is destroyed. (An atexit handler of
// a shared library also runs when the library is unloaded.)
CDedupeMusic* CreatedEngine() {
  if (g_pCDeDup == nullptr) {
    g_pCDeDup = new (std::nothrow) CDedupeMusic();
    if (g_pCDeDup != nullptr) atexit(StopEngineAtExit);
  }
  return g_pCDeDup;
}

// Runs op on the engine, -1 without one or when op throws.
template <typename Op>
int WithEngine(CDedupeMusic* pEngine, Op op) {
  if (pEngine == nullptr) return -1;
  try {
    return op(*pEngine);
  } catch (...) {
    return -1;
  }
}

}  // namespace

extern "C" {

TWINTONE_EXPORT int StartDedupeThread(DedupeNotifyProc pfn, void* pUser, int nMatchFlags,
                                      int nFingerSeconds, int nPercent) {
  return WithEngine(CreatedEngine(), [&](CDedupeMusic& e) {
    // An active run reads the configuration until its end: the run is reserved
    // first, so a refused start leaves it alone.
    if (!e.ReserveRun()) return -1;
    e.SetConfig(pfn, pUser, nMatchFlags, nFingerSeconds, nPercent);
    return e.LaunchReserved(pfn == nullptr ? 1 : 0);
  });
}

TWINTONE_EXPORT int PauseDedupeThread(void) {
  return WithEngine(g_pCDeDup, [](CDedupeMusic& e) { return e.PauseDedupeThread(); });
}

TWINTONE_EXPORT int ContinueDedupeThread(void) {
  return WithEngine(g_pCDeDup, [](CDedupeMusic& e) { return e.ContinueDedupeThread(); });
}

TWINTONE_EXPORT int DedupeDealloc(void) {
  return WithEngine(g_pCDeDup, [](CDedupeMusic& e) {
    e.QuitDedupeThread();
    return e.DedupeDealloc();
  });
}

TWINTONE_EXPORT int GetLoadCounts(void) {
  return WithEngine(g_pCDeDup, [](CDedupeMusic& e) { return e.GetLoadCounts(); });
}

TWINTONE_EXPORT int GetGroupIdCounts(void) {
  return WithEngine(g_pCDeDup, [](CDedupeMusic& e) { return e.GetGroupCounts(); });
}

TWINTONE_EXPORT int GetGroupRef(unsigned int nGroup, tagInMusicDedupInfo** ppInfo, int* pnCount,
                                int nIndex) {
  return WithEngine(g_pCDeDup, [&](CDedupeMusic& e) {
    return e.GetGroupRef(nGroup, ppInfo, pnCount, nIndex);
  });
}

TWINTONE_EXPORT int AddToDedupeLists(const char* pszPath, int nUserData) {
  return WithEngine(CreatedEngine(),
                    [&](CDedupeMusic& e) { return e.AddToDedupeLists(pszPath, nUserData); });
}

TWINTONE_EXPORT int AddToDedupeListsByInfo(const tagInMusicDedupInfo* pInfo) {
  return WithEngine(CreatedEngine(),
                    [&](CDedupeMusic& e) { return e.AddToDedupeListsByInfo(pInfo); });
}

}  // extern "C"

TWINTONE_EXPORT int QuitDedupeThread() {
  return WithEngine(g_pCDeDup, [](CDedupeMusic& e) { return e.QuitDedupeThread(); });
}
