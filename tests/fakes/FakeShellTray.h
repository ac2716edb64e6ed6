// A notification area in memory, and a recording menu platform.
//
// TFakeShellTray behaves like the shell for nimAdd/nimModify/nimDelete (an icon is known by its
// window and identifier; adding a present icon or changing an absent one fails) and records
// every call with a copy of the record. Cursor, keys, double-click time and window visibility
// are settable; window-procedure hooks are kept so that tests can send messages through them.
#pragma once

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "toolkit/Menus.h"
#include "tray/ShellTray.h"

class TFakeShellTray final : public TShellTray {
 public:
  TFakeShellTray();
  ~TFakeShellTray() override;

  struct Call {
    uint32_t Message;
    TNotifyIconData Data;
    bool Result;
  };
  std::vector<Call> Calls;
  // Icons in the tray: (window, id) -> the record of the last add or modify.
  std::map<std::pair<uint32_t, uint32_t>, TNotifyIconData> Icons;
  // Forgets every icon, as a restarted task bar does.
  void RestartTaskbar() { Icons.clear(); }

  TPoint Cursor{100, 200};
  bool CursorAvailable = true;
  std::set<int> KeysDown;
  uint32_t DoubleClickTime = 500;
  std::vector<THandle> ForegroundCalls;
  std::set<THandle> VisibleWindows;
  std::vector<THandle> HiddenWindows;
  uint32_t ComCtlVersion = (6u << 16) + 0u;

  // The filter installed on a window, if any: sends a message through it and tells whether it
  // was consumed.
  bool SendToHooked(THandle wnd, TMessage& message);
  bool IsHooked(THandle wnd) const { return FHooks.count(wnd) != 0; }

  bool NotifyIcon(uint32_t message, const TNotifyIconData& data) override;
  bool GetCursorPos(TPoint& pos) override;
  bool IsKeyDown(int virtualKey) override { return KeysDown.count(virtualKey) != 0; }
  uint32_t GetDoubleClickTime() override { return DoubleClickTime; }
  void SetForegroundWindow(THandle wnd) override { ForegroundCalls.push_back(wnd); }
  bool IsWindowVisible(THandle wnd) override { return VisibleWindows.count(wnd) != 0; }
  void HideWindow(THandle wnd) override {
    HiddenWindows.push_back(wnd);
    VisibleWindows.erase(wnd);
  }
  uint32_t CommonControlsVersion() override { return ComCtlVersion; }
  std::unique_ptr<TWindowProcHook> HookWindowProc(THandle wnd, TWindowProcFilter filter) override;

 private:
  class Hook;
  std::map<THandle, TWindowProcFilter> FHooks;
  TShellTray* FOld;
};

// Records each popup and answers with a chosen item (or none).
class TFakeMenuPlatform final : public TMenuPlatform {
 public:
  TFakeMenuPlatform();
  ~TFakeMenuPlatform() override;
  struct Shown {
    TPopupMenu* Menu;
    int X, Y;
    THandle Owner;
  };
  std::vector<Shown> Popups;
  TMenuItem* Choice = nullptr;
  TMenuItem* Track(TPopupMenu& menu, int x, int y, THandle ownerWnd) override;

 private:
  TMenuPlatform* FOld;
};

// An icon image with a made-up handle; Broken images fail to read like a damaged icon.
class TFakeIconImage final : public TIconImage {
 public:
  explicit TFakeIconImage(THandle handle, bool broken = false) : FHandle(handle), FBroken(broken) {}
  THandle Handle() const override;

 private:
  THandle FHandle;
  bool FBroken;
};
