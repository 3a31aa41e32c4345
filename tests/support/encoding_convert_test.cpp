#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
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
      {"", ""},
      {"a" + kNiGbk + "b", "a" + kNiUtf8 + "b"},
      {"ab\xFF" "cd", "abcd"},
      {kNiGbk + "\xC4", kNiUtf8},  // a lone lead byte at the end
      // The leading ASCII byte shifts the three-byte characters off the 1024-byte chunk
      // boundaries, so a split character would show up as a difference.
      {"x" + Repeat(kNiGbk, 1500), "x" + Repeat(kNiUtf8, 1500)}};
  for (const auto& c : kGbkToUtf8) EXPECT_EQ(ANSIToUTF8(c.first), c.second) << c.first.size();
  EXPECT_EQ(UTF8ToANSI("Song " + Repeat(kNiUtf8, 700)), "Song " + Repeat(kNiGbk, 700));
  EXPECT_EQ(UTF8ToANSI("a\xF0\x9F\x8E\xB5" "b"), "ab");  // U+1F3B5 has no GBK form
  // The wide-string helpers are stubs that always return an empty result.
  EXPECT_EQ(UnicodeToUTF8(L"abc") + UnicodeToANSI(L"\x4F60"), "");
  EXPECT_EQ(UTF8ToUnicode("abc") + ANSIToUnicode(kNiGbk), L"");
}

TEST(EncodingConvertTest, ConverterThrowsWithItsMessageAndKeepsTheOutput) {
  // {to, from, chunk size, input, message}; the size is checked before the names.
  using Case = std::tuple<std::string, std::string, unsigned long, std::string, std::string>;
  const std::string kNoSize = "buffer size must be greater than zero";
  for (const Case& c : std::vector<Case>{
           {"utf8", "gbk", 0, "", kNoSize},
           {"no-such-charset", "gbk", 0, "", kNoSize},
           {"utf8", "no-such-charset", 16, "", "not supported from no-such-charset to utf8"},
           {"no-such-charset", "gbk", 16, "", "not supported from gbk to no-such-charset"},
           {"utf8", "gbk", 1024, "ab\xFF", "invalid multibyte chars"},
           {"utf8", "gbk", 1024, kNiGbk + "\xC4", "invalid multibyte chars"}}) {
    std::string strOut = "previous";
    try {
      converter conv(std::get<0>(c), std::get<1>(c), false, std::get<2>(c));
      conv.convert(std::get<3>(c), strOut);
      ADD_FAILURE() << "no exception for " << std::get<4>(c);
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), std::get<4>(c));
    }
    EXPECT_EQ(strOut, "previous");
  }
  // After a refusal the same converter takes good input, replacing what the output
  // held; empty input empties it.
  converter conv("utf8", "gbk", false, 1024);
  std::string strOut = "previous";
  EXPECT_THROW(conv.convert(kNiGbk + "\xC4", strOut), std::runtime_error);
  conv.convert(kNiGbk, strOut);
  EXPECT_EQ(strOut, kNiUtf8);
  conv.convert("", strOut);
  EXPECT_EQ(strOut, "");
}

}  // namespace
