#include "fakes/FakeShellTray.h"

class TFakeShellTray::Hook final : public TWindowProcHook {
 public:
  Hook(TFakeShellTray& owner, THandle wnd) : FOwner(owner), FWnd(wnd) {}
  ~Hook() override { FOwner.FHooks.erase(FWnd); }

 private:
  TFakeShellTray& FOwner;
  THandle FWnd;
};

TFakeShellTray::TFakeShellTray() : FOld(SetShellTray(this)) {}
TFakeShellTray::~TFakeShellTray() { SetShellTray(FOld); }

bool TFakeShellTray::NotifyIcon(uint32_t message, const TNotifyIconData& data) {
  auto key = std::make_pair(data.hWnd, data.uID);
  bool present = Icons.count(key) != 0;
  bool result = false;
  switch (message) {
    case nimAdd:
      result = !present;
      if (result) Icons[key] = data;
      break;
    case nimModify:
      result = present;
      if (result) Icons[key] = data;
      break;
    case nimDelete:
      result = present;
      Icons.erase(key);
      break;
    case nimSetVersion: result = present; break;
    default: break;
  }
  Calls.push_back({message, data, result});
  return result;
}

bool TFakeShellTray::GetCursorPos(TPoint& pos) {
  if (!CursorAvailable) return false;
  pos = Cursor;
  return true;
}

std::unique_ptr<TWindowProcHook> TFakeShellTray::HookWindowProc(THandle wnd, TWindowProcFilter filter) {
  FHooks[wnd] = std::move(filter);
  return std::make_unique<Hook>(*this, wnd);
}

bool TFakeShellTray::SendToHooked(THandle wnd, TMessage& message) {
  auto it = FHooks.find(wnd);
  if (it == FHooks.end()) return false;
  TWindowProcFilter filter = it->second;
  return filter(message);
}

TFakeMenuPlatform::TFakeMenuPlatform() : FOld(SetMenuPlatform(this)) {}
TFakeMenuPlatform::~TFakeMenuPlatform() { SetMenuPlatform(FOld); }

TMenuItem* TFakeMenuPlatform::Track(TPopupMenu& menu, int x, int y, THandle ownerWnd) {
  Popups.push_back({&menu, x, y, ownerWnd});
  return Choice;
}

THandle TFakeIconImage::Handle() const {
  if (FBroken) throw EReadError("Invalid icon data");
  return FHandle;
}
