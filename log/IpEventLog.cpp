#include "log/IpLog.h"
#include "log/LogFile.h"
#include "toolkit/Strings.h"

String TIpEventLog::DateTimeFormat() const {
  std::lock_guard guard(FLock);
  return FDateTimeFormat;
}

void TIpEventLog::SetDateTimeFormat(const String& value) {
  std::lock_guard guard(FLock);
  FDateTimeFormat = value;
}

void TIpEventLog::WriteEventString(const String& text) {
  std::lock_guard guard(FLock);
  if (!Enabled()) return;
  String line = FormatLogTime(FDateTimeFormat, SystemApi().GetLocalTime()) + " " + text + "\r\n";
  TLogFile file(FileName(), TLogFileMode::Append);
  file.Write(line);
}

namespace {

// value in decimal, zero-padded to width digits.
String Digits(unsigned value, int width) { return Format("%." + std::to_string(width) + "u", {value}); }

char AsciiLower(char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); }

}  // namespace

String FormatLogTime(const String& pattern, const TSystemTime& time) {
  const String& p = pattern.empty() ? String("yyyy.mm.dd hh:nn:ss") : pattern;
  String out;
  size_t i = 0;
  while (i < p.size()) {
    char c = p[i];
    if (c == '"' || c == '\'') {
      size_t end = p.find(c, i + 1);
      if (end == String::npos) end = p.size();
      out.append(p, i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    // A double-byte character is copied whole: its second byte may be a letter.
    if (IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < p.size()) {
      out.append(p, i, 2);
      i += 2;
      continue;
    }
    // A field is a run of one letter in either case; any other character stands alone.
    const char lower = AsciiLower(c);
    size_t run = 1;
    if (lower >= 'a' && lower <= 'z')
      while (i + run < p.size() && AsciiLower(p[i + run]) == lower) ++run;
    switch (lower) {
      case 'y': out += run >= 3 ? Digits(time.wYear, 4) : Digits(time.wYear % 100, 2); break;
      case 'm': out += Digits(time.wMonth, run >= 2 ? 2 : 1); break;
      case 'd': out += Digits(time.wDay, run >= 2 ? 2 : 1); break;
      case 'h': out += Digits(time.wHour, run >= 2 ? 2 : 1); break;
      case 'n': out += Digits(time.wMinute, run >= 2 ? 2 : 1); break;
      case 's': out += Digits(time.wSecond, run >= 2 ? 2 : 1); break;
      case 'z': out += Digits(time.wMilliseconds, run >= 3 ? 3 : 1); break;
      default: out.append(p, i, run); break;
    }
    i += run;
  }
  return out;
}
