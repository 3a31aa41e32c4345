// The fingerprints of a few chosen files, from a library run of their own: how tag
// groups are checked by ear before anything is done to them.
#ifndef TWINTONE_TOOLS_SCAN_PRINT_FETCH_H
#define TWINTONE_TOOLS_SCAN_PRINT_FETCH_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/run_report.h"
#include "scan/fingerprint_cache.h"
#include "scan/scan_settings.h"

namespace twintone_cli {

using FingerprintMap = std::map<std::string, std::vector<uint32_t>>;

// Runs the library in fingerprint mode over vecPaths only, at settings' seconds, with
// the fingerprint cache open as settings ask (so a file fingerprinted before is not
// decoded again), and fills *pmapPrints with each path's words; a path the library
// could not fingerprint has no entry. report names the scanned files (the cache may not
// be one of them). Call after the scan's own run has been cleared (DedupeDealloc);
// clears this run in turn. Blocks until the run ends. False, with the reason through
// pfnWarn, when the library refused the run or it was interrupted. With pmapDecodedMs,
// also how much of each file was decoded (-1 when not known). pfnWhileOpen, when set, is
// called once the prints are had, with the run's records and the cache still open (the
// time to ask the cache of fingerprint identities and "not a duplicate" marks).
bool FetchFingerprints(const ScanSettings& settings, const RunReport& report,
                       const std::vector<std::string>& vecPaths, const MessageSink& pfnWarn,
                       FingerprintMap* pmapPrints,
                       std::map<std::string, int>* pmapDecodedMs = nullptr,
                       const std::function<void()>& pfnWhileOpen = nullptr);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_PRINT_FETCH_H
