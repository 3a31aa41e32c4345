// Ctrl-C handling. The first SIGINT (or SIGTERM) only asks: it sets a flag and wakes
// whoever polls InterruptFd(), so the run can stop after the file in hand and the
// groups found so far can still be printed. The second one leaves at once with exit
// code 130, after writing the terminal restore text (if any) to standard error.
#ifndef TWINTONE_TOOLS_COMMON_INTERRUPT_H
#define TWINTONE_TOOLS_COMMON_INTERRUPT_H

#include <atomic>

namespace twintone_cli {

// Installs the handlers and creates the wake-up pipe. Call once, before any thread of
// the library exists. False when the pipe cannot be made.
bool InstallInterruptHandlers();

// Read end of the wake-up pipe: readable once an interrupt arrived. Non-blocking.
int InterruptFd();

// True once the first interrupt arrived. Safe from any thread.
const std::atomic<bool>& InterruptRequested();

// Text written to standard error by the second interrupt before it exits, so a
// terminal is not left with a hidden cursor or half a line. pszText must stay valid
// (a string literal) until it is replaced; null writes nothing.
void SetTerminalRestoreText(const char* pszText);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_COMMON_INTERRUPT_H
