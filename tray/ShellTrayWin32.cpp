// The shell's notification area and the user32 calls of the tray icon, for real.
#include "toolkit/Application.h"
#include "toolkit/MessageWin32.h"
#include "tray/ShellTray.h"

#include <cstring>
#include <vector>

#include <windows.h>
#include <shellapi.h>

static_assert(sizeof(TNotifyIconData) == NOTIFYICONDATAA_V2_SIZE);
static_assert(offsetof(NOTIFYICONDATAA, szTip) == offsetof(TNotifyIconData, szTip));
static_assert(offsetof(NOTIFYICONDATAA, szInfo) == offsetof(TNotifyIconData, szInfo));
static_assert(offsetof(NOTIFYICONDATAA, uTimeout) == offsetof(TNotifyIconData, uTimeout));
static_assert(offsetof(NOTIFYICONDATAA, szInfoTitle) == offsetof(TNotifyIconData, szInfoTitle));
static_assert(offsetof(NOTIFYICONDATAA, dwInfoFlags) == offsetof(TNotifyIconData, dwInfoFlags));

namespace {

const char kHookProperty[] = "KairotsuWndProcHook";

// Replaces a window's procedure; the filter sees each message first.
class Win32WndProcHook final : public TWindowProcHook {
 public:
  Win32WndProcHook(HWND wnd, TWindowProcFilter filter) : FWnd(wnd), FFilter(std::move(filter)) {
    SetPropA(FWnd, kHookProperty, this);
    FPrevious = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(FWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32WndProcHook::Proc)));
  }
  ~Win32WndProcHook() override {
    if (!IsWindow(FWnd)) return;
    // Put the remembered procedure back only while ours is still in place; a later subclass
    // over ours would otherwise be cut off.
    if (FPrevious && reinterpret_cast<WNDPROC>(GetWindowLongPtrA(FWnd, GWLP_WNDPROC)) == &Win32WndProcHook::Proc)
      SetWindowLongPtrA(FWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FPrevious));
    RemovePropA(FWnd, kHookProperty);
  }

 private:
  static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = static_cast<Win32WndProcHook*>(GetPropA(wnd, kHookProperty));
    if (!self) return DefWindowProcA(wnd, msg, wparam, lparam);
    TMessage m;
    const bool consumed = DeliverMessage(nullptr, msg, wparam, lparam, m, self->FFilter) == TDelivery::Handled;
    if (consumed) return m.Result;
    return CallWindowProcA(self->FPrevious, wnd, msg, wparam, lparam);
  }

  HWND FWnd;
  TWindowProcFilter FFilter;
  WNDPROC FPrevious = nullptr;
};

class Win32ShellTray final : public TShellTray {
 public:
  bool NotifyIcon(uint32_t message, const TNotifyIconData& data) override {
    NOTIFYICONDATAA record;
    std::memcpy(&record, &data, sizeof data);
    return Shell_NotifyIconA(message, &record) != 0;
  }
  bool GetCursorPos(TPoint& pos) override {
    POINT p;
    if (!::GetCursorPos(&p)) return false;
    pos.X = p.x;
    pos.Y = p.y;
    return true;
  }
  bool IsKeyDown(int virtualKey) override { return (GetAsyncKeyState(virtualKey) & 0x8000) != 0; }
  uint32_t GetDoubleClickTime() override { return ::GetDoubleClickTime(); }
  void SetForegroundWindow(THandle wnd) override { ::SetForegroundWindow(reinterpret_cast<HWND>(wnd)); }
  bool IsWindowVisible(THandle wnd) override { return ::IsWindowVisible(reinterpret_cast<HWND>(wnd)) != 0; }
  void HideWindow(THandle wnd) override { ShowWindow(reinterpret_cast<HWND>(wnd), SW_HIDE); }
  uint32_t CommonControlsVersion() override {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA("comctl32.dll", &ignored);
    if (size == 0) return 0;
    std::vector<char> buffer(size);
    if (!GetFileVersionInfoA("comctl32.dll", 0, size, buffer.data())) return 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(buffer.data(), "\\", reinterpret_cast<void**>(&info), &len) || !info) return 0;
    return (HIWORD(info->dwFileVersionMS) << 16) + LOWORD(info->dwFileVersionMS);
  }
  std::unique_ptr<TWindowProcHook> HookWindowProc(THandle wnd, TWindowProcFilter filter) override {
    return std::make_unique<Win32WndProcHook>(reinterpret_cast<HWND>(wnd), std::move(filter));
  }
};

}  // namespace

TShellTray& DefaultShellTray() {
  static Win32ShellTray instance;
  return instance;
}
