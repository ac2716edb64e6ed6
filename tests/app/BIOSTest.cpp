#include <gtest/gtest.h>

#include "app/BIOS.h"
#include "fakes/FakeAppSystem.h"

TEST(BIOS, FileBaseName) {
  EXPECT_EQ(GetFileBaseName("C:\\Tools\\SETX1.EXE"), "SETX1");
  EXPECT_EQ(GetFileBaseName("C:\\a.b\\Kairotsu"), "Kairotsu");
  EXPECT_EQ(GetFileBaseName("x.tar.gz"), "x.tar");
  EXPECT_EQ(GetFileBaseName(""), "");
}

TEST(BIOS, VersionTextIndexesAndTheTranslationSwap) {
  TFakeAppSystem sys;
  sys.Strings["\\StringFileInfo\\041104B0\\FileVersion"] = "1.0.0.0";
  sys.Strings["\\StringFileInfo\\041104B0\\CompanyName"] = "Kairotsu developers";
  EXPECT_EQ(GetFileVersionText("k.exe", 2), "FileVersion : 1.0.0.0");
  EXPECT_EQ(GetFileVersionText("k.exe", 9), "FileVersion : 1.0.0.0");
  EXPECT_EQ(GetFileVersionText("k.exe", 0), "CompanyName : Kairotsu developers");
  EXPECT_EQ(GetFileVersionText("k.exe", 7), "ProductVersion : None");
  sys.HasTranslation = false;
  EXPECT_EQ(GetFileVersionText("k.exe", 2), "unidentified");
  sys.HasVersion = false;
  EXPECT_EQ(GetFileVersionText("k.exe", 2), "unidentified");
}

TEST(BIOS, UserNameComesFromTheSystem) {
  TFakeAppSystem sys;
  sys.User = "hanako";
  EXPECT_EQ(GetWindowsUserName(), "hanako");
}

TEST(BIOS, CommandLineSplitsLikeParamStr) {
  EXPECT_EQ(SplitCommandLine("Kairotsu.exe"), std::vector<String>{});
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\K\\Kairotsu.exe\" /1  -q  \"ntp server\""),
            (std::vector<String>{"/1", "-q", "ntp server"}));
  EXPECT_EQ(SplitCommandLine("k.exe\t/1x"), std::vector<String>{"/1x"});
}
