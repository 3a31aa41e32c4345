// Tag and property reading of arbitrary bytes saved under every supported extension,
// by the one-byte rule and as the file stores its text.
// Beyond not crashing, a successful read must keep the reader's promises: a title
// (the file's bare name when the tag has none) and the file's real size. Duration
// and bitrate are TagLib's own figures, passed on as they come (a crafted header
// can make them negative).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/tag_reader.h"
#include "fuzz_file.h"
#include "twintone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string strPath = SaveAsAudioFile(pData, nSize);
  DupMusicInfo info;
  const int nResult = GetDupMusicInfo(strPath.c_str(), &info);
  if (nResult != 0 && nResult != -1 && nResult != -2) abort();
  if (nResult == 0) {
    if (info.strTitle.empty()) abort();
    if (info.nFileSize != static_cast<int64_t>(nSize > 0 ? nSize - 1 : 0)) abort();
  }
  // Text read as the file stores it looks into each tag of the type: it reads the
  // same file, so it succeeds exactly when the plain read does.
  DupMusicInfo stored;
  const twintone::TagTextOptions asStored{TWINTONE_TAGTEXT_AS_STORED, "latin1"};
  if (twintone::ReadDupMusicInfo(strPath.c_str(), &stored, asStored) != nResult) abort();
  return 0;
}
