#include "support/key_fold.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/legacy_text.h"

namespace {

TEST(KeyFoldTest, FoldsCaseAndWhiteSpaceOfValidUtf8Only) {
  const std::pair<std::string, std::string> kCases[] = {
      {"Metal Madness", "metal madness"},
      {"  metal \t madness ", "metal madness"},
      {"\xC2\xA0Machine\xE2\x80\x83Wars\n", "machine wars"},  // no-break and em spaces
      {"STRASSE", "strasse"},
      {"Stra\xC3\x9F" "e", "strasse"},                // full folding: sharp s is ss
      {"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91", "\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1"},
      {" \t ", ""},
      {"R\xE9sum\xE9", "R\xE9sum\xE9"},  // not UTF-8: left as it is
  };
  for (const auto& [strIn, strOut] : kCases) EXPECT_EQ(twintone::FoldedKeyText(strIn), strOut);
}

TEST(LegacyTextTest, ReadsSingleByteTextInTheNamedEncoding) {
  EXPECT_EQ(twintone::LegacyToUTF8("Bj\xF6rk", "latin1"), "Bj\xC3\xB6rk");
  EXPECT_EQ(twintone::LegacyToUTF8("\x80", "cp1252"), "\xE2\x82\xAC");
  EXPECT_EQ(twintone::LegacyToUTF8("\xC4\xE3", "gbk"), "\xE4\xBD\xA0");
  EXPECT_EQ(twintone::LegacyToUTF8("abc", "no-such-encoding"), "");
  EXPECT_TRUE(twintone::IsKnownLegacyEncoding("shift_jis"));
  EXPECT_FALSE(twintone::IsKnownLegacyEncoding("no-such-encoding"));
  EXPECT_FALSE(twintone::IsKnownLegacyEncoding(""));
}

}  // namespace
