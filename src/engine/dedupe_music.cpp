// The engine's lifecycle: configuration, starting the worker, the pause and stop
// requests, counting and clearing.
#include "engine/dedupe_music.h"

#include "engine/log.h"

thread_local bool t_bWorkerHoldsData = false;

CDedupeMusic::CDedupeMusic() {
  pthread_mutex_init(&hDataLock, nullptr);
  pthread_mutex_init(&hStateLock, nullptr);
}

int CDedupeMusic::SetConfig(DedupeNotifyProc pfn, void* pUserArg, int nFlags, int nSeconds,
                            int nPercent) {
  pfnNotify = pfn;
  pUser = pUserArg;
  nMatchFlags = nFlags;
  nFingerSeconds = nSeconds;
  fThreshold = (nPercent >= 1 && nPercent <= 100) ? static_cast<float>(nPercent) / 100 : 0.8f;
  return 0;
}

int CDedupeMusic::StartThread(int bJoin) {
  if (!ReserveRun()) return -1;
  return LaunchReserved(bJoin);
}

bool CDedupeMusic::ReserveRun() {
  MutexHold hold(&hStateLock);
  // One worker at a time: a second one would only wait for the data lock and then
  // file every record a second time. A refused start leaves the run's flags alone.
  if (bRunning) return false;
  bRunning = true;
  return true;
}

int CDedupeMusic::LaunchReserved(int bJoin) {
  g_log.setlog();
  {
    MutexHold hold(&hStateLock);
    bPause = false;
    bQuit = false;
  }
  pthread_t hNew;
  if (pthread_create(&hNew, nullptr, &CDedupeMusic::PthreadRunDedupe, this) != 0) {
    MutexHold hold(&hStateLock);
    bRunning = false;
    return -1;
  }
  hThread = hNew;
  if (bJoin) {
    pthread_join(hNew, nullptr);
  } else {
    // Nobody joins an asynchronous worker; it releases its resources as it ends.
    pthread_detach(hNew);
  }
  return 0;
}

void* CDedupeMusic::PthreadRunDedupe(void* p) {
  if (p != nullptr) static_cast<CDedupeMusic*>(p)->Run();
  return nullptr;
}

int CDedupeMusic::PauseDedupeThread() {
  MutexHold hold(&hStateLock);
  bPause = true;
  return 0;
}

int CDedupeMusic::ContinueDedupeThread() {
  MutexHold hold(&hStateLock);
  bPause = false;
  return 0;
}

int CDedupeMusic::QuitDedupeThread() {
  RequestStop();
  return 0;
}

void CDedupeMusic::RequestStop() {
  MutexHold hold(&hStateLock);
  bQuit = true;
}

int CDedupeMusic::DedupeDealloc() {
  if (pthread_mutex_trylock(&hDataLock) != 0) return -1;
  for (ResultGroup* pGroup : vecGroups) {
    for (tagInMusicDedupInfo* pInfo : *pGroup) delete pInfo;
    delete pGroup;
  }
  vecGroups.clear();
  vecFileOrder.clear();
  for (auto& entry : mapLoaded) delete entry.second;
  mapLoaded.clear();
  for (auto& entry : mapGroups) delete entry.second;
  mapGroups.clear();
  pthread_mutex_unlock(&hDataLock);
  return 0;
}

int CDedupeMusic::GetLoadCounts() {
  if (t_bWorkerHoldsData) return -1;  // called from a start or progress event
  RequestStop();
  MutexHold hold(&hDataLock);
  return static_cast<int>(mapLoaded.size());
}

int CDedupeMusic::GetGroupCounts() {
  if (t_bWorkerHoldsData) return -1;
  RequestStop();
  MutexHold hold(&hDataLock);
  return static_cast<int>(vecGroups.size());
}
