#include <gtest/gtest.h>

#include "base/IpUtils.h"

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
