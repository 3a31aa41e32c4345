#include "scan/print_fetch.h"

#include "common/interrupt.h"
#include "scan/dedupe_session.h"
#include "twintone.h"
#include "twintone_ext.h"

namespace twintone_cli {

bool FetchFingerprints(const ScanSettings& settings, const RunReport& report,
                       const std::vector<std::string>& vecPaths, const MessageSink& pfnWarn,
                       FingerprintMap* pmapPrints, std::map<std::string, int>* pmapDecodedMs,
                       const std::function<void()>& pfnWhileOpen) {
  pmapPrints->clear();
  if (pmapDecodedMs != nullptr) pmapDecodedMs->clear();
  if (vecPaths.empty()) return true;
  StdoutSilencer silencer;
  for (const std::string& strPath : vecPaths) AddToDedupeLists(strPath.c_str(), 0);
  ScanSettings prints = settings;
  prints.bFingerprint = true;
  const bool bCache = !settings.bNoCache && OpenCache(prints, report, pfnWarn);
  // Exact filing and no near misses: the grouping of this run is not used, only the
  // fingerprints it computes on the way, so it should cost as little as it can.
  bool bRan = twintone_set_filing(TWINTONE_FILING_EXACT) == 0 && twintone_set_near_floor(0) == 0 &&
              StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, settings.nSeconds,
                                settings.nSimilarity) == 0;
  if (!bRan) pfnWarn("the library could not start the run that checks tag groups by ear");
  if (bRan && InterruptRequested().load()) bRan = false;
  if (bRan) {
    std::vector<uint32_t> vecWords;
    for (const std::string& strPath : vecPaths) {
      int nLength = twintone_get_fingerprint(strPath.c_str(), nullptr, 0);
      if (nLength <= 0) continue;
      vecWords.assign(static_cast<size_t>(nLength), 0);
      if (twintone_get_fingerprint(strPath.c_str(), vecWords.data(), nLength) == nLength) {
        (*pmapPrints)[strPath] = vecWords;
      }
    }
    for (int i = 0, nFiles = twintone_file_count(); pmapDecodedMs != nullptr && i < nFiles; ++i) {
      twintone_file_info info{};
      info.nStructSize = sizeof(info);
      if (twintone_file_info_at(i, &info) == 0 && info.pszPath != nullptr) {
        (*pmapDecodedMs)[info.pszPath] = info.nDecodedMs;
      }
    }
    if (pfnWhileOpen) pfnWhileOpen();
  }
  if (bCache) CloseCache(pfnWarn, MessageSink());
  DedupeDealloc();
  return bRan;
}

}  // namespace twintone_cli
