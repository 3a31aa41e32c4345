#include "act/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

#include "common/file_ops.h"
#include "common/paths.h"
#include "act/mover.h"
#include "common/text_escape.h"

namespace twintone_cli {

JournalLine& JournalLine::Text(const std::string& strKey, const std::string& strValue) {
  m_vecFields.emplace_back(strKey, JsonString(strValue));
  return *this;
}

JournalLine& JournalLine::Number(const std::string& strKey, int64_t nValue) {
  m_vecFields.emplace_back(strKey, std::to_string(nValue));
  return *this;
}

JournalLine& JournalLine::Path(const std::string& strKey, const std::string& strPath) {
  m_vecFields.emplace_back(strKey, JsonString(strPath));
  m_vecFields.emplace_back(strKey + "_hex", JsonString(HexBytes(strPath)));
  return *this;
}

std::string JournalLine::Json() const {
  std::string strOut = "{";
  for (size_t i = 0; i < m_vecFields.size(); ++i) {
    strOut += (i == 0 ? "\"" : ", \"") + m_vecFields[i].first + "\": " + m_vecFields[i].second;
  }
  return strOut + "}";
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
  if (!Write(JournalLine()
                 .Text("journal", "twintone")
                 .Number("version", 2)
                 .Text("action", strAction)
                 .Text("stamp", m_strStamp))) {
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

bool Journal::Write(const JournalLine& line) {
  std::string strLine = line.Json() + "\n";
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

bool ReadJournal(const std::string& strPath, std::vector<JsonValue>* pvecLines,
                 std::string* pstrError) {
  std::ifstream in(strPath, std::ios::binary);
  if (!in) {
    *pstrError = "cannot read the journal " + strPath;
    return false;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string strText = buffer.str();
  pvecLines->clear();
  size_t nStart = 0;
  int nLine = 0;
  while (nStart < strText.size()) {
    size_t nEnd = strText.find('\n', nStart);
    ++nLine;
    // A line without its newline was being written when the run stopped: its step
    // was never taken.
    if (nEnd == std::string::npos) break;
    JsonValue line;
    std::string strError;
    if (!ParseJson(strText.substr(nStart, nEnd - nStart), &line, &strError)) {
      *pstrError = strPath + " line " + std::to_string(nLine) + ": " + strError;
      return false;
    }
    pvecLines->push_back(std::move(line));
    nStart = nEnd + 1;
  }
  // Stopped before its header was whole: a journal of nothing.
  const std::string kHead = "{\"journal\": \"twintone\"";
  if (pvecLines->empty() && kHead.compare(0, strText.size(), strText, 0, kHead.size()) == 0) {
    return true;
  }
  if (pvecLines->empty() || (*pvecLines)[0].Str("journal") != "twintone") {
    *pstrError = strPath + " is not a twintone journal";
    return false;
  }
  return true;
}

std::string JournalPath(const JsonValue& line, const std::string& strKey) {
  std::string strBytes;
  return UnhexBytes(line.Str(strKey + "_hex"), &strBytes) ? strBytes : std::string();
}

bool ReadJournalContents(const std::string& strPath, JournalContents* pContents,
                         std::string* pstrError) {
  std::vector<JsonValue> vecLines;
  if (!ReadJournal(strPath, &vecLines, pstrError)) return false;
  *pContents = JournalContents();
  if (vecLines.empty()) return true;
  pContents->nVersion = static_cast<int>(vecLines[0].Int("version"));
  pContents->strStamp = vecLines[0].Str("stamp");
  std::map<int64_t, JournalEntry> mapEntries;
  for (const JsonValue& line : vecLines) {
    std::string strStep = line.Str("step");
    if (strStep == "scope") {
      pContents->vecScope.emplace_back(line.Str("kind"), JournalPath(line, "path"));
    } else if (strStep == "mkdir") {
      pContents->vecMadeDirs.push_back(JournalPath(line, "path"));
    } else if (strStep == "intent") {
      JournalEntry& entry = mapEntries[line.Int("id")];
      bool bUndone = entry.bUndone;
      entry = JournalEntry();  // a later intent for one id replaces the earlier
      entry.nId = line.Int("id");
      entry.strOp = line.Str("op");
      entry.strFrom = JournalPath(line, "from");
      entry.strTo = JournalPath(line, "to");
      entry.strTemp = JournalPath(line, "temp");
      entry.strInfo = JournalPath(line, "info");
      entry.strKeeper = JournalPath(line, "keeper");
      entry.bHardLink = line.Str("link") == "hard";
      entry.nDevice = static_cast<uint64_t>(line.Int("dev"));
      entry.nInode = static_cast<uint64_t>(line.Int("ino"));
      entry.nSize = line.Int("size", -1);
      entry.strHash = line.Str("hash");
      entry.strInfoHash = line.Str("info_hash");
      entry.bUndone = bUndone;
    } else if (strStep == "copied") {
      JournalEntry& entry = mapEntries[line.Int("id")];
      entry.bCopied = true;
      entry.strCopyHash = line.Str("hash");
      entry.nCopyDevice = static_cast<uint64_t>(line.Int("tdev"));
      entry.nCopyInode = static_cast<uint64_t>(line.Int("tino"));
    } else if (strStep == "undone") {
      mapEntries[line.Int("id")].bUndone = true;
    }
  }
  for (auto& entry : mapEntries) {
    if (!entry.second.strOp.empty()) pContents->vecEntries.push_back(std::move(entry.second));
  }
  return true;
}

}  // namespace twintone_cli
