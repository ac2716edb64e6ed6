// The server list file on any bytes: the list read from a file (ANSI, or UTF-8 / UTF-16LE behind
// a byte order mark) must be its lines as a plain splitter finds them, and saving the list and
// reading it again must give the same list, in the file's own encoding.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "FuzzCheck.h"
#include "app/ServerList.h"
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

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    auto p = std::filesystem::temp_directory_path() / ("kairotsu-fuzz-list-" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

struct RemoveFolder {
  ~RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Folder(), ignored);
  }
} removeAtExit;

String Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return String(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

  const std::filesystem::path path = Folder() / "NTP.lst";
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes; }
  std::vector<String> servers;
  FUZZ_CHECK(ReadServerList(path.string(), servers), "the file is there");
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

  SaveServerList(path.string(), servers);
  const String saved = Slurp(path);
  FUZZ_CHECK(DetectEncoding(saved) == encoding, "the encoding changed");
  if (encoding == TTextEncoding::Ansi) {
    String expected;
    for (const String& s : servers) expected += s + "\r\n";
    FUZZ_CHECK(saved == expected, "saved [%s]", FuzzHex(saved).c_str());
  }
  std::vector<String> again;
  FUZZ_CHECK(ReadServerList(path.string(), again), "the saved file is there");
  FUZZ_CHECK(again == servers, "read again %s, was %s", Describe(again).c_str(), Describe(servers).c_str());
  return 0;
}
