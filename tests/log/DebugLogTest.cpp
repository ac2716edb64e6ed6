#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <deque>
#include <filesystem>

#include "KairotsuVersion.h"
#include "base/IpUtils.h"
#include "fakes/FakePlatform.h"
#include "fakes/TempFolder.h"
#include "log/IpLog.h"
#include "log/LogFile.h"

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
  const String first = String(SComponentSetName) + " v1.15 compiled with " + CompilerName() + "\r\n" +
                       "Release : Kairotsu " + KAIROTSU_VERSION_TEXT + "\r\n";
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

// A log on the fake platform's virtual clock, writing into a folder of its own.
struct DebugLogFixture : ::testing::Test {
  TFakePlatform Platform;  // the log's start tick is Platform.Tick at its creation
  TTempFolder Folder{"debuglog"};
  TIpDebugLog Log{nullptr};
  void SetUp() override { Log.SetFileName(Folder.File("debug.log")); }

  // Adds a deString entry `ms` after the log's creation.
  void AddText(uint32_t ms, const String& text) {
    Platform.Tick = 1000 + ms;
    Log.AddLogEntry(nullptr, 0, deString, text.data(), static_cast<uint32_t>(text.size()));
  }
  String Written() { return ReadBytes(Folder / "debug.log"); }
};

const String kHeader = DebugLogHeader(nullptr);

TEST_F(DebugLogFixture, WrittenFileShowsEveryKindItRenders) {
  Platform.Tick = 1000 + 12345;
  Log.SetEnabled(true);
  Platform.Tick = 1000 + 12350;
  Log.AddLogEntry(nullptr, 300, deTelnet, reinterpret_cast<const void*>(uintptr_t{1}), 253 * 256 + 1);
  AddText(12400, "plain text");
  Platform.Tick = 1000 + 12500;
  Log.AddLogEntry(nullptr, -2, 77, reinterpret_cast<const void*>(uintptr_t{0xABCDEF}), 0x1234);
  Platform.Tick = 1000 + 12600;
  Log.AddLogEntry(&TIpBaseComponent::FormatDataEntry, 5, 9, nullptr, 0);
  Platform.Tick = 1000 + 12700;
  Log.SetEnabled(false);
  Log.WriteDebugLog();
  EXPECT_EQ(Written(), kHeader +
                           "0012.345 : **** Logging Enabled\r\n\r\n"
                           "0012.350 : [300] Telnet DO echo received.\r\n"
                           "0012.400 : plain text\r\n"
                           "0012.500 : !!!! Unknown log entry : [-2][0000004D][00ABCDEF][00001234]\r\n\r\n"
                           "0012.600 : !!!! Unhandled log entry\n\r\r\n"
                           "0012.700 : **** Logging Disabled\r\n\r\n");
  EXPECT_TRUE(Log.BufferEmpty());
}

// The file is headed with its own owner's texts.
TEST_F(DebugLogFixture, HeaderNamesTheOwnersWinSock) {
  TTestOwner owner;
  TIpDebugLog log(&owner);
  log.SetFileName(Folder.File("owned.log"));
  log.SetEnabled(true);
  log.WriteDebugLog();
  EXPECT_EQ(ReadBytes(Folder / "owned.log"), DebugLogHeader(&owner) + "0000.000 : **** Logging Enabled\r\n\r\n");
}

TEST_F(DebugLogFixture, FileModes) {
  struct Case {
    const char* name;
    TIpWriteMode mode;
    const char* before;  // nullptr: no file
    bool header;
  };
  const Case cases[] = {
      {"append, missing file", wmAppend, nullptr, true},
      {"append, empty file", wmAppend, "", true},
      {"append, earlier content", wmAppend, "earlier\r\n", false},
      {"overwrite, missing file", wmOverwrite, nullptr, true},
      {"overwrite, earlier content", wmOverwrite, "earlier\r\n", true},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(Folder / "debug.log");
    if (c.before) WriteBytes(Folder / "debug.log", c.before);
    Log.SetWriteMode(c.mode);
    Log.SetEnabled(true);
    AddText(5, "entry");
    Log.WriteDebugLog();
    String kept = c.before && c.mode == wmAppend ? c.before : "";
    EXPECT_EQ(Written(), kept + (c.header ? kHeader : "") +
                             "0000.000 : **** Logging Enabled\r\n\r\n"
                             "0000.005 : entry\r\n")
        << c.name;
    Platform.Tick = 1000;
  }
}

TEST_F(DebugLogFixture, MarkersForEverySwitchingOnAndOnlyForSwitchingOffWhatWasOn) {
  Log.SetEnabled(false);
  EXPECT_TRUE(Log.BufferEmpty());
  AddText(1, "ignored while off");
  EXPECT_TRUE(Log.BufferEmpty());
  Platform.Tick = 1000;
  Log.SetEnabled(true);
  Log.SetEnabled(true);
  Log.SetEnabled(false);
  Log.SetEnabled(false);
  AddText(2, "ignored again");
  Log.WriteDebugLog();
  EXPECT_EQ(Written(), kHeader +
                           "0000.000 : **** Logging Enabled\r\n\r\n"
                           "0000.000 : **** Logging Enabled\r\n\r\n"
                           "0000.000 : **** Logging Disabled\r\n\r\n");
}

TEST_F(DebugLogFixture, BufferSizeChangesDiscardTheRingTheSameSizeKeepsIt) {
  Log.SetEnabled(true);
  Log.SetBufferSize(65536);
  EXPECT_FALSE(Log.BufferEmpty());
  Log.SetBufferSize(500);
  EXPECT_TRUE(Log.BufferEmpty());
  EXPECT_EQ(Log.BufferFree(), 499u);
  AddText(3, "after");
  Log.WriteDebugLog();
  EXPECT_EQ(Written(), kHeader + "0000.003 : after\r\n");

  TIpDebugLog small(nullptr);
  small.SetBufferSize(20);  // smaller than a header: nothing fits
  small.SetEnabled(true);
  EXPECT_TRUE(small.BufferEmpty());
  small.SetBufferSize(0);
  EXPECT_EQ(small.BufferFree(), 0u);
  small.AddLogEntry(nullptr, 0, deLogEnabled, nullptr, 0);
  EXPECT_TRUE(small.BufferEmpty());
}

TEST_F(DebugLogFixture, ClearBufferDiscardsEverything) {
  Log.SetEnabled(true);
  AddText(1, "x");
  Log.ClearBuffer();
  EXPECT_TRUE(Log.BufferEmpty());
  EXPECT_EQ(Log.Head(), 0u);
  EXPECT_EQ(Log.Tail(), 0u);
  TIpLogEntry entry;
  EXPECT_FALSE(Log.GetLogEntry(entry));
}

// BufferSize 100: a 40-byte entry (64 in the ring) makes room by dropping the oldest entries
// until 64 bytes are free; a 100-byte entry (124) is dropped.
TEST_F(DebugLogFixture, FullRingDropsTheOldestUntilTheNewEntryFits) {
  Log.SetBufferSize(100);
  Log.SetEnabled(true);  // 24 bytes
  Platform.Tick = 1000 + 1;
  Log.AddLogEntry(nullptr, 9, deTelnet, reinterpret_cast<const void*>(uintptr_t{2}), 251 * 256 + 3);  // 48
  EXPECT_EQ(Log.BufferFree(), 51u);
  AddText(2, String(100, 'L'));
  EXPECT_EQ(Log.BufferFree(), 51u);
  AddText(3, String(40, 'a'));  // only the enabled marker has to go
  EXPECT_EQ(Log.BufferFree(), 99u - 24 - 64);
  Log.WriteDebugLog();
  EXPECT_EQ(Written(), kHeader + "0000.001 : [9] Telnet WILL suppress go-ahead sent.\r\n" +
                           "0000.003 : " + String(40, 'a') + "\r\n");
}

// Formatters of the tests: one shows what it is handed, one only appends to the text.
void EchoFormatter(int32_t Socket, uint32_t Kind, const void* Data, uint32_t Length, String& Text) {
  Text = Format("[%d][%x] ", {Socket, Kind}) + String(static_cast<const char*>(Data), Length) + "\r\n";
}
void AppendingFormatter(int32_t, uint32_t, const void*, uint32_t, String& Text) { Text += "appended"; }

// The ring's header has 32-bit fields. A formatter or a data pointer does not fit one on a
// 64-bit build: entries name their formatter by a number the log keeps, and data entries keep
// no pointer at all, their data follows the header.
TEST_F(DebugLogFixture, EntriesKeepTheirFormatterAndDataOnEveryBuild) {
  Log.SetEnabled(true);
  const String abc = "abc", long1 = String(300, 'x');
  Log.AddLogEntry(&EchoFormatter, 4, 0x80000001, abc.data(), 3);
  Log.AddLogEntry(&AppendingFormatter, 5, 7, reinterpret_cast<const void*>(uintptr_t{0xFFFFFFFF}), 9);
  Log.AddLogEntry(&EchoFormatter, -6, 0x80000002, long1.data(), 300);
  Log.AddLogEntry(nullptr, 1, 0x80000005, abc.data(), 3);
  TIpLogEntry entry;
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(entry.FormatterClass, nullptr);
  EXPECT_EQ(entry.Kind, deLogEnabled);
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(entry.FormatterClass, &EchoFormatter);
  EXPECT_NE(entry.Data, abc.data());
  EXPECT_EQ(String(static_cast<const char*>(entry.Data), entry.Length), "abc");
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(entry.FormatterClass, &AppendingFormatter);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(entry.Data), uintptr_t{0xFFFFFFFF});
  EXPECT_EQ(entry.Length, 9u);
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(entry.FormatterClass, &EchoFormatter);
  EXPECT_EQ(entry.Socket, -6);
  EXPECT_EQ(String(static_cast<const char*>(entry.Data), entry.Length), long1);
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(entry.FormatterClass, nullptr);
  EXPECT_FALSE(Log.GetLogEntry(entry));

  Platform.Tick = 1000 + 7;
  Log.AddLogEntry(&EchoFormatter, 4, 0x80000003, abc.data(), 3);
  Log.AddLogEntry(&AppendingFormatter, 5, 0x80000004, abc.data(), 3);
  Log.AddLogEntry(nullptr, 1, 0x80000005, abc.data(), 3);  // a data kind without a formatter
  Log.WriteDebugLog();
  EXPECT_EQ(Written(), kHeader +
                           "0000.007 : [4][80000003] abc\r\n\r\n"
                           "0000.007 : appended\r\n"
                           "0000.007 : !!!! Unknown log entry : [1][80000005][00000000][00000003]\r\n\r\n");
}

// The ring keeps one byte free, so an entry of exactly BufferSize bytes cannot be held: it is
// dropped like a larger one, and so is one whose size would pass 32 bits.
TEST_F(DebugLogFixture, EntryAsLargeAsTheRingOrLargerIsDroppedAndKeepsTheOthers) {
  const uint32_t lengths[] = {76, 77, 100, 0xFFFFFFE8, 0xFFFFFFEF, 0xFFFFFFFF};
  for (uint32_t length : lengths) {
    SCOPED_TRACE(length);
    Log.SetBufferSize(100);
    Log.SetBufferSize(200);  // a fresh ring
    Log.SetBufferSize(100);
    Log.SetEnabled(true);
    Platform.Tick = 1000 + 1;
    Log.AddLogEntry(nullptr, 0, deString, "kept", 4);
    const char data[128] = "";  // shorter than the huge lengths: those must not be read
    Log.AddLogEntry(nullptr, 0, deString, data, length);
    EXPECT_EQ(Log.BufferFree(), 99u - 24 - 28);
    Log.WriteDebugLog();
    EXPECT_EQ(Written(), kHeader +
                             "0000.000 : **** Logging Enabled\r\n\r\n"
                             "0000.001 : kept\r\n");
    Platform.Tick = 1000;
  }
}

// An entry that ends exactly at the end of the ring leaves Tail at 0; the next one starts there,
// and a ring emptied by reading up to the end reads as empty.
TEST_F(DebugLogFixture, EntryEndingAtTheEndWrapsTailToZero) {
  Log.SetBufferSize(100);
  Log.SetEnabled(true);  // 0..24
  AddText(0, "x");       // 24..49
  TIpLogEntry entry;
  ASSERT_TRUE(Log.GetLogEntry(entry));
  ASSERT_TRUE(Log.GetLogEntry(entry));
  AddText(1, String(100 - 49 - 24, 'f'));  // 49..100
  EXPECT_EQ(Log.Tail(), 0u);
  Platform.Tick = 1000 + 2;
  Log.AddLogEntry(nullptr, 1, deTelnet, reinterpret_cast<const void*>(uintptr_t{1}), 253 * 256 + 5);  // 0..24
  EXPECT_EQ(Log.Tail(), 24u);
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(String(static_cast<const char*>(entry.Data), entry.Length), String(27, 'f'));
  EXPECT_EQ(Log.Head(), 0u);
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(entry.Kind, deTelnet);
  EXPECT_TRUE(Log.BufferEmpty());

  // A ring emptied by reading an entry whose data ends at the end reads as empty.
  AddText(3, String(100 - 24 - 24, 'g'));  // 24..100
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(Log.Head(), 0u);
  EXPECT_EQ(Log.Tail(), 0u);
  EXPECT_TRUE(Log.BufferEmpty());
  EXPECT_FALSE(Log.GetLogEntry(entry));
}

TEST_F(DebugLogFixture, ScratchBufferStartsAt1024AndOnlyGrows) {
  EXPECT_EQ(Log.ScratchSize(), 0u);
  Log.SetBufferSize(4000);
  Log.SetEnabled(true);
  EXPECT_EQ(Log.ScratchSize(), 1024u);
  Log.ClearBuffer();
  AddText(1, String(3000 - 24, 'a'));  // 0..3000
  TIpLogEntry entry;
  ASSERT_TRUE(Log.GetLogEntry(entry));
  String wrapped(2000, 'w');
  wrapped.front() = '<', wrapped.back() = '>';
  AddText(2, wrapped);  // 3000..4000 and 0..1024
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(String(static_cast<const char*>(entry.Data), entry.Length), wrapped);
  EXPECT_EQ(Log.ScratchSize(), 2000u);
  AddText(3, String(2900, 'b'));  // 1024..3948
  ASSERT_TRUE(Log.GetLogEntry(entry));
  AddText(4, String(1500, 'c'));  // 3948..4000 and 0..1472: a smaller entry wraps
  ASSERT_TRUE(Log.GetLogEntry(entry));
  EXPECT_EQ(String(static_cast<const char*>(entry.Data), entry.Length), String(1500, 'c'));
  EXPECT_EQ(Log.ScratchSize(), 2000u);
}

// The ring against a model (a queue of entries that drops its oldest until the new one fits
// into size - 1 bytes, and drops an entry that never would), starting at every offset of a small ring, so that headers
// and data are cut at every place by the end of the buffer. The file must show exactly the entries that fit, oldest
// first, each whole.
TEST_F(DebugLogFixture, RingMatchesAModelFromEveryStartingOffset) {
  struct Model {
    uint32_t ms;
    String text;
    uint32_t size;
  };
  for (uint32_t ringSize : {97u, 128u}) {
    const uint32_t lengths[] = {0, 5,  17, 40, 1,  60, 23, ringSize - 25, 8, 33, ringSize - 24, 72,
                                2, 50, 11, 3,  44, 19, 7};
    for (uint32_t offset = 0; offset < ringSize; ++offset) {
      SCOPED_TRACE("ring " + std::to_string(ringSize) + ", offset " + std::to_string(offset));
      TIpDebugLog log(nullptr);
      log.SetFileName(Folder.File("model.log"));
      log.SetBufferSize(ringSize);
      log.SetEnabled(true);
      log.ClearBuffer();
      // Move the empty ring's read and write positions to `offset` with entries read back at once.
      std::vector<uint32_t> fillers;
      if (offset >= TIpDebugLog::HeaderSize) fillers = {offset};
      if (offset > 0 && offset < TIpDebugLog::HeaderSize) fillers = {ringSize - 30, offset + 30};
      for (uint32_t size : fillers) {
        String filler(size - TIpDebugLog::HeaderSize, '-');
        log.AddLogEntry(nullptr, 0, deString, filler.data(), static_cast<uint32_t>(filler.size()));
        TIpLogEntry taken;
        ASSERT_TRUE(log.GetLogEntry(taken));
      }
      ASSERT_EQ(log.Head(), offset);
      ASSERT_EQ(log.Tail(), offset);

      std::deque<Model> model;
      uint32_t used = 0, ms = 0;
      for (uint32_t length : lengths) {
        ++ms;
        Platform.Tick = 1000 + ms;
        Model entry;
        if (ms % 5 == 0) {  // every fifth entry has no data (the length in the list is unused)
          log.AddLogEntry(nullptr, static_cast<int32_t>(ms), deTelnet, reinterpret_cast<const void*>(uintptr_t{1}),
                          253 * 256 + 1);
          entry = {ms, Format("[%d] Telnet DO echo received.", {ms}), TIpDebugLog::HeaderSize};
        } else {
          String text = Format("<%d:", {ms});
          text.resize(length, static_cast<char>('a' + ms % 26));
          if (length >= 2) text.back() = '>';
          log.AddLogEntry(nullptr, 0, deString, text.data(), length);
          entry = {ms, text, TIpDebugLog::HeaderSize + length};
        }
        if (entry.size < ringSize) {  // else it can never be held: dropped, the others stay
          model.push_back(entry);
          used += entry.size;
          while (used > ringSize - 1) {
            used -= model.front().size;
            model.pop_front();
          }
        }
        ASSERT_EQ(log.BufferFree(), ringSize - 1 - used) << "after entry " << ms;
      }
      log.WriteDebugLog();
      String expected = kHeader;
      for (const Model& m : model) expected += LogTimePrefix(static_cast<int32_t>(m.ms)) + m.text + "\r\n";
      EXPECT_EQ(ReadBytes(Folder / "model.log"), expected);
      EXPECT_TRUE(log.BufferEmpty());
      Platform.Tick = 1000;
    }
  }
}

// While it lives, no file of this process grows past `bytes`, as on a disk that is full from
// there on: writes beyond fail with EFBIG (the signal the system would send is ignored).
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &FOld);
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = FOld;
    limit.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }

 private:
  rlimit FOld{};
  void (*FOldHandler)(int) = nullptr;
};

// A file that cannot be opened or written raises ELogFileError, and every entry stays in the
// ring for a later attempt.
TEST_F(DebugLogFixture, FailedWritesKeepEveryEntryBuffered) {
  Log.SetEnabled(true);
  AddText(1, "one");
  AddText(2, "two");
  const String entries =
      "0000.000 : **** Logging Enabled\r\n\r\n"
      "0000.001 : one\r\n"
      "0000.002 : two\r\n";
  struct Case {
    const char* name;
    String file;
    TIpWriteMode mode;
  };
  const Case cases[] = {
      {"a folder that does not exist", Folder.File("missing/debug.log"), wmOverwrite},
      {"a full disk, new file", "/dev/full", wmOverwrite},  // opens; every write fails
      {"a full disk, continued file", "/dev/full", wmAppend},
  };
  for (const Case& c : cases) {
    Log.SetFileName(c.file);
    Log.SetWriteMode(c.mode);
    EXPECT_THROW(Log.WriteDebugLog(), ELogFileError) << c.name;
    EXPECT_FALSE(Log.BufferEmpty()) << c.name;
  }

  // A file with content gets no header: the entries are the first thing written.
  Log.SetFileName(Folder.File("debug.log"));
  Log.SetWriteMode(wmAppend);
  WriteBytes(Folder / "debug.log", "earlier\r\n");
  // Nothing of a write that failed stays in the file, whether it failed on its first byte or
  // part-way.
  for (size_t room : {0, 40}) {
    TFileSizeLimit full(9 + room);
    EXPECT_THROW(Log.WriteDebugLog(), ELogFileError);
    EXPECT_EQ(Written(), "earlier\r\n") << room;
  }
  Log.WriteDebugLog();
  EXPECT_EQ(Written(), "earlier\r\n" + entries);
  EXPECT_TRUE(Log.BufferEmpty());
}

}  // namespace
