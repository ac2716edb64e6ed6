// The one wake-up: posted once while outstanding, and a refused post runs the work now or waits
// for the next request or tick.
#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "toolkit/WakeUp.h"

namespace {

TEST(WakeUp, PostsOnceUntilHandledAndARefusedPostRunsNowOrOnTheNextTick) {
  struct Row {
    const char* Script;  // r request, p pump, t tick, c cancel, x posts refused, a posts allowed
    bool RunNow;
    int Ran, Arrived, Stray;
  };
  const Row rows[] = {
      {"rrp", false, 0, 1, 0},     // posted once while outstanding
      {"rprp", false, 0, 2, 0},    // handled: a new request posts again
      {"xraptp", false, 0, 1, 0},  // refused: the next tick posts it
      {"xrarp", false, 0, 1, 0},   // or the next request
      {"xratprp", true, 1, 1, 0},  // refused with work to run now: it runs at once, nothing owed
      {"rcp", false, 0, 0, 1},     // cancelled: its message finds nothing due
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Script);
    TFakePlatform platform;
    int ran = 0, arrived = 0, stray = 0;
    TWakeUp wake = row.RunNow ? TWakeUp([&] { ++ran; }) : TWakeUp();
    auto window = platform.CreateMessageWindow([&](TMessage& m) {
      if (m.Msg != 0x8123) return;
      wake.Arrived() ? ++arrived : ++stray;
      wake.Done();
    });
    wake.SetTarget(window->Handle(), 0x8123);
    for (const char* s = row.Script; *s; ++s) switch (*s) {
        case 'r': wake.Request(); break;
        case 'p': platform.ProcessMessages(); break;
        case 't': wake.Tick(); break;
        case 'c': wake.Cancel(); break;
        case 'x': platform.RefusedPost = 0x8123; break;
        case 'a': platform.RefusedPost = 0; break;
      }
    EXPECT_EQ(ran, row.Ran);
    EXPECT_EQ(arrived, row.Arrived);
    EXPECT_EQ(stray, row.Stray);
  }
}

}  // namespace
