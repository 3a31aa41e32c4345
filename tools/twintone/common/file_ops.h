// File system steps the actions are built from, each small enough to journal: syncing
// a folder, renaming without replacing, copying a file with everything the user may
// set on it, and a 64-bit FNV-1a hash to check a copy against its source.
#ifndef TWINTONE_TOOLS_COMMON_FILE_OPS_H
#define TWINTONE_TOOLS_COMMON_FILE_OPS_H

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace twintone_cli {

// Closes a file descriptor when it goes out of scope.
class FdGuard {
 public:
  explicit FdGuard(int fd) : m_fd(fd) {}
  ~FdGuard();
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int Get() const { return m_fd; }
  // Closes now; 0 or close's errno (which can signal a lost write).
  int Close();

 private:
  int m_fd;
};

// A file's identity and the facts a plan or a journal checks it by.
struct FileFacts {
  bool bExists = false;
  uint64_t nDevice = 0;
  uint64_t nInode = 0;
  int64_t nSize = 0;
  int64_t nModifiedNs = 0;
  int64_t nChangedNs = 0;  // the inode's change time: any write, chmod, link or rename
  bool bRegular = false;
  bool bSymlink = false;
  bool bDir = false;
};

// lstat (bFollow false) or stat of strPath; bExists false when it fails.
FileFacts FactsOf(const std::string& strPath, bool bFollow = false);
// fstat of an open file; bExists false when it fails.
FileFacts FactsOfFd(int fd);
// Whether a and b are the same file in the same state: identity, size, modification
// and change time. Nothing can have written to a file whose state is unchanged.
bool SameState(const FileFacts& a, const FileFacts& b);

std::string ParentDir(const std::string& strPath);  // "." for a bare name
std::string BaseName(const std::string& strPath);

// fsyncs the folder strDir, so a name made or removed in it survives a crash.
// 0 or an errno value.
int SyncDir(const std::string& strDir);

// rename that fails with EEXIST rather than replace strTo; falls back to link+unlink,
// then to check-and-rename, on file systems without RENAME_NOREPLACE. 0 or errno.
int RenameNoReplace(const std::string& strFrom, const std::string& strTo);

// FNV-1a 64 of every byte of strPath; false when it cannot be read.
bool HashFile(const std::string& strPath, uint64_t* pnHash);
uint64_t HashBytes(const std::string& strBytes);  // the same hash of bytes in memory
std::string HashText(uint64_t nHash);             // 16 lower-case hex digits

// Whether the files at strA and strB hold the same bytes; false when either cannot be
// read.
bool SameBytes(const std::string& strA, const std::string& strB);

// What a verified copy made, and what it was made from.
struct CopyOutcome {
  uint64_t nHash = 0;                // FNV-1a 64 of the bytes copied
  uint64_t nDevice = 0, nInode = 0;  // the new file's identity
  FileFacts source;                  // the source as it was when the copy began
};

// Copies the regular file open as fdFrom (read from where it stands, its start for a
// new descriptor) into a new file strTo (created with O_EXCL: an existing strTo is
// EEXIST, untouched), with its mode, times, extended attributes and, where permitted,
// owner and group; fsyncs it, then reads it back and checks its size and hash against
// the bytes read. The caller compares FactsOfFd(fdFrom) with pOutcome->source to learn
// whether the source changed meanwhile. ECANCELED once an interrupt arrived. 0 or an
// errno value; on failure strTo is removed again.
int CopyVerified(int fdFrom, const std::string& strTo, CopyOutcome* pOutcome);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_FILE_OPS_H
