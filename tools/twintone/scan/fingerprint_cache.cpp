#include "scan/fingerprint_cache.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "common/json_io.h"
#include "twintone.h"
#include "twintone_ext.h"

namespace twintone_cli {
namespace {

// Creates every missing folder on the way to strDir, as mkdir -p.
bool MakeFolders(const std::string& strDir) {
  if (strDir.empty()) return true;
  for (size_t nSlash = strDir.find('/', 1);; nSlash = strDir.find('/', nSlash + 1)) {
    std::string strPart = strDir.substr(0, nSlash);
    if (mkdir(strPart.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (nSlash == std::string::npos) return true;
  }
}

std::string FolderOf(const std::string& strPath) {
  size_t nSlash = strPath.find_last_of('/');
  return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash);
}

// Opens the cache at strPath; a warning and false when it cannot be used.
bool OpenAt(const std::string& strPath, const MessageSink& pfnWarn) {
  if (strPath.empty()) {
    pfnWarn(
        "no cache folder is known (neither XDG_CACHE_HOME nor HOME is set); "
        "going on without a fingerprint cache");
    return false;
  }
  if (!MakeFolders(FolderOf(strPath))) {
    pfnWarn("cannot create the folder of the fingerprint cache " + strPath +
            "; going on without it");
    return false;
  }
  if (twintone_open_store(strPath.c_str()) != 0) {
    pfnWarn(std::string(twintone_store_message()) + "; going on without it");
    return false;
  }
  return true;
}

}  // namespace

std::string DefaultCachePath() {
  const char* pszXdg = std::getenv("XDG_CACHE_HOME");
  if (pszXdg != nullptr && pszXdg[0] == '/') {
    return std::string(pszXdg) + "/twintone/fingerprints.sqlite";
  }
  const char* pszHome = std::getenv("HOME");
  if (pszHome != nullptr && pszHome[0] != '\0') {
    return std::string(pszHome) + "/.cache/twintone/fingerprints.sqlite";
  }
  return "";
}

bool OpenCacheOf(const ScanSettings& settings, const MessageSink& pfnWarn) {
  return OpenAt(CachePathFor(settings), pfnWarn);
}

std::string CachePathFor(const ScanSettings& settings) {
  return settings.strCacheFile.empty() ? DefaultCachePath() : settings.strCacheFile;
}

bool OpenCache(const ScanSettings& settings, const RunReport& report, const MessageSink& pfnWarn) {
  std::string strPath = CachePathFor(settings);
  if (report.IsScannedFile(strPath)) {
    pfnWarn("the fingerprint cache " + strPath + " is one of the files scanned, so it is left "
            "alone; going on without a cache");
    return false;
  }
  return OpenAt(strPath, pfnWarn);
}

void CloseCache(const MessageSink& pfnWarn, const MessageSink& pfnInfo) {
  std::string strMessage = twintone_store_message();
  if (!strMessage.empty()) pfnWarn(strMessage);
  int nReused = 0, nWritten = 0;
  if (pfnInfo && twintone_store_stats(&nReused, &nWritten) == 0) {
    pfnInfo("fingerprint cache: " + std::to_string(nReused) + " reused, " +
            std::to_string(nWritten) + " written");
  }
  twintone_close_store();
}

bool PruneCache(const ScanSettings& settings, const MessageSink& pfnWarn, const MessageSink& pfnInfo) {
  std::string strPath = CachePathFor(settings);
  if (!OpenAt(strPath, pfnWarn)) return false;
  int nDropped = twintone_prune_store();
  if (nDropped < 0) {
    pfnWarn(std::string("pruning failed: ") + twintone_store_message());
    twintone_close_store();
    return false;
  }
  pfnInfo("dropped " + std::to_string(nDropped) + (nDropped == 1 ? " entry" : " entries") +
          " of files that are gone from the fingerprint cache " + strPath);
  twintone_close_store();
  return true;
}

std::string FingerprintJson(const std::string& strPath, int nDurationMs, int nSeconds,
                            const std::vector<uint32_t>* pvecWords) {
  return DumpJson({{"path", strPath},
                   {"duration", nDurationMs / 1000.0},
                   {"seconds", nSeconds},
                   {"fingerprint", pvecWords != nullptr ? Json(*pvecWords) : Json()}});
}

std::string FingerprintLine(const std::string& strPath, int nRequestedSeconds) {
  DupMusicInfo info;
  int nDurationMs =
      GetDupMusicInfo(strPath.c_str(), &info) == 0 ? static_cast<int>(info.nDuration) : 0;
  // The seconds the library fingerprints: the request capped at 600, or the whole file.
  int nSeconds = nRequestedSeconds > 600 ? 600 : nRequestedSeconds;
  if (nSeconds < 1) nSeconds = nDurationMs / 1000;

  // The length first, then the words; a file the library holds no fingerprint for
  // (or a library that cannot say) prints null.
  int nLength = twintone_get_fingerprint(strPath.c_str(), nullptr, 0);
  std::vector<uint32_t> vecWords;
  while (nLength > 0) {
    vecWords.resize(static_cast<size_t>(nLength));
    int nNow = twintone_get_fingerprint(strPath.c_str(), vecWords.data(), nLength);
    if (nNow <= nLength) {
      vecWords.resize(nNow > 0 ? static_cast<size_t>(nNow) : 0);
      break;
    }
    nLength = nNow;
  }
  return FingerprintJson(strPath, nDurationMs, nSeconds, nLength >= 0 ? &vecWords : nullptr);
}

}  // namespace twintone_cli
