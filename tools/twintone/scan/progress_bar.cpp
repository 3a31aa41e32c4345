#include "scan/progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "common/interrupt.h"
#include "common/text_escape.h"

namespace twintone_cli {
namespace {

constexpr const char* kHideCursor = "\x1b[?25l";
constexpr const char* kClearLine = "\r\x1b[K";
// What a second Ctrl-C writes before leaving: clear the bar, show the cursor.
constexpr const char* kRestoreText = "\r\x1b[K\x1b[?25h\n";
constexpr int kBarCells = 24;

std::string FormatSeconds(double fSeconds) {
  long nSeconds = static_cast<long>(fSeconds + 0.5);
  char szText[32];
  if (nSeconds >= 3600) {
    std::snprintf(szText, sizeof(szText), "%ld:%02ld:%02ld", nSeconds / 3600, nSeconds / 60 % 60,
                  nSeconds % 60);
  } else {
    std::snprintf(szText, sizeof(szText), "%ld:%02ld", nSeconds / 60, nSeconds % 60);
  }
  return szText;
}

}  // namespace

ProgressBar::ProgressBar(bool bEnabled)
    : m_bEnabled(bEnabled),
      m_start(std::chrono::steady_clock::now()),
      m_lastDraw(m_start - std::chrono::seconds(1)) {}

ProgressBar::~ProgressBar() { Finish(); }

int ProgressBar::TerminalWidth() const {
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
  return 80;
}

void ProgressBar::Update(int nDone, int nTotal, const std::string& strCurrent, bool bForce) {
  if (!m_bEnabled) return;
  m_nDone = nDone;
  m_nTotal = nTotal;
  m_strCurrent = strCurrent;
  auto now = std::chrono::steady_clock::now();
  if (!bForce && now - m_lastDraw < std::chrono::milliseconds(100)) return;
  m_lastDraw = now;
  Draw();
}

void ProgressBar::PrintLine(const std::string& strLine) {
  if (m_bDrawn) std::fputs(kClearLine, stderr);
  std::fprintf(stderr, "%s\n", TerminalSafe(strLine).c_str());
  if (m_bDrawn) Draw();
  std::fflush(stderr);
}

void ProgressBar::Draw() {
  if (!m_bDrawn) {
    SetTerminalRestoreText(kRestoreText);
    std::fputs(kHideCursor, stderr);
    m_bDrawn = true;
  }
  std::string strBar = "[";
  int nFilled =
      m_nTotal > 0 ? static_cast<int>(static_cast<long long>(m_nDone) * kBarCells / m_nTotal) : 0;
  for (int i = 0; i < kBarCells; ++i) strBar += i < nFilled ? '#' : '-';
  strBar += "] ";

  double fElapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  double fRate = fElapsed > 0.5 ? m_nDone / fElapsed : 0.0;
  char szStats[96];
  if (m_nTotal < 0) {
    std::snprintf(szStats, sizeof(szStats), "reading folders...  ");
  } else if (fRate > 0.0) {
    std::snprintf(szStats, sizeof(szStats), "%d/%d  %.1f files/s  %s left  ", m_nDone, m_nTotal,
                  fRate, FormatSeconds((m_nTotal - m_nDone) / fRate).c_str());
  } else {
    std::snprintf(szStats, sizeof(szStats), "%d/%d  ", m_nDone, m_nTotal);
  }
  std::string strLine = strBar + szStats;
  size_t nWidth = static_cast<size_t>(TerminalWidth()) - 1;  // never wrap into a new line
  if (strLine.size() >= nWidth) {
    strLine.resize(nWidth);  // bar and figures are ASCII
  } else {
    strLine += TailToFit(TerminalSafe(m_strCurrent), nWidth - strLine.size());
  }
  std::fprintf(stderr, "%s%s", kClearLine, strLine.c_str());
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!m_bDrawn) return;
  std::fprintf(stderr, "%s\x1b[?25h", kClearLine);
  std::fflush(stderr);
  SetTerminalRestoreText(nullptr);
  m_bDrawn = false;
  m_bEnabled = false;
}

}  // namespace twintone_cli
