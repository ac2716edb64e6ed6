// The socket event core against the real ws2_32.dll and real windows under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>

#include "fakes/AddressForms.h"
#include "sock/IpSockControl.h"
#include "toolkit/Application.h"
#include "toolkit/Platform.h"
#include "toolkit/ThreadWin32.h"
#include "toolkit/Timer.h"

#include <winsock2.h>
#include <windows.h>

namespace {

class RecordingControl : public TIpSockControl {
 public:
  using TIpSockControl::TIpSockControl;
  std::vector<TSocket> Reads;
  void NotifyRead(TSocket socket) override {
    Reads.push_back(socket);
    // Drain the datagram so that WinSock does not signal it again.
    char buffer[64];
    WinSockAccess->RecvFrom()(socket, buffer, sizeof buffer, 0, nullptr, nullptr);
  }
};

class SockControlWine : public ::testing::Test {
 protected:
  TWinSockModule Module;
};

TEST_F(SockControlWine, LoadsWinSock2Level2) {
  ASSERT_NE(WinSockAccess, nullptr);
  EXPECT_EQ(WinSockAccess->WinSockLevel, 2);
  EXPECT_EQ(WinSockAccess->WsaData.wVersion, 0x0202);
  EXPECT_NE(WinSockAccess->LibraryHandle(), 0u);
}

// The forms the fake WinSock accepts are the platform's own.
TEST_F(SockControlWine, InetAddrReadsTheFormsTheFakeReads) {
  for (const TAddressForm& f : kAddressForms) EXPECT_EQ(WinSockAccess->InetAddr()(f.Text), f.Address) << f.Text;
}

TEST_F(SockControlWine, DatagramArrivesAsSocketEventAndReachesNotifyRead) {
  RecordingControl control(nullptr);
  auto& ws = *WinSockAccess;
  TSocket receiver = ws.Socket()(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(receiver, INVALID_SOCKET);
  TSockAddrIn local{};
  local.sin_family = AF_INET;
  local.sin_addr = ws.InetAddr()("127.0.0.1");
  ASSERT_EQ(ws.Bind()(receiver, reinterpret_cast<TSockAddr*>(&local), sizeof local), 0);
  int len = sizeof local;
  ASSERT_EQ(ws.GetSockName()(receiver, reinterpret_cast<TSockAddr*>(&local), &len), 0);
  ASSERT_EQ(ws.WSAAsyncSelect()(receiver, control.WindowHandle(), IPM_SOCKET_EVENT, FD_READ), 0);

  TSocket sender = ws.Socket()(AF_INET, SOCK_DGRAM, 0);
  const char payload[] = "ping";
  ASSERT_EQ(ws.SendTo()(sender, payload, 4, 0, reinterpret_cast<TSockAddr*>(&local), sizeof local), 4);

  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return !control.Reads.empty(); }, 5000));
  ASSERT_EQ(control.Reads.size(), 1u);
  EXPECT_EQ(control.Reads[0], receiver);
  ws.CloseSocket()(sender);
  ws.CloseSocket()(receiver);
}

TEST_F(SockControlWine, ErrorInHighWordReachesOnErrorWithTheExactText) {
  RecordingControl control(nullptr);
  std::vector<String> errors;
  int code = 0;
  control.OnError = [&](TObject*, uint32_t, int errCode, const String& text) {
    code = errCode;
    errors.push_back(text);
  };
  ASSERT_TRUE(
      PostMessageA(reinterpret_cast<HWND>(control.WindowHandle()), IPM_SOCKET_EVENT, 1234, MAKELPARAM(FD_READ, 10054)));
  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return !errors.empty(); }, 5000));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(code, 10054);
  EXPECT_EQ(errors[0], "WinSock Error (10054): Connection reset by peer, on API 'Fd_Read'");
  EXPECT_TRUE(control.Reads.empty());
}

// On 64-bit Windows pointers and socket handles fill all 64 bits of a message parameter.
TEST_F(SockControlWine, MessageParametersArriveAtPointerWidth) {
  constexpr uint32_t kProbe = WM_USER + 0x97;
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
  ASSERT_TRUE(WindowSystem().Post(probing.WindowHandle(), kProbe, wide, static_cast<intptr_t>(pointer)));
  ASSERT_TRUE(WindowSystem().Post(probing.WindowHandle(), kProbe, pointer, negative));
  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return probing.Seen.size() == 2; }, 5000));
  WindowSystem().Send(probing.WindowHandle(), kProbe, wide, negative);
  const std::vector<std::pair<uintptr_t, intptr_t>> expected = {
      {wide, static_cast<intptr_t>(pointer)}, {pointer, negative}, {wide, negative}};
  EXPECT_EQ(probing.Seen, expected);
}

TEST_F(SockControlWine, WindowTimerTicksDriveTimerElapsed) {
  struct TimedControl : TIpSockControl {
    using TIpSockControl::TIpSockControl;
    std::vector<uint32_t> Elapsed;
    void TimerElapsed(uint32_t e) override { Elapsed.push_back(e); }
  } control(nullptr);
  control.SetTimerInterval(50);
  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return control.Elapsed.size() >= 2; }, 5000));
  ASSERT_GE(control.Elapsed.size(), 2u);
  EXPECT_GE(control.Elapsed[1], 30u);
}

TEST_F(SockControlWine, SystemErrorTextComesFromTheSystem) {
  // 10000 is outside the table: the system's own message text (possibly empty under Wine,
  // but never the table's texts).
  EXPECT_NE(ErrorText(10000), "Host not found");
  EXPECT_EQ(ErrorText(11001), "Host not found");
}

BOOL CALLBACK CollectWindow(HWND wnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(wnd);
  return TRUE;
}

// A hidden window that answered 0 would refuse every log-off and shutdown while it exists.
TEST_F(SockControlWine, NoHiddenWindowRefusesTheEndOfTheSession) {
  TApplication app;
  app.Handle();
  TTimer timer(nullptr);
  TIpSockControl control(nullptr);
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
  EXPECT_GE(windows.size(), 3u);
  for (HWND wnd : windows) EXPECT_NE(SendMessageA(wnd, WM_QUERYENDSESSION, 0, 0), 0) << wnd;
}

}  // namespace

namespace {

// A lambda does not convert to the stdcall callback of the 32-bit build: a function does.
BOOL CALLBACK SendCloseTo(HWND w, LPARAM) {
  SendMessageA(w, WM_CLOSE, 0, 0);
  return TRUE;
}

// A close request to the whole process (taskkill without /f sends WM_CLOSE to every top-level
// window) must not destroy the hidden windows: the check timer's, the application's and the
// socket control's windows would vanish and the schedule would stop without a sign.
TEST(HiddenWindows, SurviveACloseRequestAndKeepTheirTimers) {
  TTimer timer(nullptr);
  int ticks = 0;
  timer.SetInterval(50);
  timer.OnTimer = [&](TObject*) { ++ticks; };
  timer.SetEnabled(true);
  std::unique_ptr<TMessageWindow> window =
      WindowSystem().CreateMessageWindow([](TMessage& m) { m.CallDefault = true; });
  HWND wnd = reinterpret_cast<HWND>(window->Handle());
  SendMessageA(wnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(wnd));
  EnumThreadWindows(GetCurrentThreadId(), SendCloseTo, 0);
  EXPECT_TRUE(IsWindow(wnd));
  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return ticks >= 2; }, 3000)) << "the timer's window was closed";
}

}  // namespace

namespace {

// Lookups started for real on the control's window; only names that no DNS server answers.
class LookupWine : public ::testing::Test {
 protected:
  TWinSockModule Module;
  TIpSockControl Control{nullptr};
  std::map<uintptr_t, String> Results;  // by handle: "address 7F000001", "name ..", "error ..."
  void SetUp() override {
    Control.OnLookupAddress = [this](TObject*, uintptr_t h, uint32_t a) {
      Results[h] = "address " + Control.AddressToText(a);
    };
    Control.OnLookupName = [this](TObject*, uintptr_t h, const String& n) { Results[h] = "name " + n; };
    Control.OnLookupPort = [this](TObject*, uintptr_t h, uint16_t p) { Results[h] = "port " + std::to_string(p); };
    Control.OnLookupService = [this](TObject*, uintptr_t h, const String& n) { Results[h] = "service " + n; };
    Control.OnErrorReply = [this](TObject*, uintptr_t h, int, const String& text) { Results[h] = "error " + text; };
  }
  bool WaitFor(size_t count) {
    return WindowSystem().PumpUntil([&] { return Results.size() >= count; }, 10000);
  }
};

TEST_F(LookupWine, LocalhostAndDottedAddressesCompleteThroughTheWindow) {
  const uint32_t loopback = Control.TextToAddress("127.0.0.1");
  const uintptr_t byName = Control.LookupAddress("localhost");
  const uintptr_t dotted = Control.LookupAddress("127.0.0.1");
  const uintptr_t byAddress = Control.LookupName(loopback);
  EXPECT_EQ(Control.PendingLookups.Count(), 3u);
  ASSERT_TRUE(WaitFor(3));
  EXPECT_EQ(Results[byName], "address 127.0.0.1");
  EXPECT_EQ(Results[dotted], "address 127.0.0.1");
  ASSERT_EQ(Results[byAddress].rfind("name ", 0), 0u) << Results[byAddress];
  EXPECT_GT(Results[byAddress].size(), 5u) << "an empty name";
  EXPECT_EQ(Control.PendingLookups.Count(), 0u);
}

TEST_F(LookupWine, ServicesCompleteThroughTheWindow) {
  const uintptr_t port = Control.LookupPort("ntp", "udp");
  const uintptr_t service = Control.LookupService(123, "udp");
  const uintptr_t unknown = Control.LookupPort("no-such-service-here", "tcp");
  ASSERT_TRUE(WaitFor(3));
  EXPECT_EQ(Results[port], "port 123");
  EXPECT_EQ(Results[service], "service ntp");
  const String& failed = Results[unknown];
  EXPECT_EQ(failed.rfind("error WinSock Error (", 0), 0u) << failed;
  EXPECT_NE(failed.find(", on API 'WsaAsyncGetServByName'"), String::npos) << failed;
}

TEST_F(LookupWine, AControlDestroyedWithLookupsPendingCancelsThemWithoutHarm) {
  const uint32_t loopback = Control.TextToAddress("127.0.0.1");
  for (int round = 0; round < 10; ++round) {
    auto doomed = std::make_unique<TIpSockControl>(nullptr);
    int completed = 0;
    doomed->OnLookupAddress = [&](TObject*, uintptr_t, uint32_t) { ++completed; };
    doomed->OnLookupName = [&](TObject*, uintptr_t, const String&) { ++completed; };
    for (int i = 0; i < 4; ++i) {
      doomed->LookupAddress("localhost");
      doomed->LookupName(loopback);
      doomed->LookupAddress("127.0.0.1");
    }
    EXPECT_EQ(doomed->PendingLookups.Count(), 12u);
    doomed.reset();
    WindowSystem().PumpUntil([] { return false; }, 100);  // late completions find no window
    EXPECT_EQ(completed, 0);
  }
  // The heap and WinSock are sound afterwards: a new lookup completes as usual.
  const uintptr_t after = Control.LookupAddress("localhost");
  ASSERT_TRUE(WaitFor(1));
  EXPECT_EQ(Results[after], "address 127.0.0.1");
}

// A socket object of this test only: on each FD_READ it reads what WinSock has and hands every
// CR LF line to the control, as the data socket does.
class LineSocket : public TIpSocket {
 public:
  LineSocket(TIpSockControl& owner, TSocket socket) : FOwner(owner), FSocket(socket) {}
  bool Reading = false;
  void HandleRead() override {
    Reading = true;
    char buffer[4096];
    int n;
    while ((n = WinSockAccess->Recv()(FSocket, buffer, sizeof buffer, 0)) > 0) {
      FPending.append(buffer, static_cast<size_t>(n));
      size_t start = 0, end;
      while ((end = FPending.find("\r\n", start)) != String::npos) {
        FOwner.DoReadLine(FSocket, FPending.substr(start, end - start));
        start = end + 2;
      }
      FPending.erase(0, start);
    }
    Reading = false;
  }
  void HandleClose() override { HandleRead(); }

 private:
  TIpSockControl& FOwner;
  TSocket FSocket;
  String FPending;
};

class LineControl : public TIpSockControl {
 public:
  using TIpSockControl::TIpSockControl;
  std::unique_ptr<LineSocket> Socket;
  TSocket Handle = InvalidSocket;
  TIpSocket* FindSocket(TSocket socket, bool raiseIfMissing) override {
    if (Socket && socket == Handle) return Socket.get();
    return TIpSockControl::FindSocket(socket, raiseIfMissing);
  }
  void FreeSocket(TSocket socket) override {
    if (socket == Handle) Socket.reset();
  }
};

TEST_F(SockControlWine, TwentyThousandLinesInOneBurstAllArriveInOrder) {
  constexpr int kLines = 20000;
  auto& ws = *WinSockAccess;
  LineControl control(nullptr);
  std::vector<String> lines;
  int duringRead = 0;
  control.OnReadLine = [&](TObject*, TSocket, const String& line) {
    if (control.Socket && control.Socket->Reading) ++duringRead;
    lines.push_back(line);
  };

  TSocket listener = ws.Socket()(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(listener, INVALID_SOCKET);
  TSockAddrIn local{};
  local.sin_family = AF_INET;
  local.sin_addr = ws.InetAddr()("127.0.0.1");
  ASSERT_EQ(ws.Bind()(listener, reinterpret_cast<TSockAddr*>(&local), sizeof local), 0);
  int len = sizeof local;
  ASSERT_EQ(ws.GetSockName()(listener, reinterpret_cast<TSockAddr*>(&local), &len), 0);
  ASSERT_EQ(::listen(listener, 1), 0);

  String burst;
  for (int i = 0; i < kLines; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "line %05d\r\n", i);
    burst += line;
  }
  // The peer sends everything with one call, then closes.
  TSystemThread peer([&] {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
      ::send(s, burst.data(), static_cast<int>(burst.size()), 0);
    ::closesocket(s);
  });
  TSocket accepted = ::accept(listener, nullptr, nullptr);
  ASSERT_NE(accepted, INVALID_SOCKET);
  control.Handle = accepted;
  control.Socket = std::make_unique<LineSocket>(control, accepted);
  ASSERT_EQ(ws.WSAAsyncSelect()(accepted, control.WindowHandle(), IPM_SOCKET_EVENT, FD_READ | FD_CLOSE), 0);

  EXPECT_TRUE(WindowSystem().PumpUntil([&] { return lines.size() >= kLines; }, 30000)) << lines.size();
  peer.Join();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kLines));
  for (int i = 0; i < kLines; ++i) {
    char want[32];
    std::snprintf(want, sizeof want, "line %05d", i);
    if (lines[i] != want) {
      ADD_FAILURE() << "line " << i << " is '" << lines[i] << "'";
      break;
    }
  }
  EXPECT_EQ(duringRead, 0) << "lines must arrive after the receive loop, through the posted wake-up";
  ws.CloseSocket()(accepted);
  ws.CloseSocket()(listener);
}

}  // namespace
