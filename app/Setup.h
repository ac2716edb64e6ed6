// The program's one form: the settings dialog and, behind it, the synchronisation controller.
//
// The form stays hidden while the program runs. Its check timer starts a synchronisation every
// UpdateTime minutes (10 seconds after start when asked, one minute after a resume, five
// minutes later when the minute guard holds one back); the SNTP client's reply becomes Japan
// Standard Time plus the user's offset and is written as the PC's local time. The tray icon
// shows the status, and its menu opens the dialog, the help, the web page and the About box.
#pragma once

#include "app/SpEdit.h"
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
  TTimer* CheckTimer;
  TImageList* ImageList1;
  TActionList* ActionList1;
  TAction *ExitApp, *VerInfo, *HelpOnHelp1, *OpenWeb, *AppSetup, *AppConnectNTP;
  TPopupMenu* RMenu;
  TMenuItem *O1, *N2, *H1, *W1, *About1, *N1, *KairotsuX1;
  TTrayIcon* TrayIcon;

  // --- dialog controls, in the order of the form resource ---
  TLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7;
  TListBox* ServerList;
  TSpEdit* OffsetSec;
  TSpEdit* OffsetMin;
  TButton* Button1;
  TButton* Button2;
  TSpEdit* UpdateTime;
  TCheckBox* BootUpdateTime;
  TEdit* UseNTPServer;
  TCheckBox* CheckTiming;

  // --- state ---
  bool FOneShot = false;
  bool FDeferred = false;
  TDateTime FLastSync = 0;  // local date-time of the last applied reply; 0 = never
  String HelpFile;          // the executable's path with ".pdf"

  // --- controller ---
  void FormCreate();
  void CheckTimerTimer(TObject* Sender);
  void SynchronizeNow();
  void SNTPCSNTPTime(TObject* Sender, TDateTime TimeStamp, double LocalOffset, double RoundTripDelay, uint8_t Stratum,
                     bool Synchronized);
  void SNTPCError(TObject* Sender, uint32_t Socket, int ErrCode, const String& ErrStr);
  void WMPowerBroadcast(TMessage& message);
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  uint32_t UpdateIntervalMs() const;

  // --- dialog ---
  void ServerListClick(TObject* Sender);
  void ServerListDblClick(TObject* Sender);
  void Button1Click(TObject* Sender);
  void Button2Click(TObject* Sender);

  // --- tray menu ---
  void TrayIconClick(TObject* Sender);
  void AppSetupExecute(TObject* Sender);
  void H1Click(TObject* Sender);
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
  TSyncOutcome Outcome() const { return FOutcome; }

 private:
  void CreateControls();
  void CreateComponents();
  void PlaceControls();
  // Ends a one-shot run: waits a bounded time for the pending reply, then closes.
  void FinishOneShot();
  void ReportOneShot(const String& text);
  // A one-shot run has nobody in front of it: failures are said on the console from now on.
  void ReportToConsole();
  // Adds a line to the history; a history that cannot be written never stops a
  // synchronisation (a one-shot run says so on the console).
  void RecordHistory(const String& text);
  // The error box, one at a time.
  void ShowError(const String& text);

  TSyncOutcome FOutcome = soNoServer;
  bool FReplyPending = false;
  bool FErrorBoxOpen = false;
  bool FInCycle = false;  // a timed cycle is running
  String FHeldError;      // a socket error reported during the cycle, shown after it
  std::unique_ptr<TSyncHistory> FHistory;
  String FRequestSent;  // local time of the last request sent, for its history line
};

// The text of a local date-time: the system's short date format, a blank and its long time
// format; the time is left out when it is exactly midnight.
String DateTimeToStr(TDateTime value);

// The makers' web page and the About box's notice line.
extern const char kWebAddress[];
extern const char kAuthorNotice[];
