#include "audio_decoder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"

namespace {

using twintone_test::AudioEncoding;
using twintone_test::SharedAudioCorpus;

// What one decode reported. Starts with the header the decoder reads nSeconds from.
struct DecodeRecord {
  DecoderUserHeader header{};
  int nResult = 0;
  int nInfoCalls = 0;
  int nRate = 0;
  int nChannels = 0;
  int nBits = 0;
  int64_t nBytes = 0;
  int nBuffers = 0;
  int nLastBuffer = 0;
  bool bDataBeforeInfo = false;
  bool bPartialFrame = false;  // a buffer that is not a whole number of sample frames
  int nFailInfo = 0;           // info callback result
  int nFailAtBuffer = -1;      // data callback returns 1 on this buffer (0-based)
};

int RecordInfo(void* pUser, int nRate, int nChannels, int nBits) {
  auto* pRecord = static_cast<DecodeRecord*>(pUser);
  ++pRecord->nInfoCalls;
  pRecord->nRate = nRate;
  pRecord->nChannels = nChannels;
  pRecord->nBits = nBits;
  return pRecord->nFailInfo;
}

int RecordData(void* pUser, void*, int nBytes) {
  auto* pRecord = static_cast<DecodeRecord*>(pUser);
  if (pRecord->nInfoCalls == 0) pRecord->bDataBeforeInfo = true;
  if (pRecord->nChannels > 0 && nBytes % (pRecord->nChannels * 2) != 0) {
    pRecord->bPartialFrame = true;
  }
  if (pRecord->nBuffers++ == pRecord->nFailAtBuffer) return 1;
  pRecord->nBytes += nBytes;
  pRecord->nLastBuffer = nBytes;
  return 0;
}

class AudioDecoderTest : public ::testing::Test {
 protected:
  // Decodes strPath with a fresh task; pRecord's callbacks settings apply.
  static void Decode(const std::string& strPath, DecodeRecord* pRecord) {
    void* hTask = CreateConverTask(1, nullptr);
    ASSERT_NE(hTask, nullptr);
    pRecord->nResult = DecoderAudio(&hTask, strPath.c_str(), RecordInfo, RecordData, pRecord);
    EXPECT_EQ(DestroyConvertTask(&hTask), 0);
  }

  static DecodeRecord DecodeSeconds(const std::string& strPath, int nSeconds) {
    DecodeRecord record;
    record.header.nSeconds = nSeconds;
    Decode(strPath, &record);
    return record;
  }

  // Seconds of audio that nBytes of PCM hold in the record's format.
  static double SecondsOf(const DecodeRecord& record) {
    return static_cast<double>(record.nBytes) / (record.nRate * record.nChannels * 2.0);
  }

  TempDir tempDir_;
};

TEST_F(AudioDecoderTest, EveryEncodingDecodesToS16AtItsOwnRateAndLength) {
  const auto& piece = SharedAudioCorpus().vecPieces[0];
  for (AudioEncoding encoding : twintone_test::AllEncodings()) {
    SCOPED_TRACE(twintone_test::EncodingName(encoding));
    DecodeRecord record = DecodeSeconds(piece.Path(encoding), 0);
    EXPECT_EQ(record.nResult, 0);
    EXPECT_EQ(record.nInfoCalls, 1);
    EXPECT_FALSE(record.bDataBeforeInfo);
    EXPECT_FALSE(record.bPartialFrame);
    EXPECT_EQ(record.nRate, twintone_test::EncodingSampleRate(encoding));
    EXPECT_EQ(record.nChannels, twintone_test::EncodingChannels(encoding));
    EXPECT_EQ(record.nBits, 16);
    if (twintone_test::IsLossless(encoding)) {
      EXPECT_EQ(record.nBytes, int64_t{piece.nSeconds} * record.nRate * record.nChannels * 2);
    } else {
      // Lossy codecs may keep some encoder padding.
      EXPECT_NEAR(SecondsOf(record), piece.nSeconds, 0.1);
    }
  }
}

TEST_F(AudioDecoderTest, PositiveSecondsStopTheDecodeWithinOneBuffer) {
  const auto& piece = SharedAudioCorpus().vecPieces[1];
  for (AudioEncoding encoding :
       {AudioEncoding::kWav, AudioEncoding::kFlac, AudioEncoding::kMp3At128,
        AudioEncoding::kOggVorbis, AudioEncoding::kAacM4a, AudioEncoding::kMp3Mono22k}) {
    SCOPED_TRACE(twintone_test::EncodingName(encoding));
    DecodeRecord record = DecodeSeconds(piece.Path(encoding), 5);
    ASSERT_EQ(record.nResult, 0);
    int64_t nLimit = int64_t{5} * record.nRate * record.nChannels * 2;
    EXPECT_GE(record.nBytes, nLimit);
    EXPECT_LT(record.nBytes - record.nLastBuffer, nLimit);
  }
}

// A negative limit, like a null record, means the whole stream.
TEST_F(AudioDecoderTest, NegativeSecondsOrNoRecordDecodeTheWholeStream) {
  const auto& piece = SharedAudioCorpus().vecPieces[0];
  DecodeRecord record = DecodeSeconds(piece.Path(AudioEncoding::kFlac), -3);
  EXPECT_EQ(record.nResult, 0);
  EXPECT_DOUBLE_EQ(SecondsOf(record), piece.nSeconds);

  static int64_t s_nBytes = 0;
  auto pfnInfo = [](void* pUser, int, int, int) { return pUser == nullptr ? 0 : 1; };
  auto pfnData = [](void*, void*, int nBytes) {
    s_nBytes += nBytes;
    return 0;
  };
  void* hTask = CreateConverTask(1, nullptr);
  EXPECT_EQ(
      DecoderAudio(&hTask, piece.Path(AudioEncoding::kWav).c_str(), pfnInfo, pfnData, nullptr), 0);
  EXPECT_EQ(s_nBytes, int64_t{piece.nSeconds} * 44100 * 4);
  DestroyConvertTask(&hTask);
}

TEST_F(AudioDecoderTest, CallbackFailureEndsTheDecodeAtOnce) {
  const std::string strPath = SharedAudioCorpus().Path(0, AudioEncoding::kMp3At128);
  DecodeRecord dataFails;
  dataFails.nFailAtBuffer = 2;
  Decode(strPath, &dataFails);
  EXPECT_EQ(dataFails.nResult, DECODER_ERR_CALLBACK);
  EXPECT_EQ(dataFails.nBuffers, 3);

  DecodeRecord infoFails;
  infoFails.nFailInfo = -1;
  Decode(strPath, &infoFails);
  EXPECT_EQ(infoFails.nResult, DECODER_ERR_CALLBACK);
  EXPECT_EQ(infoFails.nInfoCalls, 1);
  EXPECT_EQ(infoFails.nBuffers, 0);
}

TEST_F(AudioDecoderTest, InputsWithoutAudioFailWithoutCallbacks) {
  const auto& corpus = SharedAudioCorpus();
  std::string strFifo = tempDir_.Path("stream.mp3");
  ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
  std::string strTruncatedMp3 = tempDir_.Path("short.mp3");
  twintone_test::WriteTruncatedCopy(corpus.Path(0, AudioEncoding::kMp3Untagged), strTruncatedMp3,
                                    300);
  std::string strTruncatedFlac = tempDir_.Path("short.flac");
  twintone_test::WriteTruncatedCopy(corpus.Path(0, AudioEncoding::kFlac), strTruncatedFlac, 100);
  std::string strGarbage = tempDir_.Path("noise.mp3");
  twintone_test::WriteGarbageFile(strGarbage, 200000, 7);
  const std::string vecPaths[] = {
      tempDir_.Path("missing.mp3"),
      tempDir_.WriteFile("empty.mp3"),
      tempDir_.WriteFile("notes.txt", "Not music at all, just a line of text.\n"),
      tempDir_.WriteFile("notes.mp3", "Not music at all, just a line of text.\n"),
      strGarbage,
      strTruncatedMp3,
      strTruncatedFlac,
      tempDir_.Root(),
      strFifo,      // would block a reader waiting for a writer
      "/dev/zero",  // would be read forever
  };
  alarm(60);  // a hang fails the test instead of stalling the run
  for (const std::string& strPath : vecPaths) {
    SCOPED_TRACE(strPath);
    DecodeRecord record = DecodeSeconds(strPath, 0);
    EXPECT_LT(record.nResult, 0);
    EXPECT_EQ(record.nBuffers, 0);
  }
  alarm(0);
}

TEST_F(AudioDecoderTest, DamagedStreamsEndCleanly) {
  alarm(120);
  for (AudioEncoding encoding : twintone_test::AllEncodings()) {
    SCOPED_TRACE(twintone_test::EncodingName(encoding));
    const auto& piece = SharedAudioCorpus().vecPieces[2];
    std::string strPath =
        tempDir_.Path(std::string("damaged-") + twintone_test::EncodingName(encoding));
    twintone_test::WriteDamagedCopy(piece.Path(encoding), strPath);
    DecodeRecord record = DecodeSeconds(strPath, 0);
    // Whatever survives, the decode ends, and what it delivers is well formed.
    EXPECT_LE(record.nInfoCalls, 1);
    EXPECT_FALSE(record.bDataBeforeInfo);
    EXPECT_FALSE(record.bPartialFrame);
    if (record.nResult == 0) {
      EXPECT_LT(SecondsOf(record), piece.nSeconds + 5);
    }
  }
  alarm(0);
}

TEST_F(AudioDecoderTest, BadArgumentsAreRefused) {
  EXPECT_EQ(CreateConverTask(2, nullptr), nullptr);
  int nReserved = 0;
  EXPECT_EQ(CreateConverTask(1, &nReserved), nullptr);

  const char* pszPath = SharedAudioCorpus().Path(0, AudioEncoding::kWav).c_str();
  DecodeRecord record;
  void* hNone = nullptr;
  EXPECT_EQ(DecoderAudio(&hNone, pszPath, RecordInfo, RecordData, &record), DECODER_ERR_ARGUMENT);
  EXPECT_EQ(DecoderAudio(nullptr, pszPath, RecordInfo, RecordData, &record), DECODER_ERR_ARGUMENT);
  void* hTask = CreateConverTask(1, nullptr);
  EXPECT_EQ(DecoderAudio(&hTask, nullptr, RecordInfo, RecordData, &record), DECODER_ERR_ARGUMENT);
  EXPECT_EQ(DecoderAudio(&hTask, pszPath, nullptr, RecordData, &record), DECODER_ERR_ARGUMENT);
  EXPECT_EQ(DecoderAudio(&hTask, pszPath, RecordInfo, nullptr, &record), DECODER_ERR_ARGUMENT);
  EXPECT_EQ(record.nInfoCalls, 0);
  DestroyConvertTask(&hTask);
}

TEST_F(AudioDecoderTest, DestroyClearsTheHandleAndToleratesRepeats) {
  void* hTask = CreateConverTask(1, nullptr);
  ASSERT_NE(hTask, nullptr);
  EXPECT_EQ(DestroyConvertTask(&hTask), 0);
  EXPECT_EQ(hTask, nullptr);
  EXPECT_EQ(DestroyConvertTask(&hTask), 0);
  EXPECT_EQ(DestroyConvertTask(nullptr), -1);
}

}  // namespace
