#include "support/file_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace twintone {

FileAccess ProbeFile(const std::string& strPath) {
  struct stat st;
  if (stat(strPath.c_str(), &st) != 0) {
    // A loop of links, a folder without search permission, an I/O error: something
    // is there that cannot be reached.
    return errno == ENOENT || errno == ENOTDIR ? FileAccess::kMissing : FileAccess::kUnreadable;
  }
  if (!S_ISREG(st.st_mode)) return FileAccess::kNotRegular;
  int nFd = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (nFd < 0) return FileAccess::kUnreadable;
  close(nFd);
  return FileAccess::kReadable;
}

}  // namespace twintone
