// --apply: a plan saved by the review page (report/review_page.h describes its layout),
// held to the record of the scan that made the page (scan/scan_record.h) and read back
// into groups for the journalled actions.
#ifndef TWINTONE_TOOLS_ACT_PLAN_H
#define TWINTONE_TOOLS_ACT_PLAN_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

// What a plan asks, in the terms of its scan.
struct LoadedPlan {
  // The kept copy first, then the duplicates, then the copies left alone (a group whose
  // copies are all left alone keeps no copy first). Each member carries the facts its
  // scan reported; the keep reason is the scan's while its kept copy is kept.
  std::vector<Group> vecGroups;
  // The scan's settings, totals, unique and skipped files, for the report of the run
  // that applies the plan (its vecGroups empty).
  RunReport scan;
  std::map<std::string, std::string> mapRelative;  // a duplicate's place below a target
  std::vector<std::string> vecRoots;               // the scan's roots (real paths)
  // Copies marked "not a duplicate" (role "distinct", left alone), each with its
  // group's kept copy: the pair's fingerprint identities, as the scan recorded them
  // (0 when unknown, as in a tag run), to keep apart from now on.
  std::vector<std::pair<uint64_t, uint64_t>> vecDistinct;
};

// Reads a plan. Files it leaves alone, or does not name, stay in their groups marked
// left alone.
// Refuses (false, with the reason) the whole plan when it is malformed, carries no
// scan id or one not known here, names a file the scan did not find (or one with a
// control character in its name), names a file twice, puts together files the scan
// did not group together, keeps two copies or none in a group with duplicates, or
// when any of its files is gone or changed (identity, size, modification time) since
// the scan. Nothing is acted on then.
bool LoadPlan(const std::string& strPath, LoadedPlan* pPlan, std::string* pstrError);

// The same for a plan's text, as the terminal review makes it; strName names it in
// the reasons.
bool LoadPlanText(const std::string& strText, const std::string& strName, LoadedPlan* pPlan,
                  std::string* pstrError);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_PLAN_H
