// The review page. It is one self-contained HTML file (its CSS, script and data inline;
// nothing fetched) listing every group with a player per file, where a person picks the
// copy to keep or leaves files out and saves a plan (JSON, read back by act/plan.h):
//
// The plan: {"twintone_plan": 1, "scan_id", "groups": [{"members": [{"path_hex"
// (absolute), "rel_hex", "size", "mtime_ns", "dev", "ino" (decimal strings), "role":
// "keep" | "duplicate" | "leave"}]}]}. The scan id names the record of the scan
// (scan/scan_record.h) that --apply holds the plan to.
#ifndef TWINTONE_TOOLS_REPORT_REVIEW_PAGE_H
#define TWINTONE_TOOLS_REPORT_REVIEW_PAGE_H

#include <string>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

// Whether strPath is a review page twintone wrote (a regular file with the page's
// marker near its start).
bool IsReviewPage(const std::string& strPath);

// Writes the page for report's groups to strPath, replacing only a page twintone
// wrote. vecRoots are the command line's paths, for the names duplicates keep when
// moved; strScanId the id of the scan's record, carried into saved plans. False with
// a reason.
bool WriteReviewPage(const RunReport& report, const std::vector<std::string>& vecRoots,
                     const std::string& strScanId, const std::string& strPath,
                     std::string* pstrError);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_REPORT_REVIEW_PAGE_H
