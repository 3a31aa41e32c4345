// A record's grouping key: the key text of text mode, the fingerprint of
// fingerprint mode. Functions over one record and the rules of the run; they touch
// no engine state, so the engine, the prefetch pool and tests call them alike.
#ifndef TWINTONE_GROUPING_RECORD_KEY_H
#define TWINTONE_GROUPING_RECORD_KEY_H

#include <atomic>
#include <cstdint>
#include <string>

#include "analysis/records.h"
#include "analysis/tag_reader.h"
#include "support/file_identity.h"

namespace twintone {

// What keying a record came to. The exported GetGroupKey and GetDeepKey report it
// as the numbers KeyResultCode gives.
enum class KeyOutcome {
  kKeyed,          // 0
  kMissing,        // -2: nothing at the path
  kNoTitle,        // -4
  kNoArtist,       // -5
  kNoAlbum,        // -6
  kNoSize,         // -7
  kNoDuration,     // -8
  kEmptyKey,       // -9: no field of the match flags gave any text
  kNoFingerprint,  // -23: no fingerprint could be computed
};
int KeyResultCode(KeyOutcome outcome);

// How one run keys its records.
struct KeyRules {
  int32_t nMatchFlags = 0;    // TWINTONE_MATCH_* bits
  int nFingerSeconds = 0;     // seconds to fingerprint, as the host asked
  bool bLooseText = false;    // fold title and artist with FoldedKeyText
  TagTextOptions tagText;     // how tags are read
};

// Reads the record's tags into it when it lacks them: the seven fields on success.
// A failed read sets TWINTONE_FILE_TAGS_UNREAD and keeps what the record had, but an
// empty title still becomes the file's bare name (FallBackToFileName); a title the
// host gave is kept as given.
void ReadTagsInto(InerMusicDedupInfo* pRecord, const TagTextOptions& tagText);
// The same, for tags read elsewhere (nTagResult: ReadDupMusicInfo's result).
void ApplyReadTags(int nTagResult, const DupMusicInfo& tags, InerMusicDedupInfo* pRecord);

// Text mode: builds pRecord's key text from the fields the match flags select.
// Reads the tags first when the record has no title. The file must exist.
KeyOutcome TextKey(InerMusicDedupInfo* pRecord, const KeyRules& rules);

// What a fingerprint cache said about one file, asked before the file is decoded.
struct StoreLookup {
  bool bHit = false;       // the fingerprint came from the cache
  bool bIdentity = false;  // identity was taken, so a fresh fingerprint may be filed
  FileIdentity identity;
  int nSeconds = 0;  // the seconds the run fingerprints this file for
  int32_t nDecodedMs = -1;
};

// Fingerprints kept between runs (the engine's store). Any thread.
class FingerprintCache {
 public:
  // Looks up the file; on a hit frees *ppFinger and stores there a malloc'ed copy
  // of the words and their number in *pnLen.
  virtual StoreLookup LookUp(const std::string& strPath, int nRequestedSeconds, int nDurationMs,
                             int32_t** ppFinger, int32_t* pnLen) = 0;
  // Once the record's key is settled (bKeyed: it holds a fingerprint): after a hit
  // gives the record what the entry carries; after a miss files the fresh one.
  virtual void Settle(const StoreLookup& lookup, InerMusicDedupInfo* pRecord, bool bKeyed) = 0;

 protected:
  ~FingerprintCache() = default;
};

// Fingerprint mode in two halves, so that a pool computes the slow half away from
// the record and the worker applies it. The worker keying a record itself runs the
// same two halves one after the other (DeepKey).
struct DeepKeyJob {  // what the slow half needs of the record, copied
  std::string strPath;
  int32_t nDuration = 0;
  bool bReadTags = false;   // the record lacks a title or a duration
  bool bHasFinger = false;  // the record's key already holds a fingerprint
};
DeepKeyJob DeepKeyJobFor(const InerMusicDedupInfo& record);

struct DeepKeyParts {  // what the slow half found
  int nTagResult = -1;  // ReadDupMusicInfo's, when the job read tags
  DupMusicInfo tags;
  int nFingerResult = 0;       // ExtractFingerprint's
  int32_t* pFinger = nullptr;  // malloc'ed; the record's key takes it, else freed
  int32_t nFingerLen = 0;
  int32_t nDecodedMs = -1;  // audio fed to Chromaprint when a decode ran
  StoreLookup stored;       // on a hit pFinger holds the cache's words

  DeepKeyParts() = default;
  DeepKeyParts(const DeepKeyParts&) = delete;
  DeepKeyParts& operator=(const DeepKeyParts&) = delete;
  ~DeepKeyParts();
};

// The slow half: tags when the job needs them, then the cache, then the decode. Any
// thread. pCache and pbCancel may be null; a set *pbCancel stops the decode.
void ComputeDeepKeyParts(const DeepKeyJob& job, int nSeconds, const TagTextOptions& tagText,
                         FingerprintCache* pCache, const std::atomic<bool>* pbCancel,
                         DeepKeyParts* pParts);
// The record's half: tags, fingerprint, decoded length, then the cache's settling.
KeyOutcome ApplyDeepKeyParts(const DeepKeyJob& job, DeepKeyParts* pParts,
                             InerMusicDedupInfo* pRecord, FingerprintCache* pCache);
// Both halves on the calling thread.
KeyOutcome DeepKey(InerMusicDedupInfo* pRecord, int nSeconds, const TagTextOptions& tagText,
                   FingerprintCache* pCache);

}  // namespace twintone

#endif  // TWINTONE_GROUPING_RECORD_KEY_H
