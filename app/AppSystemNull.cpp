// The native build runs no program: a minimal stand-in so the core links; tests install fakes.
#include <cstdio>

#include "app/AppSystem.h"

namespace {
class NativeAppSystem final : public TAppSystem {
 public:
  String UserName() override { return "user"; }
  String CommandLine() override { return "Kairotsu.exe"; }
  intptr_t ShellOpen(THandle, const String&) override { return seNoAssoc; }
  bool FileVersionInfo(const String&, std::vector<uint8_t>&) override { return false; }
  bool VersionTranslation(const std::vector<uint8_t>&, uint32_t&) override { return false; }
  bool VersionString(const std::vector<uint8_t>&, const String&, String&) override { return false; }
  // The formats of a Japanese system: yyyy/MM/dd and H:mm:ss.
  String DateText(const TSystemTime& st) override { return Format("%.4d/%.2d/%.2d", {st.wYear, st.wMonth, st.wDay}); }
  String TimeText(const TSystemTime& st) override { return Format("%d:%.2d:%.2d", {st.wHour, st.wMinute, st.wSecond}); }
  bool ConsoleWrite(const String& text) override { return std::fputs(text.c_str(), stdout) >= 0; }
};
}  // namespace

TAppSystem& DefaultAppSystem() {
  static NativeAppSystem instance;
  return instance;
}
