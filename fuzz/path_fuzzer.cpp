// The path helpers (and trim) on arbitrary text, NUL and non-UTF-8 bytes included.
// Besides not crashing, each result keeps the shape its helper promises.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/ostools.h"
#include "support/tinydir.h"
#include "twintone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  FuzzedDataProvider input(pData, nSize);
  const std::string strPattern = input.ConsumeRandomLengthString(16);
  const std::string strReplacement = input.ConsumeRandomLengthString(16);
  const std::string strPath = input.ConsumeRemainingBytesAsString();

  std::string strReplaced = strPath;
  string_replace(strReplaced, strPattern, strReplacement);
  if (strPattern.empty() && strReplaced != strPath) abort();
  if (strPattern == strReplacement && strReplaced != strPath) abort();

  std::string strShort = strPath;
  GetPathShortName(strShort);
  if (strShort.find_first_of("/\\") != std::string::npos) abort();
  if (strShort.size() > strPath.size()) abort();

  const std::string strExt = GetFilePosfix(strPath);
  if (strExt.find('.') != std::string::npos) abort();
  if (std::any_of(strExt.begin(), strExt.end(), [](char ch) { return ch >= 'A' && ch <= 'Z'; })) {
    abort();
  }
  IsSupportPos(strExt, g_pszSupportedAudio);
  IsSupportPos(strPath, strPattern);

  // Read-only queries of the file system on whatever the text names.
  const bool bDir = IsDirExits(strPath);
  if (bDir && !IsFileExists(strPath)) abort();
  twintone::GetLinkTargetDir(strPath.c_str());

  std::string strTrimmed = strPath;
  trim(strTrimmed);
  const size_t nBlanks = static_cast<size_t>(std::count(strPath.begin(), strPath.end(), ' '));
  if (strTrimmed.find(' ') != std::string::npos) abort();
  if (strTrimmed.size() != strPath.size() - nBlanks) abort();
  return 0;
}
