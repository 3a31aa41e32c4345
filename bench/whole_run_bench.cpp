// Times a whole fingerprint run over a folder of encoded music, through the public
// API exactly as a host makes it (AddToDedupeLists on the folder, a synchronous
// StartDedupeThread in fingerprint mode at 120 seconds, the group count read back),
// against the baseline of running `fpcalc -raw -length 120` on each of the same files
// one after another, measured in the same process run.
//
// Usage: twintone_bench_whole_run [--repetitions=N] [--only=twintone|fpcalc] [corpus-folder]
// (--benchmark_* flags are accepted and ignored.) --only runs one side, for profiling
// it alone, and prints no ratio.
// The folder (default $TWINTONE_BENCH_CORPUS, else /tmp/twintone-bench-corpus) is
// filled once with kMelodies synthetic melodies of kSeconds, each encoded as MP3
// 192k, Ogg Vorbis q4 and FLAC; a marker file says it is complete, and later runs
// reuse it. Every melody's three encodings must come back as one group of three,
// or the program stops with status 1 before printing any ratio.
//
// Both sides report wall time and CPU time (user + system of this process and its
// children). On a shared machine the wall times carry the neighbours' load; the CPU
// times much less so.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "bench_run.h"
#include "twintone.h"


namespace {

using bench_run::Clock;
using bench_run::PeakKiB;
using bench_run::QuietStdout;
using bench_run::Since;
using bench_run::Timing;

using bench_corpus::CorpusFiles;
using bench_corpus::EnsureCorpus;
using bench_corpus::Fail;
using bench_corpus::Formats;
using bench_corpus::kFingerSeconds;
using bench_corpus::kMelodies;
using bench_corpus::kSeconds;
using bench_corpus::Reap;
using bench_corpus::Spawn;
using bench_corpus::WarmPageCache;

// The stem of a path: its file name without folder and extension.
std::string Stem(const char* pszPath) {
  std::string strName = pszPath == nullptr ? "" : pszPath;
  strName = strName.substr(strName.find_last_of('/') + 1);
  return strName.substr(0, strName.find_last_of('.'));
}

// Stops the program unless every melody came back as one group of its encodings.
void RequireExpectedGroups(int nGroups) {
  const int nPerMelody = static_cast<int>(Formats().size());
  if (nGroups != kMelodies) {
    Fail("expected " + std::to_string(kMelodies) + " groups, found " + std::to_string(nGroups));
  }
  std::map<std::string, int> mapSeen;
  for (int g = 0; g < nGroups; ++g) {
    int nCount = 0;
    tagInMusicDedupInfo* pFirst = nullptr;
    if (GetGroupRef(g, &pFirst, &nCount, 0) != 0 || pFirst == nullptr) {
      Fail("cannot read group " + std::to_string(g));
    }
    const std::string strStem = Stem(pFirst->pszPath);
    if (nCount != nPerMelody) {
      Fail("group " + std::to_string(g) + " (" + strStem + ") has " + std::to_string(nCount) +
           " members, expected " + std::to_string(nPerMelody));
    }
    for (int i = 1; i < nCount; ++i) {
      tagInMusicDedupInfo* pMember = nullptr;
      if (GetGroupRef(g, &pMember, &nCount, i) != 0 || pMember == nullptr) {
        Fail("cannot read member " + std::to_string(i) + " of group " + std::to_string(g));
      }
      if (Stem(pMember->pszPath) != strStem) {
        Fail("group " + std::to_string(g) + " mixes " + strStem + " with " + pMember->pszPath);
      }
    }
    if (++mapSeen[strStem] != 1) Fail(strStem + " is in more than one group");
  }
}

// One library run: load the folder, fingerprint and group synchronously, count.
Timing RunLibrary(const std::string& strDir) {
  if (DedupeDealloc() < -1) Fail("cannot clear the engine");
  Clock start = Clock::Now();
  int nGroups = 0;
  {
    QuietStdout quiet;
    if (AddToDedupeLists(strDir.c_str(), 0) != 0) Fail("AddToDedupeLists failed");
    if (StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, kFingerSeconds, 0) != 0) {
      Fail("StartDedupeThread failed");
    }
    nGroups = GetGroupIdCounts();
  }
  Timing timing = Since(start);
  if (GetLoadCounts() != kMelodies * static_cast<int>(Formats().size())) {
    Fail("the library loaded " + std::to_string(GetLoadCounts()) + " files");
  }
  RequireExpectedGroups(nGroups);
  if (DedupeDealloc() != 0) Fail("DedupeDealloc failed after the run");
  return timing;
}

// The baseline: fpcalc on each file, one after another.
Timing RunFpcalc(const std::vector<std::string>& vecFiles) {
  Clock start = Clock::Now();
  for (const std::string& strFile : vecFiles) {
    Reap(Spawn({"fpcalc", "-raw", "-length", std::to_string(kFingerSeconds), strFile}),
         "fpcalc on " + strFile);
  }
  return Since(start);
}

}  // namespace

int main(int argc, char** argv) {
  // Google Benchmark's own flags (as scripts pass to every benchmark) are accepted
  // and have no effect here: the timing is this program's.
  benchmark::Initialize(&argc, argv);
  int nRepetitions = 1;
  std::string strOnly;
  const char* pszEnv = getenv("TWINTONE_BENCH_CORPUS");
  std::string strDir = pszEnv != nullptr && *pszEnv != '\0' ? pszEnv : "/tmp/twintone-bench-corpus";
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--repetitions=", 14) == 0) {
      nRepetitions = std::max(1, atoi(argv[i] + 14));
    } else if (strncmp(argv[i], "--only=", 7) == 0 &&
               (strcmp(argv[i] + 7, "twintone") == 0 || strcmp(argv[i] + 7, "fpcalc") == 0)) {
      strOnly = argv[i] + 7;
    } else if (argv[i][0] == '-') {
      fprintf(stderr, "usage: %s [--repetitions=N] [--only=twintone|fpcalc] [corpus-folder]\n", argv[0]);
      return 2;
    } else {
      strDir = argv[i];
    }
  }
  while (strDir.size() > 1 && strDir.back() == '/') strDir.pop_back();

  EnsureCorpus(strDir);
  const std::vector<std::string> vecFiles = CorpusFiles(strDir);
  WarmPageCache(vecFiles);
  printf("corpus: %zu files (%d melodies of %d s as mp3, ogg, flac) in %s\n", vecFiles.size(),
         kMelodies, kSeconds, strDir.c_str());
  printf("cores: %ld; timings are wall and CPU (user+system, children included)\n\n",
         sysconf(_SC_NPROCESSORS_ONLN));

  // Alternating the two sides spreads the neighbours' load over both; with several
  // repetitions the fastest wall time of each side counts.
  const long nPeakBefore = PeakKiB();
  Timing best[2];
  bool bFirst = true;
  printf("%-4s %-18s %10s %10s\n", "rep", "run", "wall s", "cpu s");
  const bool bLibrary = strOnly != "fpcalc";
  const bool bFpcalc = strOnly != "twintone";
  for (int r = 0; r < nRepetitions; ++r) {
    if (bLibrary) {
      Timing lib = RunLibrary(strDir);
      printf("%-4d %-18s %10.2f %10.2f\n", r + 1, "twintone", lib.fWall, lib.fCpu);
      fflush(stdout);
      if (bFirst || lib.fWall < best[0].fWall) best[0] = lib;
    }
    if (bFpcalc) {
      Timing fp = RunFpcalc(vecFiles);
      printf("%-4d %-18s %10.2f %10.2f\n", r + 1, "sequential fpcalc", fp.fWall, fp.fCpu);
      fflush(stdout);
      if (bFirst || fp.fWall < best[1].fWall) best[1] = fp;
    }
    bFirst = false;
  }
  const long nPeakAfter = PeakKiB();
  if (!strOnly.empty()) return 0;

  printf("\ngroups: %d of %zu files each, as expected\n", kMelodies, Formats().size());
  printf("peak resident size of the process: %.1f MiB before the library runs, %.1f MiB after\n",
         nPeakBefore / 1024.0, nPeakAfter / 1024.0);
  printf("cpu: twintone %.1f s, sequential fpcalc %.1f s: %.2fx\n", best[0].fCpu, best[1].fCpu,
         best[1].fCpu / best[0].fCpu);
  printf("whole run: twintone %.1f s, sequential fpcalc %.1f s: %.2fx\n", best[0].fWall,
         best[1].fWall, best[1].fWall / best[0].fWall);
  return 0;
}
