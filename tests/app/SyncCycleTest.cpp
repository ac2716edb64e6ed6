// The synchronisation cycle as a plain object: the SNTP client on the fake WinSock, virtual
// time, no form. Each situation must give one outcome and the same reason in the history line,
// the balloon and the console (a one-shot run) or the error (an attended one).
#include <gtest/gtest.h>

#include <cstring>

#include "app/SyncCycle.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "fakes/NtpReplies.h"
#include "toolkit/Application.h"

namespace {

constexpr uint32_t kServerAddress = 0x0A00007F;  // 127.0.0.10, network order

struct Situation {
  const char* What;
  const char* Server;
  std::function<void(TFakePlatform&, TFakeWinSock&)> Prepare;
  TSyncOutcome Outcome;
  const char* History;  // the history lines' texts, each ended by "\n"
  const char* Notice;   // the balloon's text
  const char* Console;  // a one-shot run's console line
  const char* Error;    // an attended run's error box
};

// The server's answer to each request, transmitting the fake's UTC now; `shape` may change it.
void Answer(TFakeWinSock& ws, std::function<void(std::vector<uint8_t>&)> shape = {}) {
  ws.OnSendTo = [&ws, shape](TSocket s, const TFakeWinSock::Datagram& d) {
    const TIpNTPTimestamp now = DateTimeToNtpStamp(SystemTimeToDateTime(SystemApi().GetSystemTime()));
    std::vector<uint8_t> r = ServerReply(d.Bytes, now, now);
    if (shape) shape(r);
    ws.Sockets[s].Incoming.push_back({r, kServerAddress, 123});
    WindowSystem().Post(ws.Sockets[s].SelectWindow, IPM_SOCKET_EVENT, s, fdRead);
  };
}

// A warning is said on a one-shot run's console as it stands in the balloon.
const char kKiss[] = "NTPサーバーの応答が正しくないため、時刻を設定しませんでした。 (kiss-o'-death RATE)";
const char kRefused[] = "時刻を設定できませんでした: A required privilege is not held by the client";

const Situation kSituations[] = {
    {"a good answer", "ntp.test", [](auto&, auto& ws) { Answer(ws); }, soClockSet,
     "ntp.test: set, offset +0 ms, delay 0 ms\n", "", "", ""},
    {"a kiss-o'-death", "ntp.test",
     [](auto&, auto& ws) {
       Answer(ws, [](std::vector<uint8_t>& r) {
         r[1] = 0;
         std::memcpy(&r[12], "RATE", 4);
       });
     },
     soInvalidReply, "ntp.test: invalid reply, kiss-o'-death RATE\n", kKiss, kKiss, ""},
    {"a refused clock", "ntp.test",
     [](auto& p, auto& ws) {
       p.RefuseClockSetting = true;
       Answer(ws);
     },
     soSetRefused, "ntp.test: not set, A required privilege is not held by the client\n", kRefused, kRefused, ""},
    {"an unknown name", "nowhere.test", [](auto&, auto&) {}, soNoReply,
     "nowhere.test: no reply, WinSock Error (11001): Host not found, on API 'gethostbyname'\n", "",
     "nowhere.test: WinSock Error (11001): Host not found, on API 'gethostbyname'",
     "WinSock Error (11001): Host not found, on API 'gethostbyname'"},
    {"no socket", "ntp.test", [](auto&, auto& ws) { ws.SocketError = 10024; }, soNoReply,
     "ntp.test: no reply, invalid udp socket\n", "", "invalid udp socket", "invalid udp socket"},
    {"no answer", "ntp.test", [](auto&, auto&) {}, soNoReply, "", "", "", ""},
    {"no server", "", [](auto&, auto&) {}, soNoServer, "(none): no server\n", "", "", ""},
    {"a guarded minute", "ntp.test",
     [](auto& p, auto&) { p.UtcNow = EncodeDate(2024, 1, 1) + EncodeTime(1, 28, 0, 0); }, soNoServer, "",
     "同期は5分後に行なわれます。", "", ""},
};

TEST(SyncCycleTest, EachSituationGivesOneOutcomeAndTheSameReasonEverywhere) {
  for (const Situation& s : kSituations) {
    for (bool oneShot : {false, true}) {
      SCOPED_TRACE(String(s.What) + (oneShot ? ", one-shot" : ", attended"));
      TFakePlatform platform;
      TFakeWinSockModule winSock;
      winSock.Fake.Hosts["ntp.test"] = {kServerAddress};
      platform.UtcNow = EncodeDate(2024, 1, 1) + EncodeTime(0, 10, 0, 0);
      s.Prepare(platform, winSock.Fake);
      TIpSNTPClient client(nullptr);
      TSyncCycle cycle(client, oneShot);
      TSyncSettings settings;
      settings.Server = s.Server;
      settings.CheckTiming = true;
      cycle.SetSettings(settings);
      String history, notice, console, error;
      cycle.OnReport = [&](const TSyncReport& r) {
        if (!r.History.empty()) history += r.History + "\n";
        notice += r.NoticeText;
        console += r.Console;
        error += r.ErrorText;
        if (r.Failure) try {
            std::rethrow_exception(r.Failure);
          } catch (const std::exception& e) {
            error += ExceptionMessage(e);
          }
      };
      cycle.SynchronizeNow();
      platform.ProcessMessages();
      EXPECT_EQ(cycle.Outcome(), s.Outcome);
      EXPECT_EQ(history, s.History);
      EXPECT_EQ(notice, s.Notice);
      EXPECT_EQ(console, oneShot ? s.Console : "");
      EXPECT_EQ(error, oneShot ? "" : s.Error);
      // Whatever happened, nothing is left waiting but an unanswered request.
      EXPECT_EQ(cycle.ReplyPending(), String(s.What) == "no answer");
      EXPECT_EQ(cycle.LastSync() != 0, s.Outcome == soClockSet);
    }
  }
}

}  // namespace
