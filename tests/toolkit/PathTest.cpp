// The path helpers on Shift-JIS paths: a double-byte character whose second byte is 0x5C ('\')
// belongs to its name and never splits the path.
#include <gtest/gtest.h>

#include "app/BIOS.h"
#include "toolkit/Strings.h"

namespace {

// Shift-JIS bytes of the names used below (0x5C second bytes in "so" and "hyo").
#define SO "\x83\x5C"             // ソ
#define FUTO "\x83\x74\x83\x67"   // フト
#define HYOJI "\x95\x5C\x8E\xA6"  // 表示
#define HYO "\x95\x5C"            // 表

struct PathCase {
  const char* Path;
  const char* Dir;   // ExtractFilePath
  const char* Name;  // ExtractFileName
  const char* Ini;   // ChangeFileExt(path, ".ini")
  const char* Base;  // GetFileBaseName
};

const PathCase kCases[] = {
    {"C:\\" HYOJI "\\" SO FUTO "X1.exe", "C:\\" HYOJI "\\", SO FUTO "X1.exe", "C:\\" HYOJI "\\" SO FUTO "X1.ini",
     SO FUTO "X1"},
    {"C:\\" SO "\\Kairotsu.exe", "C:\\" SO "\\", "Kairotsu.exe", "C:\\" SO "\\Kairotsu.ini", "Kairotsu"},
    {"C:\\" HYO "\\" HYO ".exe", "C:\\" HYO "\\", HYO ".exe", "C:\\" HYO "\\" HYO ".ini", HYO},
    {"C:\\d\\" SO, "C:\\d\\", SO, "C:\\d\\" SO ".ini", SO},        // no extension
    {"C:\\a.b\\" SO, "C:\\a.b\\", SO, "C:\\a.b\\" SO ".ini", SO},  // a dot only in the folder
    {SO FUTO ".exe", "", SO FUTO ".exe", SO FUTO ".ini", SO FUTO},
    {"/tmp/" HYOJI "/" SO "x1", "/tmp/" HYOJI "/", SO "x1", "/tmp/" HYOJI "/" SO "x1.ini", SO "x1"},
    {"D:" SO ".exe", "D:", SO ".exe", "D:" SO ".ini", SO},
    {"C:\\Tools\\SETX1.EXE", "C:\\Tools\\", "SETX1.EXE", "C:\\Tools\\SETX1.ini", "SETX1"},
};

}  // namespace

TEST(Path, ShiftJisSecondBytesAreNoDelimiters) {
  for (const PathCase& c : kCases) {
    SCOPED_TRACE(c.Path);
    EXPECT_EQ(ExtractFilePath(c.Path), c.Dir);
    EXPECT_EQ(ExtractFileName(c.Path), c.Name);
    EXPECT_EQ(ChangeFileExt(c.Path, ".ini"), c.Ini);
    EXPECT_EQ(GetFileBaseName(c.Path), c.Base);
  }
}
