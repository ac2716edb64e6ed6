// The one wake-up: posted once while outstanding, and a refused post runs the work now or waits
// for the next request or tick.
#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "toolkit/WakeUp.h"

namespace {

constexpr uint32_t kWake = 0x8123;

struct WakeUpWorld {
  TFakePlatform Platform;
  int Ran = 0;      // work run by a refused post
  int Arrived = 0;  // messages that found their work due
  int Stray = 0;    // messages that found nothing due
  std::unique_ptr<TWakeUp> Wake;
  std::unique_ptr<TMessageWindow> Window = Platform.CreateMessageWindow([this](TMessage& m) {
    if (m.Msg != kWake) return;
    if (Wake->Arrived()) {
      ++Arrived;
      Wake->Done();
    } else {
      ++Stray;
    }
  });
  explicit WakeUpWorld(bool runNow) {
    Wake = runNow ? std::make_unique<TWakeUp>([this] { ++Ran; }) : std::make_unique<TWakeUp>();
    Wake->SetTarget(Window->Handle(), kWake);
  }
};

TEST(WakeUp, PostsOnceUntilHandledAndARefusedPostRunsNowOrOnTheNextTick) {
  struct Row {
    const char* What;
    bool RunNow;
    std::function<void(WakeUpWorld&)> Steps;
    int Ran, Arrived, Stray;
  };
  const Row rows[] = {
      {"posted once while outstanding", false,
       [](WakeUpWorld& w) {
         w.Wake->Request();
         w.Wake->Request();
         EXPECT_EQ(w.Platform.Queued(kWake), 1u);
         w.Platform.ProcessMessages();
       },
       0, 1, 0},
      {"handled: a new request posts again", false,
       [](WakeUpWorld& w) {
         w.Wake->Request();
         w.Platform.ProcessMessages();
         w.Wake->Request();
         w.Platform.ProcessMessages();
       },
       0, 2, 0},
      {"refused: nothing runs until the next tick posts it", false,
       [](WakeUpWorld& w) {
         w.Platform.RefusedPost = kWake;
         w.Wake->Request();
         w.Platform.RefusedPost = 0;
         EXPECT_FALSE(w.Wake->Outstanding());
         w.Platform.ProcessMessages();
         w.Wake->Tick();
         w.Wake->Tick();
         w.Platform.ProcessMessages();
       },
       0, 1, 0},
      {"refused with work to run now: it runs at once, and the next request posts", true,
       [](WakeUpWorld& w) {
         w.Platform.RefusedPost = kWake;
         w.Wake->Request();
         w.Platform.RefusedPost = 0;
         w.Wake->Tick();  // nothing is owed
         w.Platform.ProcessMessages();
         w.Wake->Request();
         w.Platform.ProcessMessages();
       },
       1, 1, 0},
      {"cancelled: its message finds nothing due", false,
       [](WakeUpWorld& w) {
         w.Wake->Request();
         w.Wake->Cancel();
         w.Platform.ProcessMessages();
       },
       0, 0, 1},
      {"no target: nothing is posted", false,
       [](WakeUpWorld& w) {
         w.Wake->SetTarget(0, kWake);
         w.Wake->Request();
         EXPECT_FALSE(w.Wake->Outstanding());
         w.Platform.ProcessMessages();
       },
       0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    WakeUpWorld w(row.RunNow);
    row.Steps(w);
    EXPECT_EQ(w.Ran, row.Ran);
    EXPECT_EQ(w.Arrived, row.Arrived);
    EXPECT_EQ(w.Stray, row.Stray);
  }
}

}  // namespace
