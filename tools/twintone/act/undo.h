// --undo JOURNAL: puts every file an action touched back where it was. Works from what
// the file system holds now, guided by the journal, so it is safe to run twice and
// after a run stopped at any moment: a half-made copy is removed, a finished one whose
// source still exists is removed, a moved file is moved (or copied, verified) back.
#ifndef TWINTONE_TOOLS_ACT_UNDO_H
#define TWINTONE_TOOLS_ACT_UNDO_H

#include <cstdio>
#include <string>

namespace twintone_cli {

struct UndoOutcome {
  bool bRead = false;  // false: the journal could not be read (strError)
  std::string strError;
  int nRestored = 0;  // files put back
  int nInPlace = 0;   // files that were already where they had been
  int nProblems = 0;  // files left as they are, each reported
};

// Undoes the journal at strPath, newest step first, writing one line per file to pOut
// and appending an "undone" line per file to the journal when it can.
UndoOutcome UndoJournal(const std::string& strPath, FILE* pOut);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_UNDO_H
