// The engine's fingerprint store: at most one open store, which fingerprint runs
// consult before decoding a file and to which they write fresh fingerprints.
//
// The store is opened and closed only by the extension entry points while they hold
// hDataLock, so during a run it neither appears nor goes; the worker and the prefetch
// pool use it concurrently (FingerprintStore locks itself).
#ifndef TWINTONE_ENGINE_STORE_USE_H
#define TWINTONE_ENGINE_STORE_USE_H

#include <cstdint>
#include <string>
#include <vector>

#include "grouping/record_key.h"
#include "support/fingerprint_store.h"

namespace twintone {

// The open store as the keys see it. Without an open store every lookup misses and
// nothing is read or filed.
class EngineStoreCache final : public FingerprintCache {
 public:
  StoreLookup LookUp(const std::string& strPath, int nRequestedSeconds, int nDurationMs,
                     int32_t** ppFinger, int32_t* pnLen) override;
  // Worker thread, under hDataLock. Call it after anything else that sets the
  // record's nDecodedMs.
  void Settle(const StoreLookup& lookup, InerMusicDedupInfo* pRecord, bool bKeyed) override;
};
// The one EngineStoreCache; static, never null.
EngineStoreCache* EngineCache();

// Worker thread, around the records of a fingerprint run: the counts start at zero and
// no stored entry has been lent to a moved file yet; at the end what is pending is
// written.
void BeginStoreRun();
void EndStoreRun();

// The entry points' side; the host's thread, with hDataLock held.
int OpenEngineStore(const char* pszPath);
void CloseEngineStore();
int PruneEngineStore();
void EngineStoreCounts(int* pnReused, int* pnWritten);
// The open store, or null; for the entry points that use it directly.
FingerprintStore* EngineStore();
// The open store's failure message, else the last one of opening; "" when none.
std::string EngineStoreMessage();

// Quality measures in the open store, keyed by the file's identity as it was before
// the measuring; any thread during a run (the store locks itself). Without an open
// store the lookup misses and nothing is written.
bool LookUpStoredQuality(const std::string& strPath, const FileIdentity& identity,
                         QualityMeasures* pFound);
void StoreQualities(const std::vector<FingerprintStore::QualityEntry>& vecEntries);

// The version text entries carry: the decoder's output format and Chromaprint's
// version and algorithm. A change of either makes every stored entry miss.
std::string FingerprintVersionText();

}  // namespace twintone

#endif  // TWINTONE_ENGINE_STORE_USE_H
