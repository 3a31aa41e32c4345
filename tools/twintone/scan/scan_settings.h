// What a scan is asked to do: which files, how the library groups them, and the
// fingerprint cache. Filled from the command line (cli/options.h extends it).
#ifndef TWINTONE_TOOLS_SCAN_SCAN_SETTINGS_H
#define TWINTONE_TOOLS_SCAN_SCAN_SETTINGS_H

#include <string>
#include <vector>

namespace twintone_cli {

struct ScanSettings {
  std::vector<std::string> vecPaths;  // files and folders, as given
  bool bRecursive = false;
  bool bFollowSymlinks = false;  // take the targets of symbolic links to files
  std::string strSkipDir;        // a folder never entered (the move target); empty: none
  std::vector<std::string> vecExclude;  // --exclude globs (scan/path_glob.h)

  bool bFingerprint = false;
  // Text mode: the library's grouping flags and the field names in key order.
  int nMatchFlags = 0;
  std::vector<std::string> vecFields;
  // Fingerprint mode: seconds of audio (0 = the whole file) and threshold in percent.
  int nSeconds = 120;
  int nSimilarity = 80;
  // Fingerprint mode: how to file. Neither: exact filing up to the number of files
  // exact filing takes about a minute for here, the candidate index above it (see
  // ChooseFiling); at most one is set.
  bool bFast = false;   // always the candidate index
  bool bExact = false;  // always exact, comparing each file with every group
  // Tag mode: compare titles and artists loosely; read single-byte tag text in this
  // iconv encoding (empty: the library's default).
  bool bLoose = false;
  std::string strLegacyEncoding;

  // The fingerprint store (fingerprint mode): strCacheFile empty means the default
  // place (DefaultCachePath).
  std::string strCacheFile;
  bool bNoCache = false;
  // Do not measure what grouped copies sound like; the keeper then goes by what the
  // files claim (format and bitrate) alone.
  bool bNoQuality = false;

  bool bQuiet = false;              // no progress bar
  bool bVerbose = false;            // one line per scanned file on standard error
  bool bPrintFingerprints = false;  // keep one JSON line per file for the caller
};

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_SCAN_SETTINGS_H
