// ParseURL against a model. The fuzz input either builds an address from parts (scheme, user,
// password, host, port, path, fragment, query, blanks around it) whose record is known from
// how it was built, or is handed over as raw text, for which only what holds for every text is
// checked.
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "base/IpUrl.h"

namespace {

const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
const char kDigits[] = "0123456789";
const char kHostChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._";

// A word of `min` to `max` characters from `alphabet`.
String Word(FuzzedDataProvider& in, const char* alphabet, size_t min, size_t max) {
  const size_t n = in.ConsumeIntegralInRange<size_t>(min, max);
  const size_t count = std::char_traits<char>::length(alphabet);
  String w;
  for (size_t i = 0; i < n; ++i) w += alphabet[in.ConsumeIntegralInRange<size_t>(0, count - 1)];
  return w;
}

// Any characters except those in `excluded` (and NUL), printable or not.
String Free(FuzzedDataProvider& in, const String& excluded, size_t max) {
  String w = in.ConsumeRandomLengthString(max);
  String out;
  for (char c : w)
    if (c != '\0' && excluded.find(c) == String::npos) out += c;
  return out;
}

String Describe(const TIpAddrRec& r) {
  return "scheme[" + r.Scheme + "] user[" + r.UserName + "] password[" + r.Password + "] authority[" + r.Authority +
         "] port[" + r.Port + "] path[" + r.Path + "] fragment[" + r.Fragment + "] query[" + r.Query + "] delim[" +
         (r.QueryDelim ? String(1, r.QueryDelim) : String("NUL")) + "]";
}

bool SameRecord(const TIpAddrRec& a, const TIpAddrRec& b) { return Describe(a) == Describe(b); }

void Built(FuzzedDataProvider& in) {
  TIpAddrRec want{};
  want.QueryDelim = in.ConsumeBool() ? '&' : '\0';
  const char delimBefore = want.QueryDelim;
  String text = String(in.ConsumeIntegralInRange<size_t>(0, 2), ' ');

  const bool scheme = in.ConsumeBool();
  const bool user = in.ConsumeBool();
  const bool password = scheme && user && in.ConsumeBool();
  bool port = in.ConsumeBool();
  const bool path = in.ConsumeBool();
  const bool fragment = path && in.ConsumeBool();
  const bool query = path && in.ConsumeBool();

  if (scheme) {
    // A word of two or more host characters without a dot, opened by a letter.
    want.Scheme = Word(in, kLetters, 1, 1) + Word(in, "abcdefghijklmnopqrstuvwxyz0123456789-_", 1, 6);
    text += want.Scheme + ":" + String(in.ConsumeIntegralInRange<size_t>(0, 3), '/');
  }
  if (user) {
    if (scheme) {
      // After a scheme the user is read up to ':' or '@', dots and all; one character would
      // be a drive letter, and '/', '.' or '\' right after the scheme open a path.
      want.UserName = Word(in, kLetters, 1, 1) + Free(in, ":|@", 8);
      if (want.UserName.size() < 2) want.UserName += 'u';
      text += want.UserName;
      if (password) {
        want.Password = Free(in, "@", 8);
        text += (in.ConsumeBool() ? ":" : "|") + want.Password;
      }
    } else {
      // Without a scheme the user is a word of host characters opened by a letter.
      want.UserName = Word(in, kLetters, 1, 1) + Word(in, kHostChars, 0, 8);
      text += want.UserName;
    }
    text += "@";
  }

  // The host: after '@' any host characters opened by a letter or digit; a word without a
  // dot and without a scheme would be a scheme (before ':') or a path (before '/').
  want.Authority = Word(in, in.ConsumeBool() ? kDigits : kLetters, 1, 1) + Word(in, kHostChars, 1, 12);
  if (!scheme && !user && (port || path) && !isdigit(static_cast<unsigned char>(want.Authority[0])) &&
      want.Authority.find('.') == String::npos)
    want.Authority += ".jp";
  text += want.Authority;
  // A host read as a word (after a scheme, or opened by a letter) ends in a state that does not
  // accept; a host read after '@' or opened by a digit does.
  const bool hostAccepts = user || (!scheme && isdigit(static_cast<unsigned char>(want.Authority[0])));

  if (port) {
    want.Port = Word(in, kDigits, 1, 5);
    text += ":" + want.Port;
  }
  if (path) {
    want.Path = (in.ConsumeBool() ? "/" : "\\") + Free(in, " #?&@", 16);
    text += want.Path;
  } else {
    want.Path = "/";
  }
  if (fragment) {
    // Blanks belong to a fragment.
    want.Fragment = Free(in, "&?@", 10);
    text += "#" + want.Fragment;
  }
  if (query) {
    want.QueryDelim = in.ConsumeBool() ? '?' : '&';
    want.Query = Free(in, " @", 12);
    text += String(1, want.QueryDelim) + want.Query;
  }
  const size_t trailing = in.ConsumeIntegralInRange<size_t>(0, 2);
  text += String(trailing, ' ');
  if (fragment && !query) want.Fragment += String(trailing, ' ');

  const bool result = port || path || hostAccepts || trailing > 0;
  TIpAddrRec got{"x", "x", "x", "x", "x", "x", "x", "x", delimBefore};
  const bool ok = ParseURL(text, got);
  FUZZ_CHECK(SameRecord(got, want) && ok == result, "text [%s] (%s)\n  got  %s -> %d\n  want %s -> %d", text.c_str(),
             FuzzHex(text).c_str(), Describe(got).c_str(), ok, Describe(want).c_str(), result);
}

void Raw(FuzzedDataProvider& in) {
  const char delimBefore = in.ConsumeBool() ? '&' : '\0';
  const String text = in.ConsumeRemainingBytesAsString();
  TIpAddrRec rec{"x", "x", "x", "x", "x", "x", "x", "x", delimBefore};
  const bool ok = ParseURL(text, rec);
  // Every field is made of the text's characters; the path is never empty; the delimiter is the
  // caller's unless a query began with '?' or '&'.
  for (const String* f :
       {&rec.Scheme, &rec.UserName, &rec.Password, &rec.Authority, &rec.Port, &rec.Fragment, &rec.Query})
    FUZZ_CHECK(f->size() <= text.size(), "a field longer than the text");
  FUZZ_CHECK(!rec.Path.empty(), "empty path");
  FUZZ_CHECK(rec.QueryDelim == delimBefore || rec.QueryDelim == '?' || rec.QueryDelim == '&', "delimiter");
  FUZZ_CHECK(rec.Query.empty() || rec.QueryDelim != '\0', "a query without a delimiter");
  for (char c : rec.Port) FUZZ_CHECK(c >= '0' && c <= '9', "port [%s]", rec.Port.c_str());
  // Parsing is a function of the text alone.
  TIpAddrRec again{"y", "", "", "", "", "", "", "", delimBefore};
  FUZZ_CHECK(ParseURL(text, again) == ok && SameRecord(again, rec), "a second parse differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool())
    Built(in);
  else
    Raw(in);
  return 0;
}
