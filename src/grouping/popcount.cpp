#include "grouping/popcount.h"

// The mask constants are exported read-only data under their plain names.
extern "C" {
TWINTONE_EXPORT extern const uint64_t m1 = 0x5555555555555555ULL;
TWINTONE_EXPORT extern const uint64_t m2 = 0x3333333333333333ULL;
TWINTONE_EXPORT extern const uint64_t m4 = 0x0f0f0f0f0f0f0f0fULL;
TWINTONE_EXPORT extern const uint64_t m8 = 0x00ff00ff00ff00ffULL;
TWINTONE_EXPORT extern const uint64_t m16 = 0x0000ffff0000ffffULL;
TWINTONE_EXPORT extern const uint64_t m32 = 0x00000000ffffffffULL;
TWINTONE_EXPORT extern const uint64_t hff = 0xffffffffffffffffULL;
TWINTONE_EXPORT extern const uint64_t h01 = 0x0101010101010101ULL;
}

// Entry v: the set bits of its low six bits (B6, in steps of two bits) plus the
// count of its top two bits, which picks 0, 1, 1 or 2 for each quarter.
#define B2(n) n, n + 1, n + 1, n + 2
#define B4(n) B2(n), B2(n + 1), B2(n + 1), B2(n + 2)
#define B6(n) B4(n), B4(n + 1), B4(n + 1), B4(n + 2)
extern const uint8_t popcount_table_8bit[256] = {B6(0), B6(1), B6(1), B6(2)};
#undef B6
#undef B4
#undef B2
