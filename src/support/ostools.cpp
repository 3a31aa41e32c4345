// Path and file helpers. None keeps state or takes a lock; all may run on any thread.
// tolower runs under whatever locale the host set; the library never changes it.
#include "support/ostools.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "twintone.h"

bool IsFileExists(std::string path) { return access(path.c_str(), F_OK) != -1; }

bool IsDirExits(std::string path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode);
}

// The search resumes after each inserted replacement, so a replacement containing the
// pattern is never searched again. An empty pattern changes nothing.
void string_replace(std::string& text, const std::string& pattern, const std::string& replacement) {
  if (pattern.empty()) return;
  const size_t nPatternLen = pattern.size();
  const size_t nReplacementLen = replacement.size();
  size_t nPos = 0;
  while ((nPos = text.find(pattern, nPos)) != std::string::npos) {
    text.replace(nPos, nPatternLen, replacement);
    nPos += nReplacementLen;
  }
}

// Reduces a path (either separator) to its last component without the last extension:
// "C:\music\a.b.mp3" becomes "a.b", "/x/.hidden" becomes "".
void GetPathShortName(std::string& path) {
  if (path.empty()) return;
  string_replace(path, "\\", "/");
  size_t nSlash = path.rfind('/');
  if (nSlash != std::string::npos) path.erase(0, nSlash + 1);
  size_t nDot = path.rfind('.');
  if (nDot != std::string::npos) path.erase(nDot);
}

// Everything after the last "." of the whole path (folders included), ASCII letters
// lowered; empty when there is no ".".
std::string GetFilePosfix(std::string path) {
  size_t nDot = path.rfind('.');
  if (nDot == std::string::npos) return std::string();
  std::string strExt = path.substr(nDot + 1);
  for (char& ch : strExt) {
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  return strExt;
}

// Case-sensitive; list holds extensions each enclosed in ";".
bool IsSupportPos(const std::string& ext, const std::string& list) {
  return list.find(";" + ext + ";") != std::string::npos;
}

std::string twintone::GetLinkTargetDir(const char* pszLink) {
  char szPath[OSTOOLS_EXE_PATH_MAX];
  ssize_t nLen = readlink(pszLink, szPath, sizeof(szPath));
  // readlink writes no terminator and silently truncates, so a result that fills the
  // whole buffer means the target plus its terminator would not have fitted.
  if (nLen < 0 || nLen >= static_cast<ssize_t>(sizeof(szPath))) return std::string();
  std::string strPath(szPath, static_cast<size_t>(nLen));
  size_t nSlash = strPath.rfind('/');
  if (nSlash == std::string::npos) return strPath;
  return strPath.substr(0, nSlash);
}

// The folder of the running executable as the kernel reports it (symbolic links
// resolved by the kernel, nothing else normalised), without a trailing "/"; empty for
// an executable directly in "/" or when its path needs more than 1024 bytes.
std::string GetAppPath() { return twintone::GetLinkTargetDir("/proc/self/exe"); }
