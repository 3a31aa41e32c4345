// Result groups: the group map's groups of two or more records, as numbered lists
// of public records that the host reads.
#include <memory>

#include "engine/dedupe_music.h"

using twintone::RecordList;
using twintone::ResultGroup;
using twintone::t_bWorkerHoldsData;

void CDedupeMusic::BuildResultGroups() {
  for (const auto& entry : mapGroups) {
    const RecordList& members = *entry.second;
    if (members.size() < 2) continue;
    auto pGroup = std::make_unique<ResultGroup>();
    pGroup->reserve(members.size());
    try {
      for (const InerMusicDedupInfo* pRecord : members) {
        pGroup->push_back(twintone::NewInfoFromRecord(*pRecord).release());
      }
      vecGroups.push_back(pGroup.get());
    } catch (...) {
      for (tagInMusicDedupInfo* pInfo : *pGroup) delete pInfo;
      throw;
    }
    pGroup.release();
  }
}

int CDedupeMusic::GetGroupRef(unsigned int nGroup, tagInMusicDedupInfo** ppInfo, int* pnCount,
                              int nIndex) {
  if (t_bWorkerHoldsData) return -1;  // called from a start or progress event
  RequestStop();
  if (pthread_mutex_lock(&hDataLock) != 0) return -1;
  if (nGroup >= vecGroups.size()) {
    pthread_mutex_unlock(&hDataLock);
    return -1;
  }
  const ResultGroup& group = *vecGroups[nGroup];
  int nMembers = static_cast<int>(group.size());
  if (pnCount != nullptr) *pnCount = nMembers;
  if (ppInfo != nullptr && nIndex >= 0 && nIndex < nMembers) *ppInfo = group[nIndex];
  pthread_mutex_unlock(&hDataLock);
  return 0;
}
