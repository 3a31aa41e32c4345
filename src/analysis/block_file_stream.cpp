#include "analysis/block_file_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace twintone {
namespace {

// Tags sit at a file's head and tail: a block each covers them in most files, and a
// small file in one.
constexpr int64_t kBlockSize = 64 * 1024;

// Reads up to nLength bytes at nOffset into pDst; returns how many, or -1.
int64_t ReadAt(int nFd, char* pDst, int64_t nLength, int64_t nOffset) {
  int64_t nDone = 0;
  while (nDone < nLength) {
    ssize_t nRead = pread(nFd, pDst + nDone, static_cast<size_t>(nLength - nDone), nOffset + nDone);
    if (nRead == 0) break;
    if (nRead < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    nDone += nRead;
  }
  return nDone;
}

}  // namespace

BlockFileStream::BlockFileStream(int nFd, int64_t nSize, const char* pszPath)
    : nFd_(nFd), nSize_(nSize), pszPath_(pszPath) {}

BlockFileStream::~BlockFileStream() {
  if (nFd_ >= 0) close(nFd_);
}

const BlockFileStream::Block* BlockFileStream::BlockAt(int64_t nPos) {
  Block* pOldest = &blocks_[0];
  for (Block& block : blocks_) {
    if (block.nStart >= 0 && nPos >= block.nStart &&
        nPos < block.nStart + static_cast<int64_t>(block.data.size())) {
      block.nUsed = ++nClock_;
      return &block;
    }
    if (block.nUsed < pOldest->nUsed) pOldest = &block;
  }
  // Blocks start on their size's multiples, except that the last one ends at the
  // file's end, so the tail that tag readers seek to lies in one block.
  int64_t nStart = nPos / kBlockSize * kBlockSize;
  if (nStart + kBlockSize > nSize_) nStart = std::max<int64_t>(0, nSize_ - kBlockSize);
  const int64_t nLength = std::min(kBlockSize, nSize_ - nStart);
  pOldest->data.resize(static_cast<size_t>(nLength));
  const int64_t nRead = ReadAt(nFd_, pOldest->data.data(), nLength, nStart);
  if (nRead <= nPos - nStart) {  // a read error, or the file shrank under us
    pOldest->nStart = -1;
    return nullptr;
  }
  pOldest->data.resize(static_cast<size_t>(nRead));
  pOldest->nStart = nStart;
  pOldest->nUsed = ++nClock_;
  return pOldest;
}

TagLib::ByteVector BlockFileStream::readBlock(unsigned long nLength) {
  if (nFd_ < 0 || nLength == 0 || nPos_ >= nSize_) return TagLib::ByteVector();
  const int64_t nWant = std::min<int64_t>(static_cast<int64_t>(nLength), nSize_ - nPos_);
  TagLib::ByteVector result(static_cast<unsigned int>(nWant), '\0');
  int64_t nDone = 0;
  if (nWant >= kBlockSize) {  // a large tag or picture: read as it stands
    nDone = std::max<int64_t>(0, ReadAt(nFd_, result.data(), nWant, nPos_));
  } else {
    while (nDone < nWant) {
      const Block* pBlock = BlockAt(nPos_ + nDone);
      if (pBlock == nullptr) break;
      const int64_t nFrom = nPos_ + nDone - pBlock->nStart;
      const int64_t nCopy =
          std::min(nWant - nDone, static_cast<int64_t>(pBlock->data.size()) - nFrom);
      memcpy(result.data() + nDone, pBlock->data.data() + nFrom, static_cast<size_t>(nCopy));
      nDone += nCopy;
    }
  }
  result.resize(static_cast<unsigned int>(nDone));
  nPos_ += nDone;
  return result;
}

void BlockFileStream::seek(long nOffset, Position position) {
  int64_t nBase = 0;
  if (position == Current) nBase = nPos_;
  if (position == End) nBase = nSize_;
  const int64_t nTarget = nBase + nOffset;
  if (nTarget >= 0) nPos_ = nTarget;
}

}  // namespace twintone
