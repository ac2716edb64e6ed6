// The runtime's basics that the whole program shares: the root exception class, the
// date-time and string conventions, and the printf-like formatting helper.
//
// Strings are byte strings in the ANSI code page (Shift-JIS for user texts). A date-time is a
// double counting days since 1899-12-30 00:00; the fraction is the time of day.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

using TDateTime = double;
using String = std::string;

// Root of every exception the program raises; carries a message text.
class Exception : public std::exception {
 public:
  explicit Exception(String message) : FMessage(std::move(message)) {}
  const String& Message() const { return FMessage; }
  void SetMessage(const String& message) { FMessage = message; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  String FMessage;
};

// The runtime raises this when the system refuses a resource such as a window timer.
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

// The runtime raises this when a text is not a number it can take ("'70000' is not a valid port").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// One argument of Format: an integer, a floating-point number or a string.
class TFormatArg {
 public:
  enum class Kind { Int, Float, Str };
  TFormatArg(int v) : FKind(Kind::Int), FInt(v) {}
  TFormatArg(long v) : FKind(Kind::Int), FInt(v) {}
  TFormatArg(long long v) : FKind(Kind::Int), FInt(v) {}
  TFormatArg(unsigned v) : FKind(Kind::Int), FInt(v) {}
  TFormatArg(unsigned long v) : FKind(Kind::Int), FInt(static_cast<long long>(v)) {}
  TFormatArg(unsigned long long v) : FKind(Kind::Int), FInt(static_cast<long long>(v)) {}
  TFormatArg(double v) : FKind(Kind::Float), FFloat(v) {}
  TFormatArg(const char* v) : FKind(Kind::Str), FStr(v ? v : "") {}
  TFormatArg(const String& v) : FKind(Kind::Str), FStr(v) {}

  Kind ArgKind() const { return FKind; }
  long long AsInt() const { return FKind == Kind::Float ? static_cast<long long>(FFloat) : FInt; }
  double AsFloat() const { return FKind == Kind::Float ? FFloat : static_cast<double>(FInt); }
  const String& AsStr() const { return FStr; }

 private:
  Kind FKind;
  long long FInt = 0;
  double FFloat = 0;
  String FStr;
};

// The runtime's Format: %d (decimal), %u, %s, %x (upper-case hexadecimal), %f, %e, %g, %%,
// with optional '-' flag, width and precision. For %d and %x a precision gives at least that many
// digits, zero-padded ("%8.8x", "%07.7d"); for %s it cuts the string. Raises Exception for a
// directive that does not match its argument or for missing arguments.
String Format(const String& fmt, const std::vector<TFormatArg>& args);

// Whole seconds and date parts of a date-time value.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
