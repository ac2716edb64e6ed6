// The client base and its socket objects against the fake WinSock and the fake window system:
// creating, connecting, closing and freeing socket objects, address texts, and the reuse of
// closed handle numbers that the platform practises.
#include <gtest/gtest.h>

#include <cstring>

#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "fakes/TempFolder.h"
#include "sock/IpClient.h"
#include "sock/IpDataSocket.h"
#include "toolkit/Application.h"

namespace {

constexpr uint32_t kNtpTest = 0x0A00000Au;  // 10.0.0.10, network order
constexpr THandle kAttached = 0x7777;       // a window of somebody else

struct StatusRec {
  TSocket Socket;
  uint8_t Kind;
  TIpConnRec Connection;
};

class Client : public ::testing::Test {
 protected:
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  TFakeWinSock& Fake = WinSock.Fake;
  TIpCustomClient C{nullptr};
  std::vector<std::tuple<TSocket, int, String>> Errors;
  std::vector<StatusRec> Statuses;
  std::function<void(uint8_t kind)> DuringStatus;

  void SetUp() override {
    Fake.ReuseClosedNumbers = true;
    Fake.Hosts["ntp.test"] = {kNtpTest};
    C.OnError = [this](TObject*, uint32_t socket, int code, const String& text) {
      Errors.emplace_back(socket, code, text);
    };
    C.OnStatus = [this](TObject*, TSocket socket, uint8_t kind, const TIpConnRec& c, const TIpSockStatRec&) {
      Statuses.push_back({socket, kind, c});
      if (DuringStatus) DuringStatus(kind);
    };
  }
  void Pump() { Platform.ProcessMessages(); }
  void Event(TSocket s, uint32_t event, int error = 0) {
    Fake.PostEvent(s, event, error);
    Pump();
  }
  // Connects and lets WinSock report the connection up and the socket writable.
  TSocket ConnectUp(const String& address) {
    const TSocket s = C.ConnectTo(address);
    Event(s, fdConnect);
    Event(s, fdWrite);
    return s;
  }
  std::vector<std::pair<uintptr_t, intptr_t>> StatePosts() const {
    std::vector<std::pair<uintptr_t, intptr_t>> out;
    for (auto& p : Platform.ForeignPosts)
      if (p.Wnd == kAttached && p.Msg == IPM_SOCKET_STATE) out.emplace_back(p.WParam, p.LParam);
    return out;
  }
};

uint16_t PortOf(const TSockAddrIn& a) { return __builtin_bswap16(a.sin_port); }

TEST_F(Client, ConnectToReadsTheAddressText) {
  struct Row {
    const char* Text;
    uint16_t DefaultPort;
    uint32_t Address;  // network order
    uint16_t Port;
  };
  const Row rows[] = {
      {"10.1.2.3", 123, 0x0302010Au, 123},     // no port: the default
      {"10.1.2.3:25", 123, 0x0302010Au, 25},   // a port after a dotted address
      {"ntp.test", 37, kNtpTest, 37},          // a name, looked up
      {"ntp.test:65535", 0, kNtpTest, 65535},  // the largest port
      {"255.255.255.255", 9, 0xFFFFFFFFu, 9},  // taken out before the conversion
      {"192.168.100.100", 7, 0x6464A8C0u, 7},  // fifteen characters
      // The address parser reads a dotless word before a colon as a scheme, and the platform
      // reads the digits after it as an address of one part: 0.0.0.25 and 0.0.31.144.
      {"mail:25", 7, 0x19000000u, 7},
      {"localhost:8080", 7, 0x901F0000u, 7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Text);
    C.DefaultPort = row.DefaultPort;
    Fake.HostLookups.clear();
    const TSocket s = C.ConnectTo(row.Text);
    ASSERT_EQ(Fake.Sockets.at(s).Connects.size(), 1u);
    const TSockAddrIn& to = Fake.Sockets.at(s).Connects[0];
    EXPECT_EQ(to.sin_family, afInet);
    EXPECT_EQ(to.sin_addr, row.Address);
    EXPECT_EQ(PortOf(to), row.Port);
    EXPECT_EQ(C.DataSocket()->AddressText(), row.Text);
    // Only a name is looked up.
    EXPECT_EQ(Fake.HostLookups.empty(), String(row.Text).rfind("ntp", 0) != 0);
    C.Disconnect(s);
  }
}

// A host and a port apart: no address parser in between.
TEST_F(Client, ConnectToAHostAndAPort) {
  Fake.Hosts["localhost"] = {0x0100007Fu};
  for (auto [host, address] : {std::pair{"localhost", 0x0100007Fu}, {"10.1.2.3", 0x0302010Au}}) {
    const TSocket s = C.ConnectTo(host, 8080);
    EXPECT_EQ(Fake.Sockets.at(s).Connects.at(0).sin_addr, address);
    EXPECT_EQ(PortOf(Fake.Sockets.at(s).Connects.at(0)), 8080);
    EXPECT_EQ(C.DataSocket()->AddressText(), host);
    C.Disconnect(s);
  }
  for (const char* refused : {"mail", "", "localhost:8080"}) EXPECT_THROW(C.ConnectTo(refused, 80), EIpWinSockError);
}

TEST_F(Client, ConnectToRefusesTextsThatNameNoReachableAddress) {
  struct Row {
    const char* Text;
    const char* Message;
    int Code;              // of an EIpWinSockError; -1: an EConvertError
    const char* LookedUp;  // the name given to the resolver, if any
  };
  const Row rows[] = {
      {"", "Destination address required", 0, nullptr},
      // Above 65535 a port would wrap: 70000 became 4464.
      {"10.1.2.3:70000", "'70000' is not a valid port", -1, nullptr},
      {"ntp.test:99999999999", "'99999999999' is not a valid port", -1, nullptr},
      // Sixteen characters are no dotted address: cut to fifteen they would become one.
      {"192.168.100.1000", "WinSock Error (11001): Host not found, on API 'gethostbyname'", 11001, "192.168.100.1000"},
      // An unknown name went to 0.0.0.0.
      {"nowhere.test", "WinSock Error (11001): Host not found, on API 'gethostbyname'", 11001, "nowhere.test"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Text);
    Fake.HostLookups.clear();
    try {
      C.ConnectTo(row.Text);
      ADD_FAILURE() << "no exception";
    } catch (const EIpWinSockError& e) {
      EXPECT_EQ(e.Message(), row.Message);
      EXPECT_EQ(e.ErrorCode(), row.Code);
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), row.Message);
      EXPECT_EQ(row.Code, -1);
    }
    EXPECT_EQ(Fake.HostLookups, row.LookedUp ? std::vector<String>{row.LookedUp} : std::vector<String>{});
    for (auto& [number, st] : Fake.Sockets) EXPECT_TRUE(st.Connects.empty()) << number;
  }
  // The resolver's own code is passed on.
  Fake.HostLookupError = 11002;
  try {
    C.ConnectTo("nowhere.test");
    ADD_FAILURE() << "no exception";
  } catch (const EIpWinSockError& e) {
    EXPECT_EQ(e.ErrorCode(), 11002);
  }
}

TEST_F(Client, TheSocketIsMadeRegisteredAndBoundAsTheControlSays) {
  // The default local address binds nothing.
  TSocket s = C.ConnectTo("10.1.2.3:80");
  const auto& st = Fake.Sockets.at(s);
  EXPECT_EQ(st.Type, sockStream);
  EXPECT_TRUE(st.Binds.empty());
  EXPECT_EQ(st.SelectWindow, C.WindowHandle());
  EXPECT_EQ(st.SelectMessage, IPM_SOCKET_EVENT);
  EXPECT_EQ(st.SelectEvents, 51);  // FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE
  C.Disconnect(s);
  // A local port binds, before the connect.
  C.LocalAddress.sin_port = __builtin_bswap16(5000);
  s = C.ConnectTo("10.1.2.3:80");
  ASSERT_EQ(Fake.Sockets.at(s).Binds.size(), 1u);
  EXPECT_EQ(PortOf(Fake.Sockets.at(s).Binds[0]), 5000);
  EXPECT_EQ(Fake.Sockets.at(s).Connects.size(), 1u);
}

TEST_F(Client, ABaseSocketRegistersOnlyConnectAndClose) {
  TIpBaseSocket b(&C, InvalidSocket, C.LocalAddress, nullptr, nullptr);
  EXPECT_EQ(Fake.Sockets.at(b.Handle()).SelectEvents, 48);
  EXPECT_EQ(b.LastHandle(), b.Handle());
}

TEST_F(Client, SetSocketOptionsWritesEveryOptionOnOrOff) {
  using O = TFakeWinSock::Option;
  const TIpSockOptionSet all = SockOption(soBroadcast) | SockOption(soDebug) | SockOption(soDontRoute) |
                               SockOption(soKeepAlive) | SockOption(soNoDelay) | SockOption(soReuseAddr);
  struct Row {
    uint8_t Kind;  // the control's socket kind: 0 TCP, 1 UDP
    TIpSockOptionSet Options;
    std::vector<O> Written;
  };
  const Row rows[] = {
      {0, 0, {{6, 1, 0}, {0xFFFF, 8, 0}, {0xFFFF, 1, 0}, {0xFFFF, 0x10, 0}, {0xFFFF, 4, 0}}},
      {0, all, {{6, 1, -1}, {0xFFFF, 8, -1}, {0xFFFF, 1, -1}, {0xFFFF, 0x10, -1}, {0xFFFF, 4, -1}}},
      {0, SockOption(soNoDelay), {{6, 1, -1}, {0xFFFF, 8, 0}, {0xFFFF, 1, 0}, {0xFFFF, 0x10, 0}, {0xFFFF, 4, 0}}},
      {1, SockOption(soBroadcast), {{0xFFFF, 0x20, -1}, {0xFFFF, 1, 0}, {0xFFFF, 0x10, 0}, {0xFFFF, 4, 0}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.Kind) + " " + std::to_string(row.Options));
    C.SetSocketKind(row.Kind);
    TIpBaseSocket b(&C, InvalidSocket, C.LocalAddress, nullptr, nullptr);
    b.SetSocketOptions(row.Options);
    EXPECT_EQ(Fake.Sockets.at(b.Handle()).Options, row.Written);
  }
  // The options the object acts on itself are kept, and switched off again.
  C.SetSocketKind(0);
  TIpBaseSocket b(&C, InvalidSocket, C.LocalAddress, nullptr, nullptr);
  b.SetSocketOptions(SockOption(soDiscardReceived) | SockOption(soEchoReceived) | SockOption(soEchoSent) |
                     SockOption(soStripHighBit) | SockOption(soTelnet));
  EXPECT_TRUE(b.DiscardReceived() && b.EchoReceived() && b.EchoSent() && b.StripHighBit() && b.TelnetMode());
  b.SetSocketOptions(0);
  EXPECT_FALSE(b.DiscardReceived() || b.EchoReceived() || b.EchoSent() || b.StripHighBit() || b.TelnetMode());
}

TEST_F(Client, AFailureAfterTheSocketWasMadeClosesIt) {
  struct Row {
    const char* Name;
    std::function<void()> Arrange;
    const char* Api;
  };
  const Row rows[] = {
      {"bind", [&] { Fake.BindError = 10048; }, "Bind"},
      {"select", [&] { Fake.SelectError = 10093; }, "WsaAsyncSelect"},
      {"setsockopt", [&] { Fake.SetSockOptError = 10042; }, "SetSockOpt"},
  };
  Fake.ReuseClosedNumbers = false;  // each row's socket has a number of its own
  C.LocalAddress.sin_port = __builtin_bswap16(5000);
  C.DataInits().SocketOptions = SockOption(soKeepAlive);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    Fake.BindError = Fake.SelectError = Fake.SetSockOptError = 0;
    row.Arrange();
    const TSocket next = Fake.NextSocket;
    try {
      C.ConnectTo("10.1.2.3:80");
      ADD_FAILURE() << "no exception";
    } catch (const EIpWinSockError& e) {
      EXPECT_NE(e.Message().find(String("on API '") + row.Api + "'"), String::npos) << e.Message();
    }
    EXPECT_FALSE(C.IsActive());
    ASSERT_EQ(Fake.LastMade, next);
    EXPECT_TRUE(Fake.Sockets.at(next).Closed);
    EXPECT_EQ(Fake.Sockets.at(next).Closes, 1);
    EXPECT_TRUE(Fake.Sockets.at(next).Connects.empty());
  }
  // socket() itself failing leaves nothing to close.
  Fake.BindError = Fake.SelectError = Fake.SetSockOptError = 0;
  Fake.SocketError = 10024;
  const int closes = Fake.CloseCalls;
  EXPECT_THROW(C.ConnectTo("10.1.2.3:80"), EIpWinSockError);
  EXPECT_EQ(Fake.CloseCalls, closes);
}

TEST_F(Client, AnAdoptedHandleIsReadAndRegistered) {
  const TSocket s = WinSockAccess->Socket()(afInet, sockStream, 0);
  Fake.Sockets.at(s).LocalName.sin_port = __builtin_bswap16(7000);
  Fake.Sockets.at(s).PeerName.sin_port = __builtin_bswap16(8000);
  TIpDataInits inits;
  inits.SocketOptions = SockOption(soNoDelay);
  {
    TIpDataSocket d(&C, s, C.LocalAddress, &inits, nullptr);
    EXPECT_EQ(d.Handle(), s);
    EXPECT_EQ(d.SockType(), sockStream);
    EXPECT_EQ(Fake.Sockets.at(s).SelectEvents, 51);
    EXPECT_EQ(Fake.Sockets.at(s).Options.front(), (TFakeWinSock::Option{6, 1, -1}));
    EXPECT_EQ(PortOf(d.LocalSockAddr()), 7000);
    EXPECT_EQ(PortOf(d.RemoteSockAddr()), 8000);
  }
  EXPECT_EQ(Fake.Sockets.at(s).Closes, 1);  // the object owned it
  // A handle whose type cannot be read is handed back unclosed.
  const TSocket t = WinSockAccess->Socket()(afInet, sockStream, 0);
  Fake.GetSockOptError = 10038;
  EXPECT_THROW(TIpDataSocket(&C, t, C.LocalAddress, nullptr, nullptr), EIpWinSockError);
  EXPECT_EQ(Fake.Sockets.at(t).Closes, 0);
}

TEST_F(Client, ConnectionUpAndDownReachOnStatusAndTheAttachedWindows) {
  C.AttachWindow(kAttached);
  const TSocket s = C.ConnectTo("10.1.2.3:2323");
  EXPECT_FALSE(C.Connected());
  EXPECT_TRUE(Statuses.empty());  // WSAEWOULDBLOCK is the normal answer
  Event(s, fdConnect);
  EXPECT_TRUE(C.Connected());
  ASSERT_EQ(Statuses.size(), 1u);
  EXPECT_EQ(Statuses[0].Kind, 0);
  EXPECT_EQ(Statuses[0].Socket, s);
  // The record is packed: its fields are compared by value (+), not bound by reference.
  EXPECT_EQ(+Statuses[0].Connection.RemoteAddress, 0x0302010Au);
  EXPECT_EQ(+Statuses[0].Connection.RemotePort, 2323);
  EXPECT_EQ(+Statuses[0].Connection.LocalAddress, 0x0100007Fu);
  EXPECT_EQ(+Statuses[0].Connection.LocalPort, 40000 + static_cast<int>(s));
  EXPECT_EQ(StatePosts(), (std::vector<std::pair<uintptr_t, intptr_t>>{{s, 0x00010001}}));
  // A window attached late learns the state at once.
  Platform.ForeignPosts.clear();
  C.AttachWindow(kAttached);
  EXPECT_EQ(StatePosts(), (std::vector<std::pair<uintptr_t, intptr_t>>{{s, 0x00010001}}));
  EXPECT_THROW(C.ConnectTo("10.1.2.3:2323"), EIpWinSockError);  // already connected
  Platform.ForeignPosts.clear();
  C.Disconnect(s);
  ASSERT_EQ(Statuses.size(), 2u);
  EXPECT_EQ(Statuses[1].Kind, 1);
  EXPECT_EQ(Statuses[1].Socket, s);
  EXPECT_EQ(+Statuses[1].Connection.RemotePort, 2323);
  // Attached twice, told twice.
  EXPECT_EQ(StatePosts(), (std::vector<std::pair<uintptr_t, intptr_t>>{{s, 0x00010002}, {s, 0x00010002}}));
  EXPECT_FALSE(C.IsActive());
  EXPECT_EQ(C.SocketHandle(), InvalidSocket);
  EXPECT_EQ(Fake.Sockets.at(s).Closes, 1);
  EXPECT_TRUE(Errors.empty());
}

// The event log is written while the socket changes state: a failure comes once the step is
// over, after the attached windows were told.
TEST_F(Client, AnEventLogThatCannotBeWrittenIsReportedAfterTheStateMessage) {
  TTempFolder folder("client-eventlog");
  C.EventLog().SetFileName(folder.File("missing/event.log"));
  C.EventLog().SetEnabled(true);
  C.AttachWindow(kAttached);
  std::vector<size_t> toldBefore;
  C.OnError = [&](TObject*, uint32_t, int code, const String&) {
    EXPECT_EQ(code, LogWriteErrorCode);
    toldBefore.push_back(StatePosts().size());
  };
  C.Disconnect(ConnectUp("10.1.2.3:2323"));
  Pump();
  EXPECT_EQ(toldBefore, (std::vector<size_t>{1, 2}));
}

TEST_F(Client, ConnectAnsweringOtherThanWouldBlockRaises) {
  Fake.ConnectError = 10061;
  try {
    C.ConnectTo("10.1.2.3:80");
    ADD_FAILURE() << "no exception";
  } catch (const EIpWinSockError& e) {
    EXPECT_EQ(e.Message(), "WinSock Error (10061): Connection refused, on API 'Connect'");
  }
  // Through a proxy the connect goes to the proxy, under its own name.
  C.SocksServer().Address = "10.9.9.9";
  C.SocksServer().Port = 1081;
  try {
    C.ConnectTo("10.1.2.3:80");
    ADD_FAILURE() << "no exception";
  } catch (const EIpWinSockError& e) {
    EXPECT_EQ(e.Message(), "WinSock Error (10061): Connection refused, on API 'SocksConnect'");
  }
  const auto& st = Fake.Sockets.at(C.SocketHandle());
  ASSERT_EQ(st.Connects.size(), 1u);
  EXPECT_EQ(st.Connects[0].sin_addr, 0x0909090Au);
  EXPECT_EQ(PortOf(st.Connects[0]), 1081);
}

TEST_F(Client, ThroughAProxyTheConnectionIsNotReportedBeforeTheHandshake) {
  C.AttachWindow(kAttached);
  C.SocksServer().Address = "ntp.test";
  const TSocket s = C.ConnectTo("10.1.2.3:80");
  EXPECT_EQ(Fake.Sockets.at(s).Connects[0].sin_addr, kNtpTest);
  EXPECT_EQ(C.DataSocket()->SocksState(), 1);
  Event(s, fdConnect);
  EXPECT_EQ(C.DataSocket()->SocksState(), 2);
  EXPECT_TRUE(Statuses.empty());
  EXPECT_TRUE(StatePosts().empty());
  // A SOCKS 4a proxy looks the target's name up itself.
  C.Disconnect(s);
  C.SocksServer().SocksVersion = svSocks4a;
  Fake.HostLookups.clear();
  const TSocket t = C.ConnectTo("far.away.test:80");
  EXPECT_EQ(Fake.HostLookups, std::vector<String>{"ntp.test"});  // the proxy's name only
  EXPECT_EQ(C.DataSocket()->RemoteSockAddr().sin_addr, 0u);
  EXPECT_EQ(C.DataSocket()->AddressText(), "far.away.test:80");
  EXPECT_EQ(Fake.Sockets.at(t).Connects[0].sin_addr, kNtpTest);
}

TEST_F(Client, ConnectToReusesOnlyASocketThatNeverTriedToConnect) {
  const TSocket made = C.CreateSocket();
  TIpDataSocket* first = C.DataSocket();
  EXPECT_EQ(C.ConnectTo("10.1.2.3:80"), made);
  EXPECT_EQ(C.DataSocket(), first);
  // A refused connection leaves the object unconnected; the next attempt gets a new socket.
  Event(made, fdConnect, 10061);
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(std::get<2>(Errors[0]), "WinSock Error (10061): Connection refused, on API 'Fd_Connect'");
  const TSocket again = C.ConnectTo("10.1.2.3:80");
  EXPECT_NE(again, made);
  EXPECT_EQ(Fake.Sockets.at(made).Closes, 1);
  EXPECT_EQ(Fake.Sockets.at(again).Connects.size(), 1u);
  EXPECT_TRUE(C.DataSocket()->ConnectStarted());
}

TEST_F(Client, DisconnectOfAHandleThatIsNotTheClientsDoesNothing) {
  const TSocket s = ConnectUp("10.1.2.3:80");
  C.Disconnect(s + 1);
  C.Disconnect(InvalidSocket);
  EXPECT_TRUE(C.Connected());
  EXPECT_EQ(Statuses.size(), 1u);
  EXPECT_THROW(C.FreeSocket(s + 1), EIpNoSocketError);
  EXPECT_EQ(C.FindSocket(s + 1, false), nullptr);
}

TEST_F(Client, AClosedHandleIsClosedOnceAndItsNumberIsNotTheNewSocketsToClose) {
  // The peer closes; the status handler connects again at once, and the platform gives the
  // new socket the number that was just closed.
  const TSocket s = ConnectUp("10.1.2.3:80");
  TSocket again = InvalidSocket;
  DuringStatus = [&](uint8_t kind) {
    if (kind == 1) again = C.ConnectTo("10.1.2.3:81");
  };
  Fake.Sockets.at(s).PeerClosed = true;
  Event(s, fdClose);
  ASSERT_EQ(again, s);
  // The old object went; the new one has the number and keeps its socket open.
  ASSERT_TRUE(C.IsActive());
  EXPECT_EQ(C.SocketHandle(), s);
  EXPECT_FALSE(Fake.Sockets.at(s).Closed);
  EXPECT_EQ(Fake.Sockets.at(s).Connects.size(), 1u);
  ASSERT_EQ(Fake.ReusedSockets.size(), 1u);
  EXPECT_EQ(Fake.ReusedSockets[0].second.Closes, 1);
  Event(s, fdConnect);
  EXPECT_TRUE(C.Connected());
  EXPECT_TRUE(Errors.empty());
}

TEST_F(Client, EventsPostedBeforeAHandleClosedDoNotReachTheNextSocketWithItsNumber) {
  struct Row {
    uint32_t Event;
    int Error;
  };
  const Row rows[] = {{fdClose, 0}, {fdConnect, 0}, {fdRead, 0}, {fdClose, 10053}, {fdConnect, 10061}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.Event) + "/" + std::to_string(row.Error));
    Statuses.clear();
    Errors.clear();
    const TSocket s = ConnectUp("10.1.2.3:80");
    Fake.Sockets.at(s).Input = "late";
    Fake.PostEvent(s, row.Event, row.Error);  // on its way when the user disconnects
    C.Disconnect(s);
    const TSocket next = C.ConnectTo("10.1.2.3:81");
    ASSERT_EQ(next, s);
    Pump();
    // The new socket neither closed nor reported up nor read, and no error was reported.
    ASSERT_TRUE(C.IsActive());
    EXPECT_EQ(C.SocketHandle(), next);
    EXPECT_FALSE(C.Connected());
    EXPECT_FALSE(Fake.Sockets.at(next).Closed);
    EXPECT_EQ(Statuses.size(), 2u);  // up and down of the first connection
    EXPECT_TRUE(Errors.empty());
    // Events that WinSock posts for the new socket arrive.
    Event(next, fdConnect);
    EXPECT_TRUE(C.Connected());
    C.Disconnect(next);
  }
}

TEST_F(Client, ConnectToAfterTheSocketClosedItselfMakesAFreshOne) {
  const TSocket s = ConnectUp("10.1.2.3:80");
  C.CloseAfterSent();  // closes at once: nothing is queued
  EXPECT_FALSE(C.Connected());
  EXPECT_TRUE(C.IsActive());  // freed through IPM_SOCKET_FREE, which is on its way
  const TSocket next = C.ConnectTo("10.1.2.3:81");
  EXPECT_EQ(next, s);
  EXPECT_EQ(Fake.Sockets.at(next).Connects.size(), 1u);
  Pump();  // IPM_SOCKET_FREE of the closed object
  ASSERT_TRUE(C.IsActive());
  EXPECT_EQ(C.SocketHandle(), next);
  EXPECT_FALSE(Fake.Sockets.at(next).Closed);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(Client, AnExceptionWhileClosingDoesNotKeepTheSocketObject) {
  // The status handler raises when the connection goes down.
  struct Row {
    const char* Path;
    std::function<void(TSocket)> Close;
  };
  TApplication app;
  std::vector<String> shown;
  app.OnException = [&](TObject*, const std::exception& e) { shown.push_back(ExceptionMessage(e)); };
  const Row rows[] = {
      {"Disconnect", [&](TSocket s) { EXPECT_THROW(C.Disconnect(s), Exception); }},
      {"FD_CLOSE",
       [&](TSocket s) {
         Event(s, fdClose);
         EXPECT_EQ(shown, std::vector<String>{"status handler failed"});
       }},
      {"CloseAfter",
       [&](TSocket) {
         EXPECT_THROW(C.CloseAfterSent(), Exception);
         Pump();  // IPM_SOCKET_FREE
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Path);
    shown.clear();
    DuringStatus = nullptr;
    const TSocket s = ConnectUp("10.1.2.3:80");
    DuringStatus = [](uint8_t kind) {
      if (kind == 1) throw Exception("status handler failed");
    };
    row.Close(s);
    EXPECT_FALSE(C.IsActive());
    EXPECT_EQ(Fake.Sockets.at(s).Closes, 1);
  }
}

// A control whose socket object raises while it closes.
struct ThrowingCloseControl : TIpSockControl {
  using TIpSockControl::TIpSockControl;
  struct Sock : TIpSocket {
    void HandleClose() override { throw EIpWinSockError(10053, "Recv"); }
  };
  std::unique_ptr<Sock> Object = std::make_unique<Sock>();
  TIpSocket* FindSocket(TSocket s, bool raise) override {
    return s == 5 && Object ? Object.get() : TIpSockControl::FindSocket(s, raise);
  }
  void FreeSocket(TSocket) override { Object.reset(); }
};

TEST(SockControlClose, AnObjectThatRaisesWhileClosingIsFreedAllTheSame) {
  TFakePlatform platform;
  TFakeWinSockModule ws;
  ThrowingCloseControl c(nullptr);
  std::vector<String> errors;
  c.OnError = [&](TObject*, uint32_t, int, const String& text) { errors.push_back(text); };
  WindowSystem().Post(c.WindowHandle(), IPM_SOCKET_EVENT, 5, fdClose);
  platform.ProcessMessages();
  EXPECT_EQ(c.Object, nullptr);
  EXPECT_EQ(errors, std::vector<String>{"WinSock Error (10053): Software caused connection abort, on API 'Recv'"});
}

TEST_F(Client, SendingWithoutADataSocketRaisesNotConnected) {
  try {
    C.SendText("x");
    ADD_FAILURE() << "no exception";
  } catch (const EIpWinSockError& e) {
    EXPECT_EQ(e.ErrorCode(), 10057);
    EXPECT_EQ(e.Message(), "WinSock Error (10057): Socket is not connected, on API 'send'");
  }
  EXPECT_THROW(C.SendBytes("x", 1), EIpWinSockError);
  EXPECT_THROW(C.SendStream(std::make_unique<TMemoryStream>("x")), EIpWinSockError);
  EXPECT_THROW(C.CloseAfterSent(), EIpWinSockError);
}

TEST_F(Client, DataQueuedWhileConnectingGoesOutOnceWritable) {
  const TSocket s = C.ConnectTo("10.1.2.3:80");
  EXPECT_EQ(C.SendText("HELO\r\n"), 1);
  EXPECT_EQ(C.SendBytes("\x00\xFF", 2), 2);
  EXPECT_EQ(Fake.Sockets.at(s).Output, "");
  Event(s, fdConnect);
  Event(s, fdWrite);
  EXPECT_EQ(Fake.Sockets.at(s).Output, String("HELO\r\n\x00\xFF", 8));
  // Writable and idle: out at once.
  EXPECT_EQ(C.SendText("QUIT\r\n"), 0);
  EXPECT_EQ(Fake.Sockets.at(s).Output, String("HELO\r\n\x00\xFFQUIT\r\n", 14));
}

}  // namespace
