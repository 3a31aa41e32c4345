// Decoding of arbitrary bytes saved under every supported extension: the decoder's
// callback contract checked buffer by buffer, then the whole fingerprint extraction
// as the engine runs it, decoder task and Chromaprint context released on every path.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/fingerprint.h"
#include "audio_decoder.h"
#include "fuzz_file.h"

using namespace twintone;

namespace {

// Enough audio for Chromaprint to produce words; the decode stops there.
constexpr int kSeconds = 3;

// Keeps the reads of every PCM byte from being optimised away.
volatile uint8_t g_nSink;

// What the callbacks saw of one decode. The header comes first, as the decoder
// reads nSeconds from it.
struct DecodeWatch {
  DecoderUserHeader header;
  int nInfoCalls;
  long long nBytes;
};

int OnInfo(void* pUser, int nSampleRate, int nChannels, int nBitsPerSample) {
  auto* pWatch = static_cast<DecodeWatch*>(pUser);
  if (pWatch->nInfoCalls++ != 0 || pWatch->nBytes != 0) abort();  // once, before data
  if (nSampleRate <= 0 || nChannels <= 0 || nBitsPerSample != 16) abort();
  pWatch->header.nSampleRate = nSampleRate;
  pWatch->header.nChannels = nChannels;
  return 0;
}

int OnData(void* pUser, void* pPcm, int nBytes) {
  auto* pWatch = static_cast<DecodeWatch*>(pUser);
  if (pWatch->nInfoCalls != 1 || pPcm == nullptr || nBytes <= 0) abort();
  if (nBytes % (2 * pWatch->header.nChannels) != 0) abort();  // whole sample frames
  // Every byte of the buffer must be readable; the sanitizer checks the reads.
  uint8_t nSum = 0;
  for (int i = 0; i < nBytes; ++i) nSum += static_cast<const uint8_t*>(pPcm)[i];
  g_nSink = nSum;
  pWatch->nBytes += nBytes;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string strPath = SaveAsAudioFile(pData, nSize);

  DecodeWatch watch{};
  watch.header.nSeconds = kSeconds;
  void* hTask = CreateConverTask(1, nullptr);
  if (hTask == nullptr) abort();
  const int nDecoded = DecoderAudio(&hTask, strPath.c_str(), OnInfo, OnData, &watch);
  if (nDecoded > 0 || nDecoded < DECODER_ERR_MEMORY) abort();
  if (nDecoded == 0 && watch.nBytes == 0) abort();  // success means some audio
  if (DestroyConvertTask(&hTask) != 0 || hTask != nullptr) abort();

  tagCChromaPrintInfo info{};
  int32_t* pFinger = nullptr;
  int32_t nLen = 0;
  const int nResult =
      ExtractFingerprint(strPath.c_str(), 0, &info, kSeconds, nullptr, &pFinger, &nLen);
  if (info.handle != nullptr) DestroyConvertTask(&info.handle);
  if (info.pCtx != nullptr) abort();  // the context never outlives the extraction
  if (nResult == 0) {
    if (pFinger == nullptr || nLen < 1) abort();
    free(pFinger);
  } else if (nResult != -8 && nResult != -9 && nResult != -10 && nResult != -11) {
    abort();
  }
  return 0;
}
