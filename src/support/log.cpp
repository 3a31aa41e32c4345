// The diagnostic log. The stream is unbuffered and flushed after every message, so
// each line is on disk when lg returns and a killed process loses nothing but the end
// line. No lock: see log.h.
#include "support/log.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "twintone.h"

CCLog g_log;

namespace {

const char kLogFileName[] = "/dedupe.log";
const size_t kTimeBufferSize = 256;
// A message is formatted into a zero-filled buffer of kMessageBufferSize bytes with
// at most kMessageLimit - 1 bytes of text.
const size_t kMessageBufferSize = 10240;
const size_t kMessageLimit = 4096;

// Local time as "month-day-year  hour:minute:second", 24-hour clock.
void FormatNow(char (&szTime)[kTimeBufferSize]) {
  std::memset(szTime, 0, sizeof(szTime));
  time_t nNow = time(nullptr);
  struct tm* pLocal = localtime(&nNow);
  if (pLocal != nullptr) strftime(szTime, sizeof(szTime) - 1, "%m-%d-%Y  %H:%M:%S", pLocal);
}

}  // namespace

CCLog::CCLog() : pFile(nullptr), bEnable(false) {}

CCLog::~CCLog() {
  if (pFile == nullptr) return;
  char szTime[kTimeBufferSize];
  FormatNow(szTime);
  lg("end...%s", szTime);
  fclose(pFile);
  pFile = nullptr;
}

void CCLog::lg(const char* pszFormat, ...) {
  if (bEnable && pFile == nullptr) {
    // Building the path may run out of memory; lg must not throw into its callers.
    try {
      std::string strPath = (strDir.empty() ? GetAppPath() : strDir) + kLogFileName;
      pFile = fopen(strPath.c_str(), "w+");
    } catch (...) {
      return;
    }
    // A failed open drops this message; the next one tries again.
    if (pFile == nullptr) return;
    setvbuf(pFile, nullptr, _IONBF, 512);
    char szTime[kTimeBufferSize];
    FormatNow(szTime);
    lg("start...%s", szTime);
  }
  if (pFile == nullptr) return;

  char szText[kMessageBufferSize] = {0};
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(szText, kMessageLimit, pszFormat, args);
  va_end(args);
  // Text stops at its first NUL, even one that a %c conversion put in the middle.
  fwrite(szText, std::strlen(szText), 1, pFile);
  fwrite("\r\n", 2, 1, pFile);
  fflush(pFile);
}

// Logging stays as it is: see log.h.
void CCLog::setlog() {}

void CCLog::EnableForTesting(const std::string& strDir) {
  this->strDir = strDir;
  bEnable = true;
}
