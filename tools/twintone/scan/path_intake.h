// Taking the command line's files and folders into the library: the walk of
// file_walk.h decides which files, and this hands each one over.
#ifndef TWINTONE_TOOLS_SCAN_PATH_INTAKE_H
#define TWINTONE_TOOLS_SCAN_PATH_INTAKE_H

#include <functional>
#include <string>
#include <vector>

#include "scan/file_walk.h"
#include "common/run_report.h"

namespace twintone_cli {

// Walks vecPaths (see CollectFiles) and hands each file to the library, one by one:
// with AddToDedupeLists(path, position), or, for a path the library would shorten or
// respell (over 2048 bytes, or holding a backslash), as a record with only its path
// and user data set, which the run completes by reading the file as it does any other.
// Fills pReport's vecSkipped (files left out, each with its reason) and
// bSubfoldersNotSearched. Each path that could not be read or taken in goes to
// pfnOnError, ready to print; returns their number.
// The library prints nothing for single files; the caller need not silence anything.
int AddPathsToLibrary(const std::vector<std::string>& vecPaths, const WalkSettings& settings,
                      const std::function<void(const std::string&)>& pfnOnError,
                      RunReport* pReport);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_PATH_INTAKE_H
