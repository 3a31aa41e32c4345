// The quality measures of a run's grouped files: measured after filing on a pool of
// threads of their own (or read from the store), kept on the records, handed to
// hosts through twintone_quality.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "analysis/audio_quality.h"
#include "engine/dedupe_music.h"
#include "engine/store_use.h"

using twintone::FingerprintStore;
using twintone::MutexHold;
using twintone::QualityMeasures;

namespace {

// Fresh measures are written to the store in transactions of this many.
constexpr size_t kStoreBatch = 64;

struct QualityJob {
  std::string strPath;  // a copy: the pool never touches a record
  QualityMeasures measures;
  bool bFromStore = false;
  bool bIdentity = false;  // identity was read before the measuring
  twintone::FileIdentity identity;
};

// Measures every job the store does not hold, on nThreads threads, the calling one
// among them; the store is asked first, on the calling thread, so a run whose files
// are all stored starts no thread. Each thread asks stop() before each file and ends
// the pass when it answers true; files in flight then stop within a packet and read
// as unmeasured. Writes fresh measures to the store under the identity the file had
// before its measuring (a file changed meanwhile is not written).
void MeasureJobs(std::vector<QualityJob>* pJobs, unsigned nThreads,
                 const std::function<bool()>& stop) {
  std::vector<QualityJob*> vecMisses;
  for (QualityJob& job : *pJobs) {
    job.bIdentity = twintone::ReadFileIdentity(job.strPath.c_str(), &job.identity);
    job.bFromStore =
        job.bIdentity && twintone::LookUpStoredQuality(job.strPath, job.identity, &job.measures);
    if (!job.bFromStore) vecMisses.push_back(&job);
  }

  std::atomic<size_t> nNext{0};
  std::atomic<bool> bCancel{false};
  std::mutex pendingMutex;  // guards vecPending
  std::vector<FingerprintStore::QualityEntry> vecPending;
  auto body = [&] {
    for (;;) {
      if (bCancel.load() || stop()) {
        bCancel = true;
        return;
      }
      const size_t i = nNext++;
      if (i >= vecMisses.size()) return;
      QualityJob& job = *vecMisses[i];
      job.measures = twintone::MeasureAudioQuality(job.strPath.c_str(), &bCancel);
      twintone::FileIdentity after;
      if (bCancel.load() || !job.bIdentity ||
          !twintone::ReadFileIdentity(job.strPath.c_str(), &after) || after != job.identity) {
        continue;
      }
      std::vector<FingerprintStore::QualityEntry> vecBatch;
      {
        std::lock_guard<std::mutex> lock(pendingMutex);
        vecPending.push_back({job.strPath, job.identity, job.measures});
        if (vecPending.size() >= kStoreBatch) vecBatch.swap(vecPending);
      }
      if (!vecBatch.empty()) twintone::StoreQualities(vecBatch);
    }
  };
  // Guarded whole: an allocation that fails leaves the files unmeasured.
  auto guarded = [&body, &bCancel] {
    try {
      body();
    } catch (...) {
      bCancel = true;
    }
  };
  std::vector<std::thread> vecThreads;
  for (unsigned t = 1; t < std::min<size_t>(nThreads, vecMisses.size()); ++t) {
    try {
      vecThreads.emplace_back(guarded);
    } catch (...) {
      break;  // fewer threads: the rest measure it all
    }
  }
  guarded();
  for (std::thread& thread : vecThreads) thread.join();
  if (!vecPending.empty()) twintone::StoreQualities(vecPending);
}

}  // namespace

void CDedupeMusic::MeasureGroupedQuality(size_t nFirstGroup) {
  std::vector<InerMusicDedupInfo*> vecRecords;
  std::unordered_set<const InerMusicDedupInfo*> setSeen;
  for (size_t g = nFirstGroup; g < vecGroups.size(); ++g) {
    for (const tagInMusicDedupInfo* pMember : *vecGroups[g]) {
      auto found = mapLoaded.find(pMember->pszPath);
      if (found != mapLoaded.end() && setSeen.insert(found->second).second) {
        vecRecords.push_back(found->second);
      }
    }
  }
  std::vector<QualityJob> vecJobs(vecRecords.size());
  for (size_t i = 0; i < vecRecords.size(); ++i) vecJobs[i].strPath = vecRecords[i]->strPath;
  const unsigned nCores = std::thread::hardware_concurrency();
  MeasureJobs(&vecJobs, nCores == 0 ? 2 : nCores, [this] {
    MutexHold hold(&hStateLock);
    return bQuit;
  });
  for (size_t i = 0; i < vecRecords.size(); ++i) {
    vecRecords[i]->quality = vecJobs[i].measures;
    vecRecords[i]->bQualityFromStore = vecJobs[i].bFromStore;
  }
}

void twintone::FillQualityFields(const QualityMeasures& m, uint32_t nMoreFlags,
                                 twintone_quality* pQuality) {
  const uint32_t nStructSize = pQuality->nStructSize;
  memset(pQuality, 0, sizeof(*pQuality));
  pQuality->nStructSize = nStructSize;
  pQuality->nFlags = m.nFlags | nMoreFlags;
  pQuality->nSampleRate = m.nSampleRate;
  pQuality->nChannels = m.nChannels;
  pQuality->nBandwidthHz = m.nBandwidthHz;
  pQuality->nStereo = m.nStereo;
  pQuality->nClippedPpm = m.nClippedPpm;
  pQuality->nLeadSilenceMs = m.nLeadSilenceMs;
  pQuality->nTrailSilenceMs = m.nTrailSilenceMs;
  pQuality->nAddedLeadMs = pQuality->nAddedTrailMs = -1;
  pQuality->nMeasuredMs = m.nMeasuredMs;
}

void CDedupeMusic::FillQuality(const InerMusicDedupInfo& record, twintone_quality* pQuality) const {
  const QualityMeasures& m = record.quality;
  twintone::FillQualityFields(m, record.bQualityFromStore ? TWINTONE_QUALITY_FROM_STORE : 0u,
                              pQuality);

  // The silences beyond the least of the group's measured members.
  const int32_t nGroup = record.outcome.nGroup;
  if (record.outcome.nOutcome != TWINTONE_OUTCOME_GROUPED || nGroup < 0 ||
      static_cast<size_t>(nGroup) >= vecGroups.size()) {
    return;
  }
  int32_t nLeastLead = m.nLeadSilenceMs, nLeastTrail = m.nTrailSilenceMs;
  for (const tagInMusicDedupInfo* pMember : *vecGroups[nGroup]) {
    auto found = mapLoaded.find(pMember->pszPath);
    if (found == mapLoaded.end()) continue;
    const QualityMeasures& other = found->second->quality;
    if (other.nLeadSilenceMs >= 0) nLeastLead = std::min(nLeastLead, other.nLeadSilenceMs);
    if (other.nTrailSilenceMs >= 0) nLeastTrail = std::min(nLeastTrail, other.nTrailSilenceMs);
  }
  if (m.nLeadSilenceMs >= 0) pQuality->nAddedLeadMs = m.nLeadSilenceMs - nLeastLead;
  if (m.nTrailSilenceMs >= 0) pQuality->nAddedTrailMs = m.nTrailSilenceMs - nLeastTrail;
}

int CDedupeMusic::QualityAt(int nIndex, twintone_quality* pQuality) {
  const InerMusicDedupInfo* pRecord = RecordAt(nIndex);
  if (pRecord == nullptr) return -2;
  FillQuality(*pRecord, pQuality);
  return 0;
}

int CDedupeMusic::QualityOf(const char* pszPath, twintone_quality* pQuality) {
  auto found = mapLoaded.find(pszPath);
  if (found == mapLoaded.end()) return -2;
  FillQuality(*found->second, pQuality);
  return 0;
}
