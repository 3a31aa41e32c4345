#include "engine/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>

#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  std::string Contents() const { return TempDir::ReadFile(tmp.Path("dedupe.log")); }

  // A log enabled into the temporary folder; destroying it writes the end line.
  std::unique_ptr<CCLog> EnabledLog() {
    auto pLog = std::make_unique<CCLog>();
    pLog->EnableForTesting(tmp.Root());
    return pLog;
  }

  // Checks that strText opens with "<strWord>...dd-mm-yyyy  hh:mm:ss\r\n" and returns
  // what follows that line.
  static std::string AfterTimeLine(const std::string& strText, const std::string& strWord) {
    std::smatch match;
    std::regex re(strWord + R"(\.\.\.\d\d-\d\d-\d{4}  \d\d:\d\d:\d\d\r\n)");
    if (std::regex_search(strText, match, re, std::regex_constants::match_continuous)) {
      return match.suffix();
    }
    ADD_FAILURE() << "no " << strWord << " line at the start of:\n" << strText.substr(0, 80);
    return "";
  }

  TempDir tmp;
};

TEST_F(LogTest, DisabledLogWritesNothingAnywhere) {
  {
    CCLog log;
    log.setlog();
    log.lg("message %d", 1);
    EXPECT_FALSE(log.bEnable);
    EXPECT_EQ(log.pFile, nullptr);
  }
  EXPECT_FALSE(IsFileExists(tmp.Path("dedupe.log")));
  EXPECT_EQ(g_log.pFile, nullptr);
  EXPECT_FALSE(g_log.bEnable);
}

TEST_F(LogTest, LinesAreWrittenByteForByteBetweenStartAndEndLines) {
  tmp.WriteFile("dedupe.log", "left over from an earlier process\r\n");
  auto pLog = EnabledLog();
  pLog->lg("\xE8\x8E\xB7\xE5\x8F\x96\xE6\x95\xB0\xE7\x9B\xAE%d", 12);  // "获取数目%d"
  // Unbuffered: the line is in the file while the log is still open.
  EXPECT_EQ(AfterTimeLine(Contents(), "start"), "\xE8\x8E\xB7\xE5\x8F\x96\xE6\x95\xB0\xE7\x9B\xAE"
                                                "12\r\n");
  pLog->lg("%s", "");
  pLog->lg("\n\ninsert bug[%s]!!!!\n\n", "/m/a.mp3");
  pLog->lg("ab%ccd", 0);
  pLog->lg("found [%s] %d%%", "x", 5);
  // Messages are cut at 4095 bytes.
  pLog->lg("%s", std::string(4095, 'a').c_str());
  pLog->lg("%s", std::string(4096, 'b').c_str());
  pLog->lg("%s", std::string(9000, 'c').c_str());
  pLog.reset();
  const std::string strBody = "\xE8\x8E\xB7\xE5\x8F\x96\xE6\x95\xB0\xE7\x9B\xAE"
                              "12\r\n"
                              "\r\n"
                              "\n\ninsert bug[/m/a.mp3]!!!!\n\n\r\n"
                              "ab\r\n"
                              "found [x] 5%\r\n" +
                              std::string(4095, 'a') + "\r\n" + std::string(4095, 'b') + "\r\n" +
                              std::string(4095, 'c') + "\r\n";
  std::string strRest = AfterTimeLine(Contents(), "start");
  ASSERT_EQ(strRest.substr(0, strBody.size()), strBody);
  EXPECT_EQ(AfterTimeLine(strRest.substr(strBody.size()), "end"), "");
}

TEST_F(LogTest, FailedOpenDropsTheMessageAndTheNextOneRetries) {
  auto pLog = std::make_unique<CCLog>();
  // A plain file where the folder should be: the open fails, even for root.
  pLog->EnableForTesting(tmp.WriteFile("blocked"));
  pLog->lg("lost");
  EXPECT_EQ(pLog->pFile, nullptr);
  pLog->EnableForTesting(tmp.Path("later"));
  pLog->lg("also lost");
  EXPECT_EQ(pLog->pFile, nullptr);
  tmp.MakeDir("later");
  pLog->lg("kept");
  EXPECT_EQ(AfterTimeLine(TempDir::ReadFile(tmp.Path("later/dedupe.log")), "start"), "kept\r\n");
}

TEST_F(LogTest, DefaultLocationIsTheExecutableFolder) {
  const std::string strPath = GetAppPath() + "/dedupe.log";
  std::remove(strPath.c_str());
  {
    CCLog log;
    log.EnableForTesting("");
    log.lg("here");
  }
  std::string strText = TempDir::ReadFile(strPath);
  std::remove(strPath.c_str());
  std::string strRest = AfterTimeLine(strText, "start");
  ASSERT_EQ(strRest.substr(0, 6), "here\r\n");
  EXPECT_EQ(AfterTimeLine(strRest.substr(6), "end"), "");
}

}  // namespace
