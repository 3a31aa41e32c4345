// --undo JOURNAL: puts every file an action touched back where it was (act/undo_steps.h
// says how, step by step). Only what the journal can vouch for is touched: in a
// journal of this version every path must lie in the scope its header names (the
// scanned roots, the move target, the trash folders used), every file must hold the
// bytes recorded when its step ran; an unknown step, a path outside the scope or a
// hash that cannot be checked is reported and left alone. Each file put back is marked
// in the journal, so an undo run again, or after a later run reused a name, skips it.
#ifndef TWINTONE_TOOLS_ACT_UNDO_H
#define TWINTONE_TOOLS_ACT_UNDO_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace twintone_cli {

struct UndoOutcome {
  bool bRead = false;  // false: the journal could not be read or is in use (strError)
  std::string strError;
  int nRestored = 0;          // files put back
  int nInPlace = 0;           // files that were already where they had been
  int nProblems = 0;          // files left as they are, each reported
  bool bInterrupted = false;  // stopped by an interrupt before every file was seen
};

// Called with the journal's scanned roots before anything is touched; false stops
// the undo (the caller says why), as when it could not take their run locks.
using UndoGate = std::function<bool(const std::vector<std::string>& vecRoots)>;

// Undoes the journal at strPath, newest step first, writing one line per file to pOut
// and appending an "undone" line per file to the journal when it can. Holds a lock on
// the journal meanwhile: a second undo of it at the same time is refused.
UndoOutcome UndoJournal(const std::string& strPath, FILE* pOut, const UndoGate& pfnGate = nullptr);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_UNDO_H
