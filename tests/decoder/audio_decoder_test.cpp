#include "audio_decoder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"

namespace {

using twintone_test::AudioEncoding;
using twintone_test::SharedAudioCorpus;
// What one decode reported, after the header the decoder reads nSeconds from.
struct DecodeRecord {
  double Seconds() const { return static_cast<double>(nBytes) / (nRate * nChannels * 2.0); }
  DecoderUserHeader header{};
  int nInfoResult = 0;     // what the info callback returns
  int nFailAtBuffer = -1;  // the data callback returns 1 on this buffer (0-based)
  int nResult = 0, nInfoCalls = 0, nRate = 0, nChannels = 0, nBuffers = 0, nLastBuffer = 0;
  int64_t nBytes = 0;
};

// The record being filled: the callbacks use it, not their user, which may be null.
DecodeRecord* g_pRecord = nullptr;

int RecordInfo(void*, int nRate, int nChannels, int nBits) {
  EXPECT_TRUE(++g_pRecord->nInfoCalls == 1 && nBits == 16);
  g_pRecord->nRate = nRate;
  g_pRecord->nChannels = nChannels;
  return g_pRecord->nInfoResult;
}

// Checks that data comes after the format, in whole sample frames.
int RecordData(void*, void*, int nBytes) {
  DecodeRecord& record = *g_pRecord;
  EXPECT_EQ(record.nInfoCalls, 1);
  EXPECT_EQ(nBytes % (std::max(record.nChannels, 1) * 2), 0);
  if (record.nBuffers++ == record.nFailAtBuffer) return 1;
  record.nBytes += nBytes;
  record.nLastBuffer = nBytes;
  return 0;
}

// Decodes strPath with a fresh task, handing the decoder the record as its user
// unless bNullUser, and destroys the task.
DecodeRecord Decode(const std::string& strPath, int nSeconds = 0, bool bNullUser = false,
                    DecodeRecord record = DecodeRecord()) {
  g_pRecord = &record;
  record.header.nSeconds = nSeconds;
  void* hTask = CreateConverTask(1, nullptr);
  record.nResult =
      DecoderAudio(&hTask, strPath.c_str(), RecordInfo, RecordData, bNullUser ? nullptr : &record);
  EXPECT_EQ(DestroyConvertTask(&hTask), 0);
  return record;
}

TEST(AudioDecoderTest, EveryEncodingGivesMonoS16At11025AndHonoursTheSecondsLimit) {
  const auto& piece = SharedAudioCorpus().vecPieces[1];
  for (AudioEncoding encoding : twintone_test::AllEncodings()) {
    SCOPED_TRACE(twintone_test::EncodingName(encoding));
    // Zero, a negative limit and a null user all mean the whole stream.
    DecodeRecord whole = Decode(piece.Path(encoding), encoding == AudioEncoding::kFlac ? -3 : 0,
                                encoding == AudioEncoding::kWav);
    ASSERT_EQ(whole.nResult, 0);
    EXPECT_TRUE(whole.nRate == 11025 && whole.nChannels == 1);
    // Lossy codecs keep some encoder padding; resampling may round by a sample.
    EXPECT_NEAR(whole.Seconds(), piece.nSeconds, twintone_test::IsLossless(encoding) ? 1e-3 : 0.1);
    // A limited decode ends with the buffer that reaches the limit.
    DecodeRecord limited = Decode(piece.Path(encoding), 5);
    ASSERT_EQ(limited.nResult, 0);
    int64_t nLimit = int64_t{5} * limited.nRate * limited.nChannels * 2;
    EXPECT_GE(limited.nBytes, nLimit);
    EXPECT_LT(limited.nBytes - limited.nLastBuffer, nLimit);
  }
}

TEST(AudioDecoderTest, ACallbackAskingToStopEndsTheDecodeAtOnce) {
  const std::string strPath = SharedAudioCorpus().Path(0, AudioEncoding::kMp3At128);
  DecodeRecord dataStops, infoFails;
  dataStops.nFailAtBuffer = 2, infoFails.nInfoResult = -1;
  dataStops = Decode(strPath, 0, false, dataStops);
  EXPECT_TRUE(dataStops.nResult == DECODER_ERR_CALLBACK && dataStops.nBuffers == 3);
  infoFails = Decode(strPath, 0, false, infoFails);
  EXPECT_TRUE(infoFails.nResult == DECODER_ERR_CALLBACK && infoFails.nBuffers == 0);
}

// Inputs without audio fail before any callback and without blocking (garbage, empty
// and text files reach the decoder in the hostile-file runs); bad arguments fail at once.
TEST(AudioDecoderTest, BadInputsAndArgumentsFailCleanly) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.Path("stream.mp3").c_str(), 0600), 0);
  alarm(60);  // a hang fails the test instead of stalling the run
  for (const std::string& strPath :
       {dir.Path("missing.mp3"), dir.WriteFile("cut.flac", "fLaC"), dir.Root(),
        dir.Path("stream.mp3"), std::string("/dev/zero")}) {
    DecodeRecord record = Decode(strPath);
    EXPECT_TRUE(record.nResult < 0 && record.nInfoCalls + record.nBuffers == 0) << strPath;
  }
  alarm(0);
  void *hNone = nullptr, *hTask = CreateConverTask(1, nullptr);
  EXPECT_EQ(CreateConverTask(2, nullptr), nullptr);
  EXPECT_EQ(DecoderAudio(&hNone, "a.mp3", RecordInfo, RecordData, nullptr), DECODER_ERR_ARGUMENT);
  EXPECT_EQ(DecoderAudio(&hTask, nullptr, RecordInfo, RecordData, nullptr), DECODER_ERR_ARGUMENT);
  EXPECT_EQ(DestroyConvertTask(&hTask), 0);
}

}  // namespace
