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
template <typename A, typename B>
constexpr bool kSame = std::is_same<A, B>::value;
static_assert(kSame<decltype(tagInMusicDedupInfo::pszTitle), const char*>, "pszTitle");
static_assert(kSame<decltype(tagInMusicDedupInfo::pszPath), const char*>, "pszPath");
static_assert(kSame<decltype(tagInMusicDedupInfo::nFileSize), int32_t>, "nFileSize");
static_assert(kSame<decltype(tagInMusicDedupInfo::nDuration), int32_t>, "nDuration");
static_assert(kSame<decltype(tagInMusicDedupInfo::nUserTag), int32_t>, "nUserTag");
static_assert(kSame<decltype(tagInMusicDedupInfo::fSimilarity), float>, "fSimilarity");
static_assert(kSame<decltype(tagInMusicDedupInfo::nBitrate), int32_t>, "nBitrate");
static_assert(kSame<decltype(tagInMusicDedupInfo::nUserData), int32_t>, "nUserData");

static_assert(kSame<DedupeNotifyProc, void (*)(void*, int, const char*, void*)>, "callback");
static_assert(kSame<decltype(&StartDedupeThread), int (*)(DedupeNotifyProc, void*, int, int, int)>,
              "StartDedupeThread");
static_assert(kSame<decltype(&PauseDedupeThread), int (*)()>, "PauseDedupeThread");
static_assert(kSame<decltype(&ContinueDedupeThread), int (*)()>, "ContinueDedupeThread");
static_assert(kSame<decltype(&QuitDedupeThread), int (*)()>, "QuitDedupeThread");
static_assert(kSame<decltype(&DedupeDealloc), int (*)()>, "DedupeDealloc");
static_assert(kSame<decltype(&GetLoadCounts), int (*)()>, "GetLoadCounts");
static_assert(kSame<decltype(&GetGroupIdCounts), int (*)()>, "GetGroupIdCounts");
static_assert(kSame<decltype(&GetGroupRef),
                    int (*)(unsigned int, tagInMusicDedupInfo**, int*, int)>,
              "GetGroupRef");
static_assert(kSame<decltype(&AddToDedupeLists), int (*)(const char*, int)>, "AddToDedupeLists");
static_assert(kSame<decltype(&AddToDedupeListsByInfo), int (*)(const tagInMusicDedupInfo*)>,
              "AddToDedupeListsByInfo");
static_assert(kSame<decltype(&match_fingerprints),
                    float (*)(const uint32_t*, int, const uint32_t*, int)>,
              "match_fingerprints");
static_assert(kSame<decltype(&match_fingerprints2),
                    float (*)(const uint32_t*, int, const uint32_t*, int, int)>,
              "match_fingerprints2");
static_assert(kSame<decltype(&match_fingerprints3),
                    float (*)(const uint32_t*, int, const uint32_t*, int, int)>,
              "match_fingerprints3");

// Hosts store these numbers in their settings.
static_assert(TWINTONE_MATCH_ARTIST == 0x00000400, "artist flag");
static_assert(TWINTONE_MATCH_ALBUM == 0x00000800, "album flag");
static_assert(TWINTONE_MATCH_FINGERPRINT == 0x00020000, "fingerprint flag");
static_assert(TWINTONE_MATCH_TITLE == 0x01000000, "title flag");
static_assert(TWINTONE_MATCH_SIZE == 0x10000000, "size flag");
static_assert(TWINTONE_MATCH_DURATION == 0x20000000, "duration flag");

}  // namespace
