#include "app/Setup.h"

#include <exception>

#include "app/AppSystem.h"
#include "app/BIOS.h"
#include "app/ServerList.h"
#include "app/SetupDialog.h"
#include "app/SyncRules.h"
#include "app/resource.h"
#include "settings/FileOps.h"
#include "toolkit/Application.h"
#include "toolkit/Strings.h"

const char kWebAddress[] = "https://kairotsu.example/";
const char kAuthorNotice[] = "Kairotsu - Kairotsu developers";

namespace {

// Balloon titles and texts (Shift-JIS in the program).
const char kInformation[] = "Information";
const char kWarningTitle[] = "設定警告";
const char kNoServer[] = "NTPサーバーが指定されていません。";
const char kNotSynced[] = "同期はまだ行なわれていません。";

constexpr uint8_t kBalloonSeconds = 10;

// Why the shell could not open the help file, for the box that says so.
String HelpFailureText(const String& file, intptr_t result) {
  String reason;
  switch (result) {
    case seFileNotFound:
    case sePathNotFound: reason = "ファイルが見つかりません。"; break;
    case seNoAssoc:
    case seAssocIncomplete: reason = "PDFファイルを開くプログラムが登録されていません。"; break;
    case seAccessDenied: reason = "ファイルを開く権限がありません。"; break;
    default: reason = "シェルがファイルを開けませんでした (エラー " + IntToStr(static_cast<int>(result)) + ")。"; break;
  }
  return "ヘルプファイルを開けません。\r\n" + file + "\r\n" + reason;
}

// The caption of the program's message boxes.
String AppTitle() { return Application ? Application->Title() : String("Kairotsu"); }

// One line on the console the program was started from (if any).
void ConsoleLine(const String& text) { AppSystem().ConsoleWrite("Kairotsu: " + text + "\r\n"); }

}  // namespace

String DateTimeToStr(TDateTime value) {
  TSystemTime st = DateTimeToSystemTime(value);
  String text = AppSystem().DateText(st);
  if (st.wHour != 0 || st.wMinute != 0 || st.wSecond != 0 || st.wMilliseconds != 0) {
    text += ' ';
    text += AppSystem().TimeText(st);
  }
  return text;
}

TSetup::TSetup(TComponent* owner) : TForm(owner) {
  SetName(kSetupFormName);
  SetCaption(kSetupFormCaption);
  CreateControls();
  CreateComponents();
  CreateFromResource(IDD_SETUP);
  PlaceControls();
  FormCreate();
}

TSetup::~TSetup() = default;

namespace {

// The control of that name that the table made, as its class.
template <class T>
T* Made(const TForm& form, const char* name) {
  auto* control = dynamic_cast<T*>(form.FindControl(name));
  if (!control) throw Exception(String("The dialog has no control ") + name);
  return control;
}

}  // namespace

void TSetup::CreateControls() {
  for (const TSetupControl& d : SetupControls()) {
    switch (d.Kind) {
      case TSetupControlKind::Label: AddControl<TLabel>(d.Name, d.Id)->SetCaption(d.Caption); break;
      case TSetupControlKind::ListBox: AddControl<TListBox>(d.Name, d.Id); break;
      case TSetupControlKind::SpinEdit: {
        auto* e = AddControl<TSpEdit>(d.Name, d.Id);
        e->SetMinValue(d.MinValue);
        e->SetMaxValue(d.MaxValue);
        e->SetMaxLength(d.MaxLength);
        e->SetText(d.Caption);
        break;
      }
      case TSetupControlKind::Button: {
        auto* b = AddControl<TButton>(d.Name, d.Id);
        b->SetCaption(d.Caption);
        b->SetDefault(d.Default);
        b->SetCancel(d.Cancel);
        break;
      }
      case TSetupControlKind::CheckBox: {
        auto* c = AddControl<TCheckBox>(d.Name, d.Id);
        c->SetCaption(d.Caption);
        c->SetChecked(d.Checked);
        break;
      }
      case TSetupControlKind::Edit: AddControl<TEdit>(d.Name, d.Id)->SetText(d.Caption); break;
    }
    FindControl(d.Name)->SetBounds(d.Left, d.Top, d.Width, d.Height);
  }
  for (const TSetupControl& d : SetupControls())
    if (d.FocusControl) Made<TLabel>(*this, d.Name)->SetFocusControl(Made<TWinControl>(*this, d.FocusControl));

  ServerListLabel = Made<TLabel>(*this, "ServerListLabel");
  OffsetLabel = Made<TLabel>(*this, "OffsetLabel");
  SecondsLabel = Made<TLabel>(*this, "SecondsLabel");
  MinutesLabel = Made<TLabel>(*this, "MinutesLabel");
  IntervalLabel = Made<TLabel>(*this, "IntervalLabel");
  IntervalMinutesLabel = Made<TLabel>(*this, "IntervalMinutesLabel");
  ServerLabel = Made<TLabel>(*this, "ServerLabel");
  ServerList = Made<TListBox>(*this, "ServerList");
  OffsetSec = Made<TSpEdit>(*this, "OffsetSec");
  OffsetMin = Made<TSpEdit>(*this, "OffsetMin");
  OkButton = Made<TButton>(*this, "OkButton");
  CancelButton = Made<TButton>(*this, "CancelButton");
  UpdateTime = Made<TSpEdit>(*this, "UpdateTime");
  BootUpdateTime = Made<TCheckBox>(*this, "BootUpdateTime");
  UseNTPServer = Made<TEdit>(*this, "UseNTPServer");
  CheckTiming = Made<TCheckBox>(*this, "CheckTiming");

  ServerList->SetItems(DefaultServers);
  ServerList->OnClick = [this](TObject* s) { ServerListClick(s); };
  ServerList->OnDblClick = [this](TObject* s) { ServerListDblClick(s); };
  OkButton->OnClick = [this](TObject* s) { OkButtonClick(s); };
  CancelButton->OnClick = [this](TObject* s) { CancelButtonClick(s); };
}

void TSetup::CreateComponents() {
  SNTPC = Make<TIpSNTPClient>();
  SNTPC->SetName("SNTPC");
  SNTPC->SetBroadcastMode(bmUnicast);
  SNTPC->SetPollInterval(0);
  SNTPC->SetSyncThreshold(0);
  // Known before anything can fail: a one-shot run reports on the console from the start.
  const bool oneShot = IsOneShot(ExecutableFileName(), SplitCommandLine(AppSystem().CommandLine()));
  FCycle = std::make_unique<TSyncCycle>(*SNTPC, oneShot);
  FCycle->OnReport = [this](const TSyncReport& r) { ShowReport(r); };
  FCycle->OnFinished = [this] {
    Hide();
    Close();
  };
  CheckTimer = &FCycle->Timer();

  AutoIni = Make<TAutoIni>();
  AutoIni->SetName("AutoIni");
  AutoIni->SetCheckWinState(true);
  AutoIni->SetCheckWinSize(false);
  AutoIni->SetCheckTag(false);
  AutoIni->SetEnableTag(0);
  AutoIni->SetMakeIniWinDir(false);

  MenuImages = Make<TImageList>();
  MenuImages->SetName("MenuImages");
  for (int id : {IDI_MENU_EXIT, IDI_MENU_ABOUT, IDI_MENU_WEB, IDI_MENU_HELP, IDI_MENU_SETTINGS})
    MenuImages->Add(LoadIconResource(id));

  Actions = Make<TActionList>();
  Actions->SetName("Actions");
  Actions->SetImages(MenuImages);
  auto action = [this](const char* name, const char* caption, int image, void (TSetup::*handler)(TObject*)) {
    TAction* a = Make<TAction>();
    a->SetName(name);
    a->Caption = caption;
    a->ImageIndex = image;
    a->OnExecute = [this, handler](TObject* s) { (this->*handler)(s); };
    return a;
  };
  ExitApp = action("ExitApp", "Kairotsu終了(&X)", 0, &TSetup::ExitAppExecute);
  VerInfo = action("VerInfo", "バージョン情報(&A)", 1, &TSetup::VerInfoExecute);
  HelpContents = action("HelpContents", "ヘルプ目次(&H)", 3, &TSetup::HelpContentsExecute);
  HelpContents->Category = "ヘルプ";
  OpenWeb = action("OpenWeb", "Miravel(&W)", 2, &TSetup::OpenWebExecute);
  AppSetup = action("AppSetup", "環境オプション(&O)...", 4, &TSetup::AppSetupExecute);
  AppConnectNTP = action("AppConnectNTP", "AppConnectNTP", -1, &TSetup::AppConnectNTPExecute);

  RMenu = Make<TPopupMenu>();
  RMenu->SetName("RMenu");
  RMenu->SetImages(MenuImages);
  auto item = [this](const char* name, TAction* a) {
    TMenuItem* i = Make<TMenuItem>();
    i->SetName(name);
    if (a)
      i->SetAction(a);
    else
      i->SetCaption("-");
    RMenu->Items().Add(i);
    return i;
  };
  SettingsItem = item("SettingsItem", AppSetup);
  SettingsSeparator = item("SettingsSeparator", nullptr);
  HelpItem = item("HelpItem", HelpContents);
  WebItem = item("WebItem", OpenWeb);
  AboutItem = item("AboutItem", VerInfo);
  ExitSeparator = item("ExitSeparator", nullptr);
  ExitItem = item("ExitItem", ExitApp);

  if (Application) Application->SetMainFormWindow(this);
  TrayIcon = Make<TTrayIcon>();
  TrayIcon->SetName("TrayIcon");
  TrayIcon->SetHint("Kairotsu");
  TrayIcon->Icon().SetImage(LoadIconResource(IDI_KAIROTSU));
  TrayIcon->SetPopupMenu(RMenu);
  TrayIcon->OnClick = [this](TObject* s) { TrayIconClick(s); };
  TrayIcon->OnDblClick = [this](TObject* s) { AppConnectNTPExecute(s); };
  TrayIcon->SetIconVisible(true);
  TrayIcon->Loaded();

  OnCloseQuery = [this](TObject* s, bool& canClose) { FormCloseQuery(s, canClose); };
  OnClose = [this](TObject*) {
    if (Application) Application->Terminate(FCycle->OneShot() ? static_cast<int>(Outcome()) : 0);
  };
  OnMessage = [this](TMessage& m) {
    if (m.Msg != wmPowerBroadcast) return false;
    WMPowerBroadcast(m);
    return true;
  };
}

void TSetup::PlaceControls() {
  // The frame's dialog units depend on the font; the controls sit at their pixel places.
  for (const TSetupControl& d : SetupControls()) FindControl(d.Name)->SetBounds(d.Left, d.Top, d.Width, d.Height);
  SetClientSize(kSetupClientWidth, kSetupClientHeight);
}

void TSetup::FormCreate() {
  SystemApi().SetPriorityClass(pcIdle);
  if (FCycle->OneShot()) ReportToConsole();
  SetTop(0);
  SetLeft(0);
  AutoIni->SetSection(GetWindowsUserName());
  AutoIni->LoadSettings();
  const String exe = ExecutableFileName();
  HelpFile = ChangeFileExt(exe, ".pdf");
  // A list file that cannot be written or read is reported, and start-up goes on with the
  // list the form has: the clock keeps being set without it. Only a missing file is made anew.
  try {
    const String list = ServerListPath();
    std::vector<String> servers;
    if (!ReadServerList(list, servers)) {
      servers = ServerList->Items();
      SaveServerList(list, servers);
    }
    ServerList->SetItems(servers);
  } catch (const EServerListError& e) {
    if (Application) Application->HandleException(this, e);
  }
  FCycle->SetSettings(DialogSettings());
  FCycle->Start();
  // Someone who started the program is asked for a server; an unattended run shows no window.
  if (FCycle->Settings().Server.empty() && !FCycle->OneShot()) {
    Show();
    TrayIcon->ShowBalloonHint(kWarningTitle, kNoServer, bikWarning, kBalloonSeconds);
  }
}

TSyncSettings TSetup::DialogSettings() const {
  TSyncSettings s;
  s.Server = UseNTPServer->Text();
  s.OffsetSec = OffsetSec->RangedValue();
  s.OffsetMin = OffsetMin->RangedValue();
  s.UpdateTime = UpdateTime->RangedValue();
  s.BootUpdateTime = BootUpdateTime->Checked();
  s.CheckTiming = CheckTiming->Checked();
  return s;
}

TSyncOutcome TSetup::Outcome() const {
  const TSyncOutcome outcome = FCycle->Outcome();
  return FNotSaved && outcome == soClockSet ? soNotSaved : outcome;
}

String TSetup::ServerListPath() const { return ExtractFilePath(ExecutableFileName()) + "NTP.lst"; }

String TSetup::HistoryPath() const { return ExtractFilePath(ExecutableFileName()) + "Kairotsu.log"; }

void TSetup::RecordHistory(const String& text) {
  if (!FHistory) FHistory = std::make_unique<TSyncHistory>(SNTPC, HistoryPath());
  try {
    FHistory->Record(text);
  } catch (const std::exception& e) {
    ReportOneShot(ExceptionMessage(e));
  }
}

void TSetup::ShowReport(const TSyncReport& report) {
  if (!report.History.empty()) RecordHistory(report.History);
  if (report.Notice != TNoticeKind::None)
    TrayIcon->ShowBalloonHint(report.NoticeTitle, report.NoticeText,
                              report.Notice == TNoticeKind::Warning ? bikWarning : bikInfo, kBalloonSeconds);
  if (!report.Console.empty()) ReportOneShot(report.Console);
  if (!report.ErrorText.empty()) ShowError(report.ErrorText);
  if (report.Failure) ShowFailure(report.Failure);
}

void TSetup::ShowFailure(const std::exception_ptr& failure) {
  // As the toolkit's timer would have: the application's handler shows it, one box at a time.
  if (FErrorBoxOpen) return;
  FErrorBoxOpen = true;
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    if (Application) Application->HandleException(this, e);
  }
  FErrorBoxOpen = false;
}

void TSetup::ShowError(const String& text) {
  // One box at a time: errors that come while it is open are not stacked on top of it.
  if (FErrorBoxOpen) return;
  FErrorBoxOpen = true;
  WindowSystem().ShowMessageBox(text, AppTitle(), mbOk | mbIconError);
  FErrorBoxOpen = false;
}

void TSetup::ReportOneShot(const String& text) {
  if (FCycle->OneShot()) ConsoleLine(text);
}

void TSetup::ReportToConsole() {
  AutoIni->OnFailure = ConsoleLine;
  // Also what reaches the application's handler, up to the end of the run (and after the
  // form, should start-up fail).
  if (Application)
    Application->OnException = [](TObject*, const std::exception& e) { ConsoleLine(ExceptionMessage(e)); };
}

void TSetup::WMPowerBroadcast(TMessage& message) {
  message.Result = 1;
  if (message.WParam == pbtApmResumeCritical || message.WParam == pbtApmResumeSuspend ||
      message.WParam == pbtApmResumeStandby)
    FCycle->Resumed();
}

void TSetup::FormCloseQuery(TObject*, bool& CanClose) {
  CanClose = !Visible();
  Hide();
  if (!CanClose) return;
  try {
    AutoIni->SaveSettings();
  } catch (const std::exception& e) {
    // The failure has been reported; the program still ends rather than refusing to quit.
    FNotSaved = true;
    if (Application) Application->HandleException(this, e);
  }
}

void TSetup::ServerListClick(TObject*) {
  int i = ServerList->ItemIndex();
  if (i >= 0) UseNTPServer->SetText(ServerList->Items()[static_cast<size_t>(i)]);
}

void TSetup::ServerListDblClick(TObject*) {
  int i = ServerList->ItemIndex();
  if (i < 0) return;
  FCycle->AskServer(ServerList->Items()[static_cast<size_t>(i)]);
}

void TSetup::OkButtonClick(TObject*) {
  AutoIni->SaveSettings();
  const String server = UseNTPServer->Text();
  if (ServerList->IndexOfItem(server) < 0) {
    ServerList->InsertItem(0, server);
    SaveServerList(ServerListPath(), ServerList->Items());
  }
  FCycle->SetSettings(DialogSettings());
  Hide();
}

void TSetup::CancelButtonClick(TObject*) {
  AutoIni->LoadSettings();
  Hide();
}

String TSetup::StatusText() const {
  const TDateTime lastSync = FCycle->LastSync();
  String last = lastSync == 0 ? String(kNotSynced) : "前回は " + DateTimeToStr(lastSync) + " に同期を行ないました。";
  return "NTP Server : " + FCycle->Settings().Server + "\r\n" + "同期は" + IntToStr(FCycle->Settings().UpdateTime) +
         "分ごとです。" + "\r\n" + last;
}

void TSetup::TrayIconClick(TObject*) {
  TrayIcon->ShowBalloonHint(kInformation, StatusText(), bikInfo, kBalloonSeconds);
}

void TSetup::AppSetupExecute(TObject*) { Show(); }

void TSetup::HelpContentsExecute(TObject*) {
  // A missing guide, or no program for PDF files, is said rather than nothing happening.
  const intptr_t result = AppSystem().ShellOpen(Handle(), HelpFile);
  if (result <= seLastError)
    WindowSystem().ShowMessageBox(HelpFailureText(HelpFile, result), AppTitle(), mbOk | mbIconWarning);
}

void TSetup::OpenWebExecute(TObject*) { AppSystem().ShellOpen(Handle(), kWebAddress); }

void TSetup::VerInfoExecute(TObject*) {
  String text = String(kAuthorNotice) + "\r\n" + "\r\n" + GetFileVersionText(ExecutableFileName(), 2);
  WindowSystem().ShowMessageBox(text, AppTitle(), mbOk | mbIconInformation);
}

void TSetup::ExitAppExecute(TObject*) {
  Hide();
  Close();
}

void TSetup::AppConnectNTPExecute(TObject*) { FCycle->SynchronizeNow(); }
