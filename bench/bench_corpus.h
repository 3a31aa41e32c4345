// The whole-run corpus shared by the benchmarks: kMelodies synthetic melodies of
// kSeconds, stereo 44.1 kHz, each encoded with ffmpeg as MP3 192k, Ogg Vorbis q4 and
// FLAC, made once in a folder (a marker file says it is complete) and reused.
#ifndef TWINTONE_BENCH_BENCH_CORPUS_H
#define TWINTONE_BENCH_BENCH_CORPUS_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_audio.h"

extern char** environ;

namespace bench_corpus {

constexpr int kMelodies = 34;
constexpr int kSeconds = 130;
constexpr int kRate = 44100;
constexpr int kFingerSeconds = 120;
constexpr uint32_t kFirstSeed = 7000;
constexpr int kParallelEncodes = 2;
constexpr char kMarkerName[] = ".corpus-complete";
// Changes whenever the corpus recipe does, so a stale folder is made again.
constexpr char kMarkerText[] = "34 melodies x 130 s stereo 44100 Hz: mp3 192k, ogg q4, flac v1\n";

struct Format {
  const char* pszExt;
  std::vector<std::string> vecCodecArgs;
};

inline const std::vector<Format>& Formats() {
  static const std::vector<Format> vecFormats = {
      {"mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}},
      {"ogg", {"-c:a", "libvorbis", "-q:a", "4"}},
      {"flac", {"-c:a", "flac"}},
  };
  return vecFormats;
}

[[noreturn]] inline void Fail(const std::string& strWhat) {
  fprintf(stderr, "bench: %s\n", strWhat.c_str());
  exit(1);
}

inline std::string MelodyStem(int nMelody) {
  char szStem[16];
  snprintf(szStem, sizeof szStem, "melody%02d", nMelody);
  return szStem;
}

// Starts argv[0] from PATH with stdout on /dev/null (stderr is kept, so a failing
// tool still says why); returns its pid.
inline pid_t Spawn(const std::vector<std::string>& vecArgs) {
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
inline void Reap(pid_t nPid, const std::string& strWhat) {
  int nStatus = 0;
  if (waitpid(nPid, &nStatus, 0) != nPid) Fail("waitpid failed for " + strWhat);
  if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) Fail(strWhat + " failed");
}

inline void PutLE(std::ofstream& out, uint32_t nValue, int nBytes) {
  for (int i = 0; i < nBytes; ++i) out.put(static_cast<char>((nValue >> (8 * i)) & 0xff));
}

// Writes mono PCM as a 16-bit stereo WAV file, the same signal on both channels.
inline void WriteStereoWav(const std::string& strPath, const std::vector<int16_t>& vecMono) {
  std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
  const uint32_t nDataBytes = static_cast<uint32_t>(vecMono.size() * 4);
  out.write("RIFF", 4);
  PutLE(out, 36 + nDataBytes, 4);
  out.write("WAVEfmt ", 8);
  PutLE(out, 16, 4);  // fmt chunk size
  PutLE(out, 1, 2);   // PCM
  PutLE(out, 2, 2);   // channels
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

inline bool CorpusComplete(const std::string& strDir) {
  std::ifstream in(strDir + "/" + kMarkerName);
  std::string strText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return strText == kMarkerText;
}

// Fills strDir with the encoded corpus. The WAV sources live in a subfolder (the
// directory scan does not enter it) and are removed once encoded. Runs in a child
// process so that the melody buffers do not count in this process's peak size.
inline void GenerateCorpus(const std::string& strDir) {
  const std::string strWavDir = strDir + "/wav";
  mkdir(strDir.c_str(), 0755);
  mkdir(strWavDir.c_str(), 0755);
  unlink((strDir + "/" + kMarkerName).c_str());
  fprintf(stderr, "generating %d files in %s ...\n", kMelodies * static_cast<int>(Formats().size()),
          strDir.c_str());

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
      std::vector<std::string> vecArgs = {"ffmpeg", "-nostdin", "-loglevel", "error",
                                          "-y",     "-i",       strWav};
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

inline void EnsureCorpus(const std::string& strDir) {
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

inline std::vector<std::string> CorpusFiles(const std::string& strDir) {
  std::vector<std::string> vecFiles;
  for (int m = 0; m < kMelodies; ++m) {
    for (const Format& format : Formats()) {
      vecFiles.push_back(strDir + "/" + MelodyStem(m) + "." + format.pszExt);
    }
  }
  return vecFiles;
}

// Reads every file once so that neither side's first pass pays for the disk.
inline void WarmPageCache(const std::vector<std::string>& vecFiles) {
  std::vector<char> vecBuffer(1 << 20);
  for (const std::string& strFile : vecFiles) {
    std::ifstream in(strFile, std::ios::binary);
    if (!in) Fail("missing corpus file " + strFile);
    while (in.read(vecBuffer.data(), static_cast<std::streamsize>(vecBuffer.size()))) {
    }
  }
}

}  // namespace bench_corpus

#endif  // TWINTONE_BENCH_BENCH_CORPUS_H
