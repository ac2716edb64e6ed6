// The ANSI code page of the system (CP932 on a Japanese Windows) through the platform's own
// conversion functions.
#include "settings/TextCodec.h"

#include <windows.h>

std::u16string AnsiToWide(const String& ansi) {
  if (ansi.empty()) return {};
  const int size = static_cast<int>(ansi.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::u16string wide(static_cast<size_t>(length > 0 ? length : 0), u'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, reinterpret_cast<wchar_t*>(wide.data()), length);
  return wide;
}

String WideToAnsi(const std::u16string& wide) {
  if (wide.empty()) return {};
  const auto* source = reinterpret_cast<const wchar_t*>(wide.data());
  const int size = static_cast<int>(wide.size());
  // No "best fit" look-alikes: a character the code page lacks is a '?', never another one.
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, source, size, nullptr, 0, nullptr, nullptr);
  String ansi(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, source, size, ansi.data(), length, nullptr, nullptr);
  return ansi;
}
