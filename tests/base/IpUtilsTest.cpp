#include <gtest/gtest.h>

#include "base/IpUtils.h"
#include "toolkit/Strings.h"

TEST(IpUtils, HelpersAtTheirEdges) {
  EXPECT_EQ(TrimBlanks("  a  b  "), "a  b");
  EXPECT_EQ(TrimBlanks("    "), "");
  EXPECT_EQ(TrimBlanks("\tx\t"), "\tx\t");
  EXPECT_EQ(CharPos('b', "abcb"), 2);
  EXPECT_EQ(CharPos('z', "abc"), 0);
  uint8_t a[] = {1, 0x80, 3}, b[] = {1, 0x7F, 4};
  EXPECT_EQ(CompareBytes(a, b, 0), 0);
  EXPECT_EQ(CompareBytes(a, b, 1), 0);
  EXPECT_EQ(CompareBytes(a, b, 3), 1);  // 0x80 > 0x7F unsigned
  EXPECT_EQ(CompareBytes(b, a, 3), -1);
  uint8_t telnet[] = {0xFF, 1, 0xFF, 0xFF};
  EXPECT_EQ(CountChar(telnet, 4, 0xFF), 3);
  EXPECT_EQ(MinInt(-3, 2), -3);
}

TEST(IpUtils, VersionAndBaseFormatter) {
  TIpBaseComponent c(nullptr);
  EXPECT_EQ(c.Version(), "v1.15");
  c.SetVersion("v9");
  EXPECT_EQ(c.Version(), "v1.15");
  String text;
  c.FormatterClass()(0, 1, nullptr, 0, text);
  EXPECT_EQ(text, "!!!! Unhandled log entry\n\r");
}

TEST(IpUtils, SafeFreeClearsTheVariableBeforeFreeing) {
  struct Probe {
    std::unique_ptr<Probe>* Var;
    bool* SawCleared;
    ~Probe() { *SawCleared = (*Var == nullptr); }
  };
  std::unique_ptr<Probe> p;
  bool cleared = false;
  p = std::make_unique<Probe>(Probe{&p, &cleared});
  SafeFree(p);
  EXPECT_TRUE(cleared);
  SafeFree(p);  // nil is allowed
}

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
  EXPECT_EQ(StrToIntDef("0x2", -1), 2);
  EXPECT_EQ(StrToIntDef("abc", 7), 7);
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\Kairotsu.exe", ".pdf"), "C:\\a.b\\Kairotsu.pdf");
  EXPECT_EQ(ExtractFileName("C:\\x\\SETX1.EXE"), "SETX1.EXE");
}
