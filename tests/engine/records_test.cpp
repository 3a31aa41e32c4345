// The grouping key's copy and the ordering the group map relies on.
#include <algorithm>
#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

#include "analysis/records.h"
#include "fixtures/fingerprints.h"

namespace {

GroupKey TextKey(const std::string& strText) {
  GroupKey key;
  key.strKey = strText;
  return key;
}

// A group map key shares its founder's words; the founder may be given new words or
// go first, and the map key still reads the words it was made with.
TEST(GroupKeyTest, AMapKeyKeepsItsWordsWhateverBecomesOfItsFounder) {
  auto* pFounder = new GroupKey();
  SetFinger(pFounder, Words(1000, 42));
  GroupKey mapKey(*pFounder, GroupKey::ForMap{});
  EXPECT_EQ(mapKey.pFinger, pFounder->pFinger);
  EXPECT_EQ(mapKey.AbsSum(), 42000);
  auto* pNew = static_cast<int32_t*>(malloc(10 * sizeof(int32_t)));
  pFounder->ReplaceFinger(pNew, 10);
  std::fill(pNew, pNew + 10, 7);
  EXPECT_EQ(pFounder->AbsSum(), 70);
  GroupKey secondKey(*pFounder, GroupKey::ForMap{});
  delete pFounder;
  EXPECT_EQ(mapKey.nFingerLen, 1000);
  EXPECT_EQ(mapKey.pFinger[999], 42);
  EXPECT_EQ(secondKey.pFinger[9], 7);
  EXPECT_TRUE(secondKey < mapKey);
}

// The right-hand key's text chooses the rule: texts compare bytewise (unsigned);
// against an empty text, lengths and then sums of absolute values decide, and keys
// equal in both are one map key.
TEST(GroupKeyTest, OrderingIsChosenByTheRightHandKey) {
  EXPECT_TRUE(TextKey("Abc") < TextKey("abc"));
  EXPECT_TRUE(TextKey("ab") < TextKey("abc"));
  EXPECT_FALSE(TextKey("abc") < TextKey("abc"));
  EXPECT_TRUE(TextKey("z") < TextKey("\xe4\xbd\xa0"));
  GroupKey shortKey, longKey, a, b, c;
  SetFinger(&shortKey, Words(30, 1000));
  SetFinger(&longKey, Words(31, 0));
  EXPECT_TRUE(shortKey < longKey);
  EXPECT_FALSE(longKey < shortKey);
  EXPECT_TRUE(longKey < TextKey("a"));   // a fingerprint before any text...
  EXPECT_FALSE(TextKey("a") < longKey);  // ...whichever side it stands on
  Words vecA(30, 0), vecB(30, 0), vecC(30, 0);
  vecA[0] = 100;
  vecB[5] = static_cast<uint32_t>(-60);
  vecB[6] = 40;
  vecC[0] = 0x80000000u;  // INT32_MIN keeps its sign inside the absolute value
  SetFinger(&a, vecA);
  SetFinger(&b, vecB);
  SetFinger(&c, vecC);
  std::map<GroupKey, int> map;
  map.emplace(a, 1);
  EXPECT_FALSE(map.emplace(b, 2).second);
  EXPECT_TRUE(c < a);
}

}  // namespace
