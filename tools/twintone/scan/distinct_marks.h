// Copies a person marked "not a duplicate" of each other, in the terminal review or
// on the review page: the pair is kept in the fingerprint cache by fingerprint
// identity (twintone_ext.h), so a copy renamed or moved keeps its mark, and a later
// fingerprint run keeps the two apart however alike they sound. Tag scans have no
// fingerprints, and so no marks; the check by ear before a tag action honours them.
#ifndef TWINTONE_TOOLS_SCAN_DISTINCT_MARKS_H
#define TWINTONE_TOOLS_SCAN_DISTINCT_MARKS_H

#include <cstdint>
#include <utility>
#include <vector>

#include "common/run_report.h"
#include "scan/fingerprint_cache.h"
#include "scan/scan_settings.h"

namespace twintone_cli {

// During a fingerprint run with the cache open and the library's records loaded:
// sets every member's nPrintId, then takes out of each group every member marked
// distinct from a member before it (to the unique files; a group left with one member
// goes), counting the pairs in pReport->nKeptApart.
void KeepMarkedApart(RunReport* pReport);

// Remembers the pairs of identities (0 and equal ones are passed over) in the cache of
// settings, opened for the while. The number remembered; -1 after a warning when the
// cache cannot be used.
int RememberDistinct(const ScanSettings& settings,
                     const std::vector<std::pair<uint64_t, uint64_t>>& vecPairs,
                     const MessageSink& pfnWarn);

// --forget-distinct: forgets every pair in the cache of settings. The number
// forgotten; -1 after a warning when the cache cannot be used.
int ForgetDistinct(const ScanSettings& settings, const MessageSink& pfnWarn);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_DISTINCT_MARKS_H
