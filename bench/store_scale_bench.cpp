// The fingerprint store at the size of a very large library: N entries (by default
// 1,000,000) of 120-second fingerprints, written through FingerprintStore as runs
// write them; then the database's bytes per entry, the time to look one file up (as a
// second run does for every file) and the time to prune once a tenth of the files are
// gone (the command's --prune-cache). The same is measured first at N / 100 entries
// in the same run, the baseline the ratios are taken against.
//
// The files are hard links to a few small files, so a million of them take no room
// beyond their directory entries; each has a path of its own, the store's key.
//
// Usage: twintone_bench_store_scale [--entries=N] [--lookups=N] [folder]
// (default folder /tmp/twintone-store-scale; it and its stores are made afresh)
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_audio.h"
#include "support/file_identity.h"
#include "support/fingerprint_store.h"

using namespace twintone;

namespace {

constexpr int kSeconds = 120;
constexpr int kRate = 11025;
constexpr int kBases = 16;
constexpr size_t kPerFolder = 1000;
// Hard links to one file; ext4 allows 65,000 links to a file.
constexpr size_t kPerSource = 50000;

[[noreturn]] void Fail(const std::string& strWhat) {
  fprintf(stderr, "store_scale_bench: %s\n", strWhat.c_str());
  exit(1);
}

void Run(const std::string& strCommand) {
  if (system(strCommand.c_str()) != 0) Fail("failed: " + strCommand);
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Real fingerprints of 120-second melodies, rotated and masked per entry: the
// neighbouring words keep the likeness the stored form relies on.
class EntryWords {
 public:
  EntryWords() {
    for (int i = 0; i < kBases; ++i) {
      vecBases_.push_back(
          bench_audio::RawFingerprint(bench_audio::Melody(700 + i, kSeconds, kRate), kRate));
    }
  }
  size_t Size(size_t nEntry) const { return vecBases_[nEntry % kBases].size(); }
  // Word k of entry nEntry.
  uint32_t Word(size_t nEntry, size_t k) const {
    size_t nRotate;
    uint32_t nMask;
    Variation(nEntry, &nRotate, &nMask);
    const std::vector<uint32_t>& base = vecBases_[nEntry % kBases];
    return base[(k + nRotate) % base.size()] ^ nMask;
  }
  std::vector<uint32_t> All(size_t nEntry) const {
    size_t nRotate;
    uint32_t nMask;
    Variation(nEntry, &nRotate, &nMask);
    const std::vector<uint32_t>& base = vecBases_[nEntry % kBases];
    std::vector<uint32_t> words(base.size());
    for (size_t k = 0; k < words.size(); ++k) words[k] = base[(k + nRotate) % base.size()] ^ nMask;
    return words;
  }

 private:
  void Variation(size_t nEntry, size_t* pnRotate, uint32_t* pnMask) const {
    std::mt19937 rng(static_cast<uint32_t>(nEntry));
    *pnRotate = rng() % vecBases_[nEntry % kBases].size();
    *pnMask = static_cast<uint32_t>(rng());
  }
  std::vector<std::vector<uint32_t>> vecBases_;
};

struct Figures {
  size_t nEntries = 0;
  double fWriteSeconds = 0;  // Remember and Flush of every entry
  double fBytesPerEntry = 0;
  double fLookupSeconds = 0;  // per looked-up file
  double fPruneSeconds = 0;
  int nPruned = 0;
};

// A store of nEntries entries in strDir (made afresh): written, measured, pruned.
Figures Measure(const std::string& strDir, size_t nEntries, size_t nLookups) {
  Run("rm -rf '" + strDir + "' && mkdir -p '" + strDir + "/files'");
  std::vector<std::string> vecPaths(nEntries);
  std::vector<FileIdentity> vecSources;  // the identity of every kPerSource entries
  std::string strSource;
  for (size_t i = 0; i < nEntries; ++i) {
    if (i % kPerSource == 0) {
      strSource = strDir + "/source-" + std::to_string(vecSources.size()) + ".mp3";
      Run("head -c 4096 /dev/urandom > '" + strSource + "'");
      vecSources.emplace_back();
      if (!ReadFileIdentity(strSource.c_str(), &vecSources.back())) Fail("cannot stat " + strSource);
    }
    const std::string strFolder = strDir + "/files/" + std::to_string(i / kPerFolder);
    if (i % kPerFolder == 0) mkdir(strFolder.c_str(), 0755);
    vecPaths[i] = strFolder + "/track-" + std::to_string(i) + ".mp3";
    if (link(strSource.c_str(), vecPaths[i].c_str()) != 0) Fail("cannot link " + vecPaths[i]);
  }
  auto identity = [&](size_t i) -> const FileIdentity& { return vecSources[i / kPerSource]; };

  Figures figures;
  figures.nEntries = nEntries;
  const std::string strStore = strDir + "/store.sqlite";
  static const EntryWords entries;
  FingerprintStore store("bench");
  if (store.Open(strStore) != kStoreOk) Fail(store.Message());
  auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < nEntries; ++i) {
    const std::vector<uint32_t> words = entries.All(i);
    store.Remember(vecPaths[i], identity(i), kSeconds, words.data(), words.size(), kSeconds * 1000);
  }
  if (!store.Flush()) Fail(store.Message());
  figures.fWriteSeconds = Seconds(start);
  // The database and its write-ahead log together.
  for (const char* pszSuffix : {"", "-wal"}) {
    struct stat st {};
    if (stat((strStore + pszSuffix).c_str(), &st) == 0) {
      figures.fBytesPerEntry += static_cast<double>(st.st_size) / static_cast<double>(nEntries);
    }
  }

  std::mt19937 rng(77);
  std::vector<size_t> vecLookups(nLookups);
  for (size_t& nEntry : vecLookups) nEntry = rng() % nEntries;
  StoredFingerprint found;
  size_t nWrong = 0;
  start = std::chrono::steady_clock::now();
  for (size_t i : vecLookups) {
    if (!store.Find(vecPaths[i], identity(i), kSeconds, &found)) Fail("an entry was not found");
    nWrong += found.vecWords.size() != entries.Size(i) || found.vecWords[9] != entries.Word(i, 9);
  }
  figures.fLookupSeconds = Seconds(start) / static_cast<double>(nLookups);
  if (nWrong != 0) Fail("entries were not found as written");

  for (size_t i = 0; i < nEntries; i += 10) unlink(vecPaths[i].c_str());
  start = std::chrono::steady_clock::now();
  figures.nPruned = store.Prune();
  figures.fPruneSeconds = Seconds(start);
  if (figures.nPruned != static_cast<int>((nEntries + 9) / 10)) Fail("prune dropped the wrong files");
  return figures;
}

void Print(const Figures& f) {
  printf("  %8zu entries: write %6.1f us/entry, file %6.0f bytes/entry, lookup %6.1f us/file, "
         "prune %6.2f s (%d gone, %.2f us/entry)\n",
         f.nEntries, 1e6 * f.fWriteSeconds / f.nEntries, f.fBytesPerEntry, 1e6 * f.fLookupSeconds,
         f.fPruneSeconds, f.nPruned, 1e6 * f.fPruneSeconds / f.nEntries);
}

}  // namespace

int main(int argc, char** argv) {
  size_t nEntries = 1000000, nLookups = 20000;
  std::string strDir = "/tmp/twintone-store-scale";
  for (int i = 1; i < argc; ++i) {
    const std::string strArg = argv[i];
    if (strArg.rfind("--entries=", 0) == 0) {
      nEntries = std::max<size_t>(100, strtoull(strArg.c_str() + 10, nullptr, 10));
    } else if (strArg.rfind("--lookups=", 0) == 0) {
      nLookups = std::max<size_t>(1, strtoull(strArg.c_str() + 10, nullptr, 10));
    } else if (strArg.rfind("--benchmark", 0) != 0) {
      strDir = strArg;
    }
  }
  printf("store scale: 120-s fingerprints, %zu lookups at random\n", nLookups);
  const Figures small = Measure(strDir, nEntries / 100, nLookups);
  Print(small);
  const Figures large = Measure(strDir, nEntries, nLookups);
  Print(large);
  Run("rm -rf '" + strDir + "'");
  printf("store scale: %zu entries against %zu: lookup %.2fx the time per file, prune %.2fx the "
         "time per entry, %.2fx the bytes per entry\n",
         large.nEntries, small.nEntries, large.fLookupSeconds / small.fLookupSeconds,
         (large.fPruneSeconds / large.nEntries) / (small.fPruneSeconds / small.nEntries),
         large.fBytesPerEntry / small.fBytesPerEntry);
  return 0;
}
