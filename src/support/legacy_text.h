// Single-byte ("legacy") tag text in an encoding the host chooses, brought to UTF-8.
// Beside encoding_convert's ANSIToUTF8, which is the same conversion fixed to GBK.
#ifndef TWINTONE_SUPPORT_LEGACY_TEXT_H
#define TWINTONE_SUPPORT_LEGACY_TEXT_H

#include <string>

namespace twintone {

// The encoding single-byte tag text is read in unless the host chooses another.
extern const char kDefaultLegacyEncoding[];

// strText read in strEncoding (any name iconv knows), as UTF-8. Bytes that are not
// valid in that encoding are left out, one at a time, as ANSIToUTF8 does; an
// encoding iconv does not know, or any other failure, gives an empty result. Never
// throws; keeps no state, so any thread may call it.
std::string LegacyToUTF8(const std::string& strText, const std::string& strEncoding);

// strText as UTF-8 with no byte lost: read in strEncoding when all of it is valid
// there and converts back to the same bytes, else read as a whole as Windows-1252,
// whose five undefined bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls
// of the same value. Two different inputs never give the same output unless they
// hold the same characters, one in strEncoding and one in Windows-1252. Never throws
// (except std::bad_alloc); any thread.
std::string LegacyToUTF8Whole(const std::string& strText, const std::string& strEncoding);

// True when iconv can convert from strEncoding to UTF-8.
bool IsKnownLegacyEncoding(const std::string& strEncoding);

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_LEGACY_TEXT_H
