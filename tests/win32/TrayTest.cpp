// The tray icon, simple timers, window-procedure hooks and popup menus against the real
// shell and user32 under Wine.
#include <gtest/gtest.h>

#include "toolkit/Application.h"
#include "toolkit/Menus.h"
#include "tray/TrayIcon.h"

#include <windows.h>
#include <shellapi.h>

namespace {

// A real top-level window standing in for the owner form.
class RealForm : public TComponent, public TWindowedOwner {
 public:
  RealForm() : TComponent(nullptr) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KairotsuTrayTestForm";
    RegisterClassA(&wc);
    FWnd = CreateWindowExA(0, wc.lpszClassName, "form", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
  }
  ~RealForm() override {
    if (FWnd) DestroyWindow(FWnd);
  }
  HWND Wnd() const { return FWnd; }
  THandle WindowHandle() const override { return reinterpret_cast<THandle>(FWnd); }
  bool Visible() const override { return IsWindowVisible(FWnd) != 0; }
  void SetVisible(bool value) override { ShowWindow(FWnd, value ? SW_SHOW : SW_HIDE); }

 private:
  HWND FWnd = nullptr;
};

class TrayWine : public ::testing::Test {
 protected:
  TApplication App;
  void Pump(int ms) {
    DWORD end = GetTickCount() + ms;
    WindowSystem().PumpUntil([&] { return GetTickCount() >= end; }, ms + 100);
  }
  static HWND HandlerWindow() { return reinterpret_cast<HWND>(TTrayIconHandler::Instance()->WindowHandle()); }
};

}  // namespace

TEST_F(TrayWine, MirrorMatchesTheShellRecordAndTheShellVersionIsKnown) {
  EXPECT_EQ(sizeof(TNotifyIconData), static_cast<size_t>(NOTIFYICONDATAA_V2_SIZE));
  uint32_t version = ShellTray().CommonControlsVersion();
  std::printf("comctl32 version %u.%u\n", version >> 16, version & 0xFFFF);
  EXPECT_GT(version, (4u << 16) + 70u);
  TTrayIcon icon(nullptr);
  EXPECT_EQ(TTrayIconHandler::TaskbarCreatedMessage(), RegisterWindowMessageA("TaskbarCreated"));
}

TEST_F(TrayWine, RealIconIsAddedOnceTakesABalloonAndGoes) {
  TTrayIcon icon(nullptr);
  icon.Icon().SetImage(LoadStockIcon(32512));  // IDI_APPLICATION
  icon.SetHint("Kairotsu");
  EXPECT_TRUE(icon.AddTrayIcon());
  EXPECT_FALSE(icon.AddTrayIcon());  // already there
  EXPECT_TRUE(icon.UpdateTrayIcon());
  EXPECT_TRUE(icon.ShowBalloonHint("Information", "NTP Server : 127.0.0.1", bikInfo, 10));
  EXPECT_TRUE(icon.CancelBalloonHint());
  EXPECT_TRUE(icon.RemoveTrayIcon());
  EXPECT_FALSE(icon.UpdateTrayIcon());
  EXPECT_FALSE(icon.ShowBalloonHint("Information", "gone", bikInfo, 10));
}

TEST_F(TrayWine, CallbackPostedToTheSharedWindowReachesTheRightIcon) {
  TTrayIcon a(nullptr), b(nullptr);
  ASSERT_EQ(a.IconData().hWnd, b.IconData().hWnd);
  int downsA = 0, downsB = 0, balloonB = 0;
  a.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { ++downsA; };
  b.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { ++downsB; };
  b.OnBalloonHintShow = [&](TObject*) { ++balloonB; };
  ASSERT_TRUE(PostMessageA(HandlerWindow(), WM_TRAYICON_CALLBACK, b.IconId(), WM_MBUTTONDOWN));
  ASSERT_TRUE(PostMessageA(HandlerWindow(), WM_TRAYICON_CALLBACK, b.IconId(), NIN_BALLOONSHOW));
  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return balloonB == 1; }, 5000));
  EXPECT_EQ(downsA, 0);
  EXPECT_EQ(downsB, 1);
  // The handler window refuses to be closed by anyone but its owner.
  EXPECT_EQ(SendMessageA(HandlerWindow(), WM_CLOSE, 0, 0), 1);
  EXPECT_TRUE(IsWindow(HandlerWindow()));
}

TEST_F(TrayWine, ClickDecisionRunsOnTheRealDoubleClickTimer) {
  TTrayIcon icon(nullptr);
  int clicks = 0, dbls = 0;
  icon.OnClick = [&](TObject*) { ++clicks; };
  icon.OnDblClick = [&](TObject*) { ++dbls; };
  PostMessageA(HandlerWindow(), WM_TRAYICON_CALLBACK, icon.IconId(), WM_LBUTTONDOWN);
  PostMessageA(HandlerWindow(), WM_TRAYICON_CALLBACK, icon.IconId(), WM_LBUTTONUP);
  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return clicks == 1; }, GetDoubleClickTime() + 3000));
  PostMessageA(HandlerWindow(), WM_TRAYICON_CALLBACK, icon.IconId(), WM_LBUTTONDOWN);
  PostMessageA(HandlerWindow(), WM_TRAYICON_CALLBACK, icon.IconId(), WM_LBUTTONUP);
  PostMessageA(HandlerWindow(), WM_TRAYICON_CALLBACK, icon.IconId(), WM_LBUTTONDBLCLK);
  PostMessageA(HandlerWindow(), WM_TRAYICON_CALLBACK, icon.IconId(), WM_LBUTTONUP);
  Pump(static_cast<int>(GetDoubleClickTime()) + 500);
  EXPECT_EQ(dbls, 1);
  EXPECT_EQ(clicks, 1);
}

TEST_F(TrayWine, TaskbarCreatedAddsTheVisibleIconAgain) {
  TTrayIcon icon(nullptr);
  icon.Icon().SetImage(LoadStockIcon(32516));  // IDI_INFORMATION
  icon.SetIconVisible(true);
  // The shell forgets the icon, as when the task bar restarts.
  NOTIFYICONDATAA gone{};
  gone.cbSize = NOTIFYICONDATAA_V2_SIZE;
  gone.hWnd = HandlerWindow();
  gone.uID = icon.IconId();
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
  ASSERT_FALSE(icon.UpdateTrayIcon());
  // The new task bar announces itself to every top-level window, as a restarted shell does.
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
  Pump(200);
  EXPECT_TRUE(icon.UpdateTrayIcon());  // present again
  icon.SetIconVisible(false);
}

TEST_F(TrayWine, SimpleTimersTickFromTheRealSharedWindow) {
  int a = 0, b = 0;
  TSimpleTimer fast(30, [&](TObject*) { ++a; });
  TSimpleTimer once(30, [&](TObject*) { ++b; });
  once.SetAutoDisable(true);
  HWND shared = reinterpret_cast<HWND>(TSimpleTimerHandler::Instance()->WindowHandle());
  ASSERT_TRUE(IsWindow(shared));
  fast.SetEnabled(true);
  once.SetEnabled(true);
  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return a >= 5; }, 5000));
  EXPECT_EQ(b, 1);
  EXPECT_FALSE(once.Enabled());
  EXPECT_TRUE(fast.StopTimer(true));
  EXPECT_FALSE(fast.StopTimer(true));
  int before = a;
  Pump(200);
  EXPECT_EQ(a, before);
}

TEST_F(TrayWine, LastSimpleTimerDestroysTheSharedWindow) {
  HWND shared;
  {
    TSimpleTimer timer;
    shared = reinterpret_cast<HWND>(TSimpleTimerHandler::Instance()->WindowHandle());
    ASSERT_TRUE(IsWindow(shared));
  }
  EXPECT_FALSE(IsWindow(shared));
}

TEST_F(TrayWine, OwnerFormProcedureIsReplacedAndPutBack) {
  RealForm form;
  ASSERT_NE(form.Wnd(), nullptr);
  App.SetMainFormWindow(&form);
  LONG_PTR original = GetWindowLongPtrA(form.Wnd(), GWLP_WNDPROC);
  auto* icon = form.Make<TTrayIcon>();
  EXPECT_NE(GetWindowLongPtrA(form.Wnd(), GWLP_WNDPROC), original);
  icon->SetMinimizeToTray(true);
  int told = 0;
  icon->OnMinimizeToTray = [&](TObject*) { ++told; };
  form.SetVisible(true);
  EXPECT_EQ(SendMessageA(form.Wnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0), 1);
  EXPECT_EQ(told, 1);
  EXPECT_FALSE(IsWindowVisible(form.Wnd()));
  EXPECT_FALSE(IsIconic(form.Wnd()));  // consumed: hidden to the tray, not minimised
  EXPECT_TRUE(icon->IconVisible());
  // Messages it does not consume reach the form's own procedure.
  SetWindowTextA(form.Wnd(), "still the form");
  char text[32] = {};
  GetWindowTextA(form.Wnd(), text, sizeof text);
  EXPECT_STREQ(text, "still the form");
  form.FreeOwned(icon);
  EXPECT_EQ(GetWindowLongPtrA(form.Wnd(), GWLP_WNDPROC), original);
  App.SetMainFormWindow(nullptr);
}

namespace {
// Dismisses or answers the menu that TrackPopupMenu shows, from inside its modal loop.
int gMenuKeys = 0;
VOID CALLBACK DriveMenu(HWND, UINT, UINT_PTR id, DWORD) {
  HWND menu = FindWindowA("#32768", nullptr);
  if (!menu) return;
  KillTimer(nullptr, id);
  if (gMenuKeys == 0) {
    EndMenu();
    return;
  }
  for (int i = 0; i < gMenuKeys; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
}
}  // namespace

TEST_F(TrayWine, PopupMenuIsShownWithImagesAndRunsTheChosenAction) {
  TImageList images(nullptr);
  images.Add(LoadStockIcon(32516));
  images.Add(LoadStockIcon(32515));
  TPopupMenu menu(nullptr);
  menu.SetImages(&images);
  TAction setup(nullptr), exitApp(nullptr);
  setup.Caption = "Options(&O)...";
  setup.ImageIndex = 0;
  exitApp.Caption = "Exit(&X)";
  exitApp.ImageIndex = 1;
  std::vector<String> ran;
  setup.OnExecute = [&](TObject*) { ran.push_back("setup"); };
  exitApp.OnExecute = [&](TObject*) { ran.push_back("exit"); };
  TMenuItem o1(nullptr), n1(nullptr), x1(nullptr);
  o1.SetAction(&setup);
  n1.SetCaption("-");
  x1.SetAction(&exitApp);
  menu.Items().Add(&o1);
  menu.Items().Add(&n1);
  menu.Items().Add(&x1);

  gMenuKeys = 0;
  SetTimer(nullptr, 0, 100, DriveMenu);
  menu.Popup(50, 50);
  EXPECT_TRUE(ran.empty());

  gMenuKeys = 2;  // down to the first item, down past the separator to the second, enter
  SetTimer(nullptr, 0, 100, DriveMenu);
  menu.Popup(50, 50);
  EXPECT_EQ(ran, (std::vector<String>{"exit"}));
}
