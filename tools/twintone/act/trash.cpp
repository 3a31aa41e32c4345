#include "act/trash.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "common/file_ops.h"
#include "common/paths.h"

namespace twintone_cli {
namespace {

std::string HomeTrash() {
  const char* pszData = getenv("XDG_DATA_HOME");
  if (pszData != nullptr && pszData[0] == '/') return std::string(pszData) + "/Trash";
  const char* pszHome = getenv("HOME");
  return std::string(pszHome != nullptr ? pszHome : "") + "/.local/share/Trash";
}

// The device of strPath, or of its nearest existing ancestor.
uint64_t DeviceOf(std::string strPath) {
  while (true) {
    FileFacts facts = FactsOf(strPath, true);
    if (facts.bExists || strPath == "/" || strPath == ".") return facts.nDevice;
    strPath = ParentDir(strPath);
  }
}

// The mount point of the file system holding the folder strDir (absolute, resolved).
std::string MountPointOf(std::string strDir) {
  uint64_t nDevice = FactsOf(strDir, true).nDevice;
  while (strDir != "/") {
    std::string strParent = ParentDir(strDir);
    if (FactsOf(strParent, true).nDevice != nDevice) break;
    strDir = strParent;
  }
  return strDir;
}

// Why strDir cannot hold trashed files, "" when it can (or is missing, to be made):
// it must be a folder, not a link, owned by the user, and with bPrivate closed to
// everyone else. Another user's folder, or a link to one, would hand them the file.
std::string UnsafeFolder(const std::string& strDir, bool bPrivate) {
  struct stat st;
  if (lstat(strDir.c_str(), &st) != 0) return "";
  if (S_ISLNK(st.st_mode)) return strDir + " is a symbolic link";
  if (!S_ISDIR(st.st_mode)) return strDir + " is not a folder";
  if (st.st_uid != getuid()) return strDir + " belongs to another user";
  if (bPrivate && (st.st_mode & 07777) != 0700) return strDir + " is open to other users";
  return "";
}

// Makes strDir (mode 0700) unless it exists, then checks it is safe to use.
bool MakeTrashDir(const std::string& strDir, bool bPrivate, std::string* pstrError) {
  if (mkdir(strDir.c_str(), 0700) != 0 && errno != EEXIST) {
    *pstrError = "cannot create the trash folder " + strDir + ": " + std::strerror(errno);
    return false;
  }
  *pstrError = UnsafeFolder(strDir, bPrivate);
  return pstrError->empty();
}

// Uses strRoot/files and strRoot/info; with bCreate, makes what is missing (strRoot's
// parents too for the home trash). False with a reason when any is unsafe.
bool UseTrash(const std::string& strRoot, bool bPrivate, bool bCreate, TrashDir* pTrash,
              std::string* pstrError) {
  pTrash->strFiles = strRoot + "/files";
  pTrash->strInfo = strRoot + "/info";
  for (const std::string& strDir : {strRoot, pTrash->strFiles, pTrash->strInfo}) {
    std::string strProblem = UnsafeFolder(strDir, bPrivate && strDir == strRoot);
    if (!strProblem.empty()) {
      *pstrError = "the trash cannot be used: " + strProblem;
      return false;
    }
  }
  if (!bCreate) return true;
  // The home trash's parents are made private too, as the data folder should be.
  for (size_t nPos = 1; pTrash->strTop.empty() && nPos < strRoot.size(); ++nPos) {
    if (strRoot[nPos] == '/') mkdir(strRoot.substr(0, nPos).c_str(), 0700);
  }
  for (const std::string& strDir : {strRoot, pTrash->strFiles, pTrash->strInfo}) {
    if (!MakeTrashDir(strDir, bPrivate && strDir == strRoot, pstrError)) return false;
  }
  return true;
}

}  // namespace

bool FindTrash(const std::string& strPath, bool bCreate, TrashDir* pTrash, std::string* pstrError) {
  std::string strAbs = AbsolutePath(strPath);
  std::string strHome = HomeTrash();
  uint64_t nFileDevice = FactsOf(ParentDir(strAbs), true).nDevice;
  *pTrash = TrashDir();
  if (DeviceOf(strHome) == nFileDevice) return UseTrash(strHome, false, bCreate, pTrash, pstrError);

  pTrash->strTop = MountPointOf(ParentDir(strAbs));
  std::string strTop = pTrash->strTop == "/" ? "" : pTrash->strTop;
  std::string strUid = std::to_string(getuid());
  // $topdir/.Trash/$uid when an administrator made $topdir/.Trash for every user (a
  // real folder with the sticky bit), else $topdir/.Trash-$uid.
  struct stat st;
  std::string strShared = strTop + "/.Trash";
  if (lstat(strShared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
      UnsafeFolder(strShared + "/" + strUid, true).empty() &&
      UseTrash(strShared + "/" + strUid, true, bCreate, pTrash, pstrError)) {
    return true;
  }
  std::string strRoot = strTop + "/.Trash-" + strUid;
  if (!bCreate && !FactsOf(strRoot).bExists && access(pTrash->strTop.c_str(), W_OK) != 0) {
    *pstrError =
        "no trash on the file system of " + strPath + " (" + pTrash->strTop + " is not writable)";
    return false;
  }
  return UseTrash(strRoot, true, bCreate, pTrash, pstrError);
}

std::string TrashInfoText(const std::string& strAbsolutePath, const std::string& strTop) {
  std::string strPath = strAbsolutePath;
  if (!strTop.empty() && strTop != "/" &&
      strPath.compare(0, strTop.size() + 1, strTop + "/") == 0) {
    strPath = strPath.substr(strTop.size() + 1);
  } else if (strTop == "/") {
    strPath = strPath.substr(1);
  }
  std::time_t now = std::time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char szDate[32];
  std::strftime(szDate, sizeof(szDate), "%Y-%m-%dT%H:%M:%S", &local);
  return "[Trash Info]\nPath=" + PercentEncodePath(strPath) + "\nDeletionDate=" + szDate + "\n";
}

}  // namespace twintone_cli
