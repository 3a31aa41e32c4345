#include "support/legacy_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using twintone::LegacyToUTF8Whole;

TEST(LegacyTextTest, WholeReadingKeepsEveryByte) {
  const struct {
    const char* pszBytes;
    const char* pszEncoding;
    const char* pszUtf8;
  } kCases[] = {
      {"Caf\xE9", "gbk", "Café"},      // a lone GBK lead byte: all of it as Windows-1252
      {"\xC4\xE3\xE9", "gbk", "Äãé"},  // one bad byte turns the whole string
      {"\xC4\xE3", "gbk", "你"},
      {"\x80\x9D", "gbk", "€\xC2\x9D"},  // an undefined Windows-1252 byte stays itself
      {"Bj\xF6rk", "latin1", "Björk"},
      {"", "gbk", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(LegacyToUTF8Whole(c.pszBytes, c.pszEncoding), c.pszUtf8);

  // Every string of one or two bytes: two of one length never read alike (a shorter
  // one may: the two bytes of a GBK "é" read as the one Windows-1252 byte does). Big5
  // reads some pairs as one character and must not merge them.
  for (const char* pszEncoding : {"gbk", "big5"}) {
    std::set<std::string> setOnes, setTwos;
    for (int a = 0; a < 256; ++a) {
      EXPECT_TRUE(setOnes.insert(LegacyToUTF8Whole(std::string(1, char(a)), pszEncoding)).second)
          << pszEncoding << " " << a;
      for (int b = 0; b < 256; ++b) {
        std::string strPair = {char(a), char(b)};
        EXPECT_TRUE(setTwos.insert(LegacyToUTF8Whole(strPair, pszEncoding)).second)
            << pszEncoding << " " << a << " " << b;
      }
    }
  }
}

}  // namespace
