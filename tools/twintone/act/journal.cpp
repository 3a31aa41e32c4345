#include "act/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>

#include "act/mover.h"
#include "common/file_ops.h"
#include "common/paths.h"
#include "common/text_escape.h"

namespace twintone_cli {

namespace {

// A path as "<key>" (readable, not UTF-8 shown as U+FFFD) and "<key>_hex" (exact).
void PutPath(Json& line, const std::string& strKey, const std::string& strPath) {
  if (strPath.empty()) return;
  line[strKey] = strPath;
  line[strKey + "_hex"] = HexBytes(strPath);
}

void PutNumber(Json& line, const char* pszKey, const std::optional<int64_t>& nValue) {
  if (nValue) line[pszKey] = *nValue;
}

// Whether strText, a journal without one whole line, is the start of a header (as this
// version or an earlier one spaced it).
bool IsTornHeader(const std::string& strText) {
  for (std::string strHead : {"{\"journal\":\"twintone\"", "{\"journal\": \"twintone\""}) {
    size_t nLength = std::min(strHead.size(), strText.size());
    if (strText.compare(0, nLength, strHead, 0, nLength) == 0) return true;
  }
  return false;
}

void PutText(Json& line, const char* pszKey, const std::string& strValue) {
  if (!strValue.empty()) line[pszKey] = strValue;
}

}  // namespace

void to_json(Json& line, const JournalHeader& header) {
  line = Json{{"journal", "twintone"},
              {"version", header.nVersion},
              {"action", header.strAction},
              {"stamp", header.strStamp}};
}

void from_json(const Json& line, JournalHeader& header) {
  std::string strJournal;
  ReadField(line, "journal", &strJournal);
  if (strJournal != "twintone") throw JsonFieldError("'journal' must be \"twintone\"");
  ReadField(line, "version", &header.nVersion);
  ReadField(line, "action", &header.strAction);
  ReadField(line, "stamp", &header.strStamp);
}

void to_json(Json& line, const JournalStep& step) {
  line = Json{{"step", step.strStep}};
  if (step.nId != 0) line["id"] = step.nId;
  PutText(line, "kind", step.strKind);
  PutText(line, "op", step.strOp);
  PutText(line, "link", step.strLink);
  PutPath(line, "from", step.strFrom);
  PutPath(line, "keeper", step.strKeeper);
  PutPath(line, "to", step.strTo);
  PutPath(line, "temp", step.strTemp);
  PutPath(line, "info", step.strInfo);
  PutPath(line, "path", step.strPath);
  PutNumber(line, "dev", step.nDevice);
  PutNumber(line, "ino", step.nInode);
  PutNumber(line, "size", step.nSize);
  PutText(line, "hash", step.strHash);
  PutNumber(line, "tdev", step.nCopyDevice);
  PutNumber(line, "tino", step.nCopyInode);
  PutText(line, "info_hash", step.strInfoHash);
  PutText(line, "error", step.strError);
}

void from_json(const Json& line, JournalStep& step) {
  ReadField(line, "step", &step.strStep, true);
  ReadField(line, "id", &step.nId);
  ReadField(line, "kind", &step.strKind);
  ReadField(line, "op", &step.strOp);
  ReadField(line, "link", &step.strLink);
  ReadHexField(line, "from", &step.strFrom);
  ReadHexField(line, "keeper", &step.strKeeper);
  ReadHexField(line, "to", &step.strTo);
  ReadHexField(line, "temp", &step.strTemp);
  ReadHexField(line, "info", &step.strInfo);
  ReadHexField(line, "path", &step.strPath);
  ReadField(line, "dev", &step.nDevice);
  ReadField(line, "ino", &step.nInode);
  ReadField(line, "size", &step.nSize);
  ReadField(line, "hash", &step.strHash);
  ReadField(line, "tdev", &step.nCopyDevice);
  ReadField(line, "tino", &step.nCopyInode);
  ReadField(line, "info_hash", &step.strInfoHash);
  ReadField(line, "error", &step.strError);
}

Journal::~Journal() {
  if (m_fd >= 0) close(m_fd);
}

bool Journal::Create(const std::string& strPath, const std::string& strAction,
                     std::string* pstrError) {
  if (!EnsureDirectory(ParentDir(strPath), pstrError)) return false;
  m_fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
  if (m_fd < 0) {
    *pstrError = "cannot create the journal " + strPath + ": " + std::strerror(errno);
    return false;
  }
  m_strPath = strPath;
  char szTime[32];
  std::time_t now = std::time(nullptr);
  struct tm utc;
  gmtime_r(&now, &utc);
  std::strftime(szTime, sizeof(szTime), "%Y%m%dT%H%M%SZ", &utc);
  m_strStamp = std::string(szTime) + "-" + std::to_string(getpid());
  JournalHeader header;
  header.nVersion = kJournalVersion;
  header.strAction = strAction;
  header.strStamp = m_strStamp;
  if (!WriteLine(header)) {
    *pstrError = "cannot write the journal " + strPath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool Journal::Append(const std::string& strPath, std::string* pstrError) {
  m_fd = open(strPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (m_fd < 0) {
    *pstrError = "cannot open the journal " + strPath + ": " + std::strerror(errno);
    return false;
  }
  m_strPath = strPath;
  return true;
}

bool Journal::Write(const JournalStep& step) { return WriteLine(step); }

bool Journal::WriteLine(const Json& line) {
  std::string strLine = DumpJson(line) + "\n";
  for (size_t nDone = 0; nDone < strLine.size();) {
    ssize_t nWritten = write(m_fd, strLine.data() + nDone, strLine.size() - nDone);
    if (nWritten < 0 && errno == EINTR) continue;
    if (nWritten < 0) return false;
    nDone += static_cast<size_t>(nWritten);
  }
  return fsync(m_fd) == 0 && SyncDir(ParentDir(m_strPath)) == 0;
}

std::string DefaultJournalPath() {
  std::string strCache = TwintoneCacheDir();
  if (strCache.empty()) strCache = "./.cache/twintone";
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm utc;
  gmtime_r(&now.tv_sec, &utc);
  char szTime[40];
  std::strftime(szTime, sizeof(szTime), "%Y%m%dT%H%M%S", &utc);
  return strCache + "/journals/" + szTime + "." + std::to_string(now.tv_nsec / 1000000) +
         "Z-" + std::to_string(getpid()) + ".jsonl";
}

bool ReadJournal(const std::string& strPath, JournalHeader* pHeader,
                 std::vector<JournalStep>* pvecSteps, std::string* pstrError) {
  std::string strText;
  if (!ReadDocumentFile("the journal", strPath, &strText, pstrError)) return false;
  *pHeader = JournalHeader();
  pvecSteps->clear();
  // A line without its newline was being written when the run stopped: its step was
  // never taken. Stopped before the header was whole, the journal is one of nothing.
  size_t nEnd = strText.find('\n');
  if (nEnd == std::string::npos && IsTornHeader(strText)) return true;
  int nLine = 0;
  try {
    for (size_t nStart = 0; nEnd != std::string::npos;
         nStart = nEnd + 1, nEnd = strText.find('\n', nStart)) {
      Json line;
      ++nLine;
      if (!ParseJson(strText.substr(nStart, nEnd - nStart), &line, pstrError)) {
        throw JsonFieldError(*pstrError);
      }
      if (nLine == 1) {
        line.get_to(*pHeader);
      } else {
        pvecSteps->push_back(line.get<JournalStep>());
      }
    }
  } catch (const std::exception& error) {  // JsonFieldError, or no memory left
    *pstrError =
        strPath +
        (nLine == 1 ? " is not a twintone journal: " : " line " + std::to_string(nLine) + ": ") +
        error.what();
    return false;
  }
  if (nLine == 0) {
    *pstrError = strPath + " is not a twintone journal";
    return false;
  }
  return true;
}

bool ReadJournalContents(const std::string& strPath, JournalContents* pContents,
                         std::string* pstrError) {
  JournalHeader header;
  std::vector<JournalStep> vecSteps;
  if (!ReadJournal(strPath, &header, &vecSteps, pstrError)) return false;
  *pContents = JournalContents();
  if (header.strStamp.empty() && vecSteps.empty()) return true;
  pContents->nVersion = static_cast<int>(header.nVersion);
  pContents->strStamp = header.strStamp;
  std::map<int64_t, JournalEntry> mapEntries;
  for (const JournalStep& step : vecSteps) {
    if (step.strStep == "scope") {
      pContents->vecScope.emplace_back(step.strKind, step.strPath);
    } else if (step.strStep == "mkdir") {
      pContents->vecMadeDirs.push_back(step.strPath);
    } else if (step.strStep == "intent") {
      JournalEntry& entry = mapEntries[step.nId];
      bool bUndone = entry.bUndone;
      entry = JournalEntry();  // a later intent for one id replaces the earlier
      entry.nId = step.nId;
      entry.strOp = step.strOp;
      entry.strFrom = step.strFrom;
      entry.strTo = step.strTo;
      entry.strTemp = step.strTemp;
      entry.strInfo = step.strInfo;
      entry.strKeeper = step.strKeeper;
      entry.bHardLink = step.strLink == "hard";
      entry.nDevice = static_cast<uint64_t>(step.nDevice.value_or(0));
      entry.nInode = static_cast<uint64_t>(step.nInode.value_or(0));
      entry.nSize = step.nSize.value_or(-1);
      entry.strHash = step.strHash;
      entry.strInfoHash = step.strInfoHash;
      entry.bUndone = bUndone;
    } else if (step.strStep == "copied") {
      JournalEntry& entry = mapEntries[step.nId];
      entry.bCopied = true;
      entry.strCopyHash = step.strHash;
      entry.nCopyDevice = static_cast<uint64_t>(step.nCopyDevice.value_or(0));
      entry.nCopyInode = static_cast<uint64_t>(step.nCopyInode.value_or(0));
    } else if (step.strStep == "undone") {
      mapEntries[step.nId].bUndone = true;
    }
  }
  for (auto& entry : mapEntries) {
    if (!entry.second.strOp.empty()) pContents->vecEntries.push_back(std::move(entry.second));
  }
  return true;
}

}  // namespace twintone_cli
