// Recall of fast filing against plain filing on re-encoded copies: the recall corpus
// (recall_corpus.h, eight melodies as FLAC and nine altered copies each, made with
// the ffmpeg tool) goes through two whole runs of the public API, plain filing first
// (the baseline) and fast filing second; the program prints the pairs each run
// grouped, the recall of fast filing (pairs it shares with plain filing over the
// pairs plain filing made), and, per kind of copy, the fewest words on the copy's
// best diagonal that equal sampled words of the original's key (the index needs
// FilingIndex::kMinHits of them).
//
// Usage: twintone_bench_filing_recall [folder]   (default /tmp/twintone-recall-corpus)
// (--benchmark_* flags are accepted and ignored.) Exit status 1 when recall is below
// 100 % or plain filing did not group each melody's copies together.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/dedupe_music.h"
#include "grouping/filing_index.h"
#include "recall_corpus.h"
#include "twintone.h"
#include "twintone_ext.h"

using namespace twintone;

namespace {

using recall_corpus::FileName;
using recall_corpus::kMelodies;
using recall_corpus::Variant;
using recall_corpus::Variants;

[[noreturn]] void Fail(const std::string& strWhat) {
  fprintf(stderr, "filing_recall_bench: %s\n", strWhat.c_str());
  exit(1);
}

using Pair = std::pair<std::string, std::string>;

// One whole run over the folder; the pairs of files it grouped, and every file's
// fingerprint (taken from the engine's load table before it is cleared).
std::set<Pair> GroupedPairs(const std::string& strDir, int nFiling,
                            std::map<std::string, std::vector<uint32_t>>* pmapWords) {
  if (twintone_set_filing(nFiling) != 0 || DedupeDealloc() != 0) Fail("cannot prepare a run");
  fflush(stdout);
  const int nSaved = dup(STDOUT_FILENO), nNull = open("/dev/null", O_WRONLY);
  dup2(nNull, STDOUT_FILENO);  // the directory scan prints each file
  const int nAdded = AddToDedupeLists(strDir.c_str(), 0);
  fflush(stdout);
  dup2(nSaved, STDOUT_FILENO);
  close(nNull);
  close(nSaved);
  if (nAdded != 0) Fail("AddToDedupeLists failed");
  if (StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, 120, 80) != 0) {
    Fail("StartDedupeThread failed");
  }
  std::set<Pair> setPairs;
  const int nGroups = GetGroupIdCounts();
  for (int g = 0; g < nGroups; ++g) {
    int nCount = 0;
    tagInMusicDedupInfo* pInfo = nullptr;
    GetGroupRef(g, &pInfo, &nCount, 0);
    std::vector<std::string> vecNames;
    for (int i = 0; i < nCount; ++i) {
      if (GetGroupRef(g, &pInfo, &nCount, i) != 0) Fail("cannot read a group");
      const std::string strPath = pInfo->pszPath;
      vecNames.push_back(strPath.substr(strPath.find_last_of('/') + 1));
    }
    std::sort(vecNames.begin(), vecNames.end());
    for (size_t i = 0; i < vecNames.size(); ++i) {
      for (size_t k = i + 1; k < vecNames.size(); ++k) setPairs.insert({vecNames[i], vecNames[k]});
    }
  }
  for (const auto& entry : g_pCDeDup->mapLoaded) {
    const GroupKey& key = *entry.second->pGroupKey;
    const auto* pWords = reinterpret_cast<const uint32_t*>(key.pFinger);
    (*pmapWords)[entry.first.substr(entry.first.find_last_of('/') + 1)] =
        std::vector<uint32_t>(pWords, pWords + key.nFingerLen);
  }
  return setPairs;
}

// The most sampled key words (positions 0, kStride, ...) of a that equal their
// partner in b on one diagonal of the window.
int BestSampledMatches(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  const int nA = static_cast<int>(a.size()), nB = static_cast<int>(b.size());
  const int nWindow = std::min(nA, nB) / 3;
  int nBest = 0;
  for (int d = -nWindow + 1; d <= nWindow; ++d) {
    int nSame = 0;
    for (int i = 0; i < nA; i += FilingIndex::kStride) {
      nSame += i - d >= 0 && i - d < nB && a[i] == b[i - d] ? 1 : 0;
    }
    nBest = std::max(nBest, nSame);
  }
  return nBest;
}

}  // namespace

int main(int argc, char** argv) {
  std::string strDir = recall_corpus::kDefaultDir;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind("--benchmark", 0) != 0) strDir = argv[i];
  }
  recall_corpus::Make(strDir);
  std::map<std::string, std::vector<uint32_t>> mapWords;
  const std::set<Pair> setExact = GroupedPairs(strDir, TWINTONE_FILING_EXACT, &mapWords);
  const std::set<Pair> setFast = GroupedPairs(strDir, TWINTONE_FILING_FAST, &mapWords);

  const std::vector<Variant>& vecVariants = Variants();
  const size_t nPerMelody = vecVariants.size();
  const size_t nExpected = kMelodies * nPerMelody * (nPerMelody - 1) / 2;
  size_t nShared = 0;
  for (const Pair& pair : setFast) nShared += setExact.count(pair);
  printf("files: %zu (%d melodies x %zu copies)\n", kMelodies * nPerMelody, kMelodies, nPerMelody);
  printf("plain filing: %zu pairs (%zu expected)\n", setExact.size(), nExpected);
  printf("fast filing:  %zu pairs, %zu of them also plain\n", setFast.size(), nShared);
  const double fRecall = setExact.empty() ? 1.0 : static_cast<double>(nShared) / setExact.size();
  printf("recall of fast filing: %.1f %%\n", 100.0 * fRecall);

  printf("fewest sampled words kept on the best diagonal, against the original (need %d):\n",
         FilingIndex::kMinHits);
  for (const Variant& variant : vecVariants) {
    int nFewest = 1 << 30;
    float fLowest = 1.0f;
    for (int m = 0; m < kMelodies; ++m) {
      const auto& original = mapWords.at(FileName(m, vecVariants[0]));
      const auto& copy = mapWords.at(FileName(m, variant));
      nFewest = std::min(nFewest, BestSampledMatches(original, copy));
      const int nMin = static_cast<int>(std::min(original.size(), copy.size()));
      fLowest = std::min(fLowest,
                         match_fingerprints3(original.data(), static_cast<int>(original.size()),
                                             copy.data(), static_cast<int>(copy.size()), nMin / 3));
    }
    printf("  %-10s %4d of %zu sampled, lowest score %.3f\n", variant.pszName, nFewest,
           (mapWords.at(FileName(0, vecVariants[0])).size() + FilingIndex::kStride - 1) /
               FilingIndex::kStride,
           fLowest);
  }
  return nShared == setExact.size() && setExact.size() == nExpected ? 0 : 1;
}
