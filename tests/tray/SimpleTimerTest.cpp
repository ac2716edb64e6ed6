#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "tray/SimpleTimer.h"

namespace {

struct Counter {
  int Ticks = 0;
  TObject* LastSender = nullptr;
  TNotifyEvent Handler() {
    return [this](TObject* s) {
      ++Ticks;
      LastSender = s;
    };
  }
};

THandle SharedWindow() { return TSimpleTimerHandler::Instance()->WindowHandle(); }

}  // namespace

TEST(SimpleTimer, DefaultsAndZeroIntervalNeverStarts) {
  TFakePlatform platform;
  TSimpleTimer plain;
  EXPECT_EQ(plain.Interval(), 1000u);
  EXPECT_FALSE(plain.Enabled());
  EXPECT_FALSE(plain.AutoDisable());
  Counter c;
  TSimpleTimer timer(0, c.Handler());
  EXPECT_FALSE(timer.StartTimer());
  timer.SetEnabled(true);
  EXPECT_FALSE(timer.Enabled());
  platform.Advance(10000);
  EXPECT_EQ(c.Ticks, 0);
  EXPECT_TRUE(platform.TimersOf(SharedWindow()).empty());
}

TEST(SimpleTimer, TicksWithItselfAsSenderAndStopsWhenDisabled) {
  TFakePlatform platform;
  Counter c;
  TSimpleTimer timer(100, c.Handler());
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(TSimpleTimerHandler::Instance()->RunningCount(), 1u);
  platform.Advance(350);
  EXPECT_EQ(c.Ticks, 3);
  EXPECT_EQ(c.LastSender, &timer);
  EXPECT_TRUE(timer.StopTimer(true));
  EXPECT_FALSE(timer.StopTimer(true));  // nothing left to kill
  EXPECT_EQ(TSimpleTimerHandler::Instance()->RunningCount(), 0u);
  platform.Advance(1000);
  EXPECT_EQ(c.Ticks, 3);
}

TEST(SimpleTimer, ReenablingARunningTimerRestartsItsPeriod) {
  TFakePlatform platform;
  Counter c;
  TSimpleTimer timer(500, c.Handler());
  timer.SetEnabled(true);
  for (int i = 0; i < 10; ++i) {
    platform.Advance(300);
    timer.SetEnabled(true);
  }
  EXPECT_EQ(c.Ticks, 0);
  EXPECT_EQ(TSimpleTimerHandler::Instance()->RunningCount(), 1u);
  platform.Advance(500);
  EXPECT_EQ(c.Ticks, 1);
}

TEST(SimpleTimer, NewIntervalRestartsButTheSameOneDoesNot) {
  TFakePlatform platform;
  Counter c;
  TSimpleTimer timer(500, c.Handler());
  timer.SetEnabled(true);
  platform.Advance(400);
  timer.SetInterval(500);  // unchanged: the tick is still due at 500
  platform.Advance(100);
  EXPECT_EQ(c.Ticks, 1);
  platform.Advance(400);
  timer.SetInterval(300);  // restarts from now
  platform.Advance(299);
  EXPECT_EQ(c.Ticks, 1);
  platform.Advance(1);
  EXPECT_EQ(c.Ticks, 2);
  EXPECT_EQ(platform.TimersOf(SharedWindow()).at(timer.Id()), 300u);
}

TEST(SimpleTimer, ZeroIntervalPausesWhileEnabledAndANewIntervalResumes) {
  TFakePlatform platform;
  Counter c;
  TSimpleTimer timer(100, c.Handler());
  timer.SetEnabled(true);
  platform.Advance(100);
  timer.SetInterval(0);
  EXPECT_TRUE(timer.Enabled());
  platform.Advance(1000);
  EXPECT_EQ(c.Ticks, 1);
  EXPECT_TRUE(platform.TimersOf(SharedWindow()).empty());
  timer.SetInterval(200);
  platform.Advance(1000);
  EXPECT_EQ(c.Ticks, 6);
}

TEST(SimpleTimer, ClearingTheHandlerStopsTicksButKeepsEnabled) {
  TFakePlatform platform;
  Counter c;
  TSimpleTimer timer(100, c.Handler());
  timer.SetEnabled(true);
  timer.SetOnTimer(nullptr);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_TRUE(platform.TimersOf(SharedWindow()).empty());
  timer.SetOnTimer(c.Handler());  // assigning never starts it
  platform.Advance(1000);
  EXPECT_EQ(c.Ticks, 0);
  timer.SetEnabled(true);
  platform.Advance(100);
  EXPECT_EQ(c.Ticks, 1);
}

TEST(SimpleTimer, AutoDisableTicksOncePerEnablingAndTheHandlerMayReenable) {
  TFakePlatform platform;
  TSimpleTimer timer(100, nullptr);
  timer.SetAutoDisable(true);
  int ticks = 0;
  bool enabledInside = true;
  bool rearm = true;
  timer.SetOnTimer([&](TObject*) {
    ++ticks;
    enabledInside = timer.Enabled();
    if (rearm) {
      rearm = false;
      timer.SetEnabled(true);
    }
  });
  timer.SetEnabled(true);
  platform.Advance(1000);
  EXPECT_EQ(ticks, 2);  // the first tick re-armed it once
  EXPECT_FALSE(enabledInside);
  EXPECT_FALSE(timer.Enabled());
}

TEST(SimpleTimer, RefusedTimerReportsFailureAndStaysDisabled) {
  TFakePlatform platform;
  platform.TimersRefused = true;
  TSimpleTimer timer(100, [](TObject*) {});
  EXPECT_FALSE(timer.StartTimer());
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(TSimpleTimerHandler::Instance()->RunningCount(), 0u);
}

TEST(SimpleTimer, TimersShareOneWindowAndTickIndependently) {
  TFakePlatform platform;
  Counter a, b;
  {
    TSimpleTimer first(100, a.Handler());
    TSimpleTimer second(100, b.Handler());
    ASSERT_NE(first.Id(), second.Id());
    EXPECT_EQ(TSimpleTimerHandler::Instance()->RefCount(), 2u);
    first.SetEnabled(true);
    platform.Advance(50);
    second.SetEnabled(true);
    platform.Advance(150);
    EXPECT_EQ(a.Ticks, 2);
    EXPECT_EQ(b.Ticks, 1);
    EXPECT_EQ(a.LastSender, &first);
    EXPECT_EQ(b.LastSender, &second);
    EXPECT_EQ(platform.TimersOf(SharedWindow()).size(), 2u);
  }
  EXPECT_EQ(TSimpleTimerHandler::Instance(), nullptr);
}

TEST(SimpleTimer, DestroyingARunningTimerStopsItAndTheLastOneTakesTheWindow) {
  TFakePlatform platform;
  Counter c;
  THandle firstWindow = 0;
  auto keeper = std::make_unique<TSimpleTimer>();
  {
    TSimpleTimer timer(100, c.Handler());
    timer.SetEnabled(true);
    firstWindow = SharedWindow();
  }
  EXPECT_TRUE(platform.TimersOf(firstWindow).empty());
  platform.Advance(500);
  EXPECT_EQ(c.Ticks, 0);
  ASSERT_NE(TSimpleTimerHandler::Instance(), nullptr);  // the keeper holds it
  keeper.reset();
  EXPECT_EQ(TSimpleTimerHandler::Instance(), nullptr);
  TSimpleTimer next(100, c.Handler());
  EXPECT_NE(SharedWindow(), firstWindow);  // a new window for the next timer
  next.SetEnabled(true);
  platform.Advance(100);
  EXPECT_EQ(c.Ticks, 1);
}

TEST(SimpleTimer, StaleTickOfAFreedTimerReachesNobody) {
  TFakePlatform platform;
  Counter c;
  TSimpleTimer survivor(1000, c.Handler());
  uint32_t goneId;
  {
    TSimpleTimer gone(1000, c.Handler());
    goneId = gone.Id();
  }
  platform.Post(SharedWindow(), wmTimer, goneId, 0);
  platform.ProcessMessages();
  EXPECT_EQ(c.Ticks, 0);
}
