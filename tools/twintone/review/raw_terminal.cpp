#include "review/raw_terminal.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "common/interrupt.h"

namespace twintone_cli {

RawTerminal::RawTerminal(int fd) : m_fd(fd) {
  if (!isatty(fd) || tcgetattr(fd, &m_saved) != 0) return;
  struct termios raw = m_saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  SetTerminalRestoreMode(fd, &m_saved);
  if (tcsetattr(fd, TCSAFLUSH, &raw) != 0) {
    SetTerminalRestoreMode(-1, nullptr);
    return;
  }
  m_bRaw = true;
}

RawTerminal::~RawTerminal() {
  if (!m_bRaw) return;
  tcsetattr(m_fd, TCSAFLUSH, &m_saved);
  SetTerminalRestoreMode(-1, nullptr);
}

int RawTerminal::ReadKey() {
  constexpr unsigned char kCtrlC = 0x03;
  while (true) {
    if (InterruptRequested().load()) return kKeyInterrupt;
    struct pollfd fds[2] = {{m_fd, POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return kKeyEnd;
    }
    if (fds[1].revents != 0) return kKeyInterrupt;
    if (fds[0].revents == 0) continue;
    unsigned char byte = 0;
    ssize_t nRead = read(m_fd, &byte, 1);
    if (nRead < 0 && errno == EINTR) continue;
    if (nRead != 1) return kKeyEnd;
    return byte == kCtrlC ? kKeyInterrupt : byte;
  }
}

}  // namespace twintone_cli
