// The server list file on any bytes: the list read from a file (ANSI, or UTF-8, UTF-16LE or
// UTF-16BE behind a byte order mark) must be its lines as a plain splitter finds them, and saving
// the list and reading it again must give the same list, in the file's own encoding.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "FuzzCheck.h"
#include "app/ServerList.h"
#include "settings/FileOps.h"
#include "settings/TextCodec.h"

namespace {

// Lines end at CR LF, CR or LF; a last line without an end counts, a final end adds nothing.
std::vector<String> ModelLines(const String& t) {
  std::vector<String> lines;
  String line;
  bool open = false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '\r' || t[i] == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
    } else {
      line += t[i];
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

// The list file, in memory where the system has a tmpfs: each save syncs the file to its disk,
// which on a real disk costs many times the rest of a run. Each run removes the file again (a
// process that libFuzzer ends runs no destructors).
const String& ListPath() {
  static const String path = [] {
    std::error_code error;
    const std::filesystem::path shm = "/dev/shm";
    const std::filesystem::path base =
        std::filesystem::is_directory(shm, error) ? shm : std::filesystem::temp_directory_path();
    return (base / ("kairotsu-fuzz-list-" + std::to_string(::getpid()) + ".lst")).string();
  }();
  return path;
}

void WriteFile(const String& path, const String& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FUZZ_CHECK(fd >= 0, "cannot create %s", path.c_str());
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  ::close(fd);
  FUZZ_CHECK(done == bytes.size(), "cannot write %s", path.c_str());
}

String Describe(const std::vector<String>& list) {
  String out;
  for (const String& s : list) out += "[" + FuzzHex(s) + "] ";
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const String bytes(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(SplitLines(bytes) == ModelLines(bytes), "SplitLines %s", Describe(SplitLines(bytes)).c_str());

  const String& path = ListPath();
  WriteFile(path, bytes);
  std::vector<String> servers;
  FUZZ_CHECK(ReadServerList(path, servers), "the file is there");
  const TTextEncoding encoding = DetectEncoding(bytes);
  if (encoding == TTextEncoding::Ansi) {
    FUZZ_CHECK(servers == ModelLines(bytes), "read %s", Describe(servers).c_str());
  } else {
    // One server a line of the decoded text; no server holds a line break.
    const std::u16string wide = DecodeUnicode(bytes, encoding);
    size_t lines = 0;
    bool open = false;
    for (size_t i = 0; i < wide.size(); ++i) {
      if (wide[i] == u'\r' || wide[i] == u'\n') {
        ++lines;
        open = false;
        if (wide[i] == u'\r' && i + 1 < wide.size() && wide[i + 1] == u'\n') ++i;
      } else {
        open = true;
      }
    }
    FUZZ_CHECK(servers.size() == lines + (open ? 1 : 0), "%zu servers", servers.size());
    for (const String& s : servers) FUZZ_CHECK(s.find_first_of("\r\n") == String::npos, "a line break in a server");
  }

  SaveServerList(path, servers);
  String saved;
  FUZZ_CHECK(ReadWholeFile(path, saved) == TReadResult::Ok, "the saved file is there");
  FUZZ_CHECK(DetectEncoding(saved) == encoding, "the encoding changed");
  if (encoding == TTextEncoding::Ansi) {
    String expected;
    for (const String& s : servers) expected += s + "\r\n";
    FUZZ_CHECK(saved == expected, "saved [%s]", FuzzHex(saved).c_str());
  }
  std::vector<String> again;
  FUZZ_CHECK(ReadServerList(path, again), "the saved file is there");
  FUZZ_CHECK(again == servers, "read again %s, was %s", Describe(again).c_str(), Describe(servers).c_str());
  ::unlink(path.c_str());
  return 0;
}
