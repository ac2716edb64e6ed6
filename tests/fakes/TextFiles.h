// Text files as a text editor saves them, made by the C library's iconv so that the tests do
// not check the program's conversions against themselves.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <string_view>

// UTF-16 text in another encoding ("CP932", "UTF-8", "UTF-16LE", "UTF-16BE").
inline std::string Iconv(std::u16string_view text, const char* to) {
  iconv_t cd = ::iconv_open(to, "UTF-16LE");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << to;
  std::string in(reinterpret_cast<const char*>(text.data()), text.size() * 2), out(in.size() * 2 + 8, '\0');
  char *src = in.data(), *dst = out.data();
  size_t left = in.size(), room = out.size();
  EXPECT_NE(::iconv(cd, &src, &left, &dst, &room), static_cast<size_t>(-1)) << to;
  ::iconv_close(cd);
  out.resize(out.size() - room);
  return out;
}

enum class Bom { Utf8, Utf16Le, Utf16Be };
inline const char* BomName(Bom bom) {
  return bom == Bom::Utf8 ? "UTF-8" : bom == Bom::Utf16Le ? "UTF-16LE" : "UTF-16BE";
}

// A whole file: the byte order mark, then the text.
inline std::string FileBytes(Bom bom, std::u16string_view text) {
  return Iconv(u"\uFEFF", BomName(bom)) + Iconv(text, BomName(bom));
}
