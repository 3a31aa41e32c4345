// --exclude patterns: shell globs on paths. "*" and "?" stop at a slash, "[...]" is a
// class of one byte (as fnmatch(3) reads it), "\" takes the next byte as it is, and
// "**" crosses folders ("**/" also matches no folder at all, so "**/live/*" takes
// "live/a.mp3" too). A pattern without a slash is matched against the name alone,
// at any depth.
#ifndef TWINTONE_TOOLS_SCAN_PATH_GLOB_H
#define TWINTONE_TOOLS_SCAN_PATH_GLOB_H

#include <string>
#include <vector>

namespace twintone_cli {

// Whether strPattern matches the whole of strText, a path or a name.
bool GlobMatches(const std::string& strPattern, const std::string& strText);

// The first of vecPatterns that takes the entry strName, met as strPath (spelled as
// the walk reached it) and strRelative (below the folder given on the command line;
// empty for an argument); nullptr when none does.
const std::string* ExcludingPattern(const std::vector<std::string>& vecPatterns,
                                    const std::string& strPath, const std::string& strRelative,
                                    const std::string& strName);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_PATH_GLOB_H
