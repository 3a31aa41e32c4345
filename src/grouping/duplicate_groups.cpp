// Filing records into duplicate groups. Runs on the worker thread under hDataLock.
#include <algorithm>
#include <memory>
#include <vector>

#include "engine/dedupe_music.h"
#include "engine/log.h"
#include "grouping/filing_index.h"
#include "grouping/group_scan.h"

namespace {

// Fingerprints shorter than this are filed nowhere.
constexpr int32_t kMinFingerWords = 20;

const uint32_t* Words(const GroupKey& key) {
  return reinterpret_cast<const uint32_t*>(key.pFinger);
}

// Whether the newcomer's key scores above the threshold against a group's key,
// with the score in *pfScore when it does.
bool Passes(const CDedupeMusic& engine, const GroupKey& groupKey, const GroupKey& key,
            float* pfScore) {
  const int nMaxOffset = std::min(groupKey.nFingerLen, key.nFingerLen) / 3;
  return engine.pfnFileScorer(Words(groupKey), groupKey.nFingerLen, Words(key), key.nFingerLen,
                              nMaxOffset, engine.fThreshold, pfScore);
}

// The first of vecOrder (groups in map order) that key passes, with its score in
// *pfScore; end() when none does. Spread over the engine's group scan when it has
// one and there are enough groups.
GroupMap::iterator FirstPassing(CDedupeMusic& engine,
                                const std::vector<GroupMap::iterator>& vecOrder,
                                const GroupKey& key, float* pfScore) {
  if (engine.pGroupScan != nullptr && vecOrder.size() >= ParallelGroupScan::kMinParallel) {
    size_t nFirst = engine.pGroupScan->FindFirst(vecOrder.size(), [&](size_t i) {
      float fIgnored = 0.0f;
      return Passes(engine, vecOrder[i]->first, key, &fIgnored);
    });
    // The score is taken again on this thread.
    if (nFirst < vecOrder.size() && Passes(engine, vecOrder[nFirst]->first, key, pfScore)) {
      return vecOrder[nFirst];
    }
    return engine.mapGroups.end();
  }
  for (GroupMap::iterator it : vecOrder) {
    if (Passes(engine, it->first, key, pfScore)) return it;
  }
  return engine.mapGroups.end();
}

// Brings the filing index in step with mapGroups: every group, by id. The map
// only grows between deallocations, which drop the index, so a count that
// matches means the index is current.
FilingIndex& CurrentIndex(CDedupeMusic& engine) {
  if (engine.pFilingIndex != nullptr && engine.pFilingIndex->Size() == engine.mapGroups.size() &&
      engine.vecIndexedGroups.size() == engine.mapGroups.size()) {
    return *engine.pFilingIndex;
  }
  engine.pFilingIndex.reset();
  engine.vecIndexedGroups.clear();
  auto pIndex = std::make_unique<FilingIndex>();
  for (auto it = engine.mapGroups.begin(); it != engine.mapGroups.end(); ++it) {
    pIndex->Add(Words(it->first), it->first.nFingerLen);
    engine.vecIndexedGroups.push_back(it);
  }
  engine.pFilingIndex = std::move(pIndex);
  return *engine.pFilingIndex;
}

// Fast filing: the first group in map order, among those the index names, that
// key passes.
GroupMap::iterator FirstIndexedPassing(CDedupeMusic& engine, const GroupKey& key, float* pfScore) {
  FilingIndex& index = CurrentIndex(engine);
  std::vector<uint32_t> vecIds;
  index.FindCandidates(Words(key), key.nFingerLen, &vecIds);
  std::vector<GroupMap::iterator> vecOrder;
  vecOrder.reserve(vecIds.size());
  for (uint32_t nId : vecIds) vecOrder.push_back(engine.vecIndexedGroups[nId]);
  const auto comp = engine.mapGroups.key_comp();
  std::sort(vecOrder.begin(), vecOrder.end(),
            [&](GroupMap::iterator x, GroupMap::iterator y) { return comp(x->first, y->first); });
  return FirstPassing(engine, vecOrder, key, pfScore);
}

}  // namespace

void CDedupeMusic::AddToReaptList(InerMusicDedupInfo* pRecord) { FileRecord(pRecord); }

CDedupeMusic::FilingResult CDedupeMusic::FileRecord(InerMusicDedupInfo* pRecord) {
  const GroupKey& key = *pRecord->pGroupKey;
  GroupMap::iterator found = mapGroups.end();
  const bool bFingerprint = (nMatchFlags & TWINTONE_MATCH_FINGERPRINT) != 0;
  const bool bFast = bFingerprint && ext.nFiling == TWINTONE_FILING_FAST;

  if (bFingerprint) {
    if (key.nFingerLen < kMinFingerWords) return FilingResult::kTooShort;
    float fScore = 0.0f;
    if (bFast) {
      found = FirstIndexedPassing(*this, key, &fScore);
    } else {
      // The first group in map order whose key scores above the threshold.
      std::vector<GroupMap::iterator> vecOrder;
      vecOrder.reserve(mapGroups.size());
      for (auto it = mapGroups.begin(); it != mapGroups.end(); ++it) vecOrder.push_back(it);
      found = FirstPassing(*this, vecOrder, key, &fScore);
    }
    if (found != mapGroups.end()) pRecord->fSimilarity = fScore;
  } else {
    found = mapGroups.find(key);
  }

  if (found != mapGroups.end()) {
    g_log.lg("找到重复[%s]", pRecord->strPath.c_str());
    RecordList& members = *found->second;
    size_t nOutranked = 0;
    for (InerMusicDedupInfo* pMember : members) {
      if (IsMaxFinger(pMember, pRecord)) ++nOutranked;
    }
    if (nOutranked == members.size()) {
      members.front()->fSimilarity = pRecord->fSimilarity;
      pRecord->fSimilarity = 1.0f;
      members.push_front(pRecord);
    } else {
      members.push_back(pRecord);
    }
    return FilingResult::kFiled;
  }

  auto pList = std::make_unique<RecordList>(1, pRecord);
  pRecord->fSimilarity = 1.0f;
  if (mapGroups.count(key) != 0) {
    g_log.lg("\n\ninsert bug[%s]!!!!\n\n", pRecord->strPath.c_str());
    // The map keeps its entry; this record belongs to no group.
    return FilingResult::kKeyCollision;
  }
  auto inserted = mapGroups.emplace(key, pList.get());
  pList.release();
  if (bFast) {
    // CurrentIndex saw the map without this group; it is indexed under the next id.
    // An index left half-updated is dropped and rebuilt on next use.
    try {
      vecIndexedGroups.push_back(inserted.first);
      pFilingIndex->Add(Words(inserted.first->first), inserted.first->first.nFingerLen);
    } catch (...) {
      pFilingIndex.reset();
      vecIndexedGroups.clear();
      throw;
    }
  }
  return FilingResult::kFiled;
}
