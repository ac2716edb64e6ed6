#include "app/AppSystem.h"

#include <windows.h>
#include <shellapi.h>

namespace {
class Win32AppSystem final : public TAppSystem {
 public:
  String UserName() override {
    char buffer[257];
    DWORD size = sizeof buffer;
    if (!GetUserNameA(buffer, &size)) return String();
    return String(buffer);
  }
  String CommandLine() override { return GetCommandLineA(); }
  intptr_t ShellOpen(THandle wnd, const String& target) override {
    return reinterpret_cast<intptr_t>(ShellExecuteA(reinterpret_cast<HWND>(wnd), "OPEN", target.c_str(), "", "", SW_SHOW));
  }
  bool FileVersionInfo(const String& path, std::vector<uint8_t>& block) override {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return false;
    block.assign(size, 0);
    return GetFileVersionInfoA(path.c_str(), 0, size, block.data()) != 0;
  }
  bool VersionTranslation(const std::vector<uint8_t>& block, uint32_t& translation) override {
    void* data = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &data, &len) || len < 4) return false;
    CopyMemory(&translation, data, 4);
    return true;
  }
  bool VersionString(const std::vector<uint8_t>& block, const String& subBlock, String& value) override {
    void* data = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(block.data(), subBlock.c_str(), &data, &len) || len == 0) return false;
    value = static_cast<const char*>(data);
    return true;
  }
  String DateText(const TSystemTime& st) override {
    char buffer[128];
    int n = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, reinterpret_cast<const SYSTEMTIME*>(&st), nullptr,
                           buffer, sizeof buffer);
    return n > 0 ? String(buffer, static_cast<size_t>(n - 1)) : String();
  }
  String TimeText(const TSystemTime& st) override {
    char buffer[128];
    int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, reinterpret_cast<const SYSTEMTIME*>(&st), nullptr, buffer,
                           sizeof buffer);
    return n > 0 ? String(buffer, static_cast<size_t>(n - 1)) : String();
  }
  bool ConsoleWrite(const String& text) override {
    // A GUI program has no console of its own; it writes to the one it was started from.
    static const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
      if (!attached) return false;
      out = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
      if (out == INVALID_HANDLE_VALUE) return false;
    }
    DWORD written = 0;
    return WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
  }
};
}  // namespace

TAppSystem& DefaultAppSystem() {
  static Win32AppSystem instance;
  return instance;
}
