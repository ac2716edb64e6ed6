#include "app/ServerList.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

const std::vector<String> DefaultServers = {
    "ntp.nict.jp",          "ntp.jst.mfeed.ad.jp", "ntp1.jst.mfeed.ad.jp", "ntp2.jst.mfeed.ad.jp",
    "ntp3.jst.mfeed.ad.jp", "time.google.com",     "time1.google.com",     "time2.google.com",
    "time3.google.com",     "time4.google.com",    "time.cloudflare.com",  "time.windows.com",
    "time.apple.com",       "time.aws.com",        "pool.ntp.org",         "jp.pool.ntp.org",
    "0.jp.pool.ntp.org",    "1.jp.pool.ntp.org",   "2.jp.pool.ntp.org",    "3.jp.pool.ntp.org",
    "asia.pool.ntp.org",    "time.nist.gov",
};

namespace {
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
}  // namespace

std::vector<String> SplitLines(const String& text) {
  std::vector<String> lines;
  size_t start = 0, i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool FileExists(const String& path) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  return f != nullptr;
}

std::vector<String> LoadServerList(const String& path) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) throw EServerListError("Cannot open file \"" + path + "\". " + std::strerror(errno));
  String text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) text.append(buffer, n);
  if (std::ferror(f.get())) throw EServerListError("Cannot read file \"" + path + "\"");
  return SplitLines(text);
}

void SaveServerList(const String& path, const std::vector<String>& servers) {
  String text;
  for (const String& s : servers) text += s + "\r\n";
  FilePtr f(std::fopen(path.c_str(), "wb"));
  if (!f) throw EServerListError("Cannot create file \"" + path + "\". " + std::strerror(errno));
  bool ok = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  ok = std::fclose(f.release()) == 0 && ok;
  if (!ok) throw EServerListError("Cannot write file \"" + path + "\"");
}
