// --interactive: the groups reviewed one at a time in a terminal, the way the review
// page does it in a browser, and the choices turned into the plan the page saves, so
// that --apply's reader (act/plan.h) holds them to the scan and the action of the
// command line carries them out, journalled and undoable.
//
// Keys, read one at a time with the terminal in raw mode (put back on every way out,
// the second interrupt's included, see common/interrupt.h):
//   1-9        keep that copy (the copy kept so far becomes a duplicate)
//   l then N   leave copy N alone, or act on it again
//   n then N   copy N is not a duplicate of the kept copy: left alone, and remembered
//              so that the two are never grouped again
//   Enter      this group as shown; next group
//   s          leave the whole group alone; next group
//   q          leave this group and the rest alone, and act on those already done
//   Ctrl-C     stop: nothing is acted on
#ifndef TWINTONE_TOOLS_REVIEW_TERMINAL_REVIEW_H
#define TWINTONE_TOOLS_REVIEW_TERMINAL_REVIEW_H

#include <string>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

enum class ReviewOutcome { kDone, kInterrupted, kFailed };

struct ReviewResult {
  ReviewOutcome outcome = ReviewOutcome::kFailed;
  std::string strPlan;   // kDone: the plan, in the layout the review page saves
  std::string strError;  // kFailed: why (not a terminal, the terminal went away)
};

// The roles a plan gives a group's members, as the page starts them: the first kept,
// the others duplicates, or every other one left alone in an unsure group.
std::vector<std::string> FirstRoles(const Group& group);

// Reviews report's groups (ordered by the keeper) with keys from fdIn, a terminal,
// drawing on fdOut. The plan names strScanId and every member of every group with its
// role: "keep", "duplicate", "leave" or "distinct". Runs on the main thread; wakes for
// an interrupt through InterruptFd().
ReviewResult ReviewInTerminal(const RunReport& report, const std::string& strScanId, int fdIn,
                              int fdOut);

// The plan for roles chosen per group (vecRoles[g][i] for report.vecGroups[g]).
std::string PlanText(const RunReport& report, const std::string& strScanId,
                     const std::vector<std::vector<std::string>>& vecRoles);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_REVIEW_TERMINAL_REVIEW_H
