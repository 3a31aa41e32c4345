#include "scan/filing_choice.h"

#include <algorithm>
#include <cstdlib>

#include "twintone_ext.h"

namespace twintone_cli {

int ExactFilingLimit() {
  const char* pszLimit = std::getenv("TWINTONE_EXACT_LIMIT");
  if (pszLimit != nullptr && *pszLimit != '\0') {
    char* pszEnd = nullptr;
    long nLimit = std::strtol(pszLimit, &pszEnd, 10);
    if (*pszEnd == '\0' && nLimit >= 1 && nLimit <= 1000000000) return static_cast<int>(nLimit);
  }
  return twintone_exact_filing_limit();
}

int AutomaticExactLimit(bool bNearMisses) {
  // Listing near misses keeps each comparison going down to the floor instead of the
  // threshold, about three times the work of exact filing (bench/README.md), so the
  // minute holds about 1/sqrt(3) as many files. A forced limit is taken as given.
  const char* pszForced = std::getenv("TWINTONE_EXACT_LIMIT");
  const bool bForced = pszForced != nullptr && *pszForced != '\0';
  return bNearMisses && !bForced ? std::max(1, static_cast<int>(ExactFilingLimit() * 0.58))
                                 : ExactFilingLimit();
}

FilingChoice ChooseFiling(const ScanSettings& settings, int nFiles) {
  FilingChoice choice;
  if (settings.bFast || settings.bExact) {
    choice.bIndexed = settings.bFast;
    choice.strReason = settings.bFast ? "asked for with --fast" : "asked for with --exact";
    return choice;
  }
  const int nLimit = AutomaticExactLimit(settings.nNearFloor > 0);
  const std::string strFiles = GroupedDigits(nFiles) + (nFiles == 1 ? " file" : " files");
  choice.bIndexed = nFiles > nLimit;
  choice.strReason =
      choice.bIndexed
          ? strFiles + "; --exact to compare every group"
          : strFiles + " (up to " + GroupedDigits(nLimit) + " files exactly in about a minute here)";
  return choice;
}

std::string GroupedDigits(int64_t nValue) {
  std::string strDigits = std::to_string(nValue < 0 ? -nValue : nValue);
  for (size_t nAt = strDigits.size(); nAt > 3; nAt -= 3) strDigits.insert(nAt - 3, ",");
  return (nValue < 0 ? "-" : "") + strDigits;
}

}  // namespace twintone_cli
