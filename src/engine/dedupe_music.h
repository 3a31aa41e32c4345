// The engine: the one CDedupeMusic of the process, its tables, locks and flags.
#ifndef TWINTONE_ENGINE_DEDUPE_MUSIC_H
#define TWINTONE_ENGINE_DEDUPE_MUSIC_H

#include <pthread.h>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analysis/records.h"
#include "grouping/duplicate_filing.h"
#include "grouping/record_key.h"
#include "twintone.h"
#include "twintone_ext.h"

struct tagCChromaPrintInfo;

namespace twintone {
class FingerprintPrefetch;
using ResultGroup = std::vector<tagInMusicDedupInfo*>;
}  // namespace twintone

// The engine. Its public fields are the ones hosts know, in their order; what the
// library added beyond them is private.
//
// Lock order: hDataLock before hStateLock before a pool's own mutex; nothing takes
// hDataLock while holding hStateLock.
class CDedupeMusic {
 public:
  bool bPause = false;  // guarded by hStateLock; read by the worker before each file
  bool bQuit = false;   // guarded by hStateLock; read by the worker before each file
  pthread_mutex_t hDataLock;   // guards the three tables and their records; held
                               // by the worker for a whole run
  pthread_mutex_t hStateLock;  // guards bPause, bQuit, and the run's bookkeeping
  std::map<std::string, InerMusicDedupInfo*> mapLoaded;  // load table; owns records
  std::vector<twintone::ResultGroup*> vecGroups;  // result groups; owns vectors and records
  twintone::GroupMap mapGroups;  // group map; owns the lists, not the records
  DedupeNotifyProc pfnNotify = nullptr;
  void* pUser = nullptr;
  int32_t nMatchFlags = 0;
  int32_t nFingerSeconds = 0;
  float fThreshold = 0.8f;

  // What the extension header's setters chose. Read and written under hDataLock:
  // the setters write under a non-blocking try of it; a run reads them while it
  // holds it.
  struct ExtSettings {
    int nTagTextMode = TWINTONE_TAGTEXT_LEGACY;
    std::string strLegacyEncoding = "gbk";
    int nFiling = TWINTONE_FILING_EXACT;
    int nKeyCompare = TWINTONE_KEY_EXACT;
    bool bQuality = false;  // measure the grouped files after filing
    int nNearFloor = 0;     // percent: note near misses above it; 0 off
  };
  const ExtSettings& Settings() const { return ext_; }
  void SetSettings(const ExtSettings& settings) { ext_ = settings; }

  CDedupeMusic();
  CDedupeMusic(const CDedupeMusic&) = delete;
  CDedupeMusic& operator=(const CDedupeMusic&) = delete;

  // Lifecycle (dedupe_music.cpp).
  int SetConfig(DedupeNotifyProc pfn, void* pUserArg, int nFlags, int nSeconds, int nPercent);
  // Starts the worker; with bJoin waits for it. 0, or -1 when the thread cannot be
  // created or a run is already active.
  int StartThread(int bJoin);
  // The two halves of StartThread, for a caller that configures in between:
  // ReserveRun marks a run active (false when one already is); LaunchReserved
  // starts the worker for a reserved run and gives the reservation back if it
  // cannot.
  bool ReserveRun();
  int LaunchReserved(int bJoin);
  // True from a reservation until the worker has let go of hDataLock. Takes
  // hStateLock.
  bool RunActive();
  static void* PthreadRunDedupe(void* p);
  int PauseDedupeThread();
  int ContinueDedupeThread();
  int QuitDedupeThread();
  // Frees every record, list and group. 0, or -1 when hDataLock is busy.
  int DedupeDealloc();
  // Set the stop request, wait for hDataLock, then count.
  int GetLoadCounts();
  int GetGroupCounts();

  // Intake (intake.cpp); the host's thread, a non-blocking try of hDataLock.
  int AddToDedupeLists(const char* pszPath, int nUserData);
  int AddToDedupeListsByInfo(const tagInMusicDedupInfo* pInfo);

  // The run (worker.cpp); the worker thread.
  void Run();

  // Result groups (result_groups.cpp).
  void BuildResultGroups();  // worker thread, under hDataLock
  int GetGroupRef(unsigned int nGroup, tagInMusicDedupInfo** ppInfo, int* pnCount, int nIndex);

  // A run's two steps for one record, with this engine's settings (run_steps.cpp);
  // worker thread, under hDataLock.
  twintone::KeyOutcome KeyRecord(InerMusicDedupInfo* pRecord);
  twintone::KeyOutcome DeepKeyRecord(InerMusicDedupInfo* pRecord, int nSeconds);
  twintone::FilingOutcome FileRecord(InerMusicDedupInfo* pRecord);
  twintone::KeyRules KeyRulesOfRun() const;
  twintone::FilingRules FilingRulesOfRun() const;

  // The exported steps, forwarding to the three above (compat_members.cpp).
  TWINTONE_EXPORT int GetGroupKey(InerMusicDedupInfo* pRecord);
  TWINTONE_EXPORT int GetDeepKey(InerMusicDedupInfo* pRecord, int nSeconds);
  TWINTONE_EXPORT void AddToReaptList(InerMusicDedupInfo* pRecord);
  TWINTONE_EXPORT int GetMusicFinger(InerMusicDedupInfo* pRecord, tagCChromaPrintInfo* pInfo,
                                     int nSeconds);

  // Per-file outcomes (outcomes.cpp); under hDataLock. The worker resets them at run
  // start, notes each record's key failure or filing, then the result groups built
  // from nFirstGroup on.
  void ResetOutcomes();
  void NoteKeyFailure(InerMusicDedupInfo* pRecord, twintone::KeyOutcome outcome);
  void NoteFiling(InerMusicDedupInfo* pRecord, twintone::FilingOutcome outcome);
  void NoteResultGroups(size_t nFirstGroup);
  // Fills *pInfo for the nIndex-th record in load-table order: 0, or -2 out of range.
  int FileInfoAt(int nIndex, twintone_file_info* pInfo);

  // Quality measures (quality_use.cpp). The worker, under hDataLock, after the result
  // groups from nFirstGroup on are noted: measures every record in them on a pool of
  // its own, from the store where it can; a stop request ends it.
  void MeasureGroupedQuality(size_t nFirstGroup);
  // Under hDataLock: fills *pQuality for the nIndex-th record in load-table order, or
  // for the record stored under pszPath. 0, or -2 out of range or not loaded.
  int QualityAt(int nIndex, twintone_quality* pQuality);
  int QualityOf(const char* pszPath, twintone_quality* pQuality);

  // For benchmarks, outside runs: how filing scores a fingerprint against a group's
  // key (the reference scorer is their baseline), and the threads that spread the
  // search (null: none). A run sets the scan to its prefetch pool's for its length.
  void UseFilingScorer(twintone::ThresholdScorer pfn) { pfnFileScorer_ = pfn; }
  void UseGroupScan(twintone::ParallelGroupScan* pScan) { pGroupScan_ = pScan; }
  size_t FilingIndexBytes() const { return filingIndex_.MemoryBytes(); }

  // Called once as the process exits (or the library is unloaded), on whatever
  // thread runs exit: refuses further starts, sets the stop request, cancels the
  // decodes computed ahead and waits for every worker thread but the calling one to
  // end, so that none is inside TagLib, Chromaprint or the decoder when their static
  // objects are destroyed. Gives up after kExitWaitSeconds: a host callback that never
  // returns must not hang the exit.
  void StopForExit();
  static constexpr int kExitWaitSeconds = 10;

 private:
  // Sets bQuit under hStateLock.
  void RequestStop();
  // Under hDataLock: the nIndex-th record in load-table order, or null out of range.
  const InerMusicDedupInfo* RecordAt(int nIndex);
  // Under hDataLock: fills *pQuality from pRecord, with the silences it adds to its
  // result group's least.
  void FillQuality(const InerMusicDedupInfo& record, twintone_quality* pQuality) const;
  // Worker thread, before a run with a callback takes hDataLock: waits until the
  // previous run's end event has returned.
  void WaitForEndEvent();
  // Worker thread, last: the end event has returned and the thread ends.
  void WorkerEnded();
  // Worker thread: sets pPrefetch_ under hStateLock, so that StopForExit can cancel
  // the run's decodes.
  void PublishPrefetch(twintone::FingerprintPrefetch* pAhead);

  pthread_cond_t hStateChanged_;  // with hStateLock: signalled when an end event has
                                  // returned and when a worker thread ends
  bool bRunning_ = false;  // guarded by hStateLock; a worker exists and holds or
                           // waits for hDataLock
  // Guarded by hStateLock. Worker threads started and not yet past their end event;
  // the exit handler waits for them, as nobody joins an asynchronous worker.
  int nLiveWorkers_ = 0;
  // Guarded by hStateLock. The last run's end event is being sent. A run with a
  // callback that starts meanwhile sends nothing before it has returned, so the
  // host's callback is never entered twice at once.
  bool bEnding_ = false;
  // Guarded by hStateLock. Set once the process exits or the library is unloaded:
  // starts are refused from then on.
  bool bClosing_ = false;
  ExtSettings ext_;  // under hDataLock
  // mapLoaded's records in its order, for FileInfoAt; guarded by hDataLock, rebuilt
  // when its size differs from the table's, cleared by DedupeDealloc.
  std::vector<InerMusicDedupInfo*> vecFileOrder_;
  // Set by the worker for the length of a run; DeepKeyRecord takes fingerprints, and
  // KeyRecord in text mode tags, computed ahead from it. Null otherwise. Written by
  // the worker under hStateLock (StopForExit reads it there); the worker reads it
  // without.
  twintone::FingerprintPrefetch* pPrefetch_ = nullptr;
  twintone::ParallelGroupScan* pGroupScan_ = nullptr;  // under hDataLock
  twintone::ThresholdScorer pfnFileScorer_ = twintone::MatchAboveThreshold;
  twintone::FilingIndexCache filingIndex_;  // fast filing's; under hDataLock
};

// The engine, created by the first creating entry point; never destroyed.
extern CDedupeMusic* g_pCDeDup;

namespace twintone {

// The short English text of a TWINTONE_SKIP_* reason; "" for none. Static.
const char* SkipReasonText(int32_t nReason);

// Fills *pQuality (all but nStructSize) from m, with nMoreFlags added to its flags
// and the group-relative silences unknown.
void FillQualityFields(const QualityMeasures& m, uint32_t nMoreFlags, twintone_quality* pQuality);

// True on the worker thread while it holds hDataLock. The reading operations
// refuse with -1 there instead of waiting for a lock their own thread holds.
extern thread_local bool t_bWorkerHoldsData;

// Scoped hold of a pthread mutex.
class MutexHold {
 public:
  explicit MutexHold(pthread_mutex_t* pMutex) : pMutex_(pMutex) { pthread_mutex_lock(pMutex_); }
  ~MutexHold() { pthread_mutex_unlock(pMutex_); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  pthread_mutex_t* pMutex_;
};

}  // namespace twintone

#endif  // TWINTONE_ENGINE_DEDUPE_MUSIC_H
