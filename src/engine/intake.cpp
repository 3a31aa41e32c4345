// Intake: files, directories and host records enter the load table before a run.
// Runs on the host's thread; every operation only tries hDataLock and answers -1
// when it is busy.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/dedupe_music.h"

namespace {

constexpr size_t kMaxIntakePath = 2048;

// Holds hDataLock when the non-blocking attempt succeeded.
class DataTryHold {
 public:
  explicit DataTryHold(pthread_mutex_t* pMutex)
      : pMutex_(pMutex), bHeld_(pthread_mutex_trylock(pMutex) == 0) {}
  ~DataTryHold() {
    if (bHeld_) pthread_mutex_unlock(pMutex_);
  }
  DataTryHold(const DataTryHold&) = delete;
  DataTryHold& operator=(const DataTryHold&) = delete;
  bool Held() const { return bHeld_; }

 private:
  pthread_mutex_t* pMutex_;
  bool bHeld_;
};

// Drops one trailing separator and turns backslashes into slashes; paths of three
// bytes or fewer are kept as given.
std::string NormalisedIntakePath(const char* pszPath) {
  std::string strPath(pszPath);
  if (strPath.size() >= 4) {
    if (strPath.back() == '/' || strPath.back() == '\\') strPath.pop_back();
    string_replace(strPath, "\\", "/");
  }
  return strPath;
}

}  // namespace

int CDedupeMusic::AddToDedupeLists(const char* pszPath, int nUserData) {
  DataTryHold hold(&hDataLock);
  if (!hold.Held()) return -1;
  if (pszPath == nullptr || strlen(pszPath) > kMaxIntakePath) return -1;

  std::string strPath = NormalisedIntakePath(pszPath);
  if (IsDirExits(strPath)) {
    std::vector<std::string> vecFiles;
    GetDirAllAudioFiles(strPath.c_str(), &vecFiles);
    for (std::string& strFile : vecFiles) {
      string_replace(strFile, "\\", "/");
      // One look-up: the entry is made first and given its record, or a path
      // already loaded keeps the one it has.
      auto inserted = mapLoaded.emplace(strFile, nullptr);
      if (!inserted.second) continue;
      try {
        auto pRecord = std::make_unique<InerMusicDedupInfo>();
        pRecord->strPath = std::move(strFile);
        inserted.first->second = pRecord.release();
      } catch (...) {
        mapLoaded.erase(inserted.first);
        throw;
      }
    }
    return 0;
  }
  if (!IsFileExists(strPath)) return -3;
  if (mapLoaded.count(strPath) != 0) return -2;
  auto pRecord = std::make_unique<InerMusicDedupInfo>();
  pRecord->strPath = strPath;
  pRecord->nUserData = nUserData;
  mapLoaded.emplace(strPath, pRecord.get());
  pRecord.release();
  return 0;
}

int CDedupeMusic::AddToDedupeListsByInfo(const tagInMusicDedupInfo* pInfo) {
  DataTryHold hold(&hDataLock);
  if (!hold.Held() || pInfo == nullptr) return -1;
  std::string strPath = pInfo->pszPath != nullptr ? pInfo->pszPath : "";
  if (mapLoaded.count(strPath) != 0) return -2;
  std::unique_ptr<InerMusicDedupInfo> pRecord = twintone::NewRecordFromInfo(*pInfo);
  mapLoaded.emplace(strPath, pRecord.get());
  pRecord.release();
  return 0;
}
