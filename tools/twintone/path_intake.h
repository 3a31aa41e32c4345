// Taking the command line's files and folders into the library. The library lists one
// folder level itself; the walk below it (for --recursive) is done here.
#ifndef TWINTONE_TOOLS_PATH_INTAKE_H
#define TWINTONE_TOOLS_PATH_INTAKE_H

#include <functional>
#include <string>
#include <vector>

namespace twintone_cli {

struct IntakeCallbacks {
  // A path that could not be taken in, with the reason, ready to print.
  std::function<void(const std::string& strMessage)> pfnOnError;
  // A folder is about to be listed.
  std::function<void(const std::string& strFolder)> pfnOnFolder;
};

// Tidies a path's spelling without asking the file system: repeated slashes and "."
// segments go, and so does a trailing slash ("/" itself stays). ".." is kept as
// written, since symbolic links make it ambiguous.
std::string CleanPath(const std::string& strPath);

// Hands each path to the library: a file with AddToDedupeLists(path, its position in
// vecPaths + 1), a folder with AddToDedupeLists(folder, 0). With bRecursive every folder
// below a given folder is handed over too, in name order, following symbolic links but
// entering each folder (device and inode) once, so loops end; strSkipDir, when not
// empty, is never entered by the walk. Stops before the next folder or file once an
// interrupt is requested. Returns the number of paths that could not be taken in.
// The library prints a line per listed file on standard output: the caller silences it.
int AddPathsToLibrary(const std::vector<std::string>& vecPaths, bool bRecursive,
                      const std::string& strSkipDir, const IntakeCallbacks& callbacks);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_PATH_INTAKE_H
