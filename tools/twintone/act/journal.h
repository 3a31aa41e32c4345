// The journal of an action: one JSON object per line, each written and fsynced (file
// and folder) before the step it announces and after the step it confirms, so that
// whatever moment a run is stopped at, the journal names every file that may have
// been touched, every temporary name before it exists, and --undo can put all back.
//
// Lines: a header {"journal": "twintone", "version": 1, "action", "stamp"}, then per
// file id N: {"step": "intent", "id", "op", paths, identity "dev"/"ino"/"size"},
// optional {"step": "copied", "hash", "tdev", "tino"}, {"step": "placed"}, and
// {"step": "done"} or {"step": "failed", "error"}; {"step": "mkdir", "path"} before a
// folder is made; {"step": "undone"} lines written by --undo. JournalStep holds them.
#ifndef TWINTONE_TOOLS_ACT_JOURNAL_H
#define TWINTONE_TOOLS_ACT_JOURNAL_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/json_io.h"

namespace twintone_cli {

// The first line.
struct JournalHeader {
  int64_t nVersion = 1;
  std::string strAction;
  std::string strStamp;
};

// Every other line; which fields a line carries depends on its step. Paths are bytes,
// written as "<name>_hex" with a readable "<name>" beside; an empty one is left out.
struct JournalStep {
  std::string strStep;  // "intent", "copied", "placed", "done", "failed", "mkdir", "undone"
  int64_t nId = 0;      // the file's number in the action; 0 (left out) for mkdir
  std::string strOp;    // intent: "rename", "copy", "trash" or "link"
  std::string strLink;  // intent of a link: "hard" or "symbolic"
  std::string strFrom, strKeeper, strTo, strTemp, strInfo;  // intent
  std::string strPath;                                      // mkdir: the folder made
  std::optional<int64_t> nDevice, nInode, nSize;            // intent: the file as it was found
  std::string strHash;  // copied: the copy's hash, and its identity
  std::optional<int64_t> nCopyDevice, nCopyInode;
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

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_JOURNAL_H
