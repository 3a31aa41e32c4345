// The journal of an action: one JSON object per line, each written and fsynced (file
// and folder) before the step it announces and after the step it confirms, so that
// whatever moment a run is stopped at, the journal names every file that may have
// been touched, every temporary name before it exists, and --undo can put all back.
//
// Lines: a header {"journal": "twintone", "version": 1, "action", "stamp"}, then per
// file id N: {"step": "intent", "id", "op", paths as "<name>_hex" with a readable
// "<name>" beside, identity "dev"/"ino"/"size"}, optional {"step": "copied", "hash",
// "tdev", "tino"}, {"step": "placed"}, and {"step": "done"} or {"step": "failed",
// "error"}; {"step": "mkdir", "path_hex"} before a folder is made; {"step": "undone"}
// lines written by --undo.
#ifndef TWINTONE_TOOLS_ACT_JOURNAL_H
#define TWINTONE_TOOLS_ACT_JOURNAL_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/json_value.h"

namespace twintone_cli {

// Builds one journal line.
class JournalLine {
 public:
  JournalLine& Text(const std::string& strKey, const std::string& strValue);
  JournalLine& Number(const std::string& strKey, int64_t nValue);
  // A path as bytes: "<key>_hex" exactly, and "<key>" readable (not UTF-8 shown as U+FFFD).
  JournalLine& Path(const std::string& strKey, const std::string& strPath);
  std::string Json() const;

 private:
  std::vector<std::pair<std::string, std::string>> m_vecFields;  // key, JSON value text
};

// An open journal file, appended to. Not thread-safe; one owner.
class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Creates strPath (never replacing a file) and its missing folders, and writes the
  // header. False with a reason.
  bool Create(const std::string& strPath, const std::string& strAction, std::string* pstrError);
  // Opens an existing journal to append (for --undo).
  bool Append(const std::string& strPath, std::string* pstrError);
  // Writes one line and fsyncs the file and its folder. False when that failed: the
  // caller must not take the step the line announces.
  bool Write(const JournalLine& line);

  const std::string& Path() const { return m_strPath; }
  // A token unique to this journal, for temporary names ("20261205T230000Z-1234").
  const std::string& Stamp() const { return m_strStamp; }

 private:
  int m_fd = -1;
  std::string m_strPath;
  std::string m_strStamp;
};

// $XDG_CACHE_HOME/twintone/journals/<UTC time>-<pid>.jsonl (~/.cache when unset).
std::string DefaultJournalPath();

// Reads every complete line of a journal; a last line cut short by a crash is ignored,
// any other bad line fails. *pvecLines[0] is the header; no lines at all when the run
// stopped before the header was whole (nothing was done then).
bool ReadJournal(const std::string& strPath, std::vector<JsonValue>* pvecLines,
                 std::string* pstrError);

// A path written by JournalLine::Path, read back from the line; empty when missing.
std::string JournalPath(const JsonValue& line, const std::string& strKey);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_JOURNAL_H
