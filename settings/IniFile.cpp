// Compiled with -fexec-charset=CP932: the write-failure text is Shift-JIS in the binary.
#include "settings/IniFile.h"

#include <vector>

#include "settings/FileOps.h"
#include "settings/TextCodec.h"
#include "toolkit/Strings.h"

namespace {

constexpr size_t kMaxValueBytes = 2047;

// The text operations work alike on the bytes of an ANSI file (char) and on the UTF-16 text of
// a Unicode file (char16_t).
template <class C>
using Text = std::basic_string<C>;

template <class C>
constexpr C Ch(char c) {
  return static_cast<C>(c);
}

// Length of the character at s[i]: a Shift-JIS lead byte takes the next byte with it. In UTF-16
// no unit of a character can be mistaken for an ASCII one.
size_t CharLength(const String& s, size_t i) {
  return IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}
size_t CharLength(const std::u16string&, size_t) { return 1; }

template <class C>
C FoldAscii(C c) {
  return c >= Ch<C>('a') && c <= Ch<C>('z') ? static_cast<C>(c - 32) : c;
}

template <class C>
bool SameName(const Text<C>& a, const Text<C>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size();) {
    const size_t n = CharLength(a, i);
    if (n == 1 ? FoldAscii(a[i]) != FoldAscii(b[i]) : a.compare(i, n, b, i, n) != 0) return false;
    i += n;
  }
  return true;
}

template <class C>
Text<C> Trim(const Text<C>& s) {
  auto blank = [](C c) { return c == Ch<C>(' ') || c == Ch<C>('\t'); };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

String CutAtLineBreak(const String& s) { return s.substr(0, s.find_first_of("\r\n")); }

// One line of the file: its content and the line end that followed it (empty on an unended
// last line). Lines end at "\n" (with an optional "\r" before it) or at a lone "\r".
template <class C>
struct Line {
  Text<C> Content;
  Text<C> End;
};

template <class C>
Text<C> CrLf() {
  return {Ch<C>('\r'), Ch<C>('\n')};
}

template <class C>
std::vector<Line<C>> SplitLines(const Text<C>& text) {
  const Text<C> breaks = CrLf<C>();
  std::vector<Line<C>> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find_first_of(breaks, i);
    if (e == Text<C>::npos) {
      lines.push_back({text.substr(i), {}});
      break;
    }
    size_t endLen = (text[e] == Ch<C>('\r') && e + 1 < text.size() && text[e + 1] == Ch<C>('\n')) ? 2 : 1;
    lines.push_back({text.substr(i, e - i), text.substr(e, endLen)});
    i = e + endLen;
  }
  return lines;
}

// The section name of a "[name]" line; a line without the closing ']' is none. The ']' is
// looked for character by character: it is also the second byte of some Shift-JIS characters (ゾ).
template <class C>
bool SectionOf(const Line<C>& line, Text<C>& name) {
  Text<C> t = Trim(line.Content);
  if (t.empty() || t[0] != Ch<C>('[')) return false;
  for (size_t i = 1; i < t.size(); i += CharLength(t, i)) {
    if (t[i] == Ch<C>(']')) {
      name = Trim(t.substr(1, i - 1));
      return true;
    }
  }
  return false;
}

// The key and the raw value of a "key=value" line (comments are no keys).
template <class C>
bool KeyOf(const Line<C>& line, Text<C>& key, Text<C>& value) {
  Text<C> t = Trim(line.Content);
  if (t.empty() || t[0] == Ch<C>(';')) return false;
  size_t eq = t.find(Ch<C>('='));
  if (eq == Text<C>::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return true;
}

// Index range [first, last) of the body of the first section of that name; false when none.
template <class C>
bool FindSection(const std::vector<Line<C>>& lines, const Text<C>& section, size_t& first, size_t& last) {
  for (size_t i = 0; i < lines.size(); ++i) {
    Text<C> name;
    if (!SectionOf(lines[i], name) || !SameName(name, section)) continue;
    first = i + 1;
    last = first;
    while (last < lines.size() && !SectionOf(lines[last], name)) ++last;
    return true;
  }
  return false;
}

template <class C>
Text<C> Join(const std::vector<Line<C>>& lines) {
  Text<C> out;
  for (const Line<C>& l : lines) out += l.Content + l.End;
  return out;
}

template <class C>
bool FindIn(const Text<C>& text, const Text<C>& section, const Text<C>& key, Text<C>& value) {
  std::vector<Line<C>> lines = SplitLines(text);
  size_t first, last;
  if (!FindSection(lines, section, first, last)) return false;
  for (size_t i = first; i < last; ++i) {
    Text<C> k, v;
    if (!KeyOf(lines[i], k, v) || !SameName(k, key)) continue;
    if (v.size() >= 2 && (v[0] == Ch<C>('"') || v[0] == Ch<C>('\'')) && v.back() == v[0]) v = v.substr(1, v.size() - 2);
    value = v;
    return true;
  }
  return false;
}

// The lines other than the key's own keep their bytes: the text is changed in one place only.
template <class C>
Text<C> PutIn(const Text<C>& text, const Text<C>& section, const Text<C>& key, const Text<C>& value) {
  const Text<C> newLine = key + Ch<C>('=') + value;
  std::vector<Line<C>> lines = SplitLines(text);
  size_t first, last;
  if (!FindSection(lines, section, first, last)) {
    if (!lines.empty() && lines.back().End.empty()) lines.back().End = CrLf<C>();
    lines.push_back({Ch<C>('[') + section + Ch<C>(']'), CrLf<C>()});
    lines.push_back({newLine, CrLf<C>()});
    return Join(lines);
  }
  for (size_t i = first; i < last; ++i) {
    Text<C> k, v;
    if (!KeyOf(lines[i], k, v) || !SameName(k, key)) continue;
    // In place, with the key as it was spelled and the line's own line end.
    lines[i].Content = k + Ch<C>('=') + value;
    return Join(lines);
  }
  // After the last non-blank line of the section, so that a blank line before the next
  // section stays where it is.
  size_t at = last;
  while (at > first && Trim(lines[at - 1].Content).empty()) --at;
  if (at > 0 && lines[at - 1].End.empty()) lines[at - 1].End = CrLf<C>();
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line<C>{newLine, CrLf<C>()});
  return Join(lines);
}

}  // namespace

bool IniText::SameName(const String& a, const String& b) { return ::SameName(a, b); }

bool IniText::Find(const String& text, const String& section, const String& key, String& value) {
  const String sect = CutAtLineBreak(section);
  const TTextEncoding encoding = DetectEncoding(text);
  if (encoding == TTextEncoding::Ansi) return FindIn(text, sect, key, value);
  std::u16string wide;
  if (!FindIn(DecodeUnicode(text, encoding), AnsiToWide(sect), AnsiToWide(key), wide)) return false;
  value = WideToAnsi(wide);
  return true;
}

String IniText::Put(const String& text, const String& section, const String& key, const String& value) {
  const String sect = CutAtLineBreak(section), k = CutAtLineBreak(key), v = CutAtLineBreak(value);
  const TTextEncoding encoding = DetectEncoding(text);
  if (encoding == TTextEncoding::Ansi) return PutIn(text, sect, k, v);
  const std::u16string wide = DecodeUnicode(text, encoding), wideSect = AnsiToWide(sect), wideKey = AnsiToWide(k);
  // A value saved back as it was read keeps its characters, also those that ANSI cannot hold.
  std::u16string current;
  if (FindIn(wide, wideSect, wideKey, current) && WideToAnsi(current) == v) return text;
  return EncodeUnicode(PutIn(wide, wideSect, wideKey, AnsiToWide(v)), encoding);
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
