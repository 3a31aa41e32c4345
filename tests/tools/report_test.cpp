// The three reports written from a fixed result: the readable one against a stored
// file, JSON and CSV parsed back field by field.
#include "report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <tuple>

#include "cli_runner.h"

namespace twintone_cli_test {
namespace {

using twintone_cli::Member;
using twintone_cli::MoveStatus;

// Paths chosen to break naive writers: a comma, a quote, a line break, a byte that is
// not UTF-8, and a name in Chinese.
const char kPlainPath[] = "/music/Album/01 Morning Theme.flac";
const char kCommaQuotePath[] = "/music/Copies/01 \"Morning\", Theme.mp3";
const char kNewlinePath[] = "/music/Odd/line\nbreak.mp3";
const char kLatin1Path[] = "/music/caf\xE9.mp3";
const char kChinesePath[] = "/music/\xE4\xBD\xA0\xE5\xA5\xBD.ogg";
const char kTitle[] = "Morning \"Theme\"";
const char kArtist[] = "Synth, Ensemble";

Member MakeMember(const char* pszPath, int64_t nSize, int nDurationMs, int nBitrate,
                  float fSimilarity, uint64_t nInode, const char* pszFormat) {
  Member member;
  member.strPath = pszPath;
  member.strTitle = kTitle;
  member.strArtist = kArtist;
  member.nSizeBytes = nSize;
  member.nDurationMs = nDurationMs;
  member.nBitrateKbps = nBitrate;
  member.fSimilarity = fSimilarity;
  member.nDevice = 1;
  member.nInode = nInode;
  member.strFormat = pszFormat;
  member.bLossless = member.strFormat == "FLAC";
  return member;
}

class ReportTest : public ::testing::Test {
 protected:
  // Fingerprint mode at 120 s and 80%, stopped after 7 of 9 files: two groups (the
  // second member of the first damaged), a unique file, one file the run skipped and
  // one left out before it, three moves.
  void SetUp() override {
    report.bFingerprint = true;
    report.nSeconds = 120;
    report.nSimilarity = 80;
    report.bPartial = true;
    report.nFilesLoaded = 9;
    report.nFilesScanned = 7;
    twintone_cli::Group first;
    first.strKeepReason = "kept: FLAC, lossless; others lossy";
    first.vecMembers = {
        MakeMember(kPlainPath, 43'000'000, 245000, 1411, 1.0f, 10, "FLAC"),
        MakeMember(kCommaQuotePath, 9'800'000, 245000, 320, 0.9731f, 11, "MP3"),
        MakeMember(kNewlinePath, 3'900'000, 244000, 128, 0.88f, 12, "MP3")};
    first.vecMembers[1].strPassedOver = "decoding stopped early: 0:20 of the 2:00 expected";
    twintone_cli::Group second;
    second.strKeepReason = "kept: longest, 1:02:03; others shorter (?)";
    second.vecMembers = {MakeMember(kChinesePath, 812, 3723000, 0, 1.0f, 20, "Ogg"),
                         MakeMember(kLatin1Path, 700, 0, 64, 0.8f, 21, "MP3")};
    report.vecGroups = {first, second};
    report.vecUnique = {"/music/solo.mp3"};
    report.vecSkipped = {{"/music/noise.mp3", "the audio could not be decoded", false},
                         {"/music/cover.jpg", "not audio", true}};
    report.bSubfoldersNotSearched = true;
    report.bMoveRequested = true;
    report.strMoveDir = "/dups";
    report.vecMoves = {
        {kCommaQuotePath, "/dups/01 \"Morning\", Theme (1).mp3", MoveStatus::kMoved, ""},
        {kNewlinePath, "", MoveStatus::kFailed, "Permission denied"},
        {kLatin1Path, "/dups/caf\xE9.mp3", MoveStatus::kMoved, ""}};
  }

  std::string Render(void (*writer)(const twintone_cli::RunReport&, FILE*)) const {
    char* pBuffer = nullptr;
    size_t nSize = 0;
    FILE* pStream = open_memstream(&pBuffer, &nSize);
    writer(report, pStream);
    std::fclose(pStream);
    std::string strText(pBuffer, nSize);
    std::free(pBuffer);
    return strText;
  }

  twintone_cli::RunReport report;
};

TEST_F(ReportTest, TextMatchesGoldenFile) {
  std::string strGoldenPath = std::string(TWINTONE_CLI_GOLDEN_DIR) + "/text_report.txt";
  std::string strActual = Render(twintone_cli::WriteTextReport);
  if (std::getenv("TWINTONE_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(strGoldenPath, std::ios::binary) << strActual;
  }
  std::ifstream in(strGoldenPath, std::ios::binary);
  std::string strGolden((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(strGolden, strActual) << "rerun with TWINTONE_UPDATE_GOLDEN=1 to accept a change";
}

TEST_F(ReportTest, FreedBytesSkipLinksSecondPathsToOneFileAndUnsureGroups) {
  EXPECT_EQ(9'800'000 + 3'900'000 + 700, report.BytesFreed());
  EXPECT_EQ(9'800'000 + 700, report.BytesMoved());  // the failed move frees nothing
  report.vecGroups[0].vecMembers[1].bSymlink = true;
  report.vecGroups[0].vecMembers[2].nInode = 10;  // the kept file itself, by another name
  EXPECT_EQ(700, report.BytesFreed());
  EXPECT_EQ(3, report.Duplicates());
  report.vecGroups[1].bUnsure = true;  // all its copies are kept
  EXPECT_EQ(0, report.BytesFreed());
  EXPECT_EQ(2, report.Duplicates());
}

TEST_F(ReportTest, JsonFollowsTheSchemaAndParsesBackWithExactPaths) {
  JsonFields doc = JsonOf(Render(twintone_cli::WriteJsonReport));
  // Valid UTF-8 paths come through as they are; any other path is exact in path_hex.
  const JsonFields kExpected = {
      {"mode", "fingerprint"}, {"schema_version", "1"}, {"partial", "true"},
      {"subfolders_not_searched", "true"},
      {"summary.files_scanned", "7"}, {"summary.files_skipped", "1"},
      {"summary.files_left_out", "1"}, {"summary.unique", "1"}, {"summary.groups", "2"},
      {"summary.duplicates", "3"}, {"summary.bytes_freed", "13700700"}, {"groups#", "2"},
      {"groups.0.keep_reason", "kept: FLAC, lossless; others lossy"},
      {"groups.0.members#", "3"}, {"groups.0.members.0.path", kPlainPath},
      {"groups.0.members.0.keep", "true"}, {"groups.0.members.0.lossless", "true"},
      {"groups.0.members.1.path", kCommaQuotePath}, {"groups.0.members.1.keep", "false"},
      {"groups.0.members.1.similarity", "97.31"}, {"groups.0.members.1.title", kTitle},
      {"groups.0.members.1.passed_over", "decoding stopped early: 0:20 of the 2:00 expected"},
      {"groups.0.members.1.size_bytes", "9800000"}, {"groups.0.members.2.path", kNewlinePath},
      {"groups.1.members#", "2"}, {"groups.1.members.0.path", kChinesePath},
      {"groups.1.members.1.path", "/music/caf\xEF\xBF\xBD.mp3"},
      {"groups.1.members.1.path_hex", "2f6d757369632f636166e92e6d7033"}, {"moves.items#", "3"},
      {"moves.items.0.status", "moved"}, {"moves.items.1.status", "failed"},
      {"moves.items.1.error", "Permission denied"},
      // Every file once, in path order, with its outcome.
      {"files#", "8"}, {"files.0.path", kPlainPath}, {"files.0.outcome", "kept"},
      {"files.0.group", "1"}, {"files.3.path_hex", "2f6d757369632f636166e92e6d7033"},
      {"files.3.outcome", "duplicate"}, {"files.3.group", "2"},
      {"files.4.path", "/music/cover.jpg"}, {"files.4.left_out", "true"},
      {"files.5.outcome", "skipped"}, {"files.5.reason", "the audio could not be decoded"},
      {"files.6.outcome", "unique"}, {"files.7.path", kChinesePath}};
  for (const auto& field : kExpected) EXPECT_EQ(field.second, doc[field.first]) << field.first;
  EXPECT_EQ(0u, doc.count("groups.1.members.0.path_hex"));
}

TEST_F(ReportTest, CsvParsesBackOneRowPerFile) {
  CsvRows rows = CsvOf(Render(twintone_cli::WriteCsvReport));
  ASSERT_EQ(9u, rows.size());
  for (const auto& row : rows) ASSERT_EQ(rows[0].size(), row.size());
  auto cell = [&rows](size_t nRow, const std::string& strColumn) {
    auto it = std::find(rows[0].begin(), rows[0].end(), strColumn);
    return it == rows[0].end() ? "no column " + strColumn : rows[nRow][it - rows[0].begin()];
  };
  const std::vector<std::tuple<size_t, std::string, std::string>> kExpected = {
      {1, "keep", "true"},          {1, "outcome", "kept"},
      {2, "keep", "false"},         {2, "similarity", "97.31"},
      {2, "path", kCommaQuotePath}, {2, "move_status", "moved"},
      {3, "path", kNewlinePath},    {3, "move_status", "failed"},
      {4, "path", kChinesePath},    {4, "path_hex", ""},
      {5, "group", "2"},            {5, "title", kTitle},
      {5, "path_hex", "2f6d757369632f636166e92e6d7033"},
      {6, "outcome", "unique"},     {6, "group", ""},
      {7, "outcome", "skipped"},    {7, "reason", "the audio could not be decoded"},
      {8, "path", "/music/cover.jpg"}};
  for (const auto& c : kExpected) {
    EXPECT_EQ(std::get<2>(c), cell(std::get<0>(c), std::get<1>(c))) << std::get<1>(c);
  }
}

}  // namespace
}  // namespace twintone_cli_test
