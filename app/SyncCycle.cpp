#include "app/SyncCycle.h"

#include <cmath>

#include "app/SyncHistory.h"
#include "app/SyncRules.h"
#include "log/IpLog.h"
#include "toolkit/Application.h"

namespace {

// Balloon titles and texts (Shift-JIS in the program).
const char kInformation[] = "Information";
const char kWarningTitle[] = "設定警告";
const char kDeferred[] = "同期は5分後に行なわれます。";
const char kResume[] = "1分後に同期処理を行ないます。";
const char kInvalidReply[] = "NTPサーバーの応答が正しくないため、時刻を設定しませんでした。";
const char kSetRefused[] = "時刻を設定できませんでした: ";

constexpr uint32_t kBootDelayMs = 10000;
constexpr uint32_t kDeferMs = 300000;
constexpr uint32_t kResumeDelayMs = 60000;

}  // namespace

TSyncCycle::TSyncCycle(TIpSNTPClient& client, bool oneShot)
    : FClient(client), FOneShot(oneShot), FTimer(std::make_unique<TTimer>(nullptr)) {
  FTimer->SetName("CheckTimer");
  FTimer->SetEnabled(false);
  FTimer->SetInterval(60000);
  FTimer->OnTimer = [this](TObject*) { TimedCycle(); };
  FClient.OnReply = [this](TObject*, const TIpSntpReply& reply) { Reply(reply); };
  FClient.OnError = [this](TObject*, uint32_t, int, const String& text) { Failed(text); };
}

TSyncCycle::~TSyncCycle() {
  FClient.OnReply = nullptr;
  FClient.OnError = nullptr;
}

void TSyncCycle::SetSettings(const TSyncSettings& settings) {
  FSettings = settings;
  FSettings.OffsetSec = ClampInt(settings.OffsetSec, kOffsetSecRange);
  FSettings.OffsetMin = ClampInt(settings.OffsetMin, kOffsetMinRange);
  FSettings.UpdateTime = ClampInt(settings.UpdateTime, kUpdateTimeRange);
  if (FTimer->Enabled()) FTimer->SetInterval(PeriodMs());
}

void TSyncCycle::Start() {
  FTimer->SetInterval(FSettings.BootUpdateTime ? kBootDelayMs : PeriodMs());
  FTimer->SetEnabled(true);
}

void TSyncCycle::TimedCycle() {
  SystemApi().SetPriorityClass(pcNormal);
  FTimer->SetEnabled(false);
  FTimer->SetInterval(PeriodMs());
  FInCycle = true;
  SynchronizeNow();
  FInCycle = false;
  if (FOneShot && !FDeferred) {
    FinishOneShot();
    return;
  }
  FTimer->SetEnabled(true);
  SystemApi().SetPriorityClass(pcIdle);
  ReportHeld();
}

void TSyncCycle::ReportHeld() {
  std::vector<TSyncReport> held;
  held.swap(FHeld);
  for (TSyncReport& r : held) Report(std::move(r));
}

void TSyncCycle::SynchronizeNow() {
  Unanswered();
  if (FSettings.Server.empty()) {
    FOutcome = soNoServer;
    TSyncReport r;
    r.History = TSyncHistory::Failed("(none)", "no server", "");
    Report(std::move(r));
    return;
  }
  if (FSettings.CheckTiming && IsGuardedMinute(SystemApi().GetLocalTime().wMinute)) {
    FDeferred = true;
    FClient.SetServer(FSettings.Server);
    Report(Notice(TNoticeKind::Info, kInformation, kDeferred));
    FTimer->SetInterval(kDeferMs);
    return;
  }
  Ask(FSettings.Server);
}

void TSyncCycle::AskServer(const String& server) {
  Unanswered();
  Ask(server);
}

void TSyncCycle::Ask(const String& server) {
  FClient.SetServer(server);
  FOutcome = soNoReply;
  FRequestServer = server;
  FRequestSent = FormatLogTime("hh:nn:ss", SystemApi().GetLocalTime());
  FReplyPending = true;
  try {
    FClient.SendRequest();
  } catch (const std::exception& e) {
    FReplyPending = false;
    TSyncReport r;
    r.History = TSyncHistory::Failed(server, "no reply", ExceptionMessage(e));
    if (FOneShot)
      r.Console = ExceptionMessage(e);
    else
      r.Failure = std::current_exception();
    Report(std::move(r));
  }
}

void TSyncCycle::Unanswered() {
  if (!FReplyPending) return;
  FReplyPending = false;
  TSyncReport r;
  r.History = TSyncHistory::Failed(FRequestServer, "no reply", "request sent " + FRequestSent);
  Report(std::move(r));
}

TSyncReport TSyncCycle::Notice(TNoticeKind kind, const String& title, const String& text) {
  TSyncReport r;
  r.Notice = kind;
  r.NoticeTitle = title;
  r.NoticeText = text;
  return r;
}

TSyncReport TSyncCycle::Warning(const String& history, const String& text) const {
  TSyncReport r = Notice(TNoticeKind::Warning, kWarningTitle, text);
  r.History = history;
  if (FOneShot) r.Console = text;
  return r;
}

void TSyncCycle::Reply(const TIpSntpReply& reply) {
  FReplyPending = false;
  const String server = FClient.Server();
  // A reply that failed the client's checks carries no usable time: never set the clock from it.
  if (!reply.Usable()) {
    FOutcome = soInvalidReply;
    Report(Warning(TSyncHistory::Failed(server, "invalid reply", reply.Reason()),
                   kInvalidReply + (" (" + reply.Reason() + ")")));
    return;
  }
  // The reply may have waited (idle priority, an open box): set the time it is now.
  const TDateTime before = SystemTimeToDateTime(SystemApi().GetLocalTime());
  TSystemTime st = DateTimeToSystemTime(
      LocalTimeToSet(reply, SystemApi().GetTickCount(), FSettings.OffsetSec, FSettings.OffsetMin));
  st.wDayOfWeek = 0;
  if (const uint32_t error = SystemApi().SetLocalTime(st)) {
    // A standard user may not change the time: say why, and do not count it as a sync.
    FOutcome = soSetRefused;
    const String reason = SystemApi().SystemErrorText(error);
    Report(Warning(TSyncHistory::Failed(server, "not set", reason), kSetRefused + reason));
    return;
  }
  FLastSync = SystemTimeToDateTime(SystemApi().GetLocalTime());
  FOutcome = soClockSet;
  TSyncReport r;
  r.History = TSyncHistory::ClockSet(server, std::llround((SystemTimeToDateTime(st) - before) * 86400000.0),
                                     std::llround(reply.DelayMs));
  Report(std::move(r));
}

void TSyncCycle::Failed(const String& error) {
  FReplyPending = false;
  FOutcome = soNoReply;
  TSyncReport r;
  r.History = TSyncHistory::Failed(FClient.Server(), "no reply", error);
  // An unattended run shows no box that nobody would close; the exit status tells.
  if (FOneShot)
    r.Console = FClient.Server() + ": " + error;
  else
    r.ErrorText = error;
  Report(std::move(r));
}

void TSyncCycle::FinishOneShot() {
  ReportHeld();
  if (FReplyPending) WindowSystem().PumpUntil([this] { return !FReplyPending; }, kOneShotReplyWaitMs);
  if (FReplyPending) {
    TSyncReport r;
    r.Console = "no reply from " + FRequestServer;
    Report(std::move(r));
    Unanswered();
  }
  if (FOutcome == soNoServer) {
    TSyncReport r;
    r.Console = "no NTP server is configured";
    Report(std::move(r));
  }
  if (OnFinished) OnFinished();
}

void TSyncCycle::Resumed() {
  Report(Notice(TNoticeKind::Info, kInformation, kResume));
  FTimer->SetInterval(kResumeDelayMs);
  FTimer->SetEnabled(true);
}

void TSyncCycle::Report(TSyncReport report) {
  if (FInCycle) {
    FHeld.push_back(std::move(report));
    return;
  }
  if (OnReport) OnReport(report);
}
