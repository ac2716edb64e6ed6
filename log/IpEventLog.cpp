#include "log/IpLog.h"
#include "log/LogFile.h"

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
    char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    size_t run = 1;
    while (i + run < p.size() && (p[i + run] == c || p[i + run] == lower || p[i + run] == lower - 32)) ++run;
    switch (lower) {
      case 'y': out += run >= 3 ? Digits(time.wYear, 4) : Digits(time.wYear % 100, 2); break;
      case 'm': out += Digits(time.wMonth, run >= 2 ? 2 : 1); break;
      case 'd': out += Digits(time.wDay, run >= 2 ? 2 : 1); break;
      case 'h': out += Digits(time.wHour, run >= 2 ? 2 : 1); break;
      case 'n': out += Digits(time.wMinute, run >= 2 ? 2 : 1); break;
      case 's': out += Digits(time.wSecond, run >= 2 ? 2 : 1); break;
      case 'z': out += Digits(time.wMilliseconds, run >= 3 ? 3 : 1); break;
      default: out.append(run, c); break;
    }
    i += run;
  }
  return out;
}
