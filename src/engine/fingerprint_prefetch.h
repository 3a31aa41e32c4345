// Keys computed ahead of the filing loop on a pool of threads, so that the worker
// files record k while records k+1, k+2, ... are being decoded, or in text mode
// while their tags are being read.
#ifndef TWINTONE_ENGINE_FINGERPRINT_PREFETCH_H
#define TWINTONE_ENGINE_FINGERPRINT_PREFETCH_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "grouping/group_scan.h"
#include "grouping/record_key.h"

namespace twintone {

// Owned by the worker for one fingerprint run; created and destroyed on the worker
// thread under hDataLock. The pool threads read only a snapshot of each record
// (path, duration, whether it needs tags or a fingerprint) taken at construction,
// and never touch a record, so records may be freed once this object is gone.
//
// The same threads help the worker's group searches (Scan): a thread between two
// decodes, or with no record left in its window, joins an open search first. So a
// run keeps about one busy thread per core, decoding or comparing, whichever the
// worker waits for.
class FingerprintPrefetch {
 public:
  // vecOrder: the records in the order the worker visits them. Starts nThreads
  // threads that each take the next unclaimed record at most kWindow ahead of the
  // worker, and help searches until this object goes; tags are read as tagText says.
  // Throws std::system_error or
  // std::bad_alloc.
  // pCache (may be null) is asked before each decode. bTagsOnly: text mode, where only
  // the tags of records without a title are read, and nothing is decoded.
  FingerprintPrefetch(const std::vector<InerMusicDedupInfo*>& vecOrder, int nSeconds,
                      unsigned nThreads, const TagTextOptions& tagText = TagTextOptions(),
                      FingerprintCache* pCache = nullptr, bool bTagsOnly = false);
  // Cancels decodes in flight (they stop at their next buffer) and joins the pool.
  ~FingerprintPrefetch();
  FingerprintPrefetch(const FingerprintPrefetch&) = delete;
  FingerprintPrefetch& operator=(const FingerprintPrefetch&) = delete;

  // Worker thread. When the record's key was (or is being) computed ahead, waits
  // for it, applies it to the record, stores the outcome in *pOutcome and returns
  // true. Otherwise claims the record so no pool thread starts it, and returns
  // false: the worker then keys it itself.
  bool Take(InerMusicDedupInfo* pRecord, KeyOutcome* pOutcome);
  // Text mode, worker thread: as Take, but gives the record only the tags read ahead
  // (as ReadTagsInto would), and leaves keying to the worker.
  bool TakeTags(InerMusicDedupInfo* pRecord);

  // The group search the pool helps, for the worker's filing during this run.
  ParallelGroupScan* Scan() { return &scan_; }

  // Any thread while this object lives: sets the cancel flag under mutex_ and wakes
  // the pool; decodes in flight stop at their next buffer, and no new one starts.
  void Cancel();
  // Cancel, then joins the pool (as the destructor does; a second call finds nothing
  // to join). For the thread that owns this object.
  void Stop();

  // How many records ahead of the worker the pool may run: a decode's worth, or
  // enough tag reads that the pool seldom waits for the worker.
  static constexpr size_t kWindowPerThread = 2;
  static constexpr size_t kTagWindowPerThread = 32;

 private:
  enum class JobState { kWaiting, kRunning, kDone, kClaimed };
  struct Job {
    DeepKeyJob key;
    JobState state = JobState::kWaiting;
    DeepKeyParts result;
  };

  void PoolLoop();
  // Worker thread: waits until the record's job is done and returns it, or claims it
  // and returns null when no pool thread has started it.
  Job* WaitForJob(const InerMusicDedupInfo* pRecord);

  const int nSeconds_;
  const TagTextOptions tagText_;
  FingerprintCache* const pCache_;
  std::vector<Job> vecJobs_;
  std::unordered_map<const InerMusicDedupInfo*, size_t> mapIndex_;
  size_t nWindow_;
  std::mutex mutex_;  // guards every Job's state and result, nNext_ and nTaken_
  std::condition_variable cvChanged_;
  size_t nNext_ = 0;   // first job no pool thread has looked at
  size_t nTaken_ = 0;  // jobs the worker has taken so far
  std::atomic<bool> bCancel_{false};
  ParallelGroupScan scan_;  // wakes the pool through cvChanged_; outlives the threads
  std::vector<std::thread> vecThreads_;
};

}  // namespace twintone

#endif  // TWINTONE_ENGINE_FINGERPRINT_PREFETCH_H
