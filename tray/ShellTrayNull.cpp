// The native build has no notification area: every shell call fails and nothing is hooked.
#include "tray/ShellTray.h"

namespace {
class NativeShellTray final : public TShellTray {
 public:
  bool NotifyIcon(uint32_t, const TNotifyIconData&) override { return false; }
  bool GetCursorPos(TPoint&) override { return false; }
  bool IsKeyDown(int) override { return false; }
  uint32_t GetDoubleClickTime() override { return 500; }
  void SetForegroundWindow(THandle) override {}
  bool IsWindowVisible(THandle) override { return false; }
  void HideWindow(THandle) override {}
  uint32_t CommonControlsVersion() override { return 0; }
  std::unique_ptr<TWindowProcHook> HookWindowProc(THandle, TWindowProcFilter) override { return nullptr; }
};
}  // namespace

TShellTray& DefaultShellTray() {
  static NativeShellTray instance;
  return instance;
}
