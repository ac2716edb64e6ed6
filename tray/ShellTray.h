// The shell's notification area and the few window-system calls the tray icon makes.
//
// TNotifyIconData mirrors the shell's NOTIFYICONDATAA in its 488-byte layout (the one with
// balloon fields, without the later GUID and balloon-icon members); handles are 32-bit, as in
// the 32-bit program (pointer-sized in the 64-bit Windows build that the tests also run). The
// Win32 layer checks the mirror against the platform's declaration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "toolkit/Graphics.h"
#include "toolkit/Platform.h"

#if defined(_WIN64)
using TNotifyHandle = uint64_t;
#pragma pack(push, 8)
#else
using TNotifyHandle = uint32_t;
#pragma pack(push, 4)
#endif
struct TNotifyIconData {
  uint32_t cbSize;
  TNotifyHandle hWnd;
  uint32_t uID;
  uint32_t uFlags;
  uint32_t uCallbackMessage;
  TNotifyHandle hIcon;
  char szTip[128];
  uint32_t dwState;
  uint32_t dwStateMask;
  char szInfo[256];
  uint32_t uTimeout;  // also the notification version for nimSetVersion
  char szInfoTitle[64];
  uint32_t dwInfoFlags;
};
#pragma pack(pop)
#if !defined(_WIN64)
static_assert(sizeof(TNotifyIconData) == 488);
static_assert(offsetof(TNotifyIconData, szTip) == 24);
static_assert(offsetof(TNotifyIconData, szInfo) == 160);
static_assert(offsetof(TNotifyIconData, uTimeout) == 416);
static_assert(offsetof(TNotifyIconData, szInfoTitle) == 420);
static_assert(offsetof(TNotifyIconData, dwInfoFlags) == 484);
#endif

// A replaced window procedure; destroying it puts the previous procedure back when the window
// still exists.
class TWindowProcHook {
 public:
  virtual ~TWindowProcHook() = default;
};

// Sees every message of a hooked window first. Returns true when it consumed the message (its
// Result is then the window's answer); otherwise the previous procedure handles it.
using TWindowProcFilter = std::function<bool(TMessage& message)>;

class TShellTray {
 public:
  virtual ~TShellTray() = default;
  // Shell_NotifyIconA; true when the shell returned non-zero.
  virtual bool NotifyIcon(uint32_t message, const TNotifyIconData& data) = 0;
  virtual bool GetCursorPos(TPoint& pos) = 0;
  // The key is down now (high bit of GetAsyncKeyState).
  virtual bool IsKeyDown(int virtualKey) = 0;
  virtual uint32_t GetDoubleClickTime() = 0;
  virtual void SetForegroundWindow(THandle wnd) = 0;
  virtual bool IsWindowVisible(THandle wnd) = 0;
  virtual void HideWindow(THandle wnd) = 0;  // ShowWindow(SW_HIDE)
  // Version of the common-controls library as major * 65536 + minor.
  virtual uint32_t CommonControlsVersion() = 0;
  virtual std::unique_ptr<TWindowProcHook> HookWindowProc(THandle wnd, TWindowProcFilter filter) = 0;
};

TShellTray& ShellTray();
// Installs a replacement (tests); nullptr goes back to the platform's. Returns the old one.
TShellTray* SetShellTray(TShellTray* tray);
TShellTray& DefaultShellTray();
