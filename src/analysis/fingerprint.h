// Fingerprint extraction: decode a file through the audio decoder library and hand
// its PCM to Chromaprint.
#ifndef TWINTONE_ANALYSIS_FINGERPRINT_H
#define TWINTONE_ANALYSIS_FINGERPRINT_H

#include <audio_decoder.h>
#include <chromaprint.h>

#include <atomic>
#include <cstdint>

// Working record of one extraction; the caller zero-fills it. Its prefix matches
// the decoder's DecoderUserHeader, so the decoder reads nSeconds from it.
struct tagCChromaPrintInfo {
  ChromaprintContext* pCtx;  // created and freed within one extraction; null after it
  void* handle;              // decoder task; the caller releases it
  int nSampleRate;
  int nChannels;
  int nInfoExtra;
  int nSeconds;  // seconds to decode, set before decoding starts
};

namespace twintone {

// Seconds to decode for a request and a duration in milliseconds: above 600 becomes
// 600, then below 1 becomes nDurationMs / 1000.
int FingerprintSeconds(int nRequested, int nDurationMs);

// The extraction itself, free of any engine state, so it may run on any thread.
// On success stores a malloc'ed buffer in *ppFinger and its length in *pnLen and
// returns 0; else -8, -9, -10 or -11 as GetMusicFinger does, leaving both untouched.
// pInfo->handle holds the decoder task afterwards, whatever the result, for the
// caller to release with DestroyConvertTask (null when none was made).
// A set *pbCancel (may be null) makes the decode stop at its next buffer (-11).
// When the decoder ran, *pnDecodedMs (may be null) receives the milliseconds of audio
// fed to Chromaprint, failed decodes included; it is left untouched otherwise.
int ExtractFingerprint(const char* pszPath, int nDurationMs, tagCChromaPrintInfo* pInfo,
                       int nSeconds, const std::atomic<bool>* pbCancel, int32_t** ppFinger,
                       int32_t* pnLen, int32_t* pnDecodedMs = nullptr);

// ExtractFingerprint with a context of its own, the decoder task released on every
// path, failed decodes included. Any thread.
int FingerprintFile(const char* pszPath, int nDurationMs, int nSeconds,
                    const std::atomic<bool>* pbCancel, int32_t** ppFinger, int32_t* pnLen,
                    int32_t* pnDecodedMs);

// Milliseconds of interleaved PCM: nSamples / (rate x channels), rounded down; 0 for
// no samples, -1 for samples of an unknown format.
int32_t DecodedMs(int64_t nSamples, int nSampleRate, int nChannels);

// The two decoder callbacks of an extraction, for tests that drive them directly.
// Both take a tagCChromaPrintInfo as user data and return -1 when it is null; the
// info callback starts pCtx (0 started, 1 failed), the data callback feeds nBytes / 2
// samples to it (0 fed, 1 failed or the extraction was cancelled).
GetAudioInfoProc FingerprintInfoCallback();
GetDecoderDataProc FingerprintDataCallback();

}  // namespace twintone

#endif  // TWINTONE_ANALYSIS_FINGERPRINT_H
