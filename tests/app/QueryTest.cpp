// The query switch (/q) against a server behind the fake WinSock, on the fakes' virtual clock.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/Query.h"
#include "app/SyncSettings.h"
#include "fakes/FakeAppSystem.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "fakes/NtpReplies.h"
#include "fakes/TempFolder.h"
#include "settings/FileOps.h"
#include "sntp/IpTime.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1, network order

// A server that answers each request `HoldMs` of virtual time after it arrives: the receive
// stamp is taken on arrival and the transmit stamp as the answer leaves, both `OffsetMs` ahead
// of the virtual clock. The answer reaches the client `ReturnMs` after it leaves. `Shape` may
// change the answer before it goes.
class TVirtualServer {
 public:
  TVirtualServer(TFakePlatform& platform, TFakeWinSock& ws) : FPlatform(platform), FWs(ws) {
    FWindow = WindowSystem().CreateMessageWindow([this](TMessage& m) {
      if (m.Msg == wmTimer && m.WParam == 1) Answer();
      if (m.Msg == wmTimer && m.WParam == 2) Arrive();
    });
    ws.OnSendTo = [this](TSocket s, const TFakeWinSock::Datagram& d) {
      FSocket = s;
      FRequest = d.Bytes;
      FReceived = Now();
      if (HoldMs == 0)
        Answer();
      else
        FWindow->SetTimer(1, HoldMs);
    };
  }

  double OffsetMs = 0;
  uint32_t HoldMs = 0;
  uint32_t ReturnMs = 0;
  std::function<void(std::vector<uint8_t>&)> Shape;

 private:
  TIpNTPTimestamp Now() const { return DateTimeToNtpStamp(FPlatform.UtcNow + OffsetMs / 86400000.0); }
  void Answer() {
    FWindow->KillTimer(1);
    std::vector<uint8_t> r = ServerReply(FRequest, FReceived, Now());
    if (Shape) Shape(r);
    FAnswer = r;
    if (ReturnMs == 0)
      Arrive();
    else
      FWindow->SetTimer(2, ReturnMs);
  }
  void Arrive() {
    FWindow->KillTimer(2);
    FWs.Sockets[FSocket].Incoming.push_back({FAnswer, kLoopback, 123});
    WindowSystem().Post(FWs.Sockets[FSocket].SelectWindow, IPM_SOCKET_EVENT, FSocket, fdRead);
  }

  TFakePlatform& FPlatform;
  TFakeWinSock& FWs;
  std::unique_ptr<TMessageWindow> FWindow;
  TSocket FSocket = InvalidSocket;
  std::vector<uint8_t> FRequest, FAnswer;
  TIpNTPTimestamp FReceived{};
};

class QueryTest : public ::testing::Test {
 protected:
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  TFakeAppSystem Sys;
  TVirtualServer Server{Platform, WinSock.Fake};
  TTempFolder Temp{"query"};
  fs::path Dir = Temp.Path();

  void SetUp() override {
    PathOverrides().ExecutableFileName = (Dir / "Kairotsu.exe").string();
    WinSock.Fake.Hosts["127.0.0.1"] = {kLoopback};
  }
  void TearDown() override { PathOverrides().ExecutableFileName.clear(); }

  // The value after "Name : " on the console, as an integer (the leading number of it).
  long long Field(const String& name) const {
    const size_t at = Sys.Console.find(name);
    if (at == String::npos) return -999999;
    const size_t colon = Sys.Console.find(':', at);
    return std::stoll(Sys.Console.substr(colon + 1));
  }
};

TEST_F(QueryTest, TheServersHoldTimeIsNotNetworkDelay) {
  Server.OffsetMs = 3250;
  Server.HoldMs = 300;
  EXPECT_EQ(RunQuery("127.0.0.1"), 0) << Sys.Console;
  // The virtual exchange takes the 300 ms hold plus at most one 10 ms step of the wait.
  EXPECT_GE(Field("Delay"), 0) << Sys.Console;
  EXPECT_LE(Field("Delay"), 10) << Sys.Console;
  EXPECT_NEAR(Field("Offset"), 3250, 10) << Sys.Console;
}

TEST_F(QueryTest, WouldSetCarriesTheServersTimeForwardByHalfTheRoundTrip) {
  // Sent at 2024-01-01 00:00:00.000 UTC, stamped by the server on arrival, back 1 s later.
  Server.ReturnMs = 1000;
  EXPECT_EQ(RunQuery("127.0.0.1"), 0) << Sys.Console;
  EXPECT_EQ(Field("Delay"), 1000) << Sys.Console;
  EXPECT_NE(Sys.Console.find("Would set: 2024/01/01 09:00:00.500 (UTC+9 plus 0 min 0 s)"), String::npos) << Sys.Console;
}

TEST_F(QueryTest, AnUnusableReplyIsNamedWithItsReason) {
  struct Case {
    const char* What;
    std::function<void(std::vector<uint8_t>&)> Shape;
    const char* Reason;
  };
  auto kiss = [](const char* code) {
    return [code](std::vector<uint8_t>& r) {
      r[0] = 0xDC;  // leap indicator 3, as a server that refuses sends it
      r[1] = 0;
      std::memcpy(&r[12], code, 4);
    };
  };
  const Case cases[] = {
      {"kiss-o'-death DENY", kiss("DENY"), "kiss-o'-death DENY"},
      {"client mode", [](auto& r) { r[0] = 0x1B; }, "not a server reply (mode 3)"},
      {"47 bytes", [](auto& r) { r.resize(47); }, "too short (47 bytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Sys.Console.clear();
    Server.Shape = c.Shape;
    EXPECT_EQ(RunQuery("127.0.0.1"), soInvalidReply);
    EXPECT_NE(Sys.Console.find(String("Result   : unusable reply: ") + c.Reason), String::npos) << Sys.Console;
    EXPECT_EQ(Sys.Console.find("Would set"), String::npos);
    // A refused reply has no offset or delay worth printing.
    EXPECT_EQ(Sys.Console.find("Offset"), String::npos) << Sys.Console;
    EXPECT_EQ(Sys.Console.find("Delay"), String::npos) << Sys.Console;
  }
}

TEST_F(QueryTest, BlanksAroundTheServerNameAreDropped) {
  EXPECT_EQ(RunQuery("  127.0.0.1 "), 0) << Sys.Console;
  EXPECT_EQ(WinSock.Fake.HostLookups, std::vector<String>{"127.0.0.1"});
  EXPECT_EQ(Sys.Console.rfind("Server   : 127.0.0.1\r\n", 0), 0u) << Sys.Console;

  // Blanks alone name no server: the configured one is asked, and there is none.
  Sys.Console.clear();
  EXPECT_EQ(RunQuery("   "), soNoServer) << Sys.Console;
}

TEST_F(QueryTest, TheUsersConfiguredServerAndOffsetsInTheirRanges) {
  WriteBytes(
      Dir / "Kairotsu.ini",
      "[hanako]\r\nUseNTPServer=other.test\r\n[taro]\r\nUseNTPServer=127.0.0.1\r\nOffsetSec=75\r\nOffsetMin=90\r\n");
  EXPECT_EQ(RunQuery(""), 0) << Sys.Console;
  EXPECT_EQ(WinSock.Fake.HostLookups, std::vector<String>{"127.0.0.1"});
  // The time as the reply left the server, carried forward by at most one 10 ms step of the wait.
  EXPECT_NE(Sys.Console.find("Would set: 2024/01/01 10:30:59.0"), String::npos) << Sys.Console;
  EXPECT_NE(Sys.Console.find(" (UTC+9 plus 90 min 59 s)\r\n"), String::npos) << Sys.Console;
}

}  // namespace
