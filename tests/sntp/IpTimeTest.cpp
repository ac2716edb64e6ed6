// NTP timestamps and the date-time conversions, at their edges.
#include <gtest/gtest.h>

#include <cstring>

#include "sntp/IpTime.h"

namespace {

std::vector<uint8_t> Bytes(const TIpNTPTimestamp& stamp) {
  std::vector<uint8_t> b(8);
  std::memcpy(b.data(), &stamp, 8);
  return b;
}

TIpNTPTimestamp Stamp(std::vector<uint8_t> bytes) {
  TIpNTPTimestamp stamp;
  std::memcpy(&stamp, bytes.data(), 8);
  return stamp;
}

TEST(NtpTimestamp, EpochIsDateTimeTwoAndTheZeroStamp) {
  EXPECT_EQ(Bytes(DateTimeToNtpStamp(2.0)), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(NtpStampToSeconds(Stamp(std::vector<uint8_t>(8, 0))), 0.0);
  EXPECT_EQ(NtpSecondsToDateTime(0.0), 2.0);
  EXPECT_EQ(DateTimeToNtpSeconds(2.0), 0.0);
}

TEST(NtpTimestamp, WordsAreBigEndianOnTheWire) {
  // 2024-01-01 00:00 UTC is 3913056000 s after 1900.
  EXPECT_EQ(Bytes(DateTimeToNtpStamp(45292.0)), (std::vector<uint8_t>{0xE9, 0x3C, 0x7F, 0x00, 0, 0, 0, 0}));
  EXPECT_EQ(NtpStampToSeconds(Stamp({0x01, 0x02, 0x03, 0x04, 0x40, 0, 0, 0})), 16909060.25);
}

TEST(NtpTimestamp, HighBitOfEitherWordIsNeverASign) {
  EXPECT_EQ(NtpStampToSeconds(Stamp({0x80, 0, 0, 0, 0, 0, 0, 0})), 2147483648.0);
  EXPECT_EQ(NtpStampToSeconds(Stamp({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0})), 4294967295.0);
  EXPECT_EQ(NtpStampToSeconds(Stamp({0, 0, 0, 7, 0x80, 0, 0, 0})), 7.5);
  // 1968-01-20 03:14:08 UTC is the first date whose seconds word has its top bit set.
  const TDateTime d1968 = EncodeDate(1968, 1, 20) + EncodeTime(3, 14, 8, 0);
  auto b = Bytes(DateTimeToNtpStamp(d1968));
  EXPECT_EQ(b[0], 0x80);
  EXPECT_EQ(b[1] | b[2] | b[3], 0);
  EXPECT_NEAR(NtpSecondsToDateTime(NtpStampToSeconds(DateTimeToNtpStamp(d1968))), d1968, 1e-9);
}

TEST(NtpTimestamp, FractionIsTruncatedAndNeverCarries) {
  // Just below a whole second the fraction comes out near 0xFFFFFFFF and the seconds stay.
  const auto b = Bytes(DateTimeToNtpStamp(NtpSecondsToDateTime(1000.0 - 1e-9)));
  EXPECT_EQ((std::vector<uint8_t>(b.begin(), b.begin() + 4)), (std::vector<uint8_t>{0, 0, 0x03, 0xE7}));
  EXPECT_EQ(b[4], 0xFF);
  EXPECT_EQ(b[5], 0xFF);
  EXPECT_EQ(b[6], 0xFF);
  // 16.5 s does not survive the trip through a date-time exactly; what is a hair below half
  // a second stays below it.
  EXPECT_EQ(Bytes(DateTimeToNtpStamp(NtpSecondsToDateTime(16.5))),
            (std::vector<uint8_t>{0, 0, 0, 16, 0x7F, 0xFF, 0xFF, 0xFF}));
  // 2^-17 days is exactly 0.6591796875 s, which is exactly 0xA8C00000 units.
  EXPECT_EQ(Bytes(DateTimeToNtpStamp(2.0 + 1.0 / 131072.0)), (std::vector<uint8_t>{0, 0, 0, 0, 0xA8, 0xC0, 0, 0}));
  // 0.1 s is 429496729.6 units, truncated to ...729.
  const auto tenth = Bytes(DateTimeToNtpStamp(2.0 + 0.1 / 86400.0));
  EXPECT_EQ(tenth, (std::vector<uint8_t>{0, 0, 0, 0, 0x19, 0x99, 0x99, 0x99}));
}

TEST(NtpTimestamp, SecondsWrapIn2036WithoutEraHandling) {
  const TDateTime wrap = EncodeDate(2036, 2, 7) + EncodeTime(6, 28, 16, 0);
  const auto at = Bytes(DateTimeToNtpStamp(wrap));
  EXPECT_EQ((std::vector<uint8_t>(at.begin(), at.begin() + 4)), (std::vector<uint8_t>{0, 0, 0, 0}));
  const auto later = Bytes(DateTimeToNtpStamp(wrap + 90.0 / 86400.0));
  EXPECT_EQ((std::vector<uint8_t>(later.begin(), later.begin() + 4)), (std::vector<uint8_t>{0, 0, 0, 90}));
  // Read back, the stamp is a date in January 1900.
  const TDateTime back = NtpSecondsToDateTime(NtpStampToSeconds(DateTimeToNtpStamp(wrap + 90.0 / 86400.0)));
  EXPECT_NEAR(back, 2.0 + 90.0 / 86400.0, 1e-6);
  // Half a second before the wrap the seconds word is all ones.
  const auto before = Bytes(DateTimeToNtpStamp(wrap - 0.5 / 86400.0));
  EXPECT_EQ((std::vector<uint8_t>(before.begin(), before.begin() + 4)), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(NtpTimestamp, TodaysDatesSurviveTheRoundTripToAMicrosecond) {
  const TDateTime t = EncodeDate(2024, 5, 17) + EncodeTime(12, 34, 56, 789);
  const double back = NtpSecondsToDateTime(NtpStampToSeconds(DateTimeToNtpStamp(t)));
  EXPECT_NEAR((back - t) * 86400.0, 0.0, 1e-6);
  EXPECT_LE(back, t + 1e-12);  // truncation never moves a time forward
}

TEST(NtpPacket, IsFortyEightBytesInWireOrder) {
  EXPECT_EQ(sizeof(TIpNTPPacket), 48u);
  EXPECT_EQ(offsetof(TIpNTPPacket, Stratum), 1u);
  EXPECT_EQ(offsetof(TIpNTPPacket, ReferenceIdentifier), 12u);
  EXPECT_EQ(offsetof(TIpNTPPacket, OriginateTimestamp), 24u);
  EXPECT_EQ(offsetof(TIpNTPPacket, ReceiveTimestamp), 32u);
  EXPECT_EQ(offsetof(TIpNTPPacket, TransmitTimestamp), 40u);
}

}  // namespace
