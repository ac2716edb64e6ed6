#include "toolkit/Strings.h"

#include <cstdlib>

String UpperCase(const String& s) {
  String r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

String LowerCase(const String& s) {
  String r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool SameText(const String& a, const String& b) { return UpperCase(a) == UpperCase(b); }

String IntToStr(long long value) { return std::to_string(value); }

long long StrToIntDef(const String& text, long long fallback) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return fallback;
  long long value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return fallback;
    value = value * base + d;
    if (value > 0xFFFFFFFFLL) return fallback;
  }
  if (base == 10 && (negative ? -value < -2147483648LL : value > 2147483647LL)) return fallback;
  if (base == 16 && value > 0x7FFFFFFF) value = static_cast<int32_t>(static_cast<uint32_t>(value));
  return negative ? -value : value;
}

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

TPathParts SplitPath(const String& path) {
  TPathParts parts{0, String::npos};
  for (size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (IsLeadByte(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '\\' || c == '/' || c == ':') {
      parts.NameStart = i + 1;
      parts.ExtStart = String::npos;
    } else if (c == '.') {
      parts.ExtStart = i;
    }
  }
  return parts;
}

String ExtractFilePath(const String& path) { return path.substr(0, SplitPath(path).NameStart); }

String ExtractFileName(const String& path) { return path.substr(SplitPath(path).NameStart); }

String ChangeFileExt(const String& path, const String& ext) { return path.substr(0, SplitPath(path).ExtStart) + ext; }
