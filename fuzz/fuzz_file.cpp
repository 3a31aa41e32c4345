#include "fuzz_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "support/tinydir.h"

namespace {

std::string g_strDir;  // the process's folder; empty until first use
std::string g_strLast;  // the file written last; each call removes the one before

void RemoveFolder() {
  if (g_strDir.empty()) return;
  if (!g_strLast.empty()) unlink(g_strLast.c_str());
  rmdir(g_strDir.c_str());
}

const std::string& Folder() {
  if (g_strDir.empty()) {
    char szTemplate[] = "/tmp/twintone-fuzz-XXXXXX";
    if (mkdtemp(szTemplate) == nullptr) abort();
    g_strDir = szTemplate;
    atexit(RemoveFolder);
  }
  return g_strDir;
}

// The supported extensions as the scan lists them, then "txt" and none.
std::vector<std::string> Extensions() {
  std::vector<std::string> vecExt;
  std::string strList = g_pszSupportedAudio;
  size_t nStart = 0;
  while (nStart < strList.size()) {
    size_t nEnd = strList.find(';', nStart);
    if (nEnd == std::string::npos) nEnd = strList.size();
    if (nEnd > nStart) vecExt.push_back(strList.substr(nStart, nEnd - nStart));
    nStart = nEnd + 1;
  }
  vecExt.push_back("txt");
  vecExt.push_back("");
  return vecExt;
}

}  // namespace

std::string SaveAsAudioFile(const uint8_t* pData, size_t nSize) {
  static const std::vector<std::string> vecExt = Extensions();
  size_t nChoice = nSize > 0 ? pData[0] % vecExt.size() : vecExt.size() - 1;
  std::string strPath = Folder() + "/input";
  if (!vecExt[nChoice].empty()) strPath += "." + vecExt[nChoice];
  if (!g_strLast.empty() && g_strLast != strPath) unlink(g_strLast.c_str());
  g_strLast = strPath;
  FILE* pFile = fopen(strPath.c_str(), "wb");
  if (pFile == nullptr) abort();
  if (nSize > 1 && fwrite(pData + 1, 1, nSize - 1, pFile) != nSize - 1) abort();
  if (fclose(pFile) != 0) abort();
  return strPath;
}
