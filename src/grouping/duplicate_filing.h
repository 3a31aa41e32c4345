// Filing keyed records into duplicate groups: the group map and the functions that
// add one record to it. Plain data and functions; the engine calls them on the
// worker thread under hDataLock, tests and benchmarks on their own maps.
#ifndef TWINTONE_GROUPING_DUPLICATE_FILING_H
#define TWINTONE_GROUPING_DUPLICATE_FILING_H

#include <list>
#include <map>
#include <memory>
#include <vector>

#include "analysis/records.h"
#include "grouping/filing_index.h"
#include "grouping/group_scan.h"
#include "grouping/match_kernels.h"
#include "grouping/acoustid_compare.h"

namespace twintone {

// The group map: a key and its members, the top-ranked first. The map owns the
// lists, not the records (ReleaseGroups frees the lists).
using RecordList = std::list<InerMusicDedupInfo*>;
using GroupMap = std::map<GroupKey, RecordList*>;

// What filing one record came to.
enum class FilingOutcome {
  kFiled,         // joined a group or started one
  kTooShort,      // fingerprint mode: too few words to compare
  kKeyCollision,  // fingerprint mode: an equal map key holds another group
};

// How one run files.
struct FilingRules {
  bool bFingerprint = false;  // else key texts are compared for equality
  bool bFast = false;         // fingerprint mode: candidates from a FilingIndex
  float fThreshold = 0.8f;
  ThresholdScorer pfnScorer = MatchAboveThreshold;  // benchmarks swap in a baseline
  ParallelGroupScan* pScan = nullptr;  // spreads the search when set
  // Fingerprint mode: above 0, each record remembers the founder of the group it
  // scored best against above this floor but not above fThreshold, among the groups
  // its search scored (those before the one it joins, or all it was compared with);
  // the scorer then prunes at the floor instead of the threshold. 0: off, and the
  // search costs what it always did.
  float fNearFloor = 0.0f;
};

// Fast filing's index over a map's group keys, with the group of each index id.
// Built on first use and kept in step with the map while fast filing adds groups;
// a map that changed behind its back (a count that differs) is indexed afresh.
class FilingIndexCache {
 public:
  FilingIndex& Current(const GroupMap& groups);
  // A group just added to the map that Current last saw; the index takes the next id.
  void Added(GroupMap::const_iterator group);
  std::vector<GroupMap::const_iterator> CandidatesFor(const GroupKey& key);
  void Drop();
  // Bytes the index and its table of groups hold; 0 when there is none.
  size_t MemoryBytes() const;

 private:
  std::unique_ptr<FilingIndex> pIndex_;
  std::vector<GroupMap::const_iterator> vecGroups_;
};

// Files a keyed record: into the first group (in map order) it matches, ranked in
// by IsMaxFinger, else into a group of its own. pIndex is used with rules.bFast.
// Throws std::bad_alloc; the map stays consistent.
FilingOutcome FileRecord(GroupMap* pGroups, InerMusicDedupInfo* pRecord, const FilingRules& rules,
                         FilingIndexCache* pIndex);

// Frees the map's lists and empties it; the records stay.
void ReleaseGroups(GroupMap* pGroups);

// The most distinct files exact filing (its group search on nCores threads, 0 for
// unknown) files in about a minute when matching on kernel. At least 1000.
int ExactFilingLimit(const MatchKernel& kernel, unsigned nCores);

}  // namespace twintone

#endif  // TWINTONE_GROUPING_DUPLICATE_FILING_H
