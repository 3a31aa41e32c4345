// --apply: a plan saved by the review page (report/review_page.h describes its layout),
// held to the record of the scan that made the page (scan/scan_record.h) and read back
// into groups for the journalled actions.
#ifndef TWINTONE_TOOLS_ACT_PLAN_H
#define TWINTONE_TOOLS_ACT_PLAN_H

#include <map>
#include <string>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

// What a plan asks, in the terms of its scan.
struct LoadedPlan {
  std::vector<Group> vecGroups;  // the kept copy first, then the duplicates
  std::map<std::string, std::string> mapRelative;  // a duplicate's place below a target
  std::vector<std::string> vecRoots;               // the scan's roots (real paths)
  bool bByTags = true;  // its scan grouped by tags, so its groups are checked by ear
};

// Reads a plan. Files left out are dropped, and so are groups without duplicates.
// Refuses (false, with the reason) the whole plan when it is malformed, carries no
// scan id or one not known here, names a file the scan did not find (or one with a
// control character in its name), names a file twice, puts together files the scan
// did not group together, keeps two copies or none in a group with duplicates, or
// when any of its files is gone or changed (identity, size, modification time) since
// the scan. Nothing is acted on then.
bool LoadPlan(const std::string& strPath, LoadedPlan* pPlan, std::string* pstrError);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_PLAN_H
