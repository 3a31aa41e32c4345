// The stored form of a raw fingerprint. Neighbouring Chromaprint words share most of
// their bits, so each word is kept as the positions of the bits in which it differs
// from the word before, as gaps in 4-bit nibbles; a fingerprint for which that is not
// smaller is kept as plain little-endian words. The first byte names the form.
#ifndef TWINTONE_SUPPORT_WORD_CODEC_H
#define TWINTONE_SUPPORT_WORD_CODEC_H

#include <cstdint>
#include <string>
#include <vector>

namespace twintone {

// The smaller of the two forms of nWords words at pWords. Throws std::bad_alloc.
std::string EncodeWords(const uint32_t* pWords, size_t nWords);

// Back to words. False for bytes that are not a well-formed encoding (a damaged
// store), leaving *pvecWords unspecified. Throws std::bad_alloc.
bool DecodeWords(const std::string& strBytes, std::vector<uint32_t>* pvecWords);

}  // namespace twintone

#endif  // TWINTONE_SUPPORT_WORD_CODEC_H
