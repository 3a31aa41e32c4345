#include "support/legacy_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using twintone::LegacyToUTF8Whole;

TEST(LegacyTextTest, WholeReadingKeepsEveryByte) {
  EXPECT_EQ(LegacyToUTF8Whole("\xC4\xE3\xE9", "gbk"), "Äãé");  // one bad byte turns it all
  EXPECT_EQ(LegacyToUTF8Whole("\x80\x9D", "gbk"), "€\xC2\x9D");  // an undefined byte stays itself

  // Every string of one or two bytes: two of one length never read alike (a shorter
  // one may: the two bytes of a GBK "é" read as the one Windows-1252 byte does). Big5
  // reads some pairs as one character and must not merge them.
  for (const char* pszEncoding : {"gbk", "big5"}) {
    std::set<std::string> setRead[2];
    for (int n = 0; n < 256 + 65536; ++n) {
      std::string strBytes = n < 256 ? std::string(1, char(n))
                                     : std::string{char((n - 256) >> 8), char(n)};
      EXPECT_TRUE(setRead[n >= 256].insert(LegacyToUTF8Whole(strBytes, pszEncoding)).second)
          << pszEncoding << " " << n;
    }
  }
}

}  // namespace
