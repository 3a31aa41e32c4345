#include "common/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>


namespace twintone_cli {
namespace {

// All of these are touched by the signal handler: lock-free atomics and plain ints
// written before the handlers are installed.
std::atomic<bool> g_bInterrupted{false};
std::atomic<int> g_nSignal{SIGINT};
std::atomic<const char*> g_pszRestoreText{nullptr};
std::atomic<int> g_fdRestoreMode{-1};  // written after g_restoreMode
struct termios g_restoreMode;
int g_fdWakeRead = -1;
int g_fdWakeWrite = -1;

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs lock-free flags");
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free ints");
static_assert(std::atomic<const char*>::is_always_lock_free,
              "the signal handler needs lock-free pointers");

// Runs in signal context: only async-signal-safe calls.
void LeaveNow() {
  int fdTerminal = g_fdRestoreMode.load();
  if (fdTerminal >= 0) tcsetattr(fdTerminal, TCSAFLUSH, &g_restoreMode);
  const char* pszText = g_pszRestoreText.load();
  if (pszText != nullptr) {
    ssize_t nIgnored = write(STDERR_FILENO, pszText, std::strlen(pszText));
    (void)nIgnored;
  }
  _exit(128 + g_nSignal.load());
}

// Runs in signal context: only async-signal-safe calls.
void OnInterrupt(int nSignal) {
  int nSavedErrno = errno;
  if (g_bInterrupted.load()) LeaveNow();
  g_nSignal.store(nSignal);
  g_bInterrupted.store(true);
  alarm(kGraceSeconds);
  char byte = 'i';
  ssize_t nIgnored = write(g_fdWakeWrite, &byte, 1);
  (void)nIgnored;
  errno = nSavedErrno;
}

// Runs in signal context: the grace after the first interrupt is over.
void OnGraceOver(int) {
  if (!g_bInterrupted.load()) return;
  static const char kText[] = "twintone: still busy after the interrupt; leaving now\n";
  ssize_t nIgnored = write(STDERR_FILENO, kText, sizeof(kText) - 1);
  (void)nIgnored;
  LeaveNow();
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
  action.sa_handler = OnGraceOver;
  sigaction(SIGALRM, &action, nullptr);
  return true;
}

int InterruptFd() { return g_fdWakeRead; }

const std::atomic<bool>& InterruptRequested() { return g_bInterrupted; }

int InterruptExitCode() { return 128 + g_nSignal.load(); }

void SetTerminalRestoreText(const char* pszText) { g_pszRestoreText.store(pszText); }

void SetTerminalRestoreMode(int nFd, const struct termios* pSettings) {
  g_fdRestoreMode.store(-1);
  if (nFd < 0 || pSettings == nullptr) return;
  g_restoreMode = *pSettings;
  g_fdRestoreMode.store(nFd);
}

}  // namespace twintone_cli
