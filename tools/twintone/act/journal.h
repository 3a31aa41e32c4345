// The journal of an action: one JSON object per line, each written and fsynced (file
// and folder) before the step it announces and after the step it confirms, so that
// whatever moment a run is stopped at, the journal names every file that may have
// been touched, every temporary name before it exists, and --undo can put all back.
//
// Lines: a header {"journal": "twintone", "version": 2, "action", "stamp"}; "scope"
// lines {"step": "scope", "kind": "root" | "target" | "trash", "path_hex"}, each a real
// path, naming every folder the action may touch before it touches it; then per file
// id N: {"step": "intent", "id", "op", paths as "<name>_hex" with a readable "<name>"
// beside (absolute), identity "dev"/"ino"/"size", "hash" of the file's bytes (a copy's
// comes with "copied"), "info_hash" of a .trashinfo}, optional {"step": "copied",
// "hash", "tdev", "tino"}, {"step": "placed"}, and {"step": "done"} or {"step":
// "failed", "error"}; {"step": "mkdir", "path_hex"} before a folder is made;
// {"step": "undone", "id"} lines written by --undo. Version 1 journals had no scope
// lines, no hashes but a copy's, and paths as given on the command line.
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

// Everything a journal says about one file, read back for undo.
struct JournalEntry {
  int64_t nId = 0;
  std::string strOp;  // "rename", "copy", "trash", "link"; anything else is not known
  std::string strFrom, strTo, strTemp, strInfo, strKeeper;
  bool bHardLink = false;  // link: hard, else symbolic
  uint64_t nDevice = 0, nInode = 0;
  int64_t nSize = -1;
  std::string strHash;      // the file's bytes when the step ran; "" unless version 2
  std::string strInfoHash;  // the .trashinfo it wrote; "" unless version 2
  bool bCopied = false;     // copy: the copy was whole and checked, and:
  std::string strCopyHash;
  uint64_t nCopyDevice = 0, nCopyInode = 0;
  bool bUndone = false;  // an undo put this file back already
};

// A journal read back: its header, scope, folders made, and entries by id.
struct JournalContents {
  int nVersion = 0;  // 0: no header (the run stopped before it was whole: nothing done)
  std::string strStamp;
  std::vector<std::pair<std::string, std::string>> vecScope;  // kind, real path
  std::vector<std::string> vecMadeDirs;                       // in the order made
  std::vector<JournalEntry> vecEntries;                       // by id, ascending
};

// Reads the journal at strPath into *pContents (see ReadJournal). False with a reason.
bool ReadJournalContents(const std::string& strPath, JournalContents* pContents,
                         std::string* pstrError);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_JOURNAL_H
