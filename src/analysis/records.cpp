#include "analysis/records.h"

#include <cstdlib>
#include <cstring>
#include <new>

GroupKey::GroupKey(const GroupKey& other) : strKey(other.strKey) {
  if (other.pFinger != nullptr && other.nFingerLen > 0) {
    size_t nBytes = static_cast<size_t>(other.nFingerLen) * sizeof(int32_t);
    pFinger = static_cast<int32_t*>(malloc(nBytes));
    if (pFinger == nullptr) throw std::bad_alloc();
    memcpy(pFinger, other.pFinger, nBytes);
    nFingerLen = other.nFingerLen;
  }
}

namespace {

// The owner a shared fingerprint buffer is freed by.
struct SharedWords {
  int32_t* pWords = nullptr;
  ~SharedWords() { free(pWords); }
};

}  // namespace

GroupKey::GroupKey(GroupKey& other, ForMap) : strKey(other.strKey) {
  if (other.pFinger != nullptr && other.nFingerLen > 0) {
    if (other.spShared_.get() != other.pFinger) {
      // The owner is made first: if that throws, the buffer is still other's alone.
      auto spOwner = std::make_shared<SharedWords>();
      spOwner->pWords = other.pFinger;
      other.spShared_ = std::shared_ptr<int32_t>(spOwner, other.pFinger);
    }
    spShared_ = other.spShared_;
    pFinger = other.pFinger;
    nFingerLen = other.nFingerLen;
  }
  nKeptSum_ = other.AbsSum();
  bKeptSum_ = true;
}

GroupKey::~GroupKey() { ReleaseFinger(); }

void GroupKey::ReleaseFinger() {
  // A buffer set directly after sharing (not through ReplaceFinger) is this key's
  // alone; the shared one is released with spShared_.
  if (pFinger != nullptr && pFinger != spShared_.get()) free(pFinger);
  spShared_.reset();
  pFinger = nullptr;
}

void GroupKey::ReplaceFinger(int32_t* pWords, int32_t nWords) {
  ReleaseFinger();
  pFinger = pWords;
  nFingerLen = nWords;
  bKeptSum_ = false;
}

int64_t GroupKey::AbsSum() const {
  if (bKeptSum_) return nKeptSum_;
  int64_t nSum = 0;
  for (int32_t i = 0; i < nFingerLen; ++i) {
    // abs in 32 bits: INT32_MIN stays negative, as the ordering requires.
    uint32_t u = static_cast<uint32_t>(pFinger[i]);
    int32_t nAbs = pFinger[i] < 0 ? static_cast<int32_t>(0u - u) : pFinger[i];
    nSum += nAbs;
  }
  return nSum;
}

bool GroupKey::operator<(const GroupKey& other) const {
  if (!other.strKey.empty()) return strKey < other.strKey;
  // A text key against a fingerprint key: fingerprint keys come first. Without this
  // rule both would be less than the other, and a group map holding both kinds (a
  // run in the other mode without DedupeDealloc between) would lose nodes.
  if (!strKey.empty()) return false;
  if (nFingerLen != other.nFingerLen) return nFingerLen < other.nFingerLen;
  return AbsSum() < other.AbsSum();
}

InerMusicDedupInfo::InerMusicDedupInfo() : pGroupKey(new GroupKey()) {}

InerMusicDedupInfo::~InerMusicDedupInfo() { delete pGroupKey; }

std::unique_ptr<InerMusicDedupInfo> twintone::NewRecordFromInfo(const tagInMusicDedupInfo& info) {
  auto text = [](const char* psz) { return psz != nullptr ? psz : ""; };
  auto pRecord = std::make_unique<InerMusicDedupInfo>();
  pRecord->nUserTag = info.nUserTag;
  pRecord->nFileSize = info.nFileSize;
  pRecord->fSimilarity = info.fSimilarity;
  pRecord->nUserData = info.nUserData;
  pRecord->nDuration = info.nDuration;
  pRecord->nBitrate = info.nBitrate;
  pRecord->strAlbum = text(info.pszAlbum);
  pRecord->strGenre = text(info.pszGenre);
  pRecord->strArtist = text(info.pszArtist);
  pRecord->strPath = text(info.pszPath);
  pRecord->strTitle = text(info.pszTitle);
  return pRecord;
}

std::unique_ptr<tagInMusicDedupInfo> twintone::NewInfoFromRecord(const InerMusicDedupInfo& record) {
  auto pInfo = std::make_unique<tagInMusicDedupInfo>();
  pInfo->pszTitle = record.strTitle.c_str();
  pInfo->pszArtist = record.strArtist.c_str();
  pInfo->pszAlbum = record.strAlbum.c_str();
  pInfo->pszGenre = record.strGenre.c_str();
  pInfo->nFileSize = record.nFileSize;
  pInfo->nDuration = record.nDuration;
  pInfo->pszPath = record.strPath.c_str();
  pInfo->nUserTag = record.nUserTag;
  pInfo->fSimilarity = record.fSimilarity;
  pInfo->nBitrate = record.nBitrate;
  pInfo->nUserData = record.nUserData;
  return pInfo;
}
