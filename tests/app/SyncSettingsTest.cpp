// The synchronisation settings read from the INI file without the dialog.
#include <gtest/gtest.h>

#include "app/SyncSettings.h"
#include "fakes/TempFolder.h"
#include "toolkit/Controls.h"

namespace {

TEST(SyncSettings, SpinTextsAndRanges) {
  EXPECT_EQ(SpinTextValue("42", 10), 42);
  EXPECT_EQ(SpinTextValue("abc", 10), 10);
  EXPECT_EQ(SpinTextValue("", 0), 0);
  EXPECT_EQ(SpinTextValue("0x2", 0), 0);
  EXPECT_EQ(SpinTextValue("-3", 0), -3);
  EXPECT_EQ(ClampInt(0, 10, 1440), 10);
  EXPECT_EQ(ClampInt(99999, 10, 1440), 1440);
  EXPECT_EQ(ClampInt(30, 10, 1440), 30);
  EXPECT_EQ(RangedSpinText("9999999999", kUpdateTimeRange), 1440);  // more than an int holds
  EXPECT_EQ(RangedSpinText("12345678901", kUpdateTimeRange), 10);   // more digits than a spin edit takes
  EXPECT_EQ(RangedSpinText("-1", kOffsetMinRange), 0);
  EXPECT_EQ(RangedSpinText("7 ", kUpdateTimeRange), 10);  // no number: the minimum
}

TEST(SyncSettings, LoadedFromTheUsersSectionInTheirRanges) {
  struct Case {
    const char* What;
    const char* Lines;  // of the section [taro]
    TSyncSettings Expected;
  };
  const Case cases[] = {
      {"nothing stored: the dialog's defaults", "", {"", 0, 0, 30, true, false}},
      {"values in range",
       "UseNTPServer=ntp.example\r\nOffsetSec=59\r\nOffsetMin=1439\r\nUpdateTime=10\r\nBootUpdateTime=0\r\n"
       "CheckTiming=1\r\n",
       {"ntp.example", 59, 1439, 10, false, true}},
      {"above the ranges", "OffsetSec=60\r\nOffsetMin=1440\r\nUpdateTime=1441\r\n", {"", 59, 1439, 1440, true, false}},
      {"below the ranges", "OffsetSec=-1\r\nOffsetMin=-30\r\nUpdateTime=0\r\n", {"", 0, 0, 10, true, false}},
      {"no numbers read as the minimum",
       "OffsetSec=abc\r\nOffsetMin=0x10\r\nUpdateTime=\r\n",
       {"", 0, 0, 10, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TTempFolder dir("syncsettings");
    WriteBytes(dir / "Kairotsu.ini",
               String("[hanako]\r\nUseNTPServer=other\r\nOffsetSec=7\r\nUpdateTime=99\r\n[taro]\r\n") + c.Lines);
    const TSyncSettings s = LoadSyncSettings(dir.File("Kairotsu.ini"), "taro");
    EXPECT_EQ(s.Server, c.Expected.Server);
    EXPECT_EQ(s.OffsetSec, c.Expected.OffsetSec);
    EXPECT_EQ(s.OffsetMin, c.Expected.OffsetMin);
    EXPECT_EQ(s.UpdateTime, c.Expected.UpdateTime);
    EXPECT_EQ(s.BootUpdateTime, c.Expected.BootUpdateTime);
    EXPECT_EQ(s.CheckTiming, c.Expected.CheckTiming);
  }
}

TEST(SyncSettings, MissingFileGivesTheDefaults) {
  TTempFolder dir("syncsettings");
  const TSyncSettings s = LoadSyncSettings(dir.File("none.ini"), "taro");
  EXPECT_EQ(s.Server, "");
  EXPECT_EQ(s.UpdateTime, 30);
  EXPECT_TRUE(s.BootUpdateTime);
}

}  // namespace
