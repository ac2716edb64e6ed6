#include "fakes/FakeWinSock.h"

#include <cstring>
#include <stdexcept>

TFakeWinSock* TFakeWinSock::Current = nullptr;

TFakeWinSock::TFakeWinSock() {
  if (Current) throw std::logic_error("only one fake WinSock at a time");
  Current = this;
}

TFakeWinSock::~TFakeWinSock() { Current = nullptr; }

TFakeWinSock::SocketState& TFakeWinSock::LastSocket() { return Sockets.at(NextSocket - 1); }

uintptr_t TFakeWinSock::Load(const String& fileName) {
  if (!ExistingFiles.count(fileName) || UnloadableFiles.count(fileName)) return 0;
  uintptr_t h = FNextLibrary++;
  FHandles[h] = fileName;
  Loaded.push_back(fileName);
  return h;
}

void TFakeWinSock::Free(uintptr_t library) { Freed.push_back(FHandles[library]); }

struct FakeWinSockEntries {
  static TFakeWinSock& F() { return *TFakeWinSock::Current; }

  static int IP_WINAPI Startup(uint16_t version, TWSAData* data) {
    F().StartupVersionAsked = version;
    String file = F().Loaded.empty() ? String() : F().Loaded.back();
    int result = F().StartupResults.count(file) ? F().StartupResults[file] : 0;
    if (result == 0) {
      std::memset(data, 0, sizeof *data);
      data->wVersion = version;
      data->wHighVersion = version;
      std::strcpy(data->szDescription, "Fake WinSock");
      std::strcpy(data->szSystemStatus, "Running");
    }
    return result;
  }
  static int IP_WINAPI Cleanup() { return ++F().CleanupCalls, 0; }
  static int IP_WINAPI GetLastErrorFn() { return F().WsaLastError; }
  static uint32_t IP_WINAPI Htonl(uint32_t x) { return __builtin_bswap32(x); }
  static uint16_t IP_WINAPI Htons(uint16_t x) { return __builtin_bswap16(x); }
  static uint32_t IP_WINAPI InetAddr(const char* text) {
    F().AddressTexts.push_back(text);
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
      return 0xFFFFFFFFu;
    return a | (b << 8) | (c << 16) | (d << 24);
  }
  static char* IP_WINAPI InetNtoa(uint32_t address) {
    std::snprintf(F().FNtoaBuffer, sizeof F().FNtoaBuffer, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF,
                  (address >> 16) & 0xFF, address >> 24);
    return F().FNtoaBuffer;
  }
  static THostEnt* IP_WINAPI GetHostByName(const char* name) {
    TFakeWinSock& f = F();
    f.HostLookups.push_back(name);
    auto it = f.Hosts.find(name);
    if (it == f.Hosts.end()) {
      f.WsaLastError = f.HostLookupError;
      return nullptr;
    }
    f.FHostName = name;
    f.FHostAddresses = it->second;
    f.FHostList.clear();
    for (auto& a : f.FHostAddresses) f.FHostList.push_back(reinterpret_cast<char*>(&a));
    f.FHostList.push_back(nullptr);
    f.FHostEnt = {f.FHostName.data(), nullptr, afInet, 4, f.FHostList.data()};
    return &f.FHostEnt;
  }
  static TSocket IP_WINAPI Socket(int, int type, int) {
    TFakeWinSock& f = F();
    if (f.SocketError) {
      f.WsaLastError = f.SocketError;
      return InvalidSocket;
    }
    TSocket s = f.NextSocket++;
    f.Sockets[s].Type = type;
    return s;
  }
  static int IP_WINAPI CloseSocket(TSocket s) {
    ++F().CloseCalls;
    auto it = F().Sockets.find(s);
    if (it == F().Sockets.end()) return SocketCallFailed;
    it->second.Closed = true;
    return 0;
  }
  static int IP_WINAPI AsyncSelect(TSocket s, uintptr_t wnd, uint32_t msg, int32_t events) {
    auto& st = F().Sockets[s];
    st.SelectWindow = wnd;
    st.SelectMessage = msg;
    st.SelectEvents = events;
    return 0;
  }
  static int IP_WINAPI SendTo(TSocket s, const char* buf, int len, int, const TSockAddr* to, int) {
    TFakeWinSock::Datagram d;
    d.Bytes.assign(buf, buf + len);
    auto* in = reinterpret_cast<const TSockAddrIn*>(to);
    d.FromAddress = in->sin_addr;
    d.FromPort = __builtin_bswap16(in->sin_port);
    F().Sockets[s].Sent.push_back(d);
    if (F().OnSendTo) F().OnSendTo(s, d);
    return len;
  }
  static int IP_WINAPI RecvFrom(TSocket s, char* buf, int len, int, TSockAddr* from, int* fromLen) {
    TFakeWinSock& f = F();
    if (f.RecvFromError) {
      f.WsaLastError = f.RecvFromError;
      return SocketCallFailed;
    }
    auto& in = f.Sockets[s].Incoming;
    if (in.empty()) {
      f.WsaLastError = wsaeWouldBlock;
      return SocketCallFailed;
    }
    TFakeWinSock::Datagram d = in.front();
    in.pop_front();
    if (from && fromLen && *fromLen >= 16) {
      auto* a = reinterpret_cast<TSockAddrIn*>(from);
      std::memset(a, 0, sizeof *a);
      a->sin_family = afInet;
      a->sin_port = __builtin_bswap16(d.FromPort);
      a->sin_addr = d.FromAddress;
      *fromLen = 16;
    }
    int n = static_cast<int>(d.Bytes.size());
    if (n > len) {
      // Like WinSock: the datagram is cut to the buffer and the call fails with WSAEMSGSIZE.
      std::memcpy(buf, d.Bytes.data(), static_cast<size_t>(len));
      f.WsaLastError = wsaeMsgSize;
      return SocketCallFailed;
    }
    std::memcpy(buf, d.Bytes.data(), static_cast<size_t>(n));
    return n;
  }
  static int IP_WINAPI CancelAsync(uintptr_t) { return 0; }
  static int IP_WINAPI Unused() { return SocketCallFailed; }
};

void* TFakeWinSock::GetProc(uintptr_t library, const char* name) {
  ++GetProcCalls[name];
  if (!FHandles.count(library) || MissingEntries.count(name)) return nullptr;
  using E = FakeWinSockEntries;
  const std::map<String, void*> table = {
      {"WSAStartup", reinterpret_cast<void*>(&E::Startup)},
      {"WSACleanup", reinterpret_cast<void*>(&E::Cleanup)},
      {"WSAGetLastError", reinterpret_cast<void*>(&E::GetLastErrorFn)},
      {"htonl", reinterpret_cast<void*>(&E::Htonl)},
      {"ntohl", reinterpret_cast<void*>(&E::Htonl)},
      {"htons", reinterpret_cast<void*>(&E::Htons)},
      {"ntohs", reinterpret_cast<void*>(&E::Htons)},
      {"inet_addr", reinterpret_cast<void*>(&E::InetAddr)},
      {"inet_ntoa", reinterpret_cast<void*>(&E::InetNtoa)},
      {"gethostbyname", reinterpret_cast<void*>(&E::GetHostByName)},
      {"socket", reinterpret_cast<void*>(&E::Socket)},
      {"closesocket", reinterpret_cast<void*>(&E::CloseSocket)},
      {"WSAAsyncSelect", reinterpret_cast<void*>(&E::AsyncSelect)},
      {"sendto", reinterpret_cast<void*>(&E::SendTo)},
      {"recvfrom", reinterpret_cast<void*>(&E::RecvFrom)},
      {"WSACancelAsyncRequest", reinterpret_cast<void*>(&E::CancelAsync)},
  };
  auto it = table.find(name);
  // Entry points that no fake implements yet still exist (they fail when called).
  return it != table.end() ? it->second : reinterpret_cast<void*>(&E::Unused);
}
