// The socket control: the root of every socket-using component. It owns a hidden window to
// which WinSock posts asynchronous socket events; each event becomes a call of a virtual hook
// (NotifyRead, NotifyClose …), and errors, whether reported by WinSock or raised as
// EIpWinSockError by a hook, become OnError events with one fixed text; ErrorOrigin tells a
// handler where an error's code comes from. It also runs a window
// timer for idle and status handling, holds the settings handed to new sockets, and offers
// name, address and byte-order helpers over the WinSock table.
//
// Besides, it completes asynchronous lookups started on its window, hands received lines to
// OnReadLine (by default through a posted wake-up, so that they arrive after the socket's
// receive loop has returned), raises status events and writes connection lines to its event
// log, and renders its sockets' data entries for the debug log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/IpUtils.h"
#include "log/IpLog.h"
#include "sock/IpWinSock.h"
#include "toolkit/Platform.h"
#include "toolkit/SyncObjs.h"
#include "toolkit/WakeUp.h"

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

// A connection's end points, as a socket object reports them with its status (12 bytes, no
// gaps).
#pragma pack(push, 1)
struct TIpConnRec {
  uint32_t RemoteAddress;  // network order
  uint16_t RemotePort;     // host order
  uint32_t LocalAddress;   // network order
  uint16_t LocalPort;      // host order
};
#pragma pack(pop)
static_assert(sizeof(TIpConnRec) == 12);

// The byte counts of a data socket.
struct TIpByteCounts {
  uint32_t DataRead;     // delivered after the receive filters
  uint32_t DataWritten;  // data bytes of send items completed
  uint32_t RawRead;      // returned by recv
  uint32_t RawWritten;   // bytes of send items completed as sent (after telnet doubling)
};
// A data socket's statistics: eight counters, the four byte counts twice. Both groups are
// zeroed when a connection starts and grow together.
struct TIpSockStatRec {
  TIpByteCounts First;
  TIpByteCounts Second;
};
static_assert(sizeof(TIpSockStatRec) == 32);

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
  // A copy of the statistics, taken under the socket's lock.
  virtual TIpSockStatRec CopyStatistics() {
    std::lock_guard guard(FLock);
    return FStatistics;
  }
  // The socket object's lock (re-entrant), around every change of its state.
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }
  // The event that closes the socket carried an error, already reported: the close reports no
  // second failure of its own.
  void CloseFollowsError() { FCloseFollowsError = true; }

 protected:
  TCriticalSection FLock;
  TIpSockStatRec FStatistics{};
  bool FCloseFollowsError = false;
};

// The LParam of IPM_SOCKET_EVENT and of IPM_LOOKUP_DONE as WinSock makes it: the event (for a
// lookup, the entry's length) in the low word, an error code (0: none) in the high word.
constexpr intptr_t WinSockParam(uint32_t low, int error) {
  return static_cast<intptr_t>((low & 0xFFFF) | static_cast<uint32_t>(error) << 16);
}
constexpr uint32_t WinSockParamLow(intptr_t lparam) { return static_cast<uint32_t>(lparam) & 0xFFFF; }
constexpr int WinSockParamError(intptr_t lparam) {
  return static_cast<int>((static_cast<uint32_t>(lparam) >> 16) & 0xFFFF);
}

// The kinds of asynchronous lookup.
enum TIpLookupKind : uint8_t {
  lkHostByName,  // host name -> address
  lkHostByAddr,  // address -> host name
  lkServByName,  // service name -> port
  lkServByPort   // port -> service name
};

// One asynchronous lookup in flight. WinSock writes the host or service entry into Buffer
// while the request runs, so the record stays where it is until the completion (or the
// cancellation) and keeps the request's inputs as long.
struct TIpLookupRecord {
  uintptr_t Handle = 0;
  uint8_t Kind = 0;
  String Name;           // host or service name
  String Protocol;       // "tcp", "udp" for the service lookups
  uint32_t Address = 0;  // an address (network order) to name, or a port (network order)
  alignas(std::max_align_t) char Buffer[MaxGetHostStruct];
};

// The lookups started on the control's window and not yet completed, under a lock of their own.
class TIpPendingLookups {
 public:
  // Calls `start` under the lock with the new record (its Kind and inputs set), which starts
  // the request and returns its handle; keeps the record unless the handle is 0. So a
  // completion, whichever thread handles it, finds its record. Returns the handle.
  uintptr_t Start(std::unique_ptr<TIpLookupRecord> record, const std::function<uintptr_t(TIpLookupRecord&)>& start);
  // Removes the first record with this handle and hands it over; empty when there is none.
  std::unique_ptr<TIpLookupRecord> Take(uintptr_t handle);
  // Under the lock, from the last record to the first: removes the record and hands it to
  // `cancel`, which cancels the request and frees the record or keeps it elsewhere. Should
  // `cancel` raise, the record is freed.
  void CancelAll(const std::function<void(std::unique_ptr<TIpLookupRecord>)>& cancel);
  size_t Count() const;
  std::vector<uintptr_t> Handles() const;  // in the order the lookups started

 private:
  mutable TCriticalSection FLock;
  std::vector<std::unique_ptr<TIpLookupRecord>> FRecords;
};

using TIpLookupAddressEvent = std::function<void(TObject* Sender, uintptr_t Handle, uint32_t Address)>;
using TIpLookupNameEvent = std::function<void(TObject* Sender, uintptr_t Handle, const String& Name)>;
using TIpLookupPortEvent = std::function<void(TObject* Sender, uintptr_t Handle, uint16_t Port)>;
// The kinds of status a socket object reports (DoStatus, OnStatus); StatusKinds has bit n for
// kind n. Kinds 3 to 7 are left to descendants.
enum TIpStatusKind : uint8_t {
  skConnected = 0,  // the connection is up (through a proxy: the proxy granted it)
  skClosed = 1,     // the connection is closed; its handle number is reported as it was
  skDataMoved = 2   // bytes moved since the last timer tick
};

// The debug log's data entries of a socket object (rendered by TIpSockControl::FormatDataEntry):
// bytes delivered after the receive filters, user bytes sent, and what recv and send moved.
inline constexpr uint32_t deReadData = deDataFollows | 1;
inline constexpr uint32_t deWriteData = deDataFollows | 2;
inline constexpr uint32_t deRecvApi = deDataFollows | 3;
inline constexpr uint32_t deSendApi = deDataFollows | 4;

using TIpReadLineEvent = std::function<void(TObject* Sender, TSocket Socket, const String& Line)>;
using TIpStatusEvent = std::function<void(TObject* Sender, TSocket Socket, uint8_t Kind, const TIpConnRec& Connection,
                                          const TIpSockStatRec& Statistics)>;
using TIpItemSentEvent = std::function<void(TObject* Sender, TSocket Socket, int Handle, int Remaining)>;
using TIpIdleTimeoutEvent = std::function<void(TObject* Sender, TSocket Socket, bool& Reset)>;

// How ResolveSockAddr treats a host that is not a dotted address.
enum TIpNameResolution {
  nrLocal,   // looked up here; an unknown name raises "Host not found"
  nrByProxy  // left to the proxy (SOCKS 4a): the address stays 0
};

using TIpErrorEvent = std::function<void(TObject* Sender, uint32_t Socket, int ErrCode, const String& ErrStr)>;

// The library's own OnError codes, beside WinSock's (10000 and up) and a SOCKS proxy's.
inline constexpr int LineTooLongErrorCode = 8001;  // a received line outgrew MaxLineBuf
inline constexpr int LogWriteErrorCode = 8002;     // the event log could not be written

// Where an OnError code comes from, so that a handler need not know the ranges.
enum TIpErrorOrigin : uint8_t {
  eoWinSock,      // a WinSock error (10000 to 11999); the connection failed or broke
  eoSocks,        // the SOCKS proxy refused (its code, 1 to 255) or its reply could not be read (-1, -2)
  eoLineTooLong,  // LineTooLongErrorCode: the line was dropped, reading goes on
  eoLogWrite,     // LogWriteErrorCode: an event-log line was lost, the connection goes on
  eoLibrary,      // 0: the library refused a call a handler made in the wrong state, such as
                  // connecting while connected; also a SOCKS4 proxy's result code 0
  eoUnknown       // any other code
};
TIpErrorOrigin ErrorOrigin(int code);
using TIpErrorReplyEvent = std::function<void(TObject* Sender, uintptr_t Handle, int ErrCode, const String& ErrStr)>;

class TIpSockControl : public TIpBaseComponent, public TIpLogOwner {
 public:
  explicit TIpSockControl(TComponent* owner);
  ~TIpSockControl() override;

  // The four data kinds of the debug log (deReadData, deWriteData, deRecvApi, deSendApi) as a
  // header line and a hex dump; any other kind leaves Text as it is.
  static void FormatDataEntry(int32_t Socket, uint32_t Kind, const void* Data, uint32_t Length, String& Text);
  // 16 bytes a line: the offset, the bytes in upper-case hex in two groups of eight, and the
  // bytes as characters ("." below 0x20 and above 0x7E); each line 79 characters with "\r\n".
  // Nothing for 0 bytes.
  static String HexDump(const void* Data, uint32_t Length);
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

  // false: received lines reach OnReadLine through the posted IPM_LINE_READY; true: at once.
  bool DirectLineEvents = false;
  uint8_t StatusKinds = 0x07;  // set of 0..7; bit n = kind n (TIpStatusKind): 0, 1 and 2
  TSockAddrIn LocalAddress{};
  std::vector<THandle> AttachedWindows;
  TIpPendingLookups PendingLookups;

  TIpLookupAddressEvent OnLookupAddress;
  TIpErrorEvent OnError;
  TIpErrorReplyEvent OnErrorReply;
  TIpIdleTimeoutEvent OnIdleTimeout;
  TIpItemSentEvent OnItemSent;
  TIpLookupNameEvent OnLookupName;
  TIpLookupPortEvent OnLookupPort;
  TIpReadLineEvent OnReadLine;
  TIpLookupNameEvent OnLookupService;
  TIpStatusEvent OnStatus;

  // Asynchronous lookups, completed on this control's window: the result reaches
  // OnLookupAddress, OnLookupName, OnLookupPort or OnLookupService, a failure OnErrorReply,
  // each with the handle returned here. A lookup that cannot start raises EIpWinSockError.
  uintptr_t LookupAddress(const String& host);                          // host name -> address
  uintptr_t LookupName(uint32_t address);                               // address (network order) -> host name
  uintptr_t LookupPort(const String& service, const String& protocol);  // service name -> port
  uintptr_t LookupService(uint16_t port, const String& protocol);       // port (host order) -> service name

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
  // Address (network order) of a dotted address or a host name. A name that does not resolve
  // raises EIpWinSockError with WinSock's code (11001 "Host not found" when it gives none),
  // on API 'gethostbyname'.
  uint32_t ResolveHost(const String& host);
  // Fills family, port and address of `addr` from an address text as the address parser
  // splits it: its port (else `defaultPort`, host order) and its host. Raises
  // EIpWinSockError "Destination address required" (code 0) without a host, EConvertError
  // for a port above 65535, and what ResolveHost raises.
  void ResolveSockAddr(const String& text, TSockAddrIn& addr, uint16_t defaultPort,
                       TIpNameResolution resolution = nrLocal);
  // The same for a host (a dotted address or a name, read as it is) and a port (host order).
  void ResolveHostPort(const String& host, uint16_t port, TSockAddrIn& addr, TIpNameResolution resolution = nrLocal);
  // Closes a handle of this control's sockets (exactly once per handle: the platform gives the
  // number to the next socket it makes). Events for the number are dropped from now until the
  // IPM_SOCKET_CLOSED posted here comes back.
  void CloseSocketHandle(TSocket socket);
  // Events for this number are being dropped.
  bool IsClosedHandle(TSocket socket) const { return FClosedHandles.count(socket) != 0; }
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

  // Held by every call that can run a user's handler: the control's messages, the client's
  // public calls and the socket objects' own. Socket objects taken out of service are freed
  // only when the last such call returns (CallsReturned), never while their code is running.
  class TCallGuard {
   public:
    explicit TCallGuard(TIpSockControl& control) : FControl(control) { ++FControl.FCalls; }
    ~TCallGuard() {
      if (--FControl.FCalls == 0) FControl.CallsReturned();
    }
    TCallGuard(const TCallGuard&) = delete;
    TCallGuard& operator=(const TCallGuard&) = delete;

   private:
    TIpSockControl& FControl;
  };
  bool InCall() const { return FCalls != 0; }

  // Hands the lines still queued for `source` to OnReadLine now, in order: a connection's lines
  // come before its close status and its errors. A handler that raises is reported as an
  // event's exception is, and the next line still comes.
  void DeliverLines(const TIpSocket* source);

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
  // Takes the line by value: a line queued for IPM_LINE_READY is moved, not copied. `source` is
  // the socket object the line came from: queued lines are told apart by it, not by the number,
  // which the platform may give to the next socket.
  virtual void DoReadLine(TSocket socket, String line, const TIpSocket* source = nullptr);
  virtual void DoLookupService(uintptr_t handle, const String& name);
  // `kind` a TIpStatusKind. OnStatus (with a copy of the socket object's statistics) for the
  // kinds in StatusKinds; an event-log line for skConnected and skClosed. A line that cannot be
  // written reaches OnError (LogWriteErrorCode) once the current message or call is over, not
  // in the middle of the socket's state change.
  virtual void DoStatus(TSocket socket, uint8_t kind, const TIpConnRec& connection);
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

  // Reports an error through NotifyError once the current message or call is over
  // (IPM_LATE_ERROR; a post the queue refuses is retried on the next timer tick): for a
  // failure that a socket object meets in the middle of its own work, where a handler must not
  // run.
  void ReportLater(TSocket socket, int code, const String& text);

 protected:
  // Message handlers by number: the control's own, then those a descendant adds. Returns false
  // when the class has no handler for the message.
  virtual bool Dispatch(TMessage& message);
  // The path of every IPM_SOCKET_EVENT.
  void SocketEvent(TMessage& message);
  // Hands an exception that escaped event handling to the application's handler.
  void HandleException(const std::exception& e);
  // What an event does with an exception of a handler or hook: a WinSock error becomes OnError
  // for `socket`, anything else goes to the application's handler.
  void ReportException(TSocket socket, const std::exception& e);
  // The last call holding a TCallGuard returned.
  virtual void CallsReturned() {}
  // IPM_LOOKUP_DONE: the result or the error of a pending lookup.
  void LookupDone(TMessage& message);
  // IPM_LINE_READY: delivers the lines queued when the wake-up came, in order.
  void LinesReady();
  // IPM_LATE_ERROR: reports the errors queued by ReportLater, in order.
  void LateErrorsDue();

 private:
  struct TQueuedLine {
    TSocket Socket;
    String Line;
    const TIpSocket* Source;  // compared only: the object may be gone
    bool Taken = false;       // delivered ahead of its turn, by DeliverLines; skipped in its turn
  };
  // One queued line to OnReadLine, its handler's exception reported.
  void DeliverLine(const TQueuedLine& line);
  uintptr_t StartLookup(std::unique_ptr<TIpLookupRecord> record);
  std::unique_ptr<TIpDebugLog> FDebugLog;
  std::unique_ptr<TIpEventLog> FEventLog;
  std::unique_ptr<TIpDataInits> FDataInits;
  std::unique_ptr<TMessageWindow> FWindow;
  uint8_t FSocketKind = 0;
  String FProtocolName;
  int FSocketType = 0;
  uint32_t FTimerInterval = 0;
  uint32_t FLastTick = 0;
  // Lines waiting for OnReadLine, oldest first, with one IPM_LINE_READY wake-up; a refused
  // post is tried again by the next line or timer tick. Both under FLinesLock.
  TCriticalSection FLinesLock;
  std::deque<TQueuedLine> FLines;
  TWakeUp FLineWake;
  int FCalls = 0;
  struct TLateError {
    TSocket Socket = 0;
    int Code = 0;
    String Text;
  };
  TCriticalSection FLateLock;
  std::deque<TLateError> FLateErrors;
  TWakeUp FLateWake;
  // Closed handle numbers, each with the number of IPM_SOCKET_CLOSED barriers still on their way.
  std::map<TSocket, int> FClosedHandles;
};
