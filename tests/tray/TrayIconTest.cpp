#include <gtest/gtest.h>

#include <cstring>

#include "fakes/FakePlatform.h"
#include "fakes/FakeShellTray.h"
#include "toolkit/Forms.h"
#include "tray/TrayIcon.h"

namespace {

// A form stand-in: a component with a window.
class FakeForm : public TComponent, public TWindowedOwner {
 public:
  explicit FakeForm(THandle wnd) : TComponent(nullptr), FWnd(wnd) {}
  THandle WindowHandle() const override { return FWnd; }
  bool Visible() const override { return FVisible; }
  void SetVisible(bool value) override { FVisible = value; }

 private:
  THandle FWnd;
  bool FVisible = true;
};

// The window of a form, attached after the form's components exist, as the form resource
// creates it.
class LateFormWindow final : public TFormPeer {
 public:
  explicit LateFormWindow(THandle wnd) : FWnd(wnd) {}
  THandle Handle() const override { return FWnd; }
  String GetText() const override { return "Setup"; }
  void SetText(const String&) override {}
  void SetBounds(int, int, int, int) override {}
  void GetBounds(int& l, int& t, int& w, int& h) const override {
    l = t = 0;
    w = h = 100;
  }
  void SetVisible(bool) override {}
  void SetEnabled(bool) override {}
  void RunModal(const std::function<bool()>&) override {}
  void SetClientSize(int, int) override {}
  void GetClientSize(int& w, int& h) const override { w = h = 100; }

 private:
  THandle FWnd;
};

class TrayIconTest : public ::testing::Test {
 protected:
  TFakePlatform Platform;
  TFakeShellTray Shell;
  TFakeMenuPlatform Menus;
  TApplication App;

  void Callback(TTrayIcon& icon, uint32_t mouseMessage) {
    Platform.Post(TTrayIconHandler::Instance()->WindowHandle(), WM_TRAYICON_CALLBACK, icon.IconId(),
                  static_cast<int32_t>(mouseMessage));
    Platform.ProcessMessages();
  }
  const TNotifyIconData& LastRecord() { return Shell.Calls.back().Data; }
};

std::shared_ptr<TIconImage> Image(THandle h) { return std::make_shared<TFakeIconImage>(h); }

}  // namespace

TEST_F(TrayIconTest, RecordIsFilledForTheShell) {
  TTrayIcon icon(nullptr);
  TIcon source;
  source.SetImage(Image(0x77));
  icon.SetIcon(source);
  icon.SetHint("Kairotsu");
  EXPECT_TRUE(icon.AddTrayIcon());
  const TNotifyIconData& d = LastRecord();
  EXPECT_EQ(Shell.Calls.back().Message, nimAdd);
  EXPECT_EQ(d.cbSize, 488u);
  EXPECT_EQ(d.hWnd, TTrayIconHandler::Instance()->WindowHandle());
  EXPECT_EQ(d.uID, icon.IconId());
  EXPECT_EQ(d.uFlags, 7u);
  EXPECT_EQ(d.uCallbackMessage, 0x0800u);
  EXPECT_EQ(d.hIcon, 0x77u);
  EXPECT_STREQ(d.szTip, "Kairotsu");
  EXPECT_EQ(d.dwState, 0u);
  EXPECT_EQ(d.szInfo[0], 0);
}

TEST_F(TrayIconTest, TooltipIsCutTo127BytesAndEmptiedWhenHidden) {
  TTrayIcon icon(nullptr);
  icon.SetIconVisible(true);
  icon.SetHint(String(200, 'h'));
  EXPECT_EQ(std::strlen(LastRecord().szTip), 127u);
  EXPECT_EQ(String(LastRecord().szTip), String(127, 'h'));
  icon.SetShowHint(false);
  const TNotifyIconData& hidden = LastRecord();
  EXPECT_EQ(hidden.uFlags & nifTip, nifTip);  // the tip flag stays, so the old tip is cleared
  for (char c : hidden.szTip) EXPECT_EQ(c, 0);
  icon.SetShowHint(true);
  icon.SetHint("");
  EXPECT_EQ(LastRecord().szTip[0], 0);
}

TEST_F(TrayIconTest, BrokenIconGivesNoHandleButTheCallStillHappens) {
  TTrayIcon icon(nullptr);
  icon.Icon().SetImage(std::make_shared<TFakeIconImage>(0x55, true));
  EXPECT_TRUE(icon.AddTrayIcon());
  EXPECT_EQ(LastRecord().hIcon, 0u);
}

TEST_F(TrayIconTest, BalloonFieldsAndCuts) {
  TTrayIcon icon(nullptr);
  icon.SetIconVisible(true);
  Shell.Calls.clear();
  EXPECT_TRUE(icon.ShowBalloonHint(String(70, 't'), String(300, 'x'), bikWarning, 10));
  ASSERT_EQ(Shell.Calls.size(), 2u);
  // First the withdrawal of any shown balloon, then the new one.
  EXPECT_EQ(Shell.Calls[0].Message, nimModify);
  EXPECT_EQ(Shell.Calls[0].Data.uFlags, 0x17u);
  EXPECT_EQ(Shell.Calls[0].Data.szInfo[0], 0);
  const TNotifyIconData& d = Shell.Calls[1].Data;
  EXPECT_EQ(Shell.Calls[1].Message, nimModify);
  EXPECT_EQ(d.uFlags, 0x17u);
  EXPECT_EQ(String(d.szInfo), String(255, 'x'));
  EXPECT_EQ(String(d.szInfoTitle), String(63, 't'));
  EXPECT_EQ(d.uTimeout, 10000u);
  EXPECT_EQ(d.dwInfoFlags, niifWarning);
  EXPECT_EQ(icon.IconData().uFlags, 7u);  // restored after the call

  icon.ShowBalloonHint("Information", "text", bikInfo, 0);
  EXPECT_EQ(LastRecord().uTimeout, 0u);
  EXPECT_EQ(LastRecord().dwInfoFlags, niifInfo);
  icon.ShowBalloonHint("", "", bikError, 255);
  EXPECT_EQ(LastRecord().uTimeout, 255000u);
  EXPECT_EQ(LastRecord().dwInfoFlags, niifError);
  icon.ShowBalloonHint("", "", bikNone, 1);
  EXPECT_EQ(LastRecord().dwInfoFlags, niifNone);
}

TEST_F(TrayIconTest, BalloonCutNeverSplitsADoubleByteCharacter) {
  TTrayIcon icon(nullptr);
  icon.SetIconVisible(true);
  // 62 single bytes, then a two-byte character straddling the 63-byte limit.
  String title = String(62, 'a') + "\x93\xAF\x8A\xFA";
  icon.ShowBalloonHint(title, "", bikInfo, 10);
  EXPECT_EQ(String(LastRecord().szInfoTitle), String(62, 'a'));
  // A title that ends exactly at the limit keeps its last character.
  String fits = String(61, 'a') + "\x93\xAF" + "zz";
  icon.ShowBalloonHint(fits, "", bikInfo, 10);
  EXPECT_EQ(String(LastRecord().szInfoTitle), String(61, 'a') + "\x93\xAF");
}

TEST_F(TrayIconTest, BalloonOnAnIconNotInTheTrayFails) {
  TTrayIcon icon(nullptr);
  EXPECT_FALSE(icon.ShowBalloonHint("Information", "text", bikInfo, 10));
  EXPECT_TRUE(Shell.Icons.empty());
}

TEST_F(TrayIconTest, VisibleTwiceLeavesOneIconAndTheSecondAddFails) {
  TTrayIcon icon(nullptr);
  EXPECT_TRUE(icon.AddTrayIcon());
  EXPECT_FALSE(icon.AddTrayIcon());
  EXPECT_TRUE(icon.IconVisible());
  EXPECT_EQ(Shell.Icons.size(), 1u);
  icon.SetIconVisible(false);
  EXPECT_TRUE(Shell.Icons.empty());
  EXPECT_FALSE(icon.RemoveTrayIcon());
  EXPECT_FALSE(icon.IconVisible());
}

TEST_F(TrayIconTest, IconIndexIsClampedToTheListAndZeroWithoutOne) {
  TImageList list(nullptr);
  list.Add(Image(0x10));
  list.Add(Image(0x11));
  list.Add(Image(0x12));
  TTrayIcon icon(nullptr);
  icon.SetIconVisible(true);
  icon.SetIconIndex(7);
  EXPECT_EQ(icon.IconIndex(), 0);  // no list yet
  icon.SetIconList(&list);
  EXPECT_EQ(LastRecord().hIcon, 0x10u);
  icon.SetIconIndex(10);
  EXPECT_EQ(icon.IconIndex(), 2);
  EXPECT_EQ(LastRecord().hIcon, 0x12u);
  EXPECT_EQ(Shell.Icons.begin()->second.hIcon, 0x12u);
  icon.SetIconIndex(-1);  // not raised; no image there, the icon stays
  EXPECT_EQ(icon.IconIndex(), -1);
  EXPECT_EQ(LastRecord().hIcon, 0x12u);
}

TEST_F(TrayIconTest, CyclingStepsThroughTheListAndNeverWithZeroInterval) {
  TImageList list(nullptr);
  list.Add(Image(0x10));
  list.Add(Image(0x11));
  list.Add(Image(0x12));
  TTrayIcon icon(nullptr);
  icon.SetIconList(&list);
  std::vector<int> next;
  icon.OnCycle = [&](TObject*, int n) { next.push_back(n); };
  icon.SetCycleIcons(true);  // interval 0
  Platform.Advance(5000);
  EXPECT_TRUE(next.empty());
  icon.SetCycleInterval(100);
  Platform.Advance(400);
  EXPECT_EQ(next, (std::vector<int>{1, 2, 0, 1}));
  EXPECT_EQ(icon.IconIndex(), 1);
  icon.SetCycleIcons(false);
  Platform.Advance(1000);
  EXPECT_EQ(next.size(), 4u);
}

TEST_F(TrayIconTest, SingleClickWaitsForTheDoubleClickTime) {
  TTrayIcon icon(nullptr);
  std::vector<String> events;
  icon.OnClick = [&](TObject* s) {
    EXPECT_EQ(s, &icon);
    events.push_back("click");
  };
  icon.OnDblClick = [&](TObject*) { events.push_back("dbl"); };
  icon.OnMouseUp = [&](TObject*, TMouseButton b, TShiftState sh, int x, int y) {
    EXPECT_EQ(b, mbLeft);
    EXPECT_EQ(sh, ssLeft | ssShift);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 200);
    events.push_back("up");
  };
  Shell.KeysDown = {vkShift};
  Shell.DoubleClickTime = 400;
  Callback(icon, wmLButtonDown);
  Callback(icon, wmLButtonUp);
  EXPECT_EQ(events, (std::vector<String>{"up"}));
  Platform.Advance(399);
  EXPECT_EQ(events.size(), 1u);
  Platform.Advance(1);
  EXPECT_EQ(events, (std::vector<String>{"up", "click"}));
  Platform.Advance(2000);
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(TrayIconTest, DoubleClickRaisesOnlyDblClick) {
  TTrayIcon icon(nullptr);
  int clicks = 0, dbls = 0;
  icon.OnClick = [&](TObject*) { ++clicks; };
  icon.OnDblClick = [&](TObject*) { ++dbls; };
  Callback(icon, wmLButtonDown);
  Callback(icon, wmLButtonUp);
  Platform.Advance(100);
  Callback(icon, wmLButtonDblClk);
  Callback(icon, wmLButtonUp);
  Platform.Advance(3000);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(dbls, 1);
  // The decision is reset: a later single click is a click again.
  Callback(icon, wmLButtonDown);
  Callback(icon, wmLButtonUp);
  Platform.Advance(500);
  EXPECT_EQ(clicks, 1);
}

TEST_F(TrayIconTest, PressHeldLongerThanTheDoubleClickTimeClicksAtRelease) {
  TTrayIcon icon(nullptr);
  std::vector<String> events;
  icon.OnClick = [&](TObject*) { events.push_back("click"); };
  icon.OnDblClick = [&](TObject*) { events.push_back("dbl"); };
  icon.OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { events.push_back("up"); };
  Callback(icon, wmLButtonDown);
  Platform.Advance(2000);
  Callback(icon, wmLButtonUp);
  EXPECT_EQ(events, (std::vector<String>{"click", "up"}));
}

TEST_F(TrayIconTest, WithoutDblClickHandlerEachFirstReleaseClicksAndTheDefaultItemRuns) {
  TPopupMenu menu(nullptr);
  TMenuItem first(nullptr), second(nullptr), third(nullptr);
  menu.Items().Add(&first);
  menu.Items().Add(&second);
  menu.Items().Add(&third);
  second.SetDefault(true);
  third.SetDefault(true);
  std::vector<String> ran;
  second.OnClick = [&](TObject*) { ran.push_back("second"); };
  third.OnClick = [&](TObject*) { ran.push_back("third"); };
  TTrayIcon icon(nullptr);
  icon.SetPopupMenu(&menu);
  std::vector<String> events;
  icon.OnClick = [&](TObject*) { events.push_back("click"); };
  icon.OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { events.push_back("up"); };
  Callback(icon, wmLButtonDown);
  Callback(icon, wmLButtonUp);
  Callback(icon, wmLButtonDblClk);
  Callback(icon, wmLButtonUp);
  Platform.Advance(2000);
  EXPECT_EQ(events, (std::vector<String>{"click", "up", "up"}));
  EXPECT_EQ(ran, (std::vector<String>{"second"}));  // the lowest default item, once
  EXPECT_TRUE(Menus.Popups.empty());

  menu.SetAutoPopup(false);  // no default item either
  Callback(icon, wmLButtonDblClk);
  EXPECT_EQ(ran.size(), 1u);
}

TEST_F(TrayIconTest, RightPressOpensTheMenuAfterMouseDownAndRunsTheChoice) {
  TPopupMenu menu(nullptr);
  TAction action(nullptr);
  int executed = 0;
  action.OnExecute = [&](TObject*) { ++executed; };
  TMenuItem item(nullptr);
  item.SetAction(&action);
  menu.Items().Add(&item);
  TTrayIcon icon(nullptr);
  icon.SetPopupMenu(&menu);
  std::vector<String> order;
  icon.OnMouseDown = [&](TObject*, TMouseButton b, TShiftState sh, int, int) {
    if (b != mbRight) return;
    EXPECT_EQ(sh, ssRight | ssCtrl | ssAlt);
    order.push_back("down:" + std::to_string(Menus.Popups.size()));
  };
  Shell.KeysDown = {vkControl, vkMenu};
  Shell.Cursor = {640, 470};
  Menus.Choice = &item;
  Callback(icon, wmRButtonDown);
  EXPECT_EQ(order, (std::vector<String>{"down:0"}));
  ASSERT_EQ(Menus.Popups.size(), 1u);
  EXPECT_EQ(Menus.Popups[0].X, 640);
  EXPECT_EQ(Menus.Popups[0].Y, 470);
  EXPECT_EQ(Menus.Popups[0].Owner, App.Handle());
  EXPECT_EQ(menu.PopupComponent(), &icon);
  EXPECT_EQ(Shell.ForegroundCalls, (std::vector<THandle>{App.Handle()}));
  EXPECT_EQ(executed, 1);

  // A left press opens it only with LeftPopup; a menu without AutoPopup never opens.
  Callback(icon, wmLButtonDown);
  EXPECT_EQ(Menus.Popups.size(), 1u);
  icon.SetLeftPopup(true);
  Callback(icon, wmLButtonDown);
  EXPECT_EQ(Menus.Popups.size(), 2u);
  menu.SetAutoPopup(false);
  Callback(icon, wmRButtonDown);
  EXPECT_EQ(Menus.Popups.size(), 2u);
  // Nor does it open when the cursor position cannot be read.
  menu.SetAutoPopup(true);
  Shell.CursorAvailable = false;
  Callback(icon, wmRButtonDown);
  EXPECT_EQ(Menus.Popups.size(), 2u);
}

TEST_F(TrayIconTest, DisabledIconIgnoresTheMouseButStillReportsBalloons) {
  TPopupMenu menu(nullptr);
  TTrayIcon icon(nullptr);
  icon.SetPopupMenu(&menu);
  icon.SetEnabled(false);
  int mouse = 0;
  std::vector<String> balloons;
  icon.OnClick = [&](TObject*) { ++mouse; };
  icon.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { ++mouse; };
  icon.OnMouseMove = [&](TObject*, TShiftState, int, int) { ++mouse; };
  icon.OnBalloonHintShow = [&](TObject*) { balloons.push_back("show"); };
  icon.OnBalloonHintHide = [&](TObject*) { balloons.push_back("hide"); };
  icon.OnBalloonHintTimeout = [&](TObject*) { balloons.push_back("timeout"); };
  icon.OnBalloonHintClick = [&](TObject*) { balloons.push_back("click"); };
  for (uint32_t m : {wmMouseMove, wmLButtonDown, wmLButtonUp, wmRButtonDown, wmMButtonDown}) Callback(icon, m);
  for (uint32_t m : {ninBalloonShow, ninBalloonHide, ninBalloonTimeout, ninBalloonUserClick}) Callback(icon, m);
  Platform.Advance(2000);
  EXPECT_EQ(mouse, 0);
  EXPECT_TRUE(Menus.Popups.empty());
  EXPECT_EQ(balloons, (std::vector<String>{"show", "hide", "timeout", "click"}));
}

TEST_F(TrayIconTest, CallbacksReachOnlyTheIconWithThatIdentifier) {
  TTrayIcon a(nullptr), b(nullptr);
  ASSERT_NE(a.IconId(), b.IconId());
  EXPECT_EQ(a.IconData().hWnd, b.IconData().hWnd);  // one shared handler window
  EXPECT_EQ(TTrayIconHandler::Instance()->RefCount(), 2u);
  int downsA = 0, downsB = 0;
  a.OnMouseDown = [&](TObject* s, TMouseButton, TShiftState, int, int) {
    EXPECT_EQ(s, &a);
    ++downsA;
  };
  b.OnMouseDown = [&](TObject* s, TMouseButton, TShiftState, int, int) {
    EXPECT_EQ(s, &b);
    ++downsB;
  };
  Callback(b, wmMButtonDown);
  EXPECT_EQ(downsA, 0);
  EXPECT_EQ(downsB, 1);
  THandle wnd = TTrayIconHandler::Instance()->WindowHandle();
  Platform.Post(wnd, WM_TRAYICON_CALLBACK, a.IconId() + b.IconId() + 100, wmMButtonDown);  // nobody's
  Platform.ProcessMessages();
  EXPECT_EQ(downsA + downsB, 1);
  EXPECT_EQ(Platform.Send(wnd, wmClose, 0, 0), 1);
  EXPECT_EQ(Platform.Send(wnd, wmQueryEndSession, 0, 0), 1);
}

TEST_F(TrayIconTest, HandlerGoesWithTheLastIcon) {
  {
    TTrayIcon icon(nullptr);
    ASSERT_NE(TTrayIconHandler::Instance(), nullptr);
  }
  EXPECT_EQ(TTrayIconHandler::Instance(), nullptr);
}

TEST_F(TrayIconTest, TaskbarRestartAddsVisibleIconsAgain) {
  TTrayIcon shown(nullptr), hidden(nullptr);
  shown.SetHint("Kairotsu");
  shown.SetIconVisible(true);
  hidden.SetIconVisible(true);
  hidden.SetIconVisible(false);
  Shell.RestartTaskbar();
  Shell.Calls.clear();
  uint32_t taskbarCreated = Platform.RegisterMessage("TaskbarCreated");
  ASSERT_EQ(TTrayIconHandler::TaskbarCreatedMessage(), taskbarCreated);
  // The new task bar announces itself to every top-level window.
  for (THandle w : Platform.Windows()) Platform.Send(w, taskbarCreated, 0, 0);
  ASSERT_EQ(Shell.Calls.size(), 1u);
  EXPECT_EQ(Shell.Calls[0].Message, nimAdd);
  EXPECT_EQ(Shell.Calls[0].Data.uID, shown.IconId());
  EXPECT_STREQ(Shell.Calls[0].Data.szTip, "Kairotsu");
  EXPECT_EQ(Shell.Icons.size(), 1u);
}

TEST_F(TrayIconTest, OldShellRegistersNoTaskbarMessage) {
  Shell.ComCtlVersion = (4u << 16) + 70u;
  TTrayIcon icon(nullptr);
  EXPECT_EQ(TTrayIconHandler::TaskbarCreatedMessage(), 0u);
}

TEST_F(TrayIconTest, NotificationDropsAFreedListOrMenu) {
  auto list = std::make_unique<TImageList>(nullptr);
  list->Add(Image(0x10));
  list->Add(Image(0x11));
  auto menu = std::make_unique<TPopupMenu>(nullptr);
  TTrayIcon icon(nullptr);
  icon.SetIconList(list.get());
  icon.SetIconIndex(1);
  icon.SetPopupMenu(menu.get());
  list.reset();
  menu.reset();
  EXPECT_EQ(icon.IconList(), nullptr);
  EXPECT_EQ(icon.IconIndex(), 0);
  EXPECT_EQ(icon.PopupMenu(), nullptr);
  Callback(icon, wmRButtonDown);  // no menu to show, nothing dangling
  EXPECT_TRUE(Menus.Popups.empty());
}

TEST_F(TrayIconTest, LoadedAppliesVisibilityAndSetsTheVersion) {
  FakeForm form(0x4242);
  App.SetMainFormWindow(&form);
  Shell.VisibleWindows.insert(App.Handle());
  auto& icon = *form.Make<TTrayIcon>();
  bool asked = false;
  icon.OnStartup = [&](TObject*, bool& show) {
    asked = true;
    show = false;
  };
  icon.SetIconVisible(true);
  Shell.Calls.clear();
  icon.Loaded();
  EXPECT_TRUE(asked);
  EXPECT_FALSE(App.ShowMainForm());
  EXPECT_FALSE(form.Visible());
  EXPECT_EQ(Shell.HiddenWindows, (std::vector<THandle>{App.Handle()}));
  ASSERT_GE(Shell.Calls.size(), 3u);
  EXPECT_EQ(Shell.Calls[0].Message, nimModify);
  EXPECT_EQ(Shell.Calls[1].Message, nimAdd);
  EXPECT_FALSE(Shell.Calls[1].Result);  // already there
  EXPECT_EQ(Shell.Calls.back().Message, nimSetVersion);
  EXPECT_EQ(Shell.Calls.back().Data.uTimeout, 0u);
  App.SetMainFormWindow(nullptr);
}

TEST_F(TrayIconTest, OwnerFormIsHookedForMinimiseToTrayAndUnhookedAtTheEnd) {
  FakeForm form(0x4242);
  App.SetMainFormWindow(&form);
  auto* icon = form.Make<TTrayIcon>();
  ASSERT_TRUE(Shell.IsHooked(0x4242));
  TMessage minimise{wmSysCommand, scMinimize, 0, 0};
  EXPECT_FALSE(Shell.SendToHooked(0x4242, minimise));  // not asked to minimise to the tray
  icon->SetMinimizeToTray(true);
  int told = 0;
  icon->OnMinimizeToTray = [&](TObject*) { ++told; };
  TMessage again{wmSysCommand, scMinimize | 2, 0, 0};
  EXPECT_TRUE(Shell.SendToHooked(0x4242, again));
  EXPECT_EQ(again.Result, 1);
  EXPECT_EQ(told, 1);
  EXPECT_FALSE(form.Visible());
  EXPECT_TRUE(icon->IconVisible());
  EXPECT_EQ(Shell.Icons.size(), 1u);

  TMessage show{wmShowWindow, 1, 0, 0};
  EXPECT_FALSE(Shell.SendToHooked(0x4242, show));  // goes on to the form
  EXPECT_EQ(Shell.ForegroundCalls, (std::vector<THandle>{App.Handle(), 0x4242}));

  TMessage restore{wmSysCommand, scRestore, 0, 0};
  Platform.Send(App.Handle(), restore.Msg, restore.WParam, 0);
  EXPECT_TRUE(form.Visible());

  form.FreeOwned(icon);
  EXPECT_FALSE(Shell.IsHooked(0x4242));
  EXPECT_TRUE(Shell.Icons.empty());
  App.SetMainFormWindow(nullptr);
}

TEST_F(TrayIconTest, OwnerFormWindowMadeAfterTheIconIsHookedOnceItExists) {
  TForm form(nullptr);
  App.SetMainFormWindow(&form);
  auto* icon = form.Make<TTrayIcon>();
  EXPECT_FALSE(Shell.IsHooked(0));  // no window yet: nothing to hook
  form.AttachPeer(std::make_unique<LateFormWindow>(0x4343));
  ASSERT_TRUE(Shell.IsHooked(0x4343));
  TMessage show{wmShowWindow, 1, 0, 0};
  EXPECT_FALSE(Shell.SendToHooked(0x4343, show));
  EXPECT_EQ(Shell.ForegroundCalls, (std::vector<THandle>{App.Handle(), 0x4343}));
  form.DetachPeer();  // the window goes, and its hook with it
  EXPECT_FALSE(Shell.IsHooked(0x4343));
  form.AttachPeer(std::make_unique<LateFormWindow>(0x4344));  // a new window is hooked again
  EXPECT_TRUE(Shell.IsHooked(0x4344));
  form.FreeOwned(icon);
  EXPECT_FALSE(Shell.IsHooked(0x4344));
  App.SetMainFormWindow(nullptr);
}

TEST_F(TrayIconTest, FormGoingWithItsIconAndWindowLeavesNoHook) {
  {
    TForm form(nullptr);
    form.Make<TTrayIcon>()->SetIconVisible(true);
    form.AttachPeer(std::make_unique<LateFormWindow>(0x4345));
    ASSERT_TRUE(Shell.IsHooked(0x4345));
  }
  EXPECT_FALSE(Shell.IsHooked(0x4345));
  EXPECT_TRUE(Shell.Icons.empty());
}
