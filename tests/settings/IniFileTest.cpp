#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fakes/TextFiles.h"
#include "settings/FileOps.h"
#include "settings/IniFile.h"

namespace fs = std::filesystem;

namespace {

String Slurp(const String& path) {
  String bytes;
  EXPECT_EQ(ReadWholeFile(path, bytes), TReadResult::Ok);
  return bytes;
}

void Spill(const String& path, const String& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

String Ansi(std::u16string_view text) { return Iconv(text, "CP932"); }

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("kairotsu-ini-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override {
    PathOverrides() = {};
    fs::remove_all(Dir);
  }
  String Path(const String& name) const { return (Dir / name).string(); }
  fs::path Dir;
};

}  // namespace

TEST(IniText, RewritesInPlaceAppendsToItsSectionAndKeepsEveryOtherByte) {
  const String other =
      "; users of this PC\n[alice]  \r\nSetupTop = 7\r\n\r\n[PCUSER]\r\nA=1\r\nb = 2 \r\n\r\n[zed]\r\nA=9";
  String t = IniText::Put(other, "pcuser", "B", "22");
  EXPECT_EQ(t, "; users of this PC\n[alice]  \r\nSetupTop = 7\r\n\r\n[PCUSER]\r\nA=1\r\nb=22\r\n\r\n[zed]\r\nA=9");
  t = IniText::Put(t, "PcUser", "C", "3");  // after the last key, the blank line stays before [zed]
  EXPECT_EQ(t,
            "; users of this PC\n[alice]  \r\nSetupTop = 7\r\n\r\n[PCUSER]\r\nA=1\r\nb=22\r\nC=3\r\n\r\n[zed]\r\nA=9");
  t = IniText::Put(t, "zed", "B", "x");  // the unended last line gets its line end first
  EXPECT_TRUE(t.ends_with("[zed]\r\nA=9\r\nB=x\r\n")) << t;
  t = IniText::Put(t, "new", "K", "v");
  EXPECT_TRUE(t.ends_with("A=9\r\nB=x\r\n[new]\r\nK=v\r\n")) << t;

  String v;
  EXPECT_TRUE(IniText::Find(t, "ALICE", "setuptop", v));
  EXPECT_EQ(v, "7");
  EXPECT_FALSE(IniText::Find(t, "alice", "A", v));
  EXPECT_FALSE(IniText::Find(t, "nobody", "A", v));
}

TEST(IniText, ValueCannotInjectLinesAndQuotesAreStrippedOnRead) {
  String t = IniText::Put("", "u", "Server", "evil\r\n[other]\r\nx=1");
  EXPECT_EQ(t, "[u]\r\nServer=evil\r\n");
  t = IniText::Put(t, "u", "Q", "\"  spaced  \"");
  String v;
  ASSERT_TRUE(IniText::Find(t, "u", "Q", v));
  EXPECT_EQ(v, "  spaced  ");
}

TEST(IniText, ShiftJisSecondBytesAreNotCaseFolded) {
  // 0x82 0x61 and 0x82 0x41 are two different characters; ASCII folding would merge them.
  const String upper = "\x82\x41user", lower = "\x82\x61user";
  EXPECT_FALSE(IniText::SameName(upper, lower));
  EXPECT_TRUE(IniText::SameName("\x82\x41USER", upper));
  String t = IniText::Put(IniText::Put("", upper, "K", "1"), lower, "K", "2");
  String v;
  ASSERT_TRUE(IniText::Find(t, upper, "k", v));
  EXPECT_EQ(v, "1");
  ASSERT_TRUE(IniText::Find(t, lower, "k", v));
  EXPECT_EQ(v, "2");
}

// A line that opens a bracket without closing it names no section: its keys stay in the section
// before it, and writing to that name makes a real section of its own.
TEST(IniText, UnclosedBracketIsNoSectionHeader) {
  const String text = "[alice]\r\n[root\r\nk=1\r\n";
  String v;
  EXPECT_FALSE(IniText::Find(text, "root", "k", v));
  EXPECT_TRUE(IniText::Find(text, "alice", "k", v));
  EXPECT_EQ(v, "1");
  EXPECT_EQ(IniText::Put(text, "root", "k", "2"), text + "[root]\r\nk=2\r\n");
  EXPECT_EQ(IniText::Put(text, "alice", "k", "3"), "[alice]\r\n[root\r\nk=3\r\n");
  // The second byte of ゾ (0x83 0x5D) is the byte of ']': the user's section is still one.
  const String zo = "\x83\x5D";
  EXPECT_EQ(IniText::Put(IniText::Put("", zo, "k", "1"), zo, "k", "2"), "[" + zo + "]\r\nk=2\r\n");
}

TEST(IniInteger, DecimalHexAndRejects) {
  int32_t v = 0;
  EXPECT_TRUE(ParseIniInteger("0x2", v));
  EXPECT_EQ(v, 2);
  EXPECT_TRUE(ParseIniInteger("0XfF", v));
  EXPECT_EQ(v, 255);
  EXPECT_TRUE(ParseIniInteger("0xFFFFFFFF", v));
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(ParseIniInteger("-1", v));
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(ParseIniInteger("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  for (const char* bad : {"", "abc", "0x", "0xG", "2147483648", "1.5", "$10", " 1", "-", "0x100000000"})
    EXPECT_FALSE(ParseIniInteger(bad, v)) << bad;
}

TEST_F(TempDir, ReadsDefaultsFromMissingFileAndLimitsStrings) {
  TIniFile ini(Path("none.ini"));
  EXPECT_EQ(ini.ReadString("s", "k", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("s", "k", 42), 42);
  EXPECT_TRUE(ini.ReadBool("s", "k", true));
  ini.WriteString("s", "Long", String(3000, 'x'));
  ini.WriteString("s", "Empty", "");
  EXPECT_EQ(ini.ReadString("s", "Long", "").size(), 2047u);
  EXPECT_EQ(ini.ReadInteger("s", "Empty", 5), 5);
  EXPECT_EQ(ini.ReadString("s", "Empty", "d"), "");
}

TEST_F(TempDir, BareFileNameLivesInTheWindowsDirectory) {
  PathOverrides().WindowsDirectory = Path("windows") + "/";
  fs::create_directories(Dir / "windows");
  TIniFile ini("Kairotsu.ini");
  EXPECT_EQ(ini.FileName(), Path("windows") + "/Kairotsu.ini");
  ini.WriteInteger("u", "k", -3);
  EXPECT_EQ(Slurp(Path("windows") + "/Kairotsu.ini"), "[u]\r\nk=-3\r\n");
}

// "\x83\x5C" (ソ) ends in the byte of '\': a bare Shift-JIS name is still a bare name.
TEST_F(TempDir, BareShiftJisFileNameIsNoPath) {
  PathOverrides().WindowsDirectory = Path("windows") + "/";
  EXPECT_EQ(TIniFile("\x83\x5C.ini").FileName(), Path("windows") + "/\x83\x5C.ini");
  EXPECT_EQ(TIniFile("d\\\x83\x5C.ini").FileName(), "d\\\x83\x5C.ini");
}

TEST_F(TempDir, ReadOnlyFileRaisesTheShiftJisWriteFailureAndStaysAsItWas) {
  const String path = Path("ro.ini");
  Spill(path, "[u]\r\nk=1\r\n");
  ::chmod(path.c_str(), 0444);
  TIniFile ini(path);
  try {
    ini.WriteString("u", "k", "2");
    FAIL() << "no exception";
  } catch (const EIniFileError& e) {
    EXPECT_EQ(e.Message(), path + " \x82\xc9\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1");
  }
  EXPECT_EQ(Slurp(path), "[u]\r\nk=1\r\n");
  EXPECT_EQ(ini.ReadString("u", "k", ""), "1");
  for (auto& entry : fs::directory_iterator(Dir))  // no temporary file left behind
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

// Two processes writing their own sections at the same time lose nothing of each other's.
TEST_F(TempDir, ConcurrentWritersOfTwoProcessesLoseNothing) {
  const String path = Path("shared.ini");
  auto writeAll = [&](const String& section) {
    TIniFile ini(path);
    for (int round = 0; round < 40; ++round)
      for (int k = 0; k < 5; ++k) ini.WriteInteger(section, "Key" + std::to_string(k), round * 10 + k);
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      writeAll("child");
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  writeAll("parent");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  TIniFile ini(path);
  for (const char* section : {"child", "parent"})
    for (int k = 0; k < 5; ++k) EXPECT_EQ(ini.ReadInteger(section, "Key" + std::to_string(k), -1), 390 + k) << section;
}

// A writer killed at any moment leaves the old or the new file, never a cut one.
TEST_F(TempDir, KilledWriterLeavesAWholeFile) {
  const String path = Path("crash.ini");
  const String big(20000, 'v');
  TIniFile(path).WriteString("keep", "Other", "untouched");
  for (int attempt = 0; attempt < 5; ++attempt) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TIniFile ini(path);
      for (int i = 0;; ++i) ini.WriteString("busy", "K" + std::to_string(i % 7), big);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + 17 * attempt));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const String text = Slurp(path);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("keep", "Other", ""), "untouched");
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    for (int k = 0; k < 7; ++k) {
      String v = ini.ReadString("busy", "K" + std::to_string(k), "");
      EXPECT_TRUE(v.empty() || v.size() == 2047u) << v.size();
    }
  }
}

// Files that Notepad saved in UTF-8, UTF-16LE or UTF-16BE, each with its byte order mark: the
// user's section is found, values come and go in the ANSI code page, the file keeps its encoding
// and its mark, and every line the write does not touch keeps its bytes, characters that ANSI
// cannot hold (é, a surrogate pair) included.
TEST_F(TempDir, UnicodeFilesWithAByteOrderMarkKeepTheirEncoding) {
  const String taro = Ansi(u"太郎");
  for (Bom bom : {Bom::Utf8, Bom::Utf16Le, Bom::Utf16Be}) {
    SCOPED_TRACE(BomName(bom));
    const String path = Path("notepad.ini");
    Spill(path, FileBytes(bom,
                          u"[other]\r\nName=é😀\r\n[太郎]\r\nUseNTPServer=ntp.test\r\nLabel=サーバ\r\n"
                          u"Host=é.test\r\n\r\n[zed]\r\nK=①"));
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString(taro, "usentpserver", ""), "ntp.test");
    EXPECT_EQ(ini.ReadString(taro, "Label", ""), Ansi(u"サーバ"));
    EXPECT_EQ(ini.ReadString("zed", "K", ""), Ansi(u"①"));
    EXPECT_EQ(ini.ReadString(taro, "Host", ""), "?.test");  // é has no ANSI character
    EXPECT_EQ(ini.ReadString("other", "Name", ""), "??");
    EXPECT_EQ(ini.ReadInteger(taro, "Missing", 7), 7);

    ini.WriteString(taro, "Host", ini.ReadString(taro, "Host", ""));  // saved back unchanged: stays é
    ini.WriteString(taro, "OffsetSec", "5");
    ini.WriteString(taro, "UseNTPServer", Ansi(u"サーバ2"));
    ini.WriteString(Ansi(u"花子"), "K", "v");
    EXPECT_EQ(Slurp(path), FileBytes(bom,
                                     u"[other]\r\nName=é😀\r\n[太郎]\r\nUseNTPServer=サーバ2\r\nLabel=サーバ\r\n"
                                     u"Host=é.test\r\nOffsetSec=5\r\n\r\n[zed]\r\nK=①\r\n[花子]\r\nK=v\r\n"));
  }
}

// Bytes that are no UTF-8 at all, in a file that says it is UTF-8, are still kept as they were.
TEST_F(TempDir, BrokenUtf8OfOtherSectionsStaysByteForByte) {
  const String path = Path("broken.ini");
  const String other = "\xEF\xBB\xBF[other]\r\nK=\xFF\xC3(\xE3\x81\xED\xA0\x80\xF4\x90\x80\x80\xC0\xAF\r\n";
  Spill(path, other + "[u]\r\nA=1\r\n");
  TIniFile ini(path);
  ini.WriteString("u", "A", "2");
  EXPECT_EQ(Slurp(path), other + "[u]\r\nA=2\r\n");
  EXPECT_EQ(ini.ReadString("other", "K", "").substr(0, 1), "?");
}

// A file that holds only the mark gets the user's section in its own encoding.
TEST_F(TempDir, MarkOnlyFileGetsTheSectionInItsEncoding) {
  for (Bom bom : {Bom::Utf8, Bom::Utf16Le, Bom::Utf16Be}) {
    const String path = Path("empty.ini");
    Spill(path, FileBytes(bom, u""));
    TIniFile(path).WriteString("u", "K", Ansi(u"値"));
    EXPECT_EQ(Slurp(path), FileBytes(bom, u"[u]\r\nK=値\r\n"));
  }
}
