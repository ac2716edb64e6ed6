// The program's one form: the settings dialog, the tray icon and its menu.
//
// The form stays hidden while the program runs. What to synchronise when, and what a reply
// means, is the synchronisation cycle's (SyncCycle): the form hands it the settings from the
// dialog at start and on OK, and shows what it reports (the history line, the balloon, the
// one-shot console line, an error box). The tray icon shows the status, and its menu opens the
// dialog, the help, the web page and the About box.
#pragma once

#include "app/SpEdit.h"
#include "app/SyncCycle.h"
#include "app/SyncHistory.h"
#include "app/SyncSettings.h"
#include "settings/AutoIni.h"
#include "sntp/IpTime.h"
#include "toolkit/Controls.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"
#include "toolkit/Timer.h"
#include "tray/TrayIcon.h"

class TSetup : public TForm {
 public:
  explicit TSetup(TComponent* owner);
  ~TSetup() override;

  // --- components ---
  TIpSNTPClient* SNTPC;
  TAutoIni* AutoIni;
  TTimer* CheckTimer;  // the cycle's
  TImageList* MenuImages;
  TActionList* Actions;
  TAction *ExitApp, *VerInfo, *HelpContents, *OpenWeb, *AppSetup, *AppConnectNTP;
  TPopupMenu* RMenu;
  TMenuItem *SettingsItem, *SettingsSeparator, *HelpItem, *WebItem, *AboutItem, *ExitSeparator, *ExitItem;
  TTrayIcon* TrayIcon;

  // --- dialog controls, in the order of the form resource ---
  TLabel *ServerListLabel, *OffsetLabel, *SecondsLabel, *MinutesLabel, *IntervalLabel, *IntervalMinutesLabel, *ServerLabel;
  TListBox* ServerList;
  TSpEdit* OffsetSec;
  TSpEdit* OffsetMin;
  TButton* OkButton;
  TButton* CancelButton;
  TSpEdit* UpdateTime;
  TCheckBox* BootUpdateTime;
  TEdit* UseNTPServer;
  TCheckBox* CheckTiming;

  String HelpFile;  // the executable's path with ".pdf"; a box says why it cannot be opened

  void FormCreate();
  void WMPowerBroadcast(TMessage& message);
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  TSyncCycle& Cycle() { return *FCycle; }
  // The dialog's values as settings, in their ranges.
  TSyncSettings DialogSettings() const;

  // --- dialog ---
  void ServerListClick(TObject* Sender);
  void ServerListDblClick(TObject* Sender);
  void OkButtonClick(TObject* Sender);
  void CancelButtonClick(TObject* Sender);

  // --- tray menu ---
  void TrayIconClick(TObject* Sender);
  void AppSetupExecute(TObject* Sender);
  void HelpContentsExecute(TObject* Sender);
  void OpenWebExecute(TObject* Sender);
  void VerInfoExecute(TObject* Sender);
  void ExitAppExecute(TObject* Sender);
  void AppConnectNTPExecute(TObject* Sender);

  // The status balloon's text.
  String StatusText() const;
  String ServerListPath() const;
  // Kairotsu.log beside the executable: the history of synchronisations.
  String HistoryPath() const;
  // The outcome of the last synchronisation attempt (a one-shot run's exit status).
  TSyncOutcome Outcome() const;

 private:
  void CreateControls();
  void CreateComponents();
  void PlaceControls();
  // Shows one report of the cycle: the history line, the balloon, the console line, a box.
  void ShowReport(const TSyncReport& report);
  void ReportOneShot(const String& text);
  // A one-shot run has nobody in front of it: failures are said on the console from now on.
  void ReportToConsole();
  // Adds a line to the history; a history that cannot be written never stops a
  // synchronisation (a one-shot run says so on the console).
  void RecordHistory(const String& text);
  // The error box, one at a time.
  void ShowError(const String& text);
  void ShowFailure(const std::exception_ptr& failure);

  std::unique_ptr<TSyncCycle> FCycle;
  bool FNotSaved = false;  // a one-shot run could not save its settings
  bool FErrorBoxOpen = false;
  std::unique_ptr<TSyncHistory> FHistory;
};

// The text of a local date-time: the system's short date format, a blank and its long time
// format; the time is left out when it is exactly midnight.
String DateTimeToStr(TDateTime value);

// The makers' web page and the About box's notice line.
extern const char kWebAddress[];
extern const char kAuthorNotice[];
