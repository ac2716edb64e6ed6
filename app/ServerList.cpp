#include "app/ServerList.h"

#include "settings/FileOps.h"

const std::vector<String> DefaultServers = {
    "ntp.nict.jp",          "ntp.jst.mfeed.ad.jp", "ntp1.jst.mfeed.ad.jp", "ntp2.jst.mfeed.ad.jp",
    "ntp3.jst.mfeed.ad.jp", "time.google.com",     "time1.google.com",     "time2.google.com",
    "time3.google.com",     "time4.google.com",    "time.cloudflare.com",  "time.windows.com",
    "time.apple.com",       "time.aws.com",        "pool.ntp.org",         "jp.pool.ntp.org",
    "0.jp.pool.ntp.org",    "1.jp.pool.ntp.org",   "2.jp.pool.ntp.org",    "3.jp.pool.ntp.org",
    "asia.pool.ntp.org",    "time.nist.gov",
};

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

bool ReadServerList(const String& path, std::vector<String>& servers) {
  String text;
  switch (ReadWholeFile(path, text)) {
    case TReadResult::Missing: return false;
    case TReadResult::Failed: throw EServerListError("Cannot open file \"" + path + "\"");
    case TReadResult::Ok: break;
  }
  servers = SplitLines(text);
  return true;
}

void SaveServerList(const String& path, const std::vector<String>& servers) {
  String text;
  for (const String& s : servers) text += s + "\r\n";
  // Replaced whole, so a failed write leaves the old list as it was.
  if (!ReplaceFileContents(path, text)) throw EServerListError("Cannot create file \"" + path + "\"");
}
