// Two acting runs on one library at once, each keeping another copy: whatever their
// timing, every piece keeps a whole copy in the library and no link leads to a link.
// A run that finds the library taken waits, or with --no-wait leaves it alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "act/run_lock.h"
#include "cli_runner.h"

namespace twintone_cli_test {
namespace {

namespace fs = std::filesystem;

class ConcurrentRunsTest : public ::testing::Test {
 protected:
  // dir/lib: piece 0 in three encodings, the lossy ones modified last, so that
  // --keep newest and --keep oldest pick different copies. Every try starts over.
  void MakeLibrary() {
    fs::remove_all(dir.Path("lib")), fs::remove_all(dir.Path("dups"));
    int64_t nTime = 1'600'000'000;
    for (AudioEncoding enc : kEncodings) {
      std::string strPath = CopyPiece(0, enc, dir.Path("lib/" + FileName(Original(enc))));
      struct timespec times[2] = {{nTime, 0}, {nTime, 0}};
      utimensat(AT_FDCWD, strPath.c_str(), times, 0);
      nTime += 1000;
    }
  }

  static const std::string& Original(AudioEncoding enc) {
    return twintone_test::SharedAudioCorpus().Path(0, enc);
  }

  // The command with the scratch cache folder both runs share.
  std::vector<std::string> Command(std::vector<std::string> vecArgs) {
    vecArgs.insert(vecArgs.begin(),
                   {"XDG_CACHE_HOME=" + dir.Path("cache"), "XDG_DATA_HOME=" + dir.Path("data"),
                    TWINTONE_CLI_BINARY, "-q", "-r"});
    vecArgs.push_back(dir.Path("lib"));
    return vecArgs;
  }

  // The piece still has a regular file in lib holding one of its encodings' bytes,
  // and every link in lib leads to a regular file.
  void ExpectThePieceWhole() {
    std::set<std::string> setOriginals;
    for (AudioEncoding enc : kEncodings) setOriginals.insert(TempDir::ReadFile(Original(enc)));
    bool bWhole = false;
    for (const auto& entry : fs::directory_iterator(dir.Path("lib"))) {
      if (entry.is_symlink()) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(fs::read_symlink(entry.path()))))
            << entry.path() << " leads to a link or nowhere";
      } else {
        bWhole = bWhole || setOriginals.count(TempDir::ReadFile(entry.path().string())) != 0;
      }
    }
    EXPECT_TRUE(bWhole) << "the piece lost its last copy";
  }

  const std::vector<AudioEncoding> kEncodings = {AudioEncoding::kFlac, AudioEncoding::kMp3At128,
                                                 AudioEncoding::kOggVorbis};
  TempDir dir;
};

TEST_F(ConcurrentRunsTest, TwoRunsKeepingOtherCopiesLeaveAWholeCopy) {
  const std::vector<std::vector<std::string>> kActions = {
      {"--move-duplicates", dir.Path("dups")}, {"--link", "symbolic"}, {"--trash"}};
  for (int nTry = 0; nTry < 21 && !HasFailure(); ++nTry) {
    const std::vector<std::string>& vecAction = kActions[nTry % kActions.size()];
    {
      SCOPED_TRACE(vecAction[0] + " try " + std::to_string(nTry));
      MakeLibrary();
      std::vector<std::string> vecNewest = {"--keep", "newest"}, vecOldest = {"--keep", "oldest"};
      vecNewest.insert(vecNewest.end(), vecAction.begin(), vecAction.end());
      vecOldest.insert(vecOldest.end(), vecAction.begin(), vecAction.end());
      CliProcess first(Command(vecNewest), "env"), second(Command(vecOldest), "env");
      for (CliResult result : {first.Finish(), second.Finish()}) {
        EXPECT_EQ(0, result.nExitCode) << result.strErr;
      }
      ExpectThePieceWhole();
    }
  }
}

TEST_F(ConcurrentRunsTest, ARunWaitsForTheLibraryOrWithNoWaitLeavesItAlone) {
  MakeLibrary();
  auto before = Snapshot(dir.Path("lib"));
  setenv("XDG_CACHE_HOME", dir.Path("cache").c_str(), 1);
  auto holder = std::make_unique<twintone_cli::RunLocks>();
  std::string strError;
  ASSERT_EQ(twintone_cli::LockOutcome::kTaken,
            holder->Take({dir.Path("lib/" + FileName(Original(kEncodings[0])))}, false, nullptr,
                         &strError));
  CliResult refused = CliProcess(Command({"--no-wait", "--trash"}), "env").Finish();
  EXPECT_EQ(1, refused.nExitCode);
  EXPECT_NE(std::string::npos, refused.strErr.find("another twintone run is acting on"));
  EXPECT_EQ(before, Snapshot(dir.Path("lib")));
  // Nor does a run on another folder that reaches the library through a link.
  fs::create_directories(dir.Path("outer"));
  fs::create_directory_symlink(dir.Path("lib"), dir.Path("outer/lib"));
  std::vector<std::string> vecOuter = Command({"--trash"});
  vecOuter.back() = dir.Path("outer");
  CliProcess(vecOuter, "env").Finish();
  EXPECT_EQ(before, Snapshot(dir.Path("lib")));
  CliProcess waiting(Command({"--trash"}), "env");
  ASSERT_TRUE(waiting.WaitForErr("waiting for another twintone run on " + dir.Path("lib")));
  EXPECT_EQ(before, Snapshot(dir.Path("lib")));
  holder.reset();
  EXPECT_EQ(0, waiting.Finish().nExitCode);
  EXPECT_EQ(1u, Snapshot(dir.Path("lib")).size());
  unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace twintone_cli_test
