#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "iconvcpp.h"
#include "twintone.h"

namespace {

// "你" in GBK and in UTF-8.
const std::string kNiGbk = "\xC4\xE3";
const std::string kNiUtf8 = "\xE4\xBD\xA0";

class EncodingConvertTest : public ::testing::Test {
 protected:
  static std::string Repeat(const std::string& strUnit, int nTimes) {
    std::string strOut;
    for (int i = 0; i < nTimes; ++i) strOut += strUnit;
    return strOut;
  }

  // Runs a converter and returns the message it throws, or "" when it does not throw.
  static std::string ThrownBy(const std::string& strTo, const std::string& strFrom,
                              unsigned long nChunk, const std::string& strInput = "") {
    try {
      converter conv(strTo, strFrom, false, nChunk);
      std::string strOut;
      conv.convert(strInput, strOut);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  }
};

TEST_F(EncodingConvertTest, AnsiToUtf8ConvertsGbkAndKeepsAscii) {
  EXPECT_EQ(ANSIToUTF8(""), "");
  EXPECT_EQ(ANSIToUTF8("Hello, world 123"), "Hello, world 123");
  EXPECT_EQ(ANSIToUTF8(kNiGbk), kNiUtf8);
  EXPECT_EQ(ANSIToUTF8("a" + kNiGbk + "b"), "a" + kNiUtf8 + "b");
}

TEST_F(EncodingConvertTest, AnsiToUtf8DropsInvalidBytesAndTruncatedTail) {
  EXPECT_EQ(ANSIToUTF8("ab\xFF"
                       "cd"),
            "abcd");
  EXPECT_EQ(ANSIToUTF8(kNiGbk + "\xC4"), kNiUtf8);
  EXPECT_EQ(ANSIToUTF8("\xFF\xFF"), "");
}

TEST_F(EncodingConvertTest, LongTextIsAssembledFromWholeCharactersAcrossChunks) {
  // The leading ASCII byte shifts the three-byte characters off the 1024-byte chunk
  // boundaries, so a split character would show up as a difference.
  std::string strInput = "x" + Repeat(kNiGbk, 1500);
  EXPECT_EQ(ANSIToUTF8(strInput), "x" + Repeat(kNiUtf8, 1500));
}

TEST_F(EncodingConvertTest, Utf8ToAnsiProducesGbk) {
  EXPECT_EQ(UTF8ToANSI(kNiUtf8), kNiGbk);
  EXPECT_EQ(UTF8ToANSI("plain"), "plain");
  std::string strText = "Song " + Repeat(kNiUtf8, 700);
  EXPECT_EQ(ANSIToUTF8(UTF8ToANSI(strText)), strText);
  // U+1F3B5 has no GBK form: it is left out.
  EXPECT_EQ(UTF8ToANSI("a\xF0\x9F\x8E\xB5"
                       "b"),
            "ab");
}

TEST_F(EncodingConvertTest, WideStringHelpersReturnEmptyResults) {
  EXPECT_EQ(UnicodeToUTF8(L"abc"), "");
  EXPECT_EQ(UTF8ToUnicode("abc"), L"");
  EXPECT_EQ(ANSIToUnicode(kNiGbk), L"");
  EXPECT_EQ(UnicodeToANSI(L"\x4F60"), "");
}

TEST_F(EncodingConvertTest, ConverterRejectsZeroChunkAndUnknownEncodings) {
  EXPECT_EQ(ThrownBy("utf8", "gbk", 0), "buffer size must be greater than zero");
  // The size is checked before the names.
  EXPECT_EQ(ThrownBy("no-such-charset", "gbk", 0), "buffer size must be greater than zero");
  EXPECT_EQ(ThrownBy("utf8", "no-such-charset", 16), "not supported from no-such-charset to utf8");
  EXPECT_EQ(ThrownBy("no-such-charset", "gbk", 16), "not supported from gbk to no-such-charset");
}

TEST_F(EncodingConvertTest, StrictConverterThrowsOnInvalidInputAndOnlyThenKeepsOutput) {
  converter conv("utf8", "gbk", false, 1024);
  for (const std::string& strBad : {std::string("ab\xFF"), kNiGbk + "\xC4"}) {
    std::string strOut = "previous";
    try {
      conv.convert(strBad, strOut);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "invalid multibyte chars");
    }
    EXPECT_EQ(strOut, "previous");
  }
  // Good input still converts, replacing what output held; empty input empties it.
  std::string strOut = "previous";
  conv.convert(kNiGbk, strOut);
  EXPECT_EQ(strOut, kNiUtf8);
  conv.convert("", strOut);
  EXPECT_EQ(strOut, "");
}

}  // namespace
