// Bytes shown as upper-case hex pairs separated by blanks ("05 00 FF"), for comparing protocol
// bytes in test failures.
#pragma once

#include <cstdint>
#include <string>

inline std::string Hex(const std::string& s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    auto b = static_cast<uint8_t>(ch);
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}
