#include "engine/fingerprint_prefetch.h"

#include "support/thread_start.h"

namespace twintone {

FingerprintPrefetch::FingerprintPrefetch(const std::vector<InerMusicDedupInfo*>& vecOrder,
                                         int nSeconds, unsigned nThreads,
                                         const TagTextOptions& tagText, FingerprintCache* pCache,
                                         bool bTagsOnly)
    : nSeconds_(nSeconds),
      tagText_(tagText),
      pCache_(pCache),
      bTagsOnly_(bTagsOnly),
      vecOrder_(vecOrder),
      // One slot more than the window: the record the worker is applying keeps its own.
      vecSlots_(nThreads * (bTagsOnly ? kTagWindowPerThread : kWindowPerThread) + 1),
      scan_(0, [this] {
        // Under mutex_, so a pool thread between its predicate and its sleep
        // cannot miss the search.
        { std::lock_guard<std::mutex> lock(mutex_); }
        cvChanged_.notify_all();
      }) {
  StartThreads(
      &vecThreads_, nThreads, [this] { PoolLoop(); }, [this] { Cancel(); });
}

FingerprintPrefetch::~FingerprintPrefetch() { Stop(); }

void FingerprintPrefetch::Stop() {
  StopThreads(&vecThreads_, [this] { Cancel(); });
}

void FingerprintPrefetch::Cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bCancel_ = true;
  }
  cvChanged_.notify_all();
}

void FingerprintPrefetch::PoolLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // A slot is free once the worker has released the record that last held it.
    cvChanged_.wait(lock, [this] {
      return bCancel_ || scan_.SearchOpen() ||
             (nNext_ < vecOrder_.size() && nNext_ < nReleased_ + vecSlots_.size());
    });
    if (bCancel_) return;
    if (scan_.SearchOpen()) {
      lock.unlock();
      scan_.Help();
      lock.lock();
      continue;
    }
    const size_t nIndex = nNext_++;
    Job& job = vecSlots_[nIndex % vecSlots_.size()];
    job.nIndex = nIndex;
    job.state = JobState::kRunning;
    // The worker has not reached the record: it is read here, under mutex_, before
    // the worker can take it.
    job.key = DeepKeyJobFor(*vecOrder_[nIndex]);
    if (bTagsOnly_) {  // what TextKey would read, and no decode
      job.key.bReadTags = vecOrder_[nIndex]->strTitle.empty();
      job.key.bHasFinger = true;
    }
    job.pResult = std::make_unique<DeepKeyParts>();
    DeepKeyParts* pResult = job.pResult.get();
    const DeepKeyJob key = job.key;
    lock.unlock();
    ComputeDeepKeyParts(key, nSeconds_, tagText_, pCache_, &bCancel_, pResult);
    lock.lock();
    job.state = JobState::kDone;
    cvChanged_.notify_all();
  }
}

FingerprintPrefetch::Job* FingerprintPrefetch::WaitForJob(const InerMusicDedupInfo* pRecord) {
  std::unique_lock<std::mutex> lock(mutex_);
  const size_t nIndex = nReleased_;
  if (nIndex >= vecOrder_.size() || vecOrder_[nIndex] != pRecord) return nullptr;
  // A tag read costs the worker about what waiting for it would: in text mode the
  // pool does every one, and the worker takes over only once the pool is cancelled.
  if (bTagsOnly_) cvChanged_.wait(lock, [&] { return bCancel_ || nNext_ > nIndex; });
  if (nNext_ <= nIndex) {  // not started: the worker keys it, and no pool thread will
    nNext_ = nIndex + 1;
    ++nReleased_;
    cvChanged_.notify_all();
    return nullptr;
  }
  Job& job = vecSlots_[nIndex % vecSlots_.size()];
  cvChanged_.wait(lock, [&job] { return job.state == JobState::kDone; });
  return &job;
}

void FingerprintPrefetch::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    vecSlots_[nReleased_ % vecSlots_.size()].pResult.reset();
    ++nReleased_;
  }
  cvChanged_.notify_all();
}

// Releases the worker's job at scope exit, also when applying it threw.
class FingerprintPrefetch::ReleaseHold {
 public:
  explicit ReleaseHold(FingerprintPrefetch* pOwner) : pOwner_(pOwner) {}
  ~ReleaseHold() { pOwner_->Release(); }
  ReleaseHold(const ReleaseHold&) = delete;
  ReleaseHold& operator=(const ReleaseHold&) = delete;

 private:
  FingerprintPrefetch* pOwner_;
};

bool FingerprintPrefetch::Take(InerMusicDedupInfo* pRecord, KeyOutcome* pOutcome) {
  Job* pJob = WaitForJob(pRecord);
  if (pJob == nullptr) return false;
  ReleaseHold hold(this);
  *pOutcome = ApplyDeepKeyParts(pJob->key, pJob->pResult.get(), pRecord, pCache_);
  return true;
}

bool FingerprintPrefetch::TakeTags(InerMusicDedupInfo* pRecord) {
  Job* pJob = WaitForJob(pRecord);
  if (pJob == nullptr) return false;
  ReleaseHold hold(this);
  const DeepKeyParts& result = *pJob->pResult;
  if (pJob->key.bReadTags) ApplyReadTags(result.nTagResult, result.tags, pRecord);
  return true;
}

}  // namespace twintone
