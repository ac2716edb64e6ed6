#include <gtest/gtest.h>

#include "app/SyncRules.h"
#include "toolkit/Platform.h"

TEST(SyncRules, OneShotFromNameAndArguments) {
  EXPECT_TRUE(IsOneShot("C:\\x\\SETX1.EXE", {}));
  EXPECT_TRUE(IsOneShot("C:\\x\\KairotsuX1.exe", {}));
  EXPECT_FALSE(IsOneShot("C:\\x\\setx1y.exe", {}));     // x1 inside the name
  EXPECT_FALSE(IsOneShot("C:\\x1\\Kairotsu.exe", {}));  // x1 in the directory
  EXPECT_FALSE(IsOneShot("C:\\x\\1.exe", {}));
  EXPECT_TRUE(IsOneShot("Kairotsu.exe", {"-q", "/1x"}));
  EXPECT_TRUE(IsOneShot("Kairotsu.exe", {"-1"}));
  EXPECT_FALSE(IsOneShot("Kairotsu.exe", {"/2", "/", "1", "x1"}));
}

TEST(SyncRules, GuardedMinutes) {
  for (int m : {0, 27, 28, 29, 30, 57, 58, 59}) EXPECT_TRUE(IsGuardedMinute(m)) << m;
  for (int m : {1, 26, 31, 56, 15, 45}) EXPECT_FALSE(IsGuardedMinute(m)) << m;
}

TEST(SyncRules, AppliedTimeAddsNineHoursAndTheOffset) {
  TSystemTime st = DateTimeToSystemTime(AppliedLocalTime(EncodeDate(2024, 1, 1), 30, 90));
  EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20240101);
  EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 103030);
  // 1439 minutes and 59 seconds on top of 9 hours roll the date.
  st = DateTimeToSystemTime(AppliedLocalTime(EncodeDate(2024, 12, 31) + EncodeTime(23, 0, 0, 0), 59, 1439));
  EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20250102);
  EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 75959);
  // Out-of-range offsets are brought into range instead of breaking the time of day.
  st = DateTimeToSystemTime(AppliedLocalTime(EncodeDate(2024, 1, 1), 75, 5000));
  EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 85959);
  st = DateTimeToSystemTime(AppliedLocalTime(EncodeDate(2024, 1, 1), -5, -1));
  EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 90000);
}

TEST(SyncRules, TheTimeToSetIsTheServersTimeCarriedForwardToNow) {
  struct Case {
    const char* What;
    double DelayMs;
    uint32_t ReadTick, NowTick;
    int OffsetSec, OffsetMin;
    double ExpectedMsAfter9;  // milliseconds after 09:00:00 local on the transmit date
  };
  const Case cases[] = {
      {"handled at once, no delay", 0, 1000, 1000, 0, 0, 0},
      {"half the round trip is the way back", 400, 1000, 1000, 0, 0, 200},
      {"handled 3 s after it was read", 400, 1000, 4000, 0, 0, 3200},
      {"the tick counter wraps meanwhile", 0, 0xFFFFF830u, 1000, 0, 0, 3000},
      {"a negative delay (impossible stamps) moves nothing back", -50, 1000, 1000, 0, 0, 0},
      {"with the user's offsets", 400, 1000, 4000, 30, 90, 3200 + (90 * 60 + 30) * 1000.0},
  };
  const TDateTime transmit = EncodeDate(2024, 1, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const TDateTime t = LocalTimeToSet(transmit, c.DelayMs, c.ReadTick, c.NowTick, c.OffsetSec, c.OffsetMin);
    EXPECT_NEAR((t - transmit - 9.0 / 24.0) * 86400000.0, c.ExpectedMsAfter9, 0.01);
  }
}
