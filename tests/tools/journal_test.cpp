// The journal and the page's data: a line cut short by a crash is ignored, malformed
// documents are refused, and no file name can end the page's data block.
#include "journal.h"

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "json_value.h"
#include "review_page.h"

namespace twintone_cli_test {
namespace {

TEST(JournalTest, ALineCutShortByACrashIsIgnoredAndPathsComeBackAsBytes) {
  TempDir dir;
  std::string strPath = dir.Path("j.jsonl");
  const std::string kOddPath = "/m/caf\xE9 \"x\"\n.mp3";
  {
    twintone_cli::Journal journal;
    std::string strError;
    ASSERT_TRUE(journal.Create(strPath, "move", &strError)) << strError;
    ASSERT_TRUE(
        journal.Write(twintone_cli::JournalLine().Text("step", "intent").Path("from", kOddPath)));
    ASSERT_FALSE(journal.Create(strPath, "move", &strError));  // never replaces a journal
  }
  std::string strText = TempDir::ReadFile(strPath) + "{\"step\": \"do";
  dir.WriteFile("j.jsonl", strText);
  std::vector<twintone_cli::JsonValue> vecLines;
  std::string strError;
  ASSERT_TRUE(twintone_cli::ReadJournal(strPath, &vecLines, &strError)) << strError;
  ASSERT_EQ(2u, vecLines.size());
  EXPECT_EQ("move", vecLines[0].Str("action"));
  EXPECT_EQ(kOddPath, twintone_cli::JournalPath(vecLines[1], "from"));
  // Killed before the header was whole: a journal of nothing, not an error.
  dir.WriteFile("j.jsonl", strText.substr(0, 12));
  ASSERT_TRUE(twintone_cli::ReadJournal(strPath, &vecLines, &strError)) << strError;
  EXPECT_TRUE(vecLines.empty());
  // A broken line before the last one is damage, not a crash: refused.
  dir.WriteFile("j.jsonl", strText + "\n{}\n");
  EXPECT_FALSE(twintone_cli::ReadJournal(strPath, &vecLines, &strError));
}

TEST(JournalTest, TheReaderIsStrict) {
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
      twintone_cli::WriteReviewPage(report, {dir.Root()}, dir.Path("page.html"), &strError));
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
