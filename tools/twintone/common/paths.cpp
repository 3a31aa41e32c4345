#include "common/paths.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "common/file_ops.h"

namespace twintone_cli {
namespace {

std::string StripDotSlash(std::string strPath) {
  while (strPath.compare(0, 2, "./") == 0) strPath.erase(0, 2);
  while (strPath.size() > 1 && strPath.back() == '/') strPath.pop_back();
  return strPath;
}

bool HasDotDot(const std::string& strRel) {
  size_t nStart = 0;
  while (true) {
    size_t nSlash = strRel.find('/', nStart);
    if (strRel.compare(nStart, nSlash - nStart, "..") == 0 &&
        (nSlash == std::string::npos ? strRel.size() : nSlash) - nStart == 2) {
      return true;
    }
    if (nSlash == std::string::npos) return false;
    nStart = nSlash + 1;
  }
}

}  // namespace

std::string RelativeName(const std::string& strPath, const std::vector<std::string>& vecRoots) {
  std::string strClean = StripDotSlash(strPath);
  std::string strBest;
  size_t nBest = 0;
  for (const std::string& strRootArg : vecRoots) {
    std::string strRoot = StripDotSlash(strRootArg);
    if (!FactsOf(strRootArg, true).bDir) continue;
    std::string strRel;
    if (strRoot == "." || strRoot.empty()) {
      if (strClean.empty() || strClean[0] == '/') continue;
      strRel = strClean;
    } else if (strRoot == "/" && strClean.size() > 1 && strClean[0] == '/') {
      strRel = strClean.substr(1);
    } else if (strClean.compare(0, strRoot.size() + 1, strRoot + "/") == 0) {
      strRel = strClean.substr(strRoot.size() + 1);
    } else {
      continue;
    }
    while (strRel.find("//") != std::string::npos) strRel.replace(strRel.find("//"), 2, "/");
    strRel = StripDotSlash(strRel);
    if (strRoot.size() + 1 > nBest && !strRel.empty() && !HasDotDot(strRel)) {
      nBest = strRoot.size() + 1;
      strBest = strRel;
    }
  }
  return strBest.empty() ? BaseName(strPath) : strBest;
}

std::string AbsolutePath(const std::string& strPath) {
  std::string strDir = ParentDir(strPath);
  char szResolved[PATH_MAX];
  if (realpath(strDir.c_str(), szResolved) != nullptr) {
    std::string strAbs = szResolved;
    return (strAbs == "/" ? "" : strAbs) + "/" + BaseName(strPath);
  }
  if (!strPath.empty() && strPath[0] == '/') return strPath;
  char szCwd[PATH_MAX];
  return std::string(getcwd(szCwd, sizeof(szCwd)) != nullptr ? szCwd : ".") + "/" + strPath;
}

std::string PercentEncodePath(const std::string& strBytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string strOut;
  for (unsigned char c : strBytes) {
    bool bPlain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (bPlain) {
      strOut += static_cast<char>(c);
    } else {
      strOut += '%';
      strOut += kHex[c >> 4];
      strOut += kHex[c & 15];
    }
  }
  return strOut;
}

std::string RealPath(const std::string& strPath) {
  char* pszReal = realpath(strPath.c_str(), nullptr);
  std::string strReal = pszReal != nullptr ? pszReal : "";
  free(pszReal);
  return strReal;
}

bool IsWithin(const std::string& strPath, const std::string& strDir) {
  if (strPath.empty() || strPath[0] != '/' || strDir.empty() || strDir[0] != '/' ||
      strPath.find('\0') != std::string::npos || HasDotDot(strPath) ||
      strPath.find("/./") != std::string::npos || strPath.find("//") != std::string::npos ||
      (strPath.size() >= 2 && strPath.compare(strPath.size() - 2, 2, "/.") == 0)) {
    return false;
  }
  if (strDir == "/" || strPath == strDir) return true;
  return strPath.compare(0, strDir.size() + 1, strDir + "/") == 0;
}

std::string TwintoneCacheDir() {
  const char* pszXdg = getenv("XDG_CACHE_HOME");
  if (pszXdg != nullptr && pszXdg[0] == '/') return std::string(pszXdg) + "/twintone";
  const char* pszHome = getenv("HOME");
  if (pszHome != nullptr && pszHome[0] != '\0') return std::string(pszHome) + "/.cache/twintone";
  return "";
}

}  // namespace twintone_cli

namespace twintone_cli {

std::string ExpandHome(const std::string& strPath) {
  const char* pszHome = getenv("HOME");
  if (pszHome == nullptr || *pszHome == '\0') return strPath;
  if (strPath != "~" && strPath.compare(0, 2, "~/") != 0) return strPath;
  return pszHome + strPath.substr(1);
}

}  // namespace twintone_cli
