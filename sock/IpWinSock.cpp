#include "sock/IpWinSock.h"

#include <utility>

#include "sock/IpConst.h"
#include "toolkit/Platform.h"

TIpWinSockAccess* WinSockAccess = nullptr;

const TIpWinSockLibrary WinSockLibraries[3] = {
    {0, 0, ""},
    {0x0101, 5, "wsock32.dll"},
    {0x0202, 0x7FFFFFFF, "ws2_32.dll"},
};

const char* const TIpWinSockAccess::EntryNames[kEntryCount] = {
    "bind",
    "closesocket",
    "connect",
    "gethostbyname",
    "getpeername",
    "getsockname",
    "getsockopt",
    "htonl",
    "htons",
    "inet_addr",
    "inet_ntoa",
    "ntohl",
    "ntohs",
    "recv",
    "recvfrom",
    "send",
    "sendto",
    "setsockopt",
    "shutdown",
    "socket",
    "WSAAsyncGetHostByAddr",
    "WSAAsyncGetHostByName",
    "WSAAsyncGetServByName",
    "WSAAsyncGetServByPort",
    "WSAAsyncSelect",
    "WSACancelAsyncRequest",
    "WSACleanup",
    "WSAGetLastError",
    "WSAStartup",
};

namespace {
enum EntryIndex {
  eBind,
  eCloseSocket,
  eConnect,
  eGetHostByName,
  eGetPeerName,
  eGetSockName,
  eGetSockOpt,
  eHtonl,
  eHtons,
  eInetAddr,
  eInetNtoa,
  eNtohl,
  eNtohs,
  eRecv,
  eRecvFrom,
  eSend,
  eSendTo,
  eSetSockOpt,
  eShutdown,
  eSocket,
  eWSAAsyncGetHostByAddr,
  eWSAAsyncGetHostByName,
  eWSAAsyncGetServByName,
  eWSAAsyncGetServByPort,
  eWSAAsyncSelect,
  eWSACancelAsyncRequest,
  eWSACleanup,
  eWSAGetLastError,
  eWSAStartup,
};
static_assert(eWSAStartup + 1 == TIpWinSockAccess::kEntryCount, "one index per entry-point name");

struct TLockGuard {
  explicit TLockGuard(TIpBaseAccess& a) : FAccess(a) { FAccess.Lock(); }
  ~TLockGuard() { FAccess.Unlock(); }
  TIpBaseAccess& FAccess;
};
}  // namespace

EIpWinSockError::EIpWinSockError(int code, const String& api)
    : EIpBaseException(Format(SWinSockErrorFormat, {code, ErrorText(code), api})), FErrorCode(code) {}

EIpActiveError::EIpActiveError() : EIpBaseException(SActiveError) {}
EIpIndexError::EIpIndexError() : EIpBaseException(SIndexError) {}
EIpNoSocketError::EIpNoSocketError() : EIpBaseException(SNoSocketError) {}
EIpProgrammerError::EIpProgrammerError() : EIpBaseException(SProgrammerError) {}

TIpWinSockAccess::TIpWinSockAccess(TLibraryLoader& loader) : FLoader(loader) {
  // No separate existence check: the load itself is the test, so nothing that depends on the
  // current folder (the old OpenFile check failed in deep folders) can stop a load that works.
  for (uint8_t level = 2; level >= 1; --level) {
    uintptr_t handle = FLoader.Load(WinSockLibraries[level].FileName);
    if (handle == 0) continue;
    FLibraryHandle = handle;
    WinSockLevel = level;
    int result;
    try {
      result = WSAStartup()(WinSockLibraries[level].Version, &WsaData);
    } catch (...) {
      // The constructor does not finish, so no destructor will free the library.
      FreeLibraryOnly();
      throw;
    }
    if (result != 0) {
      FreeLibraryOnly();
      throw EIpWinSockError(result, "WSAStartup");
    }
    break;
  }
}

void TIpWinSockAccess::FreeLibraryOnly() {
  FLoader.Free(FLibraryHandle);
  FLibraryHandle = 0;
}

TIpWinSockAccess::~TIpWinSockAccess() {
  if (FLibraryHandle != 0) {
    try {
      WSACleanup()();
    } catch (const EIpAccessException&) {
      // A library without WSACleanup is still freed.
    }
    FLoader.Free(FLibraryHandle);
    FLibraryHandle = 0;
  }
  FKept.clear();
}

void TIpWinSockAccess::KeepUntilUnload(std::shared_ptr<void> block) {
  TLockGuard guard(*this);
  FKept.push_back(std::move(block));
}

void* TIpWinSockAccess::Entry(int index) {
  TLockGuard guard(*this);
  if (!FEntries[index]) FEntries[index] = FLoader.GetProc(FLibraryHandle, EntryNames[index]);
  if (!FEntries[index])
    throw EIpAccessException(
        Format(SAccessErrorFormat, {EntryNames[index], FLoader.SystemErrorText(FLoader.LastError())}));
  return FEntries[index];
}

#define IP_ENTRY(Name, Type, Index) \
  Type TIpWinSockAccess::Name() { return reinterpret_cast<Type>(Entry(Index)); }
IP_ENTRY(Bind, TFnBind, eBind)
IP_ENTRY(CloseSocket, TFnCloseSocket, eCloseSocket)
IP_ENTRY(Connect, TFnConnect, eConnect)
IP_ENTRY(GetHostByName, TFnGetHostByName, eGetHostByName)
IP_ENTRY(GetPeerName, TFnGetPeerName, eGetPeerName)
IP_ENTRY(GetSockName, TFnGetSockName, eGetSockName)
IP_ENTRY(GetSockOpt, TFnGetSockOpt, eGetSockOpt)
IP_ENTRY(Htonl, TFnHtonl, eHtonl)
IP_ENTRY(Htons, TFnHtons, eHtons)
IP_ENTRY(Ntohl, TFnHtonl, eNtohl)
IP_ENTRY(Ntohs, TFnHtons, eNtohs)
IP_ENTRY(InetAddr, TFnInetAddr, eInetAddr)
IP_ENTRY(InetNtoa, TFnInetNtoa, eInetNtoa)
IP_ENTRY(Recv, TFnRecv, eRecv)
IP_ENTRY(RecvFrom, TFnRecvFrom, eRecvFrom)
IP_ENTRY(Send, TFnSend, eSend)
IP_ENTRY(SendTo, TFnSendTo, eSendTo)
IP_ENTRY(SetSockOpt, TFnSetSockOpt, eSetSockOpt)
IP_ENTRY(Shutdown, TFnShutdown, eShutdown)
IP_ENTRY(Socket, TFnSocket, eSocket)
IP_ENTRY(WSAAsyncGetHostByAddr, TFnWSAAsyncGetHostByAddr, eWSAAsyncGetHostByAddr)
IP_ENTRY(WSAAsyncGetHostByName, TFnWSAAsyncGetHostByName, eWSAAsyncGetHostByName)
IP_ENTRY(WSAAsyncGetServByName, TFnWSAAsyncGetServByName, eWSAAsyncGetServByName)
IP_ENTRY(WSAAsyncGetServByPort, TFnWSAAsyncGetServByPort, eWSAAsyncGetServByPort)
IP_ENTRY(WSAAsyncSelect, TFnWSAAsyncSelect, eWSAAsyncSelect)
IP_ENTRY(WSACancelAsyncRequest, TFnWSACancelAsyncRequest, eWSACancelAsyncRequest)
IP_ENTRY(WSACleanup, TFnWSACleanup, eWSACleanup)
IP_ENTRY(WSAGetLastError, TFnWSAGetLastError, eWSAGetLastError)
IP_ENTRY(WSAStartup, TFnWSAStartup, eWSAStartup)
#undef IP_ENTRY

TWinSockModule::TWinSockModule(TLibraryLoader& loader)
    : FAccess(std::make_unique<TIpWinSockAccess>(loader)), FPrevious(std::exchange(WinSockAccess, FAccess.get())) {}

TWinSockModule::~TWinSockModule() {
  WinSockAccess = FPrevious;
  FAccess.reset();
}

String ErrorText(int code) {
  switch (code) {
    case 10004: return "Interrupted function call";
    case 10009: return "Bad file descriptor";
    case 10013: return "Permission denied";
    case 10014: return "Bad address";
    case 10022: return "Invalid argument";
    case 10024: return "Too many open files";
    case 10035: return "Resource temporarily unavailable";
    case 10036: return "Operation now in progress";
    case 10037: return "Operation already in progress";
    case 10038: return "Socket operation on nonsocket";
    case 10039: return "Destination address required";
    case 10040: return "Message too long";
    case 10041: return "Protocol wrong type for socket";
    case 10042: return "Bad protocol option";
    case 10043: return "Protocol not supported";
    case 10044: return "Socket type not supported";
    case 10045: return "Operation not supported";
    case 10046: return "Protocol family not supported";
    case 10047: return "Address family not supported by protocol family";
    case 10048: return "Address already in use";
    case 10049: return "Cannot assign requested address";
    case 10050: return "Network is down";
    case 10051: return "Network is unreachable";
    case 10052: return "Network dropped connection on reset";
    case 10053: return "Software caused connection abort";
    case 10054: return "Connection reset by peer";
    case 10055: return "No buffer space available";
    case 10056: return "Socket is already connected";
    case 10057: return "Socket is not connected";
    case 10058: return "Cannot send after socket shutdown";
    case 10059: return "Too many references; cannot splice";
    case 10060: return "Connection timed out";
    case 10061: return "Connection refused";
    case 10062: return "Too many levels of symbolic links";
    case 10063: return "File name too long";
    case 10064: return "Host is down";
    case 10065: return "No route to host";
    case 10066: return "Directory not empty";
    case 10067: return "Too many processes";
    case 10068: return "Too many users";
    case 10069: return "Disk quota exceeded";
    case 10070: return "Stale NFS file handle";
    case 10071: return "Too many levels of remote in path";
    case 10091: return "Network subsystem is unavailable";
    case 10092: return "WinSock DLL version not supported";
    case 10093: return "Successful WSAStartup not yet performed";
    case 10101: return "Graceful shutdown in progress";
    case 10102: return "No more data available";
    case 10103: return "Cancelled";
    case 10104: return "Invalid procedure table from service provider";
    case 10105: return "Invalid service provider version number";
    case 10106: return "Unable to initialize a service provider";
    case 10107: return "System call failure";
    case 10108: return "Service not found";
    case 10109: return "Type not found";
    case 10110: return "No more data available";
    case 10111: return "Lookup cancelled";
    case 10112: return "Refused";
    case 11001: return "Host not found";
    case 11002: return "Nonauthoritative host not found";
    case 11003: return "This is a nonrecoverable error";
    case 11004: return "Valid name, no data record of requested type";
    case 11005: return "At least one Reserve has arrived";
    case 11006: return "At least one Path has arrived";
    case 11007: return "There are no senders";
    case 11008: return "There are no receivers";
    case 11009: return "Reserve has been confirmed";
    case 11010: return "Error due to lack of resources";
    case 11011: return "Rejected for administrative reasons - bad credentials";
    case 11012: return "Unknown or conflicting style";
    case 11013: return "Problem filterspec or providerspecific buffer";
    case 11014: return "Problem with some part of the flowspec";
    case 11015: return "General error";
    default: return SystemApi().SystemErrorText(static_cast<uint32_t>(code));
  }
}

String EventName(uint32_t code) {
  switch (code) {
    case fdRead: return "Fd_Read";
    case fdWrite: return "Fd_Write";
    case fdOob: return "Fd_Oob";
    case fdAccept: return "Fd_Accept";
    case fdConnect: return "Fd_Connect";
    case fdClose: return "Fd_Close";
    default: return String();
  }
}

String LookupKindName(uint32_t kind) {
  switch (kind) {
    case 0: return "WsaAsyncGetHostByName";
    case 1: return "WsaAsyncGetHostByAddr";
    case 2: return "WsaAsyncGetServByName";
    case 3: return "WsaAsyncGetServByPort";
    default: return String();
  }
}
