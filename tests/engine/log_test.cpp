#include "support/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

// Checks that strText opens with "<strWord>...dd-mm-yyyy  hh:mm:ss\r\n" and returns
// what follows that line.
std::string AfterTimeLine(const std::string& strText, const std::string& strWord) {
  std::smatch match;
  std::regex re(strWord + R"(\.\.\.\d\d-\d\d-\d{4}  \d\d:\d\d:\d\d\r\n)");
  if (std::regex_search(strText, match, re, std::regex_constants::match_continuous)) {
    return match.suffix();
  }
  ADD_FAILURE() << "no " << strWord << " line at the start of:\n" << strText.substr(0, 80);
  return "";
}

TEST(LogTest, DisabledLogWritesNothingAnywhere) {
  TempDir tmp;
  {
    CCLog log;
    log.setlog();
    log.lg("message %d", 1);
    EXPECT_FALSE(log.bEnable);
    EXPECT_EQ(log.pFile, nullptr);
  }
  EXPECT_FALSE(IsFileExists(tmp.Path("dedupe.log")));
  EXPECT_TRUE(g_log.pFile == nullptr && !g_log.bEnable);
}

TEST(LogTest, LinesAreWrittenByteForByteBetweenStartAndEndLines) {
  TempDir tmp;
  const std::string strPath = tmp.WriteFile("dedupe.log", "left over from an earlier run\r\n");
  const std::string kWord = "\xE8\x8E\xB7\xE5\x8F\x96\xE6\x95\xB0\xE7\x9B\xAE";  // "获取数目"
  {
    CCLog log;
    log.EnableForTesting(tmp.Root());
    log.lg((kWord + "%d").c_str(), 12);
    // Unbuffered: the line is in the file while the log is still open.
    EXPECT_EQ(AfterTimeLine(TempDir::ReadFile(strPath), "start"), kWord + "12\r\n");
    log.lg("%s", "");
    log.lg("\n\ninsert bug[%s]!!!!\n\n", "/m/a.mp3");
    log.lg("ab%ccd", 0);
    log.lg("found [%s] %d%%", "x", 5);
    log.lg("%s", std::string(4095, 'a').c_str());  // this one and the next two are cut
    log.lg("%s", std::string(4096, 'b').c_str());  // at 4095 bytes
    log.lg("%s", std::string(9000, 'c').c_str());
  }
  const std::string strBody = kWord + "12\r\n\r\n\n\ninsert bug[/m/a.mp3]!!!!\n\n\r\nab\r\n" +
                              "found [x] 5%\r\n" + std::string(4095, 'a') + "\r\n" +
                              std::string(4095, 'b') + "\r\n" + std::string(4095, 'c') + "\r\n";
  std::string strRest = AfterTimeLine(TempDir::ReadFile(strPath), "start");
  ASSERT_EQ(strRest.substr(0, strBody.size()), strBody);
  EXPECT_EQ(AfterTimeLine(strRest.substr(strBody.size()), "end"), "");
}

}  // namespace
