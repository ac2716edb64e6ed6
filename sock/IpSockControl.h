// The socket control: the root of every socket-using component. It owns a hidden window to
// which WinSock posts asynchronous socket events; each event becomes a call of a virtual hook
// (NotifyRead, NotifyClose …), and errors, whether reported by WinSock or raised as
// EIpWinSockError by a hook, become OnError events with one fixed text. It also runs a window
// timer for idle and status handling, holds the settings handed to new sockets, and offers
// name, address and byte-order helpers over the WinSock table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/IpUtils.h"
#include "log/IpLog.h"
#include "sock/IpWinSock.h"
#include "toolkit/Platform.h"

enum TIpSockOptions {
  soBroadcast,
  soDebug,
  soDiscardReceived,
  soDontRoute,
  soEchoReceived,
  soEchoSent,
  soKeepAlive,
  soNoDelay,
  soReuseAddr,
  soStripHighBit,
  soTelnet
};
using TIpSockOptionSet = uint16_t;  // bit n = option n
constexpr TIpSockOptionSet SockOption(TIpSockOptions o) { return static_cast<TIpSockOptionSet>(1u << o); }

enum TIpLogOptions { loHighData, loLowData, loTelnet };
using TIpLogOptionSet = uint8_t;  // bit n = option n
constexpr TIpLogOptionSet LogOption(TIpLogOptions o) { return static_cast<TIpLogOptionSet>(1u << o); }

enum TIpReceiveMode { rmLine, rmStream, rmAny };

// Settings handed to every new socket.
class TIpBaseInits : public TPersistent {
 public:
  TIpSockOptionSet SocketOptions = 0;
};

// Settings handed to every new data socket.
class TIpDataInits : public TIpBaseInits {
 public:
  uint32_t FixedLineLength = 80;
  uint32_t IdleTimeout = 0;
  char LineTermChar = '\n';
  TIpLineTerminator LineTerminator = ltCRLF;
  TIpLogOptionSet LogOptions = LogOption(loHighData) | LogOption(loTelnet);
  int32_t ReceiveBufferSize = 4096;
  TIpReceiveMode ReceiveMode = rmLine;
  int32_t SendBufferSize = 4096;
  bool StripLineTerminator = false;
};

// What the control needs of a socket object; the client's socket classes implement it.
class TIpSocket : public TObject {
 public:
  virtual void HandleRead() {}
  virtual void HandleWrite() {}
  virtual void HandleOutOfBand() {}
  virtual void HandleConnect() {}
  virtual void HandleClose() {}
  virtual void HandleTimer(uint32_t /*elapsedMs*/) {}
  virtual void SendWindowSize() {}
};

using TIpErrorEvent = std::function<void(TObject* Sender, uint32_t Socket, int ErrCode, const String& ErrStr)>;
using TIpErrorReplyEvent = std::function<void(TObject* Sender, uint32_t Handle, int ErrCode, const String& ErrStr)>;

class TIpSockControl : public TIpBaseComponent, public TIpLogOwner {
 public:
  explicit TIpSockControl(TComponent* owner);
  ~TIpSockControl() override;

  static void FormatDataEntry(int32_t Socket, uint32_t Kind, const void* Data, uint32_t Length, String& Text);
  TIpFormatDataEntry FormatterClass() const override { return &TIpSockControl::FormatDataEntry; }

  // The hidden window's handle; WinSock posts socket events here.
  THandle WindowHandle() const { return FWindow->Handle(); }

  TIpDebugLog& DebugLog() { return *FDebugLog; }
  TIpEventLog& EventLog() { return *FEventLog; }
  TIpDataInits& DataInits() { return *FDataInits; }

  uint8_t SocketKind() const { return FSocketKind; }
  const String& ProtocolName() const { return FProtocolName; }
  int SocketType() const { return FSocketType; }
  uint32_t TimerInterval() const { return FTimerInterval; }
  // Restarts the window timer with the new period (0 stops it); the same value changes nothing.
  void SetTimerInterval(uint32_t value);
  uint32_t LastTick() const { return FLastTick; }

  bool DirectLineEvents = false;
  uint8_t StatusKinds = 0x07;  // set of 0..7; bit n = kind n
  TSockAddrIn LocalAddress{};
  std::vector<THandle> AttachedWindows;
  std::vector<uintptr_t> PendingLookups;  // request handles of lookups not yet completed

  TIpErrorEvent OnError;
  TIpErrorReplyEvent OnErrorReply;

  // Byte order and names, through the WinSock table.
  uint32_t HostToNetLong(uint32_t x);
  uint16_t HostToNetShort(uint16_t x);
  uint32_t NetToHostLong(uint32_t x);
  uint16_t NetToHostShort(uint16_t x);
  // IPv4 address (network order) of a host name through gethostbyname; 0 when not found.
  uint32_t HostToAddress(const String& host);
  // inet_addr of at most the first 15 characters; 0xFFFFFFFF when not a dotted address.
  uint32_t TextToAddress(const String& text);
  String AddressToText(uint32_t address);
  // Index-th address of a host entry; 0 for none or an empty slot. An index other than 0
  // beyond the list raises EIpIndexError.
  uint32_t HostEntAddress(const THostEnt* entry, int index);
  int HostEntAddressCount(const THostEnt* entry);
  String HostEntName(const THostEnt* entry);
  uint16_t ServEntPort(const TServEnt* entry);
  String ServEntName(const TServEnt* entry);
  String WinSockDescription() const override;
  String WinSockStatus() const override;
  uint16_t WinSockVersion() const override;

  // The virtual operations, in slot order.
  virtual TSocket CreateSocket();
  virtual void FreeSocket(TSocket socket);
  virtual bool IsActive() { return false; }
  virtual void SetSocketKind(uint8_t kind);
  virtual void DoLookupAddress(uintptr_t handle, uint32_t address);
  virtual void NotifyError(TSocket socket, int errCode, const String& errStr);
  virtual void NotifyErrorReply(uintptr_t handle, int errCode, const String& errStr);
  virtual void DoIdleTimeout(TSocket socket, bool& reset);
  virtual void DoItemSent(TSocket socket, int handle, int remaining);
  virtual void DoLookupName(uintptr_t handle, const String& name);
  virtual void DoLookupPort(uintptr_t handle, uint16_t port);
  virtual void DoReadLine(TSocket socket, const String& line);
  virtual void DoLookupService(uintptr_t handle, const String& name);
  virtual void DoStatus(TSocket socket, uint8_t kind);
  virtual void NotifyAccept(TSocket socket);
  virtual void NotifyClose(TSocket socket);
  virtual void NotifyConnect(TSocket socket);
  virtual void NotifyOutOfBand(TSocket socket);
  virtual void NotifyRead(TSocket socket);
  virtual void DoTimer();
  virtual void TimerElapsed(uint32_t elapsed);
  virtual void NotifyWrite(TSocket socket);
  virtual TIpSocket* FindSocket(TSocket socket, bool raiseIfMissing);
  virtual void WndProc(TMessage& message);
  virtual void AttachWindow(THandle wnd);
  virtual void DetachWindow(THandle wnd);

 protected:
  // Message handlers by number: the control's own, then those a descendant adds. Returns false
  // when the class has no handler for the message.
  virtual bool Dispatch(TMessage& message);
  // The path of every IPM_SOCKET_EVENT.
  void SocketEvent(TMessage& message);
  // Hands an exception that escaped event handling to the application's handler.
  void HandleException(const std::exception& e);

 private:
  std::unique_ptr<TIpDebugLog> FDebugLog;
  std::unique_ptr<TIpEventLog> FEventLog;
  std::unique_ptr<TIpDataInits> FDataInits;
  std::unique_ptr<TMessageWindow> FWindow;
  uint8_t FSocketKind = 0;
  String FProtocolName;
  int FSocketType = 0;
  uint32_t FTimerInterval = 0;
  uint32_t FLastTick = 0;
};
