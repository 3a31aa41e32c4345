// Deciding which files a command hands to the library. The command walks the given
// folders itself, so that it can take every audio format it knows, account for every
// other file it meets, and take each file once however many names lead to it.
//
// Identity is the file's (device, inode). A file met again under another spelling of
// the same directory entry (a linked folder, "a/../a", relative and absolute, given
// twice) is taken once, under its first name, and not mentioned again. Another entry
// of a file already taken (a hard link) is left out as "same file as <first name>".
// Symbolic links to files are left out unless bFollowSymlinks, which takes the real
// file under its resolved path instead. Entries whose names begin with a dot, met in a
// folder, are left out as hidden (a hidden folder once, as a whole); a hidden name
// given on the command line is taken. An entry matching an --exclude pattern is left
// out before any of that, a folder without being entered.
//
// Runs on the main thread before any run; touches the file system only by reading.
#ifndef TWINTONE_TOOLS_SCAN_FILE_WALK_H
#define TWINTONE_TOOLS_SCAN_FILE_WALK_H

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "common/run_report.h"

namespace twintone_cli {

struct WalkSettings {
  bool bRecursive = false;                    // enter the folders below the given ones
  bool bFollowSymlinks = false;               // take the targets of symbolic links to files
  std::string strSkipDir;                     // never entered below a given folder; empty: none
  // Globs (scan/path_glob.h) on the entries met: a file or folder that matches is left
  // out, and such a folder is not entered.
  std::vector<std::string> vecExclude;
  const std::atomic<bool>* pbStop = nullptr;  // once true, no further folder or file
  std::function<void(const std::string&)> pfnOnFolder;  // a folder is about to be read
};

struct FileToLoad {
  std::string strPath;  // as it should be handed to the library
  int nUserData = 0;    // position of the command-line argument (1-based), 0 for walked
  ScannedFile facts;    // the file as the walk found it
};

struct WalkResult {
  std::vector<FileToLoad> vecFiles;     // in the order found; each file once
  std::vector<SkippedFile> vecSkipped;  // everything met and left out, bLeftOut set
  // One message per path that could not be read (no such file, no permission), ready
  // to print after "twintone: "; each makes the command end with exit code 1.
  std::vector<std::string> vecErrors;
  bool bSubfoldersNotSearched = false;  // a given folder held folders and !bRecursive
};

// Walks vecPaths in order. Entries of a folder are taken in byte order of their names;
// with bRecursive each folder (device and inode) is entered once, so link loops end.
WalkResult CollectFiles(const std::vector<std::string>& vecPaths, const WalkSettings& settings);

// Whether a file name's extension is one the command takes from folders (compared
// without regard to ASCII case): the library's own list plus the formats both the tag
// reader and the decoder handle.
bool IsAudioFileName(const std::string& strName);

// The extensions IsAudioFileName takes, space-separated, for the help text.
const char* AudioExtensionList();

// Tidies a path's spelling without asking the file system: repeated slashes and "."
// segments go, and so does a trailing slash ("/" itself stays). ".." is kept as
// written, since symbolic links make it ambiguous.
std::string CleanPath(const std::string& strPath);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_FILE_WALK_H
