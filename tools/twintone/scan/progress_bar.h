// The progress line on standard error: a bar, files done of total, rate, time left and
// the current file, redrawn in place with a carriage return. Only drawn when enabled
// (standard error is a terminal and the user did not ask for quiet); otherwise every
// call does nothing. Used from the main thread only.
#ifndef TWINTONE_TOOLS_SCAN_PROGRESS_BAR_H
#define TWINTONE_TOOLS_SCAN_PROGRESS_BAR_H

#include <chrono>
#include <string>

namespace twintone_cli {

class ProgressBar {
 public:
  explicit ProgressBar(bool bEnabled);
  // Clears the line and shows the cursor again.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws with nDone of nTotal files finished (nTotal < 0: not known yet). At most
  // ten redraws a second unless bForce.
  void Update(int nDone, int nTotal, const std::string& strCurrent, bool bForce = false);
  // Writes one full line (no line end needed) above the bar, then redraws the bar.
  void PrintLine(const std::string& strLine);
  // Removes the bar and restores the cursor; later calls do nothing.
  void Finish();

 private:
  void Draw();
  int TerminalWidth() const;

  bool m_bEnabled;
  bool m_bDrawn = false;
  int m_nDone = 0;
  int m_nTotal = -1;
  std::string m_strCurrent;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_PROGRESS_BAR_H
