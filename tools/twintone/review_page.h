// The review page and the plan it saves. The page is one self-contained HTML file (its
// CSS, script and data inline; nothing fetched) listing every group with a player per
// file, where a person picks the copy to keep or leaves files out and saves a plan
// (JSON). --apply reads the plan back into groups for the journalled actions.
//
// The plan: {"twintone_plan": 1, "groups": [{"members": [{"path_hex", "rel_hex",
// "size", "mtime_ns", "dev", "ino" (decimal strings), "role": "keep" | "duplicate" |
// "leave"}]}]}.
#ifndef TWINTONE_TOOLS_REVIEW_PAGE_H
#define TWINTONE_TOOLS_REVIEW_PAGE_H

#include <map>
#include <string>
#include <vector>

#include "report.h"

namespace twintone_cli {

// Writes the page for report's groups to strPath (replacing it). vecRoots are the
// command line's paths, for the names duplicates keep when moved. False with a reason.
bool WriteReviewPage(const RunReport& report, const std::vector<std::string>& vecRoots,
                     const std::string& strPath, std::string* pstrError);

// Reads a plan into pReport->vecGroups (the kept copy first, then the duplicates; files
// left out are dropped) and the relative names duplicates keep into *pmapRelative.
// Refuses (false, with the reason) a malformed plan, a group with duplicates but no
// copy to keep, and a plan any of whose files is gone or changed (size, modification
// time, device or inode) since the page was made; nothing is acted on then.
bool LoadPlan(const std::string& strPath, RunReport* pReport,
              std::map<std::string, std::string>* pmapRelative, std::string* pstrError);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_REVIEW_PAGE_H
