// The user's trash as the freedesktop.org trash layout has it: files/NAME holds a
// trashed file and info/NAME.trashinfo says where it came from and when, so desktop
// trash tools can list and restore what twintone put there. A file on the home trash's
// file system goes to $XDG_DATA_HOME/Trash (~/.local/share/Trash); one elsewhere to
// $topdir/.Trash-$uid at the top of its own file system, so trashing is always a rename.
#ifndef TWINTONE_TOOLS_ACT_TRASH_H
#define TWINTONE_TOOLS_ACT_TRASH_H

#include <string>

namespace twintone_cli {

struct TrashDir {
  std::string strFiles;  // .../files
  std::string strInfo;   // .../info
  std::string strTop;    // the mount point for a $topdir trash; empty for the home trash
};

// Finds the trash for the file at strPath. With bCreate, missing trash folders are made
// (mode 0700). False with a reason when there is none the file can be renamed into.
bool FindTrash(const std::string& strPath, bool bCreate, TrashDir* pTrash, std::string* pstrError);

// The .trashinfo text for a file that was at strAbsolutePath, deleted now (local time).
// For a $topdir trash the path is written relative to strTop.
std::string TrashInfoText(const std::string& strAbsolutePath, const std::string& strTop);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_TRASH_H
