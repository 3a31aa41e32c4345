#include "scan/distinct_marks.h"

#include <string>

#include "twintone_ext.h"

namespace twintone_cli {

void KeepMarkedApart(RunReport* pReport) {
  std::vector<Group> vecKept;
  for (Group& group : pReport->vecGroups) {
    for (Member& member : group.vecMembers) {
      uint64_t nId = 0;
      if (twintone_fingerprint_identity(member.strPath.c_str(), &nId) == 0) member.nPrintId = nId;
    }
    std::vector<Member> vecStay;
    for (Member& member : group.vecMembers) {
      bool bApart = false;
      for (const Member& earlier : vecStay) {
        if (member.nPrintId != 0 && earlier.nPrintId != 0 && member.nPrintId != earlier.nPrintId &&
            twintone_is_distinct(member.nPrintId, earlier.nPrintId) == 1) {
          bApart = true;
          ++pReport->nKeptApart;
          break;
        }
      }
      if (bApart) {
        pReport->vecUnique.push_back(member.strPath);
      } else {
        vecStay.push_back(std::move(member));
      }
    }
    if (vecStay.size() < 2) {
      for (const Member& member : vecStay) pReport->vecUnique.push_back(member.strPath);
      continue;
    }
    group.vecMembers = std::move(vecStay);
    vecKept.push_back(std::move(group));
  }
  pReport->vecGroups = std::move(vecKept);
}

int RememberDistinct(const ScanSettings& settings,
                     const std::vector<std::pair<uint64_t, uint64_t>>& vecPairs,
                     const MessageSink& pfnWarn) {
  if (vecPairs.empty()) return 0;
  if (!OpenCacheOf(settings, pfnWarn)) return -1;
  int nRemembered = 0;
  for (const auto& pair : vecPairs) {
    if (pair.first == 0 || pair.second == 0 || pair.first == pair.second) continue;
    if (twintone_mark_distinct(pair.first, pair.second) == 0) ++nRemembered;
  }
  CloseCache(pfnWarn, MessageSink());
  return nRemembered;
}

int ForgetDistinct(const ScanSettings& settings, const MessageSink& pfnWarn) {
  if (!OpenCacheOf(settings, pfnWarn)) return -1;
  int nForgotten = twintone_forget_distinct();
  if (nForgotten < 0) pfnWarn(std::string("cannot forget the marks: ") + twintone_store_message());
  CloseCache(pfnWarn, MessageSink());
  return nForgotten;
}

}  // namespace twintone_cli
