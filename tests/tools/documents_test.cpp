// Plans and journals read back refuse what is malformed, and no file name can end the
// review page's data block.
#include <gtest/gtest.h>

#include "act/journal.h"
#include "act/plan.h"
#include "cli_runner.h"
#include "report/review_page.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::Json;

// A plan or journal may have been edited by hand or damaged: each of these is refused
// as a whole with the reason, never read in part, never a crash.
TEST(DocumentsTest, HostilePlansAndJournalsAreRefusedWithAReason) {
  TempDir dir;
  const Json kMember = {{"path_hex", "2f78"}, {"size", "1"}, {"mtime_ns", "1"},
                        {"dev", "1"},         {"ino", "1"},  {"role", "keep"}};
  auto plan = [&kMember](const char* pszKey, const Json& value) {
    Json member = kMember;
    member[pszKey] = value;
    return Json{{"twintone_plan", 1}, {"groups", {{{"members", {member}}}}}}.dump();
  };
  for (const std::string& strPlan :
       {std::string(100000, '['), plan("size", 1), plan("path_hex", "2f7"),
        plan("path_hex", Json()), std::string(R"({"twintone_plan": "1", "groups": []})"),
        std::string(R"({"twintone_plan": 1, "groups": {}})")}) {
    twintone_cli::LoadedPlan loaded;
    std::string strError;
    EXPECT_FALSE(twintone_cli::LoadPlan(dir.WriteFile("plan.json", strPlan), &loaded, &strError));
    EXPECT_NE(std::string::npos, strError.find("is not a twintone plan: ")) << strError;
  }
  const std::string kHeader = R"({"journal": "twintone", "version": 1, "stamp": "x"})" "\n";
  for (const std::string& strJournal :
       {std::string(R"({"journal": "other"})"), kHeader + std::string(100000, '{'),
        kHeader + "{\n{}", kHeader + "[1]", kHeader + R"({"step": "intent", "id": "1"})",
        kHeader + R"({"step": "intent", "id": 1, "dev": 1.5})",
        kHeader + R"({"step": "intent", "id": 1, "from_hex": "xyz"})"}) {
    twintone_cli::JournalHeader header;
    std::vector<twintone_cli::JournalStep> vecSteps;
    std::string strError;
    EXPECT_FALSE(twintone_cli::ReadJournal(dir.WriteFile("j.jsonl", strJournal + "\n"), &header,
                                           &vecSteps, &strError));
    EXPECT_NE(std::string::npos, strError.find("j.jsonl")) << strJournal;
  }
  // Not a file: a folder cannot be read as text, a device may never end.
  for (const std::string& strPath : {dir.Root(), std::string("/dev/null")}) {
    twintone_cli::JournalHeader header;
    std::vector<twintone_cli::JournalStep> vecSteps;
    twintone_cli::LoadedPlan loaded;
    std::string strError, strPlanError;
    EXPECT_FALSE(twintone_cli::ReadJournal(strPath, &header, &vecSteps, &strError));
    EXPECT_FALSE(twintone_cli::LoadPlan(strPath, &loaded, &strPlanError));
    EXPECT_NE(std::string::npos, (strError + strPlanError).find("not a regular file")) << strPath;
  }
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
