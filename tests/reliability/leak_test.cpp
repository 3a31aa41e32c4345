// Runs over the audio corpus leave no allocation behind once DedupeDealloc has run:
// records, keys, fingerprints, decoder tasks, Chromaprint contexts and the prefetch
// pool's results. Checked by LeakSanitizer in the AddressSanitizer build.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "analysis/records.h"
#include "fixtures/event_recorder.h"
#include "reliability/run_watch.h"
#include "twintone.h"

#if defined(__SANITIZE_ADDRESS__)
#define TWINTONE_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TWINTONE_LEAK_CHECK 1
#endif
#endif

#ifdef TWINTONE_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace twintone_test {
namespace {

// A full run, runs stopped at the first file and halfway, then runs in one mode and the
// other without DedupeDealloc between, which puts text keys and fingerprint keys into one
// group map: nothing is lost, and (under LeakSanitizer) nothing is left unreachable.
class LeakTest : public ::testing::TestWithParam<int> {};

TEST_P(LeakTest, RunsFullStoppedAndInBothModesLeaveNothingAfterDealloc) {
  const AudioCorpus& corpus = SharedAudioCorpus();
  const int nPieces = static_cast<int>(corpus.vecPieces.size());
  const int nFiles = nPieces * static_cast<int>(AllEncodings().size());
  for (int nStopAt : {0, 1, nFiles / 2, -1}) {
    ASSERT_EQ(AddToDedupeLists(corpus.strDir.c_str(), 0), 0);
    ASSERT_EQ(GetLoadCounts(), nFiles);
    if (nStopAt < 0) {
      const int nOther = GetParam() == TWINTONE_MATCH_FINGERPRINT
                             ? TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ALBUM
                             : TWINTONE_MATCH_FINGERPRINT;
      for (int nFlags : {GetParam(), nOther, GetParam()}) {
        ASSERT_EQ(StartDedupeThread(nullptr, nullptr, nFlags, 0, 0), 0);
      }
      EXPECT_GE(GetGroupIdCounts(), nPieces);
      ASSERT_EQ(DedupeDealloc(), 0);
      break;
    }
    EventRecorder recorder;
    recorder.onEvent = [nStopAt](int nCode) {
      if (nCode == nStopAt) QuitDedupeThread();
    };
    ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, GetParam(), 0, 0), 0);
    WaitForEndOrDie(&recorder, 300, "a run");
    EXPECT_EQ(recorder.Codes().back(), nFiles + 1);
    if (nStopAt > 0) {
      EXPECT_LT(recorder.Codes().size(), static_cast<size_t>(nFiles + 2));
    } else {  // each piece a group of its encodings
      EXPECT_EQ(static_cast<int>(ReadGroups().size()), nPieces);
    }
    ASSERT_EQ(DedupeDealloc(), 0);
  }
#ifdef TWINTONE_LEAK_CHECK
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer reported leaks above";
#endif
}

// Text and fingerprint keys used to be ordered inconsistently (each less than the
// other), which made a map holding both drop nodes: groups lost, their memory leaked.
TEST(ModeSwitchTest, TextAndFingerprintKeysInOneMapAreOrderedConsistently) {
  GroupKey text, finger;
  text.strKey = "Morning Theme";
  finger.pFinger = static_cast<int32_t*>(malloc(30 * sizeof(int32_t)));
  for (int i = 0; i < 30; ++i) finger.pFinger[i] = i;
  finger.nFingerLen = 30;
  EXPECT_NE(text < finger, finger < text);
}

INSTANTIATE_TEST_SUITE_P(BothModes, LeakTest,
                         ::testing::Values(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ALBUM,
                                           TWINTONE_MATCH_FINGERPRINT),
                         ModeName);

}  // namespace
}  // namespace twintone_test
