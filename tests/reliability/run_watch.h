// Shared by the reliability tests: runs with a bound on their time, and the result
// groups read back as paths.
#ifndef TWINTONE_TESTS_RELIABILITY_RUN_WATCH_H
#define TWINTONE_TESTS_RELIABILITY_RUN_WATCH_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/event_recorder.h"
#include "twintone.h"

namespace twintone_test {

using Groups = std::vector<std::vector<std::string>>;

// Waits for the run's end event. A run still going after nSeconds is a hang: the
// process ends at once, as the worker may still call into the recorder.
inline void WaitForEndOrDie(EventRecorder* pRecorder, int nSeconds, const char* pszWhat) {
  if (!pRecorder->WaitForEnd(nSeconds)) {
    fprintf(stderr, "HANG: %s did not end within %d s\n", pszWhat, nSeconds);
    fflush(stderr);
    std::_Exit(3);
  }
}

// Every result group as the paths of its members, in group and member order.
inline Groups ReadGroups() {
  Groups groups;
  const int nGroups = GetGroupIdCounts();
  for (int g = 0; g < nGroups; ++g) {
    tagInMusicDedupInfo* pInfo = nullptr;
    int nCount = 0;
    if (GetGroupRef(static_cast<unsigned>(g), &pInfo, &nCount, 0) != 0) break;
    std::vector<std::string> vecMembers;
    for (int i = 0; i < nCount; ++i) {
      pInfo = nullptr;
      GetGroupRef(static_cast<unsigned>(g), &pInfo, &nCount, i);
      vecMembers.push_back(pInfo != nullptr ? pInfo->pszPath : "<none>");
    }
    groups.push_back(vecMembers);
  }
  return groups;
}

// The group holding strPath, or an empty list.
inline std::vector<std::string> GroupOf(const Groups& groups, const std::string& strPath) {
  for (const std::vector<std::string>& vecMembers : groups) {
    for (const std::string& strMember : vecMembers) {
      if (strMember == strPath) return vecMembers;
    }
  }
  return {};
}

}  // namespace twintone_test

#endif  // TWINTONE_TESTS_RELIABILITY_RUN_WATCH_H
