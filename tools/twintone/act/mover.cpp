#include "act/mover.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace twintone_cli {

bool EnsureDirectory(const std::string& strDir, std::string* pstrError) {
  for (size_t nPos = 1; nPos <= strDir.size(); ++nPos) {
    if (nPos != strDir.size() && strDir[nPos] != '/') continue;
    std::string strPrefix = strDir.substr(0, nPos);
    if (mkdir(strPrefix.c_str(), 0777) != 0 && errno != EEXIST) {
      *pstrError = "cannot create " + strPrefix + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat st;
  if (stat(strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *pstrError = strDir + " is not a folder";
    return false;
  }
  return true;
}

std::string NumberedName(const std::string& strName, int nCopy) {
  if (nCopy == 0) return strName;
  size_t nDot = strName.find_last_of('.');
  std::string strSuffix = " (" + std::to_string(nCopy) + ")";
  if (nDot == std::string::npos || nDot == 0) return strName + strSuffix;
  return strName.substr(0, nDot) + strSuffix + strName.substr(nDot);
}

}  // namespace twintone_cli
