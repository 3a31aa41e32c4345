// Times the fast matchers on every kernel this processor runs against the
// reference versions, on fingerprints of 1000 words with a window of 333, and
// prints the ratio of each to its reference measured in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "grouping/acoustid_compare.h"
#include "grouping/match_kernels.h"

using namespace twintone;

namespace {

constexpr int kWords = 1000;
constexpr int kMaxOffset = kWords / 3;
constexpr float kThreshold = 0.8f;

using Words = std::vector<uint32_t>;

// A fingerprint-like sequence: each word is the previous one with a few bits
// changed, as successive frames of real audio share most of their bits.
Words Drifting(std::mt19937& rng, int nWords) {
  Words words(nWords);
  uint32_t nWord = rng();
  for (uint32_t& w : words) {
    for (int k = 0; k < 6; ++k) nWord ^= 1u << (rng() % 32);
    w = nWord;
  }
  return words;
}

// The same recording read again: moved by nShift words, with a bit or two
// changed in every fourth word.
Words Reread(std::mt19937& rng, const Words& original, int nShift) {
  Words words(original.size());
  for (size_t i = 0; i < words.size(); ++i) {
    words[i] = i >= static_cast<size_t>(nShift) ? original[i - nShift] : rng();
    if (rng() % 4 == 0) words[i] ^= (1u << (rng() % 32)) | (1u << (rng() % 32));
  }
  return words;
}

struct Pair {
  const char* pszName;
  Words a, b;
};

std::vector<Pair> MakePairs() {
  std::mt19937 rng(20240611);
  Words original = Drifting(rng, kWords);
  std::vector<Pair> vecPairs;
  vecPairs.push_back({"unrelated", original, Drifting(rng, kWords)});
  vecPairs.push_back({"similar", original, Reread(rng, original, 7)});
  return vecPairs;
}

// Stops the run when a fast version disagrees with its reference: a ratio is
// only worth printing for identical results.
void RequireSame(float fFast, float fReference, const std::string& strWhat) {
  if (memcmp(&fFast, &fReference, sizeof fFast) != 0) {
    fprintf(stderr, "%s: fast %.9g differs from reference %.9g\n", strWhat.c_str(), fFast,
            fReference);
    exit(1);
  }
}

template <typename Fn>
void Register(const std::string& strName, Fn fn) {
  benchmark::RegisterBenchmark(strName.c_str(), [fn](benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(fn());
  });
}

// Names are "<function>/<implementation>/<input>"; "reference" is the baseline.
void RegisterAll(const std::vector<Pair>& vecPairs) {
  for (const Pair& pair : vecPairs) {
    const uint32_t* a = pair.a.data();
    const uint32_t* b = pair.b.data();
    const std::string strInput = pair.pszName;
    const float fRef3 = reference::match_fingerprints3(a, kWords, b, kWords, kMaxOffset);
    const float fRef1 = reference::match_fingerprints(a, kWords, b, kWords);
    float fRefAbove = 0.0f;
    const bool bRefAbove =
        ReferenceMatchAboveThreshold(a, kWords, b, kWords, kMaxOffset, kThreshold, &fRefAbove);

    Register("match_fingerprints3/reference/" + strInput,
             [=] { return reference::match_fingerprints3(a, kWords, b, kWords, kMaxOffset); });
    Register("match_fingerprints/reference/" + strInput,
             [=] { return reference::match_fingerprints(a, kWords, b, kWords); });
    Register("MatchAboveThreshold/reference/" + strInput, [=] {
      float fScore = 0.0f;
      return ReferenceMatchAboveThreshold(a, kWords, b, kWords, kMaxOffset, kThreshold, &fScore);
    });
    for (const MatchKernel& kernel : AvailableMatchKernels()) {
      const std::string strKernel = kernel.pszName;
      const MatchKernel* pKernel = &kernel;
      RequireSame(MatchFingerprints3With(kernel, a, kWords, b, kWords, kMaxOffset), fRef3,
                  "match_fingerprints3 " + strKernel + " " + strInput);
      RequireSame(MatchFingerprintsWith(kernel, a, kWords, b, kWords), fRef1,
                  "match_fingerprints " + strKernel + " " + strInput);
      float fAbove = 0.0f;
      const bool bAbove =
          MatchAboveThresholdWith(kernel, a, kWords, b, kWords, kMaxOffset, kThreshold, &fAbove);
      if (bAbove != bRefAbove) RequireSame(1.0f, 0.0f, "MatchAboveThreshold " + strKernel);
      RequireSame(fAbove, fRefAbove, "MatchAboveThreshold " + strKernel + " " + strInput);

      Register("match_fingerprints3/" + strKernel + "/" + strInput,
               [=] { return MatchFingerprints3With(*pKernel, a, kWords, b, kWords, kMaxOffset); });
      Register("match_fingerprints/" + strKernel + "/" + strInput,
               [=] { return MatchFingerprintsWith(*pKernel, a, kWords, b, kWords); });
      Register("MatchAboveThreshold/" + strKernel + "/" + strInput, [=] {
        float fScore = 0.0f;
        return MatchAboveThresholdWith(*pKernel, a, kWords, b, kWords, kMaxOffset, kThreshold,
                                       &fScore);
      });
    }
    // One implementation serves both: the ratio shows the cost of the call only.
    RequireSame(match_fingerprints2(a, kWords, b, kWords, 0),
                reference::match_fingerprints2(a, kWords, b, kWords, 0), "match_fingerprints2");
    Register("match_fingerprints2/reference/" + strInput,
             [=] { return reference::match_fingerprints2(a, kWords, b, kWords, 0); });
    Register("match_fingerprints2/exported/" + strInput,
             [=] { return match_fingerprints2(a, kWords, b, kWords, 0); });
  }
}

// Console output as usual, then one line per fast run: its speed as a multiple
// of the reference run of the same function and input.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& vecRuns) override {
    ConsoleReporter::ReportRuns(vecRuns);
    for (const Run& run : vecRuns) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      // With repetitions the fastest one counts: on a shared machine the others
      // mostly measure the neighbours.
      const double fSeconds = run.cpu_accumulated_time / run.iterations;
      auto it = mapSeconds.find(run.benchmark_name());
      if (it == mapSeconds.end()) {
        mapSeconds.emplace(run.benchmark_name(), fSeconds);
        vecOrder.push_back(run.benchmark_name());
      } else if (fSeconds < it->second) {
        it->second = fSeconds;
      }
    }
  }

  void PrintRatios() const {
    printf("\n");
    for (const std::string& strName : vecOrder) {
      const size_t nFirst = strName.find('/');
      const size_t nSecond = strName.find('/', nFirst + 1);
      if (nFirst == std::string::npos || nSecond == std::string::npos) continue;
      const std::string strImpl = strName.substr(nFirst + 1, nSecond - nFirst - 1);
      if (strImpl == "reference") continue;
      const std::string strBase =
          strName.substr(0, nFirst) + "/reference" + strName.substr(nSecond);
      auto it = mapSeconds.find(strBase);
      if (it == mapSeconds.end()) continue;
      printf("%s [%s, %s]: fast is %.1fx the reference\n", strName.substr(0, nFirst).c_str(),
             strImpl.c_str(), strName.substr(nSecond + 1).c_str(),
             it->second / mapSeconds.at(strName));
    }
  }

 private:
  std::map<std::string, double> mapSeconds;  // CPU seconds per iteration by run name
  std::vector<std::string> vecOrder;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::vector<Pair> vecPairs = MakePairs();
  RegisterAll(vecPairs);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
