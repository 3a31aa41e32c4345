#include "analysis/fingerprint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/dedupe_music.h"
#include "engine/records.h"
#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

using twintone_test::AudioEncoding;
using twintone_test::SharedAudioCorpus;

using Fingerprint = std::vector<uint32_t>;

class FingerprintTest : public ::testing::Test {
 protected:
  // Extracts the fingerprint of strPath; empty when the extraction fails, with the
  // result in *pnResult when given. Releases the decoder task.
  static Fingerprint Extract(const std::string& strPath, int nSeconds, int nDurationMs = 0,
                             int* pnResult = nullptr) {
    tagCChromaPrintInfo info{};
    int32_t* pFinger = nullptr;
    int32_t nLen = 0;
    int nResult =
        ExtractFingerprint(strPath.c_str(), nDurationMs, &info, nSeconds, nullptr, &pFinger, &nLen);
    if (pnResult != nullptr) *pnResult = nResult;
    DestroyConvertTask(&info.handle);
    Fingerprint finger(pFinger, pFinger + nLen);
    free(pFinger);
    return finger;
  }

  // Lowest bit error rate of a against b over shifts of up to three words.
  static double BitErrorRate(const Fingerprint& a, const Fingerprint& b) {
    double fBest = 1.0;
    for (int nShift = -3; nShift <= 3; ++nShift) {
      int nBits = 0;
      int nPairs = 0;
      for (int i = 0; i < static_cast<int>(a.size()); ++i) {
        int j = i + nShift;
        if (j < 0 || j >= static_cast<int>(b.size())) continue;
        nBits += __builtin_popcount(a[i] ^ b[j]);
        ++nPairs;
      }
      if (nPairs > 0) fBest = std::min(fBest, nBits / (32.0 * nPairs));
    }
    return fBest;
  }

  // The engine's score: match_fingerprints3 within a third of the shorter length.
  static float EngineScore(const Fingerprint& a, const Fingerprint& b) {
    int nOffset = static_cast<int>(std::min(a.size(), b.size())) / 3;
    return match_fingerprints3(a.data(), static_cast<int>(a.size()), b.data(),
                               static_cast<int>(b.size()), nOffset);
  }

  TempDir tempDir_;
};

TEST_F(FingerprintTest, SecondsAreCappedAtSixHundredAndDefaultToTheDuration) {
  EXPECT_EQ(FingerprintSeconds(30, 245000), 30);
  EXPECT_EQ(FingerprintSeconds(1, 245000), 1);
  EXPECT_EQ(FingerprintSeconds(600, 0), 600);
  EXPECT_EQ(FingerprintSeconds(601, 0), 600);
  EXPECT_EQ(FingerprintSeconds(100000, 0), 600);
  EXPECT_EQ(FingerprintSeconds(0, 245000), 245);
  EXPECT_EQ(FingerprintSeconds(0, 245999), 245);
  EXPECT_EQ(FingerprintSeconds(0, 1500000), 1500);
  EXPECT_EQ(FingerprintSeconds(0, 0), 0);
  EXPECT_EQ(FingerprintSeconds(-5, 245000), 245);
}

// Chromaprint gives a word every 1365 samples at 11025 Hz, less a few at the edges.
TEST_F(FingerprintTest, WholeFileGivesUpToEightWordsPerSecond) {
  const auto& piece = SharedAudioCorpus().vecPieces[0];
  tagCChromaPrintInfo info{};
  int32_t* pFinger = nullptr;
  int32_t nLen = 0;
  ASSERT_EQ(ExtractFingerprint(piece.Path(AudioEncoding::kWav).c_str(), piece.nSeconds * 1000,
                               &info, 0, nullptr, &pFinger, &nLen),
            0);
  EXPECT_EQ(info.nSeconds, piece.nSeconds);
  EXPECT_EQ(info.nSampleRate, 44100);
  EXPECT_EQ(info.nChannels, 2);
  EXPECT_EQ(info.nInfoExtra, 16);
  EXPECT_EQ(info.pCtx, nullptr);    // freed within the call
  EXPECT_NE(info.handle, nullptr);  // left for the caller
  EXPECT_GE(nLen, piece.nSeconds * 6);
  EXPECT_LE(nLen, piece.nSeconds * 11025 / 1365);
  DestroyConvertTask(&info.handle);
  free(pFinger);
}

TEST_F(FingerprintTest, SecondsLimitShortensTheFingerprintToItsPrefix) {
  const std::string strPath = SharedAudioCorpus().Path(2, AudioEncoding::kFlac);
  Fingerprint whole = Extract(strPath, 0, 26000);
  Fingerprint first = Extract(strPath, 8);
  ASSERT_FALSE(first.empty());
  EXPECT_LT(first.size(), 8u * 9);
  EXPECT_GT(first.size(), 8u * 5);
  // The same audio gives the same words, up to the last few that the end affects.
  size_t nCommon = first.size() - 4;
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + nCommon, whole.begin()));
}

TEST_F(FingerprintTest, KeyHoldsTheWordsAsChromaprintComputesThem) {
  CDedupeMusic engine;
  InerMusicDedupInfo record;
  record.strPath = SharedAudioCorpus().Path(3, AudioEncoding::kOggVorbis);
  const std::string& strPath = record.strPath;
  tagCChromaPrintInfo info{};
  ASSERT_EQ(engine.GetMusicFinger(&record, &info, 10), 0);
  EXPECT_EQ(info.nSeconds, 10);
  DestroyConvertTask(&info.handle);
  Fingerprint stored(record.pGroupKey->pFinger,
                     record.pGroupKey->pFinger + record.pGroupKey->nFingerLen);

  // The same decode fed to a context directly.
  struct Direct {
    DecoderUserHeader header{};
    ChromaprintContext* pCtx;
  } direct{};
  direct.header.nSeconds = 10;
  direct.pCtx = chromaprint_new(CHROMAPRINT_ALGORITHM_TEST2);
  void* hTask = CreateConverTask(1, nullptr);
  auto pfnInfo = [](void* pUser, int nRate, int nChannels, int) {
    return chromaprint_start(static_cast<Direct*>(pUser)->pCtx, nRate, nChannels) ? 0 : 1;
  };
  auto pfnData = [](void* pUser, void* pPcm, int nBytes) {
    auto* pDirect = static_cast<Direct*>(pUser);
    return chromaprint_feed(pDirect->pCtx, static_cast<int16_t*>(pPcm), nBytes / 2) ? 0 : 1;
  };
  ASSERT_EQ(DecoderAudio(&hTask, strPath.c_str(), pfnInfo, pfnData, &direct), 0);
  DestroyConvertTask(&hTask);
  ASSERT_TRUE(chromaprint_finish(direct.pCtx));
  uint32_t* pRaw = nullptr;
  int nSize = 0;
  ASSERT_TRUE(chromaprint_get_raw_fingerprint(direct.pCtx, &pRaw, &nSize));
  Fingerprint expected(pRaw, pRaw + nSize);
  chromaprint_dealloc(pRaw);
  chromaprint_free(direct.pCtx);

  EXPECT_EQ(stored, expected);
}

TEST_F(FingerprintTest, EncodingsOfOnePieceMatchAndDifferentPiecesDoNot) {
  const auto& corpus = SharedAudioCorpus();
  std::vector<Fingerprint> vecReference;
  for (size_t nPiece = 0; nPiece < corpus.vecPieces.size(); ++nPiece) {
    vecReference.push_back(Extract(corpus.Path(nPiece, AudioEncoding::kWav), 0,
                                   corpus.vecPieces[nPiece].nSeconds * 1000));
    ASSERT_FALSE(vecReference.back().empty());
  }
  for (size_t nPiece = 0; nPiece < 2; ++nPiece) {
    for (AudioEncoding encoding : twintone_test::AllEncodings()) {
      SCOPED_TRACE(std::string("piece ") + std::to_string(nPiece) + " " +
                   twintone_test::EncodingName(encoding));
      Fingerprint finger =
          Extract(corpus.Path(nPiece, encoding), 0, corpus.vecPieces[nPiece].nSeconds * 1000);
      EXPECT_LT(BitErrorRate(finger, vecReference[nPiece]), 0.05);
      EXPECT_GT(EngineScore(vecReference[nPiece], finger), 0.95f);
    }
  }
  for (size_t a = 0; a < vecReference.size(); ++a) {
    for (size_t b = a + 1; b < vecReference.size(); ++b) {
      SCOPED_TRACE("pieces " + std::to_string(a) + " and " + std::to_string(b));
      EXPECT_GT(BitErrorRate(vecReference[a], vecReference[b]), 0.35);
      EXPECT_LT(EngineScore(vecReference[a], vecReference[b]), 0.4f);
    }
  }
}

TEST_F(FingerprintTest, UndecodableFileFailsWithMinusElevenAndLeavesTheKeyEmpty) {
  CDedupeMusic engine;
  InerMusicDedupInfo record;
  record.strPath = tempDir_.Path("noise.mp3");
  twintone_test::WriteGarbageFile(record.strPath, 100000, 3);
  record.nDuration = 12000;
  tagCChromaPrintInfo info{};
  EXPECT_EQ(engine.GetMusicFinger(&record, &info, 0), -11);
  EXPECT_EQ(record.pGroupKey->pFinger, nullptr);
  EXPECT_EQ(record.pGroupKey->nFingerLen, 0);
  EXPECT_EQ(info.pCtx, nullptr);
  DestroyConvertTask(&info.handle);

  InerMusicDedupInfo missing;
  missing.strPath = tempDir_.Path("gone.flac");
  tagCChromaPrintInfo missingInfo{};
  EXPECT_EQ(engine.GetMusicFinger(&missing, &missingInfo, 30), -11);
  EXPECT_EQ(missing.pGroupKey->nFingerLen, 0);
  DestroyConvertTask(&missingInfo.handle);
}

TEST_F(FingerprintTest, ExistingFingerprintIsKeptWithoutDecoding) {
  CDedupeMusic engine;
  InerMusicDedupInfo record;
  record.strPath = tempDir_.Path("not-there.mp3");
  const int32_t kWords[] = {7, -1, 42};
  record.pGroupKey->pFinger = static_cast<int32_t*>(malloc(sizeof(kWords)));
  memcpy(record.pGroupKey->pFinger, kWords, sizeof(kWords));
  record.pGroupKey->nFingerLen = 3;
  int32_t* pBefore = record.pGroupKey->pFinger;
  tagCChromaPrintInfo info{};
  EXPECT_EQ(engine.GetMusicFinger(&record, &info, 30), 0);
  EXPECT_EQ(info.pCtx, nullptr);
  EXPECT_EQ(info.handle, nullptr);
  EXPECT_EQ(info.nSeconds, 0);
  EXPECT_EQ(record.pGroupKey->pFinger, pBefore);
  EXPECT_EQ(memcmp(record.pGroupKey->pFinger, kWords, sizeof(kWords)), 0);
}

TEST_F(FingerprintTest, SetCancelFlagStopsTheExtraction) {
  std::atomic<bool> bCancel{true};
  tagCChromaPrintInfo info{};
  int32_t* pFinger = nullptr;
  int32_t nLen = 0;
  EXPECT_EQ(ExtractFingerprint(SharedAudioCorpus().Path(0, AudioEncoding::kWav).c_str(), 0, &info,
                               0, &bCancel, &pFinger, &nLen),
            -11);
  EXPECT_EQ(pFinger, nullptr);
  EXPECT_EQ(nLen, 0);
  DestroyConvertTask(&info.handle);
}

TEST_F(FingerprintTest, CallbacksRefuseANullRecordAndReportAFailedStart) {
  int16_t nSample = 0;
  EXPECT_EQ(FingerprintInfoCallback()(nullptr, 44100, 2, 16), -1);
  EXPECT_EQ(FingerprintDataCallback()(nullptr, &nSample, 2), -1);

  tagCChromaPrintInfo info{};
  info.pCtx = chromaprint_new(CHROMAPRINT_ALGORITHM_TEST2);
  EXPECT_EQ(FingerprintInfoCallback()(&info, 22050, 1, 16), 0);
  EXPECT_EQ(info.nSampleRate, 22050);
  EXPECT_EQ(info.nChannels, 1);
  EXPECT_EQ(info.nInfoExtra, 16);
  EXPECT_EQ(FingerprintInfoCallback()(&info, 44100, 0, 16), 1);
  chromaprint_free(info.pCtx);
}

// Buffers of an odd size feed their whole samples only: the same PCM with one stray
// byte after each 4096 gives the same fingerprint.
TEST_F(FingerprintTest, DataCallbackFeedsWholeSamplesOnly) {
  std::vector<int16_t> vecPcm(11025 * 8);
  for (size_t i = 0; i < vecPcm.size(); ++i) {
    double fFreq = 440.0 * std::pow(2.0, static_cast<double>((i / 2756) % 12) / 12.0);
    vecPcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * fFreq * i / 11025.0));
  }
  auto fingerprintOf = [&vecPcm](int nStray) {
    tagCChromaPrintInfo info{};
    info.pCtx = chromaprint_new(CHROMAPRINT_ALGORITHM_TEST2);
    EXPECT_EQ(FingerprintInfoCallback()(&info, 11025, 1, 16), 0);
    std::vector<char> vecBuffer(4096 + 1, '\x7F');
    const char* pBytes = reinterpret_cast<const char*>(vecPcm.data());
    for (size_t nOffset = 0; nOffset + 4096 <= vecPcm.size() * 2; nOffset += 4096) {
      memcpy(vecBuffer.data(), pBytes + nOffset, 4096);
      EXPECT_EQ(FingerprintDataCallback()(&info, vecBuffer.data(), 4096 + nStray), 0);
    }
    chromaprint_finish(info.pCtx);
    uint32_t* pRaw = nullptr;
    int nSize = 0;
    chromaprint_get_raw_fingerprint(info.pCtx, &pRaw, &nSize);
    Fingerprint finger(pRaw, pRaw + nSize);
    chromaprint_dealloc(pRaw);
    chromaprint_free(info.pCtx);
    return finger;
  };
  Fingerprint even = fingerprintOf(0);
  ASSERT_FALSE(even.empty());
  EXPECT_EQ(fingerprintOf(1), even);
}

}  // namespace
