// The byte table and the two population counts.
#include "grouping/popcount.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(PopcountTest, TableAndBothCountsAgreeWithTheBuiltins) {
  for (int v = 0; v < 256; ++v) EXPECT_EQ(popcount_table_8bit[v], __builtin_popcount(v)) << v;
  std::mt19937_64 rng(11);
  for (int k = 0; k < 10000; ++k) {
    const uint64_t x = k < 2 ? 0 - static_cast<uint64_t>(k) : rng();  // 0 and all ones first
    ASSERT_EQ(popcount_lookup8(static_cast<uint32_t>(x)),
              __builtin_popcount(static_cast<uint32_t>(x)));
    ASSERT_EQ(popcount_3(x), __builtin_popcountll(x)) << std::hex << x;
  }
}

}  // namespace
