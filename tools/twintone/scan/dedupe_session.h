// The library side of one command: taking the paths in, running the library on its
// worker thread with progress and Ctrl-C, and copying the groups out of the library's
// records into a RunReport.
#ifndef TWINTONE_TOOLS_SCAN_DEDUPE_SESSION_H
#define TWINTONE_TOOLS_SCAN_DEDUPE_SESSION_H

#include <string>
#include <vector>

#include "scan/scan_settings.h"
#include "common/run_report.h"

namespace twintone_cli {

struct SessionOutcome {
  bool bStarted = false;  // false: the library refused to start a run (message printed)
  int nPathErrors = 0;    // paths that could not be taken in (each reported)
  bool bInterrupted = false;
  std::vector<std::string> vecFingerprintLines;  // --print-fingerprints, one per file
};

// Runs the whole session for settings and fills the mode, counts, groups (in the
// library's order; the keeper orders them after) and partial flag of *pReport. Messages go to standard error; standard output is left untouched
// (the library's own listing output is silenced). Call once per process, after
// InstallInterruptHandlers.
// Points standard output at /dev/null for its lifetime, so the library's per-file
// listing lines cannot mix with a report; the previous target comes back after.
class StdoutSilencer {
 public:
  StdoutSilencer();
  ~StdoutSilencer();
  StdoutSilencer(const StdoutSilencer&) = delete;
  StdoutSilencer& operator=(const StdoutSilencer&) = delete;

 private:
  int m_fdSaved = -1;
};

SessionOutcome RunDedupeSession(const ScanSettings& settings, RunReport* pReport);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_DEDUPE_SESSION_H
