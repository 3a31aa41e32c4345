// Filing records into duplicate groups. Runs on the worker thread under hDataLock.
#include <algorithm>
#include <memory>
#include <vector>

#include "engine/dedupe_music.h"
#include "engine/log.h"
#include "grouping/group_scan.h"

namespace {

// Fingerprints shorter than this are filed nowhere.
constexpr int32_t kMinFingerWords = 20;

}  // namespace

void CDedupeMusic::AddToReaptList(InerMusicDedupInfo* pRecord) { FileRecord(pRecord); }

CDedupeMusic::FilingResult CDedupeMusic::FileRecord(InerMusicDedupInfo* pRecord) {
  const GroupKey& key = *pRecord->pGroupKey;
  GroupMap::iterator found = mapGroups.end();

  if ((nMatchFlags & TWINTONE_MATCH_FINGERPRINT) != 0) {
    if (key.nFingerLen < kMinFingerWords) return FilingResult::kTooShort;
    const auto* pWords = reinterpret_cast<const uint32_t*>(key.pFinger);
    auto passes = [&](const GroupKey& groupKey, float* pfScore) {
      int nMaxOffset = std::min(groupKey.nFingerLen, key.nFingerLen) / 3;
      return pfnFileScorer(reinterpret_cast<const uint32_t*>(groupKey.pFinger),
                           groupKey.nFingerLen, pWords, key.nFingerLen, nMaxOffset, fThreshold,
                           pfScore);
    };
    float fScore = 0.0f;
    if (pGroupScan != nullptr && mapGroups.size() >= ParallelGroupScan::kMinParallel) {
      // The first group in map order whose key scores above the threshold, searched
      // on several threads; its score is taken again on this one.
      std::vector<GroupMap::iterator> vecOrder;
      vecOrder.reserve(mapGroups.size());
      for (auto it = mapGroups.begin(); it != mapGroups.end(); ++it) vecOrder.push_back(it);
      size_t nFirst = pGroupScan->FindFirst(vecOrder.size(), [&](size_t i) {
        float fIgnored = 0.0f;
        return passes(vecOrder[i]->first, &fIgnored);
      });
      if (nFirst < vecOrder.size() && passes(vecOrder[nFirst]->first, &fScore)) {
        pRecord->fSimilarity = fScore;
        found = vecOrder[nFirst];
      }
    } else {
      // The first group in map order whose key scores above the threshold.
      for (auto it = mapGroups.begin(); it != mapGroups.end(); ++it) {
        if (passes(it->first, &fScore)) {
          pRecord->fSimilarity = fScore;
          found = it;
          break;
        }
      }
    }
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
  mapGroups.emplace(key, pList.get());
  pList.release();
  return FilingResult::kFiled;
}
