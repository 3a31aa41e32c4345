#include "engine/store_use.h"

#include <chromaprint.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "analysis/audio_quality.h"
#include "analysis/fingerprint.h"

namespace twintone {
namespace {

// The open store, or null. Replaced only with hDataLock held (see the header).
std::unique_ptr<FingerprintStore> g_pStore;
// Why the last open failed; the entry points' thread, with hDataLock held.
std::string g_strOpenMessage;

// Revision of the decoder's fingerprint PCM (11025 Hz mono, signed 16-bit); raise it
// when the decoder's output for a file changes.
constexpr int kDecoderRevision = 1;

}  // namespace

EngineStoreCache* EngineCache() {
  static EngineStoreCache cache;
  return &cache;
}

std::string FingerprintVersionText() {
  return "decoder " + std::to_string(kDecoderRevision) + "; chromaprint " +
         chromaprint_get_version() + " algorithm " +
         std::to_string(static_cast<int>(CHROMAPRINT_ALGORITHM_TEST2));
}

StoreLookup EngineStoreCache::LookUp(const std::string& strPath, int nRequestedSeconds, int nDurationMs,
                        int32_t** ppFinger, int32_t* pnLen) {
  StoreLookup lookup;
  FingerprintStore* pStore = g_pStore.get();
  if (pStore == nullptr || pStore->Failed()) return lookup;
  lookup.nSeconds = FingerprintSeconds(nRequestedSeconds, nDurationMs);
  lookup.bIdentity = ReadFileIdentity(strPath.c_str(), &lookup.identity);
  if (!lookup.bIdentity) return lookup;

  StoredFingerprint found;
  if (!pStore->Find(strPath, lookup.identity, lookup.nSeconds, &found)) return lookup;
  size_t nBytes = found.vecWords.size() * sizeof(int32_t);
  auto* pWords = static_cast<int32_t*>(malloc(nBytes));
  if (pWords == nullptr) return lookup;  // decoded as if the store had nothing
  memcpy(pWords, found.vecWords.data(), nBytes);
  free(*ppFinger);
  *ppFinger = pWords;
  *pnLen = static_cast<int32_t>(found.vecWords.size());
  lookup.bHit = true;
  lookup.nDecodedMs = found.nDecodedMs;
  return lookup;
}

void EngineStoreCache::Settle(const StoreLookup& lookup, InerMusicDedupInfo* pRecord, bool bKeyed) {
  if (lookup.bHit) {
    pRecord->nDecodedMs = lookup.nDecodedMs;
    pRecord->bFromStore = true;
    return;
  }
  FingerprintStore* pStore = g_pStore.get();
  const GroupKey* pKey = pRecord->pGroupKey;
  if (pStore == nullptr || !lookup.bIdentity || !bKeyed || pKey->nFingerLen < 1) return;
  pStore->Remember(pRecord->strPath, lookup.identity, lookup.nSeconds,
                   reinterpret_cast<const uint32_t*>(pKey->pFinger),
                   static_cast<size_t>(pKey->nFingerLen), pRecord->nDecodedMs);
}

bool LookUpStoredQuality(const std::string& strPath, const FileIdentity& identity,
                         QualityMeasures* pFound) {
  FingerprintStore* pStore = g_pStore.get();
  return pStore != nullptr && pStore->FindQuality(strPath, identity, kQualityRevision, pFound);
}

void StoreQualities(const std::vector<FingerprintStore::QualityEntry>& vecEntries) {
  if (g_pStore != nullptr) g_pStore->RememberQualities(vecEntries, kQualityRevision);
}

void BeginStoreRun() {
  if (g_pStore != nullptr) g_pStore->BeginRun();
}

void EndStoreRun() {
  if (g_pStore != nullptr) g_pStore->Flush();
}

int OpenEngineStore(const char* pszPath) {
  g_pStore.reset();
  g_strOpenMessage.clear();
  auto pStore = std::make_unique<FingerprintStore>(FingerprintVersionText());
  int nResult = pStore->Open(pszPath);
  if (nResult != kStoreOk) {
    g_strOpenMessage = pStore->Message();
    return nResult;
  }
  g_pStore = std::move(pStore);
  return 0;
}

void CloseEngineStore() {
  g_pStore.reset();
  g_strOpenMessage.clear();
}

FingerprintStore* EngineStore() { return g_pStore.get(); }

int PruneEngineStore() {
  if (g_pStore == nullptr) {
    if (g_strOpenMessage.empty()) g_strOpenMessage = "no fingerprint store is open";
    return -2;
  }
  int nDropped = g_pStore->Prune();
  return nDropped < 0 ? -2 : nDropped;
}

void EngineStoreCounts(int* pnReused, int* pnWritten) {
  *pnReused = 0;
  *pnWritten = 0;
  if (g_pStore != nullptr) g_pStore->Counts(pnReused, pnWritten);
}

std::string EngineStoreMessage() {
  return g_pStore != nullptr ? g_pStore->Message() : g_strOpenMessage;
}

}  // namespace twintone
