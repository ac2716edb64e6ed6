// The INI text operations on any file: the input is read as an INI file, one value is written
// into one section, and the file is read again. Every other value must read as before, every
// other section must keep its bytes, and the value written must read back.
//
// Input: the file's bytes, then (at the end, read backwards) the choice of section, the choice
// of key, the value's length and the value.
#include <algorithm>
#include <vector>

#include "FuzzCheck.h"
#include "settings/IniFile.h"
#include "settings/TextCodec.h"
#include "toolkit/Strings.h"

namespace {

// A plain reading of an ANSI INI text: lines, sections and keys.
struct Line {
  String Content, End;
};

std::vector<Line> Lines(const String& t) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < t.size()) {
    size_t e = i;
    while (e < t.size() && t[e] != '\r' && t[e] != '\n') ++e;
    if (e == t.size()) {
      lines.push_back({t.substr(i), ""});
      break;
    }
    const size_t n = t.compare(e, 2, "\r\n") == 0 ? 2 : 1;
    lines.push_back({t.substr(i, e - i), t.substr(e, n)});
    i = e + n;
  }
  return lines;
}

String Trim(const String& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool Lead(char c) { return IsLeadByte(static_cast<unsigned char>(c)); }

// "[name]": the ']' is looked for character by character (it may be a Shift-JIS second byte).
bool Header(const Line& l, String& name) {
  const String t = Trim(l.Content);
  if (t.empty() || t[0] != '[') return false;
  for (size_t i = 1; i < t.size(); i += Lead(t[i]) && i + 1 < t.size() ? 2 : 1)
    if (t[i] == ']') {
      name = Trim(t.substr(1, i - 1));
      return true;
    }
  return false;
}

bool KeyLine(const Line& l, String& key, String& value) {
  const String t = Trim(l.Content);
  if (t.empty() || t[0] == ';') return false;
  const size_t eq = t.find('=');
  if (eq == String::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return true;
}

char Fold(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

bool Same(const String& a, const String& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lead(a[i]) && i + 1 < a.size()) {
      if (a.compare(i, 2, b, i, 2) != 0) return false;
      ++i;
    } else if (Fold(a[i]) != Fold(b[i])) {
      return false;
    }
  }
  return true;
}

// A section with its header line (none for the lines before the first header).
struct Block {
  bool HasHeader = false;
  String Name;
  std::vector<Line> Lines;
  String Bytes() const {
    String out;
    for (const Line& l : Lines) out += l.Content + l.End;
    return out;
  }
};

std::vector<Block> Blocks(const String& text) {
  std::vector<Block> blocks(1);
  for (const Line& l : Lines(text)) {
    String name;
    if (Header(l, name)) blocks.push_back({true, name, {}});
    blocks.back().Lines.push_back(l);
  }
  return blocks;
}

// The index of the first section of that name; 0 (the lines before any header) when none.
size_t Target(const std::vector<Block>& blocks, const String& section) {
  for (size_t i = 1; i < blocks.size(); ++i)
    if (Same(blocks[i].Name, section)) return i;
  return 0;
}

// A value as it reads back: up to a line break, trimmed, one pair of enclosing quotes removed.
String ReadBack(const String& written) {
  String v = Trim(written.substr(0, written.find_first_of("\r\n")));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
  return v;
}

struct Key {
  String Section, Name;
};

bool Printable(const String& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// The keys read back before and after the write. Each lookup parses the whole file, so reading
// every key costs the square of the file's size. Sections other than the written one must keep
// their bytes (checked below); a key there can read differently only if its lookup strays across
// the file, which the first and last keys of the file show. So: every key of the written key's
// name, the first and last keys of the written section, and the first and last of the file.
std::vector<Key> KeysToRead(const std::vector<Block>& blocks, const String& section, const String& key) {
  std::vector<Key> all;
  std::vector<size_t> inSection;
  for (const Block& b : blocks)
    if (b.HasHeader)
      for (const Line& l : b.Lines) {
        String k, v;
        if (!KeyLine(l, k, v)) continue;
        if (Same(b.Name, section)) inSection.push_back(all.size());
        all.push_back({b.Name, k});
      }
  constexpr size_t kEnds = 4;
  std::vector<bool> read(all.size());
  for (size_t i = 0; i < all.size(); ++i)
    read[i] = i < kEnds || i + kEnds >= all.size() || Same(all[i].Name, key);
  for (size_t j = 0; j < inSection.size(); ++j)
    if (j < kEnds || j + kEnds >= inSection.size()) read[inSection[j]] = true;
  std::vector<Key> keys;
  for (size_t i = 0; i < all.size(); ++i)
    if (read[i]) keys.push_back(all[i]);
  return keys;
}

void CheckAnsi(const String& text, const String& section, const String& key, const String& value) {
  const std::vector<Block> before = Blocks(text);
  const std::vector<Key> keys = KeysToRead(before, section, key);
  std::vector<std::pair<bool, String>> values;
  for (const Key& k : keys) {
    String v;
    const bool found = IniText::Find(text, k.Section, k.Name, v);
    values.emplace_back(found, v);
  }

  const String after = IniText::Put(text, section, key, value);

  String read;
  FUZZ_CHECK(IniText::Find(after, section, key, read), "the value written is not found");
  FUZZ_CHECK(read == ReadBack(value), "read back [%s], written [%s]", FuzzHex(read).c_str(), FuzzHex(value).c_str());
  for (size_t i = 0; i < keys.size(); ++i) {
    if (Same(keys[i].Section, section) && Same(keys[i].Name, key)) continue;
    String v;
    const bool found = IniText::Find(after, keys[i].Section, keys[i].Name, v);
    FUZZ_CHECK(found == values[i].first && v == values[i].second, "[%s] %s changed from [%s] to [%s]",
               keys[i].Section.c_str(), keys[i].Name.c_str(), FuzzHex(values[i].second).c_str(), FuzzHex(v).c_str());
  }

  const std::vector<Block> now = Blocks(after);
  const size_t target = Target(before, section);
  if (target == 0) {
    // A new section at the end; the last line before it may have got its line end.
    FUZZ_CHECK(now.size() == before.size() + 1, "%zu sections, were %zu", now.size(), before.size());
    for (size_t i = 0; i + 1 < before.size(); ++i)
      FUZZ_CHECK(now[i].Bytes() == before[i].Bytes(), "section %zu changed", i);
    const String last = before.back().Bytes();
    const bool unended = !before.back().Lines.empty() && before.back().Lines.back().End.empty();
    FUZZ_CHECK(now[before.size() - 1].Bytes() == (unended ? last + "\r\n" : last), "the last section changed");
    const String cut = value.substr(0, value.find_first_of("\r\n"));
    FUZZ_CHECK(now.back().Bytes() == "[" + section + "]\r\n" + key + "=" + cut + "\r\n", "new section [%s]",
               FuzzHex(now.back().Bytes()).c_str());
    return;
  }
  FUZZ_CHECK(now.size() == before.size(), "%zu sections, were %zu", now.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i)
    if (i != target) FUZZ_CHECK(now[i].Bytes() == before[i].Bytes(), "section %zu changed", i);
  // The target section: one line rewritten, or one added (the line before it may get its end).
  const std::vector<Line>& was = before[target].Lines;
  const std::vector<Line>& is = now[target].Lines;
  if (is.size() == was.size()) {
    size_t changed = 0;
    for (size_t i = 0; i < was.size(); ++i)
      if (is[i].Content != was[i].Content || is[i].End != was[i].End) {
        ++changed;
        FUZZ_CHECK(is[i].End == was[i].End, "a rewritten line lost its line end");
        String k, v;
        FUZZ_CHECK(KeyLine(was[i], k, v) && Same(k, key), "line %zu is not the key's", i);
      }
    FUZZ_CHECK(changed <= 1, "%zu lines changed", changed);
  } else {
    FUZZ_CHECK(is.size() == was.size() + 1, "%zu lines, were %zu", is.size(), was.size());
    size_t at = 0;
    while (at < was.size() && is[at].Content == was[at].Content && is[at].End == was[at].End) ++at;
    if (at < was.size() && is[at].Content == was[at].Content && was[at].End.empty() && is[at].End == "\r\n") ++at;
    FUZZ_CHECK(at >= 1, "a line inserted before the header");
    for (size_t i = at; i < was.size(); ++i)
      FUZZ_CHECK(is[i + 1].Content == was[i].Content && is[i + 1].End == was[i].End, "line %zu moved", i);
    for (size_t i = at; i < was.size(); ++i) FUZZ_CHECK(Trim(was[i].Content).empty(), "a key inserted before a line");
  }
}

// A Unicode file: names and values of printable ASCII pass through the code page unchanged.
void CheckUnicode(const String& text, const String& section, const String& key, const String& value) {
  String old;
  if (IniText::Find(text, section, key, old)) {
    FUZZ_CHECK(IniText::Put(text, section, key, old) == text, "a value written back as read changed the file");
  }
  const String after = IniText::Put(text, section, key, value);
  FUZZ_CHECK(DetectEncoding(after) == DetectEncoding(text), "the encoding changed");
  String read;
  FUZZ_CHECK(IniText::Find(after, section, key, read), "the value written is not found");
  if (Printable(value) && Printable(section) && Printable(key))
    FUZZ_CHECK(read == ReadBack(value), "read back [%s], written [%s]", read.c_str(), value.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t sectionChoice = data[size - 1], keyChoice = data[size - 2];
  size_t valueLength = std::min<size_t>(data[size - 3] % 48, size - 3);
  const String value(reinterpret_cast<const char*>(data + size - 3 - valueLength), valueLength);
  const String text(reinterpret_cast<const char*>(data), size - 3 - valueLength);

  const TTextEncoding encoding = DetectEncoding(text);
  if (encoding != TTextEncoding::Ansi) {
    const String section = sectionChoice & 1 ? "Setup" : "PCUSER";
    const String key = keyChoice & 1 ? "Server" : "Interval";
    CheckUnicode(text, section, key, value);
    return 0;
  }

  // A section of the file (or a new one) and one of its keys (or a new one). Keys that open
  // with '[' or ';' are no names the program writes.
  std::vector<String> sections;
  for (const Block& b : Blocks(text))
    if (b.HasHeader) sections.push_back(b.Name);
  const String section =
      sectionChoice < sections.size() ? sections[sectionChoice] : "New" + std::to_string(sectionChoice);
  std::vector<String> keys;
  const std::vector<Block> blocks = Blocks(text);
  const size_t target = Target(blocks, section);
  if (target)
    for (const Line& l : blocks[target].Lines) {
      String k, v;
      if (KeyLine(l, k, v) && !k.empty() && k[0] != '[') keys.push_back(k);
    }
  const String key = keyChoice < keys.size() ? keys[keyChoice] : "Key" + std::to_string(keyChoice);
  CheckAnsi(text, section, key, value);
  return 0;
}
