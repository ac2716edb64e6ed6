#include "toolkit/SysUtils.h"

#include <cmath>

#include "toolkit/FloatFormat.h"

namespace {

String PadTo(const String& body, int width, bool left) {
  if (width <= 0 || static_cast<int>(body.size()) >= width) return body;
  String pad(static_cast<size_t>(width) - body.size(), ' ');
  return left ? body + pad : pad + body;
}

String Digits(unsigned long long value, int base, int precision) {
  static const char kDigits[] = "0123456789ABCDEF";
  String out;
  do {
    out.insert(out.begin(), kDigits[value % static_cast<unsigned>(base)]);
    value /= static_cast<unsigned>(base);
  } while (value != 0);
  if (precision > 0 && static_cast<int>(out.size()) < precision)
    out.insert(0, static_cast<size_t>(precision) - out.size(), '0');
  return out;
}

}  // namespace

String Format(const String& fmt, const std::vector<TFormatArg>& args) {
  String out;
  size_t next = 0;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= fmt.size()) throw Exception("Format '" + fmt + "' invalid or incompatible with argument");
    if (fmt[i] == '%') {
      out += '%';
      continue;
    }
    bool left = false;
    if (fmt[i] == '-') {
      left = true;
      ++i;
    }
    int width = -1, precision = -1;
    auto number = [&](int& dst) {
      if (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        dst = 0;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') dst = dst * 10 + (fmt[i++] - '0');
      }
    };
    number(width);
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      precision = 0;
      number(precision);
    }
    if (i >= fmt.size() || next >= args.size())
      throw Exception("Format '" + fmt + "' invalid or incompatible with argument");
    const TFormatArg& arg = args[next++];
    char conv = static_cast<char>(fmt[i] | 0x20);
    String body;
    switch (conv) {
      case 'd': {
        if (arg.ArgKind() != TFormatArg::Kind::Int)
          throw Exception("Format '" + fmt + "' invalid or incompatible with argument");
        long long v = arg.AsInt();
        unsigned long long mag = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        body = Digits(mag, 10, precision);
        if (v < 0) body.insert(body.begin(), '-');
        break;
      }
      case 'u': body = Digits(static_cast<unsigned long long>(arg.AsInt()) & 0xFFFFFFFFULL, 10, precision); break;
      case 'x': {
        if (arg.ArgKind() != TFormatArg::Kind::Int)
          throw Exception("Format '" + fmt + "' invalid or incompatible with argument");
        // Negative values print as their 32-bit two's complement, as the runtime does.
        body = Digits(static_cast<unsigned long long>(arg.AsInt()) & 0xFFFFFFFFULL, 16, precision);
        break;
      }
      case 's':
        if (arg.ArgKind() != TFormatArg::Kind::Str)
          throw Exception("Format '" + fmt + "' invalid or incompatible with argument");
        body = arg.AsStr();
        if (precision >= 0 && static_cast<int>(body.size()) > precision) body.resize(static_cast<size_t>(precision));
        break;
      case 'f':
      case 'e':
      case 'g': {
        if (arg.ArgKind() == TFormatArg::Kind::Str)
          throw Exception("Format '" + fmt + "' invalid or incompatible with argument");
        body = FormatFloat(arg.AsFloat(), conv, precision < 0 ? (conv == 'g' ? 15 : 2) : precision);
        break;
      }
      default: throw Exception("Format '" + fmt + "' invalid or incompatible with argument");
    }
    out += PadTo(body, width, left);
  }
  return out;
}

namespace {

// Days from 0001-01-01 to 1899-12-30 in the proleptic Gregorian calendar.
constexpr long long kDateDelta = 693594;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    throw Exception("Invalid argument to date encode");
  long long days = 0;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  long long y = year - 1;
  days += day + y * 365 + y / 4 - y / 100 + y / 400;
  return static_cast<TDateTime>(days - kDateDelta);  // days since 1899-12-30
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
    throw Exception("Invalid argument to time encode");
  return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / 86400000.0;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  long long days = static_cast<long long>(std::floor(value)) + kDateDelta - 1;  // days since 0001-01-01, 0-based
  if (days < 0) {
    year = month = day = 0;
    return;
  }
  // 400-year cycles of 146097 days, as the runtime's decoder does.
  long long y = 1;
  y += (days / 146097) * 400;
  days %= 146097;
  long long c = days / 36524;
  if (c == 4) c = 3;
  y += c * 100;
  days -= c * 36524;
  y += (days / 1461) * 4;
  days %= 1461;
  long long d = days / 365;
  if (d == 4) d = 3;
  y += d;
  days -= d * 365;
  year = static_cast<int>(y);
  month = 1;
  while (days >= DaysInMonth(year, month)) {
    days -= DaysInMonth(year, month);
    ++month;
  }
  day = static_cast<int>(days) + 1;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  double frac = value - std::floor(value);
  long long ms = static_cast<long long>(std::llround(frac * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}
