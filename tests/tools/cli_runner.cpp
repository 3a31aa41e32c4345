#include "cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "fixtures/temp_dir.h"

extern char** environ;

namespace twintone_cli_test {

CliProcess::CliProcess(const std::vector<std::string>& vecArgs, const char* pszProgram,
                       const std::string& strStdin) {
  int fdsOut[2], fdsErr[2];
  if (pipe2(fdsOut, O_CLOEXEC) != 0 || pipe2(fdsErr, O_CLOEXEC) != 0) return;
  std::vector<std::string> vecAll = {pszProgram};
  vecAll.insert(vecAll.end(), vecArgs.begin(), vecArgs.end());
  std::vector<char*> vecArgv;
  for (std::string& strArg : vecAll) vecArgv.push_back(&strArg[0]);
  vecArgv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, strStdin.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fdsOut[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fdsErr[1], 2);
  // The child starts with default signal handling whatever the test runner set.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t setDefault, setEmpty;
  sigemptyset(&setEmpty);
  sigemptyset(&setDefault);
  for (int nSignal : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&setDefault, nSignal);
  posix_spawnattr_setsigdefault(&attr, &setDefault);
  posix_spawnattr_setsigmask(&attr, &setEmpty);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (posix_spawnp(&m_pid, pszProgram, &actions, &attr, vecArgv.data(), environ) != 0) m_pid = -1;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(fdsOut[1]);
  close(fdsErr[1]);
  m_fds[0] = fdsOut[0];
  m_fds[1] = fdsErr[0];
}

CliProcess::~CliProcess() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  for (int fd : m_fds) {
    if (fd >= 0) close(fd);
  }
}

bool CliProcess::Pump() {
  struct pollfd fds[2] = {{m_fds[0], POLLIN, 0}, {m_fds[1], POLLIN, 0}};
  if (m_fds[0] < 0 && m_fds[1] < 0) return false;
  if (poll(fds, 2, -1) < 0) return errno == EINTR;
  std::string* pTexts[2] = {&m_result.strOut, &m_result.strErr};
  for (int i = 0; i < 2; ++i) {
    if (m_fds[i] < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[4096];
    ssize_t nRead = read(m_fds[i], buffer, sizeof(buffer));
    if (nRead > 0) {
      pTexts[i]->append(buffer, static_cast<size_t>(nRead));
    } else if (nRead == 0 || errno != EINTR) {
      close(m_fds[i]);
      m_fds[i] = -1;
    }
  }
  return m_fds[0] >= 0 || m_fds[1] >= 0;
}

bool CliProcess::WaitForErr(const std::string& strNeedle) {
  while (m_result.strErr.find(strNeedle) == std::string::npos) {
    if (m_fds[1] < 0 || !Pump()) return m_result.strErr.find(strNeedle) != std::string::npos;
  }
  return true;
}

void CliProcess::Signal(int nSignal) {
  if (m_pid > 0) kill(m_pid, nSignal);
}

CliResult CliProcess::Finish() {
  while (Pump()) {
  }
  if (m_pid > 0) {
    int nStatus = 0;
    while (waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    m_result.nExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    m_pid = -1;
  }
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
