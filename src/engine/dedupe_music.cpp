// The engine's lifecycle: configuration, starting the worker, the pause and stop
// requests, counting and clearing.
#include "engine/dedupe_music.h"

#include <errno.h>
#include <time.h>

#include "engine/fingerprint_prefetch.h"
#include "support/log.h"

namespace twintone {
thread_local bool t_bWorkerHoldsData = false;
}  // namespace twintone

using twintone::FingerprintPrefetch;
using twintone::MutexHold;
using twintone::ResultGroup;
using twintone::t_bWorkerHoldsData;

namespace {

// True on a worker thread for its whole life.
thread_local bool t_bOnWorker = false;

}  // namespace

CDedupeMusic::CDedupeMusic() {
  pthread_mutex_init(&hDataLock, nullptr);
  pthread_mutex_init(&hStateLock, nullptr);
  pthread_cond_init(&hStateChanged_, nullptr);
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

bool CDedupeMusic::RunActive() {
  MutexHold hold(&hStateLock);
  return bRunning_;
}

bool CDedupeMusic::ReserveRun() {
  MutexHold hold(&hStateLock);
  // One worker at a time: a second one would only wait for the data lock and then
  // file every record a second time. A refused start leaves the run's flags alone.
  if (bRunning_ || bClosing_) return false;
  bRunning_ = true;
  return true;
}

int CDedupeMusic::LaunchReserved(int bJoin) {
  g_log.setlog();
  {
    MutexHold hold(&hStateLock);
    bPause = false;
    bQuit = false;
  }
  {
    MutexHold hold(&hStateLock);
    ++nLiveWorkers_;
  }
  pthread_t hNew;
  if (pthread_create(&hNew, nullptr, &CDedupeMusic::PthreadRunDedupe, this) != 0) {
    MutexHold hold(&hStateLock);
    bRunning_ = false;
    --nLiveWorkers_;
    pthread_cond_broadcast(&hStateChanged_);
    return -1;
  }
  if (bJoin) {
    pthread_join(hNew, nullptr);
  } else {
    // Nobody joins an asynchronous worker; it releases its resources as it ends.
    pthread_detach(hNew);
  }
  return 0;
}

void* CDedupeMusic::PthreadRunDedupe(void* p) {
  t_bOnWorker = true;
  if (p != nullptr) {
    auto* pEngine = static_cast<CDedupeMusic*>(p);
    pEngine->Run();
    pEngine->WorkerEnded();
  }
  return nullptr;
}

void CDedupeMusic::WaitForEndEvent() {
  MutexHold hold(&hStateLock);
  while (bEnding_ && !bClosing_) pthread_cond_wait(&hStateChanged_, &hStateLock);
}

void CDedupeMusic::WorkerEnded() {
  MutexHold hold(&hStateLock);
  --nLiveWorkers_;
  pthread_cond_broadcast(&hStateChanged_);
}

void CDedupeMusic::PublishPrefetch(FingerprintPrefetch* pAhead) {
  MutexHold hold(&hStateLock);
  pPrefetch_ = pAhead;
}

void CDedupeMusic::StopForExit() {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += kExitWaitSeconds;
  MutexHold hold(&hStateLock);
  bClosing_ = true;
  bQuit = true;
  pthread_cond_broadcast(&hStateChanged_);  // a run waiting for an end event goes on
  if (pPrefetch_ != nullptr) {
    // On the worker (exit called from inside an event) the pool is joined here, as
    // the worker never gets back to join it; elsewhere the worker joins it as it ends.
    if (t_bOnWorker) {
      pPrefetch_->Stop();
    } else {
      pPrefetch_->Cancel();
    }
  }
  const int nOwn = t_bOnWorker ? 1 : 0;
  while (nLiveWorkers_ > nOwn) {
    if (pthread_cond_timedwait(&hStateChanged_, &hStateLock, &deadline) == ETIMEDOUT) break;
  }
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
  vecFileOrder_.clear();
  for (auto& entry : mapLoaded) delete entry.second;
  mapLoaded.clear();
  twintone::ReleaseGroups(&mapGroups);
  filingIndex_.Drop();
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
