// The command end to end on synthetic music: both grouping modes through the script
// formats, the folder walk, moving duplicates, and Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "cli_runner.h"
#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"

namespace twintone_cli_test {
namespace {

using twintone_test::AudioEncoding;

// Every regular file below strRoot by path, with its bytes; links are not followed.
std::map<std::string, std::string> Snapshot(const std::string& strRoot) {
  std::map<std::string, std::string> mapFiles;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(strRoot)) {
    if (entry.is_regular_file() && !entry.is_symlink()) {
      mapFiles[entry.path().string()] = TempDir::ReadFile(entry.path().string());
    }
  }
  return mapFiles;
}

std::multiset<std::string> Contents(const std::map<std::string, std::string>& mapFiles) {
  std::multiset<std::string> setContents;
  for (const auto& file : mapFiles) setContents.insert(file.second);
  return setContents;
}

class CliRunTest : public ::testing::Test {
 protected:
  // Copies each piece in each encoding into dir/strFolder as "pieceN-<encoding>.<ext>".
  void AddMusic(const std::string& strFolder, const std::vector<size_t>& vecPieces,
                const std::vector<AudioEncoding>& vecEncodings) {
    const twintone_test::AudioCorpus& corpus = twintone_test::SharedAudioCorpus();
    std::string strTarget = dir.MakeDir(strFolder);
    for (size_t nPiece : vecPieces) {
      for (AudioEncoding encoding : vecEncodings) {
        std::string strSource = corpus.Path(nPiece, encoding);
        twintone_test::CopyFile(
            strSource, strTarget + "/" + std::filesystem::path(strSource).filename().string());
      }
    }
  }

  JsonValue RunJson(const std::vector<std::string>& vecArgs, int nExpectedExit = 0) {
    CliResult result = RunCli(vecArgs);
    EXPECT_EQ(nExpectedExit, result.nExitCode) << result.strErr;
    JsonValue doc;
    std::string strError;
    EXPECT_TRUE(ParseJson(result.strOut, &doc, &strError)) << strError << "\n" << result.strOut;
    return doc;
  }

  // Each group's members are one piece: their file names share the "pieceN-" prefix.
  static void ExpectGroupsAreWholePieces(const JsonValue& doc, size_t nGroups) {
    ASSERT_EQ(nGroups, doc["groups"].vecItems.size());
    for (const JsonValue& group : doc["groups"].vecItems) {
      std::set<std::string> setPieces;
      for (const JsonValue& member : group["members"].vecItems) {
        setPieces.insert(
            std::filesystem::path(member["path"].strValue).filename().string().substr(0, 6));
      }
      EXPECT_EQ(1u, setPieces.size());
    }
  }

  const std::vector<AudioEncoding> kThreeWays = {AudioEncoding::kFlac, AudioEncoding::kMp3At128,
                                                 AudioEncoding::kOggVorbis};
  TempDir dir;
};

TEST_F(CliRunTest, FingerprintRunGroupsEachPieceAndCountsBrokenFilesAsSkipped) {
  AddMusic("lib", {0, 1}, kThreeWays);
  twintone_test::WriteGarbageFile(dir.Path("lib/noise.mp3"), 50000, 7);
  dir.WriteFile("lib/empty.flac");
  JsonValue doc = RunJson({"--fingerprint", "--json", "-q", dir.Path("lib")});
  ExpectGroupsAreWholePieces(doc, 2);
  EXPECT_EQ(8, doc["summary"]["files_scanned"].fValue);
  EXPECT_EQ(2, doc["summary"]["files_skipped"].fValue);
  EXPECT_EQ(4, doc["summary"]["duplicates"].fValue);
  EXPECT_FALSE(doc["partial"].bValue);
  for (const JsonValue& group : doc["groups"].vecItems) {
    // Lossless first: the library ranks by bitrate.
    EXPECT_NE(std::string::npos, group["members"].vecItems[0]["path"].strValue.find(".flac"));
    EXPECT_TRUE(group["members"].vecItems[0]["keep"].bValue);
  }
}

TEST_F(CliRunTest, TagRunWritesParsableCsv) {
  AddMusic("lib", {0, 2}, kThreeWays);
  CliResult result = RunCli({"--by", "title,artist,album", "--csv", dir.Path("lib")});
  ASSERT_EQ(0, result.nExitCode) << result.strErr;
  std::vector<std::vector<std::string>> vecRows;
  std::string strError;
  ASSERT_TRUE(ParseCsv(result.strOut, &vecRows, &strError)) << strError;
  ASSERT_EQ(7u, vecRows.size());
  EXPECT_EQ("group", vecRows[0][0]);
  EXPECT_EQ(vecRows[1][5], vecRows[3][5]);  // title column: same tags within a group
  EXPECT_EQ("true", vecRows[4][2]);
}

TEST_F(CliRunTest, RecursionTakesEachFolderOnceDespiteALinkLoop) {
  AddMusic("top", {0}, {AudioEncoding::kFlac});
  AddMusic("top/sub", {0}, {AudioEncoding::kMp3At320});
  dir.Symlink("..", "top/sub/loop");
  JsonValue flat = RunJson({"--fingerprint", "--json", dir.Path("top")});
  EXPECT_EQ(1, flat["summary"]["files_loaded"].fValue);
  JsonValue deep = RunJson({"--fingerprint", "--json", "-r", dir.Path("top")});
  EXPECT_EQ(2, deep["summary"]["files_loaded"].fValue);
  ExpectGroupsAreWholePieces(deep, 1);
}

TEST_F(CliRunTest, MovingDuplicatesLosesNoByteEvenWhenTheNameIsTaken) {
  AddMusic("lib", {0}, {AudioEncoding::kFlac, AudioEncoding::kMp3At128, AudioEncoding::kMp3At320});
  AddMusic("lib", {1}, {AudioEncoding::kFlac, AudioEncoding::kOggVorbis});
  dir.MakeDir("dups");
  twintone_test::WriteGarbageFile(dir.Path("dups/piece0-mp3-128.mp3"), 1000, 3);
  std::map<std::string, std::string> mapBefore = Snapshot(dir.Root());

  JsonValue dry = RunJson({"--fingerprint", "--json", "--move-duplicates", dir.Path("dups"),
                           "--dry-run", dir.Path("lib")});
  EXPECT_EQ(3u, dry["moves"]["items"].vecItems.size());
  EXPECT_EQ(mapBefore, Snapshot(dir.Root()));

  JsonValue doc =
      RunJson({"--fingerprint", "--json", "--move-duplicates", dir.Path("dups"), dir.Path("lib")});
  std::map<std::string, std::string> mapAfter = Snapshot(dir.Root());
  EXPECT_EQ(Contents(mapBefore), Contents(mapAfter));
  EXPECT_EQ(mapBefore[dir.Path("dups/piece0-mp3-128.mp3")],
            mapAfter[dir.Path("dups/piece0-mp3-128.mp3")]);
  ASSERT_EQ(3u, doc["moves"]["items"].vecItems.size());
  for (const JsonValue& move : doc["moves"]["items"].vecItems) {
    EXPECT_EQ("moved", move["status"].strValue);
    EXPECT_EQ(mapBefore[move["from"].strValue], mapAfter[move["to"].strValue]);
    EXPECT_EQ(0u, mapAfter.count(move["from"].strValue));
  }
  EXPECT_EQ(1u, mapAfter.count(dir.Path("dups/piece0-mp3-128 (1).mp3")));
}

class CliInterruptTest : public CliRunTest {
 protected:
  // Many names for one long recording, so a fingerprint run takes a while.
  void MakeSlowLibrary() {
    AddMusic("lib", {3}, {AudioEncoding::kFlac});
    std::string strOriginal = dir.Path("lib/piece3-flac.flac");
    for (int i = 0; i < 150; ++i) {
      ASSERT_EQ(
          0, link(strOriginal.c_str(), dir.Path("lib/copy" + std::to_string(i) + ".flac").c_str()));
    }
  }
};

TEST_F(CliInterruptTest, CtrlCPrintsPartialGroupsAndExits130) {
  MakeSlowLibrary();
  CliProcess process({"--fingerprint", "--seconds", "0", "-v", "--json", dir.Path("lib")});
  ASSERT_TRUE(process.WaitForErr("[2/151]"));
  process.Signal(SIGINT);
  CliResult result = process.Finish();
  EXPECT_EQ(130, result.nExitCode) << result.strErr;
  JsonValue doc;
  std::string strError;
  ASSERT_TRUE(ParseJson(result.strOut, &doc, &strError)) << strError;
  EXPECT_TRUE(doc["partial"].bValue);
  EXPECT_EQ(151, doc["summary"]["files_loaded"].fValue);
  EXPECT_GE(doc["summary"]["files_scanned"].fValue, 2);
  EXPECT_LT(doc["summary"]["files_scanned"].fValue, 151);
  ASSERT_EQ(1u, doc["groups"].vecItems.size());
  EXPECT_GE(doc["groups"].vecItems[0]["members"].vecItems.size(), 2u);
}

TEST_F(CliInterruptTest, SecondCtrlCQuitsWithoutWaiting) {
  MakeSlowLibrary();
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
