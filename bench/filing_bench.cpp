// Times filing N distinct fingerprints of a 120-second piece into the duplicate
// groups at the default threshold, with the engine's scorer and, as the baseline,
// with the reference scorer, and prints how the time grows with N; and the same
// with fast filing (the candidate index), up to N = 1,000,000. Each benchmark also
// reports the process's peak resident size, so run one per process to read it.
//
// Fingerprints: kBases real Chromaprint fingerprints of synthetic melodies, each
// varied per record (rotated, every word XORed with the record's own mask, a few
// bits flipped), so neighbouring words keep their real correlation while no two
// records are duplicates. Every record is therefore compared with every group.
// Fast filing also gets the recall corpus (recall_corpus.h: eight melodies, ten
// encodings each) planted at random places among them, and checks what became of
// it: each melody's ten files in one group, and no other pair grouped.
//
// Flags besides Google Benchmark's:
//   --kernel=NAME   match on that kernel (avx512, avx2, popcnt, portable) instead of
//                   the fastest, as on a processor without the faster instructions
//   --corpus=DIR    the recall corpus's folder (default /tmp/twintone-recall-corpus)
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis/fingerprint.h"
#include "bench_audio.h"
#include "engine/dedupe_music.h"
#include "grouping/acoustid_compare.h"
#include "grouping/group_scan.h"
#include "grouping/match_kernels.h"
#include "recall_corpus.h"

using namespace twintone;

namespace {

constexpr int kBases = 16;
constexpr int kSeconds = 120;
constexpr int kRate = 11025;

std::string g_strCorpus = recall_corpus::kDefaultDir;

const std::vector<std::vector<uint32_t>>& BaseFingerprints() {
  static const std::vector<std::vector<uint32_t>> vecBases = [] {
    std::vector<std::vector<uint32_t>> v;
    for (int i = 0; i < kBases; ++i) {
      v.push_back(bench_audio::RawFingerprint(bench_audio::Melody(1000 + i, kSeconds, kRate), kRate));
    }
    return v;
  }();
  return vecBases;
}

// Codeword k (0 <= k < 65536) of the second-order Reed-Muller code of length 32:
// any two differ in at least 8 bits. Bit p of a generator row is the value of a
// monomial of degree 2 or less in the five bits of p.
uint32_t MaskCodeword(uint32_t k) {
  static const std::vector<uint32_t> vecRows = [] {
    std::vector<uint32_t> vec(1, 0xffffffffu);
    auto row = [](int i, int j) {
      uint32_t nRow = 0;
      for (int p = 0; p < 32; ++p) {
        if ((p >> i & 1) && (p >> j & 1)) nRow |= 1u << p;
      }
      return nRow;
    };
    for (int i = 0; i < 5; ++i) vec.push_back(row(i, i));
    for (int i = 0; i < 5; ++i) {
      for (int j = i + 1; j < 5; ++j) vec.push_back(row(i, j));
    }
    return vec;
  }();
  uint32_t nWord = 0;
  for (size_t r = 0; r < vecRows.size(); ++r) nWord ^= (k >> r & 1) ? vecRows[r] : 0;
  return nWord;
}

// Record nRecord's fingerprint. The records of one base are masked with distinct
// codewords (moved by a constant of the base), so any two of them differ in at least
// 8 bits a word where their rotations line up, for a score of at most 0.5: random
// masks would make some pairs true duplicates once there are enough records (a few
// among a million share a mask).
std::vector<uint32_t> Varied(size_t nRecord) {
  std::mt19937 rng(static_cast<uint32_t>(nRecord) * 7919u + 17u);
  const std::vector<uint32_t>& base = BaseFingerprints()[nRecord % kBases];
  std::vector<uint32_t> words(base.size());
  size_t nRotate = rng() % base.size();
  // Up to 16 x 65536 records; past that masks repeat, with other rotations.
  const uint32_t nMask = MaskCodeword(static_cast<uint32_t>(nRecord / kBases) & 0xffffu) ^
                         (0x9e3779b9u * static_cast<uint32_t>(nRecord % kBases + 1));
  for (size_t i = 0; i < words.size(); ++i) {
    words[i] = base[(i + nRotate) % base.size()] ^ nMask;
    if (rng() % 8 == 0) words[i] ^= 1u << (rng() % 32);
  }
  return words;
}

// A file of the recall corpus, fingerprinted as a run at 120 s would.
struct Planted {
  std::string strPath;
  int nMelody;
  std::vector<uint32_t> words;
};

const std::vector<Planted>& PlantedCopies() {
  static const std::vector<Planted> vecPlanted = [] {
    recall_corpus::Make(g_strCorpus);
    std::vector<Planted> vec;
    for (int m = 0; m < recall_corpus::kMelodies; ++m) {
      for (const recall_corpus::Variant& variant : recall_corpus::Variants()) {
        const std::string strPath = g_strCorpus + "/" + recall_corpus::FileName(m, variant);
        int32_t* pWords = nullptr;
        int32_t nWords = 0;
        if (FingerprintFile(strPath.c_str(), 0, kSeconds, nullptr, &pWords, &nWords, nullptr) != 0) {
          recall_corpus::Fail("cannot fingerprint " + strPath);
        }
        const auto* p = reinterpret_cast<const uint32_t*>(pWords);
        vec.push_back({strPath, m, std::vector<uint32_t>(p, p + nWords)});
        free(pWords);
      }
    }
    return vec;
  }();
  return vecPlanted;
}

// Records owning varied fingerprints, made once per N and reused by every run; with
// bPlant, the recall corpus's files at random places among them.
class Library {
 public:
  Library(size_t n, bool bPlant) {
    const size_t nPlanted = bPlant ? PlantedCopies().size() : 0;
    std::vector<int> vecSlot(n + nPlanted, -1);  // planted copy of each place, or -1
    std::mt19937 rng(4242);
    for (size_t k = 0; k < nPlanted; ++k) {
      size_t nPlace;
      do {
        nPlace = rng() % vecSlot.size();
      } while (vecSlot[nPlace] >= 0);
      vecSlot[nPlace] = static_cast<int>(k);
    }
    size_t nDistinct = 0;
    vecRecords.reserve(vecSlot.size());
    for (int nPlanted : vecSlot) {
      if (nPlanted >= 0) {
        const Planted& planted = PlantedCopies()[static_cast<size_t>(nPlanted)];
        Add(planted.words, planted.strPath);
      } else {
        Add(Varied(nDistinct), "/music/" + std::to_string(nDistinct) + ".mp3");
        ++nDistinct;
      }
    }
  }
  std::vector<std::unique_ptr<InerMusicDedupInfo>> vecRecords;

 private:
  void Add(const std::vector<uint32_t>& words, const std::string& strPath) {
    auto pRecord = std::make_unique<InerMusicDedupInfo>();
    auto* pWords = static_cast<int32_t*>(malloc(words.size() * 4));
    memcpy(pWords, words.data(), words.size() * 4);
    pRecord->pGroupKey->ReplaceFinger(pWords, static_cast<int32_t>(words.size()));
    pRecord->strPath = strPath;
    vecRecords.push_back(std::move(pRecord));
  }
};

// What one filing made of the library.
struct Filed {
  size_t nGroups = 0;
  size_t nFiled = 0;         // records in some group (the others met an equal map key)
  size_t nPlantedPairs = 0;  // pairs of copies of one melody grouped together
  size_t nFalsePairs = 0;    // any other pair grouped together
  size_t nHeapBytes = 0;     // heap in use once every record was filed
  size_t nIndexBytes = 0;    // of which the candidate index's
};

// Heap bytes in use (malloc's own count, the records' and the engine's together).
size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

// The melody of a planted copy, or -1 for a distinct record.
int MelodyOf(const InerMusicDedupInfo& record) {
  for (const Planted& planted : PlantedCopies()) {
    if (planted.strPath == record.strPath) return planted.nMelody;
  }
  return -1;
}

Filed CountPairs(const GroupMap& groups) {
  Filed filed;
  filed.nGroups = groups.size();
  for (const auto& entry : groups) {
    filed.nFiled += entry.second->size();
    if (entry.second->size() < 2) continue;
    std::vector<int> vecMelodies;
    for (const InerMusicDedupInfo* pMember : *entry.second) vecMelodies.push_back(MelodyOf(*pMember));
    for (size_t i = 0; i < vecMelodies.size(); ++i) {
      for (size_t k = i + 1; k < vecMelodies.size(); ++k) {
        const bool bTrue = vecMelodies[i] >= 0 && vecMelodies[i] == vecMelodies[k];
        ++(bTrue ? filed.nPlantedPairs : filed.nFalsePairs);
      }
    }
  }
  return filed;
}

// Files every record into a fresh engine's groups.
Filed FileAll(Library& library, ThresholdScorer pfnScorer, ParallelGroupScan* pScan,
              int nFiling, int nNearFloor) {
  CDedupeMusic engine;
  CDedupeMusic::ExtSettings settings = engine.Settings();
  settings.nFiling = nFiling;
  settings.nNearFloor = nNearFloor;
  engine.SetSettings(settings);
  engine.UseGroupScan(pScan);
  engine.nMatchFlags = TWINTONE_MATCH_FINGERPRINT;
  engine.UseFilingScorer(pfnScorer);
  for (auto& pRecord : library.vecRecords) engine.AddToReaptList(pRecord.get());
  Filed filed = CountPairs(engine.mapGroups);
  filed.nHeapBytes = HeapInUse();
  filed.nIndexBytes = engine.FilingIndexBytes();
  ReleaseGroups(&engine.mapGroups);
  return filed;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double PeakResidentMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// bParallel: the group search on every core, as in a run; otherwise on one.
// nNearFloor: the near-miss floor in percent, 0 for none.
void BM_Filing(benchmark::State& state, ThresholdScorer pfnScorer, bool bParallel,
               int nFiling, int nNearFloor = 0) {
  const size_t n = static_cast<size_t>(state.range(0));
  const bool bPlant = nFiling == TWINTONE_FILING_FAST;
  Library library(n, bPlant);
  const size_t nLibraryBytes = HeapInUse();
  unsigned nCores = std::thread::hardware_concurrency();
  std::unique_ptr<ParallelGroupScan> pScan;
  if (bParallel && nCores > 1) pScan = std::make_unique<ParallelGroupScan>(nCores - 1);
  Filed filed;
  double fFilingCpu = 0.0;  // every thread's, where the benchmark's CPU time is one's
  for (auto _ : state) {
    const double fBefore = ProcessCpuSeconds();
    filed = FileAll(library, pfnScorer, pScan.get(), nFiling, nNearFloor);
    fFilingCpu = ProcessCpuSeconds() - fBefore;
  }
  // Distinct records of equal length and equal sum of absolute word values are one
  // map key, so the later one is filed nowhere: a few among a million. Each is
  // counted, and must not be a planted copy.
  const size_t nPerMelody = recall_corpus::Variants().size();
  const size_t nMelodies = bPlant ? recall_corpus::kMelodies : 0;
  const size_t nTruePairs = nMelodies * nPerMelody * (nPerMelody - 1) / 2;
  const size_t nCollisions = library.vecRecords.size() - filed.nFiled;
  fprintf(stderr, "filed %zu records into %zu groups: %zu planted pairs of %zu, %zu false, %zu equal keys\n",
          library.vecRecords.size(), filed.nGroups, filed.nPlantedPairs, nTruePairs,
          filed.nFalsePairs, nCollisions);
  if (filed.nFalsePairs != 0) {
    state.SkipWithError("a false pair was grouped");
  } else if (filed.nPlantedPairs != nTruePairs) {
    state.SkipWithError("a planted copy was missed");
  } else if (filed.nGroups + nCollisions != n + nMelodies) {
    state.SkipWithError("the records were not distinct");
  }
  state.counters["comparisons"] = static_cast<double>(n * (n - 1) / 2);
  state.counters["words"] = static_cast<double>(library.vecRecords[0]->pGroupKey->nFingerLen);
  state.counters["peak_rss_mib"] = PeakResidentMiB();
  state.counters["equal_keys"] = static_cast<double>(nCollisions);
  // Where the memory goes: the records (the load table, fingerprints included), then
  // what filing added (groups, their keys, and the candidate index).
  constexpr double kMiB = 1024.0 * 1024.0;
  state.counters["records_mib"] = static_cast<double>(nLibraryBytes) / kMiB;
  state.counters["groups_mib"] =
      static_cast<double>(filed.nHeapBytes - nLibraryBytes - filed.nIndexBytes) / kMiB;
  state.counters["index_mib"] = static_cast<double>(filed.nIndexBytes) / kMiB;
  state.counters["filing_cpu_s"] = fFilingCpu;
  if (bPlant) {
    state.counters["planted_pairs"] = static_cast<double>(filed.nPlantedPairs);
    state.counters["false_pairs"] = static_cast<double>(filed.nFalsePairs);
  }
}

// The "model name" line of /proc/cpuinfo, or "unknown".
std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string strLine;
  while (std::getline(cpuinfo, strLine)) {
    if (strLine.rfind("model name", 0) != 0) continue;
    const size_t nColon = strLine.find(':');
    if (nColon != std::string::npos) return strLine.substr(strLine.find_first_not_of(' ', nColon + 1));
  }
  return "unknown";
}

}  // namespace

// Plain filing: every group is scored (with the engine's fast scorer).
BENCHMARK_CAPTURE(BM_Filing, fast, &MatchAboveThreshold, true, TWINTONE_FILING_EXACT)
    ->Arg(1000)->Arg(2000)->Arg(3000)->Arg(4000)->Arg(5000)->Arg(6000)->Arg(7000)->Arg(8000)
    ->Arg(10000)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
// Plain filing noting near misses above 50 %: the scorer prunes at the floor.
BENCHMARK_CAPTURE(BM_Filing, fast_near, &MatchAboveThreshold, true, TWINTONE_FILING_EXACT, 50)
    ->Arg(1000)->Arg(2000)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_Filing, fast_one_thread, &MatchAboveThreshold, false, TWINTONE_FILING_EXACT)
    ->Arg(1000)->Unit(benchmark::kSecond)->Iterations(1);
// Fast filing: only the groups the candidate index names are scored.
BENCHMARK_CAPTURE(BM_Filing, index, &MatchAboveThreshold, true, TWINTONE_FILING_FAST)
    ->Arg(1000)->Arg(10000)->Arg(50000)->Arg(100000)->Arg(1000000)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
// The reference scorer costs the same for every comparison of two distinct
// records, so its time for N = 1000 (about 15 minutes) can be had from its time per
// comparison at N = 100 times the 499,500 comparisons; bench/run.sh does that sum
// unless it is asked to time N = 1000 itself.
BENCHMARK_CAPTURE(BM_Filing, reference, &ReferenceMatchAboveThreshold, false,
                  TWINTONE_FILING_EXACT)
    ->Arg(100)->Arg(1000)->Unit(benchmark::kSecond)->Iterations(1);

int main(int argc, char** argv) {
  // Our own flags are taken out before Google Benchmark sees the rest.
  int nKept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string strArg = argv[i];
    if (strArg.rfind("--kernel=", 0) == 0) {
      if (!UseMatchKernel(strArg.c_str() + 9)) {
        fprintf(stderr, "this processor does not run the %s kernel\n", strArg.c_str() + 9);
        return 2;
      }
    } else if (strArg.rfind("--corpus=", 0) == 0) {
      g_strCorpus = strArg.substr(9);
    } else {
      argv[nKept++] = argv[i];
    }
  }
  argc = nKept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("cpu_model", CpuModel());
  benchmark::AddCustomContext("match_kernel", ActiveMatchKernel().pszName);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
