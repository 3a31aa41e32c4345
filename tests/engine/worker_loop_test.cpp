// The worker's run as the host sees it: configuration, events, their order and
// data, pause, continue and stop from the host's thread and from inside the
// callback, a second start, and the data lock during a run.
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/event_recorder.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "twintone_ext.h"

using namespace twintone;

namespace {

class WorkerLoopTest : public ::testing::Test {
 protected:
  // Loads n files named file0.mp3 ... with distinct titles and nUserData 100 + i.
  void LoadFiles(int n) {
    for (int i = 0; i < n; ++i) {
      HostRecord record;
      record.strPath = dir_.WriteFile("file" + std::to_string(i) + ".mp3", "x");
      record.strTitle = "T" + std::to_string(i);
      record.nUserData = 100 + i;
      ASSERT_EQ(AddHostRecord(record), 0);
    }
  }
  void StartAsync() {
    ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder_, TWINTONE_MATCH_TITLE, 0, 0),
              0);
  }

  TempDir dir_;
  EventRecorder recorder_;
};

// Progress events carry each file's path and user data, in path order.
TEST_F(WorkerLoopTest, FilesAreVisitedInPathOrderNotIntakeOrder) {
  for (const char* pszName : {"beta.mp3", "alpha.mp3", "gamma.mp3"}) {
    HostRecord record;
    record.strPath = dir_.WriteFile(pszName, "x");
    record.nUserData = pszName[0];
    ASSERT_EQ(AddHostRecord(record), 0);
  }
  StartAsync();
  ASSERT_TRUE(recorder_.WaitForEnd());
  std::vector<std::tuple<int, int, std::string>> vecSeen;
  for (const RecordedEvent& e : recorder_.Events()) {
    vecSeen.emplace_back(e.nCode, e.nData, e.strText);
  }
  const std::string& d = dir_.Root();
  EXPECT_EQ(vecSeen, (decltype(vecSeen){{-1, 3, ""},
                                        {1, 'a', d + "/alpha.mp3"},
                                        {2, 'b', d + "/beta.mp3"},
                                        {3, 'g', d + "/gamma.mp3"},
                                        {4, 0, ""}}));
}

// What the host does inside an event, and the codes the run sends: a file that
// cannot be keyed still gets its event; a stop ends with N + 1; a second start is
// refused; a stop request left by a read before the start is cleared by it.
TEST_F(WorkerLoopTest, EventsFollowTheHostsRequests) {
  int nSecondStart = 0;
  const struct {
    int nFiles;
    bool bMissingFirst, bReadFirst;
    std::function<void(int)> onEvent;
    std::vector<int> vecCodes;
  } cases[] = {
      {0, false, false, nullptr, {-1, 1}},
      {4, true, false, [](int n) { if (n == 3) QuitDedupeThread(); }, {-1, 1, 2, 3, 6}},
      {1, false, false,
       [&](int n) { if (n == 1) nSecondStart = StartDedupeThread(nullptr, nullptr, 0, 0, 0); },
       {-1, 1, 2}},
      {1, false, true, nullptr, {-1, 1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    ASSERT_EQ(DedupeDealloc() == 0 || g_pCDeDup == nullptr, true);
    if (c.bMissingFirst) {
      HostRecord gone;
      gone.strPath = dir_.Path("afile-missing.mp3");
      ASSERT_EQ(AddHostRecord(gone), 0);
    }
    LoadFiles(c.nFiles);
    if (c.bReadFirst) {
      EXPECT_EQ(GetLoadCounts(), 1);  // sets the stop request
    }
    EventRecorder recorder;
    recorder.onEvent = c.onEvent;
    ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_TITLE, 0, 0), 0);
    ASSERT_TRUE(recorder.WaitForEnd());
    EXPECT_EQ(recorder.Codes(), c.vecCodes);
    EXPECT_FALSE(recorder.Events().front().bOnHostThread);
  }
  EXPECT_EQ(nSecondStart, -1);
}

TEST_F(WorkerLoopTest, PauseHoldsTheRunWithTheDataLockUntilContinue) {
  LoadFiles(3);
  recorder_.onEvent = [](int nCode) {
    if (nCode == 1) PauseDedupeThread();
  };
  StartAsync();
  ASSERT_TRUE(recorder_.WaitForCode(1));
  // Held: several poll periods pass without a second file, and the data stays locked.
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  EXPECT_EQ(recorder_.Codes(), (std::vector<int>{-1, 1}));
  HostRecord late;
  late.strPath = dir_.Path("late.mp3");
  EXPECT_EQ(AddHostRecord(late), -1);
  EXPECT_EQ(ContinueDedupeThread(), 0);
  ASSERT_TRUE(recorder_.WaitForEnd());
  EXPECT_EQ(recorder_.Codes(), (std::vector<int>{-1, 1, 2, 3, 4}));
}

TEST_F(WorkerLoopTest, StopWhilePausedEndsAndContinueDoesNotResume) {
  LoadFiles(3);
  recorder_.onEvent = [](int nCode) {
    if (nCode == -1) PauseDedupeThread();
  };
  StartAsync();
  ASSERT_TRUE(recorder_.WaitForCode(-1));
  EXPECT_EQ(QuitDedupeThread(), 0);
  EXPECT_EQ(ContinueDedupeThread(), 0);
  ASSERT_TRUE(recorder_.WaitForEnd());
  EXPECT_EQ(recorder_.Codes(), (std::vector<int>{-1, 4}));
}

// Inside an event every call that takes the data refuses; outside, the extension's
// readers wait for the run instead of stopping it.
TEST_F(WorkerLoopTest, InsideTheCallbackIntakeAndReadingRefuseInsteadOfDeadlocking) {
  LoadFiles(2);
  twintone_file_info info{};
  info.nStructSize = sizeof(info) - 1;
  EXPECT_EQ(twintone_file_info_at(0, &info), -1);
  info.nStructSize = sizeof(info);
  EXPECT_EQ(twintone_file_info_at(-1, &info), -2);
  std::vector<int> vecInside;
  recorder_.onEvent = [&](int nCode) {
    if (nCode != 1) return;
    twintone_file_info inner{};
    inner.nStructSize = sizeof(inner);
    vecInside = {twintone_file_count(),
                 twintone_file_info_at(0, &inner),
                 twintone_set_key_compare(TWINTONE_KEY_LOOSE),
                 GetLoadCounts(),
                 GetGroupIdCounts(),
                 AddToDedupeLists(dir_.Root().c_str(), 0),
                 DedupeDealloc()};
  };
  StartAsync();
  EXPECT_EQ(twintone_file_count(), 2);
  ASSERT_TRUE(recorder_.WaitForEnd());
  EXPECT_EQ(vecInside, std::vector<int>(7, -1));
  // DedupeDealloc's stop request ended the run after the first file.
  EXPECT_EQ(recorder_.Codes(), (std::vector<int>{-1, 1, 3}));
  ASSERT_EQ(twintone_file_info_at(0, &info), 0);
  EXPECT_EQ(std::make_pair(info.nOutcome, info.nDecodedMs),
            std::make_pair(TWINTONE_OUTCOME_ALONE, -1));
}

TEST_F(WorkerLoopTest, ThresholdComesFromPercentOnlyWithinOneToHundred) {
  CDedupeMusic engine;
  EXPECT_FLOAT_EQ(engine.fThreshold, 0.8f);
  const std::pair<int, float> cases[] = {{0, 0.8f},   {101, 0.8f}, {-5, 0.8f},
                                         {1, 0.01f},  {100, 1.0f}, {75, 0.75f}};
  for (const auto& [nPercent, fExpected] : cases) {
    engine.SetConfig(nullptr, nullptr, 0, 30, nPercent);
    EXPECT_EQ(engine.fThreshold, fExpected) << nPercent;
  }
}

}  // namespace
