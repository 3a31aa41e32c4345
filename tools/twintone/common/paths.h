// Path spellings the stages share: a file's name relative to the folder it was found
// under, its absolute form, and the percent-encoded form file URLs want.
#ifndef TWINTONE_TOOLS_COMMON_PATHS_H
#define TWINTONE_TOOLS_COMMON_PATHS_H

#include <string>
#include <vector>

namespace twintone_cli {

// The path a duplicate keeps below the move folder: strPath relative to the longest
// of vecRoots that is a folder holding it; a file given by name (or found under no
// root) keeps only its file name. Never holds a ".." segment.
std::string RelativeName(const std::string& strPath, const std::vector<std::string>& vecRoots);

// strBytes with every byte but A-Z a-z 0-9 - . _ ~ / written as %XX, as file URLs and
// the Path= key want it.
std::string PercentEncodePath(const std::string& strBytes);

// strPath made absolute against the current folder, the file's own name not resolved
// (a symbolic link stays itself); its folder is resolved when it exists.
std::string AbsolutePath(const std::string& strPath);

// The fully resolved path of an existing file or folder (realpath); "" when it cannot
// be resolved.
std::string RealPath(const std::string& strPath);

// Whether strPath is strDir or lies below it, spelling by spelling: both absolute,
// strPath with no "." or ".." part and no NUL byte (a forged path could climb out).
bool IsWithin(const std::string& strPath, const std::string& strDir);

// strPath with a leading "~" ("~" alone or "~/...") spelled as $HOME, as the shell
// would have done had the name not come inside an option's value ("under=~/Music").
std::string ExpandHome(const std::string& strPath);

// twintone's own folder in the user's cache: $XDG_CACHE_HOME/twintone when that is an
// absolute path, else $HOME/.cache/twintone; "" when neither is known. Journals, scan
// records and run locks live below it.
std::string TwintoneCacheDir();

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_PATHS_H
