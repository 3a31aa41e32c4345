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

// A run still going after nSeconds is a hang: the process ends at once, as the
// worker may still call into the recorder.
inline void WaitForEndOrDie(EventRecorder* pRecorder, int nSeconds, const char* pszWhat) {
  if (pRecorder->WaitForEnd(nSeconds)) return;
  fprintf(stderr, "HANG: %s did not end within %d s\n", pszWhat, nSeconds);
  std::_Exit(3);
}

// Every result group as the paths of its members, in group and member order.
inline Groups ReadGroups() {
  Groups groups(static_cast<size_t>(GetGroupIdCounts()));
  tagInMusicDedupInfo* pInfo = nullptr;
  int nCount = 0;
  for (unsigned g = 0; g < groups.size(); ++g) {
    for (int i = 0; GetGroupRef(g, &pInfo, &nCount, i) == 0 && i < nCount; ++i) {
      groups[g].push_back(pInfo != nullptr ? pInfo->pszPath : "<none>");
    }
  }
  return groups;
}

}  // namespace twintone_test

#endif  // TWINTONE_TESTS_RELIABILITY_RUN_WATCH_H
