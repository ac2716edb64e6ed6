#include "sock/IpSockControl.h"

#include <algorithm>
#include <cstring>

#include "base/IpUrl.h"
#include "sock/IpConst.h"
#include "sock/IpSocks.h"
#include "toolkit/Application.h"

namespace {
constexpr uint32_t kTimerId = 1;
}

TIpSockControl::TIpSockControl(TComponent* owner) : TIpBaseComponent(owner) {
  FWindow = WindowSystem().CreateMessageWindow([this](TMessage& m) { WndProc(m); });
  FLineWake.SetTarget(FWindow->Handle(), IPM_LINE_READY);
  FLateWake.SetTarget(FWindow->Handle(), IPM_LATE_ERROR);
  FDebugLog = std::make_unique<TIpDebugLog>(this);
  FEventLog = std::make_unique<TIpEventLog>(this);
  FEventLog->SetDateTimeFormat("yyyy.mm.dd hh:nn:ss");
  FEventLog->SetFileName("event.log");
  FDataInits = std::make_unique<TIpDataInits>();
  LocalAddress.sin_family = afInet;
  SetTimerInterval(500);
  SetSocketKind(0);
}

TIpSockControl::~TIpSockControl() {
  try {
    SetTimerInterval(0);
  } catch (...) {
  }
  PendingLookups.CancelAll([](std::unique_ptr<TIpLookupRecord> record) {
    if (!WinSockAccess) return;
    // A request that WinSock reports cancelled may still write its buffer (Wine's lookups run
    // on to the end whatever the answer): its record stays until the library is unloaded. One
    // that WinSock reports finished has written all it will.
    if (WinSockAccess->WSACancelAsyncRequest()(record->Handle) == 0)
      WinSockAccess->KeepUntilUnload(std::shared_ptr<TIpLookupRecord>(std::move(record)));
  });
  // The trace is written out once, at the end. A file that cannot be written loses it, but the
  // rest of the clean-up must still happen.
  if (FDebugLog && !FDebugLog->BufferEmpty()) {
    try {
      FDebugLog->WriteDebugLog();
    } catch (...) {
    }
  }
  AttachedWindows.clear();
  FDataInits.reset();
  FEventLog.reset();
  FDebugLog.reset();
  FWindow.reset();
}

void TIpSockControl::FormatDataEntry(int32_t Socket, uint32_t Kind, const void* Data, uint32_t Length, String& Text) {
  const char* unit = Length == 1 ? "byte" : "bytes";
  switch (Kind) {
    case deReadData: Text = Format("Read - %d %s read from socket %d\r\n", {Length, unit, Socket}); break;
    case deWriteData: Text = Format("Write - %d %s written to socket %d\r\n", {Length, unit, Socket}); break;
    case deRecvApi: Text = Format("[%d] Recv API: %d %s read\r\n", {Socket, Length, unit}); break;
    case deSendApi: Text = Format("[%d] Send API: %d %s written\r\n", {Socket, Length, unit}); break;
    default: return;  // nothing of ours: the text stays as it was handed in
  }
  Text += HexDump(Data, Length);
}

String TIpSockControl::HexDump(const void* Data, uint32_t Length) {
  static const char kTemplate[] = "  000000: 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00 : 0000000000000000\r\n";
  constexpr size_t kLine = sizeof kTemplate - 1;  // 79
  static const char kHex[] = "0123456789ABCDEF";
  const auto* bytes = static_cast<const uint8_t*>(Data);
  String out;
  out.reserve((Length + 15) / 16 * kLine);
  for (uint32_t offset = 0; offset < Length; offset += 16) {
    char line[kLine];
    std::memcpy(line, kTemplate, kLine);
    for (int digit = 0; digit < 6; ++digit) line[7 - digit] = kHex[(offset >> (4 * digit)) & 0xF];
    for (uint32_t i = 0; i < 16; ++i) {
      char* hex = line + (i < 8 ? 10 + 3 * i : 35 + 3 * (i - 8));
      char* shown = line + 61 + i;
      if (offset + i < Length) {
        const uint8_t b = bytes[offset + i];
        hex[0] = kHex[b >> 4];
        hex[1] = kHex[b & 0xF];
        *shown = b < 0x20 || b > 0x7E ? '.' : static_cast<char>(b);
      } else {
        hex[0] = hex[1] = ' ';
        *shown = ' ';
      }
    }
    out.append(line, kLine);
  }
  return out;
}

uintptr_t TIpPendingLookups::Start(std::unique_ptr<TIpLookupRecord> record,
                                   const std::function<uintptr_t(TIpLookupRecord&)>& start) {
  std::lock_guard guard(FLock);
  record->Handle = start(*record);
  if (record->Handle == 0) return 0;
  FRecords.push_back(std::move(record));
  return FRecords.back()->Handle;
}

std::unique_ptr<TIpLookupRecord> TIpPendingLookups::Take(uintptr_t handle) {
  std::lock_guard guard(FLock);
  for (auto it = FRecords.begin(); it != FRecords.end(); ++it)
    if ((*it)->Handle == handle) {
      std::unique_ptr<TIpLookupRecord> record = std::move(*it);
      FRecords.erase(it);
      return record;
    }
  return nullptr;
}

void TIpPendingLookups::CancelAll(const std::function<void(std::unique_ptr<TIpLookupRecord>)>& cancel) {
  std::lock_guard guard(FLock);
  while (!FRecords.empty()) {
    std::unique_ptr<TIpLookupRecord> record = std::move(FRecords.back());
    FRecords.pop_back();
    try {
      cancel(std::move(record));
    } catch (...) {
      // Without the library no request can be running either.
    }
  }
}

size_t TIpPendingLookups::Count() const {
  std::lock_guard guard(FLock);
  return FRecords.size();
}

std::vector<uintptr_t> TIpPendingLookups::Handles() const {
  std::lock_guard guard(FLock);
  std::vector<uintptr_t> out;
  for (auto& r : FRecords) out.push_back(r->Handle);
  return out;
}

uintptr_t TIpSockControl::StartLookup(std::unique_ptr<TIpLookupRecord> record) {
  const uint8_t kind = record->Kind;
  TIpWinSockAccess& ws = *WinSockAccess;
  const THandle wnd = WindowHandle();
  uintptr_t handle = PendingLookups.Start(std::move(record), [&](TIpLookupRecord& r) -> uintptr_t {
    switch (r.Kind) {
      case lkHostByName:
        return ws.WSAAsyncGetHostByName()(wnd, IPM_LOOKUP_DONE, r.Name.c_str(), r.Buffer, sizeof r.Buffer);
      case lkHostByAddr:
        return ws.WSAAsyncGetHostByAddr()(wnd, IPM_LOOKUP_DONE, reinterpret_cast<const char*>(&r.Address),
                                          sizeof r.Address, afInet, r.Buffer, sizeof r.Buffer);
      case lkServByName:
        return ws.WSAAsyncGetServByName()(wnd, IPM_LOOKUP_DONE, r.Name.c_str(), r.Protocol.c_str(), r.Buffer,
                                          sizeof r.Buffer);
      default:
        return ws.WSAAsyncGetServByPort()(wnd, IPM_LOOKUP_DONE, static_cast<int>(r.Address), r.Protocol.c_str(),
                                          r.Buffer, sizeof r.Buffer);
    }
  });
  if (handle == 0) throw EIpWinSockError(ws.WSAGetLastError()(), LookupKindName(kind));
  return handle;
}

uintptr_t TIpSockControl::LookupAddress(const String& host) {
  auto record = std::make_unique<TIpLookupRecord>();
  record->Kind = lkHostByName;
  record->Name = host;
  return StartLookup(std::move(record));
}

uintptr_t TIpSockControl::LookupName(uint32_t address) {
  auto record = std::make_unique<TIpLookupRecord>();
  record->Kind = lkHostByAddr;
  record->Address = address;
  return StartLookup(std::move(record));
}

uintptr_t TIpSockControl::LookupPort(const String& service, const String& protocol) {
  auto record = std::make_unique<TIpLookupRecord>();
  record->Kind = lkServByName;
  record->Name = service;
  record->Protocol = protocol;
  return StartLookup(std::move(record));
}

uintptr_t TIpSockControl::LookupService(uint16_t port, const String& protocol) {
  auto record = std::make_unique<TIpLookupRecord>();
  record->Kind = lkServByPort;
  record->Address = HostToNetShort(port);  // the platform wants the port in network order
  record->Protocol = protocol;
  return StartLookup(std::move(record));
}

void TIpSockControl::LookupDone(TMessage& message) {
  message.Result = 0;
  // The record is freed when this returns, also when a hook raises.
  std::unique_ptr<TIpLookupRecord> record = PendingLookups.Take(message.WParam);
  if (!record) return;
  const int error = WinSockParamError(message.LParam);
  if (error != 0) {
    NotifyErrorReply(record->Handle, error,
                     Format(SWinSockErrorFormat, {error, ErrorText(error), LookupKindName(record->Kind)}));
    return;
  }
  const auto* host = reinterpret_cast<const THostEnt*>(record->Buffer);
  const auto* service = reinterpret_cast<const TServEnt*>(record->Buffer);
  switch (record->Kind) {
    case lkHostByName: DoLookupAddress(record->Handle, HostEntAddress(host, 0)); break;
    case lkHostByAddr: DoLookupName(record->Handle, HostEntName(host)); break;
    case lkServByName: DoLookupPort(record->Handle, ServEntPort(service)); break;
    case lkServByPort: DoLookupService(record->Handle, ServEntName(service)); break;
    default: break;
  }
}

void TIpSockControl::SetTimerInterval(uint32_t value) {
  if (value == FTimerInterval) return;
  FTimerInterval = value;
  FWindow->KillTimer(kTimerId);
  if (value != 0) {
    if (!FWindow->SetTimer(kTimerId, value)) throw EOutOfResources(SNoTimers);
    FLastTick = SystemApi().GetTickCount();
  }
}

uint32_t TIpSockControl::HostToNetLong(uint32_t x) { return WinSockAccess->Htonl()(x); }
uint16_t TIpSockControl::HostToNetShort(uint16_t x) { return WinSockAccess->Htons()(x); }
uint32_t TIpSockControl::NetToHostLong(uint32_t x) { return WinSockAccess->Ntohl()(x); }
uint16_t TIpSockControl::NetToHostShort(uint16_t x) { return WinSockAccess->Ntohs()(x); }

uint32_t TIpSockControl::HostToAddress(const String& host) {
  return HostEntAddress(WinSockAccess->GetHostByName()(host.c_str()), 0);
}

uint32_t TIpSockControl::TextToAddress(const String& text) {
  // No dotted address is longer than 15 characters; cutting a longer text to 15 could make one
  // ("192.168.100.1000" would become 192.168.100.100).
  if (text.size() > 15) return 0xFFFFFFFFu;
  char buffer[16] = {};
  std::memcpy(buffer, text.data(), text.size());
  return WinSockAccess->InetAddr()(buffer);
}

uint32_t TIpSockControl::ResolveHost(const String& host) {
  const uint32_t dotted = TextToAddress(host);
  if (dotted != 0xFFFFFFFFu) return dotted;
  const THostEnt* entry = WinSockAccess->GetHostByName()(host.c_str());
  if (!entry || HostEntAddressCount(entry) == 0) {
    const int code = entry ? 0 : WinSockAccess->WSAGetLastError()();
    throw EIpWinSockError(code != 0 ? code : wsahostNotFound, "gethostbyname");
  }
  return HostEntAddress(entry, 0);
}

void TIpSockControl::ResolveSockAddr(const String& text, TSockAddrIn& addr, uint16_t defaultPort,
                                     TIpNameResolution resolution) {
  TIpAddrRec rec;
  ParseURL(text, rec);
  uint16_t port = defaultPort;
  if (!rec.Port.empty()) {
    // Digits only (the parser stops at anything else); beyond 65535 the port would wrap.
    if (rec.Port.size() > 5 || std::stoul(rec.Port) > 0xFFFF)
      throw EConvertError("'" + rec.Port + "' is not a valid port");
    port = static_cast<uint16_t>(std::stoul(rec.Port));
  }
  ResolveHostPort(rec.Authority, port, addr, resolution);
}

void TIpSockControl::ResolveHostPort(const String& host, uint16_t port, TSockAddrIn& addr,
                                     TIpNameResolution resolution) {
  addr.sin_family = afInet;
  addr.sin_port = HostToNetShort(port);
  if (host.empty()) throw EIpWinSockError(String(SDestAddrRequired));
  // Taken out first: TextToAddress answers the same number for a text that is no address.
  if (host == "255.255.255.255") {
    addr.sin_addr = 0xFFFFFFFFu;
    return;
  }
  if (resolution == nrByProxy) {
    // The proxy looks the name up: the SOCKS 4a request carries it (the socket keeps the
    // address text). A dotted address is sent as it is.
    const uint32_t dotted = TextToAddress(host);
    addr.sin_addr = dotted != 0xFFFFFFFFu ? dotted : 0;
    return;
  }
  addr.sin_addr = ResolveHost(host);
}

void TIpSockControl::CloseSocketHandle(TSocket socket) {
  if (socket == InvalidSocket) return;
  // The barrier follows the close, so every event WinSock posted for the old socket is ahead of
  // it. A barrier the queue refuses leaves the number unguarded rather than deaf for good.
  auto guard = [&] {
    if (WindowSystem().Post(WindowHandle(), IPM_SOCKET_CLOSED, static_cast<uintptr_t>(socket), 0))
      ++FClosedHandles[socket];
  };
  try {
    WinSockAccess->CloseSocket()(socket);
  } catch (...) {
    guard();
    throw;
  }
  guard();
}

String TIpSockControl::AddressToText(uint32_t address) {
  const char* text = WinSockAccess->InetNtoa()(address);
  return text ? String(text) : String();
}

uint32_t TIpSockControl::HostEntAddress(const THostEnt* entry, int index) {
  if (!entry) return 0;
  if (index < 0 || (index != 0 && index >= HostEntAddressCount(entry))) throw EIpIndexError();
  // An entry whose address list is empty has no first address: treat it as not found
  // instead of reading through the empty slot.
  if (!entry->h_addr_list || !entry->h_addr_list[index]) return 0;
  uint32_t address;
  std::memcpy(&address, entry->h_addr_list[index], sizeof address);
  return address;
}

int TIpSockControl::HostEntAddressCount(const THostEnt* entry) {
  if (!entry || !entry->h_addr_list) return 0;
  for (int i = 0; i < 256; ++i)
    if (!entry->h_addr_list[i]) return i;
  return 0;
}

String TIpSockControl::HostEntName(const THostEnt* entry) {
  return entry && entry->h_name ? String(entry->h_name) : String();
}

uint16_t TIpSockControl::ServEntPort(const TServEnt* entry) {
  return entry ? NetToHostShort(static_cast<uint16_t>(entry->s_port)) : 0;
}

String TIpSockControl::ServEntName(const TServEnt* entry) {
  return entry && entry->s_name ? String(entry->s_name) : String();
}

String TIpSockControl::WinSockDescription() const { return WinSockAccess ? WinSockAccess->WsaData.szDescription : ""; }
String TIpSockControl::WinSockStatus() const { return WinSockAccess ? WinSockAccess->WsaData.szSystemStatus : ""; }
uint16_t TIpSockControl::WinSockVersion() const { return WinSockAccess ? WinSockAccess->WsaData.wVersion : 0; }

TSocket TIpSockControl::CreateSocket() {
  throw EIpProgrammerError();  // abstract here: a plain control has no socket objects
}

void TIpSockControl::FreeSocket(TSocket) { throw EIpProgrammerError(); }

void TIpSockControl::SetSocketKind(uint8_t kind) {
  if (IsActive()) throw EIpActiveError();
  FSocketKind = kind;
  if (kind == 0) {
    FProtocolName = "tcp";
    FSocketType = sockStream;
  } else if (kind == 1) {
    FProtocolName = "udp";
    FSocketType = sockDgram;
  }
}

void TIpSockControl::DoLookupAddress(uintptr_t handle, uint32_t address) {
  if (OnLookupAddress) OnLookupAddress(this, handle, address);
}

void TIpSockControl::NotifyError(TSocket socket, int errCode, const String& errStr) {
  if (OnError) OnError(this, socket, errCode, errStr);
}

void TIpSockControl::NotifyErrorReply(uintptr_t handle, int errCode, const String& errStr) {
  if (OnErrorReply) OnErrorReply(this, handle, errCode, errStr);
}

void TIpSockControl::DoIdleTimeout(TSocket socket, bool& reset) {
  if (OnIdleTimeout) OnIdleTimeout(this, socket, reset);
}

void TIpSockControl::DoItemSent(TSocket socket, int handle, int remaining) {
  if (OnItemSent) OnItemSent(this, socket, handle, remaining);
}

void TIpSockControl::DoLookupName(uintptr_t handle, const String& name) {
  if (OnLookupName) OnLookupName(this, handle, name);
}

void TIpSockControl::DoLookupPort(uintptr_t handle, uint16_t port) {
  if (OnLookupPort) OnLookupPort(this, handle, port);
}

void TIpSockControl::DoReadLine(TSocket socket, String line, const TIpSocket* source) {
  if (DirectLineEvents) {
    DeliverLine({socket, std::move(line), source});
    return;
  }
  std::lock_guard guard(FLinesLock);
  FLines.push_back({socket, std::move(line), source});
  FLineWake.Request();
}

namespace {

// Hands on, oldest first, the items that were queued when their wake-up came (with
// `evenIfStray`, also for a wake-up that was not outstanding): items queued by the handlers
// wait for the next wake-up, so other messages get their turn. Whatever ends the loop, a
// handler that raised included, what is still queued gets a wake-up of its own.
template <class TItem, class THandOn>
void DeliverQueued(TCriticalSection& lock, std::deque<TItem>& queue, TWakeUp& wake, bool evenIfStray, THandOn handOn) {
  size_t due;
  {
    std::lock_guard guard(lock);
    if (!wake.Arrived() && !evenIfStray) return;
    due = queue.size();
  }
  struct Rearm {
    TCriticalSection& Lock;
    std::deque<TItem>& Queue;
    TWakeUp& Wake;
    ~Rearm() {
      std::lock_guard guard(Lock);
      Wake.Done();
      if (!Queue.empty()) Wake.Request();
    }
  } rearm{lock, queue, wake};
  for (; due > 0; --due) {
    TItem item;
    {
      std::lock_guard guard(lock);
      if (queue.empty()) break;
      item = std::move(queue.front());
      queue.pop_front();
    }
    handOn(item);
  }
}

}  // namespace

void TIpSockControl::DeliverLine(const TQueuedLine& line) {
  if (!OnReadLine) return;
  try {
    OnReadLine(this, line.Socket, line.Line);
  } catch (const std::exception& e) {
    ReportException(line.Socket, e);
  }
}

void TIpSockControl::DeliverLines(const TIpSocket* source) {
  if (!source) return;
  TCallGuard call(*this);
  for (;;) {
    TQueuedLine line;
    {
      std::lock_guard guard(FLinesLock);
      auto it = std::find_if(FLines.begin(), FLines.end(),
                             [source](const TQueuedLine& l) { return l.Source == source && !l.Taken; });
      if (it == FLines.end()) return;
      line = std::move(*it);
      // One behind another socket's line is marked, not erased from the middle: LinesReady
      // drops it when its turn comes.
      if (it == FLines.begin())
        FLines.pop_front();
      else
        it->Taken = true;
    }
    DeliverLine(line);
  }
}

void TIpSockControl::LinesReady() {
  // A stray wake-up delivers too: lines are never left waiting.
  DeliverQueued(FLinesLock, FLines, FLineWake, true, [this](const TQueuedLine& line) {
    if (!line.Taken) DeliverLine(line);
  });
}

void TIpSockControl::DoLookupService(uintptr_t handle, const String& name) {
  if (OnLookupService) OnLookupService(this, handle, name);
}

void TIpSockControl::DoStatus(TSocket socket, uint8_t kind, const TIpConnRec& connection) {
  if (OnStatus && kind <= 7 && (StatusKinds >> kind & 1) != 0) {
    const TIpSockStatRec statistics = FindSocket(socket, true)->CopyStatistics();
    OnStatus(this, socket, kind, connection, statistics);
  }
  if (kind != skConnected && kind != skClosed) return;
  const String remote = AddressToText(connection.RemoteAddress) + ":" + std::to_string(connection.RemotePort);
  const String local = AddressToText(connection.LocalAddress) + ":" + std::to_string(connection.LocalPort);
  // The socket object calls this in the middle of its own state change: a log file that cannot
  // be written must not stop it, and a handler of the error must not run inside it (it may
  // disconnect or reconnect), so the failure is reported once the step is over.
  try {
    FEventLog->WriteEventString(Format(kind == skConnected ? SEventConnect : SEventClose, {local, remote}));
  } catch (const std::exception& e) {
    ReportLater(socket, LogWriteErrorCode, ExceptionMessage(e));
  }
}

void TIpSockControl::ReportLater(TSocket socket, int code, const String& text) {
  std::lock_guard guard(FLateLock);
  FLateErrors.push_back({socket, code, text});
  FLateWake.Request();  // a refused post is tried again on the next timer tick
}

void TIpSockControl::LateErrorsDue() {
  DeliverQueued(FLateLock, FLateErrors, FLateWake, false,
                [this](const TLateError& e) { NotifyError(e.Socket, e.Code, e.Text); });
}

TIpErrorOrigin ErrorOrigin(int code) {
  if (code >= 10000 && code < 12000) return eoWinSock;
  if (code == LineTooLongErrorCode) return eoLineTooLong;
  if (code == LogWriteErrorCode) return eoLogWrite;
  if (code == 0) return eoLibrary;
  if (code >= TIpSocksHandshake::BadAddressTypeCode && code <= 255) return eoSocks;
  return eoUnknown;
}
void TIpSockControl::NotifyAccept(TSocket) {}

void TIpSockControl::NotifyClose(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) {
    // The object goes also when closing raised (a handler, a log that cannot be written).
    try {
      s->HandleClose();
    } catch (...) {
      FreeSocket(socket);
      throw;
    }
    FreeSocket(socket);
  }
}

void TIpSockControl::NotifyConnect(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) s->HandleConnect();
}

void TIpSockControl::NotifyOutOfBand(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) s->HandleOutOfBand();
}

void TIpSockControl::NotifyRead(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) s->HandleRead();
}

void TIpSockControl::NotifyWrite(TSocket socket) {
  if (TIpSocket* s = FindSocket(socket, false)) s->HandleWrite();
}

void TIpSockControl::DoTimer() {
  {
    std::lock_guard guard(FLinesLock);
    FLineWake.Tick();  // lines whose wake-up could not be posted
  }
  {
    std::lock_guard guard(FLateLock);
    FLateWake.Tick();  // errors whose wake-up could not be posted
  }
  uint32_t now = SystemApi().GetTickCount();
  uint32_t elapsed = now < FLastTick ? (0xFFFFFFFFu - FLastTick) + now : now - FLastTick;
  FLastTick = now;
  TimerElapsed(elapsed);
}

void TIpSockControl::TimerElapsed(uint32_t) {}

TIpSocket* TIpSockControl::FindSocket(TSocket, bool raiseIfMissing) {
  if (raiseIfMissing) throw EIpNoSocketError();
  return nullptr;
}

void TIpSockControl::HandleException(const std::exception& e) {
  if (Application) Application->HandleException(this, e);
}

void TIpSockControl::ReportException(TSocket socket, const std::exception& e) {
  if (const auto* winSock = dynamic_cast<const EIpWinSockError*>(&e))
    NotifyError(socket, winSock->ErrorCode(), winSock->Message());
  else
    HandleException(e);
}

void TIpSockControl::WndProc(TMessage& message) {
  TCallGuard call(*this);
  if (message.Msg == wmTimer) {
    try {
      DoTimer();
    } catch (const std::exception& e) {
      SetTimerInterval(0);
      HandleException(e);
    }
    return;
  }
  if (message.Msg == wmQueryEndSession) {
    try {
      message.Result = 1;
    } catch (const std::exception& e) {
      HandleException(e);
    }
    return;
  }
  if (!Dispatch(message)) message.Result = 0;
}

bool TIpSockControl::Dispatch(TMessage& message) {
  switch (message.Msg) {
    case IPM_LOOKUP_DONE: LookupDone(message); return true;
    case IPM_SOCKET_EVENT: SocketEvent(message); return true;
    case IPM_LINE_READY:
      message.Result = 0;
      LinesReady();
      return true;
    case IPM_LATE_ERROR:
      message.Result = 0;
      LateErrorsDue();
      return true;
    case IPM_SOCKET_FREE: FreeSocket(static_cast<TSocket>(message.WParam)); return true;
    case IPM_SEND_WINDOW_SIZE: {
      // Posted by the telnet negotiation, so no socket event's handler is on the stack to take
      // a failed send: it is reported here, as one in an event would be.
      const auto socket = static_cast<TSocket>(message.WParam);
      try {
        if (TIpSocket* s = FindSocket(socket, false)) s->SendWindowSize();
      } catch (const std::exception& e) {
        ReportException(socket, e);
      }
      return true;
    }
    case IPM_SOCKET_CLOSED: {
      auto it = FClosedHandles.find(static_cast<TSocket>(message.WParam));
      if (it != FClosedHandles.end() && --it->second == 0) FClosedHandles.erase(it);
      message.Result = 0;
      return true;
    }
    default: return false;
  }
}

void TIpSockControl::SocketEvent(TMessage& message) {
  const TSocket socket = static_cast<TSocket>(message.WParam);
  const int error = WinSockParamError(message.LParam);
  const uint32_t event = WinSockParamLow(message.LParam);
  message.Result = 0;
  // Posted before the handle was closed: it belongs to the closed socket, not to a new one
  // that the platform may have given the same number since.
  if (IsClosedHandle(socket)) return;
  TCallGuard call(*this);
  // The event is the object's that has the number now; a handler may close it and make another
  // with the same number, which the rest of the event must not reach.
  TIpSocket* const target = FindSocket(socket, false);
  try {
    if (error != 0) {
      // Lines read before the error come before it; a handler of theirs may close the
      // connection, and the error is then no more its.
      DeliverLines(target);
      const auto same = [&] { return !IsClosedHandle(socket) && FindSocket(socket, false) == target; };
      if (!same()) return;
      try {
        NotifyError(socket, error, Format(SWinSockErrorFormat, {error, ErrorText(error), EventName(event)}));
      } catch (const std::exception& e) {
        if (event != fdClose) throw;
        HandleException(e);  // the connection closes all the same
      }
      if (event == fdClose && same()) {
        if (target) target->CloseFollowsError();
        NotifyClose(socket);
      }
    } else {
      switch (event) {
        case fdRead: NotifyRead(socket); break;
        case fdWrite: NotifyWrite(socket); break;
        case fdOob: NotifyOutOfBand(socket); break;
        case fdAccept: NotifyAccept(socket); break;
        case fdConnect: NotifyConnect(socket); break;
        case fdClose: NotifyClose(socket); break;
        default: break;
      }
    }
  } catch (const std::exception& e) {
    ReportException(socket, e);
  }
  message.Result = 0;
}

void TIpSockControl::AttachWindow(THandle wnd) { AttachedWindows.push_back(wnd); }

void TIpSockControl::DetachWindow(THandle wnd) {
  for (auto it = AttachedWindows.begin(); it != AttachedWindows.end(); ++it)
    if (*it == wnd) {
      AttachedWindows.erase(it);
      return;
    }
}
