// Compiled with -fexec-charset=CP932: the write-failure text is Shift-JIS in the binary.
#include "settings/IniFile.h"

#include <vector>

#include "settings/FileOps.h"
#include "toolkit/Strings.h"

namespace {

constexpr size_t kMaxValueBytes = 2047;

String Trim(const String& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

String CutAtLineBreak(const String& s) { return s.substr(0, s.find_first_of("\r\n")); }

// One line of the file: its content and the line end that followed it ("" on an unended last
// line). Lines end at "\n" (with an optional "\r" before it) or at a lone "\r".
struct Line {
  String Content;
  String End;
  String Bytes() const { return Content + End; }
};

std::vector<Line> SplitLines(const String& text) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find_first_of("\r\n", i);
    if (e == String::npos) {
      lines.push_back({text.substr(i), ""});
      break;
    }
    size_t endLen = (text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ? 2 : 1;
    lines.push_back({text.substr(i, e - i), text.substr(e, endLen)});
    i = e + endLen;
  }
  return lines;
}

// The section name of a "[name]" line; a line without the closing ']' is none. The ']' is
// looked for character by character: it is also the second byte of some Shift-JIS characters (ゾ).
bool SectionOf(const Line& line, String& name) {
  String t = Trim(line.Content);
  if (t.empty() || t[0] != '[') return false;
  for (size_t i = 1; i < t.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(t[i]))) {
      ++i;
    } else if (t[i] == ']') {
      name = Trim(t.substr(1, i - 1));
      return true;
    }
  }
  return false;
}

// The key and the raw value of a "key=value" line (comments are no keys).
bool KeyOf(const Line& line, String& key, String& value) {
  String t = Trim(line.Content);
  if (t.empty() || t[0] == ';') return false;
  size_t eq = t.find('=');
  if (eq == String::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return true;
}

// Index range [first, last) of the body of the first section of that name; false when none.
bool FindSection(const std::vector<Line>& lines, const String& section, size_t& first, size_t& last) {
  for (size_t i = 0; i < lines.size(); ++i) {
    String name;
    if (!SectionOf(lines[i], name) || !IniText::SameName(name, section)) continue;
    first = i + 1;
    last = first;
    while (last < lines.size() && !SectionOf(lines[last], name)) ++last;
    return true;
  }
  return false;
}

String Join(const std::vector<Line>& lines) {
  String out;
  for (const Line& l : lines) out += l.Bytes();
  return out;
}

}  // namespace

bool IniText::SameName(const String& a, const String& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (IsLeadByte(x)) {
      // Both bytes of a double-byte character compare exactly.
      if (x != y) return false;
      if (i + 1 < a.size()) {
        if (a[i + 1] != b[i + 1]) return false;
        ++i;
      }
      continue;
    }
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool IniText::Find(const String& text, const String& section, const String& key, String& value) {
  std::vector<Line> lines = SplitLines(text);
  size_t first, last;
  if (!FindSection(lines, CutAtLineBreak(section), first, last)) return false;
  for (size_t i = first; i < last; ++i) {
    String k, v;
    if (!KeyOf(lines[i], k, v) || !SameName(k, key)) continue;
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
    value = v;
    return true;
  }
  return false;
}

String IniText::Put(const String& text, const String& section, const String& key, const String& value) {
  const String sect = CutAtLineBreak(section);
  const String newLine = CutAtLineBreak(key) + "=" + CutAtLineBreak(value);
  std::vector<Line> lines = SplitLines(text);
  size_t first, last;
  if (!FindSection(lines, sect, first, last)) {
    if (!lines.empty() && lines.back().End.empty()) lines.back().End = "\r\n";
    lines.push_back({"[" + sect + "]", "\r\n"});
    lines.push_back({newLine, "\r\n"});
    return Join(lines);
  }
  for (size_t i = first; i < last; ++i) {
    String k, v;
    if (!KeyOf(lines[i], k, v) || !SameName(k, key)) continue;
    // In place, with the key as it was spelled and the line's own line end.
    lines[i].Content = k + "=" + CutAtLineBreak(value);
    return Join(lines);
  }
  // After the last non-blank line of the section, so that a blank line before the next
  // section stays where it is.
  size_t at = last;
  while (at > first && Trim(lines[at - 1].Content).empty()) --at;
  if (at > 0 && lines[at - 1].End.empty()) lines[at - 1].End = "\r\n";
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{newLine, "\r\n"});
  return Join(lines);
}

bool ParseIniInteger(const String& text, int32_t& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 10) return false;
    uint32_t v = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      char c = text[i];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    value = static_cast<int32_t>(v);
    return true;
  }
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) return false;
  value = static_cast<int32_t>(v);
  return true;
}

TIniFile::TIniFile(const String& fileName) : FFileName(fileName) {
  if (SplitPath(FFileName).NameStart == 0) FFileName = WindowsDirectory() + FFileName;
}

String TIniFile::ReadString(const String& section, const String& key, const String& fallback) const {
  String text;
  {
    auto lock = LockFileExclusive(FFileName);
    if (ReadWholeFile(FFileName, text) != TReadResult::Ok) return fallback;
  }
  String value;
  if (!IniText::Find(text, section, key, value)) return fallback;
  if (value.size() > kMaxValueBytes) value.resize(kMaxValueBytes);
  return value;
}

int32_t TIniFile::ReadInteger(const String& section, const String& key, int32_t fallback) const {
  int32_t value;
  return ParseIniInteger(ReadString(section, key, ""), value) ? value : fallback;
}

bool TIniFile::ReadBool(const String& section, const String& key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteString(const String& section, const String& key, const String& value) {
  auto lock = LockFileExclusive(FFileName);
  String text;
  // A file that exists but cannot be read must not be replaced by one that lacks its contents.
  if (ReadWholeFile(FFileName, text) == TReadResult::Failed ||
      !ReplaceFileContents(FFileName, IniText::Put(text, section, key, value)))
    throw EIniFileError(Format("%s に書き込めません", {FFileName}));
}

void TIniFile::WriteInteger(const String& section, const String& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const String& section, const String& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}
