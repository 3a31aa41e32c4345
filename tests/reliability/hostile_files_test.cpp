// Runs over everything a music folder may hold besides music, in both modes: every
// entry gets its progress event, the run ends within a bound, and the good files
// among the hostile ones are still grouped.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures/audio_fixtures.h"
#include "fixtures/event_recorder.h"
#include "fixtures/hostile_files.h"
#include "fixtures/temp_dir.h"
#include "reliability/run_watch.h"
#include "twintone.h"

namespace twintone_test {
namespace {

enum class Mode { kText, kFingerprint };

class HostileFilesTest : public ::testing::TestWithParam<Mode> {
 protected:
  // Text mode keys by title and size, so only true copies group.
  int Flags() const {
    return GetParam() == Mode::kText ? TWINTONE_MATCH_TITLE | TWINTONE_MATCH_SIZE
                                     : TWINTONE_MATCH_FINGERPRINT;
  }

  std::string LoadCopy(const std::string& strSource, const std::string& strName) {
    const std::string strPath = dir_.Path(strName);
    CopyFile(strSource, strPath);
    EXPECT_EQ(AddToDedupeLists(strPath.c_str(), 0), 0) << strPath;
    return strPath;
  }

  // Starts a run over what is loaded, waits for its end (nSeconds at most) and
  // checks the events: start with N, progress 1..N carrying each loaded path
  // once, end with N + 1.
  void RunAndExpectEveryFileReported(std::vector<std::string> vecLoaded, int nFingerSeconds,
                                     int nSeconds) {
    ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder_, Flags(), nFingerSeconds, 0),
              0);
    WaitForEndOrDie(&recorder_, nSeconds, "a run over hostile files");
    const std::vector<RecordedEvent> events = recorder_.Events();
    const int n = static_cast<int>(vecLoaded.size());
    ASSERT_EQ(static_cast<int>(events.size()), n + 2);
    EXPECT_EQ(events.front().nCode, -1);
    EXPECT_EQ(events.front().nData, n);
    EXPECT_EQ(events.back().nCode, n + 1);
    std::vector<std::string> vecReported;
    for (int k = 1; k <= n; ++k) {
      EXPECT_EQ(events[static_cast<size_t>(k)].nCode, k);
      vecReported.push_back(events[static_cast<size_t>(k)].strText);
    }
    std::sort(vecLoaded.begin(), vecLoaded.end());
    std::sort(vecReported.begin(), vecReported.end());
    EXPECT_EQ(vecReported, vecLoaded);
  }

  void ExpectGroupedTogether(const std::string& strA, const std::string& strB) {
    const std::vector<std::string> vecGroup = GroupOf(ReadGroups(), strA);
    EXPECT_NE(std::find(vecGroup.begin(), vecGroup.end(), strB), vecGroup.end())
        << strA << " and " << strB << " are copies of one file";
  }

  TempDir dir_;
  EventRecorder recorder_;
};

TEST_P(HostileFilesTest, EveryHostileEntryIsReportedAndTheGoodFilesStillGroup) {
  const AudioCorpus& corpus = SharedAudioCorpus();
  std::vector<std::string> vecLoaded;
  for (const HostileFile& file : MakeHostileFiles(dir_.Root())) {
    ASSERT_EQ(LoadHostileFile(file), 0) << file.strWhat << ": " << file.strPath;
    vecLoaded.push_back(file.strPath);
  }
  // Two copies of one piece among them, one under a name that is not UTF-8.
  const std::string strSource = corpus.Path(2, AudioEncoding::kMp3At128);
  const std::string strGood = LoadCopy(strSource, "good.mp3");
  const std::string strOddName = LoadCopy(strSource, "\xff\xfe\xc0\x80-good.mp3");
  vecLoaded.push_back(strGood);
  vecLoaded.push_back(strOddName);

  // Ten seconds: enough words for a fingerprint to be grouped at all.
  RunAndExpectEveryFileReported(vecLoaded, 10, 600);
  ExpectGroupedTogether(strGood, strOddName);
  EXPECT_EQ(DedupeDealloc(), 0);
  EXPECT_EQ(GetLoadCounts(), 0);
}

TEST_P(HostileFilesTest, FilesGoneOrChangedBetweenIntakeAndRunAreSkipped) {
  const AudioCorpus& corpus = SharedAudioCorpus();
  const std::string strSource = corpus.Path(3, AudioEncoding::kOggVorbis);
  std::vector<std::string> vecLoaded;
  for (const char* pszName : {"a-deleted.ogg", "b-unreadable.ogg", "c-now-fifo.ogg",
                              "d-now-folder.ogg", "e-now-device.ogg", "f-kept.ogg",
                              "g-kept.ogg", "z-deleted-during-run.ogg"}) {
    vecLoaded.push_back(LoadCopy(strSource, pszName));
  }
  ASSERT_EQ(unlink(dir_.Path("a-deleted.ogg").c_str()), 0);
  // Running as root reads it anyway; the run must cope either way.
  ASSERT_EQ(chmod(dir_.Path("b-unreadable.ogg").c_str(), 0), 0);
  ASSERT_EQ(unlink(dir_.Path("c-now-fifo.ogg").c_str()), 0);
  ASSERT_EQ(mkfifo(dir_.Path("c-now-fifo.ogg").c_str(), 0644), 0);
  ASSERT_EQ(unlink(dir_.Path("d-now-folder.ogg").c_str()), 0);
  ASSERT_EQ(mkdir(dir_.Path("d-now-folder.ogg").c_str(), 0755), 0);
  ASSERT_EQ(unlink(dir_.Path("e-now-device.ogg").c_str()), 0);
  ASSERT_EQ(symlink("/dev/zero", dir_.Path("e-now-device.ogg").c_str()), 0);
  const std::string strLate = dir_.Path("z-deleted-during-run.ogg");
  recorder_.onEvent = [strLate](int nCode) {
    if (nCode == 1) unlink(strLate.c_str());
  };

  RunAndExpectEveryFileReported(vecLoaded, 10, 300);
  ExpectGroupedTogether(dir_.Path("f-kept.ogg"), dir_.Path("g-kept.ogg"));
}

// With the whole file to fingerprint, an endless device or a pipe nobody writes to
// would hold the run for ever if any reader opened it.
TEST_P(HostileFilesTest, PipesAndEndlessDevicesDoNotHoldAWholeFileRun) {
  std::vector<std::string> vecLoaded;
  for (const HostileFile& file : MakeUnopenableEntries(dir_.Root())) {
    ASSERT_EQ(LoadHostileFile(file), 0) << file.strWhat;
    vecLoaded.push_back(file.strPath);
  }
  ASSERT_EQ(vecLoaded.size(), 6u);
  RunAndExpectEveryFileReported(vecLoaded, 0, 60);
  EXPECT_EQ(GetGroupIdCounts(), 0);
}

INSTANTIATE_TEST_SUITE_P(BothModes, HostileFilesTest,
                         ::testing::Values(Mode::kText, Mode::kFingerprint),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return info.param == Mode::kText ? "Text" : "Fingerprint";
                         });

}  // namespace
}  // namespace twintone_test
