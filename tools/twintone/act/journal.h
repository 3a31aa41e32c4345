// The journal of an action: one JSON object per line, each written and fsynced (file
// and folder) before the step it announces and after the step it confirms, so that
// whatever moment a run is stopped at, the journal names every file that may have
// been touched, every temporary name before it exists, and --undo can put all back.
//
// Lines: a header {"journal": "twintone", "version": 2, "action", "stamp"}; "scope"
// lines {"step": "scope", "kind": "root" | "target" | "trash", "path"}, each a real
// path, naming every folder the action may touch before it touches it; then per file
// id N: {"step": "intent", "id", "op", paths (absolute), identity "dev"/"ino"/"size",
// "hash" of the file's bytes (a copy's comes with "copied"), "info_hash" of the
// .trashinfo it writes}, optional {"step": "copied", "hash", "tdev", "tino"},
// {"step": "placed"}, and {"step": "done"} or {"step": "failed", "error"}; {"step":
// "mkdir", "path"} before a folder is made; {"step": "undone", "id"} lines written by
// --undo. JournalStep holds them. Version 1 journals had no scope lines, no hashes but
// a copy's, and paths as given on the command line.
#ifndef TWINTONE_TOOLS_ACT_JOURNAL_H
#define TWINTONE_TOOLS_ACT_JOURNAL_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/json_io.h"

namespace twintone_cli {

// The version this program writes.
constexpr int64_t kJournalVersion = 2;

// The first line.
struct JournalHeader {
  int64_t nVersion = 1;
  std::string strAction;
  std::string strStamp;
};

// Every other line; which fields a line carries depends on its step. Paths are bytes,
// written as "<name>_hex" with a readable "<name>" beside; an empty one is left out.
struct JournalStep {
  std::string strStep;  // "scope", "intent", "copied", "placed", "done", "failed", "mkdir",
                        // "undone"
  std::string strKind;  // scope: "root", "target" or "trash"
  int64_t nId = 0;      // the file's number in the action; 0 (left out) for mkdir
  std::string strOp;    // intent: "rename", "copy", "trash" or "link"
  std::string strLink;  // intent of a link: "hard" or "symbolic"
  std::string strFrom, strKeeper, strTo, strTemp, strInfo;  // intent
  std::string strPath;                            // mkdir, scope: the folder
  std::optional<int64_t> nDevice, nInode, nSize;  // intent: the file as it was found
  std::string strHash;  // intent: the file's bytes; copied: the copy's, with its identity
  std::optional<int64_t> nCopyDevice, nCopyInode;
  std::string strInfoHash;  // intent of a trash or link: the .trashinfo it writes
  std::string strError;  // failed
};

void to_json(Json& line, const JournalHeader& header);
void from_json(const Json& line, JournalHeader& header);
void to_json(Json& line, const JournalStep& step);
void from_json(const Json& line, JournalStep& step);

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
  bool Write(const JournalStep& step);

  const std::string& Path() const { return m_strPath; }
  // A token unique to this journal, for temporary names ("20261205T230000Z-1234").
  const std::string& Stamp() const { return m_strStamp; }

 private:
  bool WriteLine(const Json& line);

  int m_fd = -1;
  std::string m_strPath;
  std::string m_strStamp;
};

// $XDG_CACHE_HOME/twintone/journals/<UTC time>-<pid>.jsonl (~/.cache when unset).
std::string DefaultJournalPath();

// Reads every complete line of a journal; a last line cut short by a crash is ignored,
// any other bad line (not JSON, or a field of the wrong type) fails. No steps and an
// empty stamp when the run stopped before the header was whole (nothing was done then).
bool ReadJournal(const std::string& strPath, JournalHeader* pHeader,
                 std::vector<JournalStep>* pvecSteps, std::string* pstrError);

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
