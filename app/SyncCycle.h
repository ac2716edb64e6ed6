// The synchronisation cycle: when to ask the server, and what a reply, an error, a resume or a
// refused clock setting means. It owns the check timer and drives the SNTP client; it works
// from one copy of the user's settings (taken from the dialog at start and on OK), never from
// the dialog's widgets. It shows nothing itself: each thing that happens becomes one report
// (the history line, the tray balloon, the one-shot console line, the error for a box) that
// the form shows as it stands, so every place names the same reason.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "app/SyncSettings.h"
#include "sntp/IpTime.h"
#include "toolkit/Timer.h"

enum class TNoticeKind { None, Info, Warning };

struct TSyncReport {
  String History;  // the history line's text after its date-time; empty: no line
  TNoticeKind Notice = TNoticeKind::None;
  String NoticeTitle, NoticeText;  // the tray balloon
  String Console;                  // a one-shot run's console line; empty: none
  String ErrorText;                // an error for the attended program's box; empty: none
  std::exception_ptr Failure;      // a request that raised, for the application's handler
};

class TSyncCycle {
 public:
  TSyncCycle(TIpSNTPClient& client, bool oneShot);
  ~TSyncCycle();
  TSyncCycle(const TSyncCycle&) = delete;
  TSyncCycle& operator=(const TSyncCycle&) = delete;

  // Everything the user is to be told, in the order it happened. Reports made during a timed
  // cycle come once the cycle is done, the timer armed again and the priority back to idle,
  // so that a box nobody closes never holds up the schedule.
  std::function<void(const TSyncReport&)> OnReport;
  // A one-shot run has its result: the program may end.
  std::function<void()> OnFinished;

  const TSyncSettings& Settings() const { return FSettings; }
  // Takes new settings, brought into their ranges (at start and on the dialog's OK). A running
  // check timer takes the new period; a period that did not change keeps its countdown.
  void SetSettings(const TSyncSettings& settings);
  // Arms the first cycle: 10 seconds after start when asked, else one period.
  void Start();

  // The check timer's tick: raise the priority, restore the period, synchronise, end a
  // one-shot run, re-arm, back to idle.
  void TimedCycle();
  // Asks the configured server now, unless the minute guard holds it back (a double click).
  void SynchronizeNow();
  // Asks `server` now, whatever the minute (a double click in the server list).
  void AskServer(const String& server);
  // The PC has resumed from standby: synchronise in one minute.
  void Resumed();

  bool OneShot() const { return FOneShot; }
  bool Deferred() const { return FDeferred; }
  bool ReplyPending() const { return FReplyPending; }
  // Local date-time of the last clock setting; 0 = never.
  TDateTime LastSync() const { return FLastSync; }
  TSyncOutcome Outcome() const { return FOutcome; }
  uint32_t PeriodMs() const { return static_cast<uint32_t>(FSettings.UpdateTime) * 60000u; }
  TTimer& Timer() { return *FTimer; }

 private:
  void Ask(const String& server);
  void Reply(const TIpSntpReply& reply);
  void Failed(const String& error);
  // A request still waiting when the next one goes, or when a one-shot run stops waiting.
  void Unanswered();
  void FinishOneShot();
  void Report(TSyncReport report);
  // Shows what a timed cycle held back while it ran.
  void ReportHeld();
  static TSyncReport Notice(TNoticeKind kind, const String& title, const String& text);
  // A warning balloon with the same text on a one-shot run's console.
  TSyncReport Warning(const String& history, const String& text) const;

  TIpSNTPClient& FClient;
  const bool FOneShot;
  TSyncSettings FSettings;
  std::unique_ptr<TTimer> FTimer;
  bool FDeferred = false;
  bool FReplyPending = false;
  String FRequestServer;  // where the request that is out went
  String FRequestSent;    // local time it went, for its history line
  TDateTime FLastSync = 0;
  TSyncOutcome FOutcome = soNoServer;
  bool FInCycle = false;
  std::vector<TSyncReport> FHeld;
};
