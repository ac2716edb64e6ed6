// The client and its data socket against the real ws2_32.dll under Wine, with a peer on
// 127.0.0.1 made of plain blocking WinSock calls on a thread of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>

#include "sock/IpClient.h"
#include "sock/IpDataSocket.h"
#include "toolkit/Platform.h"
#include "toolkit/ThreadWin32.h"
#include "win32/LoopbackWin32.h"

#include <winsock2.h>
#include <windows.h>

namespace {

// A peer that listens on 127.0.0.1 and runs a script on each of the connections it accepts.
class Peer {
 public:
  using Script = std::function<void(SOCKET s, int index)>;
  Peer(Script script, int connections) : FScript(std::move(script)) {
    FListener = ListenOnLoopback(Port, 4);
    FThread = std::make_unique<TSystemThread>([this, connections] {
      for (int i = 0; i < connections; ++i) {
        // Nobody comes within ten seconds: the test has failed already.
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(FListener, &ready);
        timeval wait{10, 0};
        if (::select(0, &ready, nullptr, nullptr, &wait) != 1) return;
        SOCKET s = ::accept(FListener, nullptr, nullptr);
        const DWORD timeout = 10000;
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        FScript(s, i);
        ::closesocket(s);
      }
    });
  }
  ~Peer() {
    Join();
    ::closesocket(FListener);
  }
  // Waits until the scripts have run.
  void Join() {
    if (FThread) FThread->Join();
  }
  uint16_t Port = 0;

 private:
  Script FScript;
  SOCKET FListener;
  std::unique_ptr<TSystemThread> FThread;
};

// Receives until `want` has arrived at the end, the peer closes, or the timeout passes.
String ReceiveUntil(SOCKET s, const String& want) {
  String got;
  char buffer[256];
  int n;
  while ((got.size() < want.size() || got.compare(got.size() - want.size(), want.size(), want) != 0) &&
         (n = ::recv(s, buffer, sizeof buffer, 0)) > 0)
    got.append(buffer, static_cast<size_t>(n));
  return got;
}

void SendAll(SOCKET s, const String& bytes) { ::send(s, bytes.data(), static_cast<int>(bytes.size()), 0); }

struct StatusRec {
  TSocket Socket;
  uint8_t Kind;
  TIpConnRec Connection;
};

class DataSocketWine : public ::testing::Test {
 protected:
  TWinSockModule Module;
  TIpCustomClient C{nullptr};
  std::vector<String> Lines;
  std::vector<String> Errors;
  std::vector<StatusRec> Statuses;

  void SetUp() override {
    C.DataInits().StripLineTerminator = true;
    C.OnReadLine = [this](TObject*, TSocket, const String& line) { Lines.push_back(line); };
    C.OnError = [this](TObject*, uint32_t, int, const String& text) { Errors.push_back(text); };
    C.OnStatus = [this](TObject*, TSocket s, uint8_t kind, const TIpConnRec& c, const TIpSockStatRec&) {
      Statuses.push_back({s, kind, c});
    };
  }
  bool PumpUntil(const std::function<bool()>& done) { return WindowSystem().PumpUntil(done, 10000); }
  size_t Count(uint8_t kind) const {
    size_t n = 0;
    for (const StatusRec& s : Statuses) n += s.Kind == kind;
    return n;
  }
};

TEST_F(DataSocketWine, LinesGoBothWaysAndAnOrderlyCloseDeliversTheRest) {
  String peerGot;
  Peer peer(
      [&](SOCKET s, int) {
        SendAll(s, "hello\r\nworld\r\n");
        peerGot = ReceiveUntil(s, "ping\r\n");
        SendAll(s, "tail without end");
        ::shutdown(s, SD_SEND);
        ReceiveUntil(s, "\n--never--");  // until the client closes too
      },
      1);
  C.DefaultPort = peer.Port;
  const TSocket s = C.ConnectTo("127.0.0.1");
  ASSERT_NE(s, InvalidSocket);
  ASSERT_TRUE(PumpUntil([&] { return Count(0) == 1; })) << (Errors.empty() ? "" : Errors[0]);
  EXPECT_EQ(Statuses[0].Socket, s);
  EXPECT_EQ(C.AddressToText(Statuses[0].Connection.RemoteAddress), "127.0.0.1");
  EXPECT_EQ(Statuses[0].Connection.RemotePort, peer.Port);
  EXPECT_EQ(C.AddressToText(Statuses[0].Connection.LocalAddress), "127.0.0.1");
  EXPECT_NE(Statuses[0].Connection.LocalPort, 0);
  ASSERT_TRUE(PumpUntil([&] { return Lines.size() >= 2; }));
  EXPECT_EQ(Lines, (std::vector<String>{"hello", "world"}));
  C.SendText("ping\r\n");
  ASSERT_TRUE(PumpUntil([&] { return Count(1) == 1; }));
  ASSERT_TRUE(PumpUntil([&] { return Lines.size() >= 3 && !C.IsActive(); }));
  EXPECT_EQ(Lines, (std::vector<String>{"hello", "world", "tail without end"}));
  EXPECT_EQ(Statuses.back().Socket, s);
  EXPECT_TRUE(Errors.empty()) << Errors[0];
  peer.Join();
  EXPECT_EQ(peerGot, "ping\r\n");
}

// FNV-1a over what a stream is given.
struct ChecksumStream : TStream {
  uint32_t Read(void*, uint32_t) override { return 0; }
  uint32_t Write(const void* data, uint32_t count) override {
    for (uint32_t i = 0; i < count; ++i) Sum = (Sum ^ static_cast<const uint8_t*>(data)[i]) * 0x100000001B3ull;
    Bytes += count;
    return count;
  }
  uint64_t Bytes = 0, Sum = 0xCBF29CE484222325ull;
};

TEST_F(DataSocketWine, A16MiBStreamArrivesWhole) {
  String block(1 << 16, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + i / 251);
  ChecksumStream sent, got;
  for (int i = 0; i < 256; ++i) sent.Write(block.data(), static_cast<uint32_t>(block.size()));
  Peer peer(
      [&](SOCKET s, int) {
        for (int i = 0; i < 256; ++i) SendAll(s, block);
        ::shutdown(s, SD_SEND);
        ReceiveUntil(s, "\n--never--");
      },
      1);
  C.DataInits().ReceiveMode = rmStream;
  C.DefaultPort = peer.Port;
  C.ConnectTo("127.0.0.1");
  C.DataSocket()->SetReceiveStream(&got);
  ASSERT_TRUE(WindowSystem().PumpUntil([&] { return Count(1) == 1 && !C.IsActive(); }, 60000));
  EXPECT_TRUE(Errors.empty()) << Errors[0];
  EXPECT_EQ(got.Bytes, uint64_t{16} << 20);
  EXPECT_EQ(got.Sum, sent.Sum);
}

TEST_F(DataSocketWine, ARefusedConnectionIsReportedOnFdConnect) {
  // A port that nothing listens on: bound once, then closed.
  SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local);
  int len = sizeof local;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &len);
  ::closesocket(probe);
  C.DefaultPort = ntohs(local.sin_port);
  C.ConnectTo("127.0.0.1");
  ASSERT_TRUE(PumpUntil([&] { return !Errors.empty(); }));
  EXPECT_EQ(Errors[0], "WinSock Error (10061): Connection refused, on API 'Fd_Connect'");
  EXPECT_FALSE(C.Connected());
  EXPECT_TRUE(Statuses.empty());
}

// Takes the socket events waiting for the window out of its queue and puts them back in the
// same order; returns them. So the test knows which events are on their way.
std::vector<MSG> WaitingSocketEvents(HWND wnd) {
  std::vector<MSG> events;
  MSG m;
  while (PeekMessageA(&m, wnd, IPM_SOCKET_EVENT, IPM_SOCKET_EVENT, PM_REMOVE)) events.push_back(m);
  for (const MSG& e : events) PostMessageA(wnd, e.message, e.wParam, e.lParam);
  return events;
}

TEST_F(DataSocketWine, EventsOfAClosedHandleDoNotReachTheNewSocketThatReusesIt) {
  // The peer closes the first connection when told; the second one stays until the client
  // goes.
  std::atomic<bool> closeFirst{false};
  Peer peer(
      [&](SOCKET s, int index) {
        if (index == 0) {
          // Without data: WinSock posts FD_CLOSE only once what arrived has been read.
          for (int i = 0; i < 1000 && !closeFirst; ++i) Sleep(10);
          return;
        }
        ReceiveUntil(s, "\n--never--");
      },
      2);
  C.DefaultPort = peer.Port;
  const HWND wnd = reinterpret_cast<HWND>(C.WindowHandle());
  const TSocket first = C.ConnectTo("127.0.0.1");
  ASSERT_TRUE(PumpUntil([&] { return Count(0) == 1; }));
  closeFirst = true;
  // Wait, without handling them, until WinSock has posted the first socket's FD_CLOSE.
  bool closePosted = false;
  for (int i = 0; i < 500 && !closePosted; ++i) {
    Sleep(10);
    for (const MSG& e : WaitingSocketEvents(wnd))
      closePosted = closePosted || (e.wParam == first && WSAGETSELECTEVENT(e.lParam) == FD_CLOSE);
  }
  ASSERT_TRUE(closePosted);
  // The user disconnects and connects again before those events are handled; the platform
  // hands the new socket the number just closed.
  C.Disconnect(first);
  const TSocket second = C.ConnectTo("127.0.0.1");
  EXPECT_EQ(second, first) << "the platform did not reuse the number";
  ASSERT_TRUE(PumpUntil([&] { return Count(0) == 2; })) << (Errors.empty() ? "" : Errors[0]);
  WindowSystem().PumpUntil([] { return false; }, 200);
  // The old FD_CLOSE went nowhere: the new connection is up and stays.
  EXPECT_TRUE(C.Connected());
  EXPECT_EQ(C.SocketHandle(), second);
  EXPECT_EQ(Count(1), 1u);
  EXPECT_TRUE(Errors.empty()) << Errors[0];
  C.Disconnect(second);
}

// What the process holds, as Wine lets it be seen: the next kernel handle and socket numbers
// (both the lowest free ones: a leak pushes them up), the hidden windows, the heaps' bytes in use.
struct Holdings {
  uintptr_t NextHandle = 0, NextSocket = 0;
  int Windows = 0;
  SIZE_T HeapBytes = 0;
  static Holdings Now() {
    Holdings h;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    h.NextHandle = reinterpret_cast<uintptr_t>(event);
    CloseHandle(event);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    h.NextSocket = s;
    ::closesocket(s);
    for (HWND w = nullptr; (w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr)) != nullptr;) ++h.Windows;
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i) {
      PROCESS_HEAP_ENTRY e{};
      HeapLock(heaps[i]);
      while (HeapWalk(heaps[i], &e))
        if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) h.HeapBytes += e.cbData;
      HeapUnlock(heaps[i]);
    }
    return h;
  }
};

TEST_F(DataSocketWine, ConnectAndCloseCyclesLeaveNoHandleWindowOrMemoryBehind) {
  constexpr int kWarmUp = 200, kCycles = 2000;
  Peer peer([](SOCKET s, int) { ReceiveUntil(s, "\n--never--"); }, kWarmUp + kCycles);
  C.DefaultPort = peer.Port;
  // Counted, not recorded: a growing record would be the growth measured.
  size_t ups = 0, downs = 0;
  C.OnStatus = [&](TObject*, TSocket, uint8_t kind, const TIpConnRec&, const TIpSockStatRec&) {
    ++(kind == 0 ? ups : downs);
  };
  // A closed socket's number is given back once its barrier comes round, so both counts are
  // taken after the same settling pump; a slow machine may still hold one at either count, so
  // the numbers must not grow rather than match.
  const auto settled = [] {
    WindowSystem().PumpUntil([] { return false; }, 200);
    return Holdings::Now();
  };
  Holdings before;
  for (int i = 0; i < kWarmUp + kCycles; ++i) {
    if (i == kWarmUp) before = settled();
    const TSocket s = C.ConnectTo("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return C.Connected(); })) << i << (Errors.empty() ? "" : Errors[0]);
    C.Disconnect(s);
    ASSERT_FALSE(C.IsActive());
  }
  const Holdings after = settled();
  for (const Holdings& h : {before, after})
    std::printf("next handle %#llx, next socket %llu, %d hidden windows, %llu heap bytes in use\n",
                static_cast<unsigned long long>(h.NextHandle), static_cast<unsigned long long>(h.NextSocket),
                h.Windows, static_cast<unsigned long long>(h.HeapBytes));
  EXPECT_EQ(ups, static_cast<size_t>(kWarmUp + kCycles));
  EXPECT_EQ(downs, static_cast<size_t>(kWarmUp + kCycles));
  EXPECT_TRUE(Errors.empty()) << Errors[0];
  // One number held per cycle would push these up by thousands.
  EXPECT_LE(after.NextHandle, before.NextHandle + 8);
  EXPECT_LE(after.NextSocket, before.NextSocket + 8);
  EXPECT_GT(before.Windows, 0);
  EXPECT_EQ(after.Windows, before.Windows);
  // A leak of one small object per cycle would be 2000 times its size.
  EXPECT_GT(before.HeapBytes, 0u);
  EXPECT_LE(after.HeapBytes, before.HeapBytes + 64 * 1024);
}

}  // namespace
