// Synthetic music for the benchmarks: seeded melodies of notes with harmonics over a
// bass line, as 16-bit PCM, and the raw Chromaprint fingerprints of such music.
#ifndef TWINTONE_BENCH_BENCH_AUDIO_H
#define TWINTONE_BENCH_BENCH_AUDIO_H

#include <chromaprint.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

namespace bench_audio {

// nSeconds of mono 16-bit PCM at nRate: a melody drawn from nSeed, distinct for
// every seed, with a percussive envelope on each note.
inline std::vector<int16_t> Melody(uint32_t nSeed, int nSeconds, int nRate) {
  std::mt19937 rng(nSeed);
  const double kScale[] = {0, 2, 3, 5, 7, 8, 10, 12, 14, 15};
  double fRoot = 110.0 * std::pow(2.0, (rng() % 12) / 12.0);
  double fBeat = 0.18 + (rng() % 20) / 100.0;  // seconds per note
  std::vector<int16_t> vecPcm(static_cast<size_t>(nSeconds) * nRate);
  size_t nNoteLen = static_cast<size_t>(fBeat * nRate);
  double fPhase = 0, fBassPhase = 0, fFreq = 0, fBass = 0;
  for (size_t i = 0; i < vecPcm.size(); ++i) {
    size_t nInNote = i % nNoteLen;
    if (nInNote == 0) {
      fFreq = fRoot * 2 * std::pow(2.0, kScale[rng() % 10] / 12.0);
      if ((i / nNoteLen) % 4 == 0) fBass = fRoot * std::pow(2.0, kScale[rng() % 5] / 12.0) / 2;
    }
    double fEnv = std::exp(-3.0 * nInNote / nNoteLen);
    fPhase += 2 * M_PI * fFreq / nRate;
    fBassPhase += 2 * M_PI * fBass / nRate;
    double fSample = fEnv * (0.5 * std::sin(fPhase) + 0.25 * std::sin(2 * fPhase) +
                             0.12 * std::sin(3 * fPhase)) +
                     0.3 * std::sin(fBassPhase);
    vecPcm[i] = static_cast<int16_t>(fSample * 12000);
  }
  return vecPcm;
}

// The raw fingerprint of mono PCM at nRate, as the engine would store it.
inline std::vector<uint32_t> RawFingerprint(const std::vector<int16_t>& vecPcm, int nRate) {
  std::unique_ptr<ChromaprintContext, decltype(&chromaprint_free)> pCtx(
      chromaprint_new(CHROMAPRINT_ALGORITHM_DEFAULT), &chromaprint_free);
  if (!pCtx || !chromaprint_start(pCtx.get(), nRate, 1) ||
      !chromaprint_feed(pCtx.get(), vecPcm.data(), static_cast<int>(vecPcm.size())) ||
      !chromaprint_finish(pCtx.get())) {
    throw std::runtime_error("chromaprint failed");
  }
  uint32_t* pRaw = nullptr;
  int nSize = 0;
  if (!chromaprint_get_raw_fingerprint(pCtx.get(), &pRaw, &nSize)) {
    throw std::runtime_error("no fingerprint");
  }
  std::vector<uint32_t> vecWords(pRaw, pRaw + nSize);
  chromaprint_dealloc(pRaw);
  return vecWords;
}

}  // namespace bench_audio

#endif  // TWINTONE_BENCH_BENCH_AUDIO_H
