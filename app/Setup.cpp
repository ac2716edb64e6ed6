#include "app/Setup.h"

#include <cmath>
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
const char kDeferred[] = "同期は5分後に行なわれます。";
const char kResume[] = "1分後に同期処理を行ないます。";
const char kNotSynced[] = "同期はまだ行なわれていません。";
const char kInvalidReply[] = "NTPサーバーの応答が正しくないため、時刻を設定しませんでした。";
const char kSetRefused[] = "時刻を設定できませんでした: ";

constexpr uint32_t kBootDelayMs = 10000;
constexpr uint32_t kDeferMs = 300000;
constexpr uint32_t kResumeDelayMs = 60000;
constexpr uint8_t kBalloonSeconds = 10;

// The caption of the program's message boxes.
String AppTitle() { return Application ? Application->Title() : String("Kairotsu"); }

// One line on the console the program was started from (if any).
void ConsoleLine(const String& text) { AppSystem().ConsoleWrite("Kairotsu: " + text + "\r\n"); }

String MessageOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return ExceptionMessage(e);
  }
}

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

  Label1 = Made<TLabel>(*this, "Label1");
  Label2 = Made<TLabel>(*this, "Label2");
  Label3 = Made<TLabel>(*this, "Label3");
  Label4 = Made<TLabel>(*this, "Label4");
  Label5 = Made<TLabel>(*this, "Label5");
  Label6 = Made<TLabel>(*this, "Label6");
  Label7 = Made<TLabel>(*this, "Label7");
  ServerList = Made<TListBox>(*this, "ServerList");
  OffsetSec = Made<TSpEdit>(*this, "OffsetSec");
  OffsetMin = Made<TSpEdit>(*this, "OffsetMin");
  Button1 = Made<TButton>(*this, "Button1");
  Button2 = Made<TButton>(*this, "Button2");
  UpdateTime = Made<TSpEdit>(*this, "UpdateTime");
  BootUpdateTime = Made<TCheckBox>(*this, "BootUpdateTime");
  UseNTPServer = Made<TEdit>(*this, "UseNTPServer");
  CheckTiming = Made<TCheckBox>(*this, "CheckTiming");

  ServerList->SetItems(DefaultServers);
  ServerList->OnClick = [this](TObject* s) { ServerListClick(s); };
  ServerList->OnDblClick = [this](TObject* s) { ServerListDblClick(s); };
  Button1->OnClick = [this](TObject* s) { Button1Click(s); };
  Button2->OnClick = [this](TObject* s) { Button2Click(s); };
}

void TSetup::CreateComponents() {
  SNTPC = Make<TIpSNTPClient>();
  SNTPC->SetName("SNTPC");
  SNTPC->SetBroadcastMode(bmUnicast);
  SNTPC->SetPollInterval(0);
  SNTPC->SetSyncThreshold(0);
  SNTPC->OnError = [this](TObject* s, uint32_t socket, int code, const String& text) {
    SNTPCError(s, socket, code, text);
  };
  SNTPC->OnSNTPTime = [this](TObject* s, TDateTime t, double offset, double delay, uint8_t stratum, bool sync) {
    SNTPCSNTPTime(s, t, offset, delay, stratum, sync);
  };

  AutoIni = Make<TAutoIni>();
  AutoIni->SetName("AutoIni");
  AutoIni->SetCheckWinState(true);
  AutoIni->SetCheckWinSize(false);
  AutoIni->SetCheckTag(false);
  AutoIni->SetEnableTag(0);
  AutoIni->SetMakeIniWinDir(false);

  CheckTimer = Make<TTimer>();
  CheckTimer->SetName("CheckTimer");
  CheckTimer->SetEnabled(false);
  CheckTimer->SetInterval(60000);
  CheckTimer->OnTimer = [this](TObject* s) { CheckTimerTimer(s); };

  ImageList1 = Make<TImageList>();
  ImageList1->SetName("ImageList1");
  for (int id : {IDI_MENU_EXIT, IDI_MENU_ABOUT, IDI_MENU_WEB, IDI_MENU_HELP, IDI_MENU_SETTINGS})
    ImageList1->Add(LoadIconResource(id));

  ActionList1 = Make<TActionList>();
  ActionList1->SetName("ActionList1");
  ActionList1->SetImages(ImageList1);
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
  HelpOnHelp1 = action("HelpOnHelp1", "ヘルプ目次(&H)", 3, &TSetup::H1Click);
  HelpOnHelp1->Category = "ヘルプ";
  OpenWeb = action("OpenWeb", "Miravel(&W)", 2, &TSetup::OpenWebExecute);
  AppSetup = action("AppSetup", "環境オプション(&O)...", 4, &TSetup::AppSetupExecute);
  AppConnectNTP = action("AppConnectNTP", "AppConnectNTP", -1, &TSetup::AppConnectNTPExecute);

  RMenu = Make<TPopupMenu>();
  RMenu->SetName("RMenu");
  RMenu->SetImages(ImageList1);
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
  O1 = item("O1", AppSetup);
  N2 = item("N2", nullptr);
  H1 = item("H1", HelpOnHelp1);
  W1 = item("W1", OpenWeb);
  About1 = item("About1", VerInfo);
  N1 = item("N1", nullptr);
  KairotsuX1 = item("KairotsuX1", ExitApp);

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
    if (Application) Application->Terminate(FOneShot ? static_cast<int>(FOutcome) : 0);
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
  // Known before anything can fail: a one-shot run reports on the console from the start.
  FOneShot = IsOneShot(ExecutableFileName(), SplitCommandLine(AppSystem().CommandLine()));
  if (FOneShot) ReportToConsole();
  SetTop(0);
  SetLeft(0);
  FLastSync = 0;
  FDeferred = false;
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
  CheckTimer->SetInterval(UpdateIntervalMs());
  if (BootUpdateTime->Checked()) CheckTimer->SetInterval(kBootDelayMs);
  CheckTimer->SetEnabled(true);
  if (UseNTPServer->Text().empty()) {
    Show();
    TrayIcon->ShowBalloonHint(kWarningTitle, kNoServer, bikWarning, kBalloonSeconds);
  }
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

uint32_t TSetup::UpdateIntervalMs() const { return static_cast<uint32_t>(UpdateTime->RangedValue()) * 60000u; }

void TSetup::CheckTimerTimer(TObject*) {
  SystemApi().SetPriorityClass(pcNormal);
  CheckTimer->SetEnabled(false);
  CheckTimer->SetInterval(UpdateIntervalMs());
  // Nothing that waits for a person may hold up the cycle: errors reported during it are kept
  // until the timer is armed again and the priority is back to idle, so that the schedule goes
  // on (and the next cycle tries again) whatever happened and however long a box stays open.
  std::exception_ptr failure;
  FInCycle = true;
  try {
    SynchronizeNow();
  } catch (const std::exception& e) {
    failure = std::current_exception();
    FReplyPending = false;
    FOutcome = soNoReply;
    RecordHistory(TSyncHistory::Failed(SNTPC->Server(), "no reply", ExceptionMessage(e)));
  }
  FInCycle = false;
  if (FOneShot) {
    // A one-shot run must end whatever happens, so a failed request is its result.
    if (failure) ReportOneShot(MessageOf(failure));
    failure = nullptr;
    if (!FDeferred) {
      FinishOneShot();
      return;
    }
  }
  CheckTimer->SetEnabled(true);
  SystemApi().SetPriorityClass(pcIdle);
  String held = std::move(FHeldError);
  FHeldError.clear();
  if (!held.empty()) ShowError(held);
  if (failure && !FErrorBoxOpen) {
    // As the toolkit's timer would have: the application's handler shows it.
    FErrorBoxOpen = true;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      if (Application) Application->HandleException(this, e);
    }
    FErrorBoxOpen = false;
  }
}

void TSetup::SynchronizeNow() {
  if (FReplyPending) RecordHistory(TSyncHistory::Failed(SNTPC->Server(), "no reply", "request sent " + FRequestSent));
  FReplyPending = false;
  if (UseNTPServer->Text().empty()) {
    FOutcome = soNoServer;
    RecordHistory(TSyncHistory::Failed("(none)", "no server", ""));
    return;
  }
  SNTPC->SetServer(UseNTPServer->Text());
  if (CheckTiming->Checked()) {
    TSystemTime now = SystemApi().GetLocalTime();
    if (IsGuardedMinute(now.wMinute)) {
      FDeferred = true;
      TrayIcon->ShowBalloonHint(kInformation, kDeferred, bikInfo, kBalloonSeconds);
      CheckTimer->SetInterval(kDeferMs);
      return;
    }
  }
  FOutcome = soNoReply;
  FReplyPending = true;
  FRequestSent = FormatLogTime("hh:nn:ss", SystemApi().GetLocalTime());
  SNTPC->SendRequest();
}

void TSetup::SNTPCSNTPTime(TObject*, TDateTime TimeStamp, double, double RoundTripDelay, uint8_t, bool) {
  FReplyPending = false;
  // A reply that failed the client's checks carries no usable time: never set the clock from it.
  if (!SNTPC->ReplyValid()) {
    FOutcome = soInvalidReply;
    RecordHistory(TSyncHistory::Failed(SNTPC->Server(), "invalid reply", SNTPC->ReplyReason()));
    const String text = kInvalidReply + (" (" + SNTPC->ReplyReason() + ")");
    TrayIcon->ShowBalloonHint(kWarningTitle, text, bikWarning, kBalloonSeconds);
    ReportOneShot(text);
    return;
  }
  // The reply may have waited (idle priority, an open box): set the time it is now.
  const TDateTime before = SystemTimeToDateTime(SystemApi().GetLocalTime());
  TSystemTime st =
      DateTimeToSystemTime(LocalTimeToSet(TimeStamp, RoundTripDelay, SNTPC->ReplyReadTick(), SystemApi().GetTickCount(),
                                          OffsetSec->RangedValue(), OffsetMin->RangedValue()));
  st.wDayOfWeek = 0;
  if (!SystemApi().SetLocalTime(st)) {
    RecordHistory(
        TSyncHistory::Failed(SNTPC->Server(), "not set", SystemApi().SystemErrorText(SystemApi().GetLastError())));
    // A standard user may not change the time: say why, and do not count it as a sync.
    FOutcome = soSetRefused;
    String text = kSetRefused + SystemApi().SystemErrorText(SystemApi().GetLastError());
    TrayIcon->ShowBalloonHint(kWarningTitle, text, bikWarning, kBalloonSeconds);
    ReportOneShot(text);
    return;
  }
  FLastSync = SystemTimeToDateTime(SystemApi().GetLocalTime());
  FOutcome = soClockSet;
  RecordHistory(TSyncHistory::ClockSet(SNTPC->Server(), std::llround((SystemTimeToDateTime(st) - before) * 86400000.0),
                                       std::llround(RoundTripDelay)));
}

void TSetup::SNTPCError(TObject*, uint32_t, int, const String& ErrStr) {
  FReplyPending = false;
  FOutcome = soNoReply;
  RecordHistory(TSyncHistory::Failed(SNTPC->Server(), "no reply", ErrStr));
  if (FOneShot) {
    // An unattended run shows no box that nobody would close; the exit status tells.
    ReportOneShot(SNTPC->Server() + ": " + ErrStr);
    return;
  }
  if (FInCycle) {
    FHeldError = ErrStr;  // shown once the cycle has finished
    return;
  }
  ShowError(ErrStr);
}

void TSetup::ShowError(const String& text) {
  // One box at a time: errors that come while it is open are not stacked on top of it.
  if (FErrorBoxOpen) return;
  FErrorBoxOpen = true;
  WindowSystem().ShowMessageBox(text, AppTitle(), mbOk | mbIconError);
  FErrorBoxOpen = false;
}

void TSetup::ReportOneShot(const String& text) {
  if (FOneShot) ConsoleLine(text);
}

void TSetup::ReportToConsole() {
  AutoIni->OnFailure = ConsoleLine;
  // Also what reaches the application's handler, up to the end of the run (and after the
  // form, should start-up fail).
  if (Application)
    Application->OnException = [](TObject*, const std::exception& e) { ConsoleLine(ExceptionMessage(e)); };
}

void TSetup::FinishOneShot() {
  if (FReplyPending) WindowSystem().PumpUntil([this] { return !FReplyPending; }, kOneShotReplyWaitMs);
  if (FReplyPending) {
    ReportOneShot("no reply from " + UseNTPServer->Text());
    RecordHistory(TSyncHistory::Failed(SNTPC->Server(), "no reply", "request sent " + FRequestSent));
    FReplyPending = false;
  }
  if (FOutcome == soNoServer) ReportOneShot("no NTP server is configured");
  Hide();
  Close();
}

void TSetup::WMPowerBroadcast(TMessage& message) {
  message.Result = 1;
  if (message.WParam == pbtApmResumeCritical || message.WParam == pbtApmResumeSuspend ||
      message.WParam == pbtApmResumeStandby) {
    TrayIcon->ShowBalloonHint(kInformation, kResume, bikInfo, kBalloonSeconds);
    CheckTimer->SetInterval(kResumeDelayMs);
    CheckTimer->SetEnabled(true);
  }
}

void TSetup::FormCloseQuery(TObject*, bool& CanClose) {
  CanClose = !Visible();
  Hide();
  if (!CanClose) return;
  try {
    AutoIni->SaveSettings();
  } catch (const std::exception& e) {
    // The failure has been reported; the program still ends rather than refusing to quit.
    if (FOneShot && FOutcome == soClockSet) FOutcome = soNotSaved;
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
  SNTPC->SetServer(ServerList->Items()[static_cast<size_t>(i)]);
  SNTPC->SendRequest();
}

void TSetup::Button1Click(TObject*) {
  AutoIni->SaveSettings();
  const String server = UseNTPServer->Text();
  if (ServerList->IndexOfItem(server) < 0) {
    ServerList->InsertItem(0, server);
    SaveServerList(ServerListPath(), ServerList->Items());
  }
  CheckTimer->SetInterval(UpdateIntervalMs());
  Hide();
}

void TSetup::Button2Click(TObject*) {
  AutoIni->LoadSettings();
  Hide();
}

String TSetup::StatusText() const {
  String last = FLastSync == 0 ? String(kNotSynced) : "前回は " + DateTimeToStr(FLastSync) + " に同期を行ないました。";
  return "NTP Server : " + UseNTPServer->Text() + "\r\n" + "同期は" + IntToStr(UpdateTime->RangedValue()) +
         "分ごとです。" + "\r\n" + last;
}

void TSetup::TrayIconClick(TObject*) {
  TrayIcon->ShowBalloonHint(kInformation, StatusText(), bikInfo, kBalloonSeconds);
}

void TSetup::AppSetupExecute(TObject*) { Show(); }

void TSetup::H1Click(TObject*) { AppSystem().ShellOpen(Handle(), HelpFile); }

void TSetup::OpenWebExecute(TObject*) { AppSystem().ShellOpen(Handle(), kWebAddress); }

void TSetup::VerInfoExecute(TObject*) {
  String text = String(kAuthorNotice) + "\r\n" + "\r\n" + GetFileVersionText(ExecutableFileName(), 2);
  WindowSystem().ShowMessageBox(text, AppTitle(), mbOk | mbIconInformation);
}

void TSetup::ExitAppExecute(TObject*) {
  Hide();
  Close();
}

void TSetup::AppConnectNTPExecute(TObject*) { SynchronizeNow(); }
