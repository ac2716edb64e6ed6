// The real Setup dialog under Wine: its pixel layout, its label accelerators, and OK; the help
// item without the guide beside the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/BIOS.h"
#include "app/Setup.h"
#include "app/SetupDialog.h"
#include "settings/FileOps.h"
#include "sock/IpWinSock.h"
#include "toolkit/Application.h"

#include <windows.h>

namespace {

String ReadText(const String& path) {
  String bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

// The text of the first message box this thread shows, which is then closed with OK: looked for
// by a timer that the box's own message loop runs.
String gBoxText;
BOOL CALLBACK CloseMessageBox(HWND wnd, LPARAM) {
  char cls[16] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") != 0 || !IsWindowVisible(wnd) || !GetDlgItem(wnd, 0xFFFF)) return TRUE;
  char text[1024] = {};
  GetDlgItemTextA(wnd, 0xFFFF, text, sizeof text);  // a message box's text
  gBoxText = text;
  PostMessageA(wnd, WM_COMMAND, IDOK, 0);
  return FALSE;
}
void CALLBACK LookForMessageBox(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), CloseMessageBox, 0);
}

class SetupDialogWine : public ::testing::Test {
 protected:
  TWinSockModule WinSock;
  TApplication App;
  String Dir;
  std::unique_ptr<TSetup> Form;

  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    Dir = String(temp) + "kairotsu-dialog-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(Dir.c_str(), nullptr);
    PathOverrides().ExecutableFileName = Dir + "Kairotsu.exe";
    String ini = "[";
    ini += GetWindowsUserName();
    ini += "]\r\nUseNTPServer=127.0.0.1\r\nBootUpdateTime=0\r\nOffsetSec=5\r\nOffsetMin=90\r\nUpdateTime=45\r\n";
    ASSERT_TRUE(ReplaceFileContents(Dir + "Kairotsu.ini", ini));
    Form = std::make_unique<TSetup>(&App);
  }
  void TearDown() override {
    Form.reset();
    PathOverrides().ExecutableFileName.clear();
    for (const char* name : {"Kairotsu.ini", "Kairotsu.ini.lock", "NTP.lst"}) DeleteFileA((Dir + name).c_str());
    RemoveDirectoryA(Dir.c_str());
  }
  static HWND Wnd(TControl* c) { return reinterpret_cast<HWND>(c->Handle()); }
  // A control's rectangle in the dialog's client coordinates.
  RECT Place(HWND wnd) {
    RECT r;
    GetWindowRect(wnd, &r);
    MapWindowPoints(nullptr, Wnd(Form.get()), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  // Presses and releases a key through the system's input queue, as the keyboard does.
  static void PressKey(WORD vk) {
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = vk;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof(INPUT));
  }
  void Accelerator(char key) {
    PostMessageA(GetFocus(), WM_SYSCHAR, static_cast<WPARAM>(key), 1 << 29);
    WindowSystem().ProcessMessages();
  }
};

TEST_F(SetupDialogWine, HelpWithoutTheGuideBesideTheProgramSaysSo) {
  gBoxText.clear();
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, LookForMessageBox);
  Form->HelpItem->Click();
  KillTimer(nullptr, timer);
  EXPECT_EQ(gBoxText, "ヘルプファイルを開けません。\r\n" + Dir + "Kairotsu.pdf\r\nファイルが見つかりません。");
}

TEST_F(SetupDialogWine, ControlsSitAtTheirPixelPlaces) {
  ASSERT_NE(Wnd(Form.get()), nullptr);
  EXPECT_FALSE(IsWindowVisible(Wnd(Form.get())));  // hidden: a server is set
  RECT client;
  GetClientRect(Wnd(Form.get()), &client);
  EXPECT_EQ(client.right, 240);
  EXPECT_EQ(client.bottom, 246);
  RECT list = Place(Wnd(Form->ServerList));
  EXPECT_EQ(list.left, 8);
  EXPECT_EQ(list.top, 72);
  EXPECT_EQ(list.right - list.left, 145);
  RECT ok = Place(Wnd(Form->OkButton));
  EXPECT_EQ(ok.left, 96);
  EXPECT_EQ(ok.top, 216);
  EXPECT_EQ(ok.right - ok.left, 64);
  EXPECT_EQ(ok.bottom - ok.top, 20);
  RECT sec = Place(Wnd(Form->OffsetSec));
  EXPECT_EQ(sec.left, 160);
  EXPECT_EQ(sec.top, 24);
  char caption[64];
  GetWindowTextA(Wnd(Form.get()), caption, sizeof caption);
  EXPECT_STREQ(caption, "Setup");
  EXPECT_EQ(Form->ServerList->ItemCount(), 22);
}

TEST_F(SetupDialogWine, LabelAcceleratorsMoveTheFocusToTheirFocusControls) {
  Form->Show();
  SetFocus(Wnd(Form->UseNTPServer));
  Accelerator('T');  // 時間調整(&T) -> seconds
  EXPECT_EQ(GetFocus(), Wnd(Form->OffsetSec));
  Accelerator('i');  // 更新間隔(&I) has no focus control: nothing moves
  EXPECT_EQ(GetFocus(), Wnd(Form->OffsetSec));
  Accelerator('N');  // NTPサーバー(&N) -> the server list
  EXPECT_EQ(GetFocus(), Wnd(Form->ServerList));
  SetFocus(Wnd(Form->OffsetMin));
  Accelerator('S');  // NTPサーバーリスト(&S) -> the server list
  EXPECT_EQ(GetFocus(), Wnd(Form->ServerList));
}

TEST_F(SetupDialogWine, OkSavesTheTypedValuesAddsTheServerAndHides) {
  Form->Show();
  SetWindowTextA(Wnd(Form->UseNTPServer), "127.0.0.9");
  SetWindowTextA(Wnd(Form->OffsetSec), "15");
  SendMessageA(Wnd(Form->OkButton), BM_CLICK, 0, 0);
  WindowSystem().ProcessMessages();
  EXPECT_FALSE(IsWindowVisible(Wnd(Form.get())));
  const String ini = ReadText(Dir + "Kairotsu.ini");
  EXPECT_NE(ini.find("UseNTPServer=127.0.0.9\r\n"), String::npos) << ini;
  EXPECT_NE(ini.find("OffsetSec=15\r\n"), String::npos) << ini;
  EXPECT_EQ(ReadText(Dir + "NTP.lst").substr(0, 11), "127.0.0.9\r\n");
}

TEST_F(SetupDialogWine, EscapeInEachSpinEditCancelsAndTheirLengthLimitsHold) {
  struct Case {
    TSpEdit* Edit;
    const char* Stored;
    const char* Typed;
    const char* Shown;  // what the length limit lets in
  };
  for (const Case& c : {Case{Form->OffsetSec, "5", "987", "98"}, Case{Form->OffsetMin, "90", "98765", "9876"},
                        Case{Form->UpdateTime, "45", "98765", "9876"}}) {
    SCOPED_TRACE(c.Edit->Name());
    HWND edit = Wnd(c.Edit);
    EXPECT_EQ(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0), static_cast<LRESULT>(std::strlen(c.Shown)));
    Form->Show();
    SetForegroundWindow(Wnd(Form.get()));
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (const char* k = c.Typed; *k; ++k) PressKey(static_cast<WORD>(*k));  // '0'-'9' are their own keys
    WindowSystem().PumpUntil([&] { return c.Edit->Text() == c.Shown; }, 3000);
    EXPECT_EQ(c.Edit->Text(), c.Shown);
    PressKey(VK_ESCAPE);
    WindowSystem().PumpUntil([&] { return !IsWindowVisible(Wnd(Form.get())); }, 3000);
    EXPECT_FALSE(IsWindowVisible(Wnd(Form.get())));
    EXPECT_FALSE(Form->Visible());
    EXPECT_EQ(c.Edit->Text(), c.Stored);  // Cancel: the stored value is back
  }
}

TEST_F(SetupDialogWine, ShowingTheDialogBringsItToTheFront) {
  HWND form = Wnd(Form.get());
  Form->Show();
  // Another window of the process comes in front of it.
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  SetForegroundWindow(other);
  WindowSystem().ProcessMessages();
  ASSERT_EQ(GetForegroundWindow(), other);
  // The tray icon's hook on the dialog (installed once the dialog's window exists) answers
  // the notice of being shown by bringing the dialog to the front.
  SendMessageA(form, WM_SHOWWINDOW, TRUE, 0);
  WindowSystem().ProcessMessages();
  EXPECT_EQ(GetForegroundWindow(), form);
  DestroyWindow(other);
}

TEST_F(SetupDialogWine, EveryControlOfTheTableHasItsWindowPlaceCaptionAndKind) {
  HWND form = Wnd(Form.get());
  ASSERT_EQ(SetupControls().size(), 16u);
  for (const TSetupControl& d : SetupControls()) {
    SCOPED_TRACE(d.Name);
    HWND wnd = GetDlgItem(form, d.Id);
    ASSERT_NE(wnd, nullptr);
    TControl* control = Form->FindControl(d.Name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(Wnd(control), wnd);
    // The place the user sees: the window, and for a spin edit its arrow buttons beside it.
    RECT r = Place(wnd);
    if (d.Kind == TSetupControlKind::SpinEdit) {
      HWND arrows = GetWindow(wnd, GW_HWNDNEXT);
      ASSERT_NE(arrows, nullptr);
      char cls[32] = {};
      GetClassNameA(arrows, cls, sizeof cls);
      EXPECT_STREQ(cls, "msctls_updown32");
      RECT a = Place(arrows);
      EXPECT_EQ(a.left, r.right);
      UnionRect(&r, &r, &a);
    }
    EXPECT_EQ(r.left, d.Left);
    EXPECT_EQ(r.top, d.Top);
    EXPECT_EQ(r.right - r.left, d.Width);
    if (d.Kind == TSetupControlKind::ListBox) {
      // Whole lines only: the list is as high as the whole lines that fit.
      const int line = static_cast<int>(SendMessageA(wnd, LB_GETITEMHEIGHT, 0, 0));
      EXPECT_LE(r.bottom - r.top, d.Height);
      EXPECT_GT(r.bottom - r.top, d.Height - line);
    } else {
      EXPECT_EQ(r.bottom - r.top, d.Height);
    }
    char cls[32] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    const LONG style = GetWindowLongA(wnd, GWL_STYLE);
    char text[128] = {};
    GetWindowTextA(wnd, text, sizeof text);
    switch (d.Kind) {
      case TSetupControlKind::Label:
        EXPECT_STREQ(cls, "Static");
        EXPECT_STREQ(text, d.Caption);
        break;
      case TSetupControlKind::ListBox: EXPECT_STREQ(cls, "ListBox"); break;
      case TSetupControlKind::SpinEdit:
        EXPECT_STREQ(cls, "Edit");
        EXPECT_EQ(style & (ES_MULTILINE | ES_RIGHT | ES_NUMBER), ES_MULTILINE | ES_RIGHT | ES_NUMBER);
        EXPECT_EQ(SendMessageA(wnd, EM_GETLIMITTEXT, 0, 0), d.MaxLength);
        EXPECT_EQ(static_cast<TSpEdit*>(control)->MinValue(), d.MinValue);
        EXPECT_EQ(static_cast<TSpEdit*>(control)->MaxValue(), d.MaxValue);
        break;
      case TSetupControlKind::Button:
        EXPECT_STREQ(cls, "Button");
        EXPECT_STREQ(text, d.Caption);
        EXPECT_EQ((style & 0x0F) == BS_DEFPUSHBUTTON, d.Default);
        break;
      case TSetupControlKind::CheckBox:
        EXPECT_STREQ(cls, "Button");
        EXPECT_EQ(style & 0x0F, BS_AUTOCHECKBOX);
        EXPECT_STREQ(text, d.Caption);
        break;
      case TSetupControlKind::Edit: EXPECT_STREQ(cls, "Edit"); break;
    }
    EXPECT_EQ((style & WS_TABSTOP) != 0, d.TabOrder >= 0);
  }
}

TEST_F(SetupDialogWine, TabWalksTheControlsInTheTablesTabOrder) {
  std::vector<const TSetupControl*> expected;
  for (const TSetupControl& d : SetupControls())
    if (d.TabOrder >= 0) expected.push_back(&d);
  std::sort(expected.begin(), expected.end(), [](auto* a, auto* b) { return a->TabOrder < b->TabOrder; });
  HWND form = Wnd(Form.get());
  Form->Show();
  HWND at = GetNextDlgTabItem(form, nullptr, FALSE);
  for (const TSetupControl* d : expected) {
    SCOPED_TRACE(d->Name);
    EXPECT_EQ(GetDlgCtrlID(at), d->Id);
    at = GetNextDlgTabItem(form, at, FALSE);
  }
  EXPECT_EQ(GetDlgCtrlID(at), expected.front()->Id);  // round again
}

TEST_F(SetupDialogWine, EnterIsOkAndEscapeIsCancelWhereverTheFocusIs) {
  const TSetupControl* defaults[2] = {};
  for (const TSetupControl& d : SetupControls()) {
    if (d.Default) defaults[0] = &d;
    if (d.Cancel) defaults[1] = &d;
  }
  ASSERT_TRUE(defaults[0] && defaults[1]);
  struct Case {
    const char* Focus;
    WORD Key;
    bool Saved;  // OK saves the typed server; Cancel brings back the stored one
  };
  for (const Case& c : {Case{"UseNTPServer", VK_RETURN, true}, Case{"OffsetMin", VK_RETURN, true},
                        Case{"BootUpdateTime", VK_RETURN, true}, Case{"UseNTPServer", VK_ESCAPE, false},
                        Case{"ServerList", VK_ESCAPE, false}, Case{"UpdateTime", VK_ESCAPE, false}}) {
    SCOPED_TRACE(testing::Message() << c.Focus << " key " << c.Key);
    Form->Show();
    SetForegroundWindow(Wnd(Form.get()));
    Form->UseNTPServer->SetText("127.0.0.7");
    SetFocus(Wnd(Form->FindControl(c.Focus)));
    PressKey(c.Key);
    WindowSystem().PumpUntil([&] { return !IsWindowVisible(Wnd(Form.get())); }, 3000);
    EXPECT_FALSE(Form->Visible());
    EXPECT_EQ(Form->UseNTPServer->Text(), c.Saved ? "127.0.0.7" : "127.0.0.1");
    if (c.Saved) {
      // Back to the stored server for the next case.
      Form->UseNTPServer->SetText("127.0.0.1");
      Form->AutoIni->SaveSettings();
    }
  }
}

}  // namespace
