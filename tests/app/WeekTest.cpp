// A week of the running program in virtual time: the real controller, SNTP client and socket
// control on the fakes, synchronising every 10 minutes (about a thousand cycles) while a
// fixed-seed schedule mixes in good, silent, invalid and failing answers, suspends and resumes,
// and the settings dialog. After every step the schedule must still be armed exactly as the
// rules say; at the end of every day nothing may have grown since the end of the first. The
// dialog's values count from its OK on, never while they are being typed.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "app/Setup.h"
#include "fakes/FakeAppSystem.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeShellTray.h"
#include "fakes/FakeWinSock.h"
#include "fakes/NtpReplies.h"
#include "fakes/TempFolder.h"
#include "fakes/TextFiles.h"
#include "settings/FileOps.h"
#include "toolkit/Application.h"

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's count of the bytes its allocator holds (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kServerAddress = 0x0A00007F;  // 127.0.0.10, network order
constexpr uint32_t kMinuteMs = 60000;
constexpr uint64_t kDayMs = 86400000;
constexpr int kDays = 7;
constexpr int kOffsetSec = 5, kOffsetMin = 2;  // the user's offset: 2 min 5 s ahead
constexpr int kBaseInterval = 10, kOtherInterval = 15;

// Bytes the heap holds now.
size_t LiveHeapBytes() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// The minutes at which the guard holds a synchronisation back.
bool Guarded(int minute) { return minute == 0 || (minute >= 27 && minute <= 30) || minute >= 57; }

// What the server, the network or the socket layer does with one cycle's request.
enum class Answer {
  Good,         // the answer, some milliseconds to minutes off the true time
  Twice,        // the answer and a duplicate of it, arriving together
  Silence,      // nothing comes back
  Invalid,      // the answer, but one that must not set the clock (kBadReplies)
  Stale,        // a datagram that is not the answer (another request's, another sender's)
  ReadFails,    // recvfrom fails on the read event
  EventError,   // the read event carries an error (a port unreachable)
  LookupFails,  // the server's name does not resolve: an error held until the cycle is done
  SendFails,    // sendto fails: nothing goes out
  SelectFails,  // WSAAsyncSelect fails: the answer comes, but no event tells of it
  NoSocket,     // socket() fails: the request raises
  Kinds
};

struct Weighted {
  int Weight;
  Answer What;
};
const Weighted kAnswers[] = {{46, Answer::Good},       {4, Answer::Twice},       {12, Answer::Silence},
                             {12, Answer::Invalid},    {4, Answer::Stale},       {3, Answer::ReadFails},
                             {4, Answer::EventError},  {5, Answer::LookupFails}, {4, Answer::SendFails},
                             {3, Answer::SelectFails}, {3, Answer::NoSocket}};

// Replies that are the answer but must not set the clock, and what the warning names.
struct BadReply {
  const char* Reason;
  void (*Spoil)(std::vector<uint8_t>& reply);
};
const BadReply kBadReplies[] = {
    {"not a server reply (mode 3)", [](std::vector<uint8_t>& r) { r[0] = 0x1B; }},
    {"kiss-o'-death RATE", [](std::vector<uint8_t>& r) { r[1] = 0, std::memcpy(&r[12], "RATE", 4); }},
    {"stratum 16 (the server is not synchronised)", [](std::vector<uint8_t>& r) { r[1] = 16; }},
    {"leap indicator 3 (the server's clock is not set)", [](std::vector<uint8_t>& r) { r[0] = 0xDC; }},
    {"no transmit time", [](std::vector<uint8_t>& r) { std::fill(r.begin() + 40, r.end(), 0); }},
    {"too short (40 bytes)", [](std::vector<uint8_t>& r) { r.resize(40); }},
};

class WeekTest : public ::testing::Test {
 protected:
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  TFakeAppSystem Sys;
  TFakeShellTray Tray;
  TFakeMenuPlatform Menus;
  TApplication App;
  TTempFolder Temp{"week"};
  std::unique_ptr<TSetup> Form;
  std::mt19937 Random{20240101};

  // --- the rules' model of the check timer ---
  uint64_t Due = 0;       // when the next cycle fires, on the fake's timer scale
  uint32_t Interval = 0;  // the check timer's period
  int UiInterval = kBaseInterval, SavedInterval = kBaseInterval;
  bool UiGuard = true, SavedGuard = true;
  bool DialogOpen = false;

  // --- what the program must have done so far ---
  struct Counts {
    size_t ClockSets = 0, Boxes = 0, HeldBack = 0, Resumes = 0, InvalidWarnings = 0, Requests = 0;
    bool operator==(const Counts&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Counts& c) {
      return out << "clock set " << c.ClockSets << ", boxes " << c.Boxes << ", held back " << c.HeldBack << ", resumes "
                 << c.Resumes << ", invalid " << c.InvalidWarnings << ", requests " << c.Requests;
    }
  } Expected, Seen;
  size_t Cycles = 0;
  size_t Picked[static_cast<size_t>(Answer::Kinds)] = {};
  TDateTime LastExpectedSet = 0, LastSet = 0;
  String ExpectedReason;  // of the last invalid-reply warning

  void SetUp() override {
    PathOverrides().ExecutableFileName = (Temp.Path() / "Kairotsu.exe").string();
    App.SetTitle("Kairotsu");
    WinSock.Fake.Hosts["ntp.test"] = {kServerAddress};
    Platform.UtcNow = EncodeDate(2024, 1, 1) + EncodeTime(0, 10, 0, 0);  // 09:10 in Japan
    Platform.Tick = 0u - 2 * static_cast<uint32_t>(kDayMs);              // wraps on day three
    WinSock.Fake.ReuseClosedNumbers = true;                              // as the platform does
    // The server is in the list already: OK adds nothing to it.
    WriteBytes(Temp.Path() / "NTP.lst", "ntp.test\r\nntp2.test\r\n");
    WriteBytes(Temp.Path() / "Kairotsu.ini",
               "[taro]\r\nUseNTPServer=ntp.test\r\nUpdateTime=10\r\nCheckTiming=1\r\n"
               "OffsetSec=" +
                   std::to_string(kOffsetSec) + "\r\nOffsetMin=" + std::to_string(kOffsetMin) + "\r\n");
  }
  void TearDown() override {
    Form.reset();
    PathOverrides().ExecutableFileName.clear();
  }

  uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(Random() % n); }
  Answer PickAnswer() {
    int total = 0;
    for (auto& w : kAnswers) total += w.Weight;
    int r = static_cast<int>(Pick(static_cast<uint32_t>(total)));
    for (auto& w : kAnswers)
      if ((r -= w.Weight) < 0) return ++Picked[static_cast<size_t>(w.What)], w.What;
    return Answer::Good;
  }
  uint64_t Now() const { return Platform.Elapsed(); }
  int LocalMinute() { return Platform.GetLocalTime().wMinute; }
  // The check timer's rule: a new interval restarts a running timer, the same one changes nothing.
  void TimerInterval(uint32_t ms) {
    if (ms != Interval) Due = Now() + ms;
    Interval = ms;
  }

  // Reads what the fakes recorded since the last look into Seen, and lets the records go.
  void Harvest() {
    for (auto& c : Tray.Calls) {
      if (c.Message != nimModify || !(c.Data.uFlags & nifInfo) || !c.Data.szInfo[0]) continue;
      const String text = c.Data.szInfo;
      if (text == "同期は5分後に行なわれます。")
        ++Seen.HeldBack;
      else if (text == "1分後に同期処理を行ないます。")
        ++Seen.Resumes;
      else if (text == "NTPサーバーの応答が正しくないため、時刻を設定しませんでした。 (" + ExpectedReason + ")")
        ++Seen.InvalidWarnings;
      else
        ADD_FAILURE() << "unexpected balloon " << text;
    }
    std::vector<TFakeShellTray::Call>().swap(Tray.Calls);
    for (auto& box : Platform.MessageBoxes) {
      ++Seen.Boxes;
      EXPECT_EQ(box.Flags, mbOk | mbIconError) << box.Text;
    }
    std::vector<TFakePlatform::Box>().swap(Platform.MessageBoxes);
    for (auto& st : Platform.LocalTimesSet) {
      ++Seen.ClockSets;
      LastSet = SystemTimeToDateTime(st);
    }
    std::vector<TSystemTime>().swap(Platform.LocalTimesSet);
    for (auto& [s, st] : WinSock.Fake.Sockets) Seen.Requests += st.Sent.size(), st.Sent.clear();
    for (auto& [s, st] : WinSock.Fake.ReusedSockets) Seen.Requests += st.Sent.size();
    decltype(WinSock.Fake.ReusedSockets)().swap(WinSock.Fake.ReusedSockets);
  }

  // The program between events: one check timer pending, due when the rules say, at idle
  // priority; no socket open but the one waiting for its answer; nothing left in the queue.
  void ExpectIdle(const char* where) {
    SCOPED_TRACE(where);
    Harvest();
    EXPECT_EQ(Seen, Expected);
    EXPECT_NEAR(LastSet, LastExpectedSet, 2.0 / 86400000.0);
    ExpectArmed();
    EXPECT_EQ(WinSock.Fake.OpenSockets(), Form->SNTPC->RequestSocket() == InvalidSocket ? 0u : 1u);
    EXPECT_EQ(Platform.QueuedCount(), 0u);
    EXPECT_TRUE(Platform.ForeignPosts.empty());
    EXPECT_EQ(Form->Visible(), DialogOpen);
  }
  void ExpectArmed() {
    const THandle socketWindow = Form->SNTPC->WindowHandle();
    int checkTimers = 0;
    for (auto& t : Platform.PendingTimers()) {
      if (t.Wnd == socketWindow && t.Id == 1 && t.Period == 500) continue;  // the socket control's own
      ++checkTimers;
      EXPECT_EQ(t.Period, Interval);
      EXPECT_EQ(t.DueInMs, Due - Now());
    }
    EXPECT_EQ(checkTimers, 1);
    EXPECT_TRUE(Form->CheckTimer->Enabled());
    EXPECT_EQ(Platform.PriorityClasses.back(), pcIdle);
  }

  // The local minute when the clock stands at `at` on the timer scale.
  int MinuteAt(uint64_t at) {
    return DateTimeToSystemTime(Platform.UtcNow + Platform.LocalOffsetHours / 24.0 +
                                static_cast<double>(at - Now()) / 86400000.0)
        .wMinute;
  }
  // The rules for the cycle due next, before it fires: held back for five minutes in a guarded
  // minute, else a request (when `sends`) and the interval again. Returns whether it is held.
  bool ExpectCycle(bool sends) {
    const uint64_t at = Due;
    const bool held = SavedGuard && Guarded(MinuteAt(at));
    ++Cycles;
    if (held)
      ++Expected.HeldBack;
    else if (sends)
      ++Expected.Requests;
    Interval = held ? 300000u : static_cast<uint32_t>(SavedInterval) * kMinuteMs;
    Due = at + Interval;
    return held;
  }

  // A box must come: while it is open the schedule is already armed again and the program idle.
  // `during` runs while it is open. Nobody may be there to press OK for hours: the box's message
  // loop runs the cycles meanwhile (`sends`: the failure that raised it lasts until it closes),
  // and what they fail with is not stacked on top of it.
  void ExpectBox(const String& part, bool sends, std::function<void()> during = nullptr) {
    ++Expected.Boxes;
    Platform.DuringMessageBox = [this, part, sends, during] {
      EXPECT_NE(Platform.MessageBoxes.back().Text.find(part), String::npos) << Platform.MessageBoxes.back().Text;
      ExpectArmed();
      if (during) during();
      const uint64_t until = Now() + (Pick(4) ? Pick(kMinuteMs) : Pick(180) * kMinuteMs);
      while (Due <= until) {
        const uint64_t wait = Due - Now();
        ExpectCycle(sends);
        Platform.Advance(static_cast<uint32_t>(wait));
      }
      Platform.Advance(static_cast<uint32_t>(until - Now()));
    };
  }

  // The server's answer to the request just sent, `offsetMs` ahead of the true time, over a
  // network that takes `latencyMs` each way; `spoil` may change it.
  std::vector<uint8_t> Answered(double offsetMs, uint32_t latencyMs, const BadReply* spoil = nullptr) {
    const TSocket s = Form->SNTPC->RequestSocket();
    const std::vector<uint8_t> request = WinSock.Fake.Sockets.at(s).Sent.back().Bytes;
    Platform.Advance(latencyMs);
    const TIpNTPTimestamp received = DateTimeToNtpStamp(Platform.UtcNow + offsetMs / 86400000.0);
    Platform.Advance(3);  // the server holds it a little
    const TIpNTPTimestamp sent = DateTimeToNtpStamp(Platform.UtcNow + offsetMs / 86400000.0);
    Platform.Advance(latencyMs);
    std::vector<uint8_t> reply = ServerReply(request, received, sent);
    if (spoil) spoil->Spoil(reply);
    return reply;
  }
  void Deliver(const std::vector<uint8_t>& reply, uint32_t from = kServerAddress, int copies = 1) {
    const TSocket s = Form->SNTPC->RequestSocket();
    for (int i = 0; i < copies; ++i) {
      WinSock.Fake.Sockets.at(s).Incoming.push_back({reply, from, 123});
      WinSock.Fake.PostEvent(s, fdRead);
    }
    Platform.ProcessMessages();
  }

  // A good answer sets the clock once: to the server's time when it arrives (its transmit time
  // plus the way back), in Japan, plus the user's offset.
  void AnswerGood(double offsetMs, uint32_t latency, int copies = 1) {
    Deliver(Answered(offsetMs, latency), kServerAddress, copies);
    ++Expected.ClockSets;
    LastExpectedSet = Platform.UtcNow + (offsetMs / 1000.0 + 9 * 3600 + kOffsetMin * 60 + kOffsetSec) / 86400.0;
  }
  double PickOffsetMs() { return static_cast<double>(Pick(180001)) - 90000.0 + Pick(1000) / 1000.0; }

  // A double click on the icon synchronises at once, outside the schedule; in a guarded minute
  // it restarts the running timer with five minutes instead.
  void DoubleClick() {
    const bool held = SavedGuard && Guarded(LocalMinute());
    Form->TrayIcon->OnDblClick(Form->TrayIcon);
    if (held) {
      ++Expected.HeldBack;
      TimerInterval(300000);
      return;
    }
    ++Expected.Requests;
    AnswerGood(PickOffsetMs(), 1 + Pick(300));
  }

  void Suspend() {
    TMessage m{wmPowerBroadcast, 4, 0, 0};  // suspending: nothing to do
    Form->Dispatch(m);
    // Asleep: the clocks run on, the timers do not.
    const uint32_t asleep = (5 + Pick(180)) * kMinuteMs;
    Platform.UtcNow += asleep / 86400000.0;
    Platform.Tick += asleep;
    if (Pick(2)) {
      m = {wmPowerBroadcast, 18, 0, 0};  // the automatic resume comes first and does nothing
      Form->Dispatch(m);
    }
    m = {wmPowerBroadcast, 6 + Pick(3), 0, 0};
    Form->Dispatch(m);
    ++Expected.Resumes;
    TimerInterval(kMinuteMs);
  }

  // A setting changed and saved stays so until a later visit puts it back.
  bool Changed() const { return SavedInterval != kBaseInterval || !SavedGuard; }
  // Opens the settings and changes the interval or the guard (back, when one is changed), or
  // closes them with OK or Cancel.
  void UseDialog() {
    if (!DialogOpen) {
      Form->AppSetupExecute(nullptr);
      DialogOpen = true;
      const bool interval = Changed() ? SavedInterval != kBaseInterval : Pick(2) == 0;
      if (interval) {
        UiInterval = SavedInterval == kBaseInterval ? kOtherInterval : kBaseInterval;
        Form->UpdateTime->SetText(std::to_string(UiInterval));
      } else {
        UiGuard = !SavedGuard;
        Form->CheckTiming->SetChecked(UiGuard);
      }
      return;
    }
    DialogOpen = false;
    // Putting a setting back is mostly confirmed.
    if (Pick(4) < (Changed() ? 3u : 2u)) {
      Form->OkButtonClick(nullptr);
      SavedInterval = UiInterval;
      SavedGuard = UiGuard;
      TimerInterval(static_cast<uint32_t>(UiInterval) * kMinuteMs);
    } else {
      Form->CancelButtonClick(nullptr);
      UiInterval = SavedInterval;
      UiGuard = SavedGuard;
    }
  }

  // One timed cycle with its answer.
  void Cycle(Answer answer) {
    SCOPED_TRACE("cycle " + std::to_string(Cycles + 1) + ", answer " + std::to_string(static_cast<int>(answer)));
    switch (answer) {
      case Answer::LookupFails: WinSock.Fake.Hosts.erase("ntp.test"); break;
      case Answer::SendFails: WinSock.Fake.SendToError = 10065; break;
      case Answer::SelectFails: WinSock.Fake.SelectError = 10022; break;
      case Answer::NoSocket: WinSock.Fake.SocketError = 10024; break;
      default: break;
    }
    const bool sends = answer != Answer::SendFails && answer != Answer::LookupFails && answer != Answer::NoSocket;
    const uint64_t at = Due;
    const bool held = ExpectCycle(sends);
    if (!held && !sends && answer != Answer::SendFails) {
      if (answer == Answer::NoSocket) {
        ExpectBox("invalid udp socket", false);
      } else {
        // A second failure while the box is open (a double click on the icon) is not stacked.
        // (Not when the guard would hold it back: that restarts the timer.)
        const bool clickInBox = Pick(2);
        ExpectBox("(11001)", false, [this, clickInBox] {
          if (clickInBox && !(SavedGuard && Guarded(LocalMinute()))) Form->TrayIcon->OnDblClick(Form->TrayIcon);
        });
      }
    }
    Platform.Advance(static_cast<uint32_t>(at - Now()));
    WinSock.Fake.Hosts["ntp.test"] = {kServerAddress};
    WinSock.Fake.SendToError = WinSock.Fake.SelectError = WinSock.Fake.SocketError = 0;
    Platform.DuringMessageBox = nullptr;
    EXPECT_EQ(Platform.PriorityClasses.end()[-2], pcNormal);
    if (held) {
      ExpectIdle("held back");
      return;
    }

    const double offsetMs = PickOffsetMs();
    const uint32_t latency = 1 + Pick(300);
    switch (answer) {
      case Answer::Good:
      case Answer::Twice: {
        // A duplicate arriving with it is read and dropped.
        AnswerGood(offsetMs, latency, answer == Answer::Twice ? 2 : 1);
        break;
      }
      case Answer::Invalid: {
        const BadReply& bad = kBadReplies[Pick(std::size(kBadReplies))];
        ExpectedReason = bad.Reason;
        Deliver(Answered(offsetMs, latency, &bad));
        ++Expected.InvalidWarnings;
        break;
      }
      case Answer::Stale: {
        // Another request's answer, or one from elsewhere: dropped, the answer may still come.
        auto reply = Answered(offsetMs, latency);
        const bool otherRequest = Pick(2);
        if (otherRequest) reply[24] ^= 0x40;
        Deliver(reply, otherRequest ? kServerAddress : 0x0B00007F);
        break;
      }
      case Answer::ReadFails:
        Platform.Advance(latency);
        WinSock.Fake.RecvFromError = 10054;
        ExpectedReason = "read failed (WinSock error 10054)";
        WinSock.Fake.PostEvent(Form->SNTPC->RequestSocket(), fdRead);
        Platform.ProcessMessages();
        WinSock.Fake.RecvFromError = 0;
        ++Expected.InvalidWarnings;
        break;
      case Answer::EventError:
        Platform.Advance(latency);
        ExpectBox("WinSock Error (10054)", true);
        WinSock.Fake.PostEvent(Form->SNTPC->RequestSocket(), fdRead, 10054);
        Platform.ProcessMessages();
        Platform.DuringMessageBox = nullptr;
        break;
      case Answer::SelectFails:  // the answer comes, but nobody is told
        WinSock.Fake.Sockets.at(Form->SNTPC->RequestSocket())
            .Incoming.push_back({Answered(offsetMs, latency), kServerAddress, 123});
        break;
      default: break;  // silence: the next cycle gives the request up
    }
    ExpectIdle("after a cycle");
  }

  // Lets go of what the fakes keep for the test, so that the heap holds only the program's.
  void ForgetRecords() {
    Harvest();
    std::vector<uint32_t>().swap(Platform.PriorityClasses);
    Platform.PriorityClasses.push_back(pcIdle);
    for (auto it = WinSock.Fake.Sockets.begin(); it != WinSock.Fake.Sockets.end();)
      it = it->second.Closed ? WinSock.Fake.Sockets.erase(it) : std::next(it);
    std::vector<String>().swap(WinSock.Fake.HostLookups);
    std::vector<String>().swap(WinSock.Fake.AddressTexts);
  }

  struct DayEnd {
    size_t Heap, Windows, Timers, OpenSockets, Queued;
    bool operator==(const DayEnd&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const DayEnd& d) {
      return out << "heap " << d.Heap << " bytes, " << d.Windows << " windows, " << d.Timers << " timers, "
                 << d.OpenSockets << " open sockets, " << d.Queued << " messages queued";
    }
  };
  DayEnd Measure() {
    ForgetRecords();
    return {LiveHeapBytes(), Platform.Windows().size(), Platform.PendingTimers().size(), WinSock.Fake.OpenSockets(),
            Platform.QueuedCount() + Platform.ForeignPosts.size()};
  }
};

TEST_F(WeekTest, AWeekOfCyclesKeepsTheScheduleAndGrowsNothing) {
  Form = std::make_unique<TSetup>(&App);
  Interval = 10000;  // the first cycle ten seconds after start
  Due = Now() + Interval;
  ExpectIdle("start");
  std::vector<DayEnd> days;
  days.reserve(kDays);
  while (days.size() < kDays && !HasFailure()) {
    // Something may happen before this cycle, at a random moment of the interval: a suspend, a
    // double click on the icon, or a visit to the settings (left open for a cycle or two).
    // (A double click leaves room before the cycle for its answer to come back.)
    const uint32_t roll = Pick(100);
    const bool suspend = roll < 6, click = roll >= 96 && Due - Now() > 1000;
    const bool dialog = !suspend && !click && roll < (DialogOpen ? 50u : Changed() ? 40u : 10u);
    if (suspend || dialog || click) {
      Platform.Advance(static_cast<uint32_t>(Pick(static_cast<uint32_t>(Due - Now() - (click ? 1000 : 0)))));
      if (suspend)
        Suspend();
      else if (click)
        DoubleClick();
      else
        UseDialog();
      ExpectIdle(suspend ? "resumed" : click ? "double click" : "dialog");
    }
    Cycle(PickAnswer());
    // A day ends at the first quiet moment after midnight: no request out, the dialog closed.
    if (Now() >= (days.size() + 1) * kDayMs && WinSock.Fake.OpenSockets() == 0 && !DialogOpen) {
      days.push_back(Measure());
      SCOPED_TRACE("day " + std::to_string(days.size()));
      EXPECT_EQ(days.back(), days.front());
      // The history keeps one line per attempt, and its oldest go before it passes 64 KiB.
      EXPECT_LE(fs::file_size(Temp.Path() / "Kairotsu.log"), 65536u);
    }
  }
  ASSERT_EQ(days.size(), static_cast<size_t>(kDays));
  for (size_t kind = 0; kind < std::size(Picked); ++kind) EXPECT_GT(Picked[kind], 5u) << "answer " << kind;
  EXPECT_GT(Cycles, 900u);
  // Every kind of event happened, and the good replies set the clock.
  EXPECT_GT(Expected.ClockSets, 300u);
  EXPECT_GT(Expected.HeldBack, 20u);
  EXPECT_GT(Expected.Resumes, 10u);
  EXPECT_GT(Expected.InvalidWarnings, 50u);
  EXPECT_GT(Expected.Boxes, 50u);
  std::cout << Cycles << " cycles: " << Expected << "\n";
}

}  // namespace
