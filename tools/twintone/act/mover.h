// Naming helpers of the actions: folders made on demand, and the numbered name a file
// gets when its own is taken (nothing is ever overwritten).
#ifndef TWINTONE_TOOLS_ACT_MOVER_H
#define TWINTONE_TOOLS_ACT_MOVER_H

#include <string>

namespace twintone_cli {

// Creates strDir and any missing parents (mode 0777 less the umask). True when it
// exists as a folder afterwards; else false with the reason.
bool EnsureDirectory(const std::string& strDir, std::string* pstrError);

// "song.mp3" with nCopy 0 is "song.mp3", with 2 "song (2).mp3"; a name without an
// extension, or whose only dot leads (".hidden"), gets the suffix at its end.
std::string NumberedName(const std::string& strName, int nCopy);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_ACT_MOVER_H
