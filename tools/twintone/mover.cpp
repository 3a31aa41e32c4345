#include "mover.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace twintone_cli {
namespace {

// Closes a file descriptor when it goes out of scope.
class FdGuard {
 public:
  explicit FdGuard(int fd) : m_fd(fd) {}
  ~FdGuard() {
    if (m_fd >= 0) close(m_fd);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Get() const { return m_fd; }
  // Closes now and reports close's own failure (which can signal a lost write).
  int Close() {
    int nResult = close(m_fd);
    m_fd = -1;
    return nResult == 0 ? 0 : errno;
  }

 private:
  int m_fd;
};

bool Exists(const std::string& strPath) {
  struct stat st;
  return lstat(strPath.c_str(), &st) == 0;
}

std::string BaseName(const std::string& strPath) {
  size_t nSlash = strPath.find_last_of('/');
  return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// Copies every byte of fdFrom to fdTo. 0 or an errno value.
int CopyBytes(int fdFrom, int fdTo) {
  char buffer[1 << 16];
  while (true) {
    ssize_t nRead = read(fdFrom, buffer, sizeof(buffer));
    if (nRead == 0) return 0;
    if (nRead < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    for (ssize_t nDone = 0; nDone < nRead;) {
      ssize_t nWritten = write(fdTo, buffer + nDone, static_cast<size_t>(nRead - nDone));
      if (nWritten < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      nDone += nWritten;
    }
  }
}

}  // namespace

bool EnsureDirectory(const std::string& strDir, std::string* pstrError) {
  for (size_t nPos = 1; nPos <= strDir.size(); ++nPos) {
    if (nPos != strDir.size() && strDir[nPos] != '/') continue;
    std::string strPrefix = strDir.substr(0, nPos);
    if (mkdir(strPrefix.c_str(), 0777) != 0 && errno != EEXIST) {
      *pstrError = "cannot create " + strPrefix + ": " + std::strerror(errno);
      return false;
    }
  }
  struct stat st;
  if (stat(strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *pstrError = strDir + " is not a folder";
    return false;
  }
  return true;
}

std::string NumberedName(const std::string& strName, int nCopy) {
  if (nCopy == 0) return strName;
  size_t nDot = strName.find_last_of('.');
  std::string strSuffix = " (" + std::to_string(nCopy) + ")";
  if (nDot == std::string::npos || nDot == 0) return strName + strSuffix;
  return strName.substr(0, nDot) + strSuffix + strName.substr(nDot);
}

namespace {

// Gives the finished file at strTemp the name strTo unless that name exists. 0 or an
// errno value; strTemp is left in place on failure.
int PublishNoReplace(const std::string& strTemp, const std::string& strTo) {
  if (link(strTemp.c_str(), strTo.c_str()) == 0) {
    unlink(strTemp.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  if (renameat2(AT_FDCWD, strTemp.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // A file system with neither hard links nor a refusing rename: check, then rename.
  if (Exists(strTo)) return EEXIST;
  return rename(strTemp.c_str(), strTo.c_str()) == 0 ? 0 : errno;
}

}  // namespace

int CopyThenUnlink(const std::string& strFrom, const std::string& strTo) {
  if (Exists(strTo)) return EEXIST;
  FdGuard from(open(strFrom.c_str(), O_RDONLY | O_CLOEXEC));
  if (from.Get() < 0) return errno;
  struct stat stFrom;
  if (fstat(from.Get(), &stFrom) != 0) return errno;
  if (!S_ISREG(stFrom.st_mode)) return EINVAL;

  // The copy grows under a hidden name beside strTo and takes strTo only when complete,
  // so an interrupted copy never looks like a finished file.
  size_t nSlash = strTo.find_last_of('/');
  std::string strTemp =
      (nSlash == std::string::npos ? std::string() : strTo.substr(0, nSlash + 1)) +
      ".twintone-partial-XXXXXX";
  FdGuard to(mkostemp(&strTemp[0], O_CLOEXEC));
  if (to.Get() < 0) return errno;
  int nError = fchmod(to.Get(), stFrom.st_mode & 07777) == 0 ? 0 : errno;
  if (nError == 0) nError = CopyBytes(from.Get(), to.Get());
  if (nError == 0 && fsync(to.Get()) != 0) nError = errno;
  struct stat stTo;
  if (nError == 0 && fstat(to.Get(), &stTo) != 0) nError = errno;
  if (nError == 0 && stTo.st_size != stFrom.st_size) nError = EIO;
  if (nError == 0) {
    const struct timespec times[2] = {stFrom.st_atim, stFrom.st_mtim};
    futimens(to.Get(), times);  // best effort: the bytes matter, the times are a courtesy
  }
  int nCloseError = to.Close();
  if (nError == 0) nError = nCloseError;
  if (nError == 0) nError = PublishNoReplace(strTemp, strTo);
  if (nError != 0) {
    unlink(strTemp.c_str());
    return nError;
  }
  if (unlink(strFrom.c_str()) != 0) {
    // Both copies stay: the duplicate is still where it was and also in the new place.
    return errno;
  }
  return 0;
}

int MoveNoReplace(const std::string& strFrom, const std::string& strTo) {
  if (renameat2(AT_FDCWD, strFrom.c_str(), AT_FDCWD, strTo.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  int nError = errno;
  if (nError == EXDEV) return CopyThenUnlink(strFrom, strTo);
  if (nError != EINVAL && nError != ENOSYS && nError != ENOTSUP) return nError;

  // The file system cannot refuse to replace on rename: a hard link fails on an
  // existing name just as well, then the old name goes.
  if (link(strFrom.c_str(), strTo.c_str()) == 0) {
    if (unlink(strFrom.c_str()) != 0) {
      int nUnlinkError = errno;
      unlink(strTo.c_str());
      return nUnlinkError;
    }
    return 0;
  }
  nError = errno;
  if (nError == EEXIST || nError == ENOENT) return nError;
  return CopyThenUnlink(strFrom, strTo);
}

std::vector<MoveRecord> MoveDuplicates(const std::vector<Group>& vecGroups,
                                       const std::string& strDir, bool bDryRun,
                                       const std::atomic<bool>* pbStop) {
  std::vector<MoveRecord> vecRecords;
  std::set<std::string> setPlanned;  // names a dry run has already given out
  std::string strPrefix = strDir.empty() || strDir.back() == '/' ? strDir : strDir + "/";
  for (const Group& group : vecGroups) {
    for (size_t i = 1; i < group.vecMembers.size(); ++i) {
      if (pbStop != nullptr && pbStop->load()) return vecRecords;
      MoveRecord record;
      record.strFrom = group.vecMembers[i].strPath;
      std::string strName = BaseName(record.strFrom);
      int nError = EEXIST;
      for (int nCopy = 0; nCopy < 10000 && nError == EEXIST; ++nCopy) {
        record.strTo = strPrefix + NumberedName(strName, nCopy);
        if (bDryRun) {
          nError = Exists(record.strTo) || setPlanned.count(record.strTo) ? EEXIST : 0;
        } else if (!Exists(record.strFrom)) {
          nError = ENOENT;
        } else {
          nError = MoveNoReplace(record.strFrom, record.strTo);
        }
      }
      if (nError == 0) {
        record.status = bDryRun ? MoveStatus::kWouldMove : MoveStatus::kMoved;
        setPlanned.insert(record.strTo);
      } else {
        record.status = MoveStatus::kFailed;
        record.strError = std::strerror(nError);
        record.strTo.clear();
      }
      vecRecords.push_back(record);
    }
  }
  return vecRecords;
}

}  // namespace twintone_cli
