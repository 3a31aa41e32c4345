#include "cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace twintone_cli_test {

CliProcess::CliProcess(const std::vector<std::string>& vecArgs) {
  int fdsOut[2];
  int fdsErr[2];
  if (pipe2(fdsOut, O_CLOEXEC) != 0 || pipe2(fdsErr, O_CLOEXEC) != 0) return;
  std::vector<std::string> vecAll = {TWINTONE_CLI_BINARY};
  vecAll.insert(vecAll.end(), vecArgs.begin(), vecArgs.end());
  std::vector<char*> vecArgv;
  for (std::string& strArg : vecAll) vecArgv.push_back(&strArg[0]);
  vecArgv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fdsOut[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fdsErr[1], 2);
  // The child starts with default signal handling whatever the test runner set.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t setDefault, setEmpty;
  sigemptyset(&setDefault);
  sigaddset(&setDefault, SIGINT);
  sigaddset(&setDefault, SIGTERM);
  sigaddset(&setDefault, SIGPIPE);
  sigemptyset(&setEmpty);
  posix_spawnattr_setsigdefault(&attr, &setDefault);
  posix_spawnattr_setsigmask(&attr, &setEmpty);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (posix_spawn(&m_pid, vecArgv[0], &actions, &attr, vecArgv.data(), environ) != 0) m_pid = -1;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(fdsOut[1]);
  close(fdsErr[1]);
  m_fdOut = fdsOut[0];
  m_fdErr = fdsErr[0];
}

CliProcess::~CliProcess() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  if (m_fdOut >= 0) close(m_fdOut);
  if (m_fdErr >= 0) close(m_fdErr);
}

bool CliProcess::Pump(int nTimeoutMs) {
  struct pollfd fds[2] = {{m_fdOut, POLLIN, 0}, {m_fdErr, POLLIN, 0}};
  if (m_fdOut < 0 && m_fdErr < 0) return false;
  if (poll(fds, 2, nTimeoutMs) < 0) return errno == EINTR;
  int* pFds[2] = {&m_fdOut, &m_fdErr};
  std::string* pTexts[2] = {&m_result.strOut, &m_result.strErr};
  for (int i = 0; i < 2; ++i) {
    if (*pFds[i] < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[4096];
    ssize_t nRead = read(*pFds[i], buffer, sizeof(buffer));
    if (nRead > 0) {
      pTexts[i]->append(buffer, static_cast<size_t>(nRead));
    } else if (nRead == 0 || errno != EINTR) {
      close(*pFds[i]);
      *pFds[i] = -1;
    }
  }
  return m_fdOut >= 0 || m_fdErr >= 0;
}

bool CliProcess::WaitForErr(const std::string& strNeedle) {
  while (m_result.strErr.find(strNeedle) == std::string::npos) {
    if (m_fdErr < 0 || !Pump(-1)) return m_result.strErr.find(strNeedle) != std::string::npos;
  }
  return true;
}

void CliProcess::Signal(int nSignal) {
  if (m_pid > 0) kill(m_pid, nSignal);
}

CliResult CliProcess::Finish() {
  while (Pump(-1)) {
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

CliResult RunCli(const std::vector<std::string>& vecArgs) {
  CliProcess process(vecArgs);
  return process.Finish();
}

}  // namespace twintone_cli_test
