// How a fingerprint run files its recordings into groups: exactly, each compared with
// every group, or through the library's candidate index, which compares each only with
// the groups that share fingerprint words with it. --exact or --fast choose; without
// them the number of files does, against what exact filing takes about a minute for on
// this computer.
#ifndef TWINTONE_TOOLS_SCAN_FILING_CHOICE_H
#define TWINTONE_TOOLS_SCAN_FILING_CHOICE_H

#include <cstdint>
#include <string>

#include "scan/scan_settings.h"

namespace twintone_cli {

struct FilingChoice {
  bool bIndexed = false;
  // Why, for the reports, after "exact filing: " or "indexed filing: " ("120,000
  // files; --exact to compare every group").
  std::string strReason;
};

// The most files exact filing takes about a minute for here: the library's advice
// (twintone_exact_filing_limit), unless the environment variable TWINTONE_EXACT_LIMIT
// holds a whole number from 1 up, which replaces it. The variable is for tests, which
// cannot afford libraries of thousands of files; only the command reads it.
int ExactFilingLimit();

// The most files a run without --exact or --fast files exactly: ExactFilingLimit,
// cut when near misses are listed (bNearMisses), which costs each comparison more,
// unless TWINTONE_EXACT_LIMIT set it.
int AutomaticExactLimit(bool bNearMisses);

// The filing for a run over nFiles files (those handed to the library).
FilingChoice ChooseFiling(const ScanSettings& settings, int nFiles);

// nValue with a comma between groups of three digits: "120,000".
std::string GroupedDigits(int64_t nValue);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_FILING_CHOICE_H
