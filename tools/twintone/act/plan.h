// --apply: a plan saved by the review page (report/review_page.h describes its layout),
// read back into groups for the journalled actions.
#ifndef TWINTONE_TOOLS_ACT_PLAN_H
#define TWINTONE_TOOLS_ACT_PLAN_H

#include <map>
#include <string>

#include "common/run_report.h"

namespace twintone_cli {

// Reads a plan into pReport->vecGroups (the kept copy first, then the duplicates; files
// left out are dropped) and the relative names duplicates keep into *pmapRelative.
// Refuses (false, with the reason) a malformed plan, a group with duplicates but no
// copy to keep, and a plan any of whose files is gone or changed (size, modification
// time, device or inode) since the page was made; nothing is acted on then.
bool LoadPlan(const std::string& strPath, RunReport* pReport,
              std::map<std::string, std::string>* pmapRelative, std::string* pstrError);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_PLAN_H
