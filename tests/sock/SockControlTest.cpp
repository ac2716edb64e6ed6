#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "sock/IpSockControl.h"
#include "toolkit/Application.h"

namespace {

// A socket object that records which of its handlers ran.
struct RecordingSocket : TIpSocket {
  std::vector<String>* Log;
  explicit RecordingSocket(std::vector<String>* log) : Log(log) {}
  void HandleRead() override { Log->push_back("HandleRead"); }
  void HandleWrite() override { Log->push_back("HandleWrite"); }
  void HandleOutOfBand() override { Log->push_back("HandleOutOfBand"); }
  void HandleConnect() override { Log->push_back("HandleConnect"); }
  void HandleClose() override { Log->push_back("HandleClose"); }
  void SendWindowSize() override { Log->push_back("SendWindowSize"); }
};

// A control with one socket object per handle, as a client has.
struct Control : TIpSockControl {
  using TIpSockControl::TIpSockControl;
  std::vector<String> Log;
  std::map<TSocket, std::unique_ptr<RecordingSocket>> Sockets;
  std::function<void()> ThrowFromRead;
  std::vector<uint32_t> Elapsed;
  bool Active = false;

  TIpSocket* FindSocket(TSocket s, bool raiseIfMissing) override {
    auto it = Sockets.find(s);
    if (it != Sockets.end()) return it->second.get();
    return TIpSockControl::FindSocket(s, raiseIfMissing);
  }
  void FreeSocket(TSocket s) override {
    Log.push_back("FreeSocket");
    Sockets.erase(s);
  }
  bool IsActive() override { return Active; }
  void NotifyAccept(TSocket) override { Log.push_back("NotifyAccept"); }
  void NotifyRead(TSocket s) override {
    if (ThrowFromRead) ThrowFromRead();
    TIpSockControl::NotifyRead(s);
  }
  void TimerElapsed(uint32_t e) override { Elapsed.push_back(e); }
  void Add(TSocket s) { Sockets[s] = std::make_unique<RecordingSocket>(&Log); }
};

int32_t Event(uint32_t code, uint32_t error = 0) { return static_cast<int32_t>(code | (error << 16)); }

class SockControl : public ::testing::Test {
 protected:
  TFakePlatform Platform;
  TFakeWinSockModule WinSock;
  Control C{nullptr};
  std::vector<std::tuple<uint32_t, int, String>> Errors;
  void SetUp() override {
    C.OnError = [this](TObject* sender, uint32_t socket, int code, const String& text) {
      EXPECT_EQ(sender, &C);
      Errors.emplace_back(socket, code, text);
    };
  }
  void Post(uint32_t msg, uint32_t wparam, int32_t lparam) {
    WindowSystem().Post(C.WindowHandle(), msg, wparam, lparam);
    Platform.ProcessMessages();
  }
};

TEST_F(SockControl, EachEventWithoutErrorReachesItsHook) {
  C.Add(7);
  const std::pair<uint32_t, const char*> rows[] = {{fdRead, "HandleRead"},
                                                   {fdWrite, "HandleWrite"},
                                                   {fdOob, "HandleOutOfBand"},
                                                   {fdAccept, "NotifyAccept"},
                                                   {fdConnect, "HandleConnect"}};
  for (auto [code, hook] : rows) {
    C.Log.clear();
    Post(IPM_SOCKET_EVENT, 7, Event(code));
    EXPECT_EQ(C.Log, std::vector<String>{hook}) << code;
  }
  C.Log.clear();
  Post(IPM_SOCKET_EVENT, 7, Event(64));  // not an FD_ bit: ignored
  EXPECT_TRUE(C.Log.empty());
  Post(IPM_SOCKET_EVENT, 7, Event(fdClose));
  EXPECT_EQ(C.Log, (std::vector<String>{"HandleClose", "FreeSocket"}));
  // After the close the handle has no socket object: later events are ignored.
  C.Log.clear();
  Post(IPM_SOCKET_EVENT, 7, Event(fdRead));
  EXPECT_TRUE(C.Log.empty());
  EXPECT_TRUE(Errors.empty());
}

TEST_F(SockControl, EventWithErrorGoesToOnErrorOnly) {
  C.Add(7);
  Post(IPM_SOCKET_EVENT, 7, Event(fdRead, 10054));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0],
            std::make_tuple(7u, 10054, String("WinSock Error (10054): Connection reset by peer, on API 'Fd_Read'")));
  EXPECT_TRUE(C.Log.empty());
}

TEST_F(SockControl, CloseWithErrorReportsThenClosesAndFrees) {
  C.Add(9);
  Post(IPM_SOCKET_EVENT, 9, Event(fdClose, 10053));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(std::get<2>(Errors[0]), "WinSock Error (10053): Software caused connection abort, on API 'Fd_Close'");
  EXPECT_EQ(C.Log, (std::vector<String>{"HandleClose", "FreeSocket"}));
  EXPECT_EQ(C.Sockets.count(9), 0u);
}

TEST_F(SockControl, UnknownEventWithErrorHasAnEmptyApiName) {
  Post(IPM_SOCKET_EVENT, 3, Event(0x40, 10061));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(std::get<2>(Errors[0]), "WinSock Error (10061): Connection refused, on API ''");
}

TEST_F(SockControl, WinSockExceptionInHookBecomesOnErrorOtherGoesToApplication) {
  TApplication app;
  std::vector<String> shown;
  app.OnException = [&](TObject* sender, const std::exception& e) {
    EXPECT_EQ(sender, &C);
    shown.push_back(ExceptionMessage(e));
  };
  C.ThrowFromRead = [] { throw EIpWinSockError(10035, "Recv"); };
  Post(IPM_SOCKET_EVENT, 5, Event(fdRead));
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(
      Errors[0],
      std::make_tuple(5u, 10035, String("WinSock Error (10035): Resource temporarily unavailable, on API 'Recv'")));
  C.ThrowFromRead = [] { throw Exception("boom"); };
  Post(IPM_SOCKET_EVENT, 5, Event(fdRead));
  EXPECT_EQ(shown, std::vector<String>{"boom"});
  EXPECT_EQ(Errors.size(), 1u);
}

TEST_F(SockControl, UnassignedOnErrorDropsTheError) {
  TApplication app;
  std::vector<String> shown;
  app.OnException = [&](TObject*, const std::exception& e) { shown.push_back(ExceptionMessage(e)); };
  C.OnError = nullptr;
  C.Add(5);
  // Neither the socket's handler nor the application hears of the failed event.
  Post(IPM_SOCKET_EVENT, 5, Event(fdRead, 10054));
  EXPECT_TRUE(C.Log.empty());
  EXPECT_TRUE(shown.empty());
  // The same for a WinSock failure raised by a handler, which would go to OnError.
  C.ThrowFromRead = [] { throw EIpWinSockError(10035, "Recv"); };
  Post(IPM_SOCKET_EVENT, 5, Event(fdRead));
  EXPECT_TRUE(shown.empty());
  // The control goes on: a later event without error reaches its handler.
  C.ThrowFromRead = nullptr;
  Post(IPM_SOCKET_EVENT, 5, Event(fdRead));
  EXPECT_EQ(C.Log, std::vector<String>{"HandleRead"});
}

TEST_F(SockControl, OtherMessagesAndTheSessionQuery) {
  C.Add(4);
  Post(IPM_SEND_WINDOW_SIZE, 4, 0);
  EXPECT_EQ(C.Log, std::vector<String>{"SendWindowSize"});
  C.Log.clear();
  Post(IPM_SOCKET_FREE, 4, 0);
  EXPECT_EQ(C.Log, std::vector<String>{"FreeSocket"});
  EXPECT_EQ(WindowSystem().Send(C.WindowHandle(), wmQueryEndSession, 0, 0), 1);
  EXPECT_EQ(WindowSystem().Send(C.WindowHandle(), 0x4321, 0, 0), 0);
}

TEST_F(SockControl, MessageParametersArriveAtPointerWidth) {
  // Messages carry pointers and socket handles, which are 64 bits wide on 64-bit Windows: a
  // handler must see the parameters exactly as they were posted or sent.
  constexpr uint32_t kProbe = 0x1297;
  struct Probing : TIpSockControl {
    using TIpSockControl::TIpSockControl;
    std::vector<std::pair<uintptr_t, intptr_t>> Seen;
    bool Dispatch(TMessage& m) override {
      if (m.Msg != kProbe) return TIpSockControl::Dispatch(m);
      Seen.emplace_back(m.WParam, m.LParam);
      return true;
    }
  } probing(nullptr);
  int object = 0;
  const auto pointer = reinterpret_cast<uintptr_t>(&object);
  const uintptr_t wide = static_cast<uintptr_t>(0x123456789ABCDEF0ull);  // the lower half where 32 bits
  const intptr_t negative = -static_cast<intptr_t>(wide >> 8);
  WindowSystem().Post(probing.WindowHandle(), kProbe, wide, static_cast<intptr_t>(pointer));
  WindowSystem().Post(probing.WindowHandle(), kProbe, pointer, negative);
  Platform.ProcessMessages();
  WindowSystem().Send(probing.WindowHandle(), kProbe, wide, negative);
  const std::vector<std::pair<uintptr_t, intptr_t>> expected = {
      {wide, static_cast<intptr_t>(pointer)}, {pointer, negative}, {wide, negative}};
  EXPECT_EQ(probing.Seen, expected);
}

TEST_F(SockControl, TimerRunsAt500AndReportsElapsedTicks) {
  EXPECT_EQ(C.TimerInterval(), 500u);
  EXPECT_EQ(Platform.TimersOf(C.WindowHandle()), (std::map<uint32_t, uint32_t>{{1, 500}}));
  Platform.Advance(1000);
  EXPECT_EQ(C.Elapsed, (std::vector<uint32_t>{500, 500}));
}

TEST_F(SockControl, TimerIntervalSetterRestartsOnlyOnChange) {
  int starts = Platform.TimerStarts;
  C.SetTimerInterval(500);
  EXPECT_EQ(Platform.TimerStarts, starts);
  C.SetTimerInterval(200);
  EXPECT_EQ(Platform.TimerStarts, starts + 1);
  EXPECT_EQ(C.LastTick(), Platform.Tick);
  C.SetTimerInterval(0);
  EXPECT_TRUE(Platform.TimersOf(C.WindowHandle()).empty());
  Platform.TimersRefused = true;
  try {
    C.SetTimerInterval(300);
    FAIL() << "no exception";
  } catch (const EOutOfResources& e) {
    EXPECT_EQ(e.Message(), "Not enough system timers available");
  }
}

TEST_F(SockControl, TickCountWrapGivesTheDocumentedElapsed) {
  C.SetTimerInterval(0);
  Platform.Tick = 0xFFFFFFF0u;
  C.SetTimerInterval(100);  // LastTick := 0xFFFFFFF0
  Platform.Tick = 0x10;
  C.DoTimer();
  ASSERT_EQ(C.Elapsed.size(), 1u);
  EXPECT_EQ(C.Elapsed[0], 31u);
}

TEST_F(SockControl, ExceptionInTimerStopsTheTimerAndReachesTheApplication) {
  struct Failing : Control {
    using Control::Control;
    void TimerElapsed(uint32_t) override { throw Exception("tick failed"); }
  } f(nullptr);
  TApplication app;
  std::vector<String> shown;
  app.OnException = [&](TObject* sender, const std::exception& e) {
    EXPECT_EQ(sender, &f);
    shown.push_back(ExceptionMessage(e));
  };
  Platform.Advance(1600);
  EXPECT_EQ(shown, std::vector<String>{"tick failed"});
  EXPECT_EQ(f.TimerInterval(), 0u);
  EXPECT_TRUE(Platform.TimersOf(f.WindowHandle()).empty());
}

TEST_F(SockControl, SocketKindAndFindSocket) {
  EXPECT_EQ(C.ProtocolName(), "tcp");
  EXPECT_EQ(C.SocketType(), 1);
  C.SetSocketKind(1);
  EXPECT_EQ(C.ProtocolName(), "udp");
  EXPECT_EQ(C.SocketType(), 2);
  C.SetSocketKind(7);
  EXPECT_EQ(C.SocketKind(), 7);
  EXPECT_EQ(C.ProtocolName(), "udp");
  C.Active = true;
  try {
    C.SetSocketKind(0);
    FAIL() << "no exception";
  } catch (const EIpActiveError& e) {
    EXPECT_EQ(e.Message(), "Cannot set property on an active socket");
  }
  EXPECT_EQ(C.SocketKind(), 7);
  TIpSockControl plain(nullptr);
  EXPECT_EQ(plain.FindSocket(1, false), nullptr);
  try {
    plain.FindSocket(1, true);
    FAIL() << "no exception";
  } catch (const EIpNoSocketError& e) {
    EXPECT_EQ(e.Message(), "Socket not assigned");
  }
}

TEST_F(SockControl, DefaultsAfterConstruction) {
  TIpSockControl plain(nullptr);
  EXPECT_EQ(plain.StatusKinds, 0x07);
  EXPECT_EQ(plain.LocalAddress.sin_family, afInet);
  EXPECT_EQ(plain.LocalAddress.sin_addr, 0u);
  EXPECT_EQ(plain.DataInits().ReceiveBufferSize, 4096);
  EXPECT_EQ(plain.DataInits().LineTerminator, ltCRLF);
  EXPECT_EQ(plain.DataInits().LogOptions, LogOption(loHighData) | LogOption(loTelnet));
  EXPECT_EQ(plain.DebugLog().FileName(), "debug.log");
  EXPECT_FALSE(plain.DebugLog().Enabled());
  EXPECT_EQ(plain.EventLog().FileName(), "event.log");
  EXPECT_EQ(plain.EventLog().DateTimeFormat(), "yyyy.mm.dd hh:nn:ss");
  EXPECT_EQ(plain.WinSockVersion(), 0x0202);
  EXPECT_EQ(plain.WinSockDescription(), "Fake WinSock");
}

TEST_F(SockControl, HostEntriesAndNames) {
  WinSock.Fake.Hosts["one.example"] = {0x0100007F};
  WinSock.Fake.Hosts["empty.example"] = {};
  EXPECT_EQ(C.HostToAddress("one.example"), 0x0100007Fu);
  EXPECT_EQ(C.HostToAddress("nowhere.example"), 0u);
  EXPECT_EQ(C.HostToAddress("empty.example"), 0u);  // empty list: no address, no crash
  THostEnt* one = WinSockAccess->GetHostByName()("one.example");
  EXPECT_EQ(C.HostEntAddressCount(one), 1);
  EXPECT_EQ(C.HostEntName(one), "one.example");
  EXPECT_THROW(C.HostEntAddress(one, 1), EIpIndexError);
  EXPECT_THROW(C.HostEntAddress(one, -1), EIpIndexError);  // never reads before the list
  EXPECT_EQ(C.HostEntAddress(nullptr, 3), 0u);
  EXPECT_EQ(C.HostEntAddressCount(nullptr), 0);
  EXPECT_EQ(C.TextToAddress("127.0.0.1"), 0x0100007Fu);
  EXPECT_EQ(C.TextToAddress("127.0.0.1  junk after fifteen"), 0xFFFFFFFFu);
  EXPECT_EQ(C.TextToAddress("host.name"), 0xFFFFFFFFu);
  EXPECT_EQ(C.AddressToText(0x0100007F), "127.0.0.1");
  EXPECT_EQ(C.ServEntPort(nullptr), 0);
  EXPECT_EQ(C.ServEntName(nullptr), "");
}

TEST_F(SockControl, TextToAddressReadsTheFirstFifteenCharactersOnly) {
  struct Case {
    const char* Text;
    const char* Given;  // what the platform's conversion receives
    uint32_t Address;
  };
  const Case cases[] = {
      {"127.0.0.1", "127.0.0.1", 0x0100007Fu},
      {"255.255.255.254", "255.255.255.254", 0xFEFFFFFFu},   // exactly fifteen
      {"255.255.255.2541", "255.255.255.254", 0xFEFFFFFFu},  // the sixteenth goes
      {"127.0.0.1  junk after fifteen", "127.0.0.1  junk", 0xFFFFFFFFu},
      {"", "", 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    WinSock.Fake.AddressTexts.clear();
    EXPECT_EQ(C.TextToAddress(c.Text), c.Address);
    EXPECT_EQ(WinSock.Fake.AddressTexts, std::vector<String>{c.Given});
  }
}

TEST_F(SockControl, ByteOrderPutsTheMostSignificantByteFirstOnTheWire) {
  // Compared as the bytes in memory, so that a conversion that changes nothing cannot pass.
  auto bytes = [](auto value) {
    std::vector<uint8_t> out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
  };
  EXPECT_EQ(bytes(C.HostToNetLong(0x12345678)), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(bytes(C.HostToNetShort(0x1234)), (std::vector<uint8_t>{0x12, 0x34}));
  EXPECT_EQ(bytes(C.HostToNetShort(123)), (std::vector<uint8_t>{0x00, 0x7B}));
  const uint8_t wireLong[4] = {0x12, 0x34, 0x56, 0x78}, wireShort[2] = {0x12, 0x34};
  uint32_t netLong;
  uint16_t netShort;
  std::memcpy(&netLong, wireLong, 4);
  std::memcpy(&netShort, wireShort, 2);
  EXPECT_EQ(C.NetToHostLong(netLong), 0x12345678u);
  EXPECT_EQ(C.NetToHostShort(netShort), 0x1234u);
  EXPECT_EQ(C.NetToHostLong(C.HostToNetLong(0x12345678)), 0x12345678u);
}

TEST_F(SockControl, AttachedWindowsAndDestructionStopsTheTimer) {
  THandle wnd;
  {
    TIpSockControl temp(nullptr);
    wnd = temp.WindowHandle();
    temp.AttachWindow(0x77);
    temp.AttachWindow(0x78);
    temp.DetachWindow(0x77);
    EXPECT_EQ(temp.AttachedWindows, std::vector<THandle>{0x78});
  }
  EXPECT_TRUE(Platform.TimersOf(wnd).empty());
}

}  // namespace
