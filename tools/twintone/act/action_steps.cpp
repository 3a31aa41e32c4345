#include "act/action_steps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/file_ops.h"
#include "common/paths.h"

namespace twintone_cli {
namespace {

std::string Why(int nError) { return std::strerror(nError); }

const char kChangedWhileCopied[] =
    "it changed while it was copied; the copy was removed and the file stays in place";

JournalStep Step(const char* pszStep, int nId) {
  JournalStep step;
  step.strStep = pszStep;
  step.nId = nId;
  return step;
}

// The line announcing operation pszOp on the file strFrom, found as source: its
// identity and (when it could be read) the hash of its bytes, so that undo can tell the
// very file it may put back. Paths in the journal are absolute, so undo works from any
// folder.
JournalStep Intent(int nId, const char* pszOp, const std::string& strFrom,
                   const FileFacts& source, const std::string& strHash) {
  JournalStep intent = Step("intent", nId);
  intent.strOp = pszOp;
  intent.strFrom = AbsolutePath(strFrom);
  intent.nDevice = static_cast<int64_t>(source.nDevice);
  intent.nInode = static_cast<int64_t>(source.nInode);
  intent.nSize = source.nSize;
  intent.strHash = strHash;
  return intent;
}

// The hash of the file at strPath, "" when it cannot be read.
std::string HashOf(const std::string& strPath) {
  uint64_t nHash = 0;
  return HashFile(strPath, &nHash) ? HashText(nHash) : "";
}

// Writes strText as the .trashinfo at strInfo, never replacing one. 0 or an errno value.
int WriteTrashInfo(const std::string& strText, const TrashDir& trash, const std::string& strInfo) {
  FdGuard info(open(strInfo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (info.Get() < 0) return errno;
  if (write(info.Get(), strText.data(), strText.size()) != static_cast<ssize_t>(strText.size()) ||
      fsync(info.Get()) != 0) {
    int nError = errno != 0 ? errno : EIO;
    unlink(strInfo.c_str());
    return nError;
  }
  int nError = info.Close();
  if (nError == 0) nError = SyncDir(trash.strInfo);
  if (nError != 0) unlink(strInfo.c_str());
  return nError;
}

StepResult Failed(Journal* pJournal, int nId, const std::string& strWhy, std::string* pstrError) {
  *pstrError = strWhy;
  JournalStep failed = Step("failed", nId);
  failed.strError = strWhy;
  return pJournal->Write(failed) ? StepResult::kFailed : StepResult::kJournal;
}

}  // namespace

bool MakeDirsJournalled(Journal* pJournal, const std::string& strDir, std::string* pstrError) {
  for (size_t nPos = 1; nPos <= strDir.size(); ++nPos) {
    if (nPos != strDir.size() && strDir[nPos] != '/') continue;
    std::string strPrefix = strDir.substr(0, nPos);
    FileFacts facts = FactsOf(strPrefix, true);
    if (facts.bExists && facts.bDir) continue;
    if (facts.bExists) {
      *pstrError = strPrefix + " is a file, not a folder";
      return false;
    }
    JournalStep made;
    made.strStep = "mkdir";
    made.strPath = AbsolutePath(strPrefix);
    if (!pJournal->Write(made)) {
      *pstrError = "cannot write the journal";
      return false;
    }
    if (mkdir(strPrefix.c_str(), 0777) != 0 && errno != EEXIST) {
      *pstrError = "cannot create " + strPrefix + ": " + Why(errno);
      return false;
    }
    SyncDir(ParentDir(strPrefix));
  }
  return true;
}

StepResult StepMove(Journal* pJournal, int nId, const Member& dup, const std::string& strTo,
                    std::string* pstrError) {
  const std::string& strFrom = dup.strPath;
  FileFacts source = FactsOf(strFrom);
  bool bSameFs = FactsOf(ParentDir(strTo), true).nDevice == source.nDevice;
  if (bSameFs || source.bSymlink) {
    std::string strHash = HashOf(strFrom);
    if (strHash.empty()) return Failed(pJournal, nId, "cannot read it: " + Why(errno), pstrError);
    JournalStep intent = Intent(nId, "rename", strFrom, source, strHash);
    intent.strTo = AbsolutePath(strTo);
    if (!pJournal->Write(intent)) return StepResult::kJournal;
    int nError = RenameNoReplace(strFrom, strTo);
    if (nError == 0) {
      SyncDir(ParentDir(strTo));
      SyncDir(ParentDir(strFrom));
      return pJournal->Write(Step("done", nId)) ? StepResult::kDone : StepResult::kJournal;
    }
    // Two mounts of one file system refuse a rename between them: copy instead, under a
    // new intent for the same file (undo reads the last one).
    if (nError != EXDEV || source.bSymlink) return Failed(pJournal, nId, Why(nError), pstrError);
  }

  // The source stays open from before the copy to its removal, so the last look at it
  // sees the very file that was copied.
  FdGuard fdSource(open(strFrom.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fdSource.Get() < 0) return Failed(pJournal, nId, "cannot read it: " + Why(errno), pstrError);
  source = FactsOfFd(fdSource.Get());
  std::string strTemp =
      ParentDir(strTo) + "/.twintone-partial-" + pJournal->Stamp() + "-" + std::to_string(nId);
  JournalStep intent = Intent(nId, "copy", strFrom, source, "");
  intent.strTo = AbsolutePath(strTo);
  intent.strTemp = AbsolutePath(strTemp);
  if (!pJournal->Write(intent)) return StepResult::kJournal;
  CopyOutcome copy;
  int nError = CopyVerified(fdSource.Get(), strTemp, &copy);
  if (nError == ECANCELED) {
    return Failed(pJournal, nId, "stopped by an interrupt; it stays in place", pstrError);
  }
  if (nError != 0) return Failed(pJournal, nId, "copy failed: " + Why(nError), pstrError);
  if (!SameState(FactsOfFd(fdSource.Get()), copy.source)) {
    unlink(strTemp.c_str());
    return Failed(pJournal, nId, kChangedWhileCopied, pstrError);
  }
  JournalStep copied = Step("copied", nId);
  copied.strHash = HashText(copy.nHash);
  copied.nCopyDevice = static_cast<int64_t>(copy.nDevice);
  copied.nCopyInode = static_cast<int64_t>(copy.nInode);
  if (!pJournal->Write(copied)) {
    unlink(strTemp.c_str());
    return StepResult::kJournal;
  }
  nError = RenameNoReplace(strTemp, strTo);
  if (nError != 0) {
    unlink(strTemp.c_str());
    return Failed(pJournal, nId, Why(nError), pstrError);
  }
  SyncDir(ParentDir(strTo));
  if (!pJournal->Write(Step("placed", nId))) return StepResult::kJournal;
  // The last look before the source goes: a write since the copy began (size, times)
  // or another file under its name means the copy is not the whole of it.
  FileFacts named = FactsOf(strFrom);
  bool bUnchanged = SameState(FactsOfFd(fdSource.Get()), copy.source) &&
                    named.nDevice == copy.source.nDevice && named.nInode == copy.source.nInode;
  if (!bUnchanged || unlink(strFrom.c_str()) != 0) {
    // Both copies exist; the one just made goes again, so a rerun never stacks copies.
    nError = errno;
    unlink(strTo.c_str());
    SyncDir(ParentDir(strTo));
    return Failed(pJournal, nId,
                  bUnchanged ? "the source cannot be removed: " + Why(nError) : kChangedWhileCopied,
                  pstrError);
  }
  SyncDir(ParentDir(strFrom));
  return pJournal->Write(Step("done", nId)) ? StepResult::kDone : StepResult::kJournal;
}

StepResult StepTrash(Journal* pJournal, int nId, const Member& dup, const TrashDir& trash,
                     const std::string& strName, std::string* pstrError) {
  std::string strTo = trash.strFiles + "/" + strName;
  std::string strInfo = trash.strInfo + "/" + strName + ".trashinfo";
  FileFacts source = FactsOf(dup.strPath);
  std::string strHash = HashOf(dup.strPath);
  if (strHash.empty()) return Failed(pJournal, nId, "cannot read it: " + Why(errno), pstrError);
  std::string strText = TrashInfoText(AbsolutePath(dup.strPath), trash.strTop);
  JournalStep intent = Intent(nId, "trash", dup.strPath, source, strHash);
  intent.strTo = AbsolutePath(strTo);
  intent.strInfo = AbsolutePath(strInfo);
  intent.strInfoHash = HashText(HashBytes(strText));
  if (!pJournal->Write(intent)) return StepResult::kJournal;
  int nError = WriteTrashInfo(strText, trash, strInfo);
  if (nError != 0)
    return Failed(pJournal, nId, "cannot write " + strInfo + ": " + Why(nError), pstrError);
  nError = RenameNoReplace(dup.strPath, strTo);
  if (nError != 0) {
    unlink(strInfo.c_str());
    return Failed(pJournal, nId, Why(nError), pstrError);
  }
  SyncDir(trash.strFiles);
  SyncDir(ParentDir(dup.strPath));
  return pJournal->Write(Step("done", nId)) ? StepResult::kDone : StepResult::kJournal;
}

StepResult StepLink(Journal* pJournal, int nId, bool bHard, const Member& dup, const Member& keeper,
                    const TrashDir& trash, const std::string& strName, std::string* pstrError) {
  std::string strKept = trash.strFiles + "/" + strName;
  std::string strInfo = trash.strInfo + "/" + strName + ".trashinfo";
  std::string strTemp =
      ParentDir(dup.strPath) + "/.twintone-link-" + pJournal->Stamp() + "-" + std::to_string(nId);
  std::string strTarget = AbsolutePath(keeper.strPath);
  FileFacts source = FactsOf(dup.strPath);
  std::string strHash = HashOf(dup.strPath);
  if (strHash.empty()) return Failed(pJournal, nId, "cannot read it: " + Why(errno), pstrError);
  std::string strText = TrashInfoText(AbsolutePath(dup.strPath), trash.strTop);
  JournalStep intent = Intent(nId, "link", dup.strPath, source, strHash);
  intent.strLink = bHard ? "hard" : "symbolic";
  intent.strKeeper = strTarget;
  intent.strTemp = AbsolutePath(strTemp);
  intent.strTo = AbsolutePath(strKept);
  intent.strInfo = AbsolutePath(strInfo);
  intent.strInfoHash = HashText(HashBytes(strText));
  if (!pJournal->Write(intent)) return StepResult::kJournal;
  int nError = WriteTrashInfo(strText, trash, strInfo);
  if (nError != 0)
    return Failed(pJournal, nId, "cannot write " + strInfo + ": " + Why(nError), pstrError);
  // The original keeps a second name in the trash before its own name is replaced.
  if (link(dup.strPath.c_str(), strKept.c_str()) != 0) {
    nError = errno;
    unlink(strInfo.c_str());
    return Failed(pJournal, nId, "cannot keep the original in the trash: " + Why(nError),
                  pstrError);
  }
  SyncDir(trash.strFiles);
  int nResult = bHard ? link(strTarget.c_str(), strTemp.c_str())
                      : symlink(strTarget.c_str(), strTemp.c_str());
  if (nResult != 0 || rename(strTemp.c_str(), dup.strPath.c_str()) != 0) {
    nError = errno;
    unlink(strTemp.c_str());
    unlink(strKept.c_str());
    unlink(strInfo.c_str());
    return Failed(pJournal, nId,
                  nError == EXDEV ? "a hard link cannot reach across file systems" : Why(nError),
                  pstrError);
  }
  SyncDir(ParentDir(dup.strPath));
  return pJournal->Write(Step("done", nId)) ? StepResult::kDone : StepResult::kJournal;
}

}  // namespace twintone_cli
