#include <gtest/gtest.h>

#include "base/IpUtils.h"
#include "log/IpLog.h"

namespace {

// An owner with the texts WinSock 1.1 start-up gives.
struct TTestOwner final : TIpLogOwner {
  String WinSockDescription() const override { return "WinSock 2.0"; }
  String WinSockStatus() const override { return "Running"; }
  uint16_t WinSockVersion() const override { return 0x0101; }
};

const String kRule = String(77, '=') + "\r\n\r\n";

TEST(DebugLogTexts, TimePrefixHasAPointAfterTheFourthCharacter) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "0000.000 : "},       {5, "0000.005 : "},         {12345, "0012.345 : "},
      {9999999, "9999.999 : "}, {12345678, "1234.5678 : "}, {-5, "-000.0005 : "},
  };
  for (auto [ms, expected] : cases) EXPECT_EQ(LogTimePrefix(ms), expected) << ms;
}

TEST(DebugLogTexts, OperatingSystemByPlatform) {
  const std::pair<TOsVersionInfo, const char*> cases[] = {
      {{2, 5, 1, "Service Pack 3"}, "Windows NT 5.1 Service Pack 3"},
      {{1, 4, 10, "A"}, "Win32 on Windows 4.10 A"},
      {{0, 3, 11, ""}, "Win32s on Windows 3.11 "},
      {{3, 6, 0, ""}, "Unknown6.0 "},
      {{0xFFFFFFFF, 0, 0, ""}, "Unknown0.0 "},
  };
  for (auto& [version, expected] : cases) EXPECT_EQ(OperatingSystemText(version), expected) << expected;
}

TEST(DebugLogTexts, TelnetLineNamesCommandOptionAndDirection) {
  struct Case {
    int32_t socket;
    uint32_t direction, command, option;
    const char* expected;
  };
  const Case cases[] = {
      {300, 1, 253, 1, "[300] Telnet DO echo received."},
      {7, 2, 251, 0, "[7] Telnet WILL transmit binary sent."},
      {7, 2, 252, 24, "[7] Telnet WON'T terminal type sent."},
      {7, 1, 254, 31, "[7] Telnet DON'T negotiate about window size received."},
      {7, 1, 253, 43, "[7] Telnet DO telnet remote serial port (RSP) received."},
      {7, 1, 253, 49, "[7] Telnet DO FORWARD_X received."},
      {7, 1, 253, 50, "[7] Telnet DO [50] received."},
      {7, 1, 250, 3, "[7] Telnet [250] suppress go-ahead received."},
      {-1, 0x1234AB, 251, 255, "[-1] Telnet WILL [255] [001234AB]"},
      {7, 0, 251, 1, "[7] Telnet WILL echo [00000000]"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TelnetLogText(c.socket, c.direction, c.command * 256 + c.option), c.expected) << c.expected;
  // Only the low 16 bits carry command and option.
  EXPECT_EQ(TelnetLogText(1, 1, 0xFFFF0000u | (253 << 8) | 1), "[1] Telnet DO echo received.");
}

TEST(DebugLogTexts, HeaderWithAndWithoutOwner) {
  const String first = String(SComponentSetName) + " v1.15 compiled with " + CompilerName() + "\r\n";
  const String os = "Operating System : " + OperatingSystemText(QueryOsVersion()) + "\r\n";
  EXPECT_FALSE(CompilerName().empty());
  EXPECT_EQ(DebugLogHeader(nullptr), first + os +
                                         "Description : \r\n"
                                         "Negotiated Version : $0000\r\n"
                                         "System Status : \r\n" +
                                         kRule);
  TTestOwner owner;
  EXPECT_EQ(DebugLogHeader(&owner), first + os +
                                        "Description : WinSock 2.0\r\n"
                                        "Negotiated Version : $0101\r\n"
                                        "System Status : Running\r\n" +
                                        kRule);
}

}  // namespace
