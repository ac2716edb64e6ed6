#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "fakes/TempFolder.h"
#include "log/IpLog.h"
#include "log/LogFile.h"

namespace {

struct EventLogFixture : ::testing::Test {
  TFakePlatform Platform;  // local time 2024-01-01 09:00:00 (UTC+9)
  TTempFolder Folder{"eventlog"};
  TIpEventLog Log{nullptr};
  void SetUp() override {
    Log.SetDateTimeFormat("yyyy.mm.dd hh:nn:ss");
    Log.SetFileName(Folder.File("event.log"));
  }
};

TEST_F(EventLogFixture, DisabledWritesNoFileEnabledAppendsAcrossLogs) {
  Log.WriteEventString("Connect: Loc: 127.0.0.1:1025 Rem: 127.0.0.2:123");
  EXPECT_FALSE(std::filesystem::exists(Folder / "event.log"));

  Log.SetEnabled(true);
  Log.WriteEventString("Connect: Loc: 127.0.0.1:1025 Rem: 127.0.0.2:123");
  Platform.UtcNow += 61.5 / 86400;
  TIpEventLog later(nullptr);  // a later run appends to the same file
  later.SetFileName(Log.FileName());
  later.SetEnabled(true);
  later.SetDateTimeFormat("yyyy.mm.dd hh:nn:ss");
  later.WriteEventString("Close:   Loc: 127.0.0.1:1025 Rem: 127.0.0.2:123");
  EXPECT_EQ(ReadBytes(Folder / "event.log"),
            "2024.01.01 09:00:00 Connect: Loc: 127.0.0.1:1025 Rem: 127.0.0.2:123\r\n"
            "2024.01.01 09:01:01 Close:   Loc: 127.0.0.1:1025 Rem: 127.0.0.2:123\r\n");
}

TEST_F(EventLogFixture, FailuresRaiseWithTheFileNameAndLeaveNoLockBehind) {
  Log.SetEnabled(true);
  Log.SetFileName(Folder.File("missing/event.log"));
  try {
    Log.WriteEventString("x");
    FAIL() << "no exception";
  } catch (const ELogFileError& e) {
    EXPECT_NE(e.Message().find("Cannot open file \"" + Folder.File("missing/event.log") + "\"."), String::npos);
  }
  Log.SetFileName("/dev/full");  // opens, but every write fails: a full disk
  EXPECT_THROW(Log.WriteEventString("x"), ELogFileError);
  Log.SetFileName(Folder.File("event.log"));
  Log.WriteEventString("after");  // the lock is free again
  EXPECT_EQ(ReadBytes(Folder / "event.log"), "2024.01.01 09:00:00 after\r\n");
}

TEST(LogFile, OtherWritersAreKeptOutWhileOpen) {
  TTempFolder folder("logfile");
  TLogFile first(folder.File("a.log"), TLogFileMode::Replace);
  EXPECT_THROW(TLogFile(folder.File("a.log"), TLogFileMode::Append), ELogFileError);
}

TEST(FormatLogTime, Patterns) {
  TSystemTime t;
  t.wYear = 2026, t.wMonth = 3, t.wDay = 7, t.wHour = 4, t.wMinute = 5, t.wSecond = 6, t.wMilliseconds = 7;
  const std::pair<const char*, const char*> cases[] = {
      {"yyyy.mm.dd hh:nn:ss", "2026.03.07 04:05:06"},
      {"", "2026.03.07 04:05:06"},
      {"yy/m/d h:n:s.zzz", "26/3/7 4:5:6.007"},
      {"YYYY-MM-DD 'at' HH\"h\"", "2026-03-07 at 04h"},
      // Literal characters, letters and a Shift-JIS character's second byte ('n') among them,
      // are copied one for one.
      {"hh@ nn`@ssTt", "04@ 05`@06Tt"},
      {"h\x83\x6En", "4\x83\x6E" "5"},
  };
  for (auto [pattern, expected] : cases) EXPECT_EQ(FormatLogTime(pattern, t), expected) << pattern;
  // A field wider than its pattern keeps every digit.
  t.wMilliseconds = 123;
  EXPECT_EQ(FormatLogTime("z|zzz", t), "123|123");
}

}  // namespace
