// Postings are 64-bit: the word's check bits (the hash's low 14), the group id (26)
// and the key position (24). A word is hashed by an odd multiplier, a bijection of
// 32-bit values: its top bits choose the list and the low bits are kept as the
// check; together they are the whole hash, so a posting matches a word exactly when
// list and check agree.
#include "grouping/filing_index.h"

#include <algorithm>
#include <stdexcept>

namespace twintone {

namespace {

constexpr uint32_t kMultiplier = 0x9e3779b1u;
constexpr int kIdShift = 24;
constexpr int kCheckShift = 50;
constexpr uint64_t kPositionMask = (uint64_t{1} << kIdShift) - 1;
constexpr uint64_t kIdMask = (uint64_t{1} << (kCheckShift - kIdShift)) - 1;

// A hit as it is sorted: group id above, diagonal (biased to unsigned) below.
constexpr uint64_t kDiagonalBias = uint64_t{1} << 31;

inline uint32_t Hash(uint32_t nWord) { return nWord * kMultiplier; }

}  // namespace

FilingIndex::FilingIndex() : vecBuckets_(size_t{1} << kFirstBucketBits) {}

void FilingIndex::Grow() {
  std::vector<Bucket> vecGrown(vecBuckets_.size() * 2);
  // The hash bit below the current list bits decides between the two new lists; it
  // lies within the check bits, as do the filter's bits.
  const int nSplitBit = 31 - nBucketBits_;
  auto child = [&](uint64_t nPosting) { return (nPosting >> (kCheckShift + nSplitBit)) & 1; };
  for (size_t nList = 0; nList < vecBuckets_.size(); ++nList) {
    std::vector<uint64_t>& vecOld = vecBuckets_[nList].vecPostings;
    const size_t nHigh = static_cast<size_t>(std::count_if(
        vecOld.begin(), vecOld.end(), [&](uint64_t nPosting) { return child(nPosting) != 0; }));
    vecGrown[nList * 2].vecPostings.reserve(vecOld.size() - nHigh);
    vecGrown[nList * 2 + 1].vecPostings.reserve(nHigh);
    for (uint64_t nPosting : vecOld) {
      Bucket& grown = vecGrown[nList * 2 + child(nPosting)];
      grown.vecPostings.push_back(nPosting);
      grown.Note(static_cast<uint32_t>(nPosting >> kCheckShift));
    }
    std::vector<uint64_t>().swap(vecOld);  // freed as it goes: no second copy of the index
  }
  vecBuckets_.swap(vecGrown);
  ++nBucketBits_;
}

uint32_t FilingIndex::Add(const uint32_t* pWords, int nWords) {
  if (vecLengths_.size() >= kMaxGroups) throw std::length_error("filing index is full");
  const uint64_t nId = vecLengths_.size();
  vecLengths_.push_back(nWords);
  const uint32_t nCheckMask = (1u << kCheckBits) - 1;
  const int nEnd = std::min(nWords, kMaxPosition + 1);
  for (int i = 0; i < nEnd; i += kStride) {
    const uint32_t h = Hash(pWords[i]);
    Bucket& bucket = vecBuckets_[ListOf(h)];
    std::vector<uint64_t>& vecBucket = bucket.vecPostings;
    // Lists grow by a quarter, not double: their spare room is most of the index's
    // size beyond the postings themselves.
    if (vecBucket.size() == vecBucket.capacity()) {
      vecBucket.reserve(vecBucket.size() + vecBucket.size() / 4 + 4);
    }
    vecBucket.push_back((uint64_t{h & nCheckMask} << kCheckShift) | (nId << kIdShift) |
                        static_cast<uint64_t>(i));
    bucket.Note(h);
    ++nPostings_;
  }
  if (nPostings_ > vecBuckets_.size() * kMaxMeanList && nBucketBits_ < kLastBucketBits) Grow();
  return static_cast<uint32_t>(nId);
}

void FilingIndex::FindCandidates(const uint32_t* pWords, int nWords,
                                 std::vector<uint32_t>* pvecIds) const {
  pvecIds->clear();
  vecHits_.clear();
  const uint32_t nCheckMask = (1u << kCheckBits) - 1;
  // The look-ups land on lists scattered over the whole index, so each is waited
  // for in memory: list headers are fetched kAhead words early, and half as early
  // the postings of those whose filter holds the word.
  constexpr int kAhead = 16;
  for (int j = 0; j < nWords; ++j) {
    if (j + kAhead < nWords) __builtin_prefetch(&vecBuckets_[ListOf(Hash(pWords[j + kAhead]))]);
    if (j + kAhead / 2 < nWords) {
      const uint32_t hAhead = Hash(pWords[j + kAhead / 2]);
      const Bucket& ahead = vecBuckets_[ListOf(hAhead)];
      if (ahead.MayHold(hAhead) && !ahead.vecPostings.empty()) {
        // Every cache line the postings touch.
        const uintptr_t nFirst = reinterpret_cast<uintptr_t>(ahead.vecPostings.data()) & ~uintptr_t{63};
        const uintptr_t nLast =
            reinterpret_cast<uintptr_t>(ahead.vecPostings.data() + ahead.vecPostings.size()) - 1;
        for (uintptr_t nLine = nFirst; nLine <= nLast; nLine += 64) {
          __builtin_prefetch(reinterpret_cast<const void*>(nLine));
        }
      }
    }
    const uint32_t h = Hash(pWords[j]);
    const Bucket& bucket = vecBuckets_[ListOf(h)];
    if (!bucket.MayHold(h)) continue;
    const uint64_t nCheck = h & nCheckMask;
    vecWordHits_.clear();
    bool bCommon = false;
    for (uint64_t nPosting : bucket.vecPostings) {
      if ((nPosting >> kCheckShift) != nCheck) continue;
      const uint64_t nId = (nPosting >> kIdShift) & kIdMask;
      const int64_t nWindow = std::min(vecLengths_[nId], nWords) / 3;
      const int64_t d = static_cast<int64_t>(nPosting & kPositionMask) - j;
      if (d <= -nWindow || d > nWindow) continue;
      if (vecWordHits_.size() == kMaxHitsPerWord) {
        bCommon = true;
        break;
      }
      vecWordHits_.push_back((nId << 32) | static_cast<uint64_t>(d + kDiagonalBias));
    }
    if (!bCommon) vecHits_.insert(vecHits_.end(), vecWordHits_.begin(), vecWordHits_.end());
  }
  std::sort(vecHits_.begin(), vecHits_.end());

  // Within one id's run the diagonals ascend: a span of kDiagonalSlack holding
  // kMinHits hits is found with a trailing index.
  size_t nLow = 0;
  for (size_t k = 0; k < vecHits_.size(); ++k) {
    const uint64_t nId = vecHits_[k] >> 32;
    if (k > 0 && (vecHits_[k - 1] >> 32) != nId) nLow = k;
    if (!pvecIds->empty() && pvecIds->back() == nId) continue;
    while ((vecHits_[k] & 0xffffffffu) - (vecHits_[nLow] & 0xffffffffu) > kDiagonalSlack) ++nLow;
    if (k - nLow + 1 >= static_cast<size_t>(kMinHits))
      pvecIds->push_back(static_cast<uint32_t>(nId));
  }
}

void FilingIndex::Clear() {
  std::vector<Bucket>(size_t{1} << kFirstBucketBits).swap(vecBuckets_);
  nBucketBits_ = kFirstBucketBits;
  nPostings_ = 0;
  std::vector<int32_t>().swap(vecLengths_);
  std::vector<uint64_t>().swap(vecHits_);
  std::vector<uint64_t>().swap(vecWordHits_);
}

size_t FilingIndex::MemoryBytes() const {
  size_t nBytes =
      vecBuckets_.capacity() * sizeof(vecBuckets_[0]) + vecLengths_.capacity() * sizeof(int32_t);
  for (const Bucket& bucket : vecBuckets_) nBytes += bucket.vecPostings.capacity() * sizeof(uint64_t);
  return nBytes;
}

}  // namespace twintone
