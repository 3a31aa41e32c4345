#include "act/checks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/file_ops.h"
#include "common/paths.h"

namespace twintone_cli {
namespace {

bool SameFile(const FileFacts& a, const FileFacts& b) {
  return a.bExists && b.bExists && a.nDevice == b.nDevice && a.nInode == b.nInode;
}

// Empty when the kept copy is still the whole file the scan chose: the same identity
// (kept, from lstat), the same size and modification time (keptTarget, from stat: a
// link's target), and its bytes can be read. Else why its duplicates must stay.
std::string RecheckKeeper(const Member& keeper, const FileFacts& kept,
                          const FileFacts& keptTarget) {
  std::string strKept = "the kept copy " + keeper.strPath;
  if (keeper.nInode == 0) return strKept + " cannot be checked against the scan";
  if (kept.nDevice != keeper.nDevice || kept.nInode != keeper.nInode) {
    return "another file has taken the name of " + strKept;
  }
  if (keptTarget.nSize != keeper.nSizeBytes) return strKept + " changed size since the scan";
  if (keptTarget.nModifiedNs != keeper.nModifiedNs) {
    return strKept + " was modified since the scan";
  }
  FdGuard file(open(keeper.strPath.c_str(), O_RDONLY | O_CLOEXEC));
  char buffer[4096];
  ssize_t nRead = file.Get() < 0 ? -1 : read(file.Get(), buffer, sizeof(buffer));
  int nError = nRead < 0 ? errno : EIO;
  if (nRead < 0 || (nRead == 0 && keptTarget.nSize > 0)) {
    return strKept + " cannot be read: " + std::strerror(nError);
  }
  return "";
}

}  // namespace

std::string FolderProblem(const std::string& strDir) {
  for (std::string strPath = strDir;; strPath = ParentDir(strPath)) {
    FileFacts facts = FactsOf(strPath, true);
    if (facts.bExists) return facts.bDir ? "" : strPath + " is a file, not a folder";
    if (strPath == "/" || strPath == ".") return "";
  }
}

std::string LinkBelow(const std::string& strTop, const std::string& strDir) {
  for (size_t nPos = strTop.size() + 1; nPos <= strDir.size(); ++nPos) {
    if (nPos != strDir.size() && strDir[nPos] != '/') continue;
    std::string strPath = strDir.substr(0, nPos);
    FileFacts facts = FactsOf(strPath);
    if (!facts.bExists) return "";
    if (facts.bSymlink) return strPath + " is a symbolic link; nothing is moved through it";
    if (!facts.bDir) return strPath + " is a file, not a folder";
  }
  return "";
}

std::string PermissionProblem(const std::string& strSourceDir, const std::string& strTarget) {
  if (access(strSourceDir.c_str(), W_OK | X_OK) != 0) {
    return std::string("the source cannot be removed: ") + std::strerror(errno);
  }
  std::string strPath = strTarget;
  while (!FactsOf(strPath, true).bExists && strPath != "/" && strPath != ".") {
    strPath = ParentDir(strPath);
  }
  if (access(strPath.c_str(), W_OK | X_OK) != 0) {
    return "cannot write in " + strPath + ": " + std::strerror(errno);
  }
  return "";
}

std::string RecheckDuplicate(const Member& dup, const Member& keeper) {
  FileFacts now = FactsOf(dup.strPath);
  if (!now.bExists) return "it no longer exists";
  if (dup.nInode != 0 && (now.nDevice != dup.nDevice || now.nInode != dup.nInode)) {
    return "another file has taken its name since the scan";
  }
  // Compared to the second, whatever precision the scan recorded the time with.
  constexpr int64_t kNsPerSecond = 1000000000;
  if (dup.nModifiedNs != 0 && !now.bSymlink &&
      now.nModifiedNs / kNsPerSecond != dup.nModifiedNs / kNsPerSecond) {
    return "it was modified since the scan";
  }
  FileFacts kept = FactsOf(keeper.strPath);
  FileFacts keptTarget = FactsOf(keeper.strPath, true);
  if (!keptTarget.bExists) return "the kept copy " + keeper.strPath + " is gone";
  if (SameFile(kept, now)) return "it is the kept copy under another name";
  if (SameFile(keptTarget, now)) return "the kept copy is a link to it";
  return RecheckKeeper(keeper, kept, keptTarget);
}

}  // namespace twintone_cli
