#include "engine/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  std::string LogPath() const { return tmp.Path("dedupe.log"); }
  std::string Contents() const { return TempDir::ReadFile(LogPath()); }

  // A log enabled into the temporary folder; destroying it writes the end line.
  std::unique_ptr<CCLog> EnabledLog() {
    auto pLog = std::make_unique<CCLog>();
    pLog->EnableForTesting(tmp.Root());
    return pLog;
  }

  // True when strText is a timestamp shaped like "12-04-2026  17:55:50".
  static bool IsTimestamp(const std::string& strText) {
    const std::string strShape = "00-00-0000  00:00:00";
    if (strText.size() != strShape.size()) return false;
    for (size_t i = 0; i < strShape.size(); ++i) {
      bool bDigit = strText[i] >= '0' && strText[i] <= '9';
      if (strShape[i] == '0' ? !bDigit : strText[i] != strShape[i]) return false;
    }
    return true;
  }

  // Checks that strText opens with the line "<strPrefix><timestamp>\r\n" and returns
  // what follows that line.
  static std::string AfterTimeLine(const std::string& strText, const std::string& strPrefix) {
    size_t nEnd = strText.find("\r\n");
    EXPECT_NE(nEnd, std::string::npos) << strText;
    if (nEnd == std::string::npos) return "";
    std::string strLine = strText.substr(0, nEnd);
    EXPECT_EQ(strLine.compare(0, strPrefix.size(), strPrefix), 0) << strLine;
    EXPECT_TRUE(IsTimestamp(strLine.substr(std::min(strPrefix.size(), strLine.size())))) << strLine;
    return strText.substr(nEnd + 2);
  }

  TempDir tmp;
};

TEST_F(LogTest, DisabledLogWritesNothingAnywhere) {
  {
    CCLog log;
    EXPECT_FALSE(log.bEnable);
    log.setlog();
    log.lg("message %d", 1);
    EXPECT_FALSE(log.bEnable);
    EXPECT_EQ(log.pFile, nullptr);
  }
  EXPECT_FALSE(IsFileExists(LogPath()));
  EXPECT_EQ(g_log.pFile, nullptr);
  EXPECT_FALSE(g_log.bEnable);
}

TEST_F(LogTest, FirstMessageOpensWithStartLineAndDestructorAddsEndLine) {
  tmp.WriteFile("dedupe.log", "left over from an earlier process\r\n");
  auto pLog = EnabledLog();
  pLog->lg("\xE8\x8E\xB7\xE5\x8F\x96\xE6\x95\xB0\xE7\x9B\xAE%d", 12);  // "获取数目%d"
  // Unbuffered: the lines are in the file while the log is still open.
  std::string strRest = AfterTimeLine(Contents(), "start...");
  EXPECT_EQ(strRest,
            "\xE8\x8E\xB7\xE5\x8F\x96\xE6\x95\xB0\xE7\x9B\xAE"
            "12\r\n");

  pLog->lg("second");
  pLog.reset();
  strRest = AfterTimeLine(Contents(), "start...");
  const std::string strBody =
      "\xE8\x8E\xB7\xE5\x8F\x96\xE6\x95\xB0\xE7\x9B\xAE"
      "12\r\nsecond\r\n";
  ASSERT_EQ(strRest.substr(0, strBody.size()), strBody);
  EXPECT_EQ(AfterTimeLine(strRest.substr(strBody.size()), "end..."), "");
}

TEST_F(LogTest, MessagesAreWrittenByteForByteWithoutPrefix) {
  auto pLog = EnabledLog();
  pLog->lg("%s", "");
  pLog->lg("\n\ninsert bug[%s]!!!!\n\n", "/m/a.mp3");
  pLog->lg("ab%ccd", 0);
  pLog->lg("found [%s] %d%%", "x", 5);
  EXPECT_EQ(AfterTimeLine(Contents(), "start..."),
            "\r\n"
            "\n\ninsert bug[/m/a.mp3]!!!!\n\n\r\n"
            "ab\r\n"
            "found [x] 5%\r\n");
}

TEST_F(LogTest, MessagesAreCutAt4095Bytes) {
  auto pLog = EnabledLog();
  const std::string strExact(4095, 'a');
  const std::string strOver(4096, 'b');
  const std::string strFar(9000, 'c');
  pLog->lg("%s", strExact.c_str());
  pLog->lg("%s", strOver.c_str());
  pLog->lg("%s", strFar.c_str());
  EXPECT_EQ(AfterTimeLine(Contents(), "start..."),
            strExact + "\r\n" + std::string(4095, 'b') + "\r\n" + std::string(4095, 'c') + "\r\n");
}

TEST_F(LogTest, FailedOpenDropsTheMessageAndTheNextOneRetries) {
  auto pLog = std::make_unique<CCLog>();
  // A plain file where the folder should be: the open fails, even for root.
  tmp.WriteFile("blocked");
  pLog->EnableForTesting(tmp.Path("blocked"));
  pLog->lg("lost");
  EXPECT_EQ(pLog->pFile, nullptr);

  pLog->EnableForTesting(tmp.Path("later"));
  pLog->lg("also lost");
  EXPECT_EQ(pLog->pFile, nullptr);
  tmp.MakeDir("later");
  pLog->lg("kept");
  EXPECT_NE(pLog->pFile, nullptr);
  EXPECT_EQ(AfterTimeLine(TempDir::ReadFile(tmp.Path("later/dedupe.log")), "start..."), "kept\r\n");
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
  std::string strRest = AfterTimeLine(strText, "start...");
  ASSERT_EQ(strRest.substr(0, 6), "here\r\n");
  EXPECT_EQ(AfterTimeLine(strRest.substr(6), "end..."), "");
}

}  // namespace
