// The notification-area icon of the program.
//
// TTrayIcon puts one icon into the task bar's notification area and keeps it there, also
// after the task bar restarts ("TaskbarCreated"). It turns mouse activity on the icon into
// events (telling a single click from a double click with a timer), shows its popup menu at
// the cursor, shows balloon hints, can animate the icon through an image list and can hide the
// main form to the tray. All icons of the process talk to the shell through the one hidden
// window of a shared, reference-counted TTrayIconHandler, which routes each callback to the
// icon whose identifier it carries.
#pragma once

#include "tray/SharedHandler.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "toolkit/Application.h"
#include "toolkit/Graphics.h"
#include "toolkit/ImgList.h"
#include "toolkit/Menus.h"
#include "tray/ShellTray.h"
#include "tray/SimpleTimer.h"

enum TBalloonIconKind : uint8_t { bikNone = 0, bikInfo = 1, bikWarning = 2, bikError = 3 };

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TCycleEvent = std::function<void(TObject* Sender, int NextIndex)>;
using TStartupEvent = std::function<void(TObject* Sender, bool& ShowMainForm)>;

class TTrayIcon;

class TTrayIconHandler : public TSharedHandler<TTrayIconHandler, TTrayIcon> {
 public:
  TTrayIconHandler();
  // The registered "TaskbarCreated" message, 0 when the shell is too old to send it.
  static uint32_t TaskbarCreatedMessage();

 private:
  friend class TTrayIcon;
  friend class TSharedHandler<TTrayIconHandler, TTrayIcon>;
  void WndProc(TMessage& message);
  static void LastReleased();
};

class TTrayIcon : public TComponent {
 public:
  explicit TTrayIcon(TComponent* owner);
  ~TTrayIcon() override;

  // --- properties ---
  bool DesignPreview() const { return FDesignPreview; }
  void SetDesignPreview(bool value) { FDesignPreview = value; }
  TCustomImageList* IconList() const { return FIconList; }
  // Stores the list and shows its first image (IconIndex 0).
  void SetIconList(TCustomImageList* list);
  bool CycleIcons() const { return FCycleIcons; }
  void SetCycleIcons(bool value);
  uint32_t CycleInterval() const { return FCycleInterval; }
  void SetCycleInterval(uint32_t value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }
  const String& Hint() const { return FHint; }
  void SetHint(const String& value);
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool value);
  TIcon& Icon() { return *FIcon; }
  // Copies the image of `icon` and updates the tray.
  void SetIcon(const TIcon& icon);
  bool IconVisible() const { return FIconVisible; }
  void SetIconVisible(bool value);
  int IconIndex() const { return FIconIndex; }
  // With an icon list: lowered to the last image when beyond it, and that image is shown.
  // Without one the index becomes 0.
  void SetIconIndex(int value);
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* menu);
  bool LeftPopup() const { return FLeftPopup; }
  void SetLeftPopup(bool value) { FLeftPopup = value; }
  bool WantEnterExitEvents() const { return FWantEnterExit; }
  void SetWantEnterExitEvents(bool value);
  bool MinimizeToTray() const { return FMinimizeToTray; }
  void SetMinimizeToTray(bool value) { FMinimizeToTray = value; }

  // --- events (Sender is the tray icon) ---
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TCycleEvent OnCycle;
  TStartupEvent OnStartup;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseExit;
  TNotifyEvent OnMinimizeToTray;
  TNotifyEvent OnBalloonHintShow;
  TNotifyEvent OnBalloonHintHide;
  TNotifyEvent OnBalloonHintTimeout;
  TNotifyEvent OnBalloonHintClick;

  // --- operations; each returns whether the shell accepted the call ---
  virtual bool WantsDefaultIcon() { return true; }
  virtual bool AddTrayIcon();
  virtual bool RemoveTrayIcon();
  virtual bool UpdateTrayIcon();
  // Shows a balloon on the icon (which must be in the tray). The title is cut to 63 bytes, the
  // text to 255; the timeout is in seconds.
  bool ShowBalloonHint(const String& title, const String& text, TBalloonIconKind iconKind, uint8_t timeoutSeconds);
  bool CancelBalloonHint();
  void HideAppButton();
  void HideAppWindows();

  void Loaded() override;

  // The identifier the shell knows this icon by (the callback's WParam).
  uint32_t IconId() const { return FIconData.uID; }
  // The record as the last shell call saw it.
  const TNotifyIconData& IconData() const { return FIconData; }
  // Handles one tray callback: LParam of the callback message.
  void HandleCallback(uint32_t mouseMessage);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

  virtual void DoClick();
  virtual void DoDblClick();
  virtual void DoCycle();
  virtual void DoMouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void DoMouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void DoMouseMove(TShiftState shift, int x, int y);
  virtual void DoMouseEnter();
  virtual void DoMouseExit();
  virtual void DoSendToTray();

 private:
  void FillIconData();
  bool Notify(uint32_t message);
  void IconChanged(TObject*);
  TShiftState KeyShift();
  void ShowPopup();
  void DefaultMenuItem();
  void ClickTimerTick(TObject*);
  void ExitTimerTick(TObject*);
  void CycleTimerTick(TObject*);
  bool AppWindowHook(TMessage& message);
  bool OwnerFormHook(TMessage& message);
  // Replaces the owner form's window procedure with OwnerFormHook (the form's window exists).
  void HookOwnerForm(TWindowedOwner& form);
  bool MinimizeCheck(TMessage& message);
  TWindowedOwner* OwnerWindow() const;

  bool FEnabled = true;
  std::unique_ptr<TIcon> FIcon;
  bool FIconVisible = false;
  String FHint;
  bool FShowHint = true;
  TPopupMenu* FPopupMenu = nullptr;
  bool FLeftPopup = false;
  bool FMinimizeToTray = false;
  bool FLeftPressed = false;
  bool FClickPending = false;
  std::unique_ptr<TSimpleTimer> FCycleTimer, FClickTimer, FExitTimer;
  TPoint FLastMove;
  bool FCursorOutside = true;
  bool FWantEnterExit = false;
  uint8_t FNotifyBehaviour = 0;
  bool FDoubleClicked = false;
  int FIconIndex = 0;
  bool FDesignPreview = false;
  bool FStartupPending = true;
  TCustomImageList* FIconList = nullptr;
  bool FCycleIcons = false;
  uint32_t FCycleInterval = 0;
  std::unique_ptr<TWindowProcHook> FOwnerHook;
  bool FAppHooked = false;
  TNotifyIconData FIconData{};
};
