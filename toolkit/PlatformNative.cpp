// Stand-ins for the platform in the native build. The clock is read from the host; nothing
// here may change the host: setting the time is always refused, and there are no windows
// (native tests install the fake window system).
#include <chrono>
#include <cstdio>
#include <ctime>

#include "toolkit/Platform.h"

namespace {

class NativeWindowSystem final : public TWindowSystem {
 public:
  std::unique_ptr<TMessageWindow> CreateMessageWindow(TWndMethod) override {
    throw Exception("No window system in the native build");
  }
  bool Post(THandle, uint32_t, uintptr_t, intptr_t) override { return false; }
  int32_t Send(THandle, uint32_t, uintptr_t, intptr_t) override { return 0; }
  uint32_t RegisterMessage(const String&) override { return 0xC000; }
  void ProcessMessages() override {}
  bool PumpUntil(const std::function<bool()>& done, uint32_t) override { return done(); }
  int RunMessageLoop() override { return FQuitCode; }
  void PostQuitMessage(int code) override { FQuitCode = code; }
  int ShowMessageBox(const String& text, const String& caption, uint32_t) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return 1;
  }

 private:
  int FQuitCode = 0;
};

TSystemTime FromTimePoint(std::chrono::system_clock::time_point tp, bool local) {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(tp.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm parts{};
  if (local)
    localtime_r(&secs, &parts);
  else
    gmtime_r(&secs, &parts);
  TSystemTime st;
  st.wYear = static_cast<uint16_t>(parts.tm_year + 1900);
  st.wMonth = static_cast<uint16_t>(parts.tm_mon + 1);
  st.wDayOfWeek = static_cast<uint16_t>(parts.tm_wday);
  st.wDay = static_cast<uint16_t>(parts.tm_mday);
  st.wHour = static_cast<uint16_t>(parts.tm_hour);
  st.wMinute = static_cast<uint16_t>(parts.tm_min);
  st.wSecond = static_cast<uint16_t>(parts.tm_sec);
  st.wMilliseconds = static_cast<uint16_t>(ms % 1000);
  return st;
}

class NativeSystemApi final : public TSystemApi {
 public:
  uint32_t GetTickCount() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  TSystemTime GetSystemTime() override { return FromTimePoint(std::chrono::system_clock::now(), false); }
  TSystemTime GetLocalTime() override { return FromTimePoint(std::chrono::system_clock::now(), true); }
  // "A required privilege is not held by the client."
  uint32_t SetSystemTime(const TSystemTime&) override { return errPrivilegeNotHeld; }
  uint32_t SetLocalTime(const TSystemTime&) override { return errPrivilegeNotHeld; }
  String SystemErrorText(uint32_t code) override { return "System error " + std::to_string(code); }
  void SetPriorityClass(uint32_t) override {}
};

}  // namespace

TWindowSystem& DefaultWindowSystem() {
  static NativeWindowSystem instance;
  return instance;
}

TSystemApi& DefaultSystemApi() {
  static NativeSystemApi instance;
  return instance;
}
