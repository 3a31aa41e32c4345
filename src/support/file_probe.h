// Why a file cannot be read: told apart after a read has already failed.
#ifndef TWINTONE_SUPPORT_FILE_PROBE_H
#define TWINTONE_SUPPORT_FILE_PROBE_H

#include <string>

namespace twintone {

enum class FileAccess {
  kReadable,    // a regular file that opens for reading
  kMissing,     // nothing at the path (a dangling link included)
  kNotRegular,  // a folder, FIFO, device or socket
  kUnreadable,  // exists, but cannot be reached or opened for reading
};

// Looks at strPath with stat and, for a regular file, a non-blocking open that is
// closed at once (a FIFO is never opened). Reads no data; any thread.
FileAccess ProbeFile(const std::string& strPath);

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_FILE_PROBE_H
