#include "fakes/FakeWinSock.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "sock/IpSockControl.h"
#include "toolkit/Platform.h"

TFakeWinSock* TFakeWinSock::Current = nullptr;

TFakeWinSock::TFakeWinSock() {
  if (Current) throw std::logic_error("only one fake WinSock at a time");
  Current = this;
}

TFakeWinSock::~TFakeWinSock() { Current = nullptr; }

TFakeWinSock::SocketState& TFakeWinSock::LastSocket() {
  return Sockets.at(LastMade != InvalidSocket ? LastMade : NextSocket - 1);
}

size_t TFakeWinSock::OpenSockets() const {
  return static_cast<size_t>(
      std::count_if(Sockets.begin(), Sockets.end(), [](const auto& entry) { return !entry.second.Closed; }));
}

void TFakeWinSock::PostEvent(TSocket s, uint32_t event, int error) {
  const SocketState& st = Sockets.at(s);
  WindowSystem().Post(st.SelectWindow, st.SelectMessage, static_cast<uintptr_t>(s), WinSockParam(event, error));
}

uintptr_t TFakeWinSock::Load(const String& fileName) {
  if (!ExistingFiles.count(fileName) || UnloadableFiles.count(fileName)) return 0;
  uintptr_t h = FNextLibrary++;
  FHandles[h] = fileName;
  Loaded.push_back(fileName);
  return h;
}

void TFakeWinSock::Free(uintptr_t library) { Freed.push_back(FHandles[library]); }

struct FakeWinSockEntries {
  static constexpr int kNotSocket = 10038;  // WSAENOTSOCK
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
  // As Windows reads an address: one to four parts, each decimal, octal (a leading 0) or hex
  // (0x); the last part fills the bytes the others leave ("10.1" is 10.0.0.1, "8080" is
  // 0.0.31.144). A space ends the text.
  static uint32_t IP_WINAPI InetAddr(const char* text) {
    F().AddressTexts.push_back(text);
    uint64_t parts[4];
    int n = 0;
    for (const char* p = text;; ++p) {
      if (n == 4 || !std::isdigit(static_cast<unsigned char>(*p))) return 0xFFFFFFFFu;
      char* end;
      parts[n++] = std::strtoull(p, &end, 0);
      if (*(p = end) == '.') continue;
      if (*p != '\0' && *p != ' ') return 0xFFFFFFFFu;
      break;
    }
    uint32_t host = 0;
    for (int i = 0; i < n; ++i) {
      const bool last = i + 1 == n;
      if (parts[i] > (last ? 0xFFFFFFFFu >> (8 * i) : 255u)) return 0xFFFFFFFFu;
      host |= static_cast<uint32_t>(parts[i]) << (last ? 0 : 24 - 8 * i);
    }
    return __builtin_bswap32(host);
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
    TSocket s = InvalidSocket;
    if (f.ReuseClosedNumbers)
      for (auto& [number, st] : f.Sockets)
        if (st.Closed) {
          s = number;
          f.ReusedSockets.emplace_back(number, std::move(st));
          break;
        }
    if (s == InvalidSocket) s = f.NextSocket++;
    f.Sockets[s] = TFakeWinSock::SocketState{};
    f.Sockets[s].Type = type;
    f.LastMade = s;
    return s;
  }
  // The open socket of a number; nullptr (and WSAENOTSOCK) for a closed or unknown one.
  static TFakeWinSock::SocketState* Open(TSocket s) {
    auto it = F().Sockets.find(s);
    if (it == F().Sockets.end() || it->second.Closed) {
      F().WsaLastError = kNotSocket;
      return nullptr;
    }
    return &it->second;
  }
  static int Fail(int code) {
    F().WsaLastError = code;
    return SocketCallFailed;
  }
  static int IP_WINAPI CloseSocket(TSocket s) {
    ++F().CloseCalls;
    auto it = F().Sockets.find(s);
    if (it == F().Sockets.end()) return Fail(kNotSocket);
    ++it->second.Closes;
    if (it->second.Closed) return Fail(kNotSocket);
    it->second.Closed = true;
    return 0;
  }
  static int IP_WINAPI Bind(TSocket s, const TSockAddr* addr, int len) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    if (len != 16) return Fail(10014);
    st->Binds.push_back(*reinterpret_cast<const TSockAddrIn*>(addr));
    if (F().BindError) return Fail(F().BindError);
    st->LocalName = st->Binds.back();
    return 0;
  }
  static int IP_WINAPI Connect(TSocket s, const TSockAddr* addr, int len) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    if (len != 16) return Fail(10014);
    st->Connects.push_back(*reinterpret_cast<const TSockAddrIn*>(addr));
    st->PeerName = st->Connects.back();
    if (st->LocalName.sin_port == 0) {
      // An ephemeral port of its own on the loopback address.
      st->LocalName.sin_family = afInet;
      st->LocalName.sin_addr = 0x0100007Fu;
      st->LocalName.sin_port = __builtin_bswap16(static_cast<uint16_t>(40000 + s));
    }
    return F().ConnectError ? Fail(F().ConnectError) : 0;
  }
  static int IP_WINAPI GetSockName(TSocket s, TSockAddr* addr, int* len) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    std::memcpy(addr, &st->LocalName, 16);
    *len = 16;
    return 0;
  }
  static int IP_WINAPI GetPeerName(TSocket s, TSockAddr* addr, int* len) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    std::memcpy(addr, &st->PeerName, 16);
    *len = 16;
    return 0;
  }
  static int IP_WINAPI GetSockOpt(TSocket s, int level, int name, char* value, int* len) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    if (F().GetSockOptError) return Fail(F().GetSockOptError);
    if (level != solSocket || name != optType || *len < 4) return Fail(10042);
    const int32_t type = st->Type;
    std::memcpy(value, &type, 4);
    *len = 4;
    return 0;
  }
  static int IP_WINAPI SetSockOpt(TSocket s, int level, int name, const char* value, int len) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    TFakeWinSock::Option o{level, name, 0};
    std::memcpy(&o.Value, value, len < 4 ? static_cast<size_t>(len) : 4);
    st->Options.push_back(o);
    if (F().SetSockOptError && (F().SetSockOptFailName == 0 || F().SetSockOptFailName == name))
      return Fail(F().SetSockOptError);
    return 0;
  }
  static int IP_WINAPI Shutdown(TSocket s, int how) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    st->Shutdowns.push_back(how);
    return 0;
  }
  static int IP_WINAPI Send(TSocket s, const char* buf, int len, int) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    st->SendCalls.push_back(len);
    if (st->SendError) return Fail(st->SendError);
    int n = len;
    if (st->SendRoom >= 0) {
      if (st->SendRoom == 0 && len > 0) return Fail(wsaeWouldBlock);
      n = static_cast<int>(std::min<int64_t>(len, st->SendRoom));
      st->SendRoom -= n;
    }
    st->Output.append(buf, static_cast<size_t>(n));
    return n;
  }
  static int IP_WINAPI Recv(TSocket s, char* buf, int len, int) {
    auto* st = Open(s);
    if (!st) return SocketCallFailed;
    st->RecvCalls.push_back(len);
    if (st->RecvError) return Fail(st->RecvError);
    if (st->Input.empty()) return st->PeerClosed ? 0 : Fail(wsaeWouldBlock);
    size_t n = std::min(st->Input.size(), static_cast<size_t>(len));
    if (st->RecvChunk) n = std::min(n, st->RecvChunk);
    std::memcpy(buf, st->Input.data(), n);
    st->Input.erase(0, n);
    return static_cast<int>(n);
  }
  static int IP_WINAPI AsyncSelect(TSocket s, uintptr_t wnd, uint32_t msg, int32_t events) {
    auto found = F().Sockets.find(s);
    if (found != F().Sockets.end() && found->second.Closed) return Fail(kNotSocket);
    if (F().SelectError) return Fail(F().SelectError);
    auto& st = F().Sockets[s];
    st.SelectWindow = wnd;
    st.SelectMessage = msg;
    st.SelectEvents = events;
    return 0;
  }
  static int IP_WINAPI SendTo(TSocket s, const char* buf, int len, int, const TSockAddr* to, int) {
    if (F().SendToError) return Fail(F().SendToError);
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
  static uintptr_t StartLookup(TFakeWinSock::AsyncLookup lookup) {
    TFakeWinSock& f = F();
    if (f.AsyncStartError) {
      f.WsaLastError = f.AsyncStartError;
      return 0;
    }
    lookup.Handle = f.NextAsyncHandle++;
    f.AsyncLookups.push_back(lookup);
    return lookup.Handle;
  }
  static uintptr_t IP_WINAPI GetHostByNameAsync(uintptr_t wnd, uint32_t msg, const char* name, char* buf, int len) {
    return StartLookup({0, wnd, msg, 0, name, "", 0, buf, len});
  }
  static uintptr_t IP_WINAPI GetHostByAddrAsync(uintptr_t wnd, uint32_t msg, const char* addr, int addrLen, int type,
                                                char* buf, int len) {
    uint32_t address = 0;
    if (addrLen != 4 || type != afInet) {
      F().WsaLastError = 10022;  // WSAEINVAL
      return 0;
    }
    std::memcpy(&address, addr, 4);
    return StartLookup({0, wnd, msg, 1, "", "", address, buf, len});
  }
  static uintptr_t IP_WINAPI GetServByNameAsync(uintptr_t wnd, uint32_t msg, const char* name, const char* proto,
                                                char* buf, int len) {
    return StartLookup({0, wnd, msg, 2, name, proto ? proto : "", 0, buf, len});
  }
  static uintptr_t IP_WINAPI GetServByPortAsync(uintptr_t wnd, uint32_t msg, int port, const char* proto, char* buf,
                                                int len) {
    return StartLookup({0, wnd, msg, 3, "", proto ? proto : "", static_cast<uint32_t>(port), buf, len});
  }
  static int IP_WINAPI CancelAsync(uintptr_t handle) {
    TFakeWinSock& f = F();
    f.Cancelled.push_back(handle);
    if (!f.CancelStopsLookups) return 0;
    auto it = std::find_if(f.AsyncLookups.begin(), f.AsyncLookups.end(),
                           [&](const TFakeWinSock::AsyncLookup& l) { return l.Handle == handle; });
    if (it == f.AsyncLookups.end()) {
      f.WsaLastError = 10037;  // WSAEALREADY: finished or unknown
      return SocketCallFailed;
    }
    f.AsyncLookups.erase(it);
    return 0;
  }
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
      {"bind", reinterpret_cast<void*>(&E::Bind)},
      {"connect", reinterpret_cast<void*>(&E::Connect)},
      {"getsockname", reinterpret_cast<void*>(&E::GetSockName)},
      {"getpeername", reinterpret_cast<void*>(&E::GetPeerName)},
      {"getsockopt", reinterpret_cast<void*>(&E::GetSockOpt)},
      {"setsockopt", reinterpret_cast<void*>(&E::SetSockOpt)},
      {"shutdown", reinterpret_cast<void*>(&E::Shutdown)},
      {"send", reinterpret_cast<void*>(&E::Send)},
      {"recv", reinterpret_cast<void*>(&E::Recv)},
      {"WSACancelAsyncRequest", reinterpret_cast<void*>(&E::CancelAsync)},
      {"WSAAsyncGetHostByName", reinterpret_cast<void*>(&E::GetHostByNameAsync)},
      {"WSAAsyncGetHostByAddr", reinterpret_cast<void*>(&E::GetHostByAddrAsync)},
      {"WSAAsyncGetServByName", reinterpret_cast<void*>(&E::GetServByNameAsync)},
      {"WSAAsyncGetServByPort", reinterpret_cast<void*>(&E::GetServByPortAsync)},
  };
  auto it = table.find(name);
  // Entry points that no fake implements yet still exist (they fail when called).
  return it != table.end() ? it->second : reinterpret_cast<void*>(&E::Unused);
}

namespace {
constexpr int kWsaNoData = 11004;
constexpr int kWsaNoBufs = 10055;

// Lays out an entry in a caller's buffer as WinSock does: the structure first, then what its
// pointers point to. Returns false when it does not fit.
class BufferWriter {
 public:
  BufferWriter(char* buffer, int length) : FBuffer(buffer), FLength(static_cast<size_t>(length)) {}
  template <class T>
  T* Reserve(size_t count = 1) {
    FUsed = (FUsed + alignof(T) - 1) / alignof(T) * alignof(T);
    if (FUsed + sizeof(T) * count > FLength) throw std::length_error("entry too large");
    T* at = reinterpret_cast<T*>(FBuffer + FUsed);
    FUsed += sizeof(T) * count;
    return at;
  }
  char* Text(const String& s) {
    char* at = Reserve<char>(s.size() + 1);
    std::memcpy(at, s.c_str(), s.size() + 1);
    return at;
  }
  size_t Used() const { return FUsed; }

 private:
  char* FBuffer;
  size_t FLength;
  size_t FUsed = 0;
};

void WriteHost(BufferWriter& w, const String& name, const std::vector<uint32_t>& addresses) {
  auto* entry = w.Reserve<THostEnt>();
  char** aliases = w.Reserve<char*>();
  char** list = w.Reserve<char*>(addresses.size() + 1);
  for (size_t i = 0; i < addresses.size(); ++i) {
    auto* a = w.Reserve<uint32_t>();
    *a = addresses[i];
    list[i] = reinterpret_cast<char*>(a);
  }
  list[addresses.size()] = nullptr;
  *aliases = nullptr;
  *entry = {w.Text(name), aliases, afInet, 4, list};
}

void WriteService(BufferWriter& w, const String& name, const String& protocol, uint16_t port) {
  auto* entry = w.Reserve<TServEnt>();
  char** aliases = w.Reserve<char*>();
  *aliases = nullptr;
  std::memset(entry, 0, sizeof *entry);
  entry->s_name = w.Text(name);
  entry->s_aliases = aliases;
  entry->s_proto = w.Text(protocol);
  entry->s_port = static_cast<int16_t>(__builtin_bswap16(port));
}
}  // namespace

// Writes the entry a lookup finds; returns the WinSock error (0 when found).
int TFakeWinSock::FillEntry(const AsyncLookup& lookup, char* buffer, int length) {
  BufferWriter w(buffer, length);
  try {
    switch (lookup.Kind) {
      case 0:
        if (!Hosts.count(lookup.Name)) return wsahostNotFound;
        WriteHost(w, lookup.Name, Hosts[lookup.Name]);
        return 0;
      case 1:
        for (auto& [name, addresses] : Hosts)
          if (std::find(addresses.begin(), addresses.end(), lookup.Number) != addresses.end()) {
            WriteHost(w, name, {lookup.Number});
            return 0;
          }
        return wsahostNotFound;
      case 2: {
        auto it = Services.find(lookup.Name + "/" + lookup.Protocol);
        if (it == Services.end()) return kWsaNoData;
        WriteService(w, lookup.Name, lookup.Protocol, it->second);
        return 0;
      }
      default:
        for (auto& [key, port] : Services) {
          const size_t slash = key.find('/');
          if (port == __builtin_bswap16(static_cast<uint16_t>(lookup.Number)) &&
              key.substr(slash + 1) == lookup.Protocol) {
            WriteService(w, key.substr(0, slash), lookup.Protocol, port);
            return 0;
          }
        }
        return kWsaNoData;
    }
  } catch (const std::length_error&) {
    return kWsaNoBufs;
  }
}

void TFakeWinSock::CompleteLookup(uintptr_t handle, int error) {
  auto it =
      std::find_if(AsyncLookups.begin(), AsyncLookups.end(), [&](const AsyncLookup& l) { return l.Handle == handle; });
  if (it == AsyncLookups.end()) throw std::logic_error("no such lookup running");
  AsyncLookup lookup = *it;
  AsyncLookups.erase(it);
  if (error == 0) error = FillEntry(lookup, lookup.Buffer, lookup.BufferLength);
  // The low half carries the entry's length; a failed lookup has none.
  const uint32_t length = error == 0 ? static_cast<uint32_t>(lookup.BufferLength) : 0;
  WindowSystem().Post(lookup.Window, lookup.Message, lookup.Handle, WinSockParam(length, error));
}
