// Putting back one file of a journal, by the kind of step that moved it. Each works
// from what the file system holds now, so it is safe to run twice and after a run
// stopped at any moment, and each keeps to two rules: a file is put back only when its
// content is what the journal recorded (its hash; a version 1 journal, which has none,
// by identity), and only where no file stands; a file is removed only when it is a
// copy twintone made and a whole copy with the same bytes stands at the other place.
#ifndef TWINTONE_TOOLS_ACT_UNDO_STEPS_H
#define TWINTONE_TOOLS_ACT_UNDO_STEPS_H

#include <string>

#include "act/journal.h"

namespace twintone_cli {

enum class Undone { kRestored, kInPlace, kProblem };

// A same-file-system move: the file goes back from strTo to strFrom.
Undone UndoRename(const JournalEntry& entry, int nVersion, std::string* pstrWhy);

// A move across file systems: a half-made copy goes; a whole copy is removed when the
// source still stands (same bytes), or copied back, checked, and then removed.
Undone UndoCopy(const JournalEntry& entry, int nVersion, const std::string& strStamp,
                std::string* pstrWhy);

// Trash and link share the trash copy: files/NAME holds the original. It goes back
// where it was, replacing only the link the step made; the .trashinfo goes when it is
// the one the step wrote.
Undone UndoTrashOrLink(const JournalEntry& entry, int nVersion, std::string* pstrWhy);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_UNDO_STEPS_H
