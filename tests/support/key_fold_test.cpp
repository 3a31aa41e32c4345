#include "support/key_fold.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(KeyFoldTest, FoldsCaseAndWhiteSpaceOfValidUtf8Only) {
  const std::pair<std::string, std::string> kCases[] = {
      {"Metal Madness", "metal madness"},
      {"  metal \t madness ", "metal madness"},
      {"\xC2\xA0Machine\xE2\x80\x83Wars\n", "machine wars"},  // no-break and em spaces
      {"Straße", "strasse"},  // full folding: sharp s is ss
      {"ΣΟΦΙΑ Björk", "σοφια björk"},
      {"R\xE9sum\xE9", "R\xE9sum\xE9"},  // not UTF-8: left as it is
  };
  for (const auto& [strIn, strOut] : kCases) EXPECT_EQ(twintone::FoldedKeyText(strIn), strOut);
}

}  // namespace
