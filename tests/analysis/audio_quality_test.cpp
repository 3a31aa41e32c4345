#include "analysis/audio_quality.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fixtures/audio_fixtures.h"
#include "fixtures/temp_dir.h"
#include "twintone_ext.h"

using twintone::kWindowMs;
using twintone::kWindows;

namespace {

constexpr uint32_t kMeasured = TWINTONE_QUALITY_MEASURED;
constexpr uint32_t kLossless = TWINTONE_QUALITY_LOSSLESS;
constexpr uint32_t kEdge = TWINTONE_QUALITY_LOSSY_EDGE;
constexpr uint32_t kLossySource = TWINTONE_QUALITY_LOSSY_SOURCE;

// 16 s of stereo music with energy up to Nyquist: a melody and a bass, different in
// each channel, over noise bursts like a hi-hat's (independent noise per channel).
constexpr char kSource[] =
    "aevalsrc='0.25*sin(2*PI*220*pow(2,mod(floor(t*4),12)/12)*t)*exp(-3*mod(t,0.25))"
    "+0.1*sin(2*PI*110*t)+0.08*(2*random(0)-1)*exp(-10*mod(t,0.125))"
    "|0.2*sin(2*PI*330*pow(2,mod(floor(t*4),12)/12)*t)*exp(-3*mod(t,0.25))"
    "+0.12*sin(2*PI*82*t)+0.08*(2*random(1)-1)*exp(-10*mod(t,0.125))':s=44100:d=16";

class AudioQualityTest : public ::testing::Test {
 protected:
  // Runs ffmpeg on the arguments, in the scratch folder.
  void Ffmpeg(const std::string& strArgs) {
    const std::string strCommand =
        "cd '" + tmp_.Root() + "' && ffmpeg -nostdin -loglevel error -y " + strArgs;
    ASSERT_EQ(0, std::system(strCommand.c_str())) << strCommand;
  }

  TempDir tmp_;
};

// Each copy of one piece shows what was done to it; an undecodable file measures
// nothing. Bandwidths are ranges: encoders' low-pass filters move between versions.
TEST_F(AudioQualityTest, EachCopyShowsWhatWasDoneToIt) {
  Ffmpeg(std::string("-f lavfi -i \"") + kSource +
         "\" -c:a flac original.flac -c:a libmp3lame -b:a 128k mp3-128.mp3"
         " -ar 22050 -ac 1 -c:a libmp3lame -b:a 64k mono-22k.mp3"
         " -af volume=12dB -c:a flac clipped.flac -af adelay=2000:all=1 -c:a flac lead-2s.flac"
         " -af apad=pad_dur=5 -c:a flac trail-5s.flac -t 3 -c:a flac short.flac"
         " -af pan='stereo|c0=c0|c1=c0' -c:a flac dual-mono.flac");
  Ffmpeg("-i mp3-128.mp3 -c:a flac -sample_fmt s16 from-mp3.flac");
  twintone_test::WriteGarbageFile(tmp_.Path("broken.mp3"), 100000, 7);

  struct Row {
    const char* pszFile;
    int nRate, nChannels, nStereo;
    int nMinBandwidth, nMaxBandwidth;
    uint32_t nFlags;        // exactly
    int nMinClipped;        // per million; 0: none at all
    int nLeadMs, nTrailMs;  // within 5 ms and 30 ms (a lossy codec's padding)
  };
  const Row rows[] = {
      {"original.flac", 44100, 2, TWINTONE_STEREO_TRUE, 21000, 22050, kMeasured | kLossless, 0, 0,
       0},
      {"mp3-128.mp3", 44100, 2, TWINTONE_STEREO_TRUE, 15000, 18500, kMeasured | kEdge, 0, 0, 0},
      {"mono-22k.mp3", 22050, 1, TWINTONE_STEREO_MONO, 8000, 11025, kMeasured, 0, 0, 0},
      {"clipped.flac", 44100, 2, TWINTONE_STEREO_TRUE, 21000, 22050, kMeasured | kLossless, 10000,
       0, 0},
      {"lead-2s.flac", 44100, 2, TWINTONE_STEREO_TRUE, 21000, 22050, kMeasured | kLossless, 0, 2000,
       0},
      {"trail-5s.flac", 44100, 2, TWINTONE_STEREO_TRUE, 21000, 22050, kMeasured | kLossless, 0, 0,
       5000},
      {"short.flac", 44100, 2, TWINTONE_STEREO_TRUE, 21000, 22050, kMeasured | kLossless, 0, 0, 0},
      {"from-mp3.flac", 44100, 2, TWINTONE_STEREO_TRUE, 15000, 18500,
       kMeasured | kLossless | kEdge | kLossySource, 0, 0, 0},
      {"dual-mono.flac", 44100, 2, TWINTONE_STEREO_DUAL_MONO, 21000, 22050, kMeasured | kLossless,
       0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pszFile);
    twintone_quality q{};
    q.nStructSize = sizeof q;
    ASSERT_EQ(0, twintone_measure_quality(tmp_.Path(row.pszFile).c_str(), &q));
    EXPECT_EQ(row.nRate, q.nSampleRate);
    EXPECT_EQ(row.nChannels, q.nChannels);
    EXPECT_EQ(row.nStereo, q.nStereo);
    EXPECT_GE(q.nBandwidthHz, row.nMinBandwidth);
    EXPECT_LE(q.nBandwidthHz, row.nMaxBandwidth);
    EXPECT_EQ(row.nFlags, q.nFlags);
    if (row.nMinClipped == 0) {
      EXPECT_EQ(0, q.nClippedPpm);
    }
    EXPECT_GE(q.nClippedPpm, row.nMinClipped);
    EXPECT_NEAR(row.nLeadMs, q.nLeadSilenceMs, 5);
    EXPECT_NEAR(row.nTrailMs, q.nTrailSilenceMs, 30);
    EXPECT_EQ(-1, q.nAddedLeadMs);
    // A window after the first sound and the windows through the file, or all of a
    // short one.
    EXPECT_GE(q.nMeasuredMs,
              std::string(row.pszFile) == "short.flac" ? 2900 : (kWindows + 1) * kWindowMs);
  }

  twintone_quality q{};
  q.nStructSize = sizeof q;
  EXPECT_EQ(-2, twintone_measure_quality(tmp_.Path("broken.mp3").c_str(), &q));
  EXPECT_EQ(0u, q.nFlags & kMeasured);
  EXPECT_EQ(-1, q.nBandwidthHz);
  EXPECT_EQ(-2, twintone_measure_quality(tmp_.Root().c_str(), &q));  // a folder
  // Damaged throughout, or cut short: whatever decodes is measured, nothing crashes.
  for (const char* pszFile : {"mp3-128.mp3", "original.flac"}) {
    twintone_test::WriteDamagedCopy(tmp_.Path(pszFile), tmp_.Path("damaged"));
    twintone_test::WriteTruncatedCopy(tmp_.Path(pszFile), tmp_.Path("cut"), 200000);
    for (const char* pszCopy : {"damaged", "cut"}) {
      const int nResult = twintone_measure_quality(tmp_.Path(pszCopy).c_str(), &q);
      EXPECT_TRUE(nResult == 0 || nResult == -2) << pszFile << " " << pszCopy;
    }
  }
  q.nStructSize = sizeof q - 1;
  EXPECT_EQ(-1, twintone_measure_quality(tmp_.Path("original.flac").c_str(), &q));
}

}  // namespace
