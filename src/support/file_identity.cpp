#include "support/file_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace twintone {
namespace {

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity identity;
  identity.nSize = st.st_size;
  identity.nMtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  identity.nDevice = st.st_dev;
  identity.nInode = st.st_ino;
  return identity;
}

// Closes the descriptor at scope exit.
class FdHold {
 public:
  explicit FdHold(int fd) : fd_(fd) {}
  ~FdHold() {
    if (fd_ >= 0) close(fd_);
  }
  FdHold(const FdHold&) = delete;
  FdHold& operator=(const FdHold&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Reads exactly nBytes at nOffset; false on a short read or an error.
bool ReadAt(int fd, unsigned char* pBuffer, size_t nBytes, int64_t nOffset) {
  size_t nDone = 0;
  while (nDone < nBytes) {
    ssize_t n = pread(fd, pBuffer + nDone, nBytes - nDone, nOffset + static_cast<int64_t>(nDone));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    nDone += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

uint64_t Fnv1a64(uint64_t nHash, const unsigned char* pData, size_t nBytes) {
  for (size_t i = 0; i < nBytes; ++i) {
    nHash ^= pData[i];
    nHash *= 1099511628211ULL;
  }
  return nHash;
}

bool ReadFileIdentity(const char* pszPath, FileIdentity* pIdentity) {
  struct stat st;
  if (stat(pszPath, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *pIdentity = IdentityOf(st);
  return true;
}

bool HashFileEnds(const char* pszPath, const FileIdentity& expected, uint64_t* pnHash) {
  FdHold fd(open(pszPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (IdentityOf(st) != expected) return false;

  int64_t nSize = st.st_size;
  std::vector<unsigned char> vecBuffer(static_cast<size_t>(kHashedEndBytes));
  uint64_t nHash = kFnvOffset;
  if (nSize <= 2 * kHashedEndBytes) {
    vecBuffer.resize(static_cast<size_t>(nSize));
    if (!ReadAt(fd.Get(), vecBuffer.data(), vecBuffer.size(), 0)) return false;
    nHash = Fnv1a64(nHash, vecBuffer.data(), vecBuffer.size());
  } else {
    if (!ReadAt(fd.Get(), vecBuffer.data(), vecBuffer.size(), 0)) return false;
    nHash = Fnv1a64(nHash, vecBuffer.data(), vecBuffer.size());
    if (!ReadAt(fd.Get(), vecBuffer.data(), vecBuffer.size(), nSize - kHashedEndBytes)) {
      return false;
    }
    nHash = Fnv1a64(nHash, vecBuffer.data(), vecBuffer.size());
  }
  *pnHash = nHash;
  return true;
}

}  // namespace twintone
