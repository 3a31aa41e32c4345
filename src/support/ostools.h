// Internal parts of the path helpers that the library does not export.
#ifndef TWINTONE_SUPPORT_OSTOOLS_H
#define TWINTONE_SUPPORT_OSTOOLS_H

#include <string>

namespace twintone {

// Bytes of the buffer that receives the executable's path, terminator included.
#define OSTOOLS_EXE_PATH_MAX 1024

// Reads the symbolic link pszLink (GetAppPath passes "/proc/self/exe") and returns
// the folder part of its target: everything before the last "/", or the whole target
// when it has no "/". Empty when the link cannot be read or when its target plus a
// terminator does not fit in OSTOOLS_EXE_PATH_MAX bytes. Keeps no state.
std::string GetLinkTargetDir(const char* pszLink);

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_OSTOOLS_H
