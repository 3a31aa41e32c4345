#include "act/undo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "common/file_ops.h"
#include "act/journal.h"
#include "act/mover.h"
#include "common/text_escape.h"

namespace twintone_cli {
namespace {

// All the journal says about one file.
struct Entry {
  JsonValue intent;
  JsonValue copied;  // kNull unless the copy was finished
};

enum class Undone { kRestored, kInPlace, kProblem };

bool IsOriginal(const FileFacts& facts, const JsonValue& intent) {
  return facts.bExists && static_cast<int64_t>(facts.nDevice) == intent.Int("dev") &&
         static_cast<int64_t>(facts.nInode) == intent.Int("ino");
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

Undone UndoRename(const Entry& entry, std::string* pstrWhy) {
  std::string strFrom = JournalPath(entry.intent, "from");
  std::string strTo = JournalPath(entry.intent, "to");
  if (IsOriginal(FactsOf(strFrom), entry.intent)) return Undone::kInPlace;
  if (!IsOriginal(FactsOf(strTo), entry.intent)) {
    *pstrWhy = "the file is neither at its old nor at its new place";
    return Undone::kProblem;
  }
  return PutBack(strTo, strFrom, false, pstrWhy) ? Undone::kRestored : Undone::kProblem;
}

Undone UndoCopy(const Entry& entry, const std::string& strStamp, std::string* pstrWhy) {
  std::string strFrom = JournalPath(entry.intent, "from");
  std::string strTo = JournalPath(entry.intent, "to");
  RemoveScratch(JournalPath(entry.intent, "temp"));
  std::string strBack = ParentDir(strFrom) + "/.twintone-undo-" + strStamp + "-" +
                        std::to_string(entry.intent.Int("id"));
  RemoveIfPresent(strBack);
  FileFacts to = FactsOf(strTo);
  bool bCopyIsOurs = entry.copied.kind == JsonValue::Kind::kObject && to.bExists &&
                     static_cast<int64_t>(to.nDevice) == entry.copied.Int("tdev") &&
                     static_cast<int64_t>(to.nInode) == entry.copied.Int("tino");
  FileFacts from = FactsOf(strFrom);
  if (from.bExists) {
    if (!bCopyIsOurs) return Undone::kInPlace;
    if (from.nSize != entry.intent.Int("size")) {
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
  FdGuard fdCopy(open(strTo.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  CopyOutcome copy;
  int nError = fdCopy.Get() < 0 ? errno : CopyVerified(fdCopy.Get(), strBack, &copy);
  if (nError == 0 && HashText(copy.nHash) != entry.copied.Str("hash")) {
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
Undone UndoTrashOrLink(const Entry& entry, std::string* pstrWhy) {
  std::string strFrom = JournalPath(entry.intent, "from");
  std::string strKept = JournalPath(entry.intent, "to");
  std::string strInfo = JournalPath(entry.intent, "info");
  RemoveScratch(JournalPath(entry.intent, "temp"));
  FileFacts from = FactsOf(strFrom);
  FileFacts kept = FactsOf(strKept);
  Undone result = Undone::kInPlace;
  if (IsOriginal(kept, entry.intent)) {
    if (IsOriginal(from, entry.intent)) {
      RemoveIfPresent(strKept);  // a second name only: the original never left
    } else if (!from.bExists) {
      if (!PutBack(strKept, strFrom, false, pstrWhy)) return Undone::kProblem;
      result = Undone::kRestored;
    } else {
      std::string strKeeper = JournalPath(entry.intent, "keeper");
      FileFacts keeper = FactsOf(strKeeper, true);
      bool bOurLink =
          from.bSymlink || (from.nDevice == keeper.nDevice && from.nInode == keeper.nInode);
      if (entry.intent.Str("op") != "link" || !bOurLink) {
        *pstrWhy = "another file has taken its name; the original stays in the trash";
        return Undone::kProblem;
      }
      if (!PutBack(strKept, strFrom, true, pstrWhy)) return Undone::kProblem;
      result = Undone::kRestored;
    }
  } else if (!IsOriginal(from, entry.intent)) {
    *pstrWhy = "the file is neither at its old place nor in the trash";
    return Undone::kProblem;
  }
  RemoveTrashInfo(strInfo);
  return result;
}

}  // namespace

UndoOutcome UndoJournal(const std::string& strPath, FILE* pOut) {
  UndoOutcome outcome;
  std::vector<JsonValue> vecLines;
  if (!ReadJournal(strPath, &vecLines, &outcome.strError)) return outcome;
  outcome.bRead = true;
  std::string strStamp = vecLines.empty() ? "" : vecLines[0].Str("stamp");
  std::map<int64_t, Entry> mapEntries;
  std::vector<std::string> vecMadeDirs;
  for (const JsonValue& line : vecLines) {
    std::string strStep = line.Str("step");
    if (strStep == "intent") mapEntries[line.Int("id")] = Entry{line, JsonValue()};
    if (strStep == "copied") mapEntries[line.Int("id")].copied = line;
    if (strStep == "mkdir") vecMadeDirs.push_back(JournalPath(line, "path"));
  }
  Journal journal;
  std::string strIgnored;
  bool bCanWrite = journal.Append(strPath, &strIgnored);

  for (auto it = mapEntries.rbegin(); it != mapEntries.rend(); ++it) {
    const Entry& entry = it->second;
    if (entry.intent.kind != JsonValue::Kind::kObject) continue;
    std::string strOp = entry.intent.Str("op");
    std::string strWhy;
    Undone undone = strOp == "rename" ? UndoRename(entry, &strWhy)
                    : strOp == "copy" ? UndoCopy(entry, strStamp, &strWhy)
                                      : UndoTrashOrLink(entry, &strWhy);
    std::string strFrom = TerminalSafe(JournalPath(entry.intent, "from"));
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
      journal.Write(JournalLine().Text("step", "undone").Number("id", it->first));
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
