// Terminal columns: the progress line must fit its row whatever script a name is in.
#include "common/text_escape.h"

#include <gtest/gtest.h>

namespace twintone_cli_test {
namespace {

using twintone_cli::TailToFit;
using twintone_cli::TextColumns;

const char kNiHaoMa[] = "\xE4\xBD\xA0\xE5\xA5\xBD\xE5\x90\x97";  // three wide characters
const char kDecomposedE[] = "e\xCC\x81";                          // e and a combining acute

TEST(TextColumnsTest, WideTakeTwoMarksAndFormatCharactersNoneAndClustersStayWhole) {
  EXPECT_EQ(6u, TextColumns(kNiHaoMa));
  EXPECT_EQ(2u, TextColumns("\xEF\xBC\xA1"));  // fullwidth A
  EXPECT_EQ(3u, TextColumns(std::string("a") + kDecomposedE + "\xE2\x80\x8B" "b"));  // ZWSP
  EXPECT_EQ(2u, TextColumns("\xE1\x84\x80\xE1\x85\xA1"));  // a Hangul syllable from jamo
  EXPECT_EQ(std::string("...") + (kNiHaoMa + 6), TailToFit(kNiHaoMa, 5));
  EXPECT_EQ("...x", TailToFit(std::string("abcd") + kDecomposedE + "x", 4));
  EXPECT_EQ("", TailToFit(kNiHaoMa, 3));
  EXPECT_EQ(kNiHaoMa, TailToFit(kNiHaoMa, 6));
}

}  // namespace
}  // namespace twintone_cli_test
