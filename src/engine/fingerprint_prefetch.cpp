#include "engine/fingerprint_prefetch.h"

#include <cstdlib>

#include "analysis/fingerprint.h"
#include "audio_decoder.h"
#include "support/thread_start.h"

FingerprintPrefetch::FingerprintPrefetch(const std::vector<InerMusicDedupInfo*>& vecOrder,
                                         int nSeconds, unsigned nThreads,
                                         const twintone::TagTextOptions& tagText)
    : nSeconds_(nSeconds),
      tagText_(tagText),
      vecJobs_(vecOrder.size()),
      nWindow_(nThreads * kWindowPerThread),
      scan_(0, [this] {
        // Under mutex_, so a pool thread between its predicate and its sleep
        // cannot miss the search.
        { std::lock_guard<std::mutex> lock(mutex_); }
        cvChanged_.notify_all();
      }) {
  mapIndex_.reserve(vecOrder.size());
  for (size_t i = 0; i < vecOrder.size(); ++i) {
    const InerMusicDedupInfo* pRecord = vecOrder[i];
    Job& job = vecJobs_[i];
    job.strPath = pRecord->strPath;
    job.nDuration = pRecord->nDuration;
    job.bReadTags = pRecord->strTitle.empty() || pRecord->nDuration == 0;
    job.bHasFinger = pRecord->pGroupKey->nFingerLen >= 1;
    mapIndex_.emplace(pRecord, i);
  }
  StartThreads(&vecThreads_, nThreads, [this] { PoolLoop(); }, [this] { Cancel(); });
}

FingerprintPrefetch::~FingerprintPrefetch() {
  Stop();
  for (Job& job : vecJobs_) free(job.result.pFinger);
}

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
    Compute(&job);
    lock.lock();
    job.state = JobState::kDone;
    cvChanged_.notify_all();
  }
}

void FingerprintPrefetch::Compute(Job* pJob) {
  PrefetchedKey& out = pJob->result;
  int32_t nDuration = pJob->nDuration;
  out.bReadTags = pJob->bReadTags;
  if (out.bReadTags) {
    out.nTagResult = twintone::ReadDupMusicInfo(pJob->strPath.c_str(), &out.tags, tagText_);
    if (out.nTagResult == 0) nDuration = static_cast<int32_t>(out.tags.nDuration);
  }
  if (pJob->bHasFinger) return;
  out.stored = twintone::LookUpStore(pJob->strPath, nSeconds_, nDuration, &out.pFinger,
                                     &out.nFingerLen);
  if (out.stored.bHit) return;
  tagCChromaPrintInfo info{};
  out.nFingerResult = ExtractFingerprint(pJob->strPath.c_str(), nDuration, &info, nSeconds_,
                                         &bCancel_, &out.pFinger, &out.nFingerLen,
                                         &out.nDecodedMs);
  if (info.handle != nullptr) DestroyConvertTask(&info.handle);
}

bool FingerprintPrefetch::Take(InerMusicDedupInfo* pRecord, int* pnResult) {
  auto found = mapIndex_.find(pRecord);
  if (found == mapIndex_.end()) return false;
  Job& job = vecJobs_[found->second];
  std::unique_lock<std::mutex> lock(mutex_);
  ++nTaken_;
  cvChanged_.notify_all();
  if (job.state == JobState::kWaiting) {
    job.state = JobState::kClaimed;
    return false;
  }
  cvChanged_.wait(lock, [&job] { return job.state == JobState::kDone; });
  lock.unlock();

  PrefetchedKey& ahead = job.result;
  if (ahead.bReadTags) ApplyPrefetchedTags(ahead, pRecord);
  GroupKey* pKey = pRecord->pGroupKey;
  if (pKey->nFingerLen < 1 && ahead.nFingerResult == 0 && ahead.pFinger != nullptr) {
    free(pKey->pFinger);
    pKey->pFinger = ahead.pFinger;
    pKey->nFingerLen = ahead.nFingerLen;
    ahead.pFinger = nullptr;
  }
  if (ahead.nDecodedMs >= 0) pRecord->nDecodedMs = ahead.nDecodedMs;
  *pnResult = ahead.nFingerResult == 0 ? 0 : -23;
  twintone::SettleStoreLookup(ahead.stored, pRecord, *pnResult == 0);
  return true;
}
