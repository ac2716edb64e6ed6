#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/SyncHistory.h"
#include "fakes/FakePlatform.h"
#include "fakes/TempFolder.h"

namespace {

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) end = bytes.size();
    out.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

TEST(SyncHistory, LineTexts) {
  EXPECT_EQ(TSyncHistory::ClockSet("ntp.test", 3250, 12), "ntp.test: set, offset +3250 ms, delay 12 ms");
  EXPECT_EQ(TSyncHistory::ClockSet("ntp.test", -250, 0), "ntp.test: set, offset -250 ms, delay 0 ms");
  EXPECT_EQ(TSyncHistory::Failed("ntp.test", "invalid reply", "stratum 0"), "ntp.test: invalid reply, stratum 0");
  EXPECT_EQ(TSyncHistory::Failed("(none)", "no server", ""), "(none): no server");
}

TEST(SyncHistory, TheOldestLinesGoFirstAndTheFileStaysBelowItsLimit) {
  TFakePlatform platform;
  TTempFolder folder("history");
  TSyncHistory history(nullptr, folder.File("Kairotsu.log"), 1000);
  for (int i = 0; i < 200; ++i) history.Record(TSyncHistory::ClockSet("ntp.test", i, 1));
  const std::string bytes = ReadBytes(folder / "Kairotsu.log");
  EXPECT_LE(bytes.size(), 1000u);
  EXPECT_GE(bytes.size(), 600u);
  const auto lines = Lines(bytes);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "2024.01.01 09:00:00 ntp.test: set, offset +199 ms, delay 1 ms");
  // Whole lines, newest last, none missing in between.
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(lines[i], "2024.01.01 09:00:00 ntp.test: set, offset +" + std::to_string(200 - lines.size() + i) +
                            " ms, delay 1 ms");
}

// A trim whose rewrite fails (here its temporary file cannot be made) still lets the line in;
// the file is trimmed the next time.
TEST(SyncHistory, AFileThatCannotBeTrimmedStillGetsTheLine) {
  TFakePlatform platform;
  TTempFolder folder("history");
  const std::string path = folder.File("Kairotsu.log"), temp = path + "." + std::to_string(::getpid()) + ".tmp";
  std::string old;
  for (int i = 0; i < 198; ++i) old += "old\r\n";
  WriteBytes(path, old);
  TSyncHistory history(nullptr, path, 1000);
  std::filesystem::create_directory(temp);
  EXPECT_NO_THROW(history.Record("held"));
  EXPECT_EQ(ReadBytes(path), old + "2024.01.01 09:00:00 held\r\n");
  std::filesystem::remove(temp);
  history.Record("free");
  const std::string bytes = ReadBytes(path);
  EXPECT_LE(bytes.size(), 1000u);
  EXPECT_TRUE(bytes.ends_with("old\r\n2024.01.01 09:00:00 held\r\n2024.01.01 09:00:00 free\r\n")) << bytes;
}

TEST(SyncHistory, TwoProgramsWritingAtOnceLoseNoLine) {
  TTempFolder folder("history");
  const std::string path = folder.File("Kairotsu.log");
  for (size_t limit : {size_t{1} << 20, size_t{4000}}) {
    std::filesystem::remove(path);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
      children[c] = fork();
      if (children[c] == 0) {
        TFakePlatform platform;
        TSyncHistory history(nullptr, path, limit);
        for (int i = 0; i < 300; ++i) history.Record(TSyncHistory::ClockSet(c ? "b.test" : "a.test", i, 0));
        _exit(0);
      }
    }
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto lines = Lines(ReadBytes(path));
    int next[2] = {-1, -1};  // each writer's lines are whole and in order, with no gap
    for (const auto& line : lines) {
      const int c = line.find(" b.test: ") != std::string::npos;
      int n = -1;
      ASSERT_EQ(std::sscanf(line.c_str(), "2024.01.01 09:00:00 %*c.test: set, offset +%d ms, delay 0 ms", &n), 1)
          << line;
      if (next[c] >= 0) {
        EXPECT_EQ(n, next[c]) << line;
      }
      next[c] = n + 1;
    }
    if (limit > 100000) {
      EXPECT_EQ(next[0], 300);
      EXPECT_EQ(next[1], 300);
      EXPECT_EQ(lines.size(), 600u);
    } else {  // only the newest lines are kept: the writer that finished last has all of its own
      EXPECT_TRUE(next[0] == 300 || next[1] == 300);
      EXPECT_LE(ReadBytes(path).size(), limit);
    }
  }
}

}  // namespace
