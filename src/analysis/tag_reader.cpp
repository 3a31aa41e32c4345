// Tags and audio properties of one file, read with TagLib. Runs on the engine's
// worker thread (or any host thread); keeps no state between calls.
#include <sys/stat.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tfile.h>
#include <taglib/tstring.h>

#include <cstdio>
#include <exception>
#include <string>

#include "twintone.h"

namespace {

// One tag field as UTF-8. Text that fits in one byte per character is what a
// single-byte frame carried: its bytes are taken as GBK. Wider text is already
// Unicode and passes unchanged.
void ReadTagText(const TagLib::String& text, std::string* pstrField) {
  if (text.isLatin1()) {
    *pstrField = text.toCString(false);
    *pstrField = ANSIToUTF8(*pstrField);
  } else {
    *pstrField = text.toCString(true);
  }
}

// TagLib opens by name and reads until it is satisfied: a FIFO would block it and a
// device would be read without end, so only regular files reach it.
bool IsRegularFile(const char* pszPath) {
  struct stat st;
  return stat(pszPath, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string& trim(std::string& s) {
  if (s.empty()) return s;
  std::string::size_type nPos = 0;
  while ((nPos = s.find(' ', nPos)) != std::string::npos) s.erase(nPos, 1);
  return s;
}

int GetDupMusicInfo(const char* path, DupMusicInfo* info) {
  if (path == nullptr || info == nullptr || !IsRegularFile(path)) return -1;
  try {
    TagLib::FileRef file(path, true, TagLib::AudioProperties::Average);
    if (file.isNull() || file.tag() == nullptr) return -1;
    const TagLib::Tag* pTag = file.tag();

    ReadTagText(pTag->title(), &info->strTitle);
    std::string strTrimmed = info->strTitle;
    if (info->strTitle.empty() || trim(strTrimmed).empty()) {
      info->strTitle = path;
      GetPathShortName(info->strTitle);
    }
    ReadTagText(pTag->artist(), &info->strArtist);
    ReadTagText(pTag->album(), &info->strAlbum);
    ReadTagText(pTag->genre(), &info->strGenre);

    info->nFileSize = static_cast<int64_t>(file.file()->length());
    const TagLib::AudioProperties* pProps = file.file()->audioProperties();
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
