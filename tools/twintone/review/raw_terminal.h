// A terminal in raw mode for as long as the object lives: keys arrive one at a time,
// unechoed, and Ctrl-C arrives as a byte rather than a signal. Its settings are put
// back by the destructor, and by the interrupt handler should a second signal end the
// command at once (common/interrupt.h).
#ifndef TWINTONE_TOOLS_REVIEW_RAW_TERMINAL_H
#define TWINTONE_TOOLS_REVIEW_RAW_TERMINAL_H

#include <termios.h>

namespace twintone_cli {

// What ReadKey met instead of a key.
constexpr int kKeyInterrupt = -1;  // Ctrl-C typed, or SIGINT/SIGTERM received
constexpr int kKeyEnd = -2;        // the terminal is gone (end of file, read error)

class RawTerminal {
 public:
  // Puts fd (a terminal) in raw mode; Ok() is false when fd is not a terminal.
  explicit RawTerminal(int fd);
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  bool Ok() const { return m_bRaw; }

  // Waits for one byte from the terminal or an interrupt; the byte (0..255), or
  // kKeyInterrupt or kKeyEnd.
  int ReadKey();

 private:
  int m_fd;
  bool m_bRaw = false;
  struct termios m_saved;
};

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_REVIEW_RAW_TERMINAL_H
