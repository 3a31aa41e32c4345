// How each file type stores its tag text: the tags TagLib's FileRef merges for a
// type, in its order, and whether each holds single-byte or Unicode text.
#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <vector>

#include "analysis/tag_reader.h"

namespace twintone {

namespace {

enum class TagKind { kUnicode, kId3v2, kSingleByte };

struct TagSource {
  TagLib::Tag* pTag;  // may be null: the file has no such tag
  TagKind kind;
};

TagLib::String FieldText(const TagLib::Tag& tag, TagField field) {
  switch (field) {
    case TagField::kTitle:
      return tag.title();
    case TagField::kArtist:
      return tag.artist();
    case TagField::kAlbum:
      return tag.album();
    case TagField::kGenre:
      return tag.genre();
  }
  return TagLib::String();
}

const char* Id3v2FrameId(TagField field) {
  switch (field) {
    case TagField::kTitle:
      return "TIT2";
    case TagField::kArtist:
      return "TPE1";
    case TagField::kAlbum:
      return "TALB";
    case TagField::kGenre:
      return "TCON";
  }
  return "";
}

// An ID3v2 frame says how it stores its text in its encoding byte.
TagTextStorage Id3v2Storage(const TagLib::ID3v2::Tag& tag, TagField field) {
  const TagLib::ID3v2::FrameList& frames = tag.frameList(Id3v2FrameId(field));
  if (frames.isEmpty()) return TagTextStorage::kUnknown;
  const auto* pText = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frames.front());
  if (pText == nullptr) return TagTextStorage::kUnknown;
  return pText->textEncoding() == TagLib::String::Latin1 ? TagTextStorage::kSingleByte
                                                         : TagTextStorage::kUnicode;
}

// The tags of pFile in the order FileRef's merged tag reads them; empty for a type
// not listed (its text is then read by the single-byte rule).
std::vector<TagSource> TagSources(TagLib::File* pFile) {
  using namespace TagLib;
  if (auto* p = dynamic_cast<MPEG::File*>(pFile)) {
    return {{p->ID3v2Tag(), TagKind::kId3v2},
            {p->APETag(), TagKind::kUnicode},
            {p->ID3v1Tag(), TagKind::kSingleByte}};
  }
  if (auto* p = dynamic_cast<FLAC::File*>(pFile)) {
    return {{p->xiphComment(), TagKind::kUnicode},
            {p->ID3v2Tag(), TagKind::kId3v2},
            {p->ID3v1Tag(), TagKind::kSingleByte}};
  }
  if (auto* p = dynamic_cast<RIFF::WAV::File*>(pFile)) {
    return {{p->ID3v2Tag(), TagKind::kId3v2}, {p->InfoTag(), TagKind::kSingleByte}};
  }
  if (auto* p = dynamic_cast<RIFF::AIFF::File*>(pFile)) return {{p->tag(), TagKind::kId3v2}};
  if (auto* p = dynamic_cast<TrueAudio::File*>(pFile)) {
    return {{p->ID3v2Tag(), TagKind::kId3v2}, {p->ID3v1Tag(), TagKind::kSingleByte}};
  }
  if (auto* p = dynamic_cast<MPC::File*>(pFile)) {
    return {{p->APETag(), TagKind::kUnicode}, {p->ID3v1Tag(), TagKind::kSingleByte}};
  }
  if (auto* p = dynamic_cast<WavPack::File*>(pFile)) {
    return {{p->APETag(), TagKind::kUnicode}, {p->ID3v1Tag(), TagKind::kSingleByte}};
  }
  if (auto* p = dynamic_cast<APE::File*>(pFile)) {
    return {{p->APETag(), TagKind::kUnicode}, {p->ID3v1Tag(), TagKind::kSingleByte}};
  }
  // Vorbis, Opus, Speex and FLAC in Ogg: Vorbis comments, UTF-8 by definition.
  if (dynamic_cast<Ogg::File*>(pFile) != nullptr) return {{pFile->tag(), TagKind::kUnicode}};
  if (dynamic_cast<MP4::File*>(pFile) != nullptr || dynamic_cast<ASF::File*>(pFile) != nullptr) {
    return {{pFile->tag(), TagKind::kUnicode}};
  }
  return {};
}

}  // namespace

TagTextStorage StoredTextForm(TagLib::File* pFile, TagField field) {
  if (pFile == nullptr) return TagTextStorage::kUnknown;
  for (const TagSource& source : TagSources(pFile)) {
    if (source.pTag == nullptr || FieldText(*source.pTag, field).isEmpty()) continue;
    switch (source.kind) {
      case TagKind::kId3v2:
        return Id3v2Storage(*static_cast<TagLib::ID3v2::Tag*>(source.pTag), field);
      case TagKind::kUnicode:
        return TagTextStorage::kUnicode;
      case TagKind::kSingleByte:
        return TagTextStorage::kSingleByte;
    }
  }
  return TagTextStorage::kUnknown;
}

}  // namespace twintone
