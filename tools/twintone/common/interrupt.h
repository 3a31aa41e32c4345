// Ctrl-C and SIGTERM handling. The first SIGINT or SIGTERM asks: it sets a flag and
// wakes whoever polls InterruptFd(), so the run stops after the step in hand (a copy
// in progress is abandoned) and the groups found so far can still be printed. Should
// the run still be busy kGraceSeconds later, or a second signal come, the command
// leaves at once with 128 + the signal's number, after writing the terminal restore
// text (if any) to standard error. A journalled action is safe to stop at any moment.
#ifndef TWINTONE_TOOLS_COMMON_INTERRUPT_H
#define TWINTONE_TOOLS_COMMON_INTERRUPT_H

#include <termios.h>

#include <atomic>

namespace twintone_cli {

// Seconds an interrupted run has to finish its report before it is ended anyway.
constexpr unsigned kGraceSeconds = 3;

// Installs the handlers and creates the wake-up pipe. Call once, before any thread of
// the library exists. False when the pipe cannot be made.
bool InstallInterruptHandlers();

// Read end of the wake-up pipe: readable once an interrupt arrived. Non-blocking.
int InterruptFd();

// True once the first interrupt arrived. Safe from any thread.
const std::atomic<bool>& InterruptRequested();

// The exit code for the interrupt that arrived: 130 for SIGINT, 143 for SIGTERM.
int InterruptExitCode();

// Text written to standard error by the second interrupt before it exits, so a
// terminal is not left with a hidden cursor or half a line. pszText must stay valid
// (a string literal) until it is replaced; null writes nothing.
void SetTerminalRestoreText(const char* pszText);

// Terminal settings the second interrupt puts back on nFd before it exits, for a
// terminal left in raw mode; nFd < 0 (pSettings null) forgets them. Copied.
void SetTerminalRestoreMode(int nFd, const struct termios* pSettings);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_INTERRUPT_H
