// Command-line options of the twintone command: what a run is asked to do, and the
// parser that turns argv into it. Parsing has no side effects; the caller prints.
#ifndef TWINTONE_TOOLS_CLI_OPTIONS_H
#define TWINTONE_TOOLS_CLI_OPTIONS_H

#include <string>
#include <vector>

#include "common/exit_codes.h"
#include "decide/keeper.h"
#include "scan/scan_settings.h"

namespace twintone_cli {

enum class OutputFormat { kText, kJson, kCsv };

// Everything the command line asks; the scan's part is ScanSettings.
struct Options : ScanSettings {
  OutputFormat format = OutputFormat::kText;
  std::string strMoveDir;  // empty: nothing is moved
  bool bDryRun = false;
  // Actions on the duplicates besides --move-duplicates (at most one of the three), the
  // journal they write, and the review page, plan and undo modes.
  bool bTrash = false;
  std::string strLink;     // "hard" or "symbolic"; empty: no links
  std::string strJournal;  // empty: the default place
  std::string strHtml;     // review page to write
  std::string strApply;    // plan to carry out instead of a scan
  std::string strUndo;     // journal to undo instead of a scan
  bool bInteractive = false;  // review the groups in the terminal before acting
  bool bPruneCache = false;  // may come without paths
  bool bForgetDistinct = false;  // forget the "not a duplicate" marks; may come without paths
  bool bNoWait = false;      // an acting run refuses, rather than waits, when another acts
  // Which copy of a group to keep, policies in order of weight (default: best).
  std::vector<KeepPolicy> vecKeep = {KeepPolicy()};
};

enum class ParseOutcome { kRun, kHelp, kVersion, kUsageError };

// Parses argv (argv[0] is the program name). kUsageError leaves a one-line reason in
// *pstrError; the other outcomes leave it empty. Never prints, never exits.
ParseOutcome ParseOptions(int argc, char* const argv[], Options* pOptions, std::string* pstrError);

// Parses a comma-separated field list (title, artist, album, size, duration; each at
// most once) into grouping flags and the names in key order. False with a reason for
// an unknown, repeated or empty name.
bool ParseFields(const std::string& strList, int* pnFlags, std::vector<std::string>* pvecFields,
                 std::string* pstrError);

// The --help text and the --version line, each ending in a newline.
std::string HelpText(const std::string& strProgram);
std::string VersionText();

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_CLI_OPTIONS_H
