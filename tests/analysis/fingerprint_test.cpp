#include "analysis/fingerprint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/records.h"
#include "engine/dedupe_music.h"
#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"
#include "twintone.h"

using namespace twintone;

namespace {

using twintone_test::AudioEncoding;
using twintone_test::SharedAudioCorpus;

using Fingerprint = std::vector<uint32_t>;

class FingerprintTest : public ::testing::Test {
 protected:
  // Extracts the fingerprint of strPath (empty on failure) and releases the decoder
  // task. *pnResult, when given, receives the result.
  static Fingerprint Extract(const std::string& strPath, int nSeconds, int nDurationMs = 0,
                             const std::atomic<bool>* pbCancel = nullptr, int* pnResult = nullptr) {
    int32_t* pFinger = nullptr;
    int32_t nLen = 0;
    int nResult = FingerprintFile(strPath.c_str(), nDurationMs, nSeconds, pbCancel, &pFinger,
                                  &nLen, nullptr);
    if (pnResult != nullptr) *pnResult = nResult;
    Fingerprint finger(pFinger, pFinger + nLen);
    free(pFinger);
    return finger;
  }

  // The engine's score: match_fingerprints3 within a third of the shorter length.
  static float Score(const Fingerprint& a, const Fingerprint& b) {
    int nOffset = static_cast<int>(std::min(a.size(), b.size())) / 3;
    return match_fingerprints3(a.data(), static_cast<int>(a.size()), b.data(),
                               static_cast<int>(b.size()), nOffset);
  }

  CDedupeMusic engine_;  // GetMusicFinger, as hosts call it
  TempDir tempDir_;
};

TEST_F(FingerprintTest, SecondsAreCappedAtSixHundredAndDefaultToTheDuration) {
  const int kCases[][3] = {// requested, duration in ms, seconds
                           {30, 245000, 30},  {600, 0, 600},    {601, 0, 600},
                           {0, 245999, 245}, {0, 1500000, 1500}, {-5, 245000, 245}};
  for (const auto& c : kCases) {
    EXPECT_EQ(FingerprintSeconds(c[0], c[1]), c[2]) << c[0] << ", " << c[1];
  }
}

// Chromaprint gives a word every 1365 samples at 11025 Hz, less a few at the edges.
TEST_F(FingerprintTest, EncodingsOfOnePieceMatchAndDifferentPiecesDoNot) {
  const auto& corpus = SharedAudioCorpus();
  std::vector<Fingerprint> vecReference;
  for (const auto& piece : corpus.vecPieces) {
    vecReference.push_back(Extract(piece.Path(AudioEncoding::kWav), 0, piece.nSeconds * 1000));
    EXPECT_GE(vecReference.back().size(), piece.nSeconds * 6u);
    EXPECT_LE(vecReference.back().size(), piece.nSeconds * 11025u / 1365);
  }
  for (size_t nPiece = 0; nPiece < 2; ++nPiece) {
    for (AudioEncoding encoding : twintone_test::AllEncodings()) {
      Fingerprint finger =
          Extract(corpus.Path(nPiece, encoding), 0, corpus.vecPieces[nPiece].nSeconds * 1000);
      EXPECT_GT(Score(vecReference[nPiece], finger), 0.95f) << corpus.Path(nPiece, encoding);
    }
  }
  for (size_t a = 0; a < vecReference.size(); ++a) {
    for (size_t b = a + 1; b < vecReference.size(); ++b) {
      EXPECT_LT(Score(vecReference[a], vecReference[b]), 0.4f) << "pieces " << a << ", " << b;
    }
  }
}

// The key holds the words of the first seconds only: a prefix of the whole file's.
TEST_F(FingerprintTest, KeyHoldsTheWordsOfTheFirstSeconds) {
  InerMusicDedupInfo record;
  record.strPath = SharedAudioCorpus().Path(2, AudioEncoding::kFlac);
  tagCChromaPrintInfo info{};
  ASSERT_EQ(engine_.GetMusicFinger(&record, &info, 8), 0);
  EXPECT_EQ(info.nSeconds, 8);
  EXPECT_EQ(info.nSampleRate, 11025);
  EXPECT_EQ(info.nChannels, 1);
  DestroyConvertTask(&info.handle);
  Fingerprint key(record.pGroupKey->pFinger,
                  record.pGroupKey->pFinger + record.pGroupKey->nFingerLen);
  ASSERT_GT(key.size(), 8u * 5);
  EXPECT_LT(key.size(), 8u * 9);
  // The same audio gives the same words, up to the last few that the end affects.
  Fingerprint whole = Extract(record.strPath, 0, 26000);
  EXPECT_TRUE(std::equal(key.begin(), key.end() - 4, whole.begin()));
}

TEST_F(FingerprintTest, UndecodableOrCancelledExtractionFailsWithMinusElevenAndNoKey) {
  const std::string strNoise = tempDir_.Path("noise.mp3");
  twintone_test::WriteGarbageFile(strNoise, 100000, 3);
  for (const std::string& strPath : {strNoise, tempDir_.Path("gone.flac")}) {
    InerMusicDedupInfo record;
    record.strPath = strPath;
    record.nDuration = 12000;
    tagCChromaPrintInfo info{};
    EXPECT_EQ(engine_.GetMusicFinger(&record, &info, 0), -11) << strPath;
    EXPECT_EQ(record.pGroupKey->pFinger, nullptr);
    EXPECT_EQ(record.pGroupKey->nFingerLen, 0);
    DestroyConvertTask(&info.handle);
  }
  std::atomic<bool> bCancel{true};
  int nResult = 0;
  const std::string& strWav = SharedAudioCorpus().Path(0, AudioEncoding::kWav);
  EXPECT_TRUE(Extract(strWav, 0, 0, &bCancel, &nResult).empty());
  EXPECT_EQ(nResult, -11);
}

}  // namespace
