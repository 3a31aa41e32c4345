// The command's side of the library's fingerprint store: where the cache lives,
// opening it for a fingerprint run, pruning it, and the --print-fingerprints lines.
#ifndef TWINTONE_TOOLS_SCAN_FINGERPRINT_CACHE_H
#define TWINTONE_TOOLS_SCAN_FINGERPRINT_CACHE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/run_report.h"
#include "scan/scan_settings.h"

namespace twintone_cli {

using MessageSink = std::function<void(const std::string&)>;

// $XDG_CACHE_HOME/twintone/fingerprints.sqlite when XDG_CACHE_HOME is an absolute
// path, else $HOME/.cache/twintone/fingerprints.sqlite; "" when neither is known.
std::string DefaultCachePath();

// The cache file the options choose: --cache FILE, else the default.
std::string CachePathFor(const ScanSettings& settings);

// Opens the cache of settings, creating it with its folder if needed, outside a scan
// (CloseCache closes it). False after a warning when it cannot be used.
bool OpenCacheOf(const ScanSettings& settings, const MessageSink& pfnWarn);

// Opens the cache for the coming run (its folder created first). A cache that cannot
// be used, or whose file is one of report's scanned files, is reported through pfnWarn
// and the run goes on without it. True when open.
bool OpenCache(const ScanSettings& settings, const RunReport& report, const MessageSink& pfnWarn);

// After the run: says through pfnWarn why the cache was dropped mid-run, if it was,
// and through pfnInfo (when not null) how many fingerprints it gave and took; then
// closes it, writing what is pending.
void CloseCache(const MessageSink& pfnWarn, const MessageSink& pfnInfo);

// --prune-cache: drops the entries of files that are gone and says how many through
// pfnInfo. False (reported through pfnWarn) when the cache cannot be opened.
bool PruneCache(const ScanSettings& settings, const MessageSink& pfnWarn, const MessageSink& pfnInfo);

// One --print-fingerprints line (no newline) for a stored path, read from the library
// after a fingerprint run and before DedupeDealloc. nRequestedSeconds is --seconds.
std::string FingerprintLine(const std::string& strPath, int nRequestedSeconds);

// The line's JSON object from its parts; pvecWords null prints a null fingerprint
// (the library holds none for the file).
std::string FingerprintJson(const std::string& strPath, int nDurationMs, int nSeconds,
                            const std::vector<uint32_t>* pvecWords);

}  // namespace twintone_cli

#endif  // TWINTONE_TOOLS_SCAN_FINGERPRINT_CACHE_H
