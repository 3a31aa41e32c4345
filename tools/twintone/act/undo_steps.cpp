#include "act/undo_steps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "act/mover.h"
#include "common/file_ops.h"
#include "common/paths.h"

namespace twintone_cli {
namespace {

std::string HashOf(const std::string& strPath) {
  uint64_t nHash = 0;
  return HashFile(strPath, &nHash) ? HashText(nHash) : "";
}

// Whether the file at strPath is the one the step acted on: the bytes it recorded
// (version 2), or its identity (version 1, which recorded no hash).
bool IsTheFile(const std::string& strPath, const JournalEntry& entry, int nVersion) {
  FileFacts facts = FactsOf(strPath);
  if (!facts.bExists) return false;
  if (nVersion < 2) return facts.nDevice == entry.nDevice && facts.nInode == entry.nInode;
  return facts.bRegular && !entry.strHash.empty() && HashOf(strPath) == entry.strHash;
}

bool SameInode(const FileFacts& a, const FileFacts& b) {
  return a.bExists && b.bExists && a.nDevice == b.nDevice && a.nInode == b.nInode;
}

// Whether strA and strB name one directory entry, however spelled (a folder on the way
// may be a link): removing or replacing one of them then loses the file itself.
bool SameEntry(const std::string& strA, const std::string& strB) {
  return AbsolutePath(strA) == AbsolutePath(strB);
}

void RemoveName(const std::string& strPath) {
  if (unlink(strPath.c_str()) == 0) SyncDir(ParentDir(strPath));
}

// Removes a scratch file of the step: only a name this program makes, so a damaged
// or foreign journal cannot delete a user's file through its "temp" entry.
void RemoveScratch(const std::string& strPath) {
  std::string strName = BaseName(strPath);
  if (strName.rfind(".twintone-partial-", 0) == 0 || strName.rfind(".twintone-link-", 0) == 0 ||
      strName.rfind(".twintone-undo-", 0) == 0) {
    RemoveName(strPath);
  }
}

// Gives strFrom the name strTo again (its folder made if it went), never replacing a
// file unless bReplace. False with the reason.
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

std::string ReadText(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Whether the .trashinfo at strInfo is the one the step wrote: its very bytes
// (version 2), or a record of the file's own old place (version 1).
bool IsOurTrashInfo(const std::string& strInfo, const JournalEntry& entry, int nVersion) {
  if (!FactsOf(strInfo).bRegular) return false;
  std::string strText = ReadText(strInfo);
  if (nVersion >= 2) return HashText(HashBytes(strText)) == entry.strInfoHash;
  size_t nPath = strText.find("\nPath=");
  if (strText.rfind("[Trash Info]\n", 0) != 0 || nPath == std::string::npos) return false;
  size_t nEnd = strText.find('\n', nPath + 1);
  std::string strRecorded = strText.substr(nPath + 6, nEnd - nPath - 6);
  std::string strOwn = PercentEncodePath(AbsolutePath(entry.strFrom));
  return !strRecorded.empty() && strOwn.size() >= strRecorded.size() &&
         strOwn.compare(strOwn.size() - strRecorded.size(), std::string::npos, strRecorded) == 0 &&
         (strOwn.size() == strRecorded.size() ||
          strOwn[strOwn.size() - strRecorded.size() - 1] == '/');
}

}  // namespace

Undone UndoRename(const JournalEntry& entry, int nVersion, std::string* pstrWhy) {
  bool bFromTaken = FactsOf(entry.strFrom).bExists;
  bool bToIsIt = IsTheFile(entry.strTo, entry, nVersion);
  if (bFromTaken && !bToIsIt) return Undone::kInPlace;
  if (bFromTaken) {
    *pstrWhy = "another file has taken its old name; it stays at " + entry.strTo;
    return Undone::kProblem;
  }
  if (!bToIsIt) {
    *pstrWhy = "it is neither at its old place nor, unchanged, at " + entry.strTo;
    return Undone::kProblem;
  }
  return PutBack(entry.strTo, entry.strFrom, false, pstrWhy) ? Undone::kRestored : Undone::kProblem;
}

Undone UndoCopy(const JournalEntry& entry, int nVersion, const std::string& strStamp,
                std::string* pstrWhy) {
  const std::string& strFrom = entry.strFrom;
  const std::string& strTo = entry.strTo;
  RemoveScratch(entry.strTemp);
  std::string strBack =
      ParentDir(strFrom) + "/.twintone-undo-" + strStamp + "-" + std::to_string(entry.nId);
  RemoveScratch(strBack);
  // The copy at strTo is the one the step made when it holds the bytes it checked (a
  // version 1 journal also wants the identity it recorded).
  FileFacts to = FactsOf(strTo);
  bool bCopyIsOurs =
      entry.bCopied && to.bRegular && HashOf(strTo) == entry.strCopyHash &&
      (nVersion >= 2 || (to.nDevice == entry.nCopyDevice && to.nInode == entry.nCopyInode));
  FileFacts from = FactsOf(strFrom);
  if (from.bExists) {
    if (!bCopyIsOurs) return Undone::kInPlace;
    // A link to the copy, or the copy under another name, holds no bytes of its own.
    if (!from.bRegular || SameInode(from, to)) {
      *pstrWhy = "its old place holds a link to the copy, not a file of its own; the copy "
                 "stays at " + strTo;
      return Undone::kProblem;
    }
    if (!SameBytes(strFrom, strTo)) {
      *pstrWhy = "both places hold a file and the old one has changed; both are left";
      return Undone::kProblem;
    }
    RemoveName(strTo);
    return Undone::kRestored;
  }
  if (!bCopyIsOurs) {
    *pstrWhy = "it is neither at its old place nor, unchanged, at " + strTo;
    return Undone::kProblem;
  }
  std::string strIgnored;
  EnsureDirectory(ParentDir(strFrom), &strIgnored);
  FdGuard fdCopy(open(strTo.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  CopyOutcome copy;
  int nError = fdCopy.Get() < 0 ? errno : CopyVerified(fdCopy.Get(), strBack, &copy);
  if (nError == 0 && HashText(copy.nHash) != entry.strCopyHash) {
    RemoveName(strBack);
    nError = EIO;
  }
  if (nError != 0 || !PutBack(strBack, strFrom, false, pstrWhy)) {
    if (nError != 0) *pstrWhy = std::string("copying back failed: ") + std::strerror(nError);
    RemoveScratch(strBack);
    return Undone::kProblem;
  }
  if (SameBytes(strFrom, strTo)) RemoveName(strTo);
  return Undone::kRestored;
}

Undone UndoTrashOrLink(const JournalEntry& entry, int nVersion, std::string* pstrWhy) {
  const std::string& strFrom = entry.strFrom;
  const std::string& strKept = entry.strTo;
  if (entry.strOp == "link") RemoveScratch(entry.strTemp);
  FileFacts from = FactsOf(strFrom);
  FileFacts kept = FactsOf(strKept);
  Undone result = Undone::kInPlace;
  if (IsTheFile(strKept, entry, nVersion)) {
    if (!from.bExists) {
      if (!PutBack(strKept, strFrom, false, pstrWhy)) return Undone::kProblem;
      result = Undone::kRestored;
    } else if (SameInode(from, kept)) {
      if (SameEntry(strFrom, strKept)) {
        *pstrWhy = "its old place and its place in the trash are one name";
        return Undone::kProblem;
      }
      RemoveName(strKept);  // a second name only: the original never left
    } else {
      // The link the step made, and nothing else, may be replaced by the original.
      FileFacts keeper = FactsOf(entry.strKeeper, true);
      char szTarget[4096];
      ssize_t nLength = readlink(strFrom.c_str(), szTarget, sizeof(szTarget));
      // A hard link is another name of the kept copy, never the kept copy's own name.
      FileFacts keeperName = FactsOf(entry.strKeeper);
      bool bOurLink = entry.strOp == "link" &&
                      (entry.bHardLink ? SameInode(from, keeper) && !SameInode(from, kept) &&
                                             keeperName.bRegular &&
                                             !SameEntry(strFrom, entry.strKeeper)
                                       : from.bSymlink && nLength > 0 &&
                                             (nVersion < 2 ||
                                              std::string(szTarget, nLength) == entry.strKeeper));
      if (!bOurLink) {
        *pstrWhy = "another file has taken its name; the original stays at " + strKept;
        return Undone::kProblem;
      }
      if (!PutBack(strKept, strFrom, true, pstrWhy)) return Undone::kProblem;
      result = Undone::kRestored;
    }
  } else if (!IsTheFile(strFrom, entry, nVersion)) {
    *pstrWhy = "it is neither at its old place nor, unchanged, at " + strKept;
    return Undone::kProblem;
  }
  if (IsOurTrashInfo(entry.strInfo, entry, nVersion)) RemoveName(entry.strInfo);
  return result;
}

}  // namespace twintone_cli
