// The recall corpus: eight synthetic melodies of 130 s, each written as FLAC and as
// nine altered copies (MP3 128k and 320k, Ogg Vorbis, AAC, 22,050 Hz mono, +3 dB and
// -3 dB, 2 s of silence in front, cut to 90 %) with the ffmpeg tool. Made once in a
// folder and reused; the recall bench files the folder, the filing bench plants its
// fingerprints among distinct ones.
#ifndef TWINTONE_BENCH_RECALL_CORPUS_H
#define TWINTONE_BENCH_RECALL_CORPUS_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_audio.h"

namespace recall_corpus {

constexpr int kMelodies = 8;
constexpr int kSeconds = 130;
constexpr int kRate = 44100;
constexpr uint32_t kFirstSeed = 9100;
constexpr const char* kDefaultDir = "/tmp/twintone-recall-corpus";

struct Variant {
  const char* pszName;
  const char* pszArgs;  // ffmpeg arguments between the input and the output
  const char* pszExt;
};

// The original comes first.
inline const std::vector<Variant>& Variants() {
  static const std::vector<Variant> vecVariants = {
      {"original", "-c:a flac", "flac"},
      {"mp3-128", "-c:a libmp3lame -b:a 128k", "mp3"},
      {"mp3-320", "-c:a libmp3lame -b:a 320k", "mp3"},
      {"ogg", "-c:a libvorbis -q:a 4", "ogg"},
      {"aac", "-c:a aac -b:a 128k", "m4a"},
      {"22k-mono", "-ar 22050 -ac 1 -c:a flac", "flac"},
      {"plus3db", "-af volume=3dB -c:a libmp3lame -b:a 192k", "mp3"},
      {"minus3db", "-af volume=-3dB -c:a libmp3lame -b:a 192k", "mp3"},
      {"silence2s", "-af 'adelay=2000|2000' -c:a libmp3lame -b:a 192k", "mp3"},
      {"cut90", "-t 117 -c:a libmp3lame -b:a 192k", "mp3"},
  };
  return vecVariants;
}

[[noreturn]] inline void Fail(const std::string& strWhat) {
  fprintf(stderr, "recall corpus: %s\n", strWhat.c_str());
  exit(1);
}

inline void Run(const std::string& strCommand) {
  if (system(strCommand.c_str()) != 0) Fail("failed: " + strCommand);
}

inline std::string FileName(int nMelody, const Variant& variant) {
  return "m" + std::to_string(nMelody) + "-" + variant.pszName + "." + variant.pszExt;
}

// Makes every file of the corpus in strDir that is not there yet.
inline void Make(const std::string& strDir) {
  const std::string strMarker = strDir + "/wav/.complete";
  if (access(strMarker.c_str(), F_OK) == 0) return;
  Run("mkdir -p '" + strDir + "/wav'");
  for (int m = 0; m < kMelodies; ++m) {
    const std::string strRaw = strDir + "/wav/m.raw";
    FILE* pFile = fopen(strRaw.c_str(), "wb");
    if (pFile == nullptr) Fail("cannot write " + strRaw);
    const std::vector<int16_t> vecPcm = bench_audio::Melody(kFirstSeed + m, kSeconds, kRate);
    fwrite(vecPcm.data(), 2, vecPcm.size(), pFile);
    fclose(pFile);
    for (const Variant& variant : Variants()) {
      const std::string strOut = strDir + "/" + FileName(m, variant);
      if (access(strOut.c_str(), F_OK) == 0) continue;  // made by an earlier, stopped run
      const std::string strTemp = strDir + "/wav/" + FileName(m, variant);
      Run("ffmpeg -nostdin -loglevel error -y -f s16le -ar 44100 -ac 1 -i '" + strRaw + "' -ac 2 " +
          variant.pszArgs + " '" + strTemp + "' && mv '" + strTemp + "' '" + strOut + "'");
    }
  }
  Run("touch '" + strMarker + "'");
}

}  // namespace recall_corpus

#endif  // TWINTONE_BENCH_RECALL_CORPUS_H
