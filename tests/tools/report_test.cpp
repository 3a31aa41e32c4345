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

class ReportTest : public ::testing::Test {
 protected:
  template <typename Writer>
  std::string Render(Writer writer) const {
    char* pBuffer = nullptr;
    size_t nSize = 0;
    FILE* pStream = open_memstream(&pBuffer, &nSize);
    writer(report, pStream);
    std::fclose(pStream);
    std::string strText(pBuffer, nSize);
    std::free(pBuffer);
    return strText;
  }

  // Fingerprint mode at 120 s and 80%, stopped after 7 of 9 files with 3 skipped; the
  // members are {path, title, artist, album, size, duration, bitrate, similarity,
  // device, inode}.
  twintone_cli::RunReport report{
      true, {}, 120, 80, true, 9, 7, 3,
      {{{Member{kPlainPath, kTitle, kArtist, "", 43'000'000, 245000, 1411, 1.0f, 1, 10},
         Member{kCommaQuotePath, kTitle, kArtist, "", 9'800'000, 245000, 320, 0.9731f, 1, 11},
         Member{kNewlinePath, kTitle, kArtist, "", 3'900'000, 244000, 128, 0.88f, 1, 12}}},
       {{Member{kChinesePath, kTitle, kArtist, "", 812, 3723000, 0, 1.0f, 1, 20},
         Member{kLatin1Path, kTitle, kArtist, "", 700, 0, 64, 0.8f, 1, 21}}}},
      {}, {}, false,
      true, false, "/dups",
      {{kCommaQuotePath, "/dups/01 \"Morning\", Theme (1).mp3", MoveStatus::kMoved, ""},
       {kNewlinePath, "", MoveStatus::kFailed, "Permission denied"},
       {kLatin1Path, "/dups/caf\xE9.mp3", MoveStatus::kMoved, ""}}};
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

TEST_F(ReportTest, FreedBytesSkipLinksAndSecondPathsToOneFile) {
  EXPECT_EQ(9'800'000 + 3'900'000 + 700, report.BytesFreed());
  report.vecGroups[0].vecMembers[1].bSymlink = true;
  report.vecGroups[0].vecMembers[2].nInode = 10;  // the kept file itself, by another name
  EXPECT_EQ(700, report.BytesFreed());
  EXPECT_EQ(3, report.Duplicates());
}

TEST_F(ReportTest, JsonParsesBackWithExactPaths) {
  JsonFields doc = JsonOf(Render(twintone_cli::WriteJsonReport));
  // Valid UTF-8 paths come through as they are; any other path is exact in path_hex.
  const JsonFields kExpected = {
      {"mode", "fingerprint"}, {"partial", "true"}, {"summary.files_scanned", "7"},
      {"summary.files_skipped", "3"}, {"summary.groups", "2"}, {"summary.duplicates", "3"},
      {"summary.bytes_freed", "13700700"}, {"groups#", "2"}, {"groups.0.members#", "3"},
      {"groups.0.members.0.path", kPlainPath}, {"groups.0.members.0.keep", "true"},
      {"groups.0.members.1.path", kCommaQuotePath}, {"groups.0.members.1.keep", "false"},
      {"groups.0.members.1.similarity", "0.9731"}, {"groups.0.members.1.title", kTitle},
      {"groups.0.members.1.size_bytes", "9800000"}, {"groups.0.members.2.path", kNewlinePath},
      {"groups.1.members#", "2"}, {"groups.1.members.0.path", kChinesePath},
      {"groups.1.members.1.path", "/music/caf\xEF\xBF\xBD.mp3"},
      {"groups.1.members.1.path_hex", "2f6d757369632f636166e92e6d7033"}, {"moves.items#", "3"},
      {"moves.items.0.status", "moved"}, {"moves.items.1.status", "failed"},
      {"moves.items.1.error", "Permission denied"}};
  for (const auto& field : kExpected) EXPECT_EQ(field.second, doc[field.first]) << field.first;
  EXPECT_EQ(0u, doc.count("groups.1.members.0.path_hex"));
}

TEST_F(ReportTest, CsvParsesBackOneRowPerMember) {
  CsvRows rows = CsvOf(Render(twintone_cli::WriteCsvReport));
  ASSERT_EQ(6u, rows.size());
  for (const auto& row : rows) ASSERT_EQ(rows[0].size(), row.size());
  auto cell = [&rows](size_t nRow, const std::string& strColumn) {
    auto it = std::find(rows[0].begin(), rows[0].end(), strColumn);
    return it == rows[0].end() ? "no column " + strColumn : rows[nRow][it - rows[0].begin()];
  };
  const std::vector<std::tuple<size_t, std::string, std::string>> kExpected = {
      {1, "keep", "true"},          {2, "keep", "false"},
      {2, "path", kCommaQuotePath}, {2, "move_status", "moved"},
      {3, "path", kNewlinePath},    {3, "move_status", "failed"},
      {4, "path", kChinesePath},    {4, "path_hex", ""},
      {5, "group", "2"},            {5, "title", kTitle},
      {5, "path_hex", "2f6d757369632f636166e92e6d7033"}};
  for (const auto& c : kExpected) {
    EXPECT_EQ(std::get<2>(c), cell(std::get<0>(c), std::get<1>(c))) << std::get<1>(c);
  }
}

}  // namespace
}  // namespace twintone_cli_test
