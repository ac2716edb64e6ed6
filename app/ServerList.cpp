#include "app/ServerList.h"

#include <map>

#include "settings/FileOps.h"
#include "settings/TextCodec.h"

const std::vector<String> DefaultServers = {
    "ntp.nict.jp",          "ntp.jst.mfeed.ad.jp", "ntp1.jst.mfeed.ad.jp", "ntp2.jst.mfeed.ad.jp",
    "ntp3.jst.mfeed.ad.jp", "time.google.com",     "time1.google.com",     "time2.google.com",
    "time3.google.com",     "time4.google.com",    "time.cloudflare.com",  "time.windows.com",
    "time.apple.com",       "time.aws.com",        "pool.ntp.org",         "jp.pool.ntp.org",
    "0.jp.pool.ntp.org",    "1.jp.pool.ntp.org",   "2.jp.pool.ntp.org",    "3.jp.pool.ntp.org",
    "asia.pool.ntp.org",    "time.nist.gov",
};

namespace {

template <class C>
std::vector<std::basic_string<C>> LinesOf(const std::basic_string<C>& text) {
  std::vector<std::basic_string<C>> lines;
  size_t start = 0, i = 0;
  while (i < text.size()) {
    C c = text[i];
    if (c == C('\r') || c == C('\n')) {
      lines.push_back(text.substr(start, i - start));
      if (c == C('\r') && i + 1 < text.size() && text[i + 1] == C('\n')) ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The lines of a Unicode list file, as they are in the file.
std::vector<std::u16string> UnicodeLines(const String& bytes, TTextEncoding encoding) {
  return LinesOf(DecodeUnicode(bytes, encoding));
}

}  // namespace

std::vector<String> SplitLines(const String& text) { return LinesOf(text); }

bool ReadServerList(const String& path, std::vector<String>& servers) {
  String text;
  switch (ReadWholeFile(path, text)) {
    case TReadResult::Missing: return false;
    case TReadResult::Failed: throw EServerListError("Cannot open file \"" + path + "\"");
    case TReadResult::Ok: break;
  }
  const TTextEncoding encoding = DetectEncoding(text);
  if (encoding == TTextEncoding::Ansi) {
    servers = SplitLines(text);
  } else {
    servers.clear();
    for (const std::u16string& line : UnicodeLines(text, encoding)) servers.push_back(WideToAnsi(line));
  }
  return true;
}

void SaveServerList(const String& path, const std::vector<String>& servers) {
  // A list that is in Unicode stays so.
  String old;
  const TTextEncoding encoding =
      ReadWholeFile(path, old) == TReadResult::Ok ? DetectEncoding(old) : TTextEncoding::Ansi;
  String bytes;
  if (encoding == TTextEncoding::Ansi) {
    for (const String& s : servers) bytes += s + "\r\n";
  } else {
    // A line the list still holds is written as the file had it: characters that ANSI cannot
    // hold ('?' in the list) stay what they were.
    std::map<String, std::u16string> asInFile;
    for (const std::u16string& line : UnicodeLines(old, encoding)) asInFile.emplace(WideToAnsi(line), line);
    std::u16string text;
    for (const String& s : servers) {
      auto it = asInFile.find(s);
      text += (it != asInFile.end() ? it->second : AnsiToWide(s)) + u"\r\n";
    }
    bytes = EncodeUnicode(text, encoding);
  }
  // Replaced whole, so a failed write leaves the old list as it was.
  if (!ReplaceFileContents(path, bytes)) throw EServerListError("Cannot create file \"" + path + "\"");
}
