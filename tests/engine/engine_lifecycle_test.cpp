// The engine's entry points before and after it exists, its configuration, and the
// synchronous and asynchronous starts.
#include <tuple>

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

TEST_F(EngineLifecycleTest, ThresholdComesFromPercentOnlyWithinOneToHundred) {
  CDedupeMusic engine;
  EXPECT_FLOAT_EQ(engine.fThreshold, 0.8f);
  const std::pair<int, float> cases[] = {{0, 0.8f},   {101, 0.8f}, {-5, 0.8f},
                                         {1, 0.01f},  {100, 1.0f}, {75, 0.75f}};
  for (const auto& [nPercent, fExpected] : cases) {
    engine.SetConfig(nullptr, nullptr, 0, 30, nPercent);
    EXPECT_EQ(engine.fThreshold, fExpected) << nPercent;
  }
}

TEST_F(EngineLifecycleTest, EmptyRunSendsStartWithZeroAndEndWithOne) {
  EventRecorder recorder;
  ASSERT_EQ(StartDedupeThread(&EventRecorder::Callback, &recorder, TWINTONE_MATCH_TITLE, 0, 0), 0);
  ASSERT_TRUE(recorder.WaitForEnd());
  std::vector<RecordedEvent> events = recorder.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(std::make_tuple(events[0].nCode, events[0].nData, events[0].strText),
            std::make_tuple(-1, 0, std::string()));
  EXPECT_EQ(std::make_pair(events[1].nCode, events[1].nData), std::make_pair(1, 0));
  EXPECT_FALSE(events[0].bOnHostThread || events[1].bOnHostThread);
  EXPECT_EQ(GetGroupIdCounts(), 0);
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
