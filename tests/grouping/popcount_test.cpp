// The byte table, the two population counts and the exported mask constants.
#include "grouping/popcount.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(PopcountTest, ByteTableHoldsTheBitsOfEveryByte) {
  for (int v = 0; v < 256; ++v) {
    int nBits = 0;
    for (int nBit = 0; nBit < 8; ++nBit) nBits += (v >> nBit) & 1;
    EXPECT_EQ(popcount_table_8bit[v], nBits) << "byte " << v;
  }
}

TEST(PopcountTest, LookupCountsEveryByteOfAWord) {
  EXPECT_EQ(popcount_lookup8(0u), 0);
  EXPECT_EQ(popcount_lookup8(0xffffffffu), 32);
  EXPECT_EQ(popcount_lookup8(0x80000001u), 2);
  EXPECT_EQ(popcount_lookup8(0x00ff0000u), 8);
  std::mt19937 rng(7);
  for (int k = 0; k < 10000; ++k) {
    const uint32_t x = rng();
    ASSERT_EQ(popcount_lookup8(x), __builtin_popcount(x)) << std::hex << x;
  }
}

TEST(PopcountTest, MaskMethodCountsAll64Bits) {
  EXPECT_EQ(popcount_3(0), 0);
  EXPECT_EQ(popcount_3(hff), 64);
  EXPECT_EQ(popcount_3(m1), 32);
  EXPECT_EQ(popcount_3(0x8000000000000001ULL), 2);
  std::mt19937_64 rng(11);
  for (int k = 0; k < 10000; ++k) {
    const uint64_t x = rng();
    ASSERT_EQ(popcount_3(x), __builtin_popcountll(x)) << std::hex << x;
  }
}

// Hosts read these by name, so their values are part of the interface.
TEST(PopcountTest, ExportedMasksHoldTheirDocumentedValues) {
  EXPECT_EQ(m1, 0x5555555555555555ULL);
  EXPECT_EQ(m2, 0x3333333333333333ULL);
  EXPECT_EQ(m4, 0x0f0f0f0f0f0f0f0fULL);
  EXPECT_EQ(m8, 0x00ff00ff00ff00ffULL);
  EXPECT_EQ(m16, 0x0000ffff0000ffffULL);
  EXPECT_EQ(m32, 0x00000000ffffffffULL);
  EXPECT_EQ(hff, 0xffffffffffffffffULL);
  EXPECT_EQ(h01, 0x0101010101010101ULL);
}

}  // namespace
