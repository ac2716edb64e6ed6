// A fake WinSock library behind a fake loader. Tests choose which library files exist and
// load, what WSAStartup answers, which entry points are missing, which host names resolve,
// and which datagrams arrive; the fake records every call the code under test makes.
// Only one TFakeWinSock may exist at a time (the entry points are plain functions).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "sock/IpWinSock.h"

class TFakeWinSock final : public TLibraryLoader {
 public:
  TFakeWinSock();
  ~TFakeWinSock() override;

  // --- the loader's world ---
  std::set<String> ExistingFiles{"ws2_32.dll", "wsock32.dll"};
  std::set<String> UnloadableFiles;
  std::map<String, int> StartupResults;  // by file name; missing = 0
  std::set<String> MissingEntries;
  std::vector<String> Loaded, Freed;
  std::map<String, int> GetProcCalls;
  uint16_t StartupVersionAsked = 0;
  int CleanupCalls = 0;

  // --- the network's world ---
  std::map<String, std::vector<uint32_t>> Hosts;  // name -> addresses (network order)
  struct Datagram {
    std::vector<uint8_t> Bytes;
    uint32_t FromAddress = 0;  // network order
    uint16_t FromPort = 0;     // host order
  };
  // One setsockopt call.
  struct Option {
    int Level = 0;
    int Name = 0;
    int32_t Value = 0;
    bool operator==(const Option&) const = default;
  };
  struct SocketState {
    int Type = 0;
    bool Closed = false;
    int Closes = 0;  // closesocket calls on this socket, the failing ones after the first included
    uintptr_t SelectWindow = 0;
    uint32_t SelectMessage = 0;
    int32_t SelectEvents = 0;
    std::vector<Datagram> Sent;  // with the destination in From*
    std::deque<Datagram> Incoming;
    // Stream sockets.
    std::vector<TSockAddrIn> Binds;     // bind's addresses
    std::vector<TSockAddrIn> Connects;  // connect's addresses
    TSockAddrIn LocalName{};            // what getsockname answers (set by connect, bind)
    TSockAddrIn PeerName{};             // what getpeername answers (set by connect)
    std::vector<Option> Options;        // setsockopt calls in order
    std::vector<int> Shutdowns;         // shutdown's `how`
    String Output;                      // bytes send accepted, in order
    std::vector<int> SendCalls;         // the length of each send call
    int64_t SendRoom = -1;              // bytes send still accepts before it blocks; -1 no limit
    int SendError = 0;                  // send fails with this code when not 0
    String Input;                       // bytes waiting for recv
    size_t RecvChunk = 0;               // at most this many bytes per recv; 0 no limit
    bool PeerClosed = false;            // recv answers 0 once Input is empty
    int RecvError = 0;                  // recv fails with this code when not 0
    std::vector<int> RecvCalls;         // the length each recv call asked for
  };
  std::map<TSocket, SocketState> Sockets;
  TSocket NextSocket = 100;
  // Like the platform: socket() hands out the lowest number of a closed socket again. The
  // closed socket's record then moves to ReusedSockets.
  bool ReuseClosedNumbers = false;
  std::vector<std::pair<TSocket, SocketState>> ReusedSockets;
  TSocket LastMade = InvalidSocket;  // the socket most recently made
  // Failures of the stream calls, each with its WinSock code when not 0.
  int BindError = 0;
  int SelectError = 0;
  int ConnectError = wsaeWouldBlock;  // a socket that does not block answers so
  int SetSockOptError = 0;
  int SetSockOptFailName = 0;  // with SetSockOptError: only this option fails (0: every one)
  int GetSockOptError = 0;
  // Posts a socket event for `s` to the window and message it registered, as WinSock does.
  void PostEvent(TSocket s, uint32_t event, int error = 0);
  int WsaLastError = 0;
  int SocketError = 0;                    // socket() fails with this code when not 0
  int RecvFromError = 0;                  // recvfrom fails with this code when not 0
  int SendToError = 0;                    // sendto fails with this code when not 0 (nothing is sent)
  int HostLookupError = wsahostNotFound;  // WSAGetLastError after a failed gethostbyname (0 = no code)
  std::vector<String> HostLookups;
  std::vector<String> AddressTexts;  // what inet_addr was given
  // Called after each datagram sendto records (a test's server can answer from here).
  std::function<void(TSocket, const Datagram&)> OnSendTo;
  int CloseCalls = 0;

  // Asynchronous lookups: started ones wait until the test completes them.
  std::map<String, uint16_t> Services;  // "name/protocol" -> port (host order)
  struct AsyncLookup {
    uintptr_t Handle = 0;
    uintptr_t Window = 0;
    uint32_t Message = 0;
    int Kind = 0;         // 0 host by name, 1 host by address, 2 service by name, 3 service by port
    String Name;          // host or service name
    String Protocol;      // of the service lookups
    uint32_t Number = 0;  // the address (kind 1) or the port in network order (kind 3)
    char* Buffer = nullptr;
    int BufferLength = 0;
  };
  std::vector<AsyncLookup> AsyncLookups;  // running, oldest first
  std::vector<uintptr_t> Cancelled;       // WSACancelAsyncRequest's handles, in call order
  int AsyncStartError = 0;                // starting a lookup fails with this code when not 0
  // false: WSACancelAsyncRequest reports success and the lookup runs on all the same, and later
  // writes its buffer and posts its completion (as Wine's does).
  bool CancelStopsLookups = true;
  uintptr_t NextAsyncHandle = 0x500;
  // Completes a running lookup as WinSock does: writes the entry into the caller's buffer and
  // posts the completion (handle; length and error) to its window. The entry comes from Hosts
  // or Services; one that is not there completes with WSAHOST_NOT_FOUND or WSANO_DATA; one that
  // does not fit the buffer with WSAENOBUFS. `error` not 0 completes with that error instead.
  void CompleteLookup(uintptr_t handle, int error = 0);

  // The socket most recently created.
  SocketState& LastSocket();
  // Sockets made and not closed yet.
  size_t OpenSockets() const;

  // --- TLibraryLoader ---
  uintptr_t Load(const String& fileName) override;
  void* GetProc(uintptr_t library, const char* name) override;
  void Free(uintptr_t library) override;
  uint32_t LastError() override { return 127; }
  String SystemErrorText(uint32_t code) override { return "Fake system text " + std::to_string(code); }

  static TFakeWinSock* Current;

 private:
  std::map<uintptr_t, String> FHandles;
  uintptr_t FNextLibrary = 0x10000000;
  // Storage that gethostbyname's result points into.
  THostEnt FHostEnt{};
  std::vector<uint32_t> FHostAddresses;
  std::vector<char*> FHostList;
  String FHostName;
  char FNtoaBuffer[16] = {};
  int FillEntry(const AsyncLookup& lookup, char* buffer, int length);
  friend struct FakeWinSockEntries;
};

// Installs a fake library as the global WinSock table for a test's lifetime.
class TFakeWinSockModule {
 public:
  TFakeWinSockModule() : FModule(Fake) {}
  TFakeWinSock Fake;

 private:
  TWinSockModule FModule;
};
