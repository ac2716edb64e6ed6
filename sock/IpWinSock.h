// The WinSock function table: the library is found and started at run time, and every WinSock
// call of the program goes through the one global table `WinSockAccess`. Also the socket
// layer's exceptions and the texts of WinSock error codes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/IpUtils.h"
#include "sock/WinSockTypes.h"

// Loading libraries at run time: the seam under the WinSock table.
class TLibraryLoader {
 public:
  virtual ~TLibraryLoader() = default;
  // Loads a system library by its file name, from the system folder first. 0 on failure.
  virtual uintptr_t Load(const String& fileName) = 0;
  virtual void* GetProc(uintptr_t library, const char* name) = 0;  // nullptr on failure
  virtual void Free(uintptr_t library) = 0;
  virtual uint32_t LastError() = 0;
  virtual String SystemErrorText(uint32_t code) = 0;
};

// The platform's loader (the native build finds no library).
TLibraryLoader& DefaultLibraryLoader();

class EIpWinSockError : public EIpBaseException {
 public:
  // The standard message "WinSock Error (%d): %s, on API '%s'".
  EIpWinSockError(int code, const String& api);
  // A plain message with ErrorCode 0.
  explicit EIpWinSockError(const String& message) : EIpBaseException(message) {}
  int ErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode = 0;
};

class EIpActiveError : public EIpBaseException {
 public:
  EIpActiveError();
};

class EIpIndexError : public EIpBaseException {
 public:
  EIpIndexError();
};

class EIpNoSocketError : public EIpBaseException {
 public:
  EIpNoSocketError();
};

class EIpProgrammerError : public EIpBaseException {
 public:
  EIpProgrammerError();
};

// One row of the library table.
struct TIpWinSockLibrary {
  uint16_t Version;
  int32_t Backlog;  // SOMAXCONN of that level
  const char* FileName;
};
extern const TIpWinSockLibrary WinSockLibraries[3];  // indexed by level 1 and 2

class TIpWinSockAccess : public TIpBaseAccess {
 public:
  // Loads ws2_32.dll, else wsock32.dll, and starts it. Raises EIpWinSockError when WSAStartup
  // fails, EIpAccessException when the library has no WSAStartup (the library is freed first);
  // finding no library at all is not an error here (every entry point then raises).
  explicit TIpWinSockAccess(TLibraryLoader& loader = DefaultLibraryLoader());
  ~TIpWinSockAccess() override;

  uintptr_t LibraryHandle() const { return FLibraryHandle; }
  uint8_t WinSockLevel = 0;
  TWSAData WsaData{};

  // Entry points, looked up on first use and kept; a missing one raises EIpAccessException
  // each time it is asked for.
  TFnBind Bind();
  TFnCloseSocket CloseSocket();
  TFnConnect Connect();
  TFnGetHostByName GetHostByName();
  TFnGetPeerName GetPeerName();
  TFnGetSockName GetSockName();
  TFnGetSockOpt GetSockOpt();
  TFnHtonl Htonl();
  TFnHtons Htons();
  TFnHtonl Ntohl();
  TFnHtons Ntohs();
  TFnInetAddr InetAddr();
  TFnInetNtoa InetNtoa();
  TFnRecv Recv();
  TFnRecvFrom RecvFrom();
  TFnSend Send();
  TFnSendTo SendTo();
  TFnSetSockOpt SetSockOpt();
  TFnShutdown Shutdown();
  TFnSocket Socket();
  TFnWSAAsyncGetHostByAddr WSAAsyncGetHostByAddr();
  TFnWSAAsyncGetHostByName WSAAsyncGetHostByName();
  TFnWSAAsyncGetServByName WSAAsyncGetServByName();
  TFnWSAAsyncGetServByPort WSAAsyncGetServByPort();
  TFnWSAAsyncSelect WSAAsyncSelect();
  TFnWSACancelAsyncRequest WSACancelAsyncRequest();
  TFnWSACleanup WSACleanup();
  TFnWSAGetLastError WSAGetLastError();
  TFnWSAStartup WSAStartup();

  // Keeps a block that a cancelled request may still write into until the library is
  // unloaded (the table's destruction).
  void KeepUntilUnload(std::shared_ptr<void> block);

  static constexpr int kEntryCount = 29;
  // The entry-point names in table order (alphabetical by WinSock name).
  static const char* const EntryNames[kEntryCount];

 private:
  void* Entry(int index);
  void FreeLibraryOnly();

  TLibraryLoader& FLoader;
  uintptr_t FLibraryHandle = 0;
  void* FEntries[kEntryCount] = {};
  std::vector<std::shared_ptr<void>> FKept;
};

// The global table, created at start-up by TWinSockModule and freed at shutdown.
extern TIpWinSockAccess* WinSockAccess;

// Owns the global table for its lifetime (the socket layer's module initialisation).
class TWinSockModule {
 public:
  explicit TWinSockModule(TLibraryLoader& loader = DefaultLibraryLoader());
  ~TWinSockModule();
  TWinSockModule(const TWinSockModule&) = delete;
  TWinSockModule& operator=(const TWinSockModule&) = delete;

 private:
  std::unique_ptr<TIpWinSockAccess> FAccess;
  TIpWinSockAccess* FPrevious;
};

String ErrorText(int code);            // text of a WinSock error code (system text outside the table)
String EventName(uint32_t code);       // "Fd_Read" … "Fd_Close"; empty for other codes
String LookupKindName(uint32_t kind);  // "WsaAsyncGetHostByName" …; empty for other kinds
