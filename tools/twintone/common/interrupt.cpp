#include "common/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/exit_codes.h"

namespace twintone_cli {
namespace {

// All of these are touched by the signal handler: lock-free atomics and plain ints
// written before the handlers are installed.
std::atomic<bool> g_bInterrupted{false};
std::atomic<const char*> g_pszRestoreText{nullptr};
int g_fdWakeRead = -1;
int g_fdWakeWrite = -1;

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs lock-free flags");
static_assert(std::atomic<const char*>::is_always_lock_free,
              "the signal handler needs lock-free pointers");

// Runs in signal context: only async-signal-safe calls.
void OnInterrupt(int) {
  int nSavedErrno = errno;
  if (g_bInterrupted.exchange(true)) {
    const char* pszText = g_pszRestoreText.load();
    if (pszText != nullptr) {
      ssize_t nIgnored = write(STDERR_FILENO, pszText, std::strlen(pszText));
      (void)nIgnored;
    }
    _exit(kExitInterrupted);
  }
  char byte = 'i';
  ssize_t nIgnored = write(g_fdWakeWrite, &byte, 1);
  (void)nIgnored;
  errno = nSavedErrno;
}

}  // namespace

bool InstallInterruptHandlers() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  g_fdWakeRead = fds[0];
  g_fdWakeWrite = fds[1];

  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return true;
}

int InterruptFd() { return g_fdWakeRead; }

const std::atomic<bool>& InterruptRequested() { return g_bInterrupted; }

void SetTerminalRestoreText(const char* pszText) { g_pszRestoreText.store(pszText); }

}  // namespace twintone_cli
