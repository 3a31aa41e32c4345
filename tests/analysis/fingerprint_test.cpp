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
