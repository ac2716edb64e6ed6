// The SNTP client over real loopback UDP under Wine: against chrony and against the SNTP test
// server with its fault modes. SntpClientTest.sh starts the servers and passes their addresses
// in KAIROTSU_SNTP_CHRONY (or KAIROTSU_SNTP_CHRONY_SKIP with the reason it could not start)
// and KAIROTSU_SNTP_SERVERS ("mode=address;...").
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "sntp/IpTime.h"
#include "toolkit/Platform.h"

#include <winsock2.h>
#include <windows.h>

namespace {

String Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? String(v) : String();
}

// How far a measured offset may be from the injected one: 5 ms, or what
// KAIROTSU_SNTP_OFFSET_TOLERANCE_MS says (software emulation of the whole PC is slower).
double OffsetTolerance() {
  const String v = Env("KAIROTSU_SNTP_OFFSET_TOLERANCE_MS");
  return v.empty() ? 5.0 : std::atof(v.c_str());
}

// Address of the test server endpoint that runs a fault mode.
String ServerFor(const String& mode) {
  const String all = Env("KAIROTSU_SNTP_SERVERS");
  const String key = mode + "=";
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find(';', pos);
    if (end == String::npos) end = all.size();
    const String item = all.substr(pos, end - pos);
    if (item.rfind(key, 0) == 0) return item.substr(key.size());
    pos = end + 1;
  }
  return String();
}

struct Report {
  TDateTime TimeStamp;
  double Offset, Delay;
  uint8_t Stratum;
  bool Synchronized, Valid;
};

// One client with everything it reports.
struct Probe {
  explicit Probe(const String& server) {
    Client.SetServer(server);
    Client.OnSNTPTime = [this](TObject*, TDateTime t, double offset, double delay, uint8_t stratum, bool sync) {
      Reports.push_back({t, offset, delay, stratum, sync, Client.Reply().Usable()});
    };
    Client.OnError = [this](TObject*, uint32_t, int, const String& text) { Errors.push_back(text); };
  }
  TIpSNTPClient Client{nullptr};
  std::vector<Report> Reports;
  std::vector<String> Errors;
};

TDateTime UtcNow() { return SystemTimeToDateTime(SystemApi().GetSystemTime()); }

class SntpClientWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("KAIROTSU_SNTP_SERVERS").empty()) GTEST_SKIP() << "run through SntpClientTest.sh (no test servers)";
  }
  // Pumps messages for a while so that late or extra datagrams have their chance.
  static void PumpFor(uint32_t ms) {
    WindowSystem().PumpUntil([] { return false; }, ms);
  }
  TWinSockModule Module;
};

TEST_F(SntpClientWine, ChronyGivesAValidStratum8ReplyWithASmallOffset) {
  const String skip = Env("KAIROTSU_SNTP_CHRONY_SKIP");
  if (!skip.empty()) GTEST_SKIP() << "chronyd could not be started: " << skip;
  const String chrony = Env("KAIROTSU_SNTP_CHRONY");
  ASSERT_FALSE(chrony.empty());
  Probe p(chrony);
  const TDateTime before = UtcNow();
  p.Client.SendRequest();
  ASSERT_TRUE(WindowSystem().PumpUntil([&] { return !p.Reports.empty(); }, 5000)) << "no reply from chrony";
  const Report& r = p.Reports[0];
  EXPECT_TRUE(r.Valid);
  EXPECT_EQ(r.Stratum, 8);
  EXPECT_LT(std::fabs(r.Offset), 50.0);
  EXPECT_GE(r.Delay, -1.0);
  EXPECT_LT(r.Delay, 1000.0);
  EXPECT_FALSE(r.Synchronized);
  EXPECT_NEAR((r.TimeStamp - before) * 86400.0, 0.0, 2.0);
  EXPECT_EQ(p.Client.RequestSocket(), INVALID_SOCKET);
  EXPECT_TRUE(p.Errors.empty());
}

TEST_F(SntpClientWine, InjectedOffsetAndDelayAreMeasured) {
  Probe p(ServerFor("normal"));  // +3250 ms, 200 ms of delay
  p.Client.SendRequest();
  ASSERT_TRUE(WindowSystem().PumpUntil([&] { return !p.Reports.empty(); }, 5000));
  const Report& r = p.Reports[0];
  EXPECT_TRUE(r.Valid);
  EXPECT_EQ(r.Stratum, 2);
  EXPECT_NEAR(r.Offset, 3250.0, OffsetTolerance());
  EXPECT_GE(r.Delay, 200.0);
  EXPECT_LT(r.Delay, 1000.0);
  EXPECT_FALSE(r.Synchronized);
  EXPECT_NEAR((r.TimeStamp - UtcNow()) * 86400.0, 3.25, 1.0);
  EXPECT_EQ(p.Client.RequestSocket(), INVALID_SOCKET);
}

TEST_F(SntpClientWine, TheServersHoldTimeIsNotPartOfTheDelay) {
  Probe p(ServerFor("hold"));  // +3250 ms, holds each request 300 ms between its two stamps
  p.Client.SendRequest();
  ASSERT_TRUE(WindowSystem().PumpUntil([&] { return !p.Reports.empty(); }, 5000));
  const Report& r = p.Reports[0];
  EXPECT_TRUE(r.Valid);
  EXPECT_NEAR(r.Offset, 3250.0, OffsetTolerance());
  EXPECT_GE(r.Delay, -1.0);
  EXPECT_LT(r.Delay, 100.0);
}

TEST_F(SntpClientWine, RepliesWithAKeyIdAndDigestAreRead) {
  for (const char* mode : {"keyed-md5", "keyed-sha1"}) {
    SCOPED_TRACE(mode);
    Probe p(ServerFor(mode));
    p.Client.SendRequest();
    ASSERT_TRUE(WindowSystem().PumpUntil([&] { return !p.Reports.empty(); }, 5000));
    EXPECT_TRUE(p.Reports[0].Valid);
    EXPECT_EQ(p.Reports[0].Stratum, 2);
    EXPECT_NEAR(p.Reports[0].Offset, 0.0, 50.0);
  }
}

TEST_F(SntpClientWine, ARequestMadeFromTheReplyEventIsAnsweredToo) {
  Probe p(ServerFor("normal"));
  p.Client.OnSNTPTime = [&](TObject*, TDateTime t, double offset, double delay, uint8_t stratum, bool sync) {
    p.Reports.push_back({t, offset, delay, stratum, sync, p.Client.Reply().Usable()});
    if (p.Reports.size() == 1) p.Client.SendRequest();
  };
  p.Client.SendRequest();
  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return p.Reports.size() >= 2; }, 5000));
  ASSERT_EQ(p.Reports.size(), 2u);
  EXPECT_TRUE(p.Reports[1].Valid);
  EXPECT_NEAR(p.Reports[1].Offset, 3250.0, OffsetTolerance());
  EXPECT_EQ(p.Client.RequestSocket(), INVALID_SOCKET);
}

TEST_F(SntpClientWine, AReplyMessagePostedFromOutsideIsNotAReply) {
  Probe p(ServerFor("none"));
  p.Client.SendRequest();
  ASSERT_TRUE(PostMessageA(reinterpret_cast<HWND>(p.Client.WindowHandle()), IPM_SNTP_REPLY, 1, 0));
  PumpFor(300);
  EXPECT_TRUE(p.Reports.empty());
  EXPECT_NE(p.Client.RequestSocket(), INVALID_SOCKET);
}

TEST_F(SntpClientWine, UnfitRepliesAreReportedAsInvalid) {
  struct Case {
    const char* Mode;
    uint8_t Stratum;
    const char* Reason;
  };
  const Case cases[] = {{"mode3", 2, "not a server reply (mode 3)"},
                        {"zero-transmit", 2, "no transmit time"},
                        {"kiss", 0, "kiss-o'-death RATE"},
                        {"leap3", 2, "leap indicator 3 (the server's clock is not set)"},
                        {"long", 2, "oversized (60 bytes)"}};
  std::vector<std::unique_ptr<Probe>> probes;
  for (const Case& c : cases) {
    probes.push_back(std::make_unique<Probe>(ServerFor(c.Mode)));
    probes.back()->Client.SendRequest();
  }
  WindowSystem().PumpUntil(
      [&] {
        for (auto& p : probes)
          if (p->Reports.empty()) return false;
        return true;
      },
      5000);
  PumpFor(300);
  for (size_t i = 0; i < probes.size(); ++i) {
    SCOPED_TRACE(cases[i].Mode);
    const Probe& p = *probes[i];
    ASSERT_EQ(p.Reports.size(), 1u);
    const Report& r = p.Reports[0];
    EXPECT_FALSE(r.Valid);
    EXPECT_EQ(r.Offset, 0.0);
    EXPECT_EQ(r.Delay, 0.0);
    EXPECT_FALSE(r.Synchronized);
    EXPECT_EQ(r.Stratum, cases[i].Stratum);
    EXPECT_EQ(p.Client.Reply().Reason(), cases[i].Reason);
    // The transmit time is passed on as it came: none, or the server's own time.
    if (String(cases[i].Mode) == "zero-transmit")
      EXPECT_EQ(r.TimeStamp, 2.0);
    else
      EXPECT_NEAR((r.TimeStamp - UtcNow()) * 86400.0, 0.0, 2.0);
    EXPECT_EQ(p.Client.RequestSocket(), INVALID_SOCKET);
  }
}

TEST_F(SntpClientWine, DatagramsThatAreNotTheAnswerAreIgnoredAndTheClientKeepsWaiting) {
  const char* modes[] = {"wrong-originate", "other-port", "other-address", "none"};
  std::vector<std::unique_ptr<Probe>> probes;
  for (const char* m : modes) {
    probes.push_back(std::make_unique<Probe>(ServerFor(m)));
    probes.back()->Client.SendRequest();
  }
  PumpFor(1500);
  for (size_t i = 0; i < probes.size(); ++i) {
    SCOPED_TRACE(modes[i]);
    EXPECT_TRUE(probes[i]->Reports.empty());
    EXPECT_TRUE(probes[i]->Errors.empty());
    EXPECT_NE(probes[i]->Client.RequestSocket(), INVALID_SOCKET);
  }

  // A new request closes the socket still waiting.
  Probe& waiting = *probes.back();
  const TSocket old = waiting.Client.RequestSocket();
  waiting.Client.SendRequest();
  const TSocket now = waiting.Client.RequestSocket();
  EXPECT_NE(now, INVALID_SOCKET);
  // Handles are reused once closed: the same number again also proves the old one was closed.
  if (now != old) {
    int type = 0, length = sizeof type;
    EXPECT_EQ(getsockopt(old, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  }
}

TEST_F(SntpClientWine, TwoRepliesOrASpoofBeforeTheRealOneGiveExactlyOneEvent) {
  Probe twice(ServerFor("twice"));
  Probe spoofed(ServerFor("spoof-then-real"));  // spoofs 100 s off, then the truth: +3250 ms
  twice.Client.SendRequest();
  spoofed.Client.SendRequest();
  WindowSystem().PumpUntil([&] { return !twice.Reports.empty() && !spoofed.Reports.empty(); }, 5000);
  PumpFor(800);
  ASSERT_EQ(twice.Reports.size(), 1u);
  EXPECT_TRUE(twice.Reports[0].Valid);
  EXPECT_NEAR(twice.Reports[0].Offset, 0.0, 50.0);
  ASSERT_EQ(spoofed.Reports.size(), 1u);
  EXPECT_TRUE(spoofed.Reports[0].Valid);
  EXPECT_NEAR(spoofed.Reports[0].Offset, 3250.0, OffsetTolerance());
  EXPECT_EQ(spoofed.Client.RequestSocket(), INVALID_SOCKET);
}

}  // namespace
