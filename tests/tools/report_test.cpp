// The three reports written from a fixed result: the readable one against a stored
// file, JSON and CSV parsed back field by field.
#include "report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "cli_runner.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::Group;
using twintone_cli::Member;
using twintone_cli::MoveRecord;
using twintone_cli::MoveStatus;
using twintone_cli::RunReport;

// Paths chosen to break naive writers: a comma, a quote, a line break, a byte that is
// not UTF-8, and a name in Chinese.
const char kPlainPath[] = "/music/Album/01 Morning Theme.flac";
const char kCommaQuotePath[] = "/music/Copies/01 \"Morning\", Theme.mp3";
const char kNewlinePath[] = "/music/Odd/line\nbreak.mp3";
const char kLatin1Path[] = "/music/caf\xE9.mp3";
const char kChinesePath[] = "/music/\xE4\xBD\xA0\xE5\xA5\xBD.ogg";

Member MakeMember(const char* pszPath, int nDurationMs, int nBitrate, int64_t nSize,
                  float fSimilarity, uint64_t nInode) {
  Member member;
  member.strPath = pszPath;
  member.strTitle = "Morning \"Theme\"";
  member.strArtist = "Synth, Ensemble";
  member.nDurationMs = nDurationMs;
  member.nBitrateKbps = nBitrate;
  member.nSizeBytes = nSize;
  member.fSimilarity = fSimilarity;
  member.nDevice = 1;
  member.nInode = nInode;
  return member;
}

class ReportTest : public ::testing::Test {
 protected:
  ReportTest() {
    report.bFingerprint = true;
    report.nSeconds = 120;
    report.nSimilarity = 80;
    report.nFilesLoaded = 9;
    report.nFilesScanned = 7;
    report.nFilesSkipped = 3;
    report.bPartial = true;
    Group first;
    first.vecMembers = {MakeMember(kPlainPath, 245000, 1411, 43'000'000, 1.0f, 10),
                        MakeMember(kCommaQuotePath, 245000, 320, 9'800'000, 0.9731f, 11),
                        MakeMember(kNewlinePath, 244000, 128, 3'900'000, 0.88f, 12)};
    Group second;
    second.vecMembers = {MakeMember(kChinesePath, 3723000, 0, 812, 1.0f, 20),
                         MakeMember(kLatin1Path, 0, 64, 700, 0.8f, 21)};
    report.vecGroups = {first, second};
    report.bMoveRequested = true;
    report.strMoveDir = "/dups";
    report.vecMoves = {
        {kCommaQuotePath, "/dups/01 \"Morning\", Theme (1).mp3", MoveStatus::kMoved, ""},
        {kNewlinePath, "", MoveStatus::kFailed, "Permission denied"},
        {kLatin1Path, "/dups/caf\xE9.mp3", MoveStatus::kMoved, ""}};
  }

  template <typename Writer>
  static std::string Render(Writer writer, const RunReport& report) {
    char* pBuffer = nullptr;
    size_t nSize = 0;
    FILE* pStream = open_memstream(&pBuffer, &nSize);
    writer(report, pStream);
    std::fclose(pStream);
    std::string strText(pBuffer, nSize);
    std::free(pBuffer);
    return strText;
  }

  RunReport report;
};

TEST_F(ReportTest, TextMatchesGoldenFile) {
  std::string strGoldenPath = std::string(TWINTONE_CLI_GOLDEN_DIR) + "/text_report.txt";
  std::string strActual = Render(twintone_cli::WriteTextReport, report);
  if (std::getenv("TWINTONE_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(strGoldenPath, std::ios::binary) << strActual;
  }
  std::ifstream in(strGoldenPath, std::ios::binary);
  std::string strGolden((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(strGolden, strActual) << "rerun with TWINTONE_UPDATE_GOLDEN=1 to accept a change";
}

TEST_F(ReportTest, FreedBytesSkipLinksAndSecondPathsToOneFile) {
  EXPECT_EQ(9'800'000 + 3'900'000 + 700, report.BytesFreed());
  report.vecGroups[0].vecMembers[1].bSymlink = true;
  report.vecGroups[0].vecMembers[2].nInode = 10;  // the kept file itself, by another name
  EXPECT_EQ(700, report.BytesFreed());
  EXPECT_EQ(3, report.Duplicates());
}

TEST_F(ReportTest, JsonParsesBackWithExactPaths) {
  JsonValue doc;
  std::string strError;
  ASSERT_TRUE(ParseJson(Render(twintone_cli::WriteJsonReport, report), &doc, &strError))
      << strError;
  EXPECT_EQ("fingerprint", doc["mode"].strValue);
  EXPECT_TRUE(doc["partial"].bValue);
  EXPECT_EQ(7, doc["summary"]["files_scanned"].fValue);
  EXPECT_EQ(3, doc["summary"]["files_skipped"].fValue);
  EXPECT_EQ(2, doc["summary"]["groups"].fValue);
  EXPECT_EQ(3, doc["summary"]["duplicates"].fValue);
  EXPECT_EQ(report.BytesFreed(), doc["summary"]["bytes_freed"].fValue);
  ASSERT_EQ(2u, doc["groups"].vecItems.size());
  for (size_t g = 0; g < 2; ++g) {
    const auto& members = doc["groups"].vecItems[g]["members"].vecItems;
    ASSERT_EQ(report.vecGroups[g].vecMembers.size(), members.size());
    for (size_t i = 0; i < members.size(); ++i) {
      const Member& expected = report.vecGroups[g].vecMembers[i];
      EXPECT_EQ(i == 0, members[i]["keep"].bValue);
      // Valid UTF-8 comes through as is; anything else is exact in path_hex.
      std::string strPath = members[i].Has("path_hex") ? "" : members[i]["path"].strValue;
      for (size_t n = 0; n < members[i]["path_hex"].strValue.size(); n += 2) {
        strPath +=
            static_cast<char>(std::stoi(members[i]["path_hex"].strValue.substr(n, 2), nullptr, 16));
      }
      EXPECT_EQ(expected.strPath, strPath);
      EXPECT_EQ(expected.strTitle, members[i]["title"].strValue);
      EXPECT_EQ(expected.nSizeBytes, members[i]["size_bytes"].fValue);
      EXPECT_NEAR(expected.fSimilarity, members[i]["similarity"].fValue, 1e-4);
    }
  }
  EXPECT_EQ("/music/caf\xEF\xBF\xBD.mp3",
            doc["groups"].vecItems[1]["members"].vecItems[1]["path"].strValue);
  const auto& moves = doc["moves"]["items"].vecItems;
  ASSERT_EQ(3u, moves.size());
  EXPECT_EQ("moved", moves[0]["status"].strValue);
  EXPECT_EQ("failed", moves[1]["status"].strValue);
  EXPECT_EQ("Permission denied", moves[1]["error"].strValue);
}

TEST_F(ReportTest, CsvParsesBackOneRowPerMember) {
  std::vector<std::vector<std::string>> vecRows;
  std::string strError;
  ASSERT_TRUE(ParseCsv(Render(twintone_cli::WriteCsvReport, report), &vecRows, &strError))
      << strError;
  ASSERT_EQ(6u, vecRows.size());
  const std::vector<std::string>& header = vecRows[0];
  auto column = [&header](const std::string& strName) {
    for (size_t i = 0; i < header.size(); ++i) {
      if (header[i] == strName) return i;
    }
    ADD_FAILURE() << "no column " << strName;
    return size_t{0};
  };
  for (const auto& row : vecRows) ASSERT_EQ(header.size(), row.size());
  EXPECT_EQ(kCommaQuotePath, vecRows[2][column("path")]);
  EXPECT_EQ("true", vecRows[1][column("keep")]);
  EXPECT_EQ("false", vecRows[2][column("keep")]);
  EXPECT_EQ("moved", vecRows[2][column("move_status")]);
  EXPECT_EQ(kNewlinePath, vecRows[3][column("path")]);
  EXPECT_EQ("failed", vecRows[3][column("move_status")]);
  EXPECT_EQ("", vecRows[4][column("path_hex")]);
  EXPECT_EQ(kChinesePath, vecRows[4][column("path")]);
  EXPECT_EQ("2f6d757369632f636166e92e6d7033", vecRows[5][column("path_hex")]);
  EXPECT_EQ("Morning \"Theme\"", vecRows[5][column("title")]);
  EXPECT_EQ("2", vecRows[5][column("group")]);
}

}  // namespace
}  // namespace twintone_cli_test
