// Filing records into duplicate groups.
#include "grouping/duplicate_filing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>

#include "support/log.h"
#include "twintone.h"

namespace twintone {

namespace {

// Fingerprints shorter than this are filed nowhere.
constexpr int32_t kMinFingerWords = 20;

const uint32_t* Words(const GroupKey& key) {
  return reinterpret_cast<const uint32_t*>(key.pFinger);
}

// Whether the newcomer's key scores above the threshold against a group's key,
// with the score in *pfScore when it does.
bool Passes(const FilingRules& rules, const GroupKey& groupKey, const GroupKey& key,
            float* pfScore) {
  const int nMaxOffset = std::min(groupKey.nFingerLen, key.nFingerLen) / 3;
  return rules.pfnScorer(Words(groupKey), groupKey.nFingerLen, Words(key), key.nFingerLen,
                         nMaxOffset, rules.fThreshold, pfScore);
}

using GroupOrder = std::vector<GroupMap::const_iterator>;

// The best score a search saw above the near-miss floor but not above the threshold,
// and where in its order; nIndex is the order's size when it saw none.
struct NearMiss {
  size_t nIndex;
  float fScore = 0.0f;
};

bool NearMissesAsked(const FilingRules& rules) {
  return rules.fNearFloor > 0.0f && rules.fNearFloor < rules.fThreshold;
}

// The floor's search: like Passes, but the scorer prunes only at the floor, and any
// score above the floor is left in *pfScore.
bool ScoresAboveFloor(const FilingRules& rules, const GroupKey& groupKey, const GroupKey& key,
                      float* pfScore) {
  const int nMaxOffset = std::min(groupKey.nFingerLen, key.nFingerLen) / 3;
  return rules.pfnScorer(Words(groupKey), groupKey.nFingerLen, Words(key), key.nFingerLen,
                         nMaxOffset, rules.fNearFloor, pfScore);
}

// FirstPassing with a near-miss floor: the same answer, and in *pNear the best near
// miss among the groups before it.
size_t FirstPassingWithFloor(const FilingRules& rules, const GroupOrder& vecOrder,
                             const GroupKey& key, float* pfScore, NearMiss* pNear) {
  const size_t nCount = vecOrder.size();
  pNear->nIndex = nCount;
  size_t nFirst = nCount;
  std::vector<float> vecScores;  // by index; 0 for none above the floor
  if (rules.pScan != nullptr && nCount >= ParallelGroupScan::kMinParallel) {
    // Each index is written by the one thread that tests it and read after the search.
    vecScores.assign(nCount, 0.0f);
    nFirst = rules.pScan->FindFirst(nCount, [&](size_t i) {
      float fScore = 0.0f;
      if (!ScoresAboveFloor(rules, vecOrder[i]->first, key, &fScore)) return false;
      vecScores[i] = fScore;
      return fScore > rules.fThreshold;
    });
  } else {
    for (size_t i = 0; i < nCount && nFirst == nCount; ++i) {
      float fScore = 0.0f;
      if (!ScoresAboveFloor(rules, vecOrder[i]->first, key, &fScore)) continue;
      vecScores.resize(i + 1, 0.0f);
      vecScores[i] = fScore;
      if (fScore > rules.fThreshold) nFirst = i;
    }
  }
  const size_t nSeen = std::min(nFirst, vecScores.size());
  for (size_t i = 0; i < nSeen; ++i) {
    if (vecScores[i] > pNear->fScore) *pNear = {i, vecScores[i]};
  }
  if (nFirst < nCount) *pfScore = vecScores[nFirst];
  return nFirst;
}

// The first of vecOrder (groups in map order) that key passes, with its score in
// *pfScore; vecOrder.size() when none does. Spread over the rules' group scan when
// there is one and there are enough groups.
size_t FirstPassing(const FilingRules& rules, const GroupOrder& vecOrder, const GroupKey& key,
                    float* pfScore) {
  if (rules.pScan != nullptr && vecOrder.size() >= ParallelGroupScan::kMinParallel) {
    size_t nFirst = rules.pScan->FindFirst(vecOrder.size(), [&](size_t i) {
      float fIgnored = 0.0f;
      return Passes(rules, vecOrder[i]->first, key, &fIgnored);
    });
    // The score is taken again on this thread.
    if (nFirst < vecOrder.size() && Passes(rules, vecOrder[nFirst]->first, key, pfScore)) {
      return nFirst;
    }
    return vecOrder.size();
  }
  for (size_t i = 0; i < vecOrder.size(); ++i) {
    if (Passes(rules, vecOrder[i]->first, key, pfScore)) return i;
  }
  return vecOrder.size();
}

// The member that founded a group: the one whose words the map's key shares (the
// first member if none does any more).
const InerMusicDedupInfo* FounderOf(GroupMap::const_iterator group) {
  for (const InerMusicDedupInfo* pMember : *group->second) {
    if (pMember->pGroupKey->pFinger == group->first.pFinger) return pMember;
  }
  return group->second->front();
}

// The group a fingerprint joins, or the map's end. With a near-miss floor, the
// record's near miss is noted too.
GroupMap::iterator MatchingGroup(GroupMap* pGroups, InerMusicDedupInfo* pRecord,
                                 const FilingRules& rules, FilingIndexCache* pIndex,
                                 float* pfScore) {
  const GroupKey& key = *pRecord->pGroupKey;
  GroupOrder vecOrder;
  if (rules.bFast) {
    vecOrder = pIndex->CandidatesFor(key);
  } else {
    vecOrder.reserve(pGroups->size());
    for (auto it = pGroups->cbegin(); it != pGroups->cend(); ++it) vecOrder.push_back(it);
  }
  size_t nFound = vecOrder.size();
  if (NearMissesAsked(rules)) {
    NearMiss near;
    nFound = FirstPassingWithFloor(rules, vecOrder, key, pfScore, &near);
    if (near.nIndex < vecOrder.size()) {
      pRecord->pNearFounder = FounderOf(vecOrder[near.nIndex]);
      pRecord->fNearScore = near.fScore;
    }
  } else {
    nFound = FirstPassing(rules, vecOrder, key, pfScore);
  }
  if (nFound == vecOrder.size()) return pGroups->end();
  return pGroups->erase(vecOrder[nFound], vecOrder[nFound]);  // the same, not const
}

// Ranks the record into a group: first when it outranks every member.
void JoinGroup(RecordList* pMembers, InerMusicDedupInfo* pRecord) {
  size_t nOutranked = 0;
  for (InerMusicDedupInfo* pMember : *pMembers) {
    if (IsMaxFinger(pMember, pRecord)) ++nOutranked;
  }
  if (nOutranked == pMembers->size()) {
    pMembers->front()->fSimilarity = pRecord->fSimilarity;
    pRecord->fSimilarity = 1.0f;
    pMembers->push_front(pRecord);
  } else {
    pMembers->push_back(pRecord);
  }
}

}  // namespace

FilingIndex& FilingIndexCache::Current(const GroupMap& groups) {
  // The map only grows between releases, which drop the index, so a count that
  // matches means the index is current.
  if (pIndex_ != nullptr && pIndex_->Size() == groups.size() &&
      vecGroups_.size() == groups.size()) {
    return *pIndex_;
  }
  Drop();
  auto pIndex = std::make_unique<FilingIndex>();
  for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
    pIndex->Add(Words(it->first), it->first.nFingerLen);
    vecGroups_.push_back(it);
  }
  pIndex_ = std::move(pIndex);
  return *pIndex_;
}

void FilingIndexCache::Added(GroupMap::const_iterator group) {
  // An index left half-updated is dropped and rebuilt on next use.
  try {
    vecGroups_.push_back(group);
    pIndex_->Add(Words(group->first), group->first.nFingerLen);
  } catch (...) {
    Drop();
    throw;
  }
}

std::vector<GroupMap::const_iterator> FilingIndexCache::CandidatesFor(const GroupKey& key) {
  std::vector<uint32_t> vecIds;
  pIndex_->FindCandidates(Words(key), key.nFingerLen, &vecIds);
  std::vector<GroupMap::const_iterator> vecOrder;
  vecOrder.reserve(vecIds.size());
  for (uint32_t nId : vecIds) vecOrder.push_back(vecGroups_[nId]);
  std::sort(vecOrder.begin(), vecOrder.end(),
            [](GroupMap::const_iterator x, GroupMap::const_iterator y) { return x->first < y->first; });
  return vecOrder;
}

size_t FilingIndexCache::MemoryBytes() const {
  if (pIndex_ == nullptr) return 0;
  return pIndex_->MemoryBytes() + vecGroups_.capacity() * sizeof(vecGroups_[0]);
}

void FilingIndexCache::Drop() {
  pIndex_.reset();
  vecGroups_.clear();
}

FilingOutcome FileRecord(GroupMap* pGroups, InerMusicDedupInfo* pRecord, const FilingRules& rules,
                         FilingIndexCache* pIndex) {
  GroupKey& key = *pRecord->pGroupKey;
  GroupMap::iterator found = pGroups->end();
  const bool bFast = rules.bFingerprint && rules.bFast;

  if (rules.bFingerprint) {
    if (key.nFingerLen < kMinFingerWords) return FilingOutcome::kTooShort;
    if (bFast) pIndex->Current(*pGroups);
    float fScore = 0.0f;
    found = MatchingGroup(pGroups, pRecord, rules, pIndex, &fScore);
    if (found != pGroups->end()) pRecord->fSimilarity = fScore;
  } else {
    found = pGroups->find(key);
  }

  if (found != pGroups->end()) {
    g_log.lg("找到重复[%s]", pRecord->strPath.c_str());
    JoinGroup(found->second, pRecord);
    return FilingOutcome::kFiled;
  }

  auto pList = std::make_unique<RecordList>(1, pRecord);
  pRecord->fSimilarity = 1.0f;
  // The map's key shares the record's words; its ordering sum is taken once here.
  GroupKey mapKey(key, GroupKey::ForMap{});
  if (pGroups->count(mapKey) != 0) {
    g_log.lg("\n\ninsert bug[%s]!!!!\n\n", pRecord->strPath.c_str());
    // The map keeps its entry; this record belongs to no group.
    return FilingOutcome::kKeyCollision;
  }
  auto inserted = pGroups->emplace(std::piecewise_construct,
                                   std::forward_as_tuple(mapKey, GroupKey::ForMap{}),
                                   std::forward_as_tuple(pList.get()));
  pList.release();
  // Current saw the map without this group; it is indexed under the next id.
  if (bFast) pIndex->Added(inserted.first);
  return FilingOutcome::kFiled;
}

int ExactFilingLimit(const MatchKernel& kernel, unsigned nCores) {
  // Distinct 120-second fingerprints that exact filing files in 60 s on two cores,
  // by kernel, rounded down to 500 (bench/run.sh --exact-limit; docs/filing.md).
  struct MinuteFiling {
    const char* pszKernel;
    double fFiles;
  };
  static constexpr MinuteFiling kMeasured[] = {
      {"avx512", 8000}, {"avx2", 5500}, {"popcnt", 2500}, {"portable", 1500}};
  double fFiles = 1000;
  for (const MinuteFiling& measured : kMeasured) {
    if (strcmp(measured.pszKernel, kernel.pszName) == 0) fFiles = measured.fFiles;
  }
  // The time is about N^2 / cores: the count grows with the root of the cores.
  const double fCores = nCores == 0 ? 2.0 : std::min<double>(nCores, 64);
  const double fLimit = fFiles * std::sqrt(fCores / 2.0);
  // Advice, not a measurement: a round figure, never below 1000.
  return std::max(1000, static_cast<int>(fLimit / 500.0) * 500);
}

void ReleaseGroups(GroupMap* pGroups) {
  for (auto& entry : *pGroups) delete entry.second;
  pGroups->clear();
}

}  // namespace twintone
