// A C host that returns from main, or calls exit from inside an event, while a
// fingerprint run is decoding: every one of many such processes must end with status
// 0, without a signal and without writing anything. Before the library stopped its
// threads at exit, about one in seven crashed inside TagLib's destroyed statics.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"

extern char** environ;

namespace twintone_test {
namespace {

// Sanitizer builds start each process far more slowly; they run fewer.
#ifdef TWINTONE_SANITIZED_BUILD
constexpr int kProcesses = 40;
#else
constexpr int kProcesses = 200;
#endif

// Starts the host in nMode with its output in strOutput; the files are two pieces in
// three encodings each.
pid_t StartHost(int nMode, const std::string& strOutput) {
  std::vector<std::string> vecArgs = {TWINTONE_EXIT_HOST_FILE, std::to_string(nMode)};
  for (size_t nPiece = 0; nPiece < 2; ++nPiece) {
    for (AudioEncoding enc : {AudioEncoding::kMp3At128, AudioEncoding::kFlac,
                              AudioEncoding::kOggVorbis}) {
      vecArgs.push_back(SharedAudioCorpus().Path(nPiece, enc));
    }
  }
  std::vector<char*> vecArgv;
  for (std::string& strArg : vecArgs) vecArgv.push_back(&strArg[0]);
  vecArgv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, strOutput.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t nPid = -1;
  EXPECT_EQ(0, posix_spawn(&nPid, vecArgv[0], &actions, nullptr, vecArgv.data(), environ));
  posix_spawn_file_actions_destroy(&actions);
  return nPid;
}

// "" for a clean exit, else what went wrong.
std::string Outcome(pid_t nPid, const std::string& strOutput) {
  int nStatus = 0;
  if (nPid < 0 || waitpid(nPid, &nStatus, 0) != nPid) return "not started";
  if (WIFSIGNALED(nStatus)) return "signal " + std::to_string(WTERMSIG(nStatus));
  if (WEXITSTATUS(nStatus) != 0) return "status " + std::to_string(WEXITSTATUS(nStatus));
  std::string strWritten = TempDir::ReadFile(strOutput);
  return strWritten.empty() ? "" : "wrote \"" + strWritten + "\"";
}

TEST(ExitDuringRunTest, EveryHostLeavingMidRunExitsCleanly) {
  // Modes cycle through: return at once or after 1 or 2 files, exit inside event 1 or 2.
  const int kModes[] = {0, 1, 2, 0, -1, -2};
  TempDir dir;
  int nUnclean = 0;
  for (int nFirst = 0; nFirst < kProcesses; nFirst += 2) {  // two at a time
    pid_t nPids[2] = {StartHost(kModes[nFirst % 6], dir.Path("out0")),
                      StartHost(kModes[(nFirst + 1) % 6], dir.Path("out1"))};
    for (int j = 0; j < 2; ++j) {
      std::string strWrong = Outcome(nPids[j], dir.Path("out" + std::to_string(j)));
      if (!strWrong.empty() && ++nUnclean <= 5) {
        ADD_FAILURE() << "process " << nFirst + j << " (mode " << kModes[(nFirst + j) % 6]
                      << "): " << strWrong;
      }
    }
  }
  EXPECT_EQ(nUnclean, 0) << "of " << kProcesses << " processes";
}

}  // namespace
}  // namespace twintone_test
