// A read-only TagLib stream over a file descriptor that answers TagLib's many small
// reads and seeks from a few cached blocks of the file: a tag read costs a handful of
// system calls instead of dozens. It gives TagLib the same bytes as TagLib's own
// file stream does.
#ifndef TWINTONE_ANALYSIS_BLOCK_FILE_STREAM_H
#define TWINTONE_ANALYSIS_BLOCK_FILE_STREAM_H

#include <taglib/tbytevector.h>
#include <taglib/tiostream.h>

#include <cstdint>
#include <vector>

namespace twintone {

class BlockFileStream : public TagLib::IOStream {
 public:
  // Takes nFd, a regular file of nSize bytes, and closes it when destroyed. pszPath
  // is the name TagLib sees (it picks the file type by extension) and must outlive
  // the stream.
  BlockFileStream(int nFd, int64_t nSize, const char* pszPath);
  ~BlockFileStream() override;
  BlockFileStream(const BlockFileStream&) = delete;
  BlockFileStream& operator=(const BlockFileStream&) = delete;

  TagLib::FileName name() const override { return pszPath_; }
  // Up to nLength bytes from the position on, fewer at the end of the file.
  TagLib::ByteVector readBlock(unsigned long nLength) override;
  // A position before the start is refused and leaves the position as it was; one
  // past the end is kept, and reads there give nothing.
  void seek(long nOffset, Position position = Beginning) override;
  long tell() const override { return static_cast<long>(nPos_); }
  long length() override { return static_cast<long>(nSize_); }
  bool readOnly() const override { return true; }
  bool isOpen() const override { return nFd_ >= 0; }
  // Read-only: nothing is ever written.
  void writeBlock(const TagLib::ByteVector&) override {}
  void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
  void removeBlock(unsigned long, unsigned long) override {}
  void truncate(long) override {}

 private:
  struct Block {
    int64_t nStart = -1;  // file offset of data[0]; -1 when empty
    std::vector<char> data;
    uint64_t nUsed = 0;  // for choosing the block to replace
  };
  // The cached block holding nPos, read in first when needed; null on a read error.
  const Block* BlockAt(int64_t nPos);

  int nFd_;
  int64_t nSize_;
  const char* pszPath_;
  int64_t nPos_ = 0;
  uint64_t nClock_ = 0;
  Block blocks_[4];
};

}  // namespace twintone

#endif  // TWINTONE_ANALYSIS_BLOCK_FILE_STREAM_H
