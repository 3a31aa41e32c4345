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

// Makes strDir with mode 0700 (parents with 0700 too) unless it exists as a folder.
bool MakeTrashDir(const std::string& strDir, std::string* pstrError) {
  for (size_t nPos = 1; nPos <= strDir.size(); ++nPos) {
    if (nPos != strDir.size() && strDir[nPos] != '/') continue;
    std::string strPrefix = strDir.substr(0, nPos);
    if (mkdir(strPrefix.c_str(), 0700) != 0 && errno != EEXIST) {
      *pstrError = "cannot create the trash folder " + strPrefix + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool UseTrash(const std::string& strRoot, bool bCreate, TrashDir* pTrash, std::string* pstrError) {
  pTrash->strFiles = strRoot + "/files";
  pTrash->strInfo = strRoot + "/info";
  if (bCreate &&
      !(MakeTrashDir(pTrash->strFiles, pstrError) && MakeTrashDir(pTrash->strInfo, pstrError))) {
    return false;
  }
  return true;
}

}  // namespace

bool FindTrash(const std::string& strPath, bool bCreate, TrashDir* pTrash, std::string* pstrError) {
  std::string strAbs = AbsolutePath(strPath);
  std::string strHome = HomeTrash();
  uint64_t nFileDevice = FactsOf(ParentDir(strAbs), true).nDevice;
  *pTrash = TrashDir();
  if (DeviceOf(strHome) == nFileDevice) return UseTrash(strHome, bCreate, pTrash, pstrError);

  pTrash->strTop = MountPointOf(ParentDir(strAbs));
  std::string strRoot =
      (pTrash->strTop == "/" ? "" : pTrash->strTop) + "/.Trash-" + std::to_string(getuid());
  FileFacts facts = FactsOf(strRoot);
  if (facts.bExists && !facts.bDir) {
    *pstrError = strRoot + " is not a folder, so " + strPath + " cannot go to a trash";
    return false;
  }
  if (!facts.bExists && bCreate && mkdir(strRoot.c_str(), 0700) != 0) {
    *pstrError = "no trash on the file system of " + strPath + " (cannot create " + strRoot + ": " +
                 std::strerror(errno) + ")";
    return false;
  }
  if (!facts.bExists && !bCreate && access(pTrash->strTop.c_str(), W_OK) != 0) {
    *pstrError =
        "no trash on the file system of " + strPath + " (" + pTrash->strTop + " is not writable)";
    return false;
  }
  return UseTrash(strRoot, bCreate, pTrash, pstrError);
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
