// Acting on the groups: moving, trashing or linking every duplicate (each group's
// members after the first), through the journalled steps of action_steps.h. A dry run
// makes every check the real action makes, and reports the same failures.
#ifndef TWINTONE_TOOLS_ACT_ACTIONS_H
#define TWINTONE_TOOLS_ACT_ACTIONS_H

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

enum class ActionKind { kNone, kMove, kTrash, kLinkHard, kLinkSymbolic };

// "move", "trash", "link-hard", "link-symbolic" ("" for kNone).
const char* ActionName(ActionKind kind);

struct ActionRequest {
  ActionKind kind = ActionKind::kNone;
  std::string strMoveDir;             // kMove: the folder duplicates go into
  std::vector<std::string> vecRoots;  // the command line's paths, for relative names
  bool bDryRun = false;
  std::string strJournal;  // empty: DefaultJournalPath()
  // Relative names fixed beforehand (by a plan), by path; others come from vecRoots.
  std::map<std::string, std::string> mapRelative;
};

struct ActionResult {
  bool bRefused = false;  // nothing was attempted; strError says why
  std::string strError;
  std::string strJournal;  // the journal written; empty for a dry run
  std::vector<MoveRecord> vecRecords;
  bool bJournalFailed = false;  // the journal stopped accepting lines: the rest was left
};

// Acts on every duplicate of every group not marked bUnsure, in order, stopping before
// the next file once *pbStop (may be null) is true. One record per duplicate.
ActionResult RunActions(const std::vector<Group>& vecGroups, const ActionRequest& request,
                        const std::atomic<bool>* pbStop);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_ACTIONS_H
