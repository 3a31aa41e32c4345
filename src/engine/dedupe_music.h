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

#include "analysis/tag_reader.h"
#include "engine/records.h"
#include "grouping/acoustid_compare.h"
#include "grouping/filing_index.h"
#include "twintone.h"
#include "twintone_ext.h"

struct tagCChromaPrintInfo;
class FingerprintPrefetch;
class ParallelGroupScan;

using RecordList = std::list<InerMusicDedupInfo*>;
using GroupMap = std::map<GroupKey, RecordList*>;
using ResultGroup = std::vector<tagInMusicDedupInfo*>;

// Lock order: hDataLock before hStateLock before a pool's own mutex; nothing takes
// hDataLock while holding hStateLock.
class CDedupeMusic {
 public:
  bool bPause = false;  // guarded by hStateLock; read by the worker before each file
  bool bQuit = false;   // guarded by hStateLock; read by the worker before each file
  pthread_mutex_t hDataLock;   // guards the three tables and their records; held
                               // by the worker for a whole run
  pthread_mutex_t hStateLock;  // guards bPause, bQuit, bRunning and the worker
                               // bookkeeping below
  pthread_cond_t hStateChanged;  // with hStateLock: signalled when an end event has
                                 // returned and when a worker thread ends
  std::map<std::string, InerMusicDedupInfo*> mapLoaded;  // load table; owns records
  std::vector<ResultGroup*> vecGroups;  // result groups; owns vectors and records
  GroupMap mapGroups;                   // group map; owns the lists, not the records
  DedupeNotifyProc pfnNotify = nullptr;
  void* pUser = nullptr;
  int32_t nMatchFlags = 0;
  int32_t nFingerSeconds = 0;
  float fThreshold = 0.8f;
  bool bRunning = false;  // guarded by hStateLock; a worker exists and holds or
                          // waits for hDataLock
  // Guarded by hStateLock. Worker threads started and not yet past their end event;
  // the exit handler waits for them, as nobody joins an asynchronous worker.
  int nLiveWorkers = 0;
  // Guarded by hStateLock. The last run's end event is being sent. A run with a
  // callback that starts meanwhile sends nothing before it has returned, so the
  // host's callback is never entered twice at once.
  bool bEnding = false;
  // Guarded by hStateLock. Set once the process exits or the library is unloaded:
  // starts are refused from then on.
  bool bClosing = false;

  // What the extension header's setters chose. Guarded by hDataLock: the setters
  // write under a non-blocking try of it; a run reads them while it holds it.
  struct ExtSettings {
    int nTagTextMode = TWINTONE_TAGTEXT_LEGACY;
    std::string strLegacyEncoding = "gbk";
    int nFiling = TWINTONE_FILING_EXACT;
    int nKeyCompare = TWINTONE_KEY_EXACT;
  };
  ExtSettings ext;
  // How the tags of this run are read, from ext; under hDataLock.
  twintone::TagTextOptions TagTextSettings() const {
    return {ext.nTagTextMode, ext.strLegacyEncoding};
  }

  CDedupeMusic();
  CDedupeMusic(const CDedupeMusic&) = delete;
  CDedupeMusic& operator=(const CDedupeMusic&) = delete;

  // Lifecycle (engine.cpp).
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

  // Keys (grouping/group_key.cpp); worker thread, under hDataLock.
  TWINTONE_EXPORT int GetGroupKey(InerMusicDedupInfo* pRecord);
  TWINTONE_EXPORT int GetDeepKey(InerMusicDedupInfo* pRecord, int nSeconds);
  // Filing (grouping/duplicate_groups.cpp); worker thread, under hDataLock.
  // FileRecord files a keyed record and says what became of it; the exported
  // AddToReaptList forwards to it.
  enum class FilingResult {
    kFiled,         // joined a group or started one
    kTooShort,      // fingerprint mode: too few words to compare
    kKeyCollision,  // fingerprint mode: an equal map key holds another group
  };
  FilingResult FileRecord(InerMusicDedupInfo* pRecord);
  TWINTONE_EXPORT void AddToReaptList(InerMusicDedupInfo* pRecord);
  // Fingerprint extraction (analysis/fingerprint.cpp); touches no engine state.
  TWINTONE_EXPORT int GetMusicFinger(InerMusicDedupInfo* pRecord, tagCChromaPrintInfo* pInfo,
                                     int nSeconds);

  // Per-file outcomes (outcomes.cpp); under hDataLock. The worker resets them at run
  // start, notes each record's key failure or filing, then the result groups built
  // from nFirstGroup on.
  void ResetOutcomes();
  void NoteKeyFailure(InerMusicDedupInfo* pRecord, int nKeyResult);
  void NoteFiling(InerMusicDedupInfo* pRecord, FilingResult result);
  void NoteResultGroups(size_t nFirstGroup);
  // Fills *pInfo for the nIndex-th record in load-table order: 0, or -2 out of range.
  int FileInfoAt(int nIndex, twintone_file_info* pInfo);
  // mapLoaded's records in its order, for FileInfoAt; guarded by hDataLock, rebuilt
  // when its size differs from the table's, cleared by DedupeDealloc.
  std::vector<InerMusicDedupInfo*> vecFileOrder;

  // Set by the worker for the length of a fingerprint run; GetDeepKey takes
  // fingerprints computed ahead from it. Null otherwise. Written by the worker under
  // hStateLock (StopForExit reads it there); the worker reads it without.
  FingerprintPrefetch* pPrefetch = nullptr;
  // Set by the worker for the length of a fingerprint run (and by benchmarks):
  // AddToReaptList spreads its search for a record's group over these threads.
  ParallelGroupScan* pGroupScan = nullptr;
  // How AddToReaptList scores a fingerprint against a group's key; benchmarks swap
  // in the reference scorer as their baseline.
  ThresholdScorer pfnFileScorer = MatchAboveThreshold;
  // Fast filing (ext.nFiling): the index over the group keys, and the group of each
  // index id. Made on first use, kept in step with mapGroups while fast filing runs
  // (and rebuilt when it is not), dropped by DedupeDealloc. Guarded by hDataLock.
  std::unique_ptr<FilingIndex> pFilingIndex;
  std::vector<GroupMap::iterator> vecIndexedGroups;

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
  // Worker thread, before a run with a callback takes hDataLock: waits until the
  // previous run's end event has returned.
  void WaitForEndEvent();
  // Worker thread, last: the end event has returned and the thread ends.
  void WorkerEnded();
  // Worker thread: sets pPrefetch under hStateLock, so that StopForExit can cancel
  // the run's decodes.
  void PublishPrefetch(FingerprintPrefetch* pAhead);
};

// The short English text of a TWINTONE_SKIP_* reason; "" for none. Static.
const char* SkipReasonText(int32_t nReason);

// The engine, created by the first creating entry point; never destroyed.
extern CDedupeMusic* g_pCDeDup;

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

#endif  // TWINTONE_ENGINE_DEDUPE_MUSIC_H
