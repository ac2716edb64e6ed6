#include "settings/TextCodec.h"

namespace {

const String kUtf8Bom = "\xEF\xBB\xBF";
const String kUtf16LeBom = "\xFF\xFE";
const String kUtf16BeBom = "\xFE\xFF";

unsigned char Byte(const String& s, size_t i) { return static_cast<unsigned char>(s[i]); }

// Each byte that is no part of well-formed UTF-8 becomes a lone surrogate of its own.
std::u16string DecodeUtf8(const String& s, size_t i) {
  std::u16string out;
  while (i < s.size()) {
    const unsigned char b = Byte(s, i);
    size_t length = 0;
    char32_t cp = 0, min = 0;
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4, cp = b & 0x07, min = 0x10000;
    }
    bool ok = length != 0 && i + length <= s.size();
    for (size_t k = 1; ok && k < length; ++k) {
      ok = (Byte(s, i + k) & 0xC0) == 0x80;
      cp = (cp << 6) | (Byte(s, i + k) & 0x3F);
    }
    // No overlong forms, no encoded surrogates, nothing beyond U+10FFFF.
    ok = ok && cp >= min && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (!ok) {
      out += static_cast<char16_t>(0xDC00 + b);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += length;
  }
  return out;
}

void PutUtf8(String& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

String EncodeUtf8(const std::u16string& text) {
  String out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      PutUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - 0xDC00);  // a byte that was no UTF-8, as it was
    } else {
      PutUtf8(out, u);
    }
  }
  return out;
}

}  // namespace

TTextEncoding DetectEncoding(const String& bytes) {
  if (bytes.starts_with(kUtf8Bom)) return TTextEncoding::Utf8;
  if (bytes.starts_with(kUtf16LeBom)) return TTextEncoding::Utf16Le;
  if (bytes.starts_with(kUtf16BeBom)) return TTextEncoding::Utf16Be;
  return TTextEncoding::Ansi;
}

std::u16string DecodeUnicode(const String& bytes, TTextEncoding encoding) {
  if (encoding == TTextEncoding::Utf8) return DecodeUtf8(bytes, bytes.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0);
  const String& bom = encoding == TTextEncoding::Utf16Be ? kUtf16BeBom : kUtf16LeBom;
  const size_t high = encoding == TTextEncoding::Utf16Be ? 0 : 1;  // where each unit's high byte is
  std::u16string out;
  for (size_t i = bytes.starts_with(bom) ? bom.size() : 0; i + 1 < bytes.size(); i += 2)
    out += static_cast<char16_t>(Byte(bytes, i + 1 - high) | Byte(bytes, i + high) << 8);
  return out;
}

String EncodeUnicode(const std::u16string& text, TTextEncoding encoding) {
  if (encoding == TTextEncoding::Utf8) return kUtf8Bom + EncodeUtf8(text);
  const bool big = encoding == TTextEncoding::Utf16Be;
  String out = big ? kUtf16BeBom : kUtf16LeBom;
  out.reserve(out.size() + text.size() * 2);
  for (char16_t u : text) {
    out += static_cast<char>(big ? u >> 8 : u & 0xFF);
    out += static_cast<char>(big ? u & 0xFF : u >> 8);
  }
  return out;
}
