#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "iconvcpp.h"
#include "twintone.h"

namespace {

// "你" in GBK and in UTF-8.
const std::string kNiGbk = "\xC4\xE3";
const std::string kNiUtf8 = "\xE4\xBD\xA0";

std::string Repeat(const std::string& strUnit, int nTimes) {
  std::string strOut;
  while (nTimes-- > 0) strOut += strUnit;
  return strOut;
}

TEST(EncodingConvertTest, ConvertsGbkBothWaysAndDropsWhatDoesNotConvert) {
  const std::vector<std::pair<std::string, std::string>> kGbkToUtf8 = {
      {"ab\xFF" "cd", "abcd"},
      // The leading ASCII byte shifts the three-byte characters off the 1024-byte chunk
      // boundaries, so a split character would show up as a difference.
      {"x" + Repeat(kNiGbk, 1500), "x" + Repeat(kNiUtf8, 1500)}};
  for (const auto& c : kGbkToUtf8) EXPECT_EQ(ANSIToUTF8(c.first), c.second) << c.first.size();
  EXPECT_EQ(UTF8ToANSI("Song " + Repeat(kNiUtf8, 700)), "Song " + Repeat(kNiGbk, 700));
  EXPECT_EQ(UTF8ToANSI("a\xF0\x9F\x8E\xB5" "b"), "ab");  // U+1F3B5 has no GBK form
}

}  // namespace
