// Fast filing's candidate index: an inverted index over sampled words of the
// group keys. For a newcomer it names the groups that share exact words with it
// on (nearly) one diagonal inside the window match_fingerprints3 searches; only
// those groups are scored. A duplicate whose words all differ from the key's
// sampled words in some bit is not named (docs/filing.md lists the cases).
//
// Plain data: a group is known by the id Add returned. Not thread-safe; the
// engine uses it on the worker thread under hDataLock.
#ifndef TWINTONE_GROUPING_FILING_INDEX_H
#define TWINTONE_GROUPING_FILING_INDEX_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace twintone {

class FilingIndex {
 public:
  // Every kStride-th word of a key is indexed (positions 0, kStride, ...).
  static constexpr int kStride = 8;
  // A group is a candidate with this many matching words whose diagonals lie
  // within kDiagonalSlack of each other.
  static constexpr int kMinHits = 2;
  static constexpr int kDiagonalSlack = 1;
  // A newcomer word that matches more sampled key words than this is ignored:
  // such words (silence, a held tone) say nothing about which group is meant.
  static constexpr size_t kMaxHitsPerWord = 1024;
  // Most groups and key positions the postings can name.
  static constexpr uint32_t kMaxGroups = 1u << 26;
  static constexpr int kMaxPosition = (1 << 24) - 1;

  FilingIndex();

  // Indexes a group key of nWords words (pWords may be null when nWords is 0);
  // returns the group's id, 0, 1, ... in order of Add. Throws std::bad_alloc, and
  // std::length_error past kMaxGroups groups.
  uint32_t Add(const uint32_t* pWords, int nWords);

  // The ids, ascending, of the groups that share at least kMinHits exact words
  // with pWords (nWords words) on diagonals within kDiagonalSlack of each other,
  // each diagonal inside the window of match_fingerprints3(key, newcomer,
  // min(len) / 3). Replaces *pvecIds. Throws std::bad_alloc.
  void FindCandidates(const uint32_t* pWords, int nWords, std::vector<uint32_t>* pvecIds) const;

  // Groups indexed so far.
  size_t Size() const { return vecLengths_.size(); }
  // Forgets every group; ids start at 0 again.
  void Clear();
  // Bytes the postings and tables hold (capacity, not size).
  size_t MemoryBytes() const;

 private:
  // The list table starts with 2^kFirstBucketBits lists and doubles whenever the
  // lists hold kMaxMeanList postings on average, up to 2^kLastBucketBits lists, so
  // a look-up scans a bounded number of postings however many groups there are.
  static constexpr int kFirstBucketBits = 18;
  static constexpr int kLastBucketBits = 22;
  static constexpr size_t kMaxMeanList = 32;
  // Low hash bits kept in each posting; with at least kFirstBucketBits list bits
  // they and the list's number hold the whole hash.
  static constexpr int kCheckBits = 32 - kFirstBucketBits;

  // Moves every posting to a table of twice as many lists.
  void Grow();
  size_t ListOf(uint32_t nHash) const { return nHash >> (32 - nBucketBits_); }

  // A posting list, with a filter of the words it holds: bit (hash & 127) is set
  // for each. A look-up reads the postings only when its word's bit is set, which
  // for a list of 30 postings spares about four in five of them.
  struct Bucket {
    std::vector<uint64_t> vecPostings;
    uint64_t anFilter[2] = {0, 0};
    void Note(uint32_t nHash) { anFilter[(nHash >> 6) & 1] |= uint64_t{1} << (nHash & 63); }
    bool MayHold(uint32_t nHash) const {
      return (anFilter[(nHash >> 6) & 1] >> (nHash & 63)) & 1;
    }
  };

  int nBucketBits_ = kFirstBucketBits;
  size_t nPostings_ = 0;
  std::vector<Bucket> vecBuckets_;  // 2^nBucketBits_ posting lists
  std::vector<int32_t> vecLengths_;                // key length of each group id
  mutable std::vector<uint64_t> vecHits_;          // scratch of FindCandidates
  mutable std::vector<uint64_t> vecWordHits_;      // scratch of FindCandidates
};

}  // namespace twintone

#endif  // TWINTONE_GROUPING_FILING_INDEX_H
