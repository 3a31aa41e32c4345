// Tags and audio properties of one file, read with TagLib. Runs on the engine's
// worker thread (or any host thread); keeps no state between calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tfile.h>
#include <taglib/tstring.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "analysis/block_file_stream.h"
#include "analysis/tag_reader.h"
#include "support/legacy_text.h"
#include "twintone.h"

namespace {

using twintone::TagField;
using twintone::TagTextOptions;
using twintone::TagTextStorage;

// One tag field as UTF-8. By default, text that fits in one byte per character is
// taken to be what a single-byte frame carried, and its bytes are read in the legacy
// encoding (bytes invalid there are dropped); wider text is already Unicode and passes
// unchanged. Read as stored, the file's own record of how it stores the field decides,
// the one-byte rule only stands in where the file type does not say, and single-byte
// text loses no byte: text that is not valid in the legacy encoding is read as
// Windows-1252.
void ReadTagText(TagLib::File* pFile, TagField field, const TagLib::String& text,
                 const TagTextOptions& options, std::string* pstrField) {
  TagTextStorage storage = TagTextStorage::kUnknown;
  if (options.nMode == TWINTONE_TAGTEXT_AS_STORED) storage = twintone::StoredTextForm(pFile, field);
  if (storage == TagTextStorage::kUnknown) {
    storage = text.isLatin1() ? TagTextStorage::kSingleByte : TagTextStorage::kUnicode;
  }
  if (storage == TagTextStorage::kSingleByte) {
    *pstrField = text.toCString(false);
    *pstrField = options.nMode == TWINTONE_TAGTEXT_AS_STORED
                     ? twintone::LegacyToUTF8Whole(*pstrField, options.strLegacyEncoding)
                     : twintone::LegacyToUTF8(*pstrField, options.strLegacyEncoding);
  } else {
    *pstrField = text.toCString(true);
  }
}

// Opens pszPath for reading if it is a regular file: O_NONBLOCK keeps the open from
// waiting on a FIFO without a writer. TagLib reads until it is satisfied, so a FIFO
// would block it and a device would be read without end; the file is opened once,
// here, so nothing can be swapped in between the check and the reading. Returns the
// descriptor and stores the file's size in *pnSize, or returns -1.
int OpenRegularFile(const char* pszPath, int64_t* pnSize) {
  int nFd = open(pszPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (nFd < 0) return -1;
  struct stat st;
  if (fstat(nFd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(nFd);
    return -1;
  }
  *pnSize = static_cast<int64_t>(st.st_size);
  return nFd;
}

}  // namespace

std::string& trim(std::string& s) {
  if (s.empty()) return s;
  std::string::size_type nPos = 0;
  while ((nPos = s.find(' ', nPos)) != std::string::npos) s.erase(nPos, 1);
  return s;
}

void twintone::FallBackToFileName(std::string* pTitle, const std::string& strPath) {
  std::string strTrimmed = *pTitle;
  if (!pTitle->empty() && !trim(strTrimmed).empty()) return;
  *pTitle = strPath;
  GetPathShortName(*pTitle);
}

int GetDupMusicInfo(const char* path, DupMusicInfo* info) {
  return twintone::ReadDupMusicInfo(path, info, TagTextOptions());
}

// The parameters keep GetDupMusicInfo's names: the steps read as its contract does.
int twintone::ReadDupMusicInfo(const char* path, DupMusicInfo* info,
                               const TagTextOptions& options) {
  if (path == nullptr || info == nullptr) return -1;
  int64_t nSize = 0;
  int nFd = OpenRegularFile(path, &nSize);
  if (nFd < 0) return -1;
  try {
    // The stream takes the descriptor and outlives the FileRef that reads it. It
    // answers with the path as its name, from which TagLib picks the file type by
    // extension, as it does for a path.
    twintone::BlockFileStream stream(nFd, nSize, path);
    TagLib::FileRef file(&stream, true, TagLib::AudioProperties::Average);
    if (file.isNull() || file.tag() == nullptr) return -1;
    const TagLib::Tag* pTag = file.tag();

    TagLib::File* pFile = file.file();
    ReadTagText(pFile, TagField::kTitle, pTag->title(), options, &info->strTitle);
    FallBackToFileName(&info->strTitle, path);
    ReadTagText(pFile, TagField::kArtist, pTag->artist(), options, &info->strArtist);
    ReadTagText(pFile, TagField::kAlbum, pTag->album(), options, &info->strAlbum);
    ReadTagText(pFile, TagField::kGenre, pTag->genre(), options, &info->strGenre);

    info->nFileSize = static_cast<int64_t>(pFile->length());
    const TagLib::AudioProperties* pProps = pFile->audioProperties();
    if (pProps != nullptr) {
      info->nDuration = static_cast<int64_t>(pProps->length()) * 1000;
      info->nBitrate = pProps->bitrate();
    }
    return 0;
  } catch (const std::exception& e) {
    fputs(e.what(), stderr);
    return -2;
  }
}
