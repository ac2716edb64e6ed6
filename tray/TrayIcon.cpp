#include "tray/TrayIcon.h"

#include <algorithm>
#include <cstring>

#include "toolkit/Strings.h"

namespace {

uint32_t gTaskbarCreated = 0;
bool gTaskbarCreatedKnown = false;

constexpr uint32_t kTrayFlags = nifMessage | nifIcon | nifTip;
constexpr uint32_t kExitPollMs = 20;
// The shell sends "TaskbarCreated" from common controls 4.71 on.
constexpr uint32_t kTaskbarCreatedVersion = (4u << 16) + 70u;

// Copies at most `max` bytes of `text` into `dest` (which holds max + 1) and terminates it.
// A double-byte character that would straddle the limit is left out whole, so that the shell
// never shows half a character.
void CopyCut(char* dest, size_t max, const String& text) {
  size_t n = 0;
  if (text.size() <= max) {
    n = text.size();
  } else {
    while (n < max) {
      size_t width = IsLeadByte(static_cast<unsigned char>(text[n])) ? 2 : 1;
      if (n + width > max) break;
      n += width;
    }
  }
  std::memset(dest, 0, max + 1);
  std::memcpy(dest, text.data(), n);
}

// SC_ values carry system bits in their low four bits.
uint32_t SysCommand(uint32_t wparam) { return wparam & 0xFFF0; }

}  // namespace

// --- TTrayIconHandler ---

TTrayIconHandler::TTrayIconHandler() {
  OpenWindow();
  if (!gTaskbarCreatedKnown) {
    gTaskbarCreatedKnown = true;
    gTaskbarCreated = 0;
    if (ShellTray().CommonControlsVersion() > kTaskbarCreatedVersion)
      gTaskbarCreated = WindowSystem().RegisterMessage("TaskbarCreated");
  }
}

void TTrayIconHandler::LastReleased() {
  // The message number is the process's; a later handler may run on another window system
  // (tests), so it is looked up again then.
  gTaskbarCreatedKnown = false;
}

uint32_t TTrayIconHandler::TaskbarCreatedMessage() { return gTaskbarCreated; }

void TTrayIconHandler::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_TRAYICON_CALLBACK: {
      if (TTrayIcon* icon = Find(message.WParam)) icon->HandleCallback(static_cast<uint32_t>(message.LParam));
      return;
    }
    case wmDestroy:
    case wmClose:
    case wmQuit:
    case wmNcDestroy:
    case wmQueryEndSession:
    case wmEndSession: message.Result = 1; return;
    default: return;
  }
}

// --- TTrayIcon: construction and destruction ---

TTrayIcon::TTrayIcon(TComponent* owner) : TComponent(owner) {
  TTrayIconHandler& handler = TTrayIconHandler::Acquire();
  uint32_t id = handler.Register(this);
  FIcon = std::make_unique<TIcon>();
  FIcon->OnChange = [this](TObject* sender) { IconChanged(sender); };
  FIconData.cbSize = sizeof(TNotifyIconData);
  FIconData.hWnd = static_cast<TNotifyHandle>(handler.WindowHandle());
  FIconData.uID = id;
  FIconData.uFlags = kTrayFlags;
  FIconData.uCallbackMessage = WM_TRAYICON_CALLBACK;
  FCycleTimer = std::make_unique<TSimpleTimer>();
  FCycleTimer->SetOnTimer([this](TObject* s) { CycleTimerTick(s); });
  FClickTimer = std::make_unique<TSimpleTimer>();
  FClickTimer->SetOnTimer([this](TObject* s) { ClickTimerTick(s); });
  FExitTimer = std::make_unique<TSimpleTimer>(kExitPollMs, [this](TObject* s) { ExitTimerTick(s); });
  if (Application) {
    Application->HookMainWindow(this, [this](TMessage& m) { return AppWindowHook(m); });
    FAppHooked = true;
  }
  if (TWindowedOwner* form = OwnerWindow()) {
    // The form's window may not exist yet (the form resource makes it after the components):
    // the hook goes on whenever it is made, and comes off before it goes.
    form->WatchWindow(this, [this, form](bool created) {
      if (created)
        HookOwnerForm(*form);
      else
        FOwnerHook.reset();
    });
    if (form->WindowHandle()) HookOwnerForm(*form);
  }
}

void TTrayIcon::HookOwnerForm(TWindowedOwner& form) {
  FOwnerHook.reset();
  FOwnerHook = ShellTray().HookWindowProc(form.WindowHandle(), [this](TMessage& m) { return OwnerFormHook(m); });
}

TTrayIcon::~TTrayIcon() {
  try {
    SetIconVisible(false);
  } catch (...) {
    // The icon goes away regardless; the hooks below must still come off.
  }
  FDesignPreview = false;
  FCycleTimer.reset();
  FClickTimer.reset();
  FExitTimer.reset();
  FIcon.reset();
  if (FAppHooked && Application) Application->UnhookMainWindow(this);
  // While the owner itself is being destroyed it is no windowed owner any more, and its
  // watchers are gone with it.
  if (TWindowedOwner* form = OwnerWindow()) form->UnwatchWindow(this);
  FOwnerHook.reset();
  if (auto* handler = TTrayIconHandler::Instance()) handler->Unregister(FIconData.uID);
  TTrayIconHandler::Release();
}

TWindowedOwner* TTrayIcon::OwnerWindow() const { return dynamic_cast<TWindowedOwner*>(Owner()); }

// --- shell calls ---

void TTrayIcon::FillIconData() {
  try {
    FIconData.hIcon = static_cast<TNotifyHandle>(FIcon ? FIcon->Handle() : 0);
  } catch (const EReadError&) {
    FIconData.hIcon = 0;
  }
  if (!FHint.empty() && FShowHint)
    CopyCut(FIconData.szTip, sizeof FIconData.szTip - 1, FHint);
  else
    std::memset(FIconData.szTip, 0, sizeof FIconData.szTip);
}

bool TTrayIcon::Notify(uint32_t message) {
  FillIconData();
  return ShellTray().NotifyIcon(message, FIconData);
}

bool TTrayIcon::AddTrayIcon() {
  FIconVisible = true;
  return Notify(nimAdd);
}

bool TTrayIcon::RemoveTrayIcon() {
  FIconVisible = false;
  return Notify(nimDelete);
}

bool TTrayIcon::UpdateTrayIcon() { return Notify(nimModify); }

bool TTrayIcon::CancelBalloonHint() {
  FIconData.uFlags |= nifInfo;
  std::memset(FIconData.szInfo, 0, sizeof FIconData.szInfo);
  return UpdateTrayIcon();
}

bool TTrayIcon::ShowBalloonHint(const String& title, const String& text, TBalloonIconKind iconKind,
                                uint8_t timeoutSeconds) {
  CancelBalloonHint();
  FIconData.uFlags |= nifInfo;
  CopyCut(FIconData.szInfo, sizeof FIconData.szInfo - 1, text);
  CopyCut(FIconData.szInfoTitle, sizeof FIconData.szInfoTitle - 1, title);
  FIconData.uTimeout = static_cast<uint32_t>(timeoutSeconds) * 1000u;
  switch (iconKind) {
    case bikInfo: FIconData.dwInfoFlags = niifInfo; break;
    case bikWarning: FIconData.dwInfoFlags = niifWarning; break;
    case bikError: FIconData.dwInfoFlags = niifError; break;
    default: FIconData.dwInfoFlags = niifNone; break;
  }
  bool result = UpdateTrayIcon();
  FIconData.uFlags = kTrayFlags;
  return result;
}

// --- property setters ---

void TTrayIcon::IconChanged(TObject*) { UpdateTrayIcon(); }

void TTrayIcon::SetIcon(const TIcon& icon) {
  auto onChange = std::move(FIcon->OnChange);
  FIcon->OnChange = nullptr;
  FIcon->Assign(icon);
  FIcon->OnChange = std::move(onChange);
  UpdateTrayIcon();
}

void TTrayIcon::SetIconVisible(bool value) {
  if (value)
    AddTrayIcon();
  else
    RemoveTrayIcon();
}

void TTrayIcon::SetHint(const String& value) {
  FHint = value;
  UpdateTrayIcon();
}

void TTrayIcon::SetShowHint(bool value) {
  FShowHint = value;
  UpdateTrayIcon();
}

void TTrayIcon::SetIconList(TCustomImageList* list) {
  if (FIconList && FIconList != list) RemoveFreeNotification(FIconList);
  FIconList = list;
  if (FIconList) FreeNotification(FIconList);
  SetIconIndex(0);
}

void TTrayIcon::SetIconIndex(int value) {
  if (FIconList) {
    FIconIndex = value;
    if (FIconIndex >= FIconList->Count()) FIconIndex = FIconList->Count() - 1;
    // The icon's change notification updates the tray when an image is copied.
    FIconList->GetIcon(FIconIndex, *FIcon);
  } else {
    FIconIndex = 0;
  }
  UpdateTrayIcon();
}

void TTrayIcon::SetCycleIcons(bool value) {
  FCycleIcons = value;
  if (value) {
    SetIconIndex(0);
    FCycleTimer->SetInterval(FCycleInterval);
    FCycleTimer->SetEnabled(true);
  } else {
    FCycleTimer->SetEnabled(false);
  }
}

void TTrayIcon::SetCycleInterval(uint32_t value) {
  FCycleInterval = value;
  SetCycleIcons(FCycleIcons);
}

void TTrayIcon::SetWantEnterExitEvents(bool value) {
  FWantEnterExit = value;
  FExitTimer->SetEnabled(value);
}

void TTrayIcon::SetPopupMenu(TPopupMenu* menu) {
  if (FPopupMenu && FPopupMenu != menu) RemoveFreeNotification(FPopupMenu);
  FPopupMenu = menu;
  if (FPopupMenu) FreeNotification(FPopupMenu);
}

void TTrayIcon::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == FIconList) {
    FIconList = nullptr;
    SetIconList(nullptr);
  }
  if (component == FPopupMenu) FPopupMenu = nullptr;
}

void TTrayIcon::Loaded() {
  TComponent::Loaded();
  if (OwnerWindow()) {
    bool showMainForm = true;
    if (OnStartup) OnStartup(this, showMainForm);
    if (!showMainForm) {
      if (Application) Application->SetShowMainForm(false);
      HideAppWindows();
    }
  }
  UpdateTrayIcon();
  SetIconVisible(FIconVisible);
  SetCycleIcons(FCycleIcons);
  SetWantEnterExitEvents(FWantEnterExit);
  if (FNotifyBehaviour == 0) {
    FIconData.uTimeout = 0;
    ShellTray().NotifyIcon(nimSetVersion, FIconData);
  }
}

// --- the main form ---

void TTrayIcon::HideAppButton() {
  if (!Application) return;
  THandle app = Application->Handle();
  if (ShellTray().IsWindowVisible(app)) ShellTray().HideWindow(app);
}

void TTrayIcon::HideAppWindows() {
  if (!OwnerWindow() || !Application || !Application->MainFormWindow()) return;
  Application->MainFormWindow()->SetVisible(false);
  HideAppButton();
}

// --- mouse and shell callbacks ---

TShiftState TTrayIcon::KeyShift() {
  TShiftState shift = 0;
  if (ShellTray().IsKeyDown(vkShift)) shift |= ssShift;
  if (ShellTray().IsKeyDown(vkControl)) shift |= ssCtrl;
  if (ShellTray().IsKeyDown(vkMenu)) shift |= ssAlt;
  return shift;
}

void TTrayIcon::HandleCallback(uint32_t mouseMessage) {
  switch (mouseMessage) {
    case ninBalloonShow:
      if (OnBalloonHintShow) OnBalloonHintShow(this);
      return;
    case ninBalloonHide:
      if (OnBalloonHintHide) OnBalloonHintHide(this);
      return;
    case ninBalloonTimeout:
      if (OnBalloonHintTimeout) OnBalloonHintTimeout(this);
      return;
    case ninBalloonUserClick:
      if (OnBalloonHintClick) OnBalloonHintClick(this);
      return;
    default: break;
  }
  if (!FEnabled) return;
  TPoint pos;
  ShellTray().GetCursorPos(pos);
  TShiftState shift = KeyShift();
  switch (mouseMessage) {
    case wmMouseMove:
      if (FWantEnterExit && FCursorOutside) {
        FCursorOutside = false;
        DoMouseEnter();
      }
      DoMouseMove(shift, pos.X, pos.Y);
      FLastMove = pos;
      break;
    case wmLButtonDown:
      if (OnDblClick) {
        FClickTimer->SetInterval(ShellTray().GetDoubleClickTime());
        FClickTimer->SetEnabled(true);
      }
      DoMouseDown(mbLeft, shift | ssLeft, pos.X, pos.Y);
      FLeftPressed = true;
      if (FLeftPopup) ShowPopup();
      break;
    case wmLButtonUp:
      if (FLeftPressed) {
        FClickPending = true;
        if (!FClickTimer->Enabled()) {
          FClickPending = false;
          FLeftPressed = false;
          DoClick();
        }
      }
      FLeftPressed = false;
      DoMouseUp(mbLeft, shift | ssLeft, pos.X, pos.Y);
      break;
    case wmLButtonDblClk:
      FClickPending = false;
      FDoubleClicked = true;
      DoDblClick();
      DefaultMenuItem();
      break;
    case wmRButtonDown:
      DoMouseDown(mbRight, shift | ssRight, pos.X, pos.Y);
      ShowPopup();
      break;
    case wmRButtonUp: DoMouseUp(mbRight, shift | ssRight, pos.X, pos.Y); break;
    case wmMButtonDown: DoMouseDown(mbMiddle, shift | ssMiddle, pos.X, pos.Y); break;
    case wmMButtonUp: DoMouseUp(mbMiddle, shift | ssMiddle, pos.X, pos.Y); break;
    default: break;
  }
}

void TTrayIcon::ClickTimerTick(TObject*) {
  FClickTimer->SetEnabled(false);
  if (!FDoubleClicked && FClickPending) {
    FClickPending = false;
    DoClick();
  }
  FDoubleClicked = false;
}

void TTrayIcon::DefaultMenuItem() {
  if (!FPopupMenu || !FPopupMenu->AutoPopup() || FLeftPopup) return;
  TMenuItem& items = FPopupMenu->Items();
  TMenuItem* found = nullptr;
  for (int i = items.Count() - 1; i >= 0; --i)
    if (items.Items(i)->Default()) found = items.Items(i);
  if (found) found->Click();
}

void TTrayIcon::ShowPopup() {
  if (!FPopupMenu || !FPopupMenu->AutoPopup()) return;
  TPoint pos;
  if (!ShellTray().GetCursorPos(pos)) return;
  // The menu closes properly when the user clicks elsewhere only if its owner is in front.
  if (Application) ShellTray().SetForegroundWindow(Application->Handle());
  WindowSystem().ProcessMessages();
  if (!FPopupMenu) return;  // freed by a message handled just now
  FPopupMenu->SetPopupComponent(this);
  FPopupMenu->Popup(pos.X, pos.Y);
  if (TWindowedOwner* form = OwnerWindow()) WindowSystem().Post(form->WindowHandle(), wmNull, 0, 0);
}

void TTrayIcon::ExitTimerTick(TObject*) {
  if (FCursorOutside) return;
  TPoint pos;
  if (!ShellTray().GetCursorPos(pos)) return;
  if (pos.X != FLastMove.X || pos.Y != FLastMove.Y) {
    FCursorOutside = true;
    DoMouseExit();
  }
}

void TTrayIcon::CycleTimerTick(TObject*) {
  if (!FIconList) return;
  FIconList->GetIcon(FIconIndex, *FIcon);
  DoCycle();
  SetIconIndex(FIconIndex < FIconList->Count() - 1 ? FIconIndex + 1 : 0);
}

// --- event dispatchers ---

void TTrayIcon::DoClick() {
  if (OnClick) OnClick(this);
}
void TTrayIcon::DoDblClick() {
  if (OnDblClick) OnDblClick(this);
}
void TTrayIcon::DoCycle() {
  if (!OnCycle) return;
  int count = FIconList ? FIconList->Count() : 0;
  OnCycle(this, FIconIndex < count - 1 ? FIconIndex + 1 : 0);
}
void TTrayIcon::DoMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TTrayIcon::DoMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
void TTrayIcon::DoMouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
void TTrayIcon::DoMouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}
void TTrayIcon::DoMouseExit() {
  if (OnMouseExit) OnMouseExit(this);
}
void TTrayIcon::DoSendToTray() {
  HideAppWindows();
  SetIconVisible(true);
}

// --- hooks ---

bool TTrayIcon::AppWindowHook(TMessage& message) {
  switch (message.Msg) {
    case wmSize:
      if (message.WParam == sizeMinimized && FMinimizeToTray) DoSendToTray();
      break;
    case wmWindowPosChanged:
      if (FStartupPending && Application && Application->MainFormWindow()) {
        if (Application->MainFormWindow()->IsMDIParent()) {
          bool showMainForm = true;
          if (OnStartup) OnStartup(this, showMainForm);
          if (!showMainForm) HideAppButton();
        }
        FStartupPending = false;
      }
      break;
    case wmSysCommand:
      if (SysCommand(message.WParam) == scRestore && Application && Application->MainFormWindow())
        Application->MainFormWindow()->SetVisible(true);
      break;
    default: break;
  }
  uint32_t taskbarCreated = TTrayIconHandler::TaskbarCreatedMessage();
  if (taskbarCreated != 0 && message.Msg == taskbarCreated && FIconVisible) AddTrayIcon();
  return false;
}

bool TTrayIcon::MinimizeCheck(TMessage& message) {
  if (!FMinimizeToTray || !OnMinimizeToTray) return false;
  OnMinimizeToTray(this);
  DoSendToTray();
  message.Result = 1;
  return true;
}

bool TTrayIcon::OwnerFormHook(TMessage& message) {
  if (message.Msg == wmShowWindow) {
    if (message.WParam == 1 && message.LParam == 0) {
      if (Application) ShellTray().SetForegroundWindow(Application->Handle());
      if (TWindowedOwner* form = OwnerWindow()) ShellTray().SetForegroundWindow(form->WindowHandle());
      return false;
    }
    if (message.WParam == 0 && message.LParam == static_cast<int32_t>(swParentClosing) &&
        !(Application && Application->Terminated()))
      return MinimizeCheck(message);
    return false;
  }
  if (message.Msg == wmSysCommand && SysCommand(message.WParam) == scMinimize) return MinimizeCheck(message);
  return false;
}
