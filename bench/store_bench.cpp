// Times fingerprint runs with the fingerprint store, through the public and extension
// API as a host makes them (AddToDedupeLists on a folder, twintone_open_store, a
// synchronous StartDedupeThread in fingerprint mode), all in one process run:
//   - a first run with an empty store against the baseline of a run without a store;
//   - a second run over the unchanged library against that first run;
//   - the bytes a stored 120-second fingerprint takes, against its plain words.
//
// Usage: twintone_bench_store [--repetitions=N] [corpus-folder]
// The folder (default $TWINTONE_BENCH_STORE_CORPUS, else /tmp/twintone-store-corpus)
// is filled once with kMelodies melodies of kSeconds, each as MP3 192k, Ogg Vorbis q4
// and FLAC. Runs fingerprint kFingerSeconds. Wall and CPU time (user + system) are
// both reported; the ratios use the best of the repetitions.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench_audio.h"
#include "support/word_codec.h"
#include "twintone.h"
#include "twintone_ext.h"

using namespace twintone;

namespace {

constexpr int kMelodies = 70;
constexpr int kSeconds = 40;
constexpr int kFingerSeconds = 30;
constexpr int kRate = 44100;
const char kMarkerText[] = "70 melodies x 40 s: mp3 192k, ogg q4, flac\n";

[[noreturn]] void Fail(const std::string& strWhat) {
  fprintf(stderr, "store_bench: %s\n", strWhat.c_str());
  exit(1);
}

void WriteMonoWav(const std::string& strPath, const std::vector<int16_t>& vecPcm) {
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  auto put = [&out](uint32_t nValue, int nBytes) {
    for (int i = 0; i < nBytes; ++i) out.put(static_cast<char>((nValue >> (8 * i)) & 0xff));
  };
  uint32_t nData = static_cast<uint32_t>(vecPcm.size() * 2);
  out.write("RIFF", 4);
  put(36 + nData, 4);
  out.write("WAVEfmt ", 8);
  put(16, 4), put(1, 2), put(1, 2), put(kRate, 4), put(kRate * 2, 4), put(2, 2), put(16, 2);
  out.write("data", 4);
  put(nData, 4);
  out.write(reinterpret_cast<const char*>(vecPcm.data()), nData);
  if (!out) Fail("cannot write " + strPath);
}

void MakeCorpus(const std::string& strDir) {
  std::ifstream marker(strDir + "/.corpus-complete");
  std::string strText((std::istreambuf_iterator<char>(marker)), std::istreambuf_iterator<char>());
  if (strText == kMarkerText) return;
  mkdir(strDir.c_str(), 0755);
  fprintf(stderr, "generating %d files in %s ...\n", kMelodies * 3, strDir.c_str());
  for (int i = 0; i < kMelodies; ++i) {
    std::string strWav = strDir + "/source.wav";
    WriteMonoWav(strWav, bench_audio::Melody(9000 + i, kSeconds, kRate));
    char szName[16];
    snprintf(szName, sizeof szName, "/melody%02d", i);
    std::string strStem = strDir + szName;
    std::string strCmd = "ffmpeg -loglevel error -y -i " + strWav + " -ac 2 -b:a 192k " + strStem +
                         ".mp3 -ac 2 -c:a libvorbis -q:a 4 " + strStem + ".ogg -ac 2 " + strStem +
                         ".flac";
    if (system(strCmd.c_str()) != 0) Fail("ffmpeg failed");
    unlink(strWav.c_str());
  }
  std::ofstream(strDir + "/.corpus-complete") << kMarkerText;
}

struct Timing {
  double fWall = 0, fCpu = 0;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One whole run over strDir; with a store path, through that store. Stops the
// program when the run does not find every melody's three encodings as a group.
Timing TimedRun(const std::string& strDir, const std::string& strStore, int* pnReused) {
  fflush(stdout);
  int nSaved = dup(STDOUT_FILENO);
  int nNull = open("/dev/null", O_WRONLY);
  dup2(nNull, STDOUT_FILENO);  // the directory scan lists every file on stdout
  auto wallStart = std::chrono::steady_clock::now();
  double fCpuStart = CpuSeconds();
  if (!strStore.empty() && twintone_open_store(strStore.c_str()) != 0) {
    Fail(std::string("store: ") + twintone_store_message());
  }
  if (AddToDedupeLists(strDir.c_str(), 0) != 0) Fail("cannot add " + strDir);
  if (StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, kFingerSeconds, 80) != 0) {
    Fail("the run did not start");
  }
  int nGroups = GetGroupIdCounts();
  int nWritten = 0;
  *pnReused = 0;
  twintone_store_stats(pnReused, &nWritten);
  twintone_close_store();
  Timing timing;
  timing.fCpu = CpuSeconds() - fCpuStart;
  timing.fWall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  DedupeDealloc();
  fflush(stdout);
  dup2(nSaved, STDOUT_FILENO);
  close(nSaved);
  close(nNull);
  if (nGroups != kMelodies)
    Fail("expected " + std::to_string(kMelodies) + " groups, got " + std::to_string(nGroups));
  return timing;
}

void Keep(Timing* pBest, const Timing& t) {
  if (pBest->fWall == 0 || t.fWall < pBest->fWall) pBest->fWall = t.fWall;
  if (pBest->fCpu == 0 || t.fCpu < pBest->fCpu) pBest->fCpu = t.fCpu;
}

}  // namespace

int main(int argc, char** argv) {
  int nRepetitions = 2;
  std::string strDir;
  for (int i = 1; i < argc; ++i) {
    std::string strArg = argv[i];
    if (strArg.rfind("--repetitions=", 0) == 0) {
      nRepetitions = std::max(1, atoi(strArg.c_str() + 14));
    } else if (strArg.rfind("--benchmark", 0) != 0) {
      strDir = strArg;
    }
  }
  if (strDir.empty()) {
    const char* pszEnv = getenv("TWINTONE_BENCH_STORE_CORPUS");
    strDir = pszEnv != nullptr ? pszEnv : "/tmp/twintone-store-corpus";
  }
  MakeCorpus(strDir);
  std::string strStore = strDir + ".store.sqlite";

  Timing noStore, firstRun, secondRun;
  int nReused = 0;
  for (int r = 0; r < nRepetitions; ++r) {
    // Alternated, so both sides see the same neighbours.
    Keep(&noStore, TimedRun(strDir, "", &nReused));
    for (const char* pszSuffix : {"", "-wal", "-shm"}) unlink((strStore + pszSuffix).c_str());
    Keep(&firstRun, TimedRun(strDir, strStore, &nReused));
    Keep(&secondRun, TimedRun(strDir, strStore, &nReused));
    if (nReused != kMelodies * 3) Fail("the second run reused " + std::to_string(nReused));
  }
  struct stat st {};
  stat(strStore.c_str(), &st);

  // 120-second fingerprints of fresh melodies, as the store keeps them.
  size_t nWords = 0, nStored = 0;
  const int kSamples = 8;
  for (int i = 0; i < kSamples; ++i) {
    std::vector<uint32_t> vecWords =
        bench_audio::RawFingerprint(bench_audio::Melody(500 + i, 120, 11025), 11025);
    nWords += vecWords.size();
    nStored += twintone::EncodeWords(vecWords.data(), vecWords.size()).size();
  }

  int nFiles = kMelodies * 3;
  printf("store: %d files, %d s each, fingerprinted %d s, best of %d\n", nFiles, kSeconds,
         kFingerSeconds, nRepetitions);
  printf("  without store   wall %7.2f s  cpu %7.2f s\n", noStore.fWall, noStore.fCpu);
  printf("  empty store     wall %7.2f s  cpu %7.2f s\n", firstRun.fWall, firstRun.fCpu);
  printf("  second run      wall %7.2f s  cpu %7.2f s\n", secondRun.fWall, secondRun.fCpu);
  printf("store: second run is %.1fx faster than the first (wall), %.1fx (cpu)\n",
         firstRun.fWall / secondRun.fWall, firstRun.fCpu / secondRun.fCpu);
  printf("store: first run with an empty store costs %+.1f%% wall, %+.1f%% cpu against no store\n",
         100.0 * (firstRun.fWall / noStore.fWall - 1), 100.0 * (firstRun.fCpu / noStore.fCpu - 1));
  printf("store: a 120-s fingerprint is %zu words, %zu bytes stored (%.0f%% of %zu plain)\n",
         nWords / kSamples, nStored / kSamples, 100.0 * nStored / (4.0 * nWords),
         4 * nWords / kSamples);
  printf("store: database file %lld bytes for %d entries of %d s, %lld bytes per entry\n",
         static_cast<long long>(st.st_size), nFiles, kFingerSeconds,
         static_cast<long long>(st.st_size) / nFiles);
  return 0;
}
