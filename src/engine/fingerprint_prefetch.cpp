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
      vecJobs_(vecOrder.size()),
      nWindow_(nThreads * (bTagsOnly ? kTagWindowPerThread : kWindowPerThread)),
      scan_(0, [this] {
        // Under mutex_, so a pool thread between its predicate and its sleep
        // cannot miss the search.
        { std::lock_guard<std::mutex> lock(mutex_); }
        cvChanged_.notify_all();
      }) {
  mapIndex_.reserve(vecOrder.size());
  for (size_t i = 0; i < vecOrder.size(); ++i) {
    DeepKeyJob& key = vecJobs_[i].key;
    key = DeepKeyJobFor(*vecOrder[i]);
    if (bTagsOnly) {  // what TextKey would read, and no decode
      key.bReadTags = vecOrder[i]->strTitle.empty();
      key.bHasFinger = true;
    }
    mapIndex_.emplace(vecOrder[i], i);
  }
  StartThreads(&vecThreads_, nThreads, [this] { PoolLoop(); }, [this] { Cancel(); });
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
    cvChanged_.wait(lock, [this] {
      return bCancel_ || scan_.SearchOpen() ||
             (nNext_ < vecJobs_.size() && nNext_ < nTaken_ + nWindow_);
    });
    if (bCancel_) return;
    if (scan_.SearchOpen()) {
      lock.unlock();
      scan_.Help();
      lock.lock();
      continue;
    }
    Job& job = vecJobs_[nNext_++];
    if (job.state != JobState::kWaiting) continue;  // the worker claimed it
    job.state = JobState::kRunning;
    lock.unlock();
    ComputeDeepKeyParts(job.key, nSeconds_, tagText_, pCache_, &bCancel_, &job.result);
    lock.lock();
    job.state = JobState::kDone;
    cvChanged_.notify_all();
  }
}

FingerprintPrefetch::Job* FingerprintPrefetch::WaitForJob(const InerMusicDedupInfo* pRecord) {
  auto found = mapIndex_.find(pRecord);
  if (found == mapIndex_.end()) return nullptr;
  Job& job = vecJobs_[found->second];
  std::unique_lock<std::mutex> lock(mutex_);
  ++nTaken_;
  cvChanged_.notify_all();
  if (job.state == JobState::kWaiting) {
    job.state = JobState::kClaimed;
    return nullptr;
  }
  cvChanged_.wait(lock, [&job] { return job.state == JobState::kDone; });
  return &job;
}

bool FingerprintPrefetch::Take(InerMusicDedupInfo* pRecord, KeyOutcome* pOutcome) {
  Job* pJob = WaitForJob(pRecord);
  if (pJob == nullptr) return false;
  *pOutcome = ApplyDeepKeyParts(pJob->key, &pJob->result, pRecord, pCache_);
  return true;
}

bool FingerprintPrefetch::TakeTags(InerMusicDedupInfo* pRecord) {
  Job* pJob = WaitForJob(pRecord);
  if (pJob == nullptr) return false;
  if (pJob->key.bReadTags) ApplyReadTags(pJob->result.nTagResult, pJob->result.tags, pRecord);
  return true;
}

}  // namespace twintone
