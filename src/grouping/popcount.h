// Population counts used by the fingerprint matchers. Private to the matching
// unit: nothing here leaves the library except the mask constants, which
// twintone.h declares.
#ifndef TWINTONE_GROUPING_POPCOUNT_H
#define TWINTONE_GROUPING_POPCOUNT_H

#include <cstdint>

#include "twintone.h"

// Entry v holds the number of set bits of the byte value v.
extern const uint8_t popcount_table_8bit[256];

// Set bits of a 32-bit word: the table entries of its four bytes added up.
inline int popcount_lookup8(uint32_t x) {
  return popcount_table_8bit[x & 0xff] + popcount_table_8bit[(x >> 8) & 0xff] +
         popcount_table_8bit[(x >> 16) & 0xff] + popcount_table_8bit[x >> 24];
}

// Set bits of a 64-bit word by the mask method: pairs, nibbles, bytes, then one
// multiplication gathers the byte counts in the top byte. No loop, no table.
inline int popcount_3(uint64_t x) {
  x -= (x >> 1) & m1;
  x = (x & m2) + ((x >> 2) & m2);
  x = (x + (x >> 4)) & m4;
  return static_cast<int>((x * h01) >> 56);
}

#endif  // TWINTONE_GROUPING_POPCOUNT_H
