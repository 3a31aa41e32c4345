// One file of a review plan, as the review page (report/review_page.h) records it and
// --apply (act/plan.h) reads it back. The names of its fields live here only.
#ifndef TWINTONE_TOOLS_COMMON_PLAN_ENTRY_H
#define TWINTONE_TOOLS_COMMON_PLAN_ENTRY_H

#include <string>

#include "common/json_io.h"

namespace twintone_cli {

struct PlanEntry {
  std::string strPath;  // "path_hex": the file, as bytes
  std::string strRel;   // "rel_hex" (may be left out): its place below a move target
  // The facts the file had when the page was made: "size", "mtime_ns", "dev", "ino",
  // in decimal text (a page's script cannot hold 64-bit numbers). For the reader only:
  // --apply holds a plan to its scan's record, which keeps the facts itself.
  std::string strSize, strModifiedNs, strDevice, strInode;
  // "role": "keep", "duplicate", "leave", or "distinct" (left alone, and not a
  // duplicate of the group's kept copy)
  std::string strRole;
};

void to_json(Json& entry, const PlanEntry& plan);
// Throws JsonFieldError for a missing field, one of another type, or hex that is not.
void from_json(const Json& entry, PlanEntry& plan);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_PLAN_ENTRY_H
