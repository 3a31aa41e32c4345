#include "act/undo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "act/journal.h"
#include "act/undo_steps.h"
#include "common/file_ops.h"
#include "common/interrupt.h"
#include "common/paths.h"
#include "common/text_escape.h"

namespace twintone_cli {
namespace {

bool InScope(const JournalContents& contents, const char* pszKind, const std::string& strPath) {
  for (const auto& scope : contents.vecScope) {
    if (scope.first == pszKind && IsWithin(strPath, scope.second)) return true;
  }
  return false;
}

bool IsAboveTarget(const JournalContents& contents, const std::string& strDir) {
  for (const auto& scope : contents.vecScope) {
    if (scope.first == "target" && IsWithin(strDir, "/") && IsWithin(scope.second, strDir)) {
      return true;
    }
  }
  return false;
}

bool IsHash(const std::string& strHash) {
  if (strHash.size() != 16) return false;
  for (char c : strHash) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Why a version 2 entry cannot be vouched for, "" when it can: each path where the
// step would have put it, inside the journal's scope, and every hash well-formed.
std::string Unverifiable(const JournalEntry& e, const JournalContents& contents) {
  std::string strScratch = "-" + contents.strStamp + "-" + std::to_string(e.nId);
  if (!InScope(contents, "root", e.strFrom)) return "its old place is outside the scanned folders";
  if (e.strOp == "rename" || e.strOp == "copy") {
    if (!InScope(contents, "target", e.strTo)) return "its new place is outside the move target";
    if (e.strOp == "copy" && e.strTemp != ParentDir(e.strTo) + "/.twintone-partial" + strScratch) {
      return "its copy's temporary name is not one twintone makes";
    }
    if (e.strOp == "rename" ? !IsHash(e.strHash) : e.bCopied && !IsHash(e.strCopyHash)) {
      return "its hash cannot be checked";
    }
    return "";
  }
  if (e.strOp != "trash" && e.strOp != "link") return "the step '" + e.strOp + "' is not known";
  std::string strTrash = ParentDir(ParentDir(e.strTo));
  if (!InScope(contents, "trash", e.strTo) || BaseName(ParentDir(e.strTo)) != "files" ||
      e.strInfo != strTrash + "/info/" + BaseName(e.strTo) + ".trashinfo") {
    return "its place in the trash is not one twintone uses";
  }
  if (e.strOp == "link" && (!InScope(contents, "root", e.strKeeper) ||
                            e.strTemp != ParentDir(e.strFrom) + "/.twintone-link" + strScratch)) {
    return "its link is not one twintone makes";
  }
  if (!IsHash(e.strHash) || !IsHash(e.strInfoHash)) return "its hash cannot be checked";
  return "";
}

Undone UndoEntry(const JournalEntry& entry, const JournalContents& contents, std::string* pstrWhy) {
  if (contents.nVersion >= 2) {
    *pstrWhy = Unverifiable(entry, contents);
    if (!pstrWhy->empty()) return Undone::kProblem;
  }
  if (entry.strOp == "rename") return UndoRename(entry, contents.nVersion, pstrWhy);
  if (entry.strOp == "copy") return UndoCopy(entry, contents.nVersion, contents.strStamp, pstrWhy);
  if (entry.strOp == "trash" || entry.strOp == "link") {
    return UndoTrashOrLink(entry, contents.nVersion, pstrWhy);
  }
  *pstrWhy = "the step '" + entry.strOp + "' is not known";
  return Undone::kProblem;
}

}  // namespace

UndoOutcome UndoJournal(const std::string& strPath, FILE* pOut, const UndoGate& pfnGate) {
  UndoOutcome outcome;
  // Opening a FIFO would wait for a writer: only a regular file is opened.
  if (FactsOf(strPath, true).bExists && !FactsOf(strPath, true).bRegular) {
    outcome.strError = "the journal " + strPath + " is not a regular file";
    return outcome;
  }
  FdGuard lock(open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (lock.Get() >= 0 && flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
    outcome.strError = "another twintone run is using the journal " + strPath;
    return outcome;
  }
  JournalContents contents;
  if (!ReadJournalContents(strPath, &contents, &outcome.strError)) return outcome;
  std::vector<std::string> vecRoots;
  for (const auto& scope : contents.vecScope) {
    if (scope.first == "root") vecRoots.push_back(scope.second);
  }
  if (pfnGate && !pfnGate(vecRoots)) {
    outcome.strError = "nothing was undone";
    return outcome;
  }
  // A run that held the locks may have written more meanwhile.
  if (pfnGate && !ReadJournalContents(strPath, &contents, &outcome.strError)) return outcome;
  outcome.bRead = true;
  Journal journal;
  std::string strIgnored;
  bool bCanWrite = journal.Append(strPath, &strIgnored);

  for (auto it = contents.vecEntries.rbegin(); it != contents.vecEntries.rend(); ++it) {
    if (InterruptRequested().load()) {
      outcome.bInterrupted = true;
      break;
    }
    const JournalEntry& entry = *it;
    std::string strFrom = TerminalSafe(entry.strFrom);
    if (entry.bUndone) {
      ++outcome.nInPlace;
      std::fprintf(pOut, "  in place   %s (undone before)\n", strFrom.c_str());
      continue;
    }
    std::string strWhy;
    Undone undone = UndoEntry(entry, contents, &strWhy);
    switch (undone) {
      case Undone::kRestored:
        ++outcome.nRestored;
        std::fprintf(pOut, "  restored   %s\n", strFrom.c_str());
        break;
      case Undone::kInPlace:
        ++outcome.nInPlace;
        std::fprintf(pOut, "  in place   %s\n", strFrom.c_str());
        break;
      case Undone::kProblem:
        ++outcome.nProblems;
        std::fprintf(pOut, "  PROBLEM    %s: %s\n", strFrom.c_str(), TerminalSafe(strWhy).c_str());
        break;
    }
    if (bCanWrite && undone != Undone::kProblem) {
      JournalStep step;
      step.strStep = "undone";
      step.nId = entry.nId;
      journal.Write(step);
    }
  }
  // Folders the action made go again once empty, deepest first (in a version 2
  // journal, only the move target, those inside it and those made on the way to it).
  for (auto it = contents.vecMadeDirs.rbegin(); it != contents.vecMadeDirs.rend(); ++it) {
    if (contents.nVersion >= 2 && !InScope(contents, "target", *it) &&
        !IsAboveTarget(contents, *it)) {
      continue;
    }
    if (rmdir(it->c_str()) == 0) SyncDir(ParentDir(*it));
  }
  std::fprintf(pOut, "Undo: %d restored, %d already in place, %d problems.\n", outcome.nRestored,
               outcome.nInPlace, outcome.nProblems);
  return outcome;
}

}  // namespace twintone_cli
