// The command end to end on real encoded music: every format in both grouping modes,
// the intake of an awkward library, and Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "cli_runner.h"

namespace twintone_cli_test {
namespace {

namespace fs = std::filesystem;

class CliRunTest : public ::testing::Test {
 protected:
  // Relative arguments are spelled against the scratch folder.
  void SetUp() override {
    strPreviousDir = fs::current_path().string();
    ASSERT_EQ(0, chdir(dir.Root().c_str()));
  }
  void TearDown() override { ASSERT_EQ(0, chdir(strPreviousDir.c_str())); }

  // Copies each piece in each encoding into dir/strFolder under its corpus name.
  void AddMusic(const std::string& strFolder, const std::vector<size_t>& vecPieces,
                const std::vector<AudioEncoding>& vecEncodings) {
    for (size_t nPiece : vecPieces) {
      for (AudioEncoding encoding : vecEncodings) {
        std::string strName = FileName(twintone_test::SharedAudioCorpus().Path(nPiece, encoding));
        CopyPiece(nPiece, encoding, dir.Path(strFolder + "/" + strName));
      }
    }
  }

  // Re-encodes piece 0's WAV (tags kept) into dir/strName with ffmpeg's codec arguments.
  void AddEncoded(const std::string& strName, const std::vector<std::string>& vecCodec) {
    std::vector<std::string> vecArgs = {
        "-v", "error", "-nostdin", "-i",
        twintone_test::SharedAudioCorpus().Path(0, AudioEncoding::kWav)};
    vecArgs.insert(vecArgs.end(), vecCodec.begin(), vecCodec.end());
    vecArgs.push_back(dir.Path(strName));
    ASSERT_EQ(0, CliProcess(vecArgs, "ffmpeg").Finish().nExitCode) << strName;
  }

  TempDir dir;
  std::string strPreviousDir;
};

TEST_F(CliRunTest, RecursionFindsEveryFormatTheDecoderAndTagReaderShare) {
  AddMusic("lib", {0}, {AudioEncoding::kFlac});
  fs::create_directories(dir.Path("lib/more"));
  AddEncoded("lib/more/p0.opus", {"-c:a", "libopus", "-b:a", "96k"});
  AddEncoded("lib/more/p0.aiff", {"-c:a", "pcm_s16be", "-write_id3v2", "1"});
  AddEncoded("lib/more/p0.wv", {"-c:a", "wavpack"});
  AddEncoded("lib/more/p0.m4b", {"-c:a", "aac", "-f", "mp4"});
  // Five files are filed exactly with exact filing advised up to five, through the
  // index (and the report says why) with it advised up to four.
  setenv("TWINTONE_EXACT_LIMIT", "5", 1);
  for (const char* pszMode : {"--by=title,artist", "--fingerprint"}) {
    JsonFields doc = RunJson({pszMode, "-r", "lib"});
    EXPECT_EQ("5", doc["summary.files_loaded"]) << pszMode;
    EXPECT_EQ("5", doc["groups.0.members#"]) << pszMode;
    EXPECT_EQ(pszMode[2] == 'f' ? "exact" : "", doc["filing.method"]) << pszMode;
  }
  setenv("TWINTONE_EXACT_LIMIT", "4", 1);
  JsonFields doc = RunJson({"--fingerprint", "-r", "lib"});
  unsetenv("TWINTONE_EXACT_LIMIT");
  EXPECT_EQ("indexed", doc["filing.method"]);
  EXPECT_EQ("5 files; --exact to compare every group", doc["filing.reason"]);
  EXPECT_EQ("5", doc["groups.0.members#"]);
}

// Deep and odd paths, broken and unreadable files, links, a pipe, a second name, files
// and folders --exclude'd: every entry on disk is in the report once, grouped under
// its exact path or skipped with its reason. Root reads everything: the command then
// runs as nobody, via setpriv.
TEST_F(CliRunTest, AnAwkwardLibraryIsAccountedForEntryByEntry) {
  std::string strDeep1500 = "lib", strDeep2100 = "lib/b";
  while (strDeep1500.size() < 1500) strDeep1500 += "/" + std::string(150, 'x');
  while (strDeep2100.size() < 2100) strDeep2100 += "/" + std::string(150, 'y');
  std::set<std::string> setPiece0 = {
      CopyPiece(0, AudioEncoding::kFlac, dir.Path(strDeep1500 + "/p0.flac")),
      CopyPiece(0, AudioEncoding::kMp3At128, dir.Path(strDeep2100 + "/p0.mp3")),
      CopyPiece(0, AudioEncoding::kOggVorbis, dir.Path("lib/a\\b.ogg"))};
  CopyPiece(1, AudioEncoding::kOggVorbis, dir.Path("lib/a/b.ogg"));
  twintone_test::WriteTruncatedCopy(twintone_test::SharedAudioCorpus().Path(2, AudioEncoding::kFlac),
                                    dir.Path("lib/cut.flac"), 5000);
  twintone_test::WriteGarbageFile(dir.Path("lib/noise.mp3"), 50000, 7);
  dir.WriteFile("lib/cover.jpg", "not music");
  dir.WriteFile("lib/.hidden.mp3", "");
  dir.Symlink("a/b.ogg", "lib/link.ogg");
  dir.Symlink("nowhere.mp3", "lib/dangling.mp3");
  ASSERT_EQ(0, mkfifo(dir.Path("lib/fifo.mp3").c_str(), 0600));
  ASSERT_EQ(0, link(dir.Path("lib/noise.mp3").c_str(), dir.Path("lib/noise2.mp3").c_str()));
  CopyPiece(1, AudioEncoding::kMp3At128, dir.Path("lib/locked.mp3"));
  ASSERT_EQ(0, chmod(dir.Path("lib/locked.mp3").c_str(), 0));
  CopyPiece(1, AudioEncoding::kWav, dir.Path("lib/a/take.wav"));  // --exclude'd
  std::multiset<std::string> setOnDisk;
  for (const auto& entry : fs::recursive_directory_iterator(dir.Path("lib"))) {
    if (!entry.is_directory() || entry.is_symlink()) setOnDisk.insert(entry.path().string());
  }
  // Folders the walk does not enter are listed themselves.
  CopyPiece(1, AudioEncoding::kFlac, dir.Path("lib/closed/x.flac"));
  CopyPiece(1, AudioEncoding::kFlac, dir.Path("lib/.git/x.flac"));
  CopyPiece(1, AudioEncoding::kFlac, dir.Path("lib/b/Podcasts/x.flac"));
  setOnDisk.insert({dir.Path("lib/closed"), dir.Path("lib/.git"), dir.Path("lib/b/Podcasts")});
  ASSERT_EQ(0, chmod(dir.Path("lib/closed").c_str(), 0));
  const char* pszProgram = TWINTONE_CLI_BINARY;
  std::vector<std::string> vecPrefix;
  if (geteuid() == 0) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "root without setpriv";
    ASSERT_EQ(0, chmod(dir.Root().c_str(), 0755));
    vecPrefix = {"--reuid=65534", "--regid=65534", "--clear-groups", TWINTONE_CLI_BINARY};
    pszProgram = "setpriv";
  }
  for (const char* pszMode : {"--by=title,artist", "--fingerprint"}) {
    std::vector<std::string> vecArgs = vecPrefix;
    vecArgs.insert(vecArgs.end(), {"-r", "--json", "--exclude", "Podcasts/", "--exclude",
                                   "**/*.wav", "--exclude", "Podcast", pszMode, dir.Path("lib")});
    CliResult result = CliProcess(vecArgs, pszProgram).Finish();
    EXPECT_EQ(1, result.nExitCode) << result.strErr;
    EXPECT_NE(std::string::npos, result.strErr.find("--exclude 'Podcast' matched nothing"));
    for (std::string strPath : {dir.Path("lib/locked.mp3"), dir.Path("lib/closed")}) {
      EXPECT_NE(std::string::npos,
                result.strErr.find("cannot read '" + strPath + "': Permission denied"))
          << result.strErr;
    }
    JsonFields doc = JsonOf(result.strOut);
    std::multiset<std::string> setListed;
    std::map<std::string, std::string> mapReasons;
    for (int i = 0; i < std::stoi("0" + doc["files#"]); ++i) {
      std::string strFile = "files." + std::to_string(i) + ".";
      setListed.insert(doc[strFile + "path"]);
      mapReasons[doc[strFile + "path"]] = doc[strFile + "reason"];
    }
    EXPECT_EQ(setOnDisk, setListed) << pszMode;
    const std::map<std::string, std::string> kLeftOut = {
        {"lib/.hidden.mp3", "hidden"}, {"lib/.git", "hidden folder"},
        {"lib/cover.jpg", "not audio"}, {"lib/link.ogg", "symbolic link"},
        {"lib/dangling.mp3", "symbolic link"}, {"lib/fifo.mp3", "not a regular file"},
        {"lib/noise2.mp3", "same file as " + dir.Path("lib/noise.mp3")},
        {"lib/b/Podcasts", "excluded by Podcasts"}, {"lib/a/take.wav", "excluded by **/*.wav"}};
    for (const auto& leftOut : kLeftOut) {
      EXPECT_EQ(leftOut.second, mapReasons[dir.Path(leftOut.first)]) << leftOut.first;
    }
    EXPECT_EQ("6", doc["summary.files_loaded"]) << pszMode;  // none unreadable, none left out
    ASSERT_EQ("1", doc["groups#"]) << pszMode;
    std::set<std::string> setGrouped;
    for (int i = 0; i < std::stoi(doc["groups.0.members#"]); ++i) {
      setGrouped.insert(doc["groups.0.members." + std::to_string(i) + ".path"]);
    }
    EXPECT_EQ(setPiece0, setGrouped) << pszMode;
  }
  chmod(dir.Path("lib/closed").c_str(), 0755);  // so the scratch folder can go
}

// Many copies of one long recording, so that a fingerprint run takes a while. Copies,
// not links: the command takes a file with many names once.
class CliInterruptTest : public CliRunTest {
 protected:
  void SetUp() override {
    CliRunTest::SetUp();
    AddMusic("lib", {3}, {AudioEncoding::kFlac});
    for (int i = 0; i < 150; ++i) {
      CopyPiece(3, AudioEncoding::kOggVorbis, dir.Path("lib/copy" + std::to_string(i) + ".ogg"));
    }
  }
};

// One SIGTERM (or Ctrl-C) stops after the current file with partial groups; a second
// Ctrl-C quits at once, before any report.
TEST_F(CliInterruptTest, OneSignalPrintsPartialGroupsAndASecondQuitsWithoutWaiting) {
  CliProcess first({"--fingerprint", "--seconds", "0", "-v", "--json", dir.Path("lib")});
  CliProcess twice({"--fingerprint", "--seconds", "0", "-v", dir.Path("lib")});
  ASSERT_TRUE(first.WaitForErr("[2/151]") && twice.WaitForErr("[1/151]"));
  first.Signal(SIGTERM);
  twice.Signal(SIGINT);
  ASSERT_TRUE(twice.WaitForErr("stopping after the current file"));
  twice.Signal(SIGINT);
  CliResult result = twice.Finish();
  EXPECT_EQ(130, result.nExitCode);
  EXPECT_EQ("", result.strOut);
  result = first.Finish();
  EXPECT_EQ(143, result.nExitCode) << result.strErr;
  JsonFields doc = JsonOf(result.strOut);
  EXPECT_EQ("true", doc["partial"]);
  EXPECT_EQ("151", doc["summary.files_loaded"]);
  int nScanned = std::stoi("0" + doc["summary.files_scanned"]);
  EXPECT_TRUE(nScanned >= 2 && nScanned < 151) << nScanned;
  EXPECT_EQ("1", doc["groups#"]);
  EXPECT_GE(std::stoi("0" + doc["groups.0.members#"]), 2);
}

}  // namespace
}  // namespace twintone_cli_test
