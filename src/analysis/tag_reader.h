// Reading one file's tags with a choice of how their text becomes UTF-8.
#ifndef TWINTONE_ANALYSIS_TAG_READER_H
#define TWINTONE_ANALYSIS_TAG_READER_H

#include <string>

#include "support/legacy_text.h"
#include "twintone.h"
#include "twintone_ext.h"

namespace TagLib {
class File;
class String;
}  // namespace TagLib

namespace twintone {

// How tag text is read. The defaults are GetDupMusicInfo's behaviour.
struct TagTextOptions {
  // TWINTONE_TAGTEXT_LEGACY: any text whose characters all fit in one byte is read
  // in strLegacyEncoding. TWINTONE_TAGTEXT_AS_STORED: only text the file stores in
  // single-byte form is, by LegacyToUTF8Whole (no byte dropped); text it stores as
  // Unicode is taken as it is.
  int nMode = TWINTONE_TAGTEXT_LEGACY;
  std::string strLegacyEncoding = kDefaultLegacyEncoding;  // an iconv name
};

// GetDupMusicInfo with the given text options; same results and contract.
int ReadDupMusicInfo(const char* pszPath, DupMusicInfo* pInfo, const TagTextOptions& options);

// The one title fallback: a title that is empty, or holds nothing but blanks
// (trim leaves nothing), becomes the file's bare name (GetPathShortName of strPath).
// Any other title stays as it is, its blanks included. The tag reader applies it to
// every title it reads; a title a host supplies is never passed through it.
void FallBackToFileName(std::string* pTitle, const std::string& strPath);

// The four text fields a record takes from the tags.
enum class TagField { kTitle, kArtist, kAlbum, kGenre };

// How a file stores the text of one field.
enum class TagTextStorage {
  kSingleByte,  // ID3v1, ID3v2 frames marked Latin-1, RIFF INFO
  kUnicode,     // Vorbis comments, MP4 atoms, APE, ASF, ID3v2 UTF-8 and UTF-16 frames
  kUnknown,     // the field is empty, or the file type is not one of the above
};

// Which tag of pFile gives the field, in the order TagLib's FileRef reads the tags
// of each type (the first tag where the field is not empty), and how that tag stores
// it.
TagTextStorage StoredTextForm(TagLib::File* pFile, TagField field);

}  // namespace twintone

#endif  // TWINTONE_ANALYSIS_TAG_READER_H
