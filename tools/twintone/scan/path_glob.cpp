#include "scan/path_glob.h"

#include <fnmatch.h>

#include <cstring>

namespace twintone_cli {
namespace {

// The end of the class opening at pszClass ('['): just past its ']', or nullptr when
// it never closes (the '[' is then an ordinary byte). A ']' first in the class, or
// after its '!' or '^', belongs to it.
const char* ClassEnd(const char* pszClass) {
  const char* p = pszClass + 1;
  if (*p == '!' || *p == '^') ++p;
  if (*p == ']') ++p;
  while (*p != '\0' && *p != ']') ++p;
  return *p == ']' ? p + 1 : nullptr;
}

bool Match(const char* p, const char* s) {
  while (true) {
    if (*p == '\0') return *s == '\0';
    if (p[0] == '*' && p[1] == '*') {
      const char* pszRest = p + 2;
      if (*pszRest == '/' && Match(pszRest + 1, s)) return true;
      for (const char* t = s;; ++t) {
        if (Match(pszRest, t)) return true;
        if (*t == '\0') return false;
      }
    }
    if (*p == '*') {
      for (const char* t = s;; ++t) {
        if (Match(p + 1, t)) return true;
        if (*t == '\0' || *t == '/') return false;
      }
    }
    if (*s == '\0') return false;
    if (*p == '?') {
      if (*s == '/') return false;
      ++p, ++s;
      continue;
    }
    if (*p == '[') {
      if (const char* pszEnd = ClassEnd(p)) {
        std::string strClass(p, pszEnd);
        char szByte[2] = {*s, '\0'};
        if (*s == '/' || fnmatch(strClass.c_str(), szByte, 0) != 0) return false;
        p = pszEnd, ++s;
        continue;
      }
    }
    if (*p == '\\' && p[1] != '\0') ++p;
    if (*p != *s) return false;
    ++p, ++s;
  }
}

}  // namespace

bool GlobMatches(const std::string& strPattern, const std::string& strText) {
  return Match(strPattern.c_str(), strText.c_str());
}

const std::string* ExcludingPattern(const std::vector<std::string>& vecPatterns,
                                    const std::string& strPath, const std::string& strRelative,
                                    const std::string& strName) {
  for (const std::string& strPattern : vecPatterns) {
    bool bMatches = strPattern.find('/') == std::string::npos
                        ? GlobMatches(strPattern, strName)
                        : GlobMatches(strPattern, strPath) ||
                              (!strRelative.empty() && GlobMatches(strPattern, strRelative));
    if (bMatches) return &strPattern;
  }
  return nullptr;
}

}  // namespace twintone_cli
