// Full runs over the audio corpus in both modes, stopped runs included, leave no
// allocation behind once DedupeDealloc has run: records, keys, fingerprints, decoder
// tasks, Chromaprint contexts and the prefetch pool's results. Checked with
// LeakSanitizer in the AddressSanitizer build; other builds run the same work
// without the check.
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

class LeakTest : public ::testing::TestWithParam<int> {
 protected:
  void LoadCorpus() {
    const AudioCorpus& corpus = SharedAudioCorpus();
    ASSERT_EQ(AddToDedupeLists(corpus.strDir.c_str(), 0), 0);
    ASSERT_EQ(GetLoadCounts(), static_cast<int>(corpus.vecPieces.size() * AllEncodings().size()));
  }

  // Nothing allocated since the process began is unreachable now.
  void ExpectNoLeak() {
#ifdef TWINTONE_LEAK_CHECK
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer reported leaks above";
#endif
  }
};

// A full run, then runs stopped at the first file and halfway.
TEST_P(LeakTest, FullAndStoppedRunsThenDeallocLeaveNothing) {
  const int nFiles = static_cast<int>(SharedAudioCorpus().vecPieces.size() * AllEncodings().size());
  for (int nStopAt : {0, 1, nFiles / 2}) {
    LoadCorpus();
    EventRecorder recorder;
    recorder.onEvent = [nStopAt](int nCode) {
      if (nCode == nStopAt) QuitDedupeThread();
    };
    ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, GetParam(), 0, 0), 0);
    WaitForEndOrDie(&recorder, 300, "a run");
    EXPECT_EQ(recorder.Codes().back(), nFiles + 1);
    if (nStopAt > 0) {
      EXPECT_LT(recorder.Codes().size(), static_cast<size_t>(nFiles + 2));
    } else {  // four pieces, each a group of its encodings
      EXPECT_EQ(ReadGroups().size(), SharedAudioCorpus().vecPieces.size());
    }
    ASSERT_EQ(DedupeDealloc(), 0);
  }
  ExpectNoLeak();
}

// A host that runs in one mode and then in the other without DedupeDealloc between
// puts text keys and fingerprint keys into one group map. Their ordering used to be
// inconsistent across the two kinds (each less than the other), which made the map
// drop nodes: groups lost, their memory leaked.
TEST(ModeSwitchTest, TextAndFingerprintKeysInOneMapAreOrderedConsistently) {
  GroupKey text, finger;
  text.strKey = "Morning Theme";
  finger.pFinger = static_cast<int32_t*>(malloc(30 * sizeof(int32_t)));
  for (int i = 0; i < 30; ++i) finger.pFinger[i] = i;
  finger.nFingerLen = 30;
  EXPECT_NE(text < finger, finger < text);
}

TEST_P(LeakTest, RunsInBothModesWithoutDeallocBetweenLoseNothing) {
  LoadCorpus();
  const int nOther = GetParam() == TWINTONE_MATCH_FINGERPRINT
                         ? TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ALBUM
                         : TWINTONE_MATCH_FINGERPRINT;
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, GetParam(), 0, 0), 0);
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, nOther, 0, 0), 0);
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, GetParam(), 0, 0), 0);
  EXPECT_GE(GetGroupIdCounts(), static_cast<int>(SharedAudioCorpus().vecPieces.size()));
  ASSERT_EQ(DedupeDealloc(), 0);
  ExpectNoLeak();
}

INSTANTIATE_TEST_SUITE_P(BothModes, LeakTest,
                         ::testing::Values(TWINTONE_MATCH_TITLE | TWINTONE_MATCH_ALBUM,
                                           TWINTONE_MATCH_FINGERPRINT),
                         ModeName);

}  // namespace
}  // namespace twintone_test
