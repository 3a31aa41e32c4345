// The public header compiled as C++, as a C++ host includes it: the record's layout,
// the entry points' types and the grouping flag values are what compiled hosts rely
// on. C symbols carry no parameter types, so a changed signature would link and then
// fail at run time; these checks fail the build instead.
#include "twintone.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

// The record, for any pointer size: four texts, two 32-bit numbers, the path, four
// 32-bit values, padded to the pointer's alignment.
constexpr std::size_t P = sizeof(void*);
static_assert(std::is_standard_layout<tagInMusicDedupInfo>::value, "plain layout");
static_assert(std::is_trivial<tagInMusicDedupInfo>::value, "no constructor or destructor");
static_assert(alignof(tagInMusicDedupInfo) == alignof(void*), "record alignment");
static_assert(offsetof(tagInMusicDedupInfo, pszTitle) == 0, "pszTitle");
static_assert(offsetof(tagInMusicDedupInfo, pszArtist) == P, "pszArtist");
static_assert(offsetof(tagInMusicDedupInfo, pszAlbum) == 2 * P, "pszAlbum");
static_assert(offsetof(tagInMusicDedupInfo, pszGenre) == 3 * P, "pszGenre");
static_assert(offsetof(tagInMusicDedupInfo, nFileSize) == 4 * P, "nFileSize");
static_assert(offsetof(tagInMusicDedupInfo, nDuration) == 4 * P + 4, "nDuration");
static_assert(offsetof(tagInMusicDedupInfo, pszPath) == 4 * P + 8, "pszPath");
static_assert(offsetof(tagInMusicDedupInfo, nUserTag) == 5 * P + 8, "nUserTag");
static_assert(offsetof(tagInMusicDedupInfo, fSimilarity) == 5 * P + 12, "fSimilarity");
static_assert(offsetof(tagInMusicDedupInfo, nBitrate) == 5 * P + 16, "nBitrate");
static_assert(offsetof(tagInMusicDedupInfo, nUserData) == 5 * P + 20, "nUserData");
static_assert(sizeof(tagInMusicDedupInfo) == (P == 8 ? 64 : 44), "record size");

// Same offsets, different types would still break hosts (a float read as an int).
static_assert(std::is_same<decltype(tagInMusicDedupInfo::fSimilarity), float>::value, "score");
static_assert(std::is_same<decltype(tagInMusicDedupInfo::nFileSize), int32_t>::value, "size");
static_assert(std::is_same<DedupeNotifyProc, void (*)(void*, int, const char*, void*)>::value,
              "callback");

// Hosts store these numbers in their settings.
static_assert(TWINTONE_MATCH_ARTIST == 0x00000400, "artist flag");
static_assert(TWINTONE_MATCH_ALBUM == 0x00000800, "album flag");
static_assert(TWINTONE_MATCH_FINGERPRINT == 0x00020000, "fingerprint flag");
static_assert(TWINTONE_MATCH_TITLE == 0x01000000, "title flag");
static_assert(TWINTONE_MATCH_SIZE == 0x10000000, "size flag");
static_assert(TWINTONE_MATCH_DURATION == 0x20000000, "duration flag");

}  // namespace
