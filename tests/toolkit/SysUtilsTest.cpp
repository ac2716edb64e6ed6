// The runtime's formatting and date-time helpers.
#include <gtest/gtest.h>

#include "toolkit/SysUtils.h"

TEST(Format, RuntimeDirectives) {
  EXPECT_EQ(Format("%8.8x", {0x1AB}), "000001AB");
  EXPECT_EQ(Format("%07.7d", {42}), "0000042");
  EXPECT_EQ(Format("%x", {-1}), "FFFFFFFF");
  EXPECT_EQ(Format("%d%%", {5}), "5%");
  EXPECT_EQ(Format("v%.2f", {1.15}), "v1.15");
  EXPECT_EQ(Format("[%-4s|%4s]", {"ab", "cd"}), "[ab  |  cd]");
  EXPECT_THROW(Format("%d", {"x"}), Exception);
  EXPECT_THROW(Format("%s %s", {"x"}), Exception);
}

TEST(DateTime, EncodeDecodeRoundTrip) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2024, 1, 1), 45292.0);
  int y, m, d;
  DecodeDate(45292.0, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240101);
  DecodeDate(EncodeDate(2000, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000229);
  DecodeDate(EncodeDate(2036, 2, 7), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20360207);
  int hh, mm, ss, ms;
  DecodeTime(EncodeTime(10, 30, 30, 500), hh, mm, ss, ms);
  EXPECT_EQ(hh * 10000000 + mm * 100000 + ss * 1000 + ms, 103030500);
}
