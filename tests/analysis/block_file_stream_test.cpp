#include "analysis/block_file_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tfilestream.h>

#include <string>
#include <vector>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"

namespace {

using twintone_test::AudioEncoding;
using twintone_test::SharedAudioCorpus;

// TagLib's own stream over a descriptor, named by its path as the tag reader names
// its streams (TagLib picks the file type by the name).
class NamedFileStream : public TagLib::FileStream {
 public:
  NamedFileStream(int nFd, const char* pszPath) : FileStream(nFd, true), pszPath_(pszPath) {}
  TagLib::FileName name() const override { return pszPath_; }

 private:
  const char* pszPath_;
};

// Everything the tag reader takes from a file, as one line.
std::string Describe(TagLib::IOStream* pStream) {
  TagLib::FileRef file(pStream, true, TagLib::AudioProperties::Average);
  if (file.isNull() || file.tag() == nullptr) return "no tag";
  const TagLib::Tag* pTag = file.tag();
  const TagLib::AudioProperties* pProps = file.audioProperties();
  return pTag->title().to8Bit(true) + "|" + pTag->artist().to8Bit(true) + "|" +
         pTag->album().to8Bit(true) + "|" + pTag->genre().to8Bit(true) + "|" +
         std::to_string(file.file()->length()) + "|" +
         std::to_string(pProps != nullptr ? pProps->lengthInMilliseconds() : -1) + "|" +
         std::to_string(pProps != nullptr ? pProps->bitrate() : -1);
}

std::string ThroughTagLib(const std::string& strPath) {
  NamedFileStream stream(open(strPath.c_str(), O_RDONLY), strPath.c_str());
  return Describe(&stream);
}

std::string ThroughBlocks(const std::string& strPath) {
  const int nFd = open(strPath.c_str(), O_RDONLY);
  struct stat st {};
  fstat(nFd, &st);
  twintone::BlockFileStream stream(nFd, st.st_size, strPath.c_str());
  return Describe(&stream);
}

// TagLib finds the same tags and properties through the block stream as through its
// own, in every encoding, in files cut short or damaged, and around tags of about a
// block and larger than one (read past the cache).
TEST(BlockFileStreamTest, TagLibReadsTheSameAsThroughItsOwnStream) {
  TempDir dir;
  std::vector<std::string> vecPaths;
  for (AudioEncoding encoding : twintone_test::AllEncodings()) {
    const std::string& strPath = SharedAudioCorpus().Path(1, encoding);
    const std::string strName =
        twintone_test::EncodingName(encoding) + strPath.substr(strPath.find_last_of('.'));
    twintone_test::WriteTruncatedCopy(strPath, dir.Path("cut-" + strName), 70000);
    twintone_test::WriteTruncatedCopy(strPath, dir.Path("stub-" + strName), 300);
    twintone_test::WriteDamagedCopy(strPath, dir.Path("damaged-" + strName));
    for (const char* pszKind : {"cut-", "stub-", "damaged-"})
      vecPaths.push_back(dir.Path(pszKind + strName));
    vecPaths.push_back(strPath);
  }
  // The audio after a tag of about one block starts at the block's edge, so TagLib's
  // search for it reads across two blocks.
  for (size_t nTagBytes : {64990, 150000}) {
    const std::string strPath = dir.Path("tag-" + std::to_string(nTagBytes) + ".mp3");
    twintone_test::WriteMp3WithId3Frames(
        strPath, {{"TIT2", 0, "Long"}, {"TXXX", 0, std::string(nTagBytes, 'x')}});
    vecPaths.push_back(strPath);
  }
  for (const std::string& strPath : vecPaths) {
    EXPECT_EQ(ThroughBlocks(strPath), ThroughTagLib(strPath)) << strPath;
  }
}

}  // namespace
