// The settings component and the dialog binding against real windows and files under Wine.
#include <gtest/gtest.h>

#include "app/ServerList.h"
#include "settings/AutoIni.h"
#include "settings/FileOps.h"
#include "settings/TextCodec.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Platform.h"
#include "win32/SettingsTestRes.h"

#include <windows.h>
#include <commctrl.h>

#include <cstring>

namespace {

const char kExample[] =
    "[pcuser]\r\nSetupTop=120\r\nSetupLeft=340\r\nServerList=3\r\nOffsetSec=15\r\nOffsetMin=5\r\n"
    "UpdateTime=30\r\nBootUpdateTime=1\r\nUseNTPServer=192.0.2.1\r\nCheckTiming=0\r\n";
const char kWriterArg[] = "--ini-writer";
// The second process writes longer, so that it is still at work while the first one writes.
constexpr int kWriterRounds = 100, kSecondRounds = 300, kWriterKeys = 5;

void WriteRounds(const String& path, const String& section, int rounds) {
  TIniFile ini(path);
  for (int round = 0; round < rounds; ++round)
    for (int k = 0; k < kWriterKeys; ++k) ini.WriteInteger(section, "Key" + std::to_string(k), round * 10 + k);
}

// Started with "--ini-writer <path> <section>", the test program is the second writer process.
const bool kIsWriterProcess = [] {
  LPSTR cmd = GetCommandLineA();
  const char* at = std::strstr(cmd, kWriterArg);
  if (!at) return false;
  char path[MAX_PATH], section[64];
  if (std::sscanf(at + sizeof kWriterArg, "%259s %63s", path, section) != 2) ExitProcess(2);
  try {
    WriteRounds(path, section, kSecondRounds);
  } catch (...) {
    ExitProcess(1);
  }
  ExitProcess(0);
}();

// Forwards to the real window system but records message boxes instead of showing them.
class RecordingWindows final : public TWindowSystem {
 public:
  RecordingWindows() : FOld(SetWindowSystem(this)) {}
  ~RecordingWindows() override { SetWindowSystem(FOld); }
  std::vector<std::pair<String, String>> Boxes;  // text, caption
  std::unique_ptr<TMessageWindow> CreateMessageWindow(TWndMethod h) override {
    return Real().CreateMessageWindow(std::move(h));
  }
  bool Post(THandle w, uint32_t m, uintptr_t wp, intptr_t lp) override { return Real().Post(w, m, wp, lp); }
  int32_t Send(THandle w, uint32_t m, uintptr_t wp, intptr_t lp) override { return Real().Send(w, m, wp, lp); }
  uint32_t RegisterMessage(const String& name) override { return Real().RegisterMessage(name); }
  void ProcessMessages() override { Real().ProcessMessages(); }
  bool PumpUntil(const std::function<bool()>& done, uint32_t ms) override { return Real().PumpUntil(done, ms); }
  int RunMessageLoop() override { return Real().RunMessageLoop(); }
  void PostQuitMessage(int code) override { Real().PostQuitMessage(code); }
  int ShowMessageBox(const String& text, const String& caption, uint32_t) override {
    Boxes.emplace_back(text, caption);
    return 1;
  }

 private:
  static TWindowSystem& Real() { return DefaultWindowSystem(); }
  TWindowSystem* FOld;
};

// The settings dialog: controls declared out of resource order on purpose.
struct SetupDialog {
  TForm Form{nullptr};
  TAutoIni* AutoIni;
  TCheckBox *CheckTiming, *BootUpdateTime;
  TEdit* UseNTPServer;
  TSpinEdit *UpdateTime, *OffsetMin, *OffsetSec;
  TButton *Button1, *Button2;
  TListBox* ServerList;
  SetupDialog() {
    Form.SetName("Setup");
    AutoIni = Form.Make<TAutoIni>();
    AutoIni->SetCheckWinState(true);
    AutoIni->SetSection("pcuser");
    CheckTiming = Form.AddControl<TCheckBox>("CheckTiming", IDC_CHECKTIMING);
    UseNTPServer = Form.AddControl<TEdit>("UseNTPServer", IDC_USENTPSERVER);
    BootUpdateTime = Form.AddControl<TCheckBox>("BootUpdateTime", IDC_BOOTUPDATETIME);
    UpdateTime = Form.AddControl<TSpinEdit>("UpdateTime", IDC_UPDATETIME);
    Button2 = Form.AddControl<TButton>("Button2", IDCANCEL);
    Button1 = Form.AddControl<TButton>("Button1", IDOK);
    ServerList = Form.AddControl<TListBox>("ServerList", IDC_SERVERLIST);
    OffsetMin = Form.AddControl<TSpinEdit>("OffsetMin", IDC_OFFSETMIN);
    OffsetSec = Form.AddControl<TSpinEdit>("OffsetSec", IDC_OFFSETSEC);
    for (int i = 7; i >= 1; --i) Form.AddControl<TLabel>("Label" + std::to_string(i), IDC_LABEL1 + i - 1);
    OffsetSec->SetMaxValue(59);
    OffsetMin->SetMaxValue(1439);
    UpdateTime->SetMinValue(10);
    UpdateTime->SetMaxValue(1440);
    BootUpdateTime->SetChecked(true);
    ServerList->SetItems({"ntp.a", "ntp.b", "ntp.c", "ntp.d", "ntp.e"});
    Form.CreateFromResource(IDD_SETUP);
  }
  HWND Dlg() const { return reinterpret_cast<HWND>(Form.Handle()); }
  HWND Item(int id) const { return GetDlgItem(Dlg(), id); }
};

String ReadFile(const String& path) {
  String bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

class SettingsWine : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    Dir = String(temp) + "kairotsu-settings-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(Dir.c_str(), nullptr);
    PathOverrides().ExecutableFileName = Dir + "Kairotsu.exe";
    App.SetTitle("Kairotsu");
  }
  void TearDown() override {
    PathOverrides() = {};
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((Dir + "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        String f = Dir + fd.cFileName;
        SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(f.c_str());
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryA(Dir.c_str());
  }
  String IniPath() const { return Dir + "Kairotsu.ini"; }
  String Dir;
  TApplication App;
  RecordingWindows Windows;
};

}  // namespace

TEST_F(SettingsWine, DialogFromResourceIsHiddenBoundAndInResourceOrder) {
  SetupDialog s;
  ASSERT_NE(s.Dlg(), nullptr);
  EXPECT_FALSE(IsWindowVisible(s.Dlg()));
  EXPECT_FALSE(s.Form.Visible());
  EXPECT_EQ(s.Form.Caption(), "Setup");
  std::vector<String> order;
  for (int i = 0; i < s.Form.ControlCount(); ++i) order.push_back(s.Form.Controls(i)->Name());
  EXPECT_EQ(order, (std::vector<String>{"Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "Label7",
                                        "ServerList", "OffsetSec", "OffsetMin", "Button1", "Button2", "UpdateTime",
                                        "BootUpdateTime", "UseNTPServer", "CheckTiming"}));
  EXPECT_EQ(s.OffsetSec->Handle(), reinterpret_cast<THandle>(s.Item(IDC_OFFSETSEC)));
  // Values set before the window existed reached it; the resource gave the texts.
  EXPECT_EQ(SendMessageA(s.Item(IDC_BOOTUPDATETIME), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(s.Item(IDC_SERVERLIST), LB_GETCOUNT, 0, 0), 5);
  EXPECT_EQ(s.Button1->Caption(), "OK");
  // The spin edit's arrow buttons: an up-down control with the edit as buddy and its range.
  HWND upDown = reinterpret_cast<HWND>(s.UpdateTime->Button()->Handle());
  ASSERT_NE(upDown, nullptr);
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(upDown, UDM_GETBUDDY, 0, 0)), s.Item(IDC_UPDATETIME));
  int lo = 0, hi = 0;
  SendMessageA(upDown, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
  EXPECT_EQ(lo, 10);
  EXPECT_EQ(hi, 1440);
  // Placing the spin edit takes its arrows along: they sit at the right end of the new bounds,
  // beside the narrowed edit, and the control's bounds are the whole of both.
  s.UpdateTime->SetBounds(160, 96, 57, 21);
  auto clientRect = [&](HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, s.Dlg(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  RECT arrows = clientRect(upDown), edit = clientRect(s.Item(IDC_UPDATETIME));
  EXPECT_EQ(arrows.right, 160 + 57);
  EXPECT_GT(arrows.left, 160 + 30);
  EXPECT_EQ(edit.left, 160);
  EXPECT_EQ(edit.right, arrows.left);
  EXPECT_EQ(arrows.top, 96);
  EXPECT_EQ(arrows.bottom, 96 + 21);
  EXPECT_EQ(s.UpdateTime->Left(), 160);
  EXPECT_EQ(s.UpdateTime->Top(), 96);
  EXPECT_EQ(s.UpdateTime->Width(), 57);
  EXPECT_EQ(s.UpdateTime->Height(), 21);
  s.Form.Show();
  EXPECT_TRUE(IsWindowVisible(s.Dlg()));
  s.Form.Hide();
  EXPECT_FALSE(IsWindowVisible(s.Dlg()));
}

TEST_F(SettingsWine, SaveSettingsOfTheRealDialogWritesTheExampleFile) {
  SetupDialog s;
  // What a user would have done in the windows themselves.
  SetWindowPos(s.Dlg(), nullptr, 340, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageA(s.Item(IDC_SERVERLIST), LB_SETCURSEL, 3, 0);
  SetWindowTextA(s.Item(IDC_OFFSETSEC), "15");
  SetWindowTextA(s.Item(IDC_OFFSETMIN), "5");
  SetWindowTextA(s.Item(IDC_UPDATETIME), "30");
  SetWindowTextA(s.Item(IDC_USENTPSERVER), "192.0.2.1");
  s.AutoIni->SaveSettings();
  EXPECT_EQ(ReadFile(IniPath()), kExample);
  EXPECT_TRUE(Windows.Boxes.empty());
}

TEST_F(SettingsWine, LoadSettingsSetsTheRealWindows) {
  String file = String(kExample) + "[other]\r\nSetupTop=1\r\n";
  file.replace(file.find("CheckTiming=0"), 13, "CheckTiming=1");
  HANDLE h = CreateFileA(IniPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put;
  WriteFile(h, file.data(), static_cast<DWORD>(file.size()), &put, nullptr);
  CloseHandle(h);
  SetupDialog s;
  s.AutoIni->LoadSettings();
  RECT r;
  GetWindowRect(s.Dlg(), &r);
  EXPECT_EQ(r.left, 340);
  EXPECT_EQ(r.top, 120);
  EXPECT_EQ(SendMessageA(s.Item(IDC_SERVERLIST), LB_GETCURSEL, 0, 0), 3);
  char text[64];
  GetWindowTextA(s.Item(IDC_USENTPSERVER), text, sizeof text);
  EXPECT_STREQ(text, "192.0.2.1");
  GetWindowTextA(s.Item(IDC_OFFSETSEC), text, sizeof text);
  EXPECT_STREQ(text, "15");
  EXPECT_EQ(SendMessageA(s.Item(IDC_CHECKTIMING), BM_GETCHECK, 0, 0), BST_CHECKED);
  s.AutoIni->SaveSettings();  // unchanged values: the same bytes, the other user kept
  EXPECT_EQ(ReadFile(IniPath()), file);
}

TEST_F(SettingsWine, NotificationsReachTheModel) {
  SetupDialog s;
  int clicks = 0, listClicks = 0, dblClicks = 0, checkClicks = 0;
  s.Button1->OnClick = [&](TObject*) { ++clicks; };
  s.ServerList->OnClick = [&](TObject*) { ++listClicks; };
  s.ServerList->OnDblClick = [&](TObject*) { ++dblClicks; };
  s.CheckTiming->OnClick = [&](TObject*) { ++checkClicks; };
  SendMessageA(s.Item(IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  SendMessageA(s.Item(IDC_CHECKTIMING), BM_CLICK, 0, 0);
  EXPECT_EQ(checkClicks, 1);
  EXPECT_TRUE(s.CheckTiming->Checked());  // toggled once, by the window
  SendMessageA(s.Dlg(), WM_COMMAND, MAKEWPARAM(IDC_SERVERLIST, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(s.Item(IDC_SERVERLIST)));
  SendMessageA(s.Dlg(), WM_COMMAND, MAKEWPARAM(IDC_SERVERLIST, LBN_DBLCLK),
               reinterpret_cast<LPARAM>(s.Item(IDC_SERVERLIST)));
  EXPECT_EQ(listClicks, 1);
  EXPECT_EQ(dblClicks, 1);
  // Leaving a spin edit brings its text into range.
  SetWindowTextA(s.Item(IDC_OFFSETSEC), "75");
  SendMessageA(s.Dlg(), WM_COMMAND, MAKEWPARAM(IDC_OFFSETSEC, EN_KILLFOCUS),
               reinterpret_cast<LPARAM>(s.Item(IDC_OFFSETSEC)));
  EXPECT_EQ(s.OffsetSec->Text(), "59");
  // The close box asks the form; a refusal keeps it open.
  bool allow = false;
  s.Form.OnCloseQuery = [&](TObject*, bool& canClose) { canClose = allow; };
  s.Form.Show();
  SendMessageA(s.Dlg(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindowVisible(s.Dlg()));
  EXPECT_EQ(SendMessageA(s.Dlg(), WM_QUERYENDSESSION, 0, 0), 0);
  allow = true;
  SendMessageA(s.Dlg(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(s.Dlg()));
  EXPECT_EQ(SendMessageA(s.Dlg(), WM_QUERYENDSESSION, 0, 0), 1);
}

TEST_F(SettingsWine, ReadOnlyFileShowsCanNotSaveThenTheWriteFailure) {
  {
    HANDLE h = CreateFileA(IniPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put;
    WriteFile(h, kExample, sizeof kExample - 1, &put, nullptr);
    CloseHandle(h);
  }
  SetFileAttributesA(IniPath().c_str(), FILE_ATTRIBUTE_READONLY);
  SetupDialog s;
  const String failure = IniPath() + " \x82\xc9\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1";
  try {
    s.AutoIni->SaveSettings();
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_EQ(ExceptionMessage(e), failure);
    App.HandleException(nullptr, e);  // what the application's default handler shows next
  }
  ASSERT_EQ(Windows.Boxes.size(), 2u);
  EXPECT_EQ(Windows.Boxes[0].first, "Can not save to IniFile");
  EXPECT_EQ(Windows.Boxes[0].second, "Kairotsu");
  EXPECT_EQ(Windows.Boxes[1].first, failure);
  EXPECT_EQ(ReadFile(IniPath()), kExample);
}

TEST_F(SettingsWine, DefaultPathIsBesideTheExecutableWithItsNameAsSection) {
  PathOverrides() = {};
  SetupDialog s;
  s.AutoIni->SetSection("");
  const String path = s.AutoIni->ResolveIniPath();
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  String expected = String(exe).substr(0, std::strlen(exe) - 4) + ".ini";
  EXPECT_EQ(path, expected);
  EXPECT_EQ(s.AutoIni->Section(), "SettingsTest.exe");
  s.AutoIni->SetMakeIniWinDir(true);
  EXPECT_EQ(TIniFile(s.AutoIni->ResolveIniPath()).FileName(), WindowsDirectory() + "SettingsTest.ini");
}

// Two real processes saving their own sections at the same time: both complete.
TEST_F(SettingsWine, TwoProcessesSavingAtOnceLoseNothing) {
  const String path = IniPath();
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  String cmd = "\"";
  cmd.append(exe).append("\" ").append(kWriterArg).append(" ").append(path).append(" second");
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  // Start once the other process is writing, so that the two really overlap.
  DWORD start = GetTickCount();
  while (ReadFile(path).find("[second]") == String::npos && GetTickCount() - start < 20000) Sleep(1);
  DWORD stillRunning = WaitForSingleObject(pi.hProcess, 0);
  WriteRounds(path, "first", kWriterRounds);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the writers did not overlap";
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(stillRunning, static_cast<DWORD>(WAIT_TIMEOUT)) << "the writers did not overlap";
  TIniFile ini(path);
  for (int k = 0; k < kWriterKeys; ++k) {
    EXPECT_EQ(ini.ReadInteger("first", "Key" + std::to_string(k), -1), (kWriterRounds - 1) * 10 + k);
    EXPECT_EQ(ini.ReadInteger("second", "Key" + std::to_string(k), -1), (kSecondRounds - 1) * 10 + k);
  }
  const String text = ReadFile(path);
  EXPECT_EQ(text.find("[first]"), text.rfind("[first]"));  // one section each, never doubled
  EXPECT_EQ(text.find("[second]"), text.rfind("[second]"));
}

// A server list that is there but cannot be read is reported, never taken for a missing one
// (which the program would replace with its defaults): held open by another program that lets
// nobody read it, or a folder of that name.
TEST_F(SettingsWine, ServerListThatCannotBeReadIsNoMissingOne) {
  const String list = Dir + "NTP.lst";
  {
    HANDLE h = CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put;
    WriteFile(h, "a.test\r\n", 8, &put, nullptr);
    CloseHandle(h);
  }
  std::vector<String> servers;
  HANDLE held = CreateFileA(list.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_THROW(ReadServerList(list, servers), EServerListError);
  CloseHandle(held);
  EXPECT_EQ(ReadFile(list), "a.test\r\n");
  ASSERT_TRUE(ReadServerList(list, servers));
  EXPECT_EQ(servers, std::vector<String>{"a.test"});

  const String folder = Dir + "sub";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  EXPECT_THROW(ReadServerList(folder, servers), EServerListError);
  RemoveDirectoryA(folder.c_str());
  EXPECT_FALSE(ReadServerList(Dir + "missing.lst", servers));
  EXPECT_FALSE(ReadServerList(Dir + "no\\such\\NTP.lst", servers));
}

// The system's ANSI code page here is CP932: Shift-JIS in and out, '?' for what it lacks.
TEST_F(SettingsWine, AnsiConversionIsTheSystemsCodePage) {
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_EQ(AnsiToWide("\x83\x5C\x95\x5C=1"), u"\u30BD\u8868=1");                            // ソ表
  EXPECT_EQ(WideToAnsi(u"\u30B5\u30FC\u30D0 \u2460"), "\x83\x54\x81\x5B\x83\x6F \x87\x40");  // サーバ ①
  EXPECT_EQ(WideToAnsi(u"\u00E9.test"), "?.test");                                           // é: no look-alike 'e'
  EXPECT_EQ(AnsiToWide(""), u"");
  EXPECT_EQ(WideToAnsi(u""), "");
}

// The dialog's settings in a UTF-16LE file as Notepad saves it: loaded into the real windows,
// saved back unchanged, byte for byte, another user's characters that CP932 lacks included.
TEST_F(SettingsWine, UnicodeFileLoadsAndSavesInItsEncoding) {
  std::u16string text = u"[other]\r\nName=\u00E9\U0001F600\r\n";
  for (const char* c = kExample; *c; ++c) text += static_cast<char16_t>(*c);
  text.replace(text.find(u"UseNTPServer=192.0.2.1"), 22, u"UseNTPServer=\u30B5\u30FC\u30D0");
  String file = "\xFF\xFE";
  for (char16_t u : text) file += String{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  HANDLE h = CreateFileA(IniPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put;
  WriteFile(h, file.data(), static_cast<DWORD>(file.size()), &put, nullptr);
  CloseHandle(h);
  SetupDialog s;
  s.AutoIni->LoadSettings();
  char server[64];
  GetWindowTextA(s.Item(IDC_USENTPSERVER), server, sizeof server);
  EXPECT_STREQ(server, "\x83\x54\x81\x5B\x83\x6F");
  EXPECT_EQ(SendMessageA(s.Item(IDC_SERVERLIST), LB_GETCURSEL, 0, 0), 3);
  s.AutoIni->SaveSettings();
  EXPECT_EQ(ReadFile(IniPath()), file);
  EXPECT_TRUE(Windows.Boxes.empty());
}
