// Fingerprint extraction: the decoder library decodes a file and hands its PCM,
// through the two callbacks below, to a Chromaprint context.
#include "analysis/fingerprint.h"

#include <audio_decoder.h>

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>


namespace twintone {

namespace {

// The cancel flag of the extraction running on this thread (may be null), and the
// count of samples it has fed to Chromaprint. Set by ExtractFingerprint for the
// length of its decode; read by the data callback, which the decoder calls on the
// same thread.
thread_local const std::atomic<bool>* t_pbCancel = nullptr;
thread_local int64_t* t_pnFedSamples = nullptr;

// Points the thread's cancel flag and sample count at one extraction's, and restores
// the previous ones at scope exit.
class ExtractionScope {
 public:
  ExtractionScope(const std::atomic<bool>* pbCancel, int64_t* pnFedSamples)
      : pbSaved_(t_pbCancel), pnSavedSamples_(t_pnFedSamples) {
    t_pbCancel = pbCancel;
    t_pnFedSamples = pnFedSamples;
  }
  ~ExtractionScope() {
    t_pbCancel = pbSaved_;
    t_pnFedSamples = pnSavedSamples_;
  }
  ExtractionScope(const ExtractionScope&) = delete;
  ExtractionScope& operator=(const ExtractionScope&) = delete;

 private:
  const std::atomic<bool>* pbSaved_;
  int64_t* pnSavedSamples_;
};

// Frees the extraction's Chromaprint context at scope exit and clears the field.
class ContextHold {
 public:
  explicit ContextHold(tagCChromaPrintInfo* pInfo) : pInfo_(pInfo) {}
  ~ContextHold() {
    if (pInfo_->pCtx != nullptr) chromaprint_free(pInfo_->pCtx);
    pInfo_->pCtx = nullptr;
  }
  ContextHold(const ContextHold&) = delete;
  ContextHold& operator=(const ContextHold&) = delete;

 private:
  tagCChromaPrintInfo* pInfo_;
};

struct ChromaprintArrayFree {
  void operator()(uint32_t* pArray) const { chromaprint_dealloc(pArray); }
};

// The decoder callbacks. They bear the names of the decoder's callback types, so they
// live in a namespace of their own and are named qualified.
namespace callbacks {

// The decoder's format report: stores it and starts the context. -1 for a null
// user, 0 when Chromaprint started, 1 when it did not.
int GetAudioInfoProc(void* pUser, int nSampleRate, int nChannels, int nInfoExtra) {
  if (pUser == nullptr) return -1;
  auto* pInfo = static_cast<tagCChromaPrintInfo*>(pUser);
  pInfo->nSampleRate = nSampleRate;
  pInfo->nChannels = nChannels;
  pInfo->nInfoExtra = nInfoExtra;
  return chromaprint_start(pInfo->pCtx, nSampleRate, nChannels) ? 0 : 1;
}

// One buffer of interleaved S16 PCM: fed whole samples to the context. -1 for a null
// user, 0 when fed, 1 when Chromaprint failed or the extraction was cancelled.
int GetDecoderDataProc(void* pUser, void* pPcm, int nBytes) {
  if (pUser == nullptr) return -1;
  if (t_pbCancel != nullptr && t_pbCancel->load(std::memory_order_relaxed)) return 1;
  auto* pInfo = static_cast<tagCChromaPrintInfo*>(pUser);
  if (!chromaprint_feed(pInfo->pCtx, static_cast<const int16_t*>(pPcm), nBytes / 2)) return 1;
  if (t_pnFedSamples != nullptr && nBytes > 0) *t_pnFedSamples += nBytes / 2;
  return 0;
}

}  // namespace callbacks

}  // namespace

GetAudioInfoProc FingerprintInfoCallback() { return callbacks::GetAudioInfoProc; }

GetDecoderDataProc FingerprintDataCallback() { return callbacks::GetDecoderDataProc; }

int32_t DecodedMs(int64_t nSamples, int nSampleRate, int nChannels) {
  if (nSampleRate <= 0 || nChannels <= 0) return nSamples > 0 ? -1 : 0;
  int64_t nMs = nSamples * 1000 / (static_cast<int64_t>(nSampleRate) * nChannels);
  return nMs > INT32_MAX ? INT32_MAX : static_cast<int32_t>(nMs);
}

int FingerprintSeconds(int nRequested, int nDurationMs) {
  int nSeconds = nRequested > 600 ? 600 : nRequested;
  if (nSeconds < 1) nSeconds = nDurationMs / 1000;
  return nSeconds;
}

// The parameter is named as the invariants read: the asserts print these texts.
int ExtractFingerprint(const char* pszPath, int nDurationMs, tagCChromaPrintInfo* pChromaInfo,
                       int nSeconds, const std::atomic<bool>* pbCancel, int32_t** ppFinger,
                       int32_t* pnLen, int32_t* pnDecodedMs) {
  if (pszPath == nullptr || pChromaInfo == nullptr || ppFinger == nullptr || pnLen == nullptr) {
    return -11;
  }
  ContextHold contextHold(pChromaInfo);
  pChromaInfo->pCtx = chromaprint_new(CHROMAPRINT_ALGORITHM_TEST2);
  assert(pChromaInfo->pCtx != 0);
  if (pChromaInfo->pCtx == nullptr) return -11;

  pChromaInfo->handle = CreateConverTask(1, nullptr);
  pChromaInfo->nSeconds = FingerprintSeconds(nSeconds, nDurationMs);
  assert(pChromaInfo->handle);
  if (pChromaInfo->handle == nullptr) return -11;

  {
    int64_t nFedSamples = 0;
    ExtractionScope scope(pbCancel, &nFedSamples);
    int nDecoded = DecoderAudio(&pChromaInfo->handle, pszPath, callbacks::GetAudioInfoProc,
                                callbacks::GetDecoderDataProc, pChromaInfo);
    if (pnDecodedMs != nullptr) {
      *pnDecodedMs = DecodedMs(nFedSamples, pChromaInfo->nSampleRate, pChromaInfo->nChannels);
    }
    if (nDecoded != 0) return -11;
  }
  if (!chromaprint_finish(pChromaInfo->pCtx)) return -8;

  uint32_t* pRaw = nullptr;
  int nSize = 0;
  if (!chromaprint_get_raw_fingerprint(pChromaInfo->pCtx, &pRaw, &nSize)) return -10;
  std::unique_ptr<uint32_t, ChromaprintArrayFree> raw(pRaw);
  if (nSize <= 0 || pRaw == nullptr) return -11;

  size_t nBytes = static_cast<size_t>(nSize) * sizeof(int32_t);
  auto* pFinger = static_cast<int32_t*>(malloc(nBytes));
  if (pFinger == nullptr) return -9;
  memcpy(pFinger, pRaw, nBytes);  // words kept as Chromaprint gives them
  *ppFinger = pFinger;
  *pnLen = nSize;
  return 0;
}

int FingerprintFile(const char* pszPath, int nDurationMs, int nSeconds,
                    const std::atomic<bool>* pbCancel, int32_t** ppFinger, int32_t* pnLen,
                    int32_t* pnDecodedMs) {
  tagCChromaPrintInfo info{};
  const int nResult = ExtractFingerprint(pszPath, nDurationMs, &info, nSeconds, pbCancel,
                                         ppFinger, pnLen, pnDecodedMs);
  if (info.handle != nullptr) DestroyConvertTask(&info.handle);
  return nResult;
}

}  // namespace twintone
