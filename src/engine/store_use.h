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

#include "engine/records.h"
#include "support/file_identity.h"

namespace twintone {

// What the store said about one file, taken before the file is decoded.
struct StoreLookup {
  bool bHit = false;       // the fingerprint came from the store
  bool bIdentity = false;  // identity was taken, so a fresh fingerprint may be filed
  FileIdentity identity;
  int nSeconds = 0;  // the seconds the run fingerprints this file for
  int32_t nDecodedMs = -1;
};

// Any thread during a fingerprint run. Looks up the file at strPath, fingerprinted
// for nRequestedSeconds as FingerprintSeconds resolves them with nDurationMs. On a
// hit frees *ppFinger and stores there a malloc'ed copy of the words, and their
// number in *pnLen. Without an open store: a miss, and nothing is read.
StoreLookup LookUpStore(const std::string& strPath, int nRequestedSeconds, int nDurationMs,
                        int32_t** ppFinger, int32_t* pnLen);

// Worker thread, under hDataLock, once the record's key is settled (bKeyed: it holds
// a fingerprint). After a hit, gives the record what the entry carries; after a miss,
// files the record's fresh fingerprint. Call it after anything else that sets the
// record's nDecodedMs.
void SettleStoreLookup(const StoreLookup& lookup, InerMusicDedupInfo* pRecord, bool bKeyed);

// Worker thread, around the records of a fingerprint run: the counts start at zero,
// and at the end what is pending is written.
void BeginStoreRun();
void EndStoreRun();

// The entry points' side; the host's thread, with hDataLock held.
int OpenEngineStore(const char* pszPath);
void CloseEngineStore();
int PruneEngineStore();
void EngineStoreCounts(int* pnReused, int* pnWritten);
// The open store's failure message, else the last one of opening; "" when none.
std::string EngineStoreMessage();

// The version text entries carry: the decoder's output format and Chromaprint's
// version and algorithm. A change of either makes every stored entry miss.
std::string FingerprintVersionText();

}  // namespace twintone

#endif  // TWINTONE_ENGINE_STORE_USE_H
