// The worker thread's run: key and file every loaded record in path order, report
// progress, honour pause and stop between files, build the result groups.
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

#include "engine/dedupe_music.h"
#include "engine/fingerprint_prefetch.h"
#include "support/log.h"
#include "engine/store_use.h"

using twintone::FingerprintPrefetch;
using twintone::KeyOutcome;
using twintone::MutexHold;
using twintone::t_bWorkerHoldsData;

namespace {

constexpr useconds_t kPausePollMicros = 100000;

// The host's callback, kept from unwinding into the worker.
void Notify(DedupeNotifyProc pfn, void* pData, int nCode, const char* pszText, void* pUser) {
  if (pfn == nullptr) return;
  try {
    pfn(pData, nCode, pszText, pUser);
  } catch (...) {
  }
}

// Keys are computed ahead of the filing loop, one thread per core: fingerprints, or
// in text mode the tags. The worker itself mostly waits for them, and in fingerprint
// mode the same threads help its group searches.
std::unique_ptr<FingerprintPrefetch> StartPrefetch(
    const std::map<std::string, InerMusicDedupInfo*>& mapLoaded, int nSeconds,
    const twintone::TagTextOptions& tagText, bool bTagsOnly) {
  unsigned nCores = std::thread::hardware_concurrency();
  if (mapLoaded.size() < 2) return nullptr;
  std::vector<InerMusicDedupInfo*> vecOrder;
  vecOrder.reserve(mapLoaded.size());
  for (const auto& entry : mapLoaded) vecOrder.push_back(entry.second);
  try {
    return std::make_unique<FingerprintPrefetch>(
        vecOrder, nSeconds, nCores == 0 ? 2 : nCores, tagText,
        bTagsOnly ? nullptr : twintone::EngineCache(), bTagsOnly);
  } catch (...) {
    return nullptr;  // without threads the worker computes each fingerprint itself
  }
}

}  // namespace

void CDedupeMusic::Run() {
  // The configuration was stored before this thread was started, under the run's
  // reservation; nothing changes it until the run ends.
  DedupeNotifyProc pfn = pfnNotify;
  void* pUserArg = pUser;
  // Not while holding hDataLock: the previous end event may read the results.
  if (pfn != nullptr) WaitForEndEvent();
  pthread_mutex_lock(&hDataLock);
  t_bWorkerHoldsData = true;

  ResetOutcomes();
  int nCount = static_cast<int>(mapLoaded.size());
  g_log.lg("获取数目%d", nCount);
  int nStartData = nCount;
  Notify(pfn, &nStartData, -1, "", pUserArg);

  std::unique_ptr<FingerprintPrefetch> pAhead;
  const bool bFingerprint = (nMatchFlags & TWINTONE_MATCH_FINGERPRINT) != 0;
  if (bFingerprint) twintone::BeginStoreRun();
  pAhead = StartPrefetch(mapLoaded, nFingerSeconds, KeyRulesOfRun().tagText, !bFingerprint);
  PublishPrefetch(pAhead.get());
  // Without the pool the worker searches alone.
  if (bFingerprint) pGroupScan_ = pAhead != nullptr ? pAhead->Scan() : nullptr;

  int k = 1;
  for (auto it = mapLoaded.begin(); it != mapLoaded.end();) {
    bool bStop, bHold;
    {
      MutexHold hold(&hStateLock);
      bStop = bQuit;
      bHold = bPause;
    }
    if (bStop) break;
    if (bHold) {
      usleep(kPausePollMicros);
      continue;
    }
    InerMusicDedupInfo* pRecord = it->second;
    try {
      const KeyOutcome keyed = KeyRecord(pRecord);
      if (keyed == KeyOutcome::kKeyed) {
        NoteFiling(pRecord, FileRecord(pRecord));
      } else {
        NoteKeyFailure(pRecord, keyed);
      }
    } catch (...) {
      // Out of memory while keying or filing: the file stays out of the groups.
    }
    Notify(pfn, &pRecord->nUserData, k, pRecord->strPath.c_str(), pUserArg);
    ++k;
    ++it;
  }

  // Keys computed ahead but not filed are abandoned.
  pGroupScan_ = nullptr;
  PublishPrefetch(nullptr);
  pAhead.reset();
  if ((nMatchFlags & TWINTONE_MATCH_FINGERPRINT) != 0) twintone::EndStoreRun();
  const size_t nFirstGroup = vecGroups.size();
  try {
    BuildResultGroups();
  } catch (...) {
    // Out of memory: the groups built so far stay readable.
  }
  try {
    NoteResultGroups(nFirstGroup);
  } catch (...) {
    // Out of memory: members not yet noted read as alone.
  }
  if (ext_.bQuality) {
    try {
      MeasureGroupedQuality(nFirstGroup);
    } catch (...) {
      // Out of memory: the files read as unmeasured.
    }
  }
  t_bWorkerHoldsData = false;
  pthread_mutex_unlock(&hDataLock);
  // The next run may be started from here on, also from inside the end event; one
  // with a callback waits until the end event has returned (WaitForEndEvent).
  {
    MutexHold hold(&hStateLock);
    bRunning_ = false;
    if (pfn != nullptr) bEnding_ = true;
  }
  int nEndData = 0;
  Notify(pfn, &nEndData, nCount + 1, "", pUserArg);
  if (pfn != nullptr) {
    MutexHold hold(&hStateLock);
    bEnding_ = false;
    pthread_cond_broadcast(&hStateChanged_);
  }
}
