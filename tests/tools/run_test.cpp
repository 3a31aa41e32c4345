// The command end to end on synthetic music: both grouping modes through the script
// formats, the folder walk, moving duplicates, and Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "cli_runner.h"
#include "fixtures/audio_fixtures.h"

namespace twintone_cli_test {
namespace {

using twintone_test::AudioEncoding;
const std::vector<AudioEncoding> kThreeWays = {AudioEncoding::kFlac, AudioEncoding::kMp3At128,
                                               AudioEncoding::kOggVorbis};

std::string FileName(const std::string& strPath) {
  return std::filesystem::path(strPath).filename().string();
}

class CliRunTest : public ::testing::Test {
 protected:
  // Copies each piece in each encoding into dir/strFolder as "pieceN-<encoding>.<ext>".
  void AddMusic(const std::string& strFolder, const std::vector<size_t>& vecPieces,
                const std::vector<AudioEncoding>& vecEncodings) {
    std::string strTarget = dir.MakeDir(strFolder);
    for (size_t nPiece : vecPieces) {
      for (AudioEncoding encoding : vecEncodings) {
        const std::string& strSource = twintone_test::SharedAudioCorpus().Path(nPiece, encoding);
        twintone_test::CopyFile(strSource, strTarget + "/" + FileName(strSource));
      }
    }
  }

  JsonFields RunJson(const std::vector<std::string>& vecArgs) {
    CliResult result = RunCli(vecArgs);
    EXPECT_EQ(0, result.nExitCode) << result.strErr;
    return JsonOf(result.strOut);
  }

  TempDir dir;
};

TEST_F(CliRunTest, FingerprintRunGroupsEachPieceAndAccountsForEveryFile) {
  AddMusic("lib", {0, 1}, kThreeWays);
  twintone_test::WriteGarbageFile(dir.Path("lib/noise.mp3"), 50000, 7);
  dir.WriteFile("lib/empty.flac");
  dir.WriteFile("lib/cover.jpg", "not music");
  CliResult result = RunCli({"--fingerprint", "--json", "-q", dir.Path("lib")});
  ASSERT_EQ(0, result.nExitCode) << result.strErr;
  EXPECT_EQ("", SchemaViolations(result.strOut));
  JsonFields doc = JsonOf(result.strOut);
  EXPECT_EQ("8", doc["summary.files_scanned"]);
  EXPECT_EQ("2", doc["summary.files_skipped"]);
  // Every file on disk once in "files", in path order, the broken ones with a reason.
  auto mapOnDisk = Snapshot(dir.Path("lib"));
  ASSERT_EQ(std::to_string(mapOnDisk.size()), doc["files#"]);
  size_t nFile = 0;
  for (const auto& file : mapOnDisk) {
    std::string strPrefix = "files." + std::to_string(nFile++) + ".";
    EXPECT_EQ(file.first, doc[strPrefix + "path"]);
    bool bBroken = FileName(file.first) == "noise.mp3" || FileName(file.first) == "empty.flac" ||
                   FileName(file.first) == "cover.jpg";
    std::string strOutcome = doc[strPrefix + "outcome"];
    if (bBroken) {
      EXPECT_EQ("skipped", strOutcome) << file.first;
      EXPECT_NE("", doc[strPrefix + "reason"]) << file.first;
    } else {
      EXPECT_TRUE(strOutcome == "kept" || strOutcome == "duplicate") << file.first << strOutcome;
    }
  }
  EXPECT_EQ("4", doc["summary.duplicates"]);
  EXPECT_EQ("false", doc["partial"]);
  ASSERT_EQ("2", doc["groups#"]);
  for (std::string strGroup : {"groups.0.members.", "groups.1.members."}) {
    // Lossless first (the library ranks by bitrate), then the same piece in the others.
    std::string strPiece = FileName(doc[strGroup + "0.path"]).substr(0, 6);
    EXPECT_EQ(strPiece + "-flac.flac", FileName(doc[strGroup + "0.path"]));
    EXPECT_EQ("true", doc[strGroup + "0.keep"]);
    for (std::string strMember : {"1.path", "2.path"}) {
      EXPECT_EQ(strPiece, FileName(doc[strGroup + strMember]).substr(0, 6));
    }
  }
}

// Root reads everything: the command then runs as nobody, through setpriv.
TEST_F(CliRunTest, JsonAccountsForEveryEntryOnDiskOnce) {
  std::string strDeep = "lib";
  while (strDeep.size() < 1500) strDeep += "/" + std::string(150, 'x');
  AddMusic("lib", {0}, {AudioEncoding::kFlac, AudioEncoding::kMp3At128});
  AddMusic(strDeep, {0}, {AudioEncoding::kOggVorbis});
  AddMusic("lib/sub", {1}, {AudioEncoding::kMp3At320});
  twintone_test::CopyFile(dir.Path("lib/sub/piece1-mp3-320.mp3"), dir.Path("lib/a\\b.mp3"));
  twintone_test::WriteTruncatedCopy(dir.Path("lib/piece0-flac.flac"), dir.Path("lib/cut.flac"),
                                    5000);
  twintone_test::WriteGarbageFile(dir.Path("lib/noise.mp3"), 50000, 7);
  dir.WriteFile("lib/cover.jpg", "not music");
  dir.WriteFile("lib/.hidden.mp3", "");
  dir.Symlink("piece0-flac.flac", "lib/link.flac");
  dir.WriteFile("lib/locked.mp3", "");
  ASSERT_EQ(0, chmod(dir.Path("lib/locked.mp3").c_str(), 0));
  std::vector<std::string> vecArgs = {"-r", "--json", dir.Path("lib")};
  const char* pszProgram = TWINTONE_CLI_BINARY;
  if (geteuid() == 0) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "root without setpriv";
    ASSERT_EQ(0, chmod(dir.Root().c_str(), 0755));
    vecArgs.insert(vecArgs.begin(),
                   {"--reuid=65534", "--regid=65534", "--clear-groups", TWINTONE_CLI_BINARY});
    pszProgram = "setpriv";
  }
  CliResult result = CliProcess(vecArgs, pszProgram).Finish();
  EXPECT_EQ("", SchemaViolations(result.strOut));
  JsonFields doc = JsonOf(result.strOut);

  std::multiset<std::string> setListed;
  for (int i = 0; i < std::stoi("0" + doc["files#"]); ++i) {
    setListed.insert(doc["files." + std::to_string(i) + ".path"]);
  }
  std::multiset<std::string> setOnDisk;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.Path("lib"))) {
    if (!entry.is_directory() || entry.is_symlink()) setOnDisk.insert(entry.path().string());
  }
  EXPECT_EQ(setOnDisk, setListed) << result.strOut;
  EXPECT_EQ("2", doc["groups#"]);
}

TEST_F(CliRunTest, TextReportEndsNamingEachSkippedFile) {
  AddMusic("lib", {0}, {AudioEncoding::kFlac, AudioEncoding::kMp3At128});
  twintone_test::WriteGarbageFile(dir.Path("lib/noise.mp3"), 50000, 7);
  CliResult result = RunCli({"--fingerprint", "-q", dir.Path("lib")});
  ASSERT_EQ(0, result.nExitCode) << result.strErr;
  size_t nSection = result.strOut.find("\nSkipped (1):\n  " + dir.Path("lib/noise.mp3") + ": ");
  ASSERT_NE(std::string::npos, nSection) << result.strOut;
  std::string strSection = result.strOut.substr(nSection + 1);
  EXPECT_EQ(2, std::count(strSection.begin(), strSection.end(), '\n')) << "not the end";
  EXPECT_NE(std::string::npos, result.strOut.find("0 unique, 1 skipped")) << result.strOut;
}

TEST_F(CliRunTest, TagRunWritesParsableCsv) {
  AddMusic("lib", {0, 2}, kThreeWays);
  CliResult result = RunCli({"--by", "title,artist,album", "--csv", dir.Path("lib")});
  ASSERT_EQ(0, result.nExitCode) << result.strErr;
  CsvRows rows = CsvOf(result.strOut);
  ASSERT_EQ(7u, rows.size());
  EXPECT_EQ("group", rows[0][0]);
  EXPECT_EQ(rows[1][5], rows[3][5]);  // title column: same tags within a group
  EXPECT_EQ("true", rows[4][2]);
}

TEST_F(CliRunTest, RecursionTakesEachFolderOnceDespiteALinkLoop) {
  AddMusic("top", {0}, {AudioEncoding::kFlac});
  AddMusic("top/sub", {0}, {AudioEncoding::kMp3At320});
  dir.Symlink("..", "top/sub/loop");
  EXPECT_EQ("1", RunJson({"--fingerprint", "--json", dir.Path("top")})["summary.files_loaded"]);
  JsonFields deep = RunJson({"--fingerprint", "--json", "-r", dir.Path("top")});
  EXPECT_EQ("2", deep["summary.files_loaded"]);
  EXPECT_EQ("2", deep["groups.0.members#"]);
}

TEST_F(CliRunTest, MovingDuplicatesLosesNoByteEvenWhenTheNameIsTaken) {
  AddMusic("lib", {0}, {AudioEncoding::kFlac, AudioEncoding::kMp3At128, AudioEncoding::kMp3At320});
  AddMusic("lib", {1}, {AudioEncoding::kFlac, AudioEncoding::kOggVorbis});
  const std::string strTaken = dir.MakeDir("dups") + "/piece0-mp3-128.mp3";
  twintone_test::WriteGarbageFile(strTaken, 1000, 3);
  auto mapBefore = Snapshot(dir.Root());
  std::vector<std::string> vecArgs = {"--fingerprint", "--json", "--move-duplicates",
                                      dir.Path("dups"), dir.Path("lib"), "--dry-run"};
  EXPECT_EQ("3", RunJson(vecArgs)["moves.items#"]);
  EXPECT_EQ(mapBefore, Snapshot(dir.Root()));

  vecArgs.pop_back();
  JsonFields doc = RunJson(vecArgs);
  auto mapAfter = Snapshot(dir.Root());
  EXPECT_EQ(Contents(mapBefore), Contents(mapAfter));
  EXPECT_EQ(mapBefore[strTaken], mapAfter[strTaken]);
  EXPECT_EQ(1u, mapAfter.count(dir.Path("dups/piece0-mp3-128 (1).mp3")));
  ASSERT_EQ("3", doc["moves.items#"]);
  for (std::string strMove : {"moves.items.0.", "moves.items.1.", "moves.items.2."}) {
    EXPECT_EQ("moved", doc[strMove + "status"]);
    EXPECT_EQ(mapBefore[doc[strMove + "from"]], mapAfter[doc[strMove + "to"]]);
  }
}

// Many copies of one long recording, so that a fingerprint run takes a while. Copies,
// not links: the command takes a file with many names once.
class CliInterruptTest : public CliRunTest {
 protected:
  void SetUp() override {
    AddMusic("lib", {3}, {AudioEncoding::kFlac});
    const std::string& strSmall =
        twintone_test::SharedAudioCorpus().Path(3, AudioEncoding::kOggVorbis);
    for (int i = 0; i < 150; ++i) {
      twintone_test::CopyFile(strSmall, dir.Path("lib/copy" + std::to_string(i) + ".ogg"));
    }
  }
};

TEST_F(CliInterruptTest, CtrlCPrintsPartialGroupsAndExits130) {
  CliProcess process({"--fingerprint", "--seconds", "0", "-v", "--json", dir.Path("lib")});
  ASSERT_TRUE(process.WaitForErr("[2/151]"));
  process.Signal(SIGINT);
  CliResult result = process.Finish();
  EXPECT_EQ(130, result.nExitCode) << result.strErr;
  JsonFields doc = JsonOf(result.strOut);
  EXPECT_EQ("true", doc["partial"]);
  EXPECT_EQ("151", doc["summary.files_loaded"]);
  int nScanned = std::stoi("0" + doc["summary.files_scanned"]);
  EXPECT_TRUE(nScanned >= 2 && nScanned < 151) << nScanned;
  EXPECT_EQ("1", doc["groups#"]);
  EXPECT_GE(std::stoi("0" + doc["groups.0.members#"]), 2);
}

TEST_F(CliInterruptTest, SecondCtrlCQuitsWithoutWaiting) {
  CliProcess process({"--fingerprint", "--seconds", "0", "-v", dir.Path("lib")});
  ASSERT_TRUE(process.WaitForErr("[1/151]"));
  process.Signal(SIGINT);
  ASSERT_TRUE(process.WaitForErr("stopping after the current file"));
  process.Signal(SIGINT);
  CliResult result = process.Finish();
  EXPECT_EQ(130, result.nExitCode);
  EXPECT_EQ("", result.strOut);  // gone before any report
}

}  // namespace
}  // namespace twintone_cli_test
