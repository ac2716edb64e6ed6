// The debug log on Windows: the system's version record in the file's header, and the file
// written through the Windows file API, continued, and refused.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "log/IpLog.h"
#include "log/LogFile.h"
#include "sock/IpSockControl.h"

namespace {

// A folder of its own under the system's temporary folder, removed with its files.
struct TTempDir {
  String Path;
  TTempDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    Path = String(base) + "kairotsu-debuglog-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(Path.c_str(), nullptr);
  }
  ~TTempDir() {
    DeleteFileA(File("debug.log").c_str());
    RemoveDirectoryA(Path.c_str());
  }
  String File(const String& name) const { return Path + "\\" + name; }
};

String ReadFile(const String& path) {
  std::ifstream in(path, std::ios::binary);
  return String(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines after the header, each without its time prefix, which must read "dddd.ddd : ".
std::vector<String> EntryTexts(const String& body) {
  std::vector<String> texts;
  size_t at = 0;
  while (at < body.size()) {
    size_t end = body.find("\r\n", at);
    if (end == String::npos) end = body.size();
    String line = body.substr(at, end - at);
    at = end + 2;
    if (line.empty()) continue;
    if (line.size() < 11 || line[4] != '.' || line.compare(8, 3, " : ") != 0) {
      ADD_FAILURE() << "no time prefix: " << line;
      continue;
    }
    texts.push_back(line.substr(11));
  }
  return texts;
}

TEST(DebugLogWine, TheSystemVersionIsAWindowsNtVersion) {
  TOsVersionInfo version = QueryOsVersion();
  EXPECT_EQ(version.PlatformId, 2u);
  EXPECT_GE(version.MajorVersion, 5u);
  const String text = OperatingSystemText(version);
  EXPECT_EQ(
      text.rfind(
          "Windows NT " + std::to_string(version.MajorVersion) + "." + std::to_string(version.MinorVersion) + " ", 0),
      0u)
      << text;
  EXPECT_NE(DebugLogHeader(nullptr).find("\r\nOperating System : " + text + "\r\n"), String::npos);
}

TEST(DebugLogWine, WritesContinuesAndKeepsEntriesWhenRefused) {
  TTempDir dir;
  TIpDebugLog log(nullptr);
  log.SetFileName(dir.File("debug.log"));
  log.SetEnabled(true);
  log.AddLogEntry(nullptr, 300, deTelnet, reinterpret_cast<const void*>(uintptr_t{1}), 253 * 256 + 1);
  log.WriteDebugLog();
  const String header = DebugLogHeader(nullptr);
  String written = ReadFile(dir.File("debug.log"));
  ASSERT_EQ(written.substr(0, header.size()), header);
  EXPECT_EQ(EntryTexts(written.substr(header.size())),
            (std::vector<String>{"**** Logging Enabled", "[300] Telnet DO echo received."}));

  // A folder that does not exist: the entry stays and goes out with the next write.
  log.AddLogEntry(nullptr, 0, deString, "kept", 4);
  log.SetFileName(dir.File("missing\\debug.log"));
  EXPECT_THROW(log.WriteDebugLog(), ELogFileError);
  EXPECT_FALSE(log.BufferEmpty());

  log.SetFileName(dir.File("debug.log"));
  log.SetWriteMode(wmAppend);
  log.WriteDebugLog();
  written = ReadFile(dir.File("debug.log"));
  EXPECT_EQ(EntryTexts(written.substr(header.size())),
            (std::vector<String>{"**** Logging Enabled", "[300] Telnet DO echo received.", "kept"}));
  EXPECT_TRUE(log.BufferEmpty());
}

TEST(DebugLogWine, ADestroyedControlWritesItsTraceWithTheNegotiatedWinSock) {
  TTempDir dir;
  TWinSockModule winsock;
  {
    TIpSockControl control(nullptr);
    control.DebugLog().SetFileName(dir.File("debug.log"));
    control.DebugLog().SetEnabled(true);
    control.DebugLog().AddLogEntry(control.FormatterClass(), 300, 0x80000001, "ABCDEFGHIJKLMNOPQ", 17);
    control.DebugLog().AddLogEntry(nullptr, 300, deTelnet, reinterpret_cast<const void*>(uintptr_t{1}), 253 * 256 + 1);
  }
  const String written = ReadFile(dir.File("debug.log"));
  EXPECT_NE(written.find("\r\nNegotiated Version : $0202\r\n"), String::npos) << written;
  const size_t body = written.find(String(77, '=') + "\r\n\r\n");
  ASSERT_NE(body, String::npos) << written;
  // Entry lines carry the time prefix; the dump lines under the read entry do not.
  EXPECT_NE(written.find(" : Read - 17 bytes read from socket 300\r\n"
                         "  000000: 41 42 43 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50 : ABCDEFGHIJKLMNOP\r\n"
                         "  000010: 51                                               : Q               \r\n\r\n",
                         body),
            String::npos)
      << written;
  EXPECT_NE(written.find(" : [300] Telnet DO echo received.\r\n", body), String::npos) << written;
}

}  // namespace
