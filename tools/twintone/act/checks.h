// The checks an action makes just before it touches a file: is the duplicate still
// the file scanned, is the kept copy still whole, may the target folders be used. Each
// returns "" when the file may be acted on, else why not (a short English phrase).
#ifndef TWINTONE_TOOLS_ACT_CHECKS_H
#define TWINTONE_TOOLS_ACT_CHECKS_H

#include <string>

#include "common/run_report.h"

namespace twintone_cli {

// Looks at dup again just before acting: why it must stay (gone, another file under
// its name, modified, the kept copy under another name, the file a kept link points
// at), or why its kept copy no longer vouches for it (gone, another file, another size
// or modification time, unreadable).
std::string RecheckDuplicate(const Member& dup, const Member& keeper);

// Where a folder the action needs stands: empty when it is (or can be made) a folder.
std::string FolderProblem(const std::string& strDir);

// Empty unless a folder on the way from strTop down to strDir (strTop itself not
// counted) is a symbolic link or a file: nothing is moved through a link that could
// lead out of the folder the user named.
std::string LinkBelow(const std::string& strTop, const std::string& strDir);

// What a dry run can foresee of the permissions an action needs: the duplicate's
// folder must let it go, and the nearest folder that exists on the way to strTarget
// must take new names.
std::string PermissionProblem(const std::string& strSourceDir, const std::string& strTarget);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_CHECKS_H
