#include "act/undo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "act/journal.h"
#include "act/mover.h"
#include "common/file_ops.h"
#include "common/text_escape.h"

namespace twintone_cli {
namespace {

// All the journal says about one file.
struct Entry {
  std::optional<JournalStep> intent;  // the last intent written for the file
  std::optional<JournalStep> copied;  // set once the copy was finished
};

enum class Undone { kRestored, kInPlace, kProblem };

bool IsOriginal(const FileFacts& facts, const JournalStep& intent) {
  return facts.bExists && intent.nDevice == static_cast<int64_t>(facts.nDevice) &&
         intent.nInode == static_cast<int64_t>(facts.nInode);
}

void RemoveIfPresent(const std::string& strPath) {
  if (!strPath.empty() && FactsOf(strPath).bExists && unlink(strPath.c_str()) == 0) {
    SyncDir(ParentDir(strPath));
  }
}

// Only names this program makes are removed on a journal's word: a damaged or foreign
// journal must not be able to delete a user's file through its "temp" or "info" entry.
bool NameStartsWith(const std::string& strPath, const std::string& strPrefix) {
  size_t nSlash = strPath.rfind('/');
  return strPath.compare(nSlash == std::string::npos ? 0 : nSlash + 1, strPrefix.size(),
                         strPrefix) == 0;
}

void RemoveScratch(const std::string& strPath) {
  if (NameStartsWith(strPath, ".twintone-partial-") || NameStartsWith(strPath, ".twintone-link-")) {
    RemoveIfPresent(strPath);
  }
}

void RemoveTrashInfo(const std::string& strPath) {
  const std::string kSuffix = ".trashinfo";
  if (strPath.size() > kSuffix.size() &&
      strPath.compare(strPath.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0) {
    RemoveIfPresent(strPath);
  }
}

// Gives strFrom the name strTo again (its folder made if it went).
bool PutBack(const std::string& strFrom, const std::string& strTo, bool bReplace,
             std::string* pstrWhy) {
  std::string strError;
  EnsureDirectory(ParentDir(strTo), &strError);
  int nError = bReplace ? (rename(strFrom.c_str(), strTo.c_str()) == 0 ? 0 : errno)
                        : RenameNoReplace(strFrom, strTo);
  if (nError != 0) {
    *pstrWhy = std::strerror(nError);
    return false;
  }
  SyncDir(ParentDir(strTo));
  SyncDir(ParentDir(strFrom));
  return true;
}

Undone UndoRename(const JournalStep& intent, std::string* pstrWhy) {
  const std::string& strFrom = intent.strFrom;
  const std::string& strTo = intent.strTo;
  if (IsOriginal(FactsOf(strFrom), intent)) return Undone::kInPlace;
  if (!IsOriginal(FactsOf(strTo), intent)) {
    *pstrWhy = "the file is neither at its old nor at its new place";
    return Undone::kProblem;
  }
  return PutBack(strTo, strFrom, false, pstrWhy) ? Undone::kRestored : Undone::kProblem;
}

Undone UndoCopy(const Entry& entry, const std::string& strStamp, std::string* pstrWhy) {
  const JournalStep& intent = *entry.intent;
  const std::string& strFrom = intent.strFrom;
  const std::string& strTo = intent.strTo;
  RemoveScratch(intent.strTemp);
  std::string strBack =
      ParentDir(strFrom) + "/.twintone-undo-" + strStamp + "-" + std::to_string(intent.nId);
  RemoveIfPresent(strBack);
  FileFacts to = FactsOf(strTo);
  bool bCopyIsOurs = entry.copied && to.bExists &&
                     entry.copied->nCopyDevice == static_cast<int64_t>(to.nDevice) &&
                     entry.copied->nCopyInode == static_cast<int64_t>(to.nInode);
  FileFacts from = FactsOf(strFrom);
  if (from.bExists) {
    if (!bCopyIsOurs) return Undone::kInPlace;
    if (intent.nSize != from.nSize) {
      *pstrWhy = "both places hold a file and the old one has changed; both are left";
      return Undone::kProblem;
    }
    RemoveIfPresent(strTo);
    return Undone::kRestored;
  }
  if (!bCopyIsOurs) {
    *pstrWhy = "the file is neither at its old nor at its new place";
    return Undone::kProblem;
  }
  uint64_t nHash = 0, nDevice = 0, nInode = 0;
  int nError = CopyVerified(strTo, strBack, &nHash, &nDevice, &nInode);
  if (nError == 0 && HashText(nHash) != entry.copied->strHash) {
    RemoveIfPresent(strBack);
    nError = EIO;
  }
  if (nError != 0 || !PutBack(strBack, strFrom, false, pstrWhy)) {
    if (nError != 0) *pstrWhy = std::string("copying back failed: ") + std::strerror(nError);
    RemoveIfPresent(strBack);
    return Undone::kProblem;
  }
  RemoveIfPresent(strTo);
  return Undone::kRestored;
}

// Trash and link share the trash copy: files/NAME holds the original (same inode).
Undone UndoTrashOrLink(const JournalStep& intent, std::string* pstrWhy) {
  const std::string& strFrom = intent.strFrom;
  const std::string& strKept = intent.strTo;
  RemoveScratch(intent.strTemp);
  FileFacts from = FactsOf(strFrom);
  FileFacts kept = FactsOf(strKept);
  Undone result = Undone::kInPlace;
  if (IsOriginal(kept, intent)) {
    if (IsOriginal(from, intent)) {
      RemoveIfPresent(strKept);  // a second name only: the original never left
    } else if (!from.bExists) {
      if (!PutBack(strKept, strFrom, false, pstrWhy)) return Undone::kProblem;
      result = Undone::kRestored;
    } else {
      FileFacts keeper = FactsOf(intent.strKeeper, true);
      bool bOurLink =
          from.bSymlink || (from.nDevice == keeper.nDevice && from.nInode == keeper.nInode);
      if (intent.strOp != "link" || !bOurLink) {
        *pstrWhy = "another file has taken its name; the original stays in the trash";
        return Undone::kProblem;
      }
      if (!PutBack(strKept, strFrom, true, pstrWhy)) return Undone::kProblem;
      result = Undone::kRestored;
    }
  } else if (!IsOriginal(from, intent)) {
    *pstrWhy = "the file is neither at its old place nor in the trash";
    return Undone::kProblem;
  }
  RemoveTrashInfo(intent.strInfo);
  return result;
}

}  // namespace

UndoOutcome UndoJournal(const std::string& strPath, FILE* pOut) {
  UndoOutcome outcome;
  JournalHeader header;
  std::vector<JournalStep> vecSteps;
  if (!ReadJournal(strPath, &header, &vecSteps, &outcome.strError)) return outcome;
  outcome.bRead = true;
  std::map<int64_t, Entry> mapEntries;
  std::vector<std::string> vecMadeDirs;
  for (const JournalStep& step : vecSteps) {
    if (step.strStep == "intent") mapEntries[step.nId] = Entry{step, std::nullopt};
    if (step.strStep == "copied") mapEntries[step.nId].copied = step;
    if (step.strStep == "mkdir") vecMadeDirs.push_back(step.strPath);
  }
  Journal journal;
  std::string strIgnored;
  bool bCanWrite = journal.Append(strPath, &strIgnored);

  for (auto it = mapEntries.rbegin(); it != mapEntries.rend(); ++it) {
    const Entry& entry = it->second;
    if (!entry.intent) continue;
    const std::string& strOp = entry.intent->strOp;
    std::string strWhy;
    Undone undone = strOp == "rename" ? UndoRename(*entry.intent, &strWhy)
                    : strOp == "copy" ? UndoCopy(entry, header.strStamp, &strWhy)
                                      : UndoTrashOrLink(*entry.intent, &strWhy);
    std::string strFrom = TerminalSafe(entry.intent->strFrom);
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
        std::fprintf(pOut, "  PROBLEM    %s: %s\n", strFrom.c_str(), strWhy.c_str());
        break;
    }
    if (bCanWrite && undone != Undone::kProblem) {
      JournalStep done;
      done.strStep = "undone";
      done.nId = it->first;
      journal.Write(done);
    }
  }
  // Folders the action made go again once empty, deepest first.
  for (auto it = vecMadeDirs.rbegin(); it != vecMadeDirs.rend(); ++it) {
    if (rmdir(it->c_str()) == 0) SyncDir(ParentDir(*it));
  }
  std::fprintf(pOut, "Undo: %d restored, %d already in place, %d problems.\n", outcome.nRestored,
               outcome.nInPlace, outcome.nProblems);
  return outcome;
}

}  // namespace twintone_cli
