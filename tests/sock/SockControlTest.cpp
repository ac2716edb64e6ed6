#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "fakes/AddressForms.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeWinSock.h"
#include "fakes/TempFolder.h"
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
  std::function<void()> ThrowFromWindowSize;
  void SendWindowSize() override {
    if (ThrowFromWindowSize) ThrowFromWindowSize();
    Log->push_back("SendWindowSize");
  }
  void SetStatistics(const TIpSockStatRec& s) { FStatistics = s; }
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
  void Post(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
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
  // The same for the window size, which the control sends outside any socket event.
  C.Add(6);
  C.Sockets[6]->ThrowFromWindowSize = [] { throw EIpWinSockError(10054, "Send"); };
  Post(IPM_SEND_WINDOW_SIZE, 6, 0);
  ASSERT_EQ(Errors.size(), 2u);
  EXPECT_EQ(std::get<1>(Errors[1]), 10054);
  C.Sockets[6]->ThrowFromWindowSize = [] { throw Exception("bang"); };
  Post(IPM_SEND_WINDOW_SIZE, 6, 0);
  EXPECT_EQ(shown, (std::vector<String>{"boom", "bang"}));
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

TEST_F(SockControl, SocketFreeAndWindowSizeReachOnlyTheSocketOfTheirHandle) {
  struct Row {
    uint32_t Msg;
    uintptr_t Socket;
    std::vector<String> Log;  // what the control and its socket objects did
    size_t SocketsLeft;
  };
  C.Add(4);
  C.Add(5);
  const Row rows[] = {
      {IPM_SEND_WINDOW_SIZE, 5, {"SendWindowSize"}, 2},
      {IPM_SEND_WINDOW_SIZE, 9, {}, 2},  // no socket object: ignored
      {IPM_SOCKET_FREE, 5, {"FreeSocket"}, 1},
      {IPM_SEND_WINDOW_SIZE, 5, {}, 1},  // freed: nothing left to send through
      {IPM_SEND_WINDOW_SIZE, 4, {"SendWindowSize"}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.Msg) + " " + std::to_string(row.Socket));
    C.Log.clear();
    Post(row.Msg, row.Socket, 0);
    EXPECT_EQ(C.Log, row.Log);
    EXPECT_EQ(C.Sockets.size(), row.SocketsLeft);
  }
  EXPECT_EQ(C.Sockets.count(4), 1u);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(SockControl, MessageParametersArriveAtPointerWidth) {
  // Messages carry pointers and socket handles, which are 64 bits wide on 64-bit Windows: a
  // handler must see the parameters exactly as they were posted or sent.
  constexpr uint32_t kProbe = wmApp + 0x100;
  static_assert(!IsPrivateMessage(kProbe));
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
  EXPECT_EQ(+plain.LocalAddress.sin_family, afInet);  // packed: compared by value
  EXPECT_EQ(+plain.LocalAddress.sin_addr, 0u);
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

TEST_F(SockControl, TextToAddressTakesNoTextLongerThanFifteenCharacters) {
  struct Case {
    const char* Text;
    const char* Given;  // what the platform's conversion receives; nullptr: it is not asked
    uint32_t Address;
  };
  const Case cases[] = {
      {"127.0.0.1", "127.0.0.1", 0x0100007Fu},
      {"255.255.255.254", "255.255.255.254", 0xFEFFFFFFu},  // exactly fifteen
      // Longer texts are no dotted address: cut to fifteen they could become one.
      {"255.255.255.2541", nullptr, 0xFFFFFFFFu},
      {"192.168.100.1000", nullptr, 0xFFFFFFFFu},
      {"127.0.0.1  junk after fifteen", nullptr, 0xFFFFFFFFu},
      {"", "", 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    WinSock.Fake.AddressTexts.clear();
    EXPECT_EQ(C.TextToAddress(c.Text), c.Address);
    EXPECT_EQ(WinSock.Fake.AddressTexts, c.Given ? std::vector<String>{c.Given} : std::vector<String>{});
  }
  for (const TAddressForm& f : kAddressForms) EXPECT_EQ(C.TextToAddress(f.Text), f.Address) << f.Text;
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

namespace {

// What the lookup events reported, as text: "address 0x..", "name ..", "port ..", "service ..",
// "error <code> <text>", each with its handle.
struct LookupControl : SockControl {
  std::vector<std::pair<uintptr_t, String>> Results;
  void SetUp() override {
    SockControl::SetUp();
    auto keep = [this](uintptr_t handle, const String& what) { Results.emplace_back(handle, what); };
    C.OnLookupAddress = [this, keep](TObject* sender, uintptr_t h, uint32_t a) {
      EXPECT_EQ(sender, &C);
      char text[16];
      std::snprintf(text, sizeof text, "%08X", a);
      keep(h, String("address ") + text);
    };
    C.OnLookupName = [keep](TObject*, uintptr_t h, const String& n) { keep(h, "name " + n); };
    C.OnLookupPort = [keep](TObject*, uintptr_t h, uint16_t p) { keep(h, "port " + std::to_string(p)); };
    C.OnLookupService = [keep](TObject*, uintptr_t h, const String& n) { keep(h, "service " + n); };
    C.OnErrorReply = [this, keep](TObject* sender, uintptr_t h, int code, const String& text) {
      EXPECT_EQ(sender, &C);
      keep(h, "error " + std::to_string(code) + " " + text);
    };
    WinSock.Fake.Hosts["localhost"] = {0x0100007F};
    WinSock.Fake.Hosts["gateway.example"] = {0x0101A8C0, 0x0201A8C0};
    WinSock.Fake.Services["ntp/udp"] = 123;
    WinSock.Fake.Services["http/tcp"] = 80;
  }
  // Starts one lookup of each kind by its row's number.
  uintptr_t Start(int kind, const String& name, uint32_t number, const String& protocol) {
    switch (kind) {
      case 0: return C.LookupAddress(name);
      case 1: return C.LookupName(number);
      case 2: return C.LookupPort(name, protocol);
      default: return C.LookupService(static_cast<uint16_t>(number), protocol);
    }
  }
};

TEST_F(LookupControl, EachKindCompletesThroughItsEvent) {
  struct Row {
    int Kind;
    const char* Name;
    uint32_t Number;
    const char* Protocol;
    uint32_t Passed;  // the number as the platform receives it
    const char* Result;
  };
  const Row rows[] = {
      {0, "localhost", 0, "", 0, "address 0100007F"},
      {0, "gateway.example", 0, "", 0, "address 0101A8C0"},  // the first of two
      {1, "", 0x0201A8C0, "", 0x0201A8C0, "name gateway.example"},
      {2, "ntp", 0, "udp", 0, "port 123"},
      {3, "", 80, "tcp", 0x5000, "service http"},  // the port in network order
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Result);
    Results.clear();
    uintptr_t handle = Start(row.Kind, row.Name, row.Number, row.Protocol);
    ASSERT_EQ(WinSock.Fake.AsyncLookups.size(), 1u);
    const auto& started = WinSock.Fake.AsyncLookups[0];
    EXPECT_EQ(started.Handle, handle);
    EXPECT_EQ(started.Window, C.WindowHandle());
    EXPECT_EQ(started.Message, IPM_LOOKUP_DONE);
    EXPECT_EQ(started.Kind, row.Kind);
    EXPECT_EQ(started.Name, row.Name);
    EXPECT_EQ(started.Protocol, row.Protocol);
    EXPECT_EQ(started.Number, row.Passed);
    EXPECT_EQ(started.BufferLength, 1024);
    EXPECT_EQ(C.PendingLookups.Handles(), std::vector<uintptr_t>{handle});
    WinSock.Fake.CompleteLookup(handle);
    Platform.ProcessMessages();
    EXPECT_EQ(Results, (std::vector<std::pair<uintptr_t, String>>{{handle, row.Result}}));
    EXPECT_EQ(C.PendingLookups.Count(), 0u);
  }
}

TEST_F(LookupControl, AFailedLookupReachesOnErrorReplyWithItsApiName) {
  struct Row {
    int Kind;
    const char* Name;
    uint32_t Number;
    int Error;  // 0: the fake's own answer for an unknown entry
    const char* Result;
  };
  const Row rows[] = {
      {0, "nowhere.example", 0, 0, "error 11001 WinSock Error (11001): Host not found, on API 'WsaAsyncGetHostByName'"},
      {1, "", 0x0A00000A, 0, "error 11001 WinSock Error (11001): Host not found, on API 'WsaAsyncGetHostByAddr'"},
      {2, "gopher", 0, 0,
       "error 11004 WinSock Error (11004): Valid name, no data record of requested type, on API "
       "'WsaAsyncGetServByName'"},
      {3, "", 7, 10055, "error 10055 WinSock Error (10055): No buffer space available, on API 'WsaAsyncGetServByPort'"},
      {0, "localhost", 0, 10111, "error 10111 WinSock Error (10111): Lookup cancelled, on API 'WsaAsyncGetHostByName'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Result);
    Results.clear();
    uintptr_t handle = Start(row.Kind, row.Name, row.Number, "tcp");
    WinSock.Fake.CompleteLookup(handle, row.Error);
    Platform.ProcessMessages();
    EXPECT_EQ(Results, (std::vector<std::pair<uintptr_t, String>>{{handle, row.Result}}));
    EXPECT_EQ(C.PendingLookups.Count(), 0u);
  }
}

TEST_F(LookupControl, ACompletionFindsItsOwnRecordAmongSeveral) {
  uintptr_t first = C.LookupAddress("localhost");
  uintptr_t second = C.LookupService(123, "udp");
  uintptr_t third = C.LookupAddress("gateway.example");
  WinSock.Fake.CompleteLookup(second);
  Platform.ProcessMessages();
  EXPECT_EQ(C.PendingLookups.Handles(), (std::vector<uintptr_t>{first, third}));
  WinSock.Fake.CompleteLookup(third);
  WinSock.Fake.CompleteLookup(first);
  Platform.ProcessMessages();
  EXPECT_EQ(Results, (std::vector<std::pair<uintptr_t, String>>{
                         {second, "service ntp"}, {third, "address 0101A8C0"}, {first, "address 0100007F"}}));
}

TEST_F(LookupControl, ACompletionOfAnUnknownHandleChangesNothing) {
  uintptr_t pending = C.LookupAddress("localhost");
  for (uintptr_t stray : {pending + 1, uintptr_t(0)}) {
    Post(IPM_LOOKUP_DONE, stray, 0);
    Post(IPM_LOOKUP_DONE, stray, 11001 << 16);
  }
  EXPECT_TRUE(Results.empty());
  EXPECT_EQ(C.PendingLookups.Handles(), std::vector<uintptr_t>{pending});
  // The same handle twice: only the first completion counts.
  WinSock.Fake.CompleteLookup(pending);
  Platform.ProcessMessages();
  Post(IPM_LOOKUP_DONE, pending, 0);
  EXPECT_EQ(Results.size(), 1u);
}

TEST_F(LookupControl, AHookThatRaisesStillFreesTheRecord) {
  C.OnLookupAddress = [](TObject*, uintptr_t, uint32_t) { throw Exception("handler failed"); };
  C.OnErrorReply = [](TObject*, uintptr_t, int, const String&) { throw Exception("error handler failed"); };
  uintptr_t ok = C.LookupAddress("localhost");
  uintptr_t failing = C.LookupAddress("nowhere.example");
  WinSock.Fake.CompleteLookup(ok);
  EXPECT_THROW(Platform.ProcessMessages(), Exception);  // no guard of its own: on to the message loop
  EXPECT_EQ(C.PendingLookups.Handles(), std::vector<uintptr_t>{failing});
  WinSock.Fake.CompleteLookup(failing);
  EXPECT_THROW(Platform.ProcessMessages(), Exception);
  EXPECT_EQ(C.PendingLookups.Count(), 0u);
}

TEST_F(LookupControl, ALookupThatCannotStartRaisesAndKeepsNothing) {
  WinSock.Fake.AsyncStartError = 10055;
  try {
    C.LookupPort("ntp", "udp");
    FAIL() << "no exception";
  } catch (const EIpWinSockError& e) {
    EXPECT_EQ(e.ErrorCode(), 10055);
    EXPECT_EQ(e.Message(), "WinSock Error (10055): No buffer space available, on API 'WsaAsyncGetServByName'");
  }
  EXPECT_EQ(C.PendingLookups.Count(), 0u);
}

TEST_F(LookupControl, ALookupThatRunsOnAfterItsCancellationWritesNoFreedMemory) {
  WinSock.Fake.CancelStopsLookups = false;
  std::vector<uintptr_t> handles;
  {
    Control doomed(nullptr);
    handles = {doomed.LookupAddress("localhost"), doomed.LookupService(123, "udp")};
  }
  EXPECT_EQ(WinSock.Fake.Cancelled, (std::vector<uintptr_t>{handles[1], handles[0]}));
  for (uintptr_t h : handles) WinSock.Fake.CompleteLookup(h);  // writes into the lookups' buffers
  Platform.ProcessMessages();
  EXPECT_TRUE(Results.empty());
}

TEST_F(LookupControl, DestructionCancelsPendingLookupsLastToFirst) {
  std::vector<uintptr_t> handles;
  {
    Control doomed(nullptr);
    handles = {doomed.LookupAddress("localhost"), doomed.LookupName(0x0100007F), doomed.LookupPort("ntp", "udp")};
    WinSock.Fake.CompleteLookup(handles[1]);  // completed, but its message is not handled yet
  }
  EXPECT_EQ(WinSock.Fake.Cancelled, (std::vector<uintptr_t>{handles[2], handles[1], handles[0]}));
  EXPECT_TRUE(WinSock.Fake.AsyncLookups.empty());
  Platform.ProcessMessages();  // the late completion finds no window
  EXPECT_TRUE(Results.empty());
}

}  // namespace

namespace {

TEST_F(SockControl, IdleTimeoutAndItemSentHooksRaiseTheirEvents) {
  bool reset = false;
  C.DoIdleTimeout(5, reset);  // unassigned: skipped, Reset untouched
  EXPECT_FALSE(reset);
  std::vector<String> seen;
  C.OnIdleTimeout = [&](TObject* sender, TSocket socket, bool& r) {
    EXPECT_EQ(sender, &C);
    seen.push_back("idle " + std::to_string(socket) + (r ? " reset" : " kept"));
    r = true;
  };
  C.OnItemSent = [&](TObject* sender, TSocket socket, int handle, int remaining) {
    EXPECT_EQ(sender, &C);
    seen.push_back("sent " + std::to_string(socket) + " " + std::to_string(handle) + " " + std::to_string(remaining));
  };
  C.DoIdleTimeout(5, reset);
  EXPECT_TRUE(reset);  // the handler's answer comes back
  C.DoItemSent(6, 3, 2);
  EXPECT_EQ(seen, (std::vector<String>{"idle 5 kept", "sent 6 3 2"}));
}

}  // namespace

namespace {

// Lines as OnReadLine received them: "<socket>:<text>".
struct LineControl : SockControl {
  std::vector<String> Lines;
  std::function<void(const String&)> During;  // runs inside OnReadLine
  void SetUp() override {
    SockControl::SetUp();
    C.OnReadLine = [this](TObject* sender, TSocket socket, const String& line) {
      EXPECT_EQ(sender, &C);
      Lines.push_back(std::to_string(socket) + ":" + line);
      if (During) During(line);
    };
  }
  size_t Wakeups() const { return Platform.Queued(IPM_LINE_READY); }
};

TEST_F(LineControl, TwentyThousandLinesQueuedAtOnceAllArriveInOrder) {
  std::vector<String> expected;
  size_t mostWakeups = 0;
  for (int i = 0; i < 20000; ++i) {
    String line = "line " + std::to_string(i);
    C.DoReadLine(7, line);
    expected.push_back("7:" + line);
    mostWakeups = std::max(mostWakeups, Wakeups());
  }
  EXPECT_EQ(mostWakeups, 1u);
  EXPECT_TRUE(Lines.empty());  // nothing before the wake-up is handled
  Platform.ProcessMessages();
  EXPECT_EQ(Lines.size(), expected.size());
  EXPECT_TRUE(Lines == expected);
  EXPECT_EQ(Wakeups(), 0u);
}

TEST_F(LineControl, EmptyLinesAndSocketsTravelWithTheirLine) {
  C.DoReadLine(7, "first");
  C.DoReadLine(8, "");
  C.DoReadLine(7, String("with\0zero", 9));
  C.DoReadLine(8, "last");
  Platform.ProcessMessages();
  EXPECT_EQ(Lines, (std::vector<String>{"7:first", "8:", "7:" + String("with\0zero", 9), "8:last"}));
}

TEST_F(LineControl, DirectLineEventsDeliverAtOnce) {
  C.DirectLineEvents = true;
  C.DoReadLine(3, "now");
  EXPECT_EQ(Lines, std::vector<String>{"3:now"});
  EXPECT_EQ(Wakeups(), 0u);
}

TEST_F(LineControl, LinesWithoutAHandlerAreConsumed) {
  C.OnReadLine = nullptr;
  C.DoReadLine(3, "unheard");
  Platform.ProcessMessages();
  C.OnReadLine = [this](TObject*, TSocket s, const String& l) { Lines.push_back(std::to_string(s) + ":" + l); };
  C.DoReadLine(3, "heard");
  Platform.ProcessMessages();
  EXPECT_EQ(Lines, std::vector<String>{"3:heard"});
}

TEST_F(LineControl, AHandlerThatRaisesLosesAndReordersNothing) {
  TApplication app;
  std::vector<String> shown;
  app.OnException = [&](TObject*, const std::exception& e) { shown.push_back(ExceptionMessage(e)); };
  During = [](const String& line) {
    if (line == "b" || line == "d") throw Exception("handler failed at " + line);
  };
  for (const char* l : {"a", "b", "c", "d", "e"}) C.DoReadLine(1, l);
  // Each exception goes to the application's handler and the next line still comes.
  Platform.ProcessMessages();
  EXPECT_EQ(shown, (std::vector<String>{"handler failed at b", "handler failed at d"}));
  EXPECT_EQ(Lines, (std::vector<String>{"1:a", "1:b", "1:c", "1:d", "1:e"}));
  EXPECT_EQ(Wakeups(), 0u);
}

TEST_F(LineControl, LinesQueuedByAHandlerComeAfterThoseBeforeThem) {
  During = [this](const String& line) {
    if (line.size() < 3) C.DoReadLine(2, line + "+");  // the handler's work brings more lines
    EXPECT_LE(Wakeups(), 1u);
  };
  for (const char* l : {"a", "b"}) C.DoReadLine(1, l);
  Platform.ProcessMessages();
  EXPECT_EQ(Lines, (std::vector<String>{"1:a", "1:b", "2:a+", "2:b+", "2:a++", "2:b++"}));
}

TEST_F(LineControl, LinesStillQueuedAtDestructionAreFreedNotDelivered) {
  {
    Control doomed(nullptr);
    doomed.OnReadLine = [this](TObject*, TSocket, const String& l) { Lines.push_back(l); };
    for (int i = 0; i < 100; ++i) doomed.DoReadLine(4, String(100, 'x'));
  }
  Platform.ProcessMessages();  // the wake-up finds no window
  EXPECT_TRUE(Lines.empty());
}

TEST_F(LineControl, ARefusedWakeUpIsPostedAgainOnTheNextTimerTick) {
  Platform.RefusedPost = IPM_LINE_READY;
  C.DoReadLine(5, "one");
  C.DoReadLine(5, "two");
  Platform.RefusedPost = 0;
  Platform.ProcessMessages();
  EXPECT_TRUE(Lines.empty());
  Platform.Advance(500);
  EXPECT_EQ(Lines, (std::vector<String>{"5:one", "5:two"}));
}

}  // namespace

namespace {

String Bytes(std::initializer_list<int> values) {
  String out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(SockControlFormatter, DataEntriesAreAHeaderAndAHexDump) {
  const String seventeen = "ABCDEFGHIJKLMNOPQ";
  const String mixed =
      Bytes({0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF, 0x30, 0x31, 0x0D, 0x0A, 0x09, 0x41, 0x61, 0x7A, 0x5A, 0x21});
  struct Row {
    uint32_t Kind;
    int32_t Socket;
    String Data;
    String Expected;
  };
  const Row rows[] = {
      {0x80000001, 300, seventeen,
       "Read - 17 bytes read from socket 300\r\n"
       "  000000: 41 42 43 44 45 46 47 48  49 4A 4B 4C 4D 4E 4F 50 : ABCDEFGHIJKLMNOP\r\n"
       "  000010: 51                                               : Q               \r\n"},
      {0x80000002, 5, String(1, '\0'),
       "Write - 1 byte written to socket 5\r\n"
       "  000000: 00                                               : .               \r\n"},
      {0x80000003, 7, "", "[7] Recv API: 0 bytes read\r\n"},
      {0x80000004, -1, mixed,
       "[-1] Send API: 16 bytes written\r\n"
       "  000000: 1F 20 7E 7F 80 FF 30 31  0D 0A 09 41 61 7A 5A 21 : . ~...01...AazZ!\r\n"},
      {0x80000003, 9, "ab",
       "[9] Recv API: 2 bytes read\r\n"
       "  000000: 61 62                                            : ab              \r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Expected);
    String text = "unchanged";
    TIpSockControl::FormatDataEntry(row.Socket, row.Kind, row.Data.data(), static_cast<uint32_t>(row.Data.size()),
                                    text);
    EXPECT_EQ(text, row.Expected);
  }
}

TEST(SockControlFormatter, OtherKindsLeaveTheTextAsItIs) {
  for (uint32_t kind : {0u, 1u, 3u, 0x80000000u, 0x80000005u, 0xFFFFFFFFu}) {
    String text = "handed in";
    TIpSockControl::FormatDataEntry(1, kind, "xyz", 3, text);
    EXPECT_EQ(text, "handed in") << kind;
  }
  // The control's class renders its sockets' entries.
  TFakePlatform platform;
  TFakeWinSockModule winsock;
  TIpSockControl control(nullptr);
  EXPECT_EQ(control.FormatterClass(), &TIpSockControl::FormatDataEntry);
}

TEST(SockControlFormatter, EveryDumpLineIs79CharactersWithUpperCaseOffsets) {
  String data;
  for (int i = 0; i < 161; ++i) data += static_cast<char>(i);
  const String dump = TIpSockControl::HexDump(data.data(), static_cast<uint32_t>(data.size()));
  ASSERT_EQ(dump.size(), 11u * 79u);
  for (size_t line = 0; line < 11; ++line) EXPECT_EQ(dump.substr(line * 79 + 77, 2), "\r\n") << line;
  EXPECT_EQ(dump.substr(9 * 79, 79),
            "  000090: 90 91 92 93 94 95 96 97  98 99 9A 9B 9C 9D 9E 9F : ................\r\n");
  EXPECT_EQ(dump.substr(10 * 79, 79),
            "  0000A0: A0                                               : .               \r\n");
  EXPECT_EQ(dump.substr(2 * 79, 79),
            "  000020: 20 21 22 23 24 25 26 27  28 29 2A 2B 2C 2D 2E 2F :  !\"#$%&'()*+,-./\r\n");
  EXPECT_EQ(TIpSockControl::HexDump("", 0), "");
}

}  // namespace

namespace {

// What OnStatus received, as text.
struct StatusControl : SockControl {
  TTempFolder Folder{"status"};
  std::vector<String> Statuses;
  // 192.0.2.1:1025 -> 192.0.2.10:123
  const TIpConnRec Connection{0x0A0200C0, 123, 0x010200C0, 1025};
  void SetUp() override {
    SockControl::SetUp();
    C.Add(7);
    C.Sockets[7]->SetStatistics({{1, 2, 3, 4}, {5, 6, 7, 0xFFFFFFFF}});
    C.EventLog().SetFileName(Folder.File("event.log"));
    C.EventLog().SetEnabled(true);
  }
  void ListenToStatus() {
    C.OnStatus = [this](TObject* sender, TSocket socket, uint8_t kind, const TIpConnRec& c, const TIpSockStatRec& st) {
      EXPECT_EQ(sender, &C);
      EXPECT_EQ(std::memcmp(&c, &Connection, sizeof c), 0);
      char text[96];
      std::snprintf(text, sizeof text, "%u kind %u: %u %u %u %u %u %u %u %u", static_cast<unsigned>(socket), kind,
                    st.First.DataRead, st.First.DataWritten, st.First.RawRead, st.First.RawWritten, st.Second.DataRead,
                    st.Second.DataWritten, st.Second.RawRead, st.Second.RawWritten);
      Statuses.push_back(text);
    };
  }
  String EventFile() { return ReadBytes(Folder / "event.log"); }
};

TEST_F(StatusControl, StatusKindsChooseWhichKindsRaiseOnStatus) {
  ListenToStatus();
  struct Row {
    uint8_t StatusKinds;
    uint8_t Kind;
    bool Raised;
  };
  const Row rows[] = {
      {0x07, 0, true},    {0x07, 1, true},  {0x07, 2, true},  {0x07, 3, false},  {0x07, 7, false},
      {0x80, 7, true},    {0x80, 0, false}, {0xFF, 8, false}, {0xFF, 31, false}, {0xFF, 32, false},
      {0xFF, 255, false}, {0x00, 0, false}, {0x08, 3, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.StatusKinds) + " kind " + std::to_string(row.Kind));
    Statuses.clear();
    C.StatusKinds = row.StatusKinds;
    C.DoStatus(7, row.Kind, Connection);
    if (row.Raised)
      EXPECT_EQ(Statuses, std::vector<String>{"7 kind " + std::to_string(row.Kind) + ": 1 2 3 4 5 6 7 4294967295"});
    else
      EXPECT_TRUE(Statuses.empty());
  }
}

TEST_F(StatusControl, ConnectAndCloseWriteEventLogLinesWithOrWithoutOnStatus) {
  C.DoStatus(7, 0, Connection);  // OnStatus unassigned
  C.DoStatus(7, 2, Connection);  // no line for data movement
  ListenToStatus();
  C.DoStatus(7, 1, Connection);
  C.DoStatus(7, 3, Connection);
  EXPECT_EQ(EventFile(),
            "2024.01.01 09:00:00 Connect: Loc: 192.0.2.1:1025 Rem: 192.0.2.10:123\r\n"
            "2024.01.01 09:00:00 Close:   Loc: 192.0.2.1:1025 Rem: 192.0.2.10:123\r\n");
  EXPECT_EQ(Statuses.size(), 1u);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(StatusControl, NoSocketObjectRaisesOnlyWhenOnStatusWantsItsStatistics) {
  C.DoStatus(9, 0, Connection);  // nobody asks for statistics
  ListenToStatus();
  try {
    C.DoStatus(9, 0, Connection);
    FAIL() << "no exception";
  } catch (const EIpNoSocketError& e) {
    EXPECT_EQ(e.Message(), "Socket not assigned");
  }
  C.DoStatus(9, 3, Connection);  // a kind OnStatus does not get needs no socket object
  EXPECT_TRUE(Statuses.empty());
}

TEST_F(StatusControl, AFailedEventLogWriteIsReportedAfterTheWholeStatusStep) {
  ListenToStatus();
  C.EventLog().SetFileName(Folder.File("missing/event.log"));
  for (uint8_t kind : {0, 1}) EXPECT_NO_THROW(C.DoStatus(7, kind, Connection));
  EXPECT_EQ(Statuses.size(), 2u);
  EXPECT_TRUE(Errors.empty());  // not inside the step
  // A refused wake-up leaves them for the timer.
  Platform.RefusedPost = IPM_LATE_ERROR;
  C.DoStatus(7, 0, Connection);
  Platform.RefusedPost = 0;
  Platform.ProcessMessages();
  Platform.Advance(500);
  ASSERT_EQ(Errors.size(), 3u);
  for (auto& [socket, code, text] : Errors) {
    EXPECT_EQ(socket, 7u);
    EXPECT_EQ(code, LogWriteErrorCode);
    EXPECT_EQ(ErrorOrigin(code), eoLogWrite);
    EXPECT_NE(text.find(Folder.File("missing/event.log")), String::npos) << text;
  }
}

TEST(ErrorOrigins, EachCodeTellsWhereItCameFrom) {
  const std::pair<int, TIpErrorOrigin> rows[] = {
      {10054, eoWinSock},    {11001, eoWinSock}, {91, eoSocks},  {255, eoSocks},  {-1, eoSocks},     {-2, eoSocks},
      {8001, eoLineTooLong}, {8002, eoLogWrite}, {0, eoLibrary}, {-3, eoUnknown}, {9999, eoUnknown}, {12000, eoUnknown},
  };
  for (auto [code, origin] : rows) EXPECT_EQ(ErrorOrigin(code), origin) << code;
}

}  // namespace

namespace {

TEST_F(LookupControl, DestructionWritesTheBufferedDebugLogAfterCancellingLookups) {
  TTempFolder folder("ctl-debuglog");
  std::vector<uintptr_t> handles;
  {
    Control doomed(nullptr);
    doomed.DebugLog().SetFileName(folder.File("debug.log"));
    doomed.DebugLog().SetEnabled(true);
    const char data[] = "hello";
    doomed.DebugLog().AddLogEntry(doomed.FormatterClass(), 5, 0x80000001, data, 5);
    handles = {doomed.LookupAddress("localhost")};
  }
  EXPECT_EQ(WinSock.Fake.Cancelled, handles);
  const String text = ReadBytes(folder / "debug.log");
  EXPECT_NE(text.find("**** Logging Enabled\r\n"), String::npos) << text;
  EXPECT_NE(text.find("Read - 5 bytes read from socket 5\r\n"
                      "  000000: 68 65 6C 6C 6F                                   : hello           \r\n"),
            String::npos)
      << text;
}

TEST_F(LookupControl, NothingBufferedWritesNoDebugLog) {
  TTempFolder folder("ctl-debuglog");
  {
    Control quiet(nullptr);
    quiet.DebugLog().SetFileName(folder.File("debug.log"));
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "debug.log"));
}

TEST_F(LookupControl, ADebugLogThatCannotBeWrittenLeavesTheCleanUpComplete) {
  TTempFolder folder("ctl-debuglog");
  THandle wnd;
  std::vector<uintptr_t> handles;
  {
    Control doomed(nullptr);
    wnd = doomed.WindowHandle();
    doomed.DebugLog().SetFileName(folder.File("missing/debug.log"));
    doomed.DebugLog().SetEnabled(true);
    handles = {doomed.LookupAddress("localhost"), doomed.LookupPort("ntp", "udp")};
    doomed.DoReadLine(3, "queued");
  }
  EXPECT_EQ(WinSock.Fake.Cancelled, (std::vector<uintptr_t>{handles[1], handles[0]}));
  EXPECT_TRUE(Platform.TimersOf(wnd).empty());
  const std::vector<THandle> windows = Platform.Windows();
  EXPECT_EQ(std::count(windows.begin(), windows.end(), wnd), 0);
}

}  // namespace
