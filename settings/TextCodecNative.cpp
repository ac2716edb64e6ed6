// The ANSI code page of the native build is CP932, as the program's own texts are; the C
// library's iconv converts. Without a CP932 converter only ASCII passes.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "settings/TextCodec.h"

namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : FCd(::iconv_open(to, from)) {}
  ~Converter() {
    if (Valid()) ::iconv_close(FCd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Valid() const { return FCd != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `in`. Where the input cannot be converted, `skip(rest, out)` appends a
  // stand-in to the output and tells how many input bytes it stands for.
  template <class Skip>
  String Run(String in, Skip skip) {
    String out;
    ::iconv(FCd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    char* src = in.data();
    size_t left = in.size();
    char buffer[256];
    while (left > 0) {
      char* dst = buffer;
      size_t room = sizeof buffer;
      const size_t done = ::iconv(FCd, &src, &left, &dst, &room);
      out.append(buffer, sizeof buffer - room);
      if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
      ::iconv(FCd, nullptr, nullptr, nullptr, nullptr);
      const size_t n = std::min(left, skip(std::string_view(src, left), out));
      src += n;
      left -= n;
    }
    return out;
  }

 private:
  iconv_t FCd;
};

String Utf16LeBytes(const std::u16string& wide) {
  String bytes;
  for (char16_t u : wide) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

std::u16string FromUtf16LeBytes(const String& bytes) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  return wide;
}

// Opening a converter costs many times a line's conversion (a list or INI file converts line by
// line), so each thread keeps one for each direction.
Converter& AnsiToUtf16() {
  thread_local Converter cd("UTF-16LE", "CP932");
  return cd;
}

Converter& Utf16ToAnsi() {
  thread_local Converter cd("CP932", "UTF-16LE");
  return cd;
}

}  // namespace

std::u16string AnsiToWide(const String& ansi) {
  Converter& cd = AnsiToUtf16();
  if (!cd.Valid()) {
    std::u16string wide;
    for (char c : ansi) wide += static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'\uFFFD';
    return wide;
  }
  return FromUtf16LeBytes(cd.Run(ansi, [](std::string_view, String& out) {
    out += "\xFD\xFF";  // U+FFFD
    return size_t{1};
  }));
}

String WideToAnsi(const std::u16string& wide) {
  Converter& cd = Utf16ToAnsi();
  if (!cd.Valid()) {
    String ansi;
    for (char16_t u : wide) ansi += u < 0x80 ? static_cast<char>(u) : '?';
    return ansi;
  }
  return cd.Run(Utf16LeBytes(wide), [](std::string_view rest, String& out) {
    out += '?';
    // A surrogate pair is one character.
    const bool pair = rest.size() >= 4 && (static_cast<unsigned char>(rest[1]) & 0xFC) == 0xD8 &&
                      (static_cast<unsigned char>(rest[3]) & 0xFC) == 0xDC;
    return size_t{pair ? 4u : 2u};
  });
}
