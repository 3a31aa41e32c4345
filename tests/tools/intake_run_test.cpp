// The command's intake end to end on real encoded music: one file under many names,
// links, the formats beyond the library's own folder list, paths the library would
// shorten or respell, and files it may not read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "cli_runner.h"
#include "fixtures/audio_fixtures.h"

namespace twintone_cli_test {
namespace {

using twintone_test::AudioEncoding;
namespace fs = std::filesystem;

class IntakeRunTest : public ::testing::Test {
 protected:
  // Relative arguments are spelled against the scratch folder.
  void SetUp() override {
    strPreviousDir = fs::current_path().string();
    ASSERT_EQ(0, chdir(dir.Root().c_str()));
  }
  void TearDown() override { ASSERT_EQ(0, chdir(strPreviousDir.c_str())); }

  // Copies a corpus piece to dir/strName, folders made as needed.
  std::string AddCopy(size_t nPiece, AudioEncoding encoding, const std::string& strName) {
    fs::create_directories(fs::path(dir.Path(strName)).parent_path());
    twintone_test::CopyFile(twintone_test::SharedAudioCorpus().Path(nPiece, encoding),
                            dir.Path(strName));
    return dir.Path(strName);
  }

  // Re-encodes piece 0's WAV (tags kept) into dir/strName with ffmpeg's codec arguments.
  void AddEncoded(const std::string& strName, const std::vector<std::string>& vecCodec) {
    std::vector<std::string> vecArgs = {
        "-v", "error", "-nostdin", "-i",
        twintone_test::SharedAudioCorpus().Path(0, AudioEncoding::kWav)};
    vecArgs.insert(vecArgs.end(), vecCodec.begin(), vecCodec.end());
    vecArgs.push_back(dir.Path(strName));
    CliResult result = CliProcess(vecArgs, "ffmpeg").Finish();
    ASSERT_EQ(0, result.nExitCode) << strName << ": " << result.strErr;
  }

  JsonFields RunJson(std::vector<std::string> vecArgs, int nExpectedExit = 0) {
    vecArgs.insert(vecArgs.begin(), {"--json", "-q"});
    CliResult result = RunCli(vecArgs);
    EXPECT_EQ(nExpectedExit, result.nExitCode) << result.strErr;
    return JsonOf(result.strOut);
  }

  TempDir dir;
  std::string strPreviousDir;
};

TEST_F(IntakeRunTest, OneFileNamedManyWaysIsNoDuplicateOfItself) {
  AddCopy(0, AudioEncoding::kMp3At128, "m/a/x.mp3");
  dir.Symlink("a", "m/link");
  const std::vector<std::vector<std::string>> vecSpellings = {
      {"m/a/x.mp3", "m/link/x.mp3"},
      {"m/a/x.mp3", "m/a/../a/x.mp3"},
      {"-r", dir.Path("m"), "m/a/x.mp3"},
      {"m/a/x.mp3", dir.Path("m/a/x.mp3"), "m/a/x.mp3"},
  };
  for (const auto& vecPaths : vecSpellings) {
    std::vector<std::string> vecArgs = {"--move-duplicates", "dups"};
    vecArgs.insert(vecArgs.end(), vecPaths.begin(), vecPaths.end());
    JsonFields doc = RunJson(vecArgs);
    EXPECT_EQ("1", doc["summary.files_loaded"]) << vecPaths.back();
    EXPECT_EQ("0", doc["groups#"]) << vecPaths.back();
    EXPECT_TRUE(fs::is_regular_file("m/a/x.mp3")) << vecPaths.back();
  }
}

TEST_F(IntakeRunTest, ALinkToAFileIsNeverTheKeptCopy) {
  AddCopy(0, AudioEncoding::kMp3At128, "m/real/x.mp3");
  AddCopy(0, AudioEncoding::kFlac, "m/zzz/x.flac");
  dir.MakeDir("m/aaa");
  dir.Symlink("../real/x.mp3", "m/aaa/x.mp3");
  for (bool bFollow : {false, true}) {
    std::vector<std::string> vecArgs = {"-r", "--dry-run", "--move-duplicates", "dups", "m"};
    if (bFollow) vecArgs.push_back("--follow-symlinks");
    JsonFields doc = RunJson(vecArgs);
    EXPECT_EQ("2", doc["summary.files_loaded"]) << bFollow;
    ASSERT_EQ("2", doc["groups.0.members#"]) << bFollow;
    for (std::string strMember : {"groups.0.members.0.path", "groups.0.members.1.path"}) {
      EXPECT_FALSE(fs::is_symlink(doc[strMember])) << doc[strMember];
    }
  }
}

TEST_F(IntakeRunTest, RecursionFindsEveryFormatTheDecoderAndTagReaderShare) {
  AddCopy(0, AudioEncoding::kFlac, "lib/p0.flac");
  fs::create_directories(dir.Path("lib/more"));
  AddEncoded("lib/more/p0.opus", {"-c:a", "libopus", "-b:a", "96k"});
  AddEncoded("lib/more/p0.aiff", {"-c:a", "pcm_s16be", "-write_id3v2", "1"});
  AddEncoded("lib/more/p0.wv", {"-c:a", "wavpack"});
  AddEncoded("lib/more/p0.m4b", {"-c:a", "aac", "-f", "mp4"});
  for (const char* pszMode : {"--by=title,artist", "--fingerprint"}) {
    JsonFields doc = RunJson({pszMode, "-r", "lib"});
    EXPECT_EQ("5", doc["summary.files_loaded"]) << pszMode;
    EXPECT_EQ("5", doc["groups.0.members#"]) << pszMode;
  }
}

TEST_F(IntakeRunTest, LongPathsAndBackslashNamesGroupUnderTheirExactPaths) {
  std::string strDeep1500 = "lib", strDeep2100 = "lib/b";
  while (strDeep1500.size() < 1500) strDeep1500 += "/" + std::string(150, 'x');
  while (strDeep2100.size() < 2100) strDeep2100 += "/" + std::string(150, 'y');
  std::set<std::string> setPiece0 = {AddCopy(0, AudioEncoding::kFlac, strDeep1500 + "/p0.flac"),
                                     AddCopy(0, AudioEncoding::kMp3At128, strDeep2100 + "/p0.mp3"),
                                     AddCopy(0, AudioEncoding::kOggVorbis, "lib/a\\b.ogg")};
  AddCopy(1, AudioEncoding::kOggVorbis, "lib/a/b.ogg");
  for (const char* pszMode : {"--by=title,artist", "--fingerprint"}) {
    JsonFields doc = RunJson({pszMode, "-r", dir.Path("lib")});
    EXPECT_EQ("4", doc["summary.files_loaded"]) << pszMode;
    ASSERT_EQ("1", doc["groups#"]) << pszMode;
    std::set<std::string> setGrouped;
    for (int i = 0; i < 3; ++i) {
      setGrouped.insert(doc["groups.0.members." + std::to_string(i) + ".path"]);
    }
    EXPECT_EQ(setPiece0, setGrouped) << pszMode;
  }
}

// Root reads everything: the command then runs as nobody, through setpriv.
TEST_F(IntakeRunTest, AnUnreadableFileAndFolderGetTheSameWarningAndExitCode) {
  AddCopy(0, AudioEncoding::kFlac, "lib/ok.flac");
  AddCopy(1, AudioEncoding::kMp3At128, "lib/locked.mp3");
  AddCopy(1, AudioEncoding::kFlac, "lib/closed/inside.flac");
  ASSERT_EQ(0, chmod(dir.Path("lib/locked.mp3").c_str(), 0));
  ASSERT_EQ(0, chmod(dir.Path("lib/closed").c_str(), 0));
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
  EXPECT_EQ(1, result.nExitCode) << result.strErr;
  for (std::string strPath : {dir.Path("lib/locked.mp3"), dir.Path("lib/closed")}) {
    EXPECT_NE(std::string::npos,
              result.strErr.find("cannot read '" + strPath + "': Permission denied"))
        << result.strErr;
  }
  EXPECT_EQ("1", JsonOf(result.strOut)["summary.files_loaded"]);
  chmod(dir.Path("lib/closed").c_str(), 0755);  // so the scratch folder can go
}

}  // namespace
}  // namespace twintone_cli_test
