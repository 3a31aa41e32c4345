// Moving duplicates aside. The one promise: no byte of any file is lost. Nothing is
// overwritten (a taken name gets " (1)", " (2)" ... before its extension), nothing is
// deleted except a source whose complete copy has been verified, and one failure does
// not stop the others.
#ifndef TWINTONE_TOOLS_MOVER_H
#define TWINTONE_TOOLS_MOVER_H

#include <atomic>
#include <string>
#include <vector>

#include "report.h"

namespace twintone_cli {

// Creates strDir and any missing parents (mode 0777 less the umask). True when it
// exists as a folder afterwards; else false with the reason.
bool EnsureDirectory(const std::string& strDir, std::string* pstrError);

// "song.mp3" with nCopy 0 is "song.mp3", with 2 "song (2).mp3"; a name without an
// extension, or whose only dot leads (".hidden"), gets the suffix at its end.
std::string NumberedName(const std::string& strName, int nCopy);

// Moves strFrom to strTo unless strTo exists (then EEXIST, nothing changed). Renames
// within a file system; across file systems copies to a new file, syncs it, checks its
// size and only then removes strFrom. Returns 0 or an errno value; on failure strFrom
// is untouched and no partial strTo is left behind.
int MoveNoReplace(const std::string& strFrom, const std::string& strTo);

// The copying half of MoveNoReplace, usable on its own: copies a regular file, with
// its permission bits and times, to a hidden name beside strTo, fsyncs it, verifies its
// size, gives it the name strTo (never replacing a file there), then unlinks strFrom.
// 0 or an errno value.
int CopyThenUnlink(const std::string& strFrom, const std::string& strTo);

// Moves (or with bDryRun plans) every member but the first of each group into strDir,
// under the member's file name made unique in strDir. Stops early, before the next
// file, once *pbStop (may be null) is true. One record per member attempted, in order.
std::vector<MoveRecord> MoveDuplicates(const std::vector<Group>& vecGroups,
                                       const std::string& strDir, bool bDryRun,
                                       const std::atomic<bool>* pbStop);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_MOVER_H
