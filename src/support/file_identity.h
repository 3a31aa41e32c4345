// What tells one state of a file from another without reading it all: its stat
// identity, and a hash of its first and last 64 KiB for files that moved.
#ifndef TWINTONE_SUPPORT_FILE_IDENTITY_H
#define TWINTONE_SUPPORT_FILE_IDENTITY_H

#include <cstddef>
#include <cstdint>

namespace twintone {

struct FileIdentity {
  int64_t nSize = 0;
  int64_t nMtimeNs = 0;  // modification time in nanoseconds since the epoch
  uint64_t nDevice = 0;
  uint64_t nInode = 0;

  bool operator==(const FileIdentity& other) const {
    return nSize == other.nSize && nMtimeNs == other.nMtimeNs && nDevice == other.nDevice &&
           nInode == other.nInode;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// Bytes hashed at each end of a file.
constexpr int64_t kHashedEndBytes = 64 * 1024;

// The identity of the regular file at pszPath (symbolic links followed). False when
// nothing is there or it is not a regular file. Keeps no state; any thread.
bool ReadFileIdentity(const char* pszPath, FileIdentity* pIdentity);

// FNV-1a (64 bits) over the file's first kHashedEndBytes and its last kHashedEndBytes
// (the whole file once when it is no longer than both), read through a descriptor
// opened O_RDONLY. False when the file cannot be read or its identity is no longer
// expected: it changed since expected was taken. Any thread.
bool HashFileEnds(const char* pszPath, const FileIdentity& expected, uint64_t* pnHash);

// FNV-1a (64 bits) continued from nHash over nBytes at pData. Start from kFnvOffset.
constexpr uint64_t kFnvOffset = 1469598103934665603ULL;
uint64_t Fnv1a64(uint64_t nHash, const unsigned char* pData, size_t nBytes);

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_FILE_IDENTITY_H
