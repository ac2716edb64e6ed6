#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "toolkit/Timer.h"

TEST(ToolkitTimer, TicksWhileEnabledAndRestartsOnNewInterval) {
  TFakePlatform platform;
  TTimer timer(nullptr);
  int ticks = 0;
  timer.OnTimer = [&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    ++ticks;
  };
  timer.SetInterval(100);
  platform.Advance(250);
  EXPECT_EQ(ticks, 2);
  timer.SetInterval(1000);  // restarts: next tick 1000 ms from now
  platform.Advance(999);
  EXPECT_EQ(ticks, 2);
  platform.Advance(1);
  EXPECT_EQ(ticks, 3);
  timer.SetEnabled(false);
  platform.Advance(5000);
  EXPECT_EQ(ticks, 3);
  timer.SetEnabled(true);
  timer.SetInterval(0);
  platform.Advance(5000);
  EXPECT_EQ(ticks, 3);
}
