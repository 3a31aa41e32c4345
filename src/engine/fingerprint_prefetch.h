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
#include <vector>

#include "grouping/group_scan.h"
#include "grouping/record_key.h"

namespace twintone {

// Owned by the worker for one run; created and destroyed on the worker thread under
// hDataLock. A pool thread takes a snapshot of a record (path, duration, whether it
// needs tags or a fingerprint) under mutex_ when it starts the record's job, before
// the worker has reached that record, and then works on the snapshot alone; the
// records must live as long as this object. Only the jobs of the window ahead of the
// worker are held, so the memory does not grow with the number of records.
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
  // Throws std::system_error or std::bad_alloc.
  // pCache (may be null) is asked before each decode. bTagsOnly: text mode, where only
  // the tags of records without a title are read, and nothing is decoded.
  FingerprintPrefetch(const std::vector<InerMusicDedupInfo*>& vecOrder, int nSeconds,
                      unsigned nThreads, const TagTextOptions& tagText = TagTextOptions(),
                      FingerprintCache* pCache = nullptr, bool bTagsOnly = false);
  // Cancels decodes in flight (they stop at their next buffer) and joins the pool.
  ~FingerprintPrefetch();
  FingerprintPrefetch(const FingerprintPrefetch&) = delete;
  FingerprintPrefetch& operator=(const FingerprintPrefetch&) = delete;

  // Worker thread, for the records in vecOrder's order. When the record's key was
  // (or is being) computed ahead, waits for it, applies it to the record, stores the
  // outcome in *pOutcome and returns true. Otherwise claims the record so no pool
  // thread starts it, and returns false: the worker then keys it itself.
  bool Take(InerMusicDedupInfo* pRecord, KeyOutcome* pOutcome);
  // Text mode, worker thread: as Take, but gives the record only the tags read ahead
  // (as ReadTagsInto would), and leaves keying to the worker. Waits for the pool to
  // read the record's tags rather than claim it, unless the pool was cancelled.
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
  enum class JobState { kRunning, kDone };
  // One record's job, in the ring slot of its order index.
  struct Job {
    size_t nIndex = SIZE_MAX;  // the record's index in vecOrder_; SIZE_MAX: none yet
    DeepKeyJob key;
    JobState state = JobState::kRunning;
    std::unique_ptr<DeepKeyParts> pResult;
  };

  void PoolLoop();
  // Worker thread: waits until the next record's job is done and returns it, or
  // claims the record and returns null when no pool thread has started it.
  Job* WaitForJob(const InerMusicDedupInfo* pRecord);
  // Worker thread: the job WaitForJob returned is applied; its slot is free again.
  void Release();
  class ReleaseHold;

  const int nSeconds_;
  const TagTextOptions tagText_;
  FingerprintCache* const pCache_;
  const bool bTagsOnly_;
  const std::vector<InerMusicDedupInfo*> vecOrder_;
  std::mutex mutex_;  // guards vecSlots_, nNext_ and nReleased_
  std::condition_variable cvChanged_;
  std::vector<Job> vecSlots_;  // the window: index i lives in slot i % size
  size_t nNext_ = 0;           // first record no pool thread has started or the worker claimed
  size_t nReleased_ = 0;       // records the worker is done with; it takes them in order
  std::atomic<bool> bCancel_{false};
  ParallelGroupScan scan_;  // wakes the pool through cvChanged_; outlives the threads
  std::vector<std::thread> vecThreads_;
};

}  // namespace twintone

#endif  // TWINTONE_ENGINE_FINGERPRINT_PREFETCH_H
