// The engine's entry points before and after it exists, its configuration, and the
// synchronous and asynchronous starts.
#include <thread>

#include <gtest/gtest.h>

#include "engine/dedupe_music.h"
#include "fixtures/event_recorder.h"
#include "fixtures/host_records.h"
#include "fixtures/temp_dir.h"
#include "twintone.h"

namespace {

class EngineLifecycleTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(EngineLifecycleTest, EntryPointsWithoutAnEngineAnswerMinusOne) {
  ASSERT_EQ(g_pCDeDup, nullptr);
  tagInMusicDedupInfo* pInfo = nullptr;
  int nCount = 0;
  EXPECT_EQ(PauseDedupeThread(), -1);
  EXPECT_EQ(ContinueDedupeThread(), -1);
  EXPECT_EQ(QuitDedupeThread(), -1);
  EXPECT_EQ(DedupeDealloc(), -1);
  EXPECT_EQ(GetLoadCounts(), -1);
  EXPECT_EQ(GetGroupIdCounts(), -1);
  EXPECT_EQ(GetGroupRef(0, &pInfo, &nCount, 0), -1);
  EXPECT_EQ(g_pCDeDup, nullptr);
}

TEST_F(EngineLifecycleTest, ThresholdComesFromPercentOnlyWithinOneToHundred) {
  CDedupeMusic engine;
  EXPECT_FLOAT_EQ(engine.fThreshold, 0.8f);
  const std::pair<int, float> cases[] = {{0, 0.8f},   {101, 0.8f}, {-5, 0.8f},
                                         {1, 0.01f},  {100, 1.0f}, {75, 0.75f}};
  for (const auto& [nPercent, fExpected] : cases) {
    engine.SetConfig(nullptr, nullptr, 0, 30, nPercent);
    EXPECT_EQ(engine.fThreshold, fExpected) << nPercent;
  }
  int nMarker = 0;
  engine.SetConfig(&EventRecorder::Callback, &nMarker, 0x1234, -7, 50);
  EXPECT_EQ(engine.pfnNotify, &EventRecorder::Callback);
  EXPECT_EQ(engine.pUser, &nMarker);
  EXPECT_EQ(engine.nMatchFlags, 0x1234);
  EXPECT_EQ(engine.nFingerSeconds, -7);
}

TEST_F(EngineLifecycleTest, EmptyRunSendsStartWithZeroAndEndWithOne) {
  EventRecorder recorder;
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_TITLE, 0, 0), 0);
  ASSERT_TRUE(recorder.WaitForEnd());
  std::vector<RecordedEvent> events = recorder.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].nCode, -1);
  EXPECT_EQ(events[0].nData, 0);
  EXPECT_EQ(events[0].strText, "");
  EXPECT_EQ(events[1].nCode, 1);
  EXPECT_EQ(events[1].nData, 0);
  EXPECT_FALSE(events[0].bOnHostThread || events[1].bOnHostThread);
  EXPECT_EQ(GetGroupIdCounts(), 0);
}

TEST_F(EngineLifecycleTest, StartWithoutCallbackReturnsAfterTheRun) {
  for (int i = 0; i < 3; ++i) {
    HostRecord record;
    record.strPath = dir_.WriteFile("song" + std::to_string(i) + ".mp3", "x");
    record.strTitle = "Same";
    ASSERT_EQ(AddHostRecord(record), 0);
  }
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_TITLE, 0, 0), 0);
  // The run is over: intake is accepted again at once and the group is there.
  HostRecord late;
  late.strPath = dir_.Path("late.mp3");
  EXPECT_EQ(AddHostRecord(late), 0);
  EXPECT_EQ(GetGroupIdCounts(), 1);
  EXPECT_EQ(GroupSize(0), 3);
}

TEST_F(EngineLifecycleTest, DeallocEmptiesEverythingAndKeepsTheEngine) {
  HostRecord a, b;
  a.strPath = dir_.WriteFile("a.mp3", "x");
  b.strPath = dir_.WriteFile("b.mp3", "x");
  ASSERT_EQ(AddHostRecord(a), 0);
  ASSERT_EQ(AddHostRecord(b), 0);
  ASSERT_EQ(StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_TITLE, 0, 0), 0);
  ASSERT_EQ(GetGroupIdCounts(), 1);
  CDedupeMusic* pEngine = g_pCDeDup;
  EXPECT_EQ(DedupeDealloc(), 0);
  EXPECT_EQ(g_pCDeDup, pEngine);
  EXPECT_EQ(GetLoadCounts(), 0);
  EXPECT_EQ(GetGroupIdCounts(), 0);
  EXPECT_TRUE(pEngine->mapGroups.empty());
  // Loading starts anew with the same paths.
  EXPECT_EQ(AddHostRecord(a), 0);
}

TEST_F(EngineLifecycleTest, StopRequestFromReadingBeforeTheRunIsClearedByTheStart) {
  HostRecord a;
  a.strPath = dir_.WriteFile("a.mp3", "x");
  ASSERT_EQ(AddHostRecord(a), 0);
  EXPECT_EQ(GetLoadCounts(), 1);  // sets the stop request
  EventRecorder recorder;
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_TITLE, 0, 0), 0);
  ASSERT_TRUE(recorder.WaitForEnd());
  EXPECT_EQ(recorder.Codes(), (std::vector<int>{-1, 1, 2}));
}

TEST_F(EngineLifecycleTest, SecondStartWhileARunIsActiveIsRefused) {
  HostRecord a;
  a.strPath = dir_.WriteFile("a.mp3", "x");
  ASSERT_EQ(AddHostRecord(a), 0);
  EventRecorder recorder;
  int nSecondStart = 0;
  recorder.onEvent = [&](int nCode) {
    if (nCode == 1) nSecondStart = StartDedupeThread(nullptr, nullptr, TWINTONE_MATCH_TITLE, 0, 0);
  };
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_TITLE, 0, 0), 0);
  ASSERT_TRUE(recorder.WaitForEnd());
  EXPECT_EQ(nSecondStart, -1);
  EXPECT_EQ(recorder.Codes(), (std::vector<int>{-1, 1, 2}));
}

}  // namespace
