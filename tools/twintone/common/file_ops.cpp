#include "common/file_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/interrupt.h"

namespace twintone_cli {
namespace {

constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

void AddToHash(const char* pBytes, size_t nCount, uint64_t* pnHash) {
  for (size_t i = 0; i < nCount; ++i) {
    *pnHash ^= static_cast<unsigned char>(pBytes[i]);
    *pnHash *= kFnvPrime;
  }
}

// Copies every byte of fdFrom to fdTo, hashing them. 0, ECANCELED once an interrupt
// arrived, or an errno value.
int CopyBytes(int fdFrom, int fdTo, uint64_t* pnHash) {
  std::vector<char> buffer(1 << 16);
  while (true) {
    if (InterruptRequested().load()) return ECANCELED;
    ssize_t nRead = read(fdFrom, buffer.data(), buffer.size());
    if (nRead == 0) return 0;
    if (nRead < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    AddToHash(buffer.data(), static_cast<size_t>(nRead), pnHash);
    for (ssize_t nDone = 0; nDone < nRead;) {
      ssize_t nWritten = write(fdTo, buffer.data() + nDone, static_cast<size_t>(nRead - nDone));
      if (nWritten < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      nDone += nWritten;
    }
  }
}

// Copies the extended attributes the caller may set (user.*, and others where the
// file system and privileges allow); one that is refused is passed over.
void CopyXattrs(int fdFrom, int fdTo) {
  ssize_t nSize = flistxattr(fdFrom, nullptr, 0);
  if (nSize <= 0) return;
  std::vector<char> names(static_cast<size_t>(nSize));
  nSize = flistxattr(fdFrom, names.data(), names.size());
  for (ssize_t nPos = 0; nPos < nSize;) {
    const char* pszName = names.data() + nPos;
    nPos += static_cast<ssize_t>(std::char_traits<char>::length(pszName)) + 1;
    ssize_t nValue = fgetxattr(fdFrom, pszName, nullptr, 0);
    if (nValue < 0) continue;
    std::vector<char> value(static_cast<size_t>(nValue) + 1);
    nValue = fgetxattr(fdFrom, pszName, value.data(), value.size());
    if (nValue >= 0) fsetxattr(fdTo, pszName, value.data(), static_cast<size_t>(nValue), 0);
  }
}

FileFacts FactsOfStat(const struct stat& st) {
  FileFacts facts;
  facts.bExists = true;
  facts.nDevice = st.st_dev;
  facts.nInode = st.st_ino;
  facts.nSize = st.st_size;
  facts.nModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  facts.nChangedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  facts.bRegular = S_ISREG(st.st_mode);
  facts.bSymlink = S_ISLNK(st.st_mode);
  facts.bDir = S_ISDIR(st.st_mode);
  return facts;
}

}  // namespace

FdGuard::~FdGuard() {
  if (m_fd >= 0) close(m_fd);
}

int FdGuard::Close() {
  int nResult = close(m_fd);
  m_fd = -1;
  return nResult == 0 ? 0 : errno;
}

FileFacts FactsOf(const std::string& strPath, bool bFollow) {
  struct stat st;
  if ((bFollow ? stat(strPath.c_str(), &st) : lstat(strPath.c_str(), &st)) != 0) return FileFacts();
  return FactsOfStat(st);
}

FileFacts FactsOfFd(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? FactsOfStat(st) : FileFacts();
}

bool SameState(const FileFacts& a, const FileFacts& b) {
  return a.bExists && b.bExists && a.nDevice == b.nDevice && a.nInode == b.nInode &&
         a.nSize == b.nSize && a.nModifiedNs == b.nModifiedNs && a.nChangedNs == b.nChangedNs;
}

std::string ParentDir(const std::string& strPath) {
  size_t nSlash = strPath.find_last_of('/');
  if (nSlash == std::string::npos) return ".";
  return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

std::string BaseName(const std::string& strPath) {
  size_t nSlash = strPath.find_last_of('/');
  return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

int SyncDir(const std::string& strDir) {
  FdGuard dir(open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0) return errno;
  return fsync(dir.Get()) == 0 ? 0 : errno;
}

int RenameNoReplace(const std::string& strFrom, const std::string& strTo) {
  if (renameat2(AT_FDCWD, strFrom.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  int nError = errno;
  if (nError != EINVAL && nError != ENOSYS && nError != ENOTSUP) return nError;
  if (link(strFrom.c_str(), strTo.c_str()) == 0) {
    if (unlink(strFrom.c_str()) == 0) return 0;
    nError = errno;
    unlink(strTo.c_str());
    return nError;
  }
  if (errno == EEXIST || errno == ENOENT || errno == EXDEV) return errno;
  if (FactsOf(strTo).bExists) return EEXIST;
  return rename(strFrom.c_str(), strTo.c_str()) == 0 ? 0 : errno;
}

bool HashFile(const std::string& strPath, uint64_t* pnHash) {
  FdGuard file(open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) return false;
  *pnHash = kFnvOffset;
  std::vector<char> buffer(1 << 16);
  while (true) {
    ssize_t nRead = read(file.Get(), buffer.data(), buffer.size());
    if (nRead == 0) return true;
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead < 0) return false;
    AddToHash(buffer.data(), static_cast<size_t>(nRead), pnHash);
  }
}

uint64_t HashBytes(const std::string& strBytes) {
  uint64_t nHash = kFnvOffset;
  AddToHash(strBytes.data(), strBytes.size(), &nHash);
  return nHash;
}

std::string HashText(uint64_t nHash) {
  char szText[17];
  std::snprintf(szText, sizeof(szText), "%016llx", static_cast<unsigned long long>(nHash));
  return szText;
}

bool SameBytes(const std::string& strA, const std::string& strB) {
  FdGuard a(open(strA.c_str(), O_RDONLY | O_CLOEXEC));
  FdGuard b(open(strB.c_str(), O_RDONLY | O_CLOEXEC));
  if (a.Get() < 0 || b.Get() < 0) return false;
  std::vector<char> bufferA(1 << 16), bufferB(1 << 16);
  while (true) {
    ssize_t nA = read(a.Get(), bufferA.data(), bufferA.size());
    if (nA < 0 && errno == EINTR) continue;
    if (nA < 0) return false;
    // Fills the same count from b, however its reads come back.
    ssize_t nB = 0;
    while (nB < nA) {
      ssize_t nNow = read(b.Get(), bufferB.data() + nB, static_cast<size_t>(nA - nB));
      if (nNow < 0 && errno == EINTR) continue;
      if (nNow <= 0) return false;
      nB += nNow;
    }
    if (nA == 0) {
      char c;
      return read(b.Get(), &c, 1) == 0;
    }
    if (std::memcmp(bufferA.data(), bufferB.data(), static_cast<size_t>(nA)) != 0) return false;
  }
}

int CopyVerified(int fdFrom, const std::string& strTo, CopyOutcome* pOutcome) {
  struct stat stFrom;
  if (fstat(fdFrom, &stFrom) != 0) return errno;
  if (!S_ISREG(stFrom.st_mode)) return EINVAL;
  pOutcome->source = FactsOfStat(stFrom);
  FdGuard to(open(strTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (to.Get() < 0) return errno;

  uint64_t nHash = kFnvOffset;
  int nError = CopyBytes(fdFrom, to.Get(), &nHash);
  if (nError == 0) {
    // Owner first: changing it clears set-id bits, which the mode then restores.
    // Owner, attributes and times are kept where the user may set them.
    if (fchown(to.Get(), stFrom.st_uid, stFrom.st_gid) != 0) {
      int nIgnored = fchown(to.Get(), static_cast<uid_t>(-1), stFrom.st_gid);
      (void)nIgnored;
    }
    if (fchmod(to.Get(), stFrom.st_mode & 07777) != 0) nError = errno;
    CopyXattrs(fdFrom, to.Get());
    const struct timespec times[2] = {stFrom.st_atim, stFrom.st_mtim};
    futimens(to.Get(), times);
  }
  if (nError == 0 && fsync(to.Get()) != 0) nError = errno;
  struct stat stTo;
  if (nError == 0 && fstat(to.Get(), &stTo) != 0) nError = errno;
  if (nError == 0 && stTo.st_size != stFrom.st_size) nError = EIO;
  int nCloseError = to.Close();
  if (nError == 0) nError = nCloseError;
  uint64_t nCheck = 0;
  if (nError == 0 && (!HashFile(strTo, &nCheck) || nCheck != nHash)) nError = EIO;
  if (nError != 0) {
    unlink(strTo.c_str());
    return nError;
  }
  pOutcome->nHash = nHash;
  pOutcome->nDevice = stTo.st_dev;
  pOutcome->nInode = stTo.st_ino;
  return 0;
}

}  // namespace twintone_cli
