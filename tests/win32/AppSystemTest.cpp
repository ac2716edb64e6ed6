// The program's system calls against the real ones under Wine (Japanese locale): date and time
// texts, the user's name, and the version resource of the real Kairotsu.exe.
#include <gtest/gtest.h>

#include <cstdlib>

#include "KairotsuVersion.h"
#include "app/AppSystem.h"
#include "app/BIOS.h"
#include "app/Setup.h"

namespace {

// The Windows path of a file in the build tree (Wine's drive Z: is the Unix root).
String BuildFile(const String& name) {
  const char* dir = std::getenv("KAIROTSU_BINARY_DIR");
  String path = String("Z:") + (dir ? dir : "") + "/" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

TEST(AppSystemWine, DateAndTimeInTheSystemsFormats) {
  TSystemTime st{};
  st.wYear = 2024;
  st.wMonth = 1;
  st.wDay = 2;
  st.wHour = 9;
  st.wMinute = 5;
  st.wSecond = 7;
  // The Japanese short date is year first with slashes (Windows pads month and day, Wine's
  // locale data does not); the long time is H:mm:ss.
  const String date = AppSystem().DateText(st);
  EXPECT_TRUE(date == "2024/01/02" || date == "2024/1/2") << date;
  EXPECT_EQ(AppSystem().TimeText(st), "9:05:07");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 1, 2) + EncodeTime(9, 5, 7, 0)), date + " 9:05:07");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 1, 2)), date);
}

TEST(AppSystemWine, UserNameAndCommandLine) {
  EXPECT_FALSE(GetWindowsUserName().empty());
  EXPECT_NE(AppSystem().CommandLine().find("AppSystemTest"), String::npos);
}

TEST(AppSystemWine, VersionTextsOfTheRealProgram) {
  const String exe = BuildFile("Kairotsu.exe");
  // What the About box shows: the project's version (CMakeLists.txt).
  EXPECT_EQ(GetFileVersionText(exe, 2), "FileVersion : " KAIROTSU_VERSION_TEXT);
  EXPECT_EQ(GetFileVersionText(exe, 9), "FileVersion : " KAIROTSU_VERSION_TEXT);
  EXPECT_EQ(GetFileVersionText(exe, 0), "CompanyName : Kairotsu developers");
  EXPECT_EQ(GetFileVersionText(exe, 5), "OriginalFilename : Kairotsu.exe");
  // A program without a version resource (this test) is "unidentified".
  EXPECT_EQ(GetFileVersionText(BuildFile("tests/AppSystemTest.exe"), 2), "unidentified");
}

}  // namespace
