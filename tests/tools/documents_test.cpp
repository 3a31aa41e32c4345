// The reader of journals and plans refuses malformed documents, and no file name can
// end the review page's data block.
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "common/json_value.h"
#include "report/review_page.h"

namespace twintone_cli_test {
namespace {

TEST(JsonReaderTest, RefusesWhatIsNotStrictJson) {
  const std::vector<std::pair<std::string, bool>> kCases = {
      {R"({"a": [1, -2, true, null], "b": "\u00e9\ud83c\udfb5"})", true},
      {R"({"a": 1, "a": 2})", false},
      {R"({"a": 1} x)", false},
      {R"({"a": "\ud83c"})", false},
      {R"({"a": 1.5})", false},
      {"{\"a\": \"tab\there\"}", false},
  };
  for (const auto& c : kCases) {
    twintone_cli::JsonValue value;
    std::string strError;
    EXPECT_EQ(c.second, twintone_cli::ParseJson(c.first, &value, &strError)) << c.first;
  }
  twintone_cli::JsonValue value;
  std::string strError;
  ASSERT_TRUE(twintone_cli::ParseJson(kCases[0].first, &value, &strError));
  EXPECT_EQ("\xC3\xA9\xF0\x9F\x8E\xB5", value.Str("b"));
}

TEST(ReviewPageTest, NoFileNameCanEndTheDataBlock) {
  TempDir dir;
  twintone_cli::RunReport report;
  twintone_cli::Group group;
  for (const char* pszName : {"a.mp3", "</script><script>alert(1)</script>.mp3"}) {
    twintone_cli::Member member;
    member.strPath = dir.Path(pszName);  // the page is written whether the file exists or not
    group.vecMembers.push_back(member);
  }
  report.vecGroups.push_back(group);
  std::string strError;
  ASSERT_TRUE(
      twintone_cli::WriteReviewPage(report, {dir.Root()}, "", dir.Path("page.html"), &strError));
  std::string strPage = TempDir::ReadFile(dir.Path("page.html"));
  size_t nStart = strPage.find("<script type=\"application/json\" id=\"data\">");
  size_t nEnd = strPage.find("</script>", nStart);
  ASSERT_NE(std::string::npos, nEnd);
  std::string strData = strPage.substr(nStart, nEnd - nStart);
  EXPECT_NE(std::string::npos, strData.find("\\u003c/script>\\u003cscript>alert(1)"));
  EXPECT_EQ(std::string::npos, strData.find('<', 1));
  EXPECT_EQ(std::string::npos, strPage.find("http"));  // nothing is fetched
}

}  // namespace
}  // namespace twintone_cli_test
