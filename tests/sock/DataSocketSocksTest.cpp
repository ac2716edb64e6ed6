// The data socket through a SOCKS proxy and in telnet mode, against the fake WinSock: the
// handshake's requests on the wire, the grant reported as the connection, data that arrives
// with or after the reply, refusals, the user's early items held until the grant, and the
// telnet negotiation answered from the receive path.
#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "log/IpLog.h"
#include "sock/IpClient.h"
#include "sock/IpDataSocket.h"
#include "toolkit/Application.h"

namespace {

String Bytes(std::initializer_list<int> values) {
  String out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

class ProxiedSocket : public ::testing::Test {
 protected:
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  TFakeWinSock& Fake = WinSock.Fake;
  TIpCustomClient C{nullptr};
  std::vector<String> Lines;
  std::vector<std::tuple<TSocket, int, String>> Errors;
  std::vector<uint8_t> Statuses;
  TSocket S = InvalidSocket;

  void SetUp() override {
    Fake.ReuseClosedNumbers = true;
    C.OnReadLine = [this](TObject*, TSocket, const String& line) { Lines.push_back(line); };
    C.OnError = [this](TObject*, uint32_t socket, int code, const String& text) {
      Errors.emplace_back(socket, code, text);
    };
    C.OnStatus = [this](TObject*, TSocket, uint8_t kind, const TIpConnRec&, const TIpSockStatRec&) {
      Statuses.push_back(kind);
    };
    C.SocksServer().Address = "127.0.0.1";
    C.SocksServer().Port = 1080;
  }
  void Pump() { Platform.ProcessMessages(); }
  void Event(uint32_t event) {
    Fake.PostEvent(S, event, 0);
    Pump();
  }
  TFakeWinSock::SocketState& Sock() { return Fake.Sockets.at(S); }
  TIpDataSocket& D() { return *C.DataSocket(); }
  // A fresh connection to `target` through the proxy, up and writable, handshake not answered.
  void Connect(const String& target) {
    if (C.IsActive()) C.Disconnect(C.SocketHandle());
    Pump();
    Lines.clear();
    Errors.clear();
    Statuses.clear();
    S = C.ConnectTo(target);
    Event(fdConnect);
    Event(fdWrite);
  }
  void Receive(const String& bytes) {
    Sock().Input += bytes;
    Event(fdRead);
  }
};

struct GrantRow {
  const char* Name;
  TIpSocksVersion Version;
  const char* User;
  const char* Password;
  const char* Target;
  std::vector<String> Exchange;  // request, reply, request, reply...
  uint32_t RemoteAddress;        // host order, after the grant
  uint16_t RemotePort;
};

TEST_F(ProxiedSocket, TheHandshakeGoesOutAndItsGrantIsTheConnectionWhereverTheReadsSplitIt) {
  const GrantRow rows[] = {
      {"socks4, bound 0.0.0.0:0 keeps the target",
       svSocks4,
       "abc",
       "",
       "10.1.2.3:23",
       {Bytes({4, 1, 0, 23, 10, 1, 2, 3, 'a', 'b', 'c', 0}), Bytes({0, 90, 0, 0, 0, 0, 0, 0})},
       0x0A010203,
       23},
      {"socks4a by name, bound address reported",
       svSocks4a,
       "",
       "",
       "host.example:80",
       {Bytes({4, 1, 0, 80, 0, 0, 0, 1, 0, 'h', 'o', 's', 't', '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e', 0}),
        Bytes({0, 90, 0x1F, 0x90, 10, 9, 8, 7})},
       0x0A090807,
       8080},
      {"socks5 without authentication",
       svSocks5,
       "",
       "",
       "10.1.2.3:23",
       {Bytes({5, 2, 0, 2}), Bytes({5, 0}), Bytes({5, 1, 0, 1, 10, 1, 2, 3, 0, 23}),
        Bytes({5, 0, 0, 1, 10, 1, 2, 4, 0, 24})},
       0x0A010204,
       24},
      {"socks5 with user name and password",
       svSocks5,
       "u",
       "pw",
       "10.1.2.3:23",
       {Bytes({5, 2, 0, 2}), Bytes({5, 2}), Bytes({1, 1, 'u', 2, 'p', 'w'}), Bytes({1, 0}),
        Bytes({5, 1, 0, 1, 10, 1, 2, 3, 0, 23}), Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0})},
       0x0A010203,
       23},
      // Bound to a name or an IPv6 address: no IPv4 end to show, the target stays.
      {"socks5 bound to a name",
       svSocks5,
       "",
       "",
       "10.1.2.3:23",
       {Bytes({5, 2, 0, 2}), Bytes({5, 0}), Bytes({5, 1, 0, 1, 10, 1, 2, 3, 0, 23}),
        Bytes({5, 0, 0, 3, 2, 'p', 'x', 0, 99})},
       0x0A010203,
       23},
      {"socks5 bound to an IPv6 address",
       svSocks5,
       "",
       "",
       "10.1.2.3:23",
       {Bytes({5, 2, 0, 2}), Bytes({5, 0}), Bytes({5, 1, 0, 1, 10, 1, 2, 3, 0, 23}),
        Bytes({5, 0, 0, 4, 0x20, 1, 0xD, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 99})},
       0x0A010203,
       23},
  };
  for (const GrantRow& row : rows) {
    C.SocksServer().SocksVersion = row.Version;
    C.SocksServer().UserCode = row.User;
    C.SocksServer().Password = row.Password;
    const String finalReply = row.Exchange.back();
    // The last reply with the first data behind it, split at every position.
    const String tail = finalReply + "hello\r\nworld\r\n";
    for (size_t split = 0; split <= tail.size(); ++split) {
      SCOPED_TRACE(String(row.Name) + " split at " + std::to_string(split));
      Connect(row.Target);
      String expected;
      for (size_t i = 0; i + 1 < row.Exchange.size(); i += 2) {
        expected += row.Exchange[i];
        EXPECT_EQ(Sock().Output, expected);
        if (i + 2 >= row.Exchange.size()) continue;
        // The earlier replies come whole, or, on every other round, a byte per read.
        const String& reply = row.Exchange[i + 1];
        if (split % 2 == 0) Receive(reply);
        for (size_t b = 0; split % 2 == 1 && b < reply.size(); ++b) Receive(reply.substr(b, 1));
      }
      EXPECT_EQ(D().SocksState(), row.Exchange.size() == 2 ? 2 : 4);
      EXPECT_TRUE(Statuses.empty());
      Receive(tail.substr(0, split));
      Receive(tail.substr(split));
      EXPECT_EQ(Sock().Output, expected);
      EXPECT_EQ(Lines, (std::vector<String>{"hello\r\n", "world\r\n"}));
      EXPECT_EQ(Statuses, std::vector<uint8_t>{0});
      EXPECT_EQ(D().SocksState(), 5);
      EXPECT_TRUE(Errors.empty());
      const TSockAddrIn remote = D().RemoteSockAddr();
      EXPECT_EQ(remote.sin_addr, C.HostToNetLong(row.RemoteAddress));
      EXPECT_EQ(C.NetToHostShort(remote.sin_port), row.RemotePort);
    }
  }
}

TEST_F(ProxiedSocket, UserDataQueuedBeforeTheGrantGoesOutAfterIt) {
  C.SocksServer().SocksVersion = svSocks4;
  const String request = Bytes({4, 1, 0, 23, 10, 1, 2, 3, 0});
  // Queued before the proxy connection is up, and while the handshake runs.
  if (C.IsActive()) C.Disconnect(C.SocketHandle());
  S = C.ConnectTo("10.1.2.3:23");
  C.SendText("one");
  Event(fdConnect);
  Event(fdWrite);
  C.SendText("two");
  EXPECT_EQ(Sock().Output, request);
  Receive(Bytes({0, 90, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Sock().Output, request + "onetwo");
  C.SendText("three");
  EXPECT_EQ(Sock().Output, request + "onetwothree");
}

struct RefusalRow {
  TIpSocksVersion Version;
  String Reply;
  int Code;
  const char* Text;
};

TEST_F(ProxiedSocket, ARefusalIsAnErrorAndNothingAfterItIsData) {
  const RefusalRow rows[] = {
      {svSocks4, Bytes({0, 91, 0, 0, 0, 0, 0, 0}), 91, "SOCKS request refused - 91"},
      {svSocks4, Bytes({9, 90, 0, 0, 0, 0, 0, 0}), -1, "SOCKS reply of wrong version - 9"},
      {svSocks5, Bytes({5, 0xFF}), 255, "SOCKS request refused - 255"},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.Text);
    C.SocksServer().SocksVersion = row.Version;
    Connect("10.1.2.3:23");
    C.SendText("held");
    const String sent = Sock().Output;
    Receive(row.Reply + "late\r\n" + Bytes({0, 90, 0, 0, 0, 0, 0, 0}) + "more\r\n");
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], std::make_tuple(S, row.Code, String(row.Text)));
    EXPECT_TRUE(Lines.empty());
    EXPECT_TRUE(Statuses.empty());
    EXPECT_EQ(Sock().Output, sent);
  }
  // A proxy that hangs up before its reply: a failed connection, not an orderly close.
  Connect("10.1.2.3:23");
  Sock().PeerClosed = true;
  Event(fdClose);
  EXPECT_EQ(Errors, (std::vector<std::tuple<TSocket, int, String>>{
                        {S, 10054, "SOCKS proxy closed the connection during the handshake"}}));
  EXPECT_EQ(Statuses, std::vector<uint8_t>{1});
  // One that resets: the reset is the one error.
  Connect("10.1.2.3:23");
  Fake.PostEvent(S, fdClose, 10054);
  Pump();
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(std::get<2>(Errors[0]), "WinSock Error (10054): Connection reset by peer, on API 'Fd_Close'");
  EXPECT_EQ(Statuses, std::vector<uint8_t>{1});
  EXPECT_FALSE(C.Connected());
}

TEST_F(ProxiedSocket, TelnetModeAnswersNegotiationFromTheReceivePathAndLogsIt) {
  C.SocksServer().Address = "";
  C.DataInits().SocketOptions = SockOption(soTelnet);
  C.DebugLog().SetEnabled(true);
  Connect("10.1.2.3:23");
  D().SetTelnetTerminal({"vt100", 80, 24});
  C.DebugLog().ClearBuffer();
  struct Row {
    String In;
    String Out;  // what goes on the wire in answer
    std::vector<String> Lines;
  };
  const Row rows[] = {
      {Bytes({255, 253, 24}), Bytes({255, 251, 24}), {}},
      {Bytes({255, 250, 24, 1, 255, 240}), Bytes({255, 250, 24, 0, 'v', 't', '1', '0', '0', 255, 240}), {}},
      {Bytes({255, 253, 31}), Bytes({255, 251, 31, 255, 250, 31, 0, 80, 0, 24, 255, 240}), {}},
      {Bytes({'h', 'i', 255, 255, '\r', '\n'}), "", {Bytes({'h', 'i', 255, '\r', '\n'})}},
  };
  for (const Row& row : rows) {
    for (size_t split = 0; split <= row.In.size(); ++split) {
      SCOPED_TRACE(testing::PrintToString(row.In) + " split at " + std::to_string(split));
      Sock().Output.clear();
      Lines.clear();
      Receive(row.In.substr(0, split));
      Receive(row.In.substr(split));
      EXPECT_EQ(Sock().Output, row.Out);
      EXPECT_EQ(Lines, row.Lines);
      // The negotiation of each later split is new to the peer only once.
      if (!row.Out.empty()) break;
    }
  }
  // The user's 0xFF is doubled; the window size goes out again when the control asks for it.
  Sock().Output.clear();
  C.SendText(Bytes({255, 'x'}));
  EXPECT_EQ(Sock().Output, Bytes({255, 255, 'x'}));
  D().SetTelnetTerminal({"vt100", 100, 40});
  Sock().Output.clear();
  WindowSystem().Post(C.WindowHandle(), IPM_SEND_WINDOW_SIZE, static_cast<uintptr_t>(S), 0);
  Pump();
  EXPECT_EQ(Sock().Output, Bytes({255, 250, 31, 0, 100, 0, 40, 255, 240}));
  // Each command received and sent, as deTelnet entries: direction, command * 256 + option;
  // the user's bytes as written data, undoubled.
  std::vector<std::pair<uintptr_t, uint32_t>> logged;
  std::vector<String> written;
  TIpLogEntry e;
  while (C.DebugLog().GetLogEntry(e)) {
    if (e.Kind == deTelnet) logged.emplace_back(reinterpret_cast<uintptr_t>(e.Data), e.Length);
    if (e.Kind == deWriteData) written.emplace_back(static_cast<const char*>(e.Data), e.Length);
  }
  EXPECT_EQ(logged, (std::vector<std::pair<uintptr_t, uint32_t>>{
                        {1, 253 * 256 + 24}, {2, 251 * 256 + 24}, {1, 253 * 256 + 31}, {2, 251 * 256 + 31}}));
  EXPECT_EQ(written, std::vector<String>{Bytes({255, 'x'})});
  // Without loTelnet nothing is logged.
  D().LogOptions = 0;
  C.DebugLog().ClearBuffer();
  Receive(Bytes({255, 253, 3}));
  EXPECT_EQ(Sock().Output.substr(Sock().Output.size() - 3), Bytes({255, 251, 3}));
  EXPECT_FALSE(C.DebugLog().GetLogEntry(e));
  // An answer whose send fails: the read keeps its data, the next read too, the error comes
  // after the read, and the answer, still queued, goes out once.
  Sock().Output.clear();
  Lines.clear();
  Sock().SendError = 10054;
  Receive("ab" + Bytes({255, 253, 0}) + "c\r\n");
  Sock().SendError = 0;
  Receive("d\r\n");
  EXPECT_EQ(Lines, (std::vector<String>{"abc\r\n", "d\r\n"}));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(std::get<1>(Errors[0]), 10054);
  Event(fdWrite);
  EXPECT_EQ(Sock().Output, Bytes({255, 251, 0}));
}

// A socket class of its own answers an option the telnet logic does not know, and hands the
// rest to the usual answers; it may start negotiation itself.
TEST_F(ProxiedSocket, TheTelnetHooksDriveTheNegotiation) {
  struct Hooked : TIpDataSocket {
    using TIpDataSocket::TIpDataSocket;
    String Seen;  // option bytes of the commands, then "sub"
    bool HandleTelnetCommand(uint8_t Cmd, uint8_t Opt) override {
      Seen += static_cast<char>(Opt);
      if (Cmd != 253 || Opt != 42) return TIpDataSocket::HandleTelnetCommand(Cmd, Opt);
      SendTelnetCommand(251, 42);
      SendSubnegotiation(Bytes({42, 255}));
      return true;
    }
    void HandleSubnegotiation(const String& Text) override { Seen += "sub", TIpDataSocket::HandleSubnegotiation(Text); }
  };
  struct HookedClient : TIpCustomClient {
    HookedClient()
        : TIpCustomClient(nullptr, [](TIpCustomClient& c) -> std::unique_ptr<TIpDataSocket> {
            return std::make_unique<Hooked>(&c, InvalidSocket, c.LocalAddress, &c.DataInits(), nullptr);
          }) {}
  } client;
  client.DataInits().SocketOptions = SockOption(soTelnet);
  S = client.ConnectTo("10.1.2.3:23");
  Event(fdConnect);
  Event(fdWrite);
  Receive(Bytes({255, 253, 42, 255, 253, 24, 255, 250, 24, 1, 255, 240}));
  EXPECT_EQ(Sock().Output, Bytes({255, 251, 42,  255, 250, 42,  255, 255, 255, 240, 255, 251,
                                  24,  255, 250, 24,  0,   'd', 'u', 'm', 'b', 255, 240}));
  auto& hooked = static_cast<Hooked&>(*client.DataSocket());
  EXPECT_EQ(hooked.Seen, Bytes({42, 24}) + "sub");
  hooked.Telnet().SetLocalOption(toStatus);
  Sock().Output.clear();
  hooked.SendStatus();
  EXPECT_EQ(Sock().Output, Bytes({255, 250, 5, 0, 251, 5, 251, 24, 255, 240}));
}

}  // namespace
