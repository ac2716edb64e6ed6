// The server list file: its lines, as written and read.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/ServerList.h"
#include "fakes/TempFolder.h"
#include "fakes/TextFiles.h"

TEST(ServerListFile, LinesWithAnyLineEnd) {
  EXPECT_EQ(SplitLines("a\r\nb\r\n"), (std::vector<String>{"a", "b"}));
  EXPECT_EQ(SplitLines("a\nb\nc"), (std::vector<String>{"a", "b", "c"}));
  EXPECT_EQ(SplitLines("a\rb\r\n\r\nd"), (std::vector<String>{"a", "b", "", "d"}));
  EXPECT_EQ(SplitLines(""), std::vector<String>{});
  EXPECT_EQ(SplitLines("\n"), std::vector<String>{""});
}

TEST(ServerListFile, WritesCrLfLinesAndReadsThemBack) {
  TTempFolder dir("list");
  String path = dir.File("NTP.lst");
  std::vector<String> read;
  EXPECT_FALSE(ReadServerList(path, read));
  ASSERT_EQ(DefaultServers.size(), 22u);
  SaveServerList(path, DefaultServers);
  const String bytes = ReadBytes(path);
  EXPECT_EQ(bytes.substr(0, 13), "ntp.nict.jp\r\n");
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 22);
  EXPECT_TRUE(ReadServerList(path, read));
  EXPECT_EQ(read, DefaultServers);
  EXPECT_FALSE(ReadServerList(dir.File("missing.lst"), read));
  EXPECT_THROW(ReadServerList(dir.Path().string(), read), EServerListError);  // there, but no file to read
  EXPECT_THROW(SaveServerList((dir / "no" / "such" / "NTP.lst").string(), {"x"}), EServerListError);
}

// A list that Notepad saved in UTF-16BE is read, and rewritten in UTF-16BE.
TEST(ServerListFile, BigEndianUnicodeListKeepsItsEncoding) {
  TTempFolder dir("list");
  const String path = dir.File("NTP.lst");
  WriteBytes(path, FileBytes(Bom::Utf16Be, u"a.test\r\nb.test"));
  std::vector<String> read;
  EXPECT_TRUE(ReadServerList(path, read));
  EXPECT_EQ(read, (std::vector<String>{"a.test", "b.test"}));
  SaveServerList(path, {"new.test", "a.test"});
  EXPECT_EQ(ReadBytes(path), FileBytes(Bom::Utf16Be, u"new.test\r\na.test\r\n"));
}
