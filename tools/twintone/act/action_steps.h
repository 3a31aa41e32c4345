// The journalled steps of one file's action. Each announces itself in the journal
// before it touches the file system and confirms after, in an order that keeps every
// byte of the file in at least one named place at every moment: see journal.h for the
// lines and undo.cpp for how each state is put back.
#ifndef TWINTONE_TOOLS_ACT_ACTION_STEPS_H
#define TWINTONE_TOOLS_ACT_ACTION_STEPS_H

#include <string>

#include "act/journal.h"
#include "common/run_report.h"
#include "act/trash.h"

namespace twintone_cli {

// What became of one step. kJournal: the journal could not be written, so the step
// was not taken and no further step may be.
enum class StepResult { kDone, kFailed, kJournal };

// Moves strFrom to strTo (which must not exist; its folder must). Within one file
// system a rename; across file systems a copy to a temporary name beside strTo, checked
// by size and hash, renamed into place, and only then the source removed. A source
// that cannot be removed takes its copy back out. *pstrError set unless kDone.
StepResult StepMove(Journal* pJournal, int nId, const Member& dup, const std::string& strTo,
                    std::string* pstrError);

// Puts dup into the trash as files/strName with info/strName.trashinfo written first.
StepResult StepTrash(Journal* pJournal, int nId, const Member& dup, const TrashDir& trash,
                     const std::string& strName, std::string* pstrError);

// Replaces dup by a hard (bHard) or symbolic link to keeper: the original goes to the
// trash as files/strName (a second name on the same file system, so nothing is copied),
// the link is made under a temporary name beside dup and renamed over it.
StepResult StepLink(Journal* pJournal, int nId, bool bHard, const Member& dup, const Member& keeper,
                    const TrashDir& trash, const std::string& strName, std::string* pstrError);

// Makes strDir and its missing parents, each announced in the journal first, so --undo
// can remove the ones it made once they are empty again. False with a reason.
bool MakeDirsJournalled(Journal* pJournal, const std::string& strDir, std::string* pstrError);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_ACTION_STEPS_H
