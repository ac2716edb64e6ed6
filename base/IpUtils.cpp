#include "base/IpUtils.h"

String TIpBaseComponent::Version() const { return GetVersionText(); }

void TIpBaseComponent::FormatDataEntry(int32_t, uint32_t, const void*, uint32_t, String& Text) {
  Text = "!!!! Unhandled log entry\n\r";
}

String GetVersionText() { return Format(SVersionFormat, {1.15}); }

String TrimBlanks(const String& s) {
  size_t first = s.find_first_not_of(' ');
  if (first == String::npos) return String();
  size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

int CharPos(char c, const String& s) {
  size_t p = s.find(c);
  return p == String::npos ? 0 : static_cast<int>(p) + 1;
}

int CompareBytes(const void* a, const void* b, uint32_t length) {
  auto* pa = static_cast<const uint8_t*>(a);
  auto* pb = static_cast<const uint8_t*>(b);
  for (uint32_t i = 0; i < length; ++i)
    if (pa[i] != pb[i]) return pa[i] > pb[i] ? 1 : -1;
  return 0;
}

int CountChar(const void* block, uint32_t length, uint8_t value) {
  auto* p = static_cast<const uint8_t*>(block);
  int count = 0;
  for (uint32_t i = 0; i < length; ++i)
    if (p[i] == value) ++count;
  return count;
}

int MinInt(int a, int b) { return a < b ? a : b; }
