// The runtime's string and file-name helpers.
#include <gtest/gtest.h>

#include "toolkit/Strings.h"

TEST(Strings, NumbersAndFileNames) {
  EXPECT_EQ(StrToIntDef("0x2", -1), 2);
  EXPECT_EQ(StrToIntDef("abc", 7), 7);
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\Kairotsu.exe", ".pdf"), "C:\\a.b\\Kairotsu.pdf");
  EXPECT_EQ(ExtractFileName("C:\\x\\SETX1.EXE"), "SETX1.EXE");
}
