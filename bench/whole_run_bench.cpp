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

#include "bench_audio.h"
#include "bench_run.h"
#include "twintone.h"

extern char** environ;

namespace {

using bench_run::Clock;
using bench_run::PeakKiB;
using bench_run::QuietStdout;
using bench_run::Since;
using bench_run::Timing;

constexpr int kMelodies = 34;
constexpr int kSeconds = 130;
constexpr int kRate = 44100;
constexpr int kFingerSeconds = 120;
constexpr uint32_t kFirstSeed = 7000;
constexpr int kParallelEncodes = 2;
const char kMarkerName[] = ".corpus-complete";
// Changes whenever the corpus recipe does, so a stale folder is made again.
const char kMarkerText[] = "34 melodies x 130 s stereo 44100 Hz: mp3 192k, ogg q4, flac v1\n";

struct Format {
  const char* pszExt;
  std::vector<std::string> vecCodecArgs;
};

const std::vector<Format>& Formats() {
  static const std::vector<Format> vecFormats = {
      {"mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}},
      {"ogg", {"-c:a", "libvorbis", "-q:a", "4"}},
      {"flac", {"-c:a", "flac"}},
  };
  return vecFormats;
}

[[noreturn]] void Fail(const std::string& strWhat) {
  fprintf(stderr, "whole_run_bench: %s\n", strWhat.c_str());
  exit(1);
}

std::string MelodyStem(int nMelody) {
  char szStem[16];
  snprintf(szStem, sizeof szStem, "melody%02d", nMelody);
  return szStem;
}

// Starts argv[0] from PATH with stdout on /dev/null (stderr is kept, so a failing
// tool still says why); returns its pid.
pid_t Spawn(const std::vector<std::string>& vecArgs) {
  std::vector<char*> vecArgv;
  for (const std::string& strArg : vecArgs) vecArgv.push_back(const_cast<char*>(strArg.c_str()));
  vecArgv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t nPid = 0;
  int nError = posix_spawnp(&nPid, vecArgv[0], &actions, nullptr, vecArgv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (nError != 0) Fail("cannot start " + vecArgs[0] + ": " + strerror(nError));
  return nPid;
}

// Waits for nPid; stops the program when it did not exit with status 0.
void Reap(pid_t nPid, const std::string& strWhat) {
  int nStatus = 0;
  if (waitpid(nPid, &nStatus, 0) != nPid) Fail("waitpid failed for " + strWhat);
  if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) Fail(strWhat + " failed");
}

void PutLE(std::ofstream& out, uint32_t nValue, int nBytes) {
  for (int i = 0; i < nBytes; ++i) out.put(static_cast<char>((nValue >> (8 * i)) & 0xff));
}

// Writes mono PCM as a 16-bit stereo WAV file, the same signal on both channels.
void WriteStereoWav(const std::string& strPath, const std::vector<int16_t>& vecMono) {
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  const uint32_t nDataBytes = static_cast<uint32_t>(vecMono.size() * 4);
  out.write("RIFF", 4);
  PutLE(out, 36 + nDataBytes, 4);
  out.write("WAVEfmt ", 8);
  PutLE(out, 16, 4);         // fmt chunk size
  PutLE(out, 1, 2);          // PCM
  PutLE(out, 2, 2);          // channels
  PutLE(out, kRate, 4);
  PutLE(out, kRate * 4, 4);  // bytes per second
  PutLE(out, 4, 2);          // bytes per frame
  PutLE(out, 16, 2);         // bits per sample
  out.write("data", 4);
  PutLE(out, nDataBytes, 4);
  std::vector<int16_t> vecFrames(vecMono.size() * 2);
  for (size_t i = 0; i < vecMono.size(); ++i) vecFrames[2 * i] = vecFrames[2 * i + 1] = vecMono[i];
  out.write(reinterpret_cast<const char*>(vecFrames.data()),
            static_cast<std::streamsize>(vecFrames.size() * 2));
  if (!out) Fail("cannot write " + strPath);
}

bool CorpusComplete(const std::string& strDir) {
  std::ifstream in(strDir + "/" + kMarkerName);
  std::string strText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return strText == kMarkerText;
}

// Fills strDir with the encoded corpus. The WAV sources live in a subfolder (the
// directory scan does not enter it) and are removed once encoded. Runs in a child
// process so that the melody buffers do not count in this process's peak size.
void GenerateCorpus(const std::string& strDir) {
  const std::string strWavDir = strDir + "/wav";
  mkdir(strDir.c_str(), 0755);
  mkdir(strWavDir.c_str(), 0755);
  unlink((strDir + "/" + kMarkerName).c_str());
  fprintf(stderr, "generating %d files in %s ...\n",
          kMelodies * static_cast<int>(Formats().size()), strDir.c_str());

  std::map<pid_t, std::string> mapRunning;  // encoder pid -> output path
  auto reapOne = [&] {
    int nStatus = 0;
    pid_t nPid = wait(&nStatus);
    auto it = mapRunning.find(nPid);
    if (it == mapRunning.end()) Fail("wait failed while encoding");
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) Fail("ffmpeg failed on " + it->second);
    mapRunning.erase(it);
  };
  for (int m = 0; m < kMelodies; ++m) {
    const std::string strWav = strWavDir + "/" + MelodyStem(m) + ".wav";
    WriteStereoWav(strWav, bench_audio::Melody(kFirstSeed + m, kSeconds, kRate));
    for (const Format& format : Formats()) {
      while (mapRunning.size() >= static_cast<size_t>(kParallelEncodes)) reapOne();
      const std::string strOut = strDir + "/" + MelodyStem(m) + "." + format.pszExt;
      std::vector<std::string> vecArgs = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y",
                                          "-i",     strWav};
      vecArgs.insert(vecArgs.end(), format.vecCodecArgs.begin(), format.vecCodecArgs.end());
      vecArgs.push_back(strOut);
      mapRunning.emplace(Spawn(vecArgs), strOut);
    }
    // The three encoders of this melody must be done before its source goes.
    while (!mapRunning.empty()) reapOne();
    unlink(strWav.c_str());
  }
  rmdir(strWavDir.c_str());
  std::ofstream(strDir + "/" + kMarkerName) << kMarkerText;
}

void EnsureCorpus(const std::string& strDir) {
  if (CorpusComplete(strDir)) return;
  pid_t nPid = fork();
  if (nPid < 0) Fail("fork failed");
  if (nPid == 0) {
    GenerateCorpus(strDir);
    _exit(0);
  }
  Reap(nPid, "corpus generation");
  if (!CorpusComplete(strDir)) Fail("corpus generation left no marker");
}

std::vector<std::string> CorpusFiles(const std::string& strDir) {
  std::vector<std::string> vecFiles;
  for (int m = 0; m < kMelodies; ++m) {
    for (const Format& format : Formats()) {
      vecFiles.push_back(strDir + "/" + MelodyStem(m) + "." + format.pszExt);
    }
  }
  return vecFiles;
}

// Reads every file once so that neither side's first pass pays for the disk.
void WarmPageCache(const std::vector<std::string>& vecFiles) {
  std::vector<char> vecBuffer(1 << 20);
  for (const std::string& strFile : vecFiles) {
    std::ifstream in(strFile, std::ios::binary);
    if (!in) Fail("missing corpus file " + strFile);
    while (in.read(vecBuffer.data(), static_cast<std::streamsize>(vecBuffer.size()))) {
    }
  }
}

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
