// Times filing N distinct fingerprints of a 120-second piece into the duplicate
// groups at the default threshold, with the engine's scorer and, as the baseline,
// with the reference scorer, and prints how the time grows with N; and the same
// with fast filing (the candidate index), up to N = 100,000. Each benchmark also
// reports the process's peak resident size, so run one per process to read it.
//
// Fingerprints: kBases real Chromaprint fingerprints of synthetic melodies, each
// varied per record (rotated, every word XORed with the record's own mask, a few
// bits flipped), so neighbouring words keep their real correlation while no two
// records are duplicates. Every record is therefore compared with every group.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_audio.h"
#include "engine/dedupe_music.h"
#include "grouping/acoustid_compare.h"
#include "grouping/group_scan.h"

using namespace twintone;

namespace {

constexpr int kBases = 16;
constexpr int kSeconds = 120;
constexpr int kRate = 11025;

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

std::vector<uint32_t> Varied(size_t nRecord) {
  std::mt19937 rng(static_cast<uint32_t>(nRecord) * 7919u + 17u);
  const std::vector<uint32_t>& base = BaseFingerprints()[nRecord % kBases];
  std::vector<uint32_t> words(base.size());
  size_t nRotate = rng() % base.size();
  uint32_t nMask = rng();
  for (size_t i = 0; i < words.size(); ++i) {
    words[i] = base[(i + nRotate) % base.size()] ^ nMask;
    if (rng() % 8 == 0) words[i] ^= 1u << (rng() % 32);
  }
  return words;
}

// Records owning varied fingerprints, made once per N and reused by every run.
class Library {
 public:
  explicit Library(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      auto pRecord = std::make_unique<InerMusicDedupInfo>();
      std::vector<uint32_t> words = Varied(i);
      pRecord->pGroupKey->pFinger = static_cast<int32_t*>(malloc(words.size() * 4));
      memcpy(pRecord->pGroupKey->pFinger, words.data(), words.size() * 4);
      pRecord->pGroupKey->nFingerLen = static_cast<int32_t>(words.size());
      pRecord->strPath = "/music/" + std::to_string(i) + ".mp3";
      vecRecords.push_back(std::move(pRecord));
    }
  }
  std::vector<std::unique_ptr<InerMusicDedupInfo>> vecRecords;
};

// Files every record into a fresh engine's groups; returns the number of groups.
size_t FileAll(Library& library, ThresholdScorer pfnScorer, ParallelGroupScan* pScan,
               int nFiling) {
  CDedupeMusic engine;
  CDedupeMusic::ExtSettings settings = engine.Settings();
  settings.nFiling = nFiling;
  engine.SetSettings(settings);
  engine.UseGroupScan(pScan);
  engine.nMatchFlags = TWINTONE_MATCH_FINGERPRINT;
  engine.UseFilingScorer(pfnScorer);
  for (auto& pRecord : library.vecRecords) engine.AddToReaptList(pRecord.get());
  size_t nGroups = engine.mapGroups.size();
  for (auto& entry : engine.mapGroups) delete entry.second;
  return nGroups;
}

double PeakResidentMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// bParallel: the group search on every core, as in a run; otherwise on one.
void BM_Filing(benchmark::State& state, ThresholdScorer pfnScorer, bool bParallel,
               int nFiling) {
  size_t n = static_cast<size_t>(state.range(0));
  Library library(n);
  unsigned nCores = std::thread::hardware_concurrency();
  std::unique_ptr<ParallelGroupScan> pScan;
  if (bParallel && nCores > 1) pScan = std::make_unique<ParallelGroupScan>(nCores - 1);
  for (auto _ : state) {
    size_t nGroups = FileAll(library, pfnScorer, pScan.get(), nFiling);
    if (nGroups != n) state.SkipWithError("records were not distinct");
  }
  state.counters["comparisons"] = static_cast<double>(n * (n - 1) / 2);
  state.counters["words"] = static_cast<double>(library.vecRecords[0]->pGroupKey->nFingerLen);
  state.counters["peak_rss_mib"] = PeakResidentMiB();
}

}  // namespace

BENCHMARK_CAPTURE(BM_Filing, fast, &MatchAboveThreshold, true, TWINTONE_FILING_EXACT)
    ->Arg(1000)->Arg(2000)->Arg(5000)->Arg(10000)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_Filing, fast_one_thread, &MatchAboveThreshold, false, TWINTONE_FILING_EXACT)
    ->Arg(1000)->Unit(benchmark::kSecond)->Iterations(1);
// Fast filing: only the groups the candidate index names are scored.
BENCHMARK_CAPTURE(BM_Filing, index, &MatchAboveThreshold, true, TWINTONE_FILING_FAST)
    ->Arg(1000)->Arg(10000)->Arg(50000)->Arg(100000)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
// The reference scorer costs the same for every comparison of two distinct
// records, so its time for N = 1000 (about 15 minutes) can be had from its time per
// comparison at N = 100 times the 499,500 comparisons; bench/run.sh does that sum
// unless it is asked to time N = 1000 itself.
BENCHMARK_CAPTURE(BM_Filing, reference, &ReferenceMatchAboveThreshold, false,
                  TWINTONE_FILING_EXACT)
    ->Arg(100)->Arg(1000)->Unit(benchmark::kSecond)->Iterations(1);

BENCHMARK_MAIN();
