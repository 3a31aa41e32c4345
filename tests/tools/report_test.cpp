// The three reports written from a fixed result, each against a stored file, the JSON
// also read back by a strict reader against the report schema.
#include "report/report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "cli_runner.h"
#include "twintone_ext.h"

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
  // Fingerprint mode at 120 s and 80% through the index, stopped after 7 of 9 files: two groups (the
  // second member of the first damaged), a unique file, one file the run skipped and
  // one left out before it, three moves.
  void SetUp() override {
    report.bFingerprint = true;
    report.nSeconds = 120;
    report.nSimilarity = 80;
    report.strFiling = "indexed";
    report.strFilingReason = "120,000 files; --exact to compare every group";
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
    // Measured: the kept copy from the store, the last a clipped mono copy with 2 s of
    // silence added and its end not reached; the second not measured.
    first.vecMembers[0].quality = {true, false, false, true, 44100, 2, 20'500,
                                   TWINTONE_STEREO_TRUE, 0, 120, 800, 0, 0, 5100};
    first.vecMembers[2].quality = {true, true, false, false, 22050, 1, 11'000,
                                   TWINTONE_STEREO_MONO, 2500, 2120, -1, 2000, -1, 5000};
    twintone_cli::Group second;
    second.strKeepReason = "kept: longest, 1:02:03; others shorter (?)";
    // Tags that differ (one per copy, the wide one cut at 100 columns) and two copies
    // with the same bytes.
    second.vecMembers = {MakeMember(kChinesePath, 812, 3723000, 0, 1.0f, 20, "Ogg"),
                         MakeMember(kLatin1Path, 812, 0, 64, 0.9999f, 21, "MP3")};
    second.vecMembers[0].strTitle.clear();
    for (int i = 0; i < 50; ++i) second.vecMembers[0].strTitle += "\xE6\x9C\x9D";  // 朝, 2 columns
    second.vecMembers[0].strContentHash = second.vecMembers[1].strContentHash = "ab";
    // Checked by ear: another recording under the same tags; and a near miss.
    second.vecDifferent = {MakeMember("/music/Live at the Harbour Hall, second night (bootleg)/take 2.ogg", 900, 3600000, 96, 0.412f, 22, "Ogg")};
    report.vecGroups = {first, second};
    report.nNearFloor = 50;
    report.vecNearMisses = {{"/music/edit.mp3", kPlainPath, 0.6734f}};
    report.vecUnique = {"/music/solo.mp3"};
    report.vecSkipped = {{"/music/noise.mp3", "the audio could not be decoded", false},
                         {"/music/cover.jpg", "not audio", true},
                         {"/music/l1.mp3", "symbolic link", true},
                         {"/music/l2.mp3", "symbolic link", true}};
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

// Each writer against its stored file. A change that is meant: rerun with
// TWINTONE_UPDATE_GOLDEN=1 and review the difference.
TEST_F(ReportTest, EachFormatMatchesItsGoldenFileAndParsesBack) {
  using Writer = void (*)(const twintone_cli::RunReport&, FILE*);
  const std::pair<const char*, Writer> kFormats[] = {
      {"text_report.txt", twintone_cli::WriteTextReport},
      {"json_report.json", twintone_cli::WriteJsonReport},
      {"csv_report.csv", twintone_cli::WriteCsvReport}};
  for (const auto& format : kFormats) {
    std::string strPath = std::string(TWINTONE_CLI_GOLDEN_DIR) + "/" + format.first;
    std::string strActual = Render(format.second);
    if (std::getenv("TWINTONE_UPDATE_GOLDEN") != nullptr) {
      std::ofstream(strPath, std::ios::binary) << strActual;
    }
    EXPECT_EQ(TempDir::ReadFile(strPath), strActual) << format.first;
  }
  // Valid UTF-8 paths come through as they are, any other path exactly in path_hex,
  // and the whole document follows the report schema.
  JsonFields doc = JsonOf(Render(twintone_cli::WriteJsonReport));
  EXPECT_EQ(kNewlinePath, doc["groups.0.members.2.path"]);
  EXPECT_EQ("2f6d757369632f636166e92e6d7033", doc["groups.1.members.1.path_hex"]);
}

TEST_F(ReportTest, FreedBytesSkipLinksSecondPathsToOneFileAndUnsureGroups) {
  EXPECT_EQ(9'800'000 + 3'900'000 + 812, report.BytesFreed());
  EXPECT_EQ(9'800'000 + 812, report.BytesMoved());  // the failed move frees nothing
  // The trash frees nothing yet; links are counted.
  report.strAction = "trash";
  EXPECT_NE(std::string::npos, Render(twintone_cli::WriteTextReport).find(
                                   "Moved to the trash: 9.3 MiB (9800812 bytes), freed when it is emptied."));
  report.strAction = "link-symbolic";
  EXPECT_NE(std::string::npos,
            Render(twintone_cli::WriteTextReport).find("Replaced by 2 symbolic links: 9.3 MiB"));
  report.vecGroups[0].vecMembers[1].nLinks = 2;  // another name keeps its bytes
  EXPECT_EQ(3'900'000 + 812, report.BytesFreed());
  report.vecGroups[0].vecMembers[1].bSymlink = true;
  report.vecGroups[0].vecMembers[2].nInode = 10;  // the kept file itself, by another name
  EXPECT_EQ(812, report.BytesFreed());
  EXPECT_EQ(3, report.Duplicates());
  report.vecGroups[1].bUnsure = true;  // all its copies are kept
  EXPECT_EQ(0, report.BytesFreed());
  EXPECT_EQ(2, report.Duplicates());
  report.vecGroups[0].vecMembers[2].bLeftAlone = true;  // a plan left it where it is
  EXPECT_EQ(1, report.Duplicates());
}

}  // namespace
}  // namespace twintone_cli_test
