// Times what the quality measures add to fingerprint runs, through the public and
// extension API as a host makes them (AddToDedupeLists on a folder, a synchronous
// StartDedupeThread in fingerprint mode at 120 s), all in one process run:
//   - a first run with quality on against the same first run with it off (no store,
//     so both decode every file);
//   - a cached re-run with quality on against one with it off (a store holding every
//     fingerprint and every file's measures);
//   - one file's measure against its fingerprint, each alone on one thread, per copy.
//
// Usage: twintone_bench_quality [--repetitions=N] [corpus-folder]
// The folder (default $TWINTONE_BENCH_QUALITY_CORPUS, else /tmp/twintone-quality-corpus)
// is filled once with kPieces pieces of kSeconds, each as the stereo FLAC original, MP3
// 128k, Ogg Vorbis q4 and a 22 kHz mono MP3: a library of copies, where every file is
// in a group and so is measured. Each piece's copies must come back as one group of
// kCopies, every file measured (first runs) or read from the store (re-runs), or the
// program stops with status 1 before printing a ratio. Wall and CPU time (user +
// system) are both reported. Each repetition runs the two sides of a ratio back to back,
// the side going first alternating; a ratio is the median over the repetitions of
// these pairs' ratios, which a shared machine's changing load disturbs less than a
// ratio of two bests.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis/audio_quality.h"
#include "analysis/fingerprint.h"
#include "bench_audio.h"
#include "grouping/match_kernels.h"
#include "twintone.h"
#include "twintone_ext.h"

namespace {

constexpr int kPieces = 12;
constexpr int kCopies = 4;
constexpr int kSeconds = 130;
constexpr int kRate = 44100;
constexpr int kFingerSeconds = 120;
const char kMarkerText[] = "12 pieces x 130 s stereo: flac, mp3 128k, ogg q4, mp3 22k mono\n";

[[noreturn]] void Fail(const std::string& strWhat) {
  fprintf(stderr, "quality_bench: %s\n", strWhat.c_str());
  exit(1);
}

// A stereo WAV of a seeded melody in both channels (at different levels) over noise
// bursts like a hi-hat's, independent in each channel, so the music has energy up to
// Nyquist and the copies' bandwidths differ.
void WriteStereoWav(const std::string& strPath, uint32_t nSeed) {
  const std::vector<int16_t> vecMelody = bench_audio::Melody(nSeed, kSeconds, kRate);
  std::mt19937 rng(nSeed * 7919u);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  std::vector<int16_t> vecPcm(vecMelody.size() * 2);
  const size_t nBurst = kRate / 8;
  for (size_t i = 0; i < vecMelody.size(); ++i) {
    const float fEnvelope = 2500.0f * std::exp(-40.0f * (i % nBurst) / kRate);
    vecPcm[2 * i] = static_cast<int16_t>(0.8f * vecMelody[i] + fEnvelope * noise(rng));
    vecPcm[2 * i + 1] = static_cast<int16_t>(0.6f * vecMelody[i] + fEnvelope * noise(rng));
  }
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  auto put = [&out](uint32_t nValue, int nBytes) {
    for (int i = 0; i < nBytes; ++i) out.put(static_cast<char>((nValue >> (8 * i)) & 0xff));
  };
  const uint32_t nData = static_cast<uint32_t>(vecPcm.size() * 2);
  out.write("RIFF", 4);
  put(36 + nData, 4);
  out.write("WAVEfmt ", 8);
  put(16, 4), put(1, 2), put(2, 2), put(kRate, 4), put(kRate * 4, 4), put(4, 2), put(16, 2);
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
  fprintf(stderr, "generating %d files in %s ...\n", kPieces * kCopies, strDir.c_str());
  for (int i = 0; i < kPieces; ++i) {
    const std::string strWav = strDir + "/source.wav";
    WriteStereoWav(strWav, 3000 + i);
    char szStem[32];
    snprintf(szStem, sizeof szStem, "/piece%02d", i);
    const std::string strStem = strDir + szStem;
    const std::string strCmd = "ffmpeg -nostdin -loglevel error -y -i " + strWav + " " + strStem +
                               ".flac -b:a 128k " + strStem + ".mp3 -c:a libvorbis " + "-q:a 4 " +
                               strStem + ".ogg -ar 22050 -ac 1 -b:a 64k " + strStem + "-mono.mp3";
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

// One whole run over strDir, through strStore when it is not empty. Stops the program
// when the groups are not the pieces, or when the files' quality is not what the run
// should have left: measured now (bFromStore false) or read from the store.
Timing TimedRun(const std::string& strDir, const std::string& strStore, bool bQuality,
                bool bFromStore) {
  fflush(stdout);
  const int nSaved = dup(STDOUT_FILENO);
  const int nNull = open("/dev/null", O_WRONLY);
  dup2(nNull, STDOUT_FILENO);  // the directory scan lists every file on stdout
  const auto wallStart = std::chrono::steady_clock::now();
  const double fCpuStart = CpuSeconds();
  if (!strStore.empty() && twintone_open_store(strStore.c_str()) != 0) {
    Fail(std::string("store: ") + twintone_store_message());
  }
  if (twintone_set_quality(bQuality ? 1 : 0) != 0) Fail("cannot set quality");
  if (AddToDedupeLists(strDir.c_str(), 0) != 0) Fail("cannot add " + strDir);
  if (StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_FINGERPRINT, kFingerSeconds, 80) != 0) {
    Fail("the run did not start");
  }
  Timing timing;
  timing.fCpu = CpuSeconds() - fCpuStart;
  timing.fWall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  fflush(stdout);
  dup2(nSaved, STDOUT_FILENO);
  close(nSaved);
  close(nNull);

  if (GetGroupIdCounts() != kPieces) Fail("expected " + std::to_string(kPieces) + " groups");
  for (int g = 0; g < kPieces; ++g) {
    tagInMusicDedupInfo* pInfo = nullptr;
    int nCount = 0;
    if (GetGroupRef(g, &pInfo, &nCount, 0) != 0 || nCount != kCopies) Fail("a group is not whole");
  }
  const uint32_t nWanted = !bQuality    ? 0u
                           : bFromStore ? TWINTONE_QUALITY_MEASURED | TWINTONE_QUALITY_FROM_STORE
                                        : TWINTONE_QUALITY_MEASURED;
  for (int i = 0; i < twintone_file_count(); ++i) {
    twintone_quality quality{};
    quality.nStructSize = sizeof quality;
    twintone_quality_at(i, &quality);
    if ((quality.nFlags & (TWINTONE_QUALITY_MEASURED | TWINTONE_QUALITY_FROM_STORE)) != nWanted) {
      Fail("file " + std::to_string(i) + " has quality flags " + std::to_string(quality.nFlags));
    }
  }
  twintone_close_store();
  DedupeDealloc();
  return timing;
}

// The runs of one side, and the ratios of each repetition's pair of runs (one side
// right after the other, so both see about the same neighbours).
struct Side {
  std::vector<Timing> vecRuns;
};

double Median(std::vector<double> vecValues) {
  std::sort(vecValues.begin(), vecValues.end());
  const size_t n = vecValues.size();
  return n % 2 == 1 ? vecValues[n / 2] : (vecValues[n / 2 - 1] + vecValues[n / 2]) / 2;
}

Timing Best(const Side& side) {
  Timing best = side.vecRuns.front();
  for (const Timing& t : side.vecRuns) {
    best.fWall = std::min(best.fWall, t.fWall);
    best.fCpu = std::min(best.fCpu, t.fCpu);
  }
  return best;
}

std::string CpuName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string strLine; std::getline(cpuinfo, strLine);) {
    if (strLine.rfind("model name", 0) == 0) return strLine.substr(strLine.find(':') + 2);
  }
  return "unknown";
}

// The median over the repetitions of on / off, as a change in per cent.
void PrintRatio(const char* pszWhat, const Side& on, const Side& off) {
  std::vector<double> vecWall, vecCpu;
  for (size_t r = 0; r < on.vecRuns.size(); ++r) {
    vecWall.push_back(on.vecRuns[r].fWall / off.vecRuns[r].fWall);
    vecCpu.push_back(on.vecRuns[r].fCpu / off.vecRuns[r].fCpu);
  }
  printf("quality: %s adds %+.1f%% wall, %+.1f%% cpu (median of %zu paired runs)\n", pszWhat,
         100.0 * (Median(vecWall) - 1), 100.0 * (Median(vecCpu) - 1), vecWall.size());
}

// One file's measure against its 120 s fingerprint, each alone on this thread: CPU
// time per call over nCalls calls, alternating.
void PrintPerFile(const std::string& strPath, int nCalls) {
  double fMeasure = 0, fFingerprint = 0;
  for (int i = 0; i < nCalls; ++i) {
    double fStart = CpuSeconds();
    twintone::MeasureAudioQuality(strPath.c_str());
    fMeasure += CpuSeconds() - fStart;
    fStart = CpuSeconds();
    int32_t* pFinger = nullptr;
    int32_t nLen = 0, nDecodedMs = 0;
    twintone::FingerprintFile(strPath.c_str(), 0, kFingerSeconds, nullptr, &pFinger, &nLen,
                              &nDecodedMs);
    free(pFinger);
    fFingerprint += CpuSeconds() - fStart;
  }
  printf("quality: one file alone, %s: measure %.1f ms, fingerprint %.1f ms cpu (%.1f%%)\n",
         strPath.substr(strPath.rfind('/') + 1).c_str(), 1000 * fMeasure / nCalls,
         1000 * fFingerprint / nCalls, 100 * fMeasure / fFingerprint);
}

}  // namespace

int main(int argc, char** argv) {
  int nRepetitions = 5;
  std::string strDir;
  for (int i = 1; i < argc; ++i) {
    const std::string strArg = argv[i];
    if (strArg.rfind("--repetitions=", 0) == 0) {
      nRepetitions = std::max(1, atoi(strArg.c_str() + 14));
    } else if (strArg.rfind("--benchmark", 0) != 0) {
      strDir = strArg;
    }
  }
  if (strDir.empty()) {
    const char* pszEnv = getenv("TWINTONE_BENCH_QUALITY_CORPUS");
    strDir = pszEnv != nullptr ? pszEnv : "/tmp/twintone-quality-corpus";
  }
  MakeCorpus(strDir);
  const std::string strStore = strDir + ".store.sqlite";
  for (const char* pszSuffix : {"", "-wal", "-shm"}) unlink((strStore + pszSuffix).c_str());
  TimedRun(strDir, strStore, true, false);  // fills the store for the re-runs

  Side firstOff, firstOn, cachedOff, cachedOn;
  for (int r = 0; r < nRepetitions; ++r) {
    // Each pair back to back, the side that goes first alternating.
    const bool bOffFirst = r % 2 == 0;
    for (int nTurn = 0; nTurn < 2; ++nTurn) {
      if ((nTurn == 0) == bOffFirst) {
        firstOff.vecRuns.push_back(TimedRun(strDir, "", false, false));
      } else {
        firstOn.vecRuns.push_back(TimedRun(strDir, "", true, false));
      }
    }
    for (int nTurn = 0; nTurn < 2; ++nTurn) {
      if ((nTurn == 0) == bOffFirst) {
        cachedOff.vecRuns.push_back(TimedRun(strDir, strStore, false, false));
      } else {
        cachedOn.vecRuns.push_back(TimedRun(strDir, strStore, true, true));
      }
    }
  }

  printf(
      "quality: %d files (%d pieces x %d copies, %d s each), fingerprinted %d s, %d repetitions\n",
      kPieces * kCopies, kPieces, kCopies, kSeconds, kFingerSeconds, nRepetitions);
  printf("quality: CPU %s, %u threads, match kernel %s\n", CpuName().c_str(),
         std::thread::hardware_concurrency(), twintone::ActiveMatchKernel().pszName);
  const struct {
    const char* pszName;
    const Side& side;
  } rows[] = {{"first run, quality off", firstOff},
              {"first run, quality on", firstOn},
              {"cached re-run, off", cachedOff},
              {"cached re-run, on", cachedOn}};
  for (const auto& row : rows) {
    const Timing best = Best(row.side);
    printf("  %-24s best wall %7.3f s  cpu %7.3f s\n", row.pszName, best.fWall, best.fCpu);
  }
  for (const char* pszName : {"piece00.flac", "piece00.mp3", "piece00.ogg", "piece00-mono.mp3"}) {
    PrintPerFile(strDir + "/" + pszName, 10);
  }
  PrintRatio("to a first run", firstOn, firstOff);
  PrintRatio("to a cached re-run", cachedOn, cachedOff);
  // A cached re-run takes milliseconds, where a per cent is mostly scheduling noise.
  std::vector<double> vecDiff;
  for (size_t r = 0; r < cachedOn.vecRuns.size(); ++r) {
    vecDiff.push_back(cachedOn.vecRuns[r].fCpu - cachedOff.vecRuns[r].fCpu);
  }
  printf("quality: a cached re-run's cpu differs by %+.1f ms for %d files (median)\n",
         1000.0 * Median(vecDiff), kPieces * kCopies);
  return 0;
}
