#include "cli_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace twintone_cli_test {

CliProcess::CliProcess(const std::vector<std::string>& vecArgs, const char* pszProgram,
                       const std::string& strStdin) {
  int fdsErr[2];
  if (pipe2(fdsErr, O_CLOEXEC) != 0) return;
  std::vector<std::string> vecAll = {pszProgram};
  vecAll.insert(vecAll.end(), vecArgs.begin(), vecArgs.end());
  std::vector<char*> vecArgv;
  for (std::string& strArg : vecAll) vecArgv.push_back(&strArg[0]);
  vecArgv.push_back(nullptr);
  std::string strOutPath = m_dir.Path("stdout");
  // A fingerprint cache of the child's own, unless the test names one, so no run
  // reads what another left in the user's cache.
  std::string strCacheHome = "XDG_CACHE_HOME=" + m_dir.Path("cache");
  std::vector<char*> vecEnv;
  for (char** ppEnv = environ; *ppEnv != nullptr; ++ppEnv) {
    if (strncmp(*ppEnv, "XDG_CACHE_HOME=", 15) != 0) vecEnv.push_back(*ppEnv);
  }
  vecEnv.push_back(&strCacheHome[0]);
  vecEnv.push_back(nullptr);
  m_pid = fork();
  if (m_pid == 0) {  // only async-signal-safe calls from here on
    dup2(open(strStdin.c_str(), O_RDONLY), 0);
    dup2(open(strOutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(fdsErr[1], 2);
    // The child starts with default signal handling whatever the test runner set.
    for (int nSignal : {SIGINT, SIGTERM, SIGPIPE}) signal(nSignal, SIG_DFL);
    sigset_t setEmpty;
    sigemptyset(&setEmpty);
    sigprocmask(SIG_SETMASK, &setEmpty, nullptr);
    execvpe(pszProgram, vecArgv.data(), vecEnv.data());
    _exit(127);
  }
  close(fdsErr[1]);
  m_fdErr = fdsErr[0];
}

CliProcess::~CliProcess() {
  if (m_pid > 0) kill(m_pid, SIGKILL);
  Finish();
}

bool CliProcess::ReadErr() {
  char buffer[4096];
  ssize_t nRead = 0;
  do {
    nRead = m_fdErr < 0 ? 0 : read(m_fdErr, buffer, sizeof(buffer));
  } while (nRead < 0 && errno == EINTR);
  if (nRead > 0) m_result.strErr.append(buffer, static_cast<size_t>(nRead));
  return nRead > 0;
}

bool CliProcess::WaitForErr(const std::string& strNeedle) {
  while (m_result.strErr.find(strNeedle) == std::string::npos) {
    if (!ReadErr()) return false;
  }
  return true;
}

void CliProcess::Signal(int nSignal) {
  if (m_pid > 0) kill(m_pid, nSignal);
}

CliResult CliProcess::Finish() {
  while (ReadErr()) {
  }
  if (m_fdErr >= 0) close(m_fdErr);
  m_fdErr = -1;
  int nStatus = 0;
  while (m_pid > 0 && waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR) {
  }
  if (m_pid > 0) m_result.nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
  m_pid = -1;
  m_result.strOut = TempDir::ReadFile(m_dir.Path("stdout"));
  return m_result;
}

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

}  // namespace twintone_cli_test
