// The engine's internal record of one loaded file and its grouping key.
#ifndef TWINTONE_ANALYSIS_RECORDS_H
#define TWINTONE_ANALYSIS_RECORDS_H

#include <cstdint>
#include <memory>
#include <string>

#include "support/quality_measures.h"
#include "twintone.h"
#include "twintone_ext.h"

// A record's grouping key: a key text (text mode) or a raw fingerprint
// (fingerprint mode). Owns its fingerprint buffer, which is malloc'ed.
// Copied only by construction (into the group map); never assigned.
//
// A group map key shares its founder's buffer rather than copying it (a million
// 120-second fingerprints would otherwise be held twice). Sharing is by reference
// count: either key may go first, and a record given a new fingerprint through
// ReplaceFinger leaves the group's words as they were. Code that changes pFinger
// must therefore never free it itself.
class GroupKey {
 public:
  int32_t* pFinger = nullptr;  // raw fingerprint words, or null; owned (free)
  int32_t nFingerLen = 0;      // words in pFinger; >= 1 means fingerprinted
  std::string strKey;          // key text; always empty in fingerprint mode

  GroupKey() = default;
  // Deep copy; throws std::bad_alloc when the buffer cannot be allocated.
  GroupKey(const GroupKey& other);
  // A key for the group map, equal to other: the text is copied, the fingerprint
  // buffer shared (other becomes one of its owners), and the ordering's sum taken
  // once, as neither the words nor the text of a map key change afterwards.
  // Throws std::bad_alloc.
  struct ForMap {};
  GroupKey(GroupKey& other, ForMap);
  GroupKey& operator=(const GroupKey&) = delete;
  ~GroupKey();

  // Takes pWords (malloc'ed, nWords words, or null and 0) as the fingerprint and
  // lets go of the old one, which a group map key may still be using.
  void ReplaceFinger(int32_t* pWords, int32_t nWords);

  // Ordering of the group map. The right-hand key's text chooses the rule: a
  // non-empty text compares texts bytewise; an empty one compares fingerprint
  // lengths, then sums of absolute word values (so distinct fingerprints of equal
  // length and sum are one map key).
  bool operator<(const GroupKey& other) const;

  // Sum of |word| over the fingerprint, the absolute value taken in 32 bits.
  int64_t AbsSum() const;

 private:
  // Releases the fingerprint buffer or this key's share of it.
  void ReleaseFinger();

  // Co-owns pFinger once a map key shares it; pFinger stays the one to read.
  std::shared_ptr<int32_t> spShared_;
  // AbsSum of a map key, taken when it was made (bKeptSum_).
  int64_t nKeptSum_ = 0;
  bool bKeptSum_ = false;
};

// One loaded file. Owned by the load table; heap-allocated, never copied.
class InerMusicDedupInfo {
 public:
  std::string strTitle;
  std::string strArtist;
  std::string strAlbum;
  std::string strGenre;
  int32_t nFileSize = 0;  // bytes (low 32 bits)
  int32_t nDuration = 0;  // milliseconds
  std::string strPath;    // stored path; also its key in the load table
  GroupKey* pGroupKey;    // owned
  int32_t nUserTag = 0;
  int32_t nBitrate = 0;   // kbit/s
  float fSimilarity = 0.0f;
  int32_t nUserData = 0;

  // Beyond the shared fields: what a run learnt about the file, for the extension
  // header. Written on the worker thread under hDataLock.
  int32_t nDecodedMs = -1;  // fingerprint mode: audio decoded, -1 unknown
  bool bFromStore = false;  // fingerprint mode: the fingerprint came from the store

  // What the last run made of the file: reset at each run start (but for the flag
  // of tags that could not be read, which stays until a read succeeds), set as the
  // worker keys and files it and when the result groups are built.
  struct Outcome {
    int32_t nOutcome = TWINTONE_OUTCOME_PENDING;
    int32_t nReason = TWINTONE_SKIP_NONE;
    int32_t nGroup = -1;   // result group index when grouped
    int32_t nMember = -1;  // index within that group
    uint32_t nFlags = 0;   // TWINTONE_FILE_* bits
  };
  Outcome outcome;
  int64_t nFileSize64 = 0;  // the file size as the tags' reader gave it; 0 unknown
  // What the file sounds like, when the last run measured it (twintone_set_quality);
  // reset with the outcome at each run start.
  twintone::QualityMeasures quality;
  bool bQualityFromStore = false;  // quality was read from the store
  // Fingerprint mode with a near-miss floor: the group founder this file scored best
  // against above the floor but not above the threshold, and that score; null and 0
  // when none. Reset with the outcome at each run start. Non-owning: the load table
  // owns the founder.
  const InerMusicDedupInfo* pNearFounder = nullptr;
  float fNearScore = 0.0f;

  InerMusicDedupInfo();
  InerMusicDedupInfo(const InerMusicDedupInfo&) = delete;
  InerMusicDedupInfo& operator=(const InerMusicDedupInfo&) = delete;
  ~InerMusicDedupInfo();
};

namespace twintone {

// Public to internal: a new record holding copies of every field of pInfo. A null
// text pointer is taken as "". Throws std::bad_alloc.
std::unique_ptr<InerMusicDedupInfo> NewRecordFromInfo(const tagInMusicDedupInfo& info);

// Internal to public: a new public record whose texts point into pRecord's strings
// (valid while pRecord lives). Throws std::bad_alloc.
std::unique_ptr<tagInMusicDedupInfo> NewInfoFromRecord(const InerMusicDedupInfo& record);

}  // namespace twintone

#endif  // TWINTONE_ANALYSIS_RECORDS_H
