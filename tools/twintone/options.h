// Command-line options of the twintone command: what a run is asked to do, and the
// parser that turns argv into it. Parsing has no side effects; the caller prints.
#ifndef TWINTONE_TOOLS_OPTIONS_H
#define TWINTONE_TOOLS_OPTIONS_H

#include <string>
#include <vector>

namespace twintone_cli {

// Exit codes of the command.
constexpr int kExitOk = 0;       // the run finished (groups or none)
constexpr int kExitFailure = 1;  // a path could not be read, a move failed, the library refused
constexpr int kExitUsage = 2;    // the command line was wrong
constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C; partial results were printed

enum class OutputFormat { kText, kJson, kCsv };

// One --keep policy; see keeper.h for what each means.
enum class KeepRule { kBest, kLongest, kLargest, kNewest, kOldest, kUnder };
struct KeepPolicy {
  KeepRule rule = KeepRule::kBest;
  std::string strDir;  // kUnder: the folder whose files win, as given
};

struct Options {
  bool bFingerprint = false;
  // Text mode: the library's grouping flags and the field names in key order.
  int nMatchFlags = 0;
  std::vector<std::string> vecFields;
  // Fingerprint mode: seconds of audio (0 = the whole file) and threshold in percent.
  int nSeconds = 120;
  int nSimilarity = 80;
  bool bFast = false;  // fingerprint mode: fast filing through the candidate index

  OutputFormat format = OutputFormat::kText;
  bool bRecursive = false;
  bool bFollowSymlinks = false;  // take the targets of symbolic links to files
  bool bQuiet = false;     // no progress bar
  bool bVerbose = false;   // one line per scanned file on standard error
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
  std::vector<std::string> vecPaths;

  // The fingerprint store (fingerprint mode): strCacheFile empty means the default
  // place (DefaultCachePath); bPruneCache may come without paths.
  std::string strCacheFile;
  bool bNoCache = false;
  bool bPruneCache = false;
  bool bPrintFingerprints = false;  // one JSON object per file instead of the report
  // Which copy of a group to keep, policies in order of weight (default: best).
  std::vector<KeepPolicy> vecKeep = {KeepPolicy()};
  // Tag mode: compare titles and artists loosely; read single-byte tag text in this
  // iconv encoding (empty: the library's default).
  bool bLoose = false;
  std::string strLegacyEncoding;
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

#endif  // TWINTONE_TOOLS_OPTIONS_H
