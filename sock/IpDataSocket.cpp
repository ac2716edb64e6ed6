#include "sock/IpDataSocket.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/IpUrl.h"
#include "log/IpLog.h"
#include "sock/IpClient.h"
#include "sock/IpConst.h"

namespace {
// Below this size a buffer-size request is not made: the system's default stays.
constexpr int kMinBufferSize = 1460;
// The receive buffer is compacted only once it is more than half full.
constexpr uint32_t kCompactAbove = TIpDataSocket::BufferCapacity / 2;

// The user's bytes of a send item whose 0xFF bytes were doubled.
String Undoubled(const char* bytes, size_t len) {
  String out;
  out.reserve(len);
  for (size_t i = 0; i < len; ++i) {
    out += bytes[i];
    if (static_cast<uint8_t>(bytes[i]) == tcIAC && i + 1 < len) ++i;
  }
  return out;
}

// A data socket's telnet logic: what it receives goes through the socket's telnet hooks.
class TSocketTelnet final : public TIpTelnet {
 public:
  explicit TSocketTelnet(TIpDataSocket& socket) : FSocket(socket) {}
  bool HandleTelnetCommand(uint8_t Cmd, uint8_t Opt) override { return FSocket.HandleTelnetCommand(Cmd, Opt); }
  void HandleSubnegotiation(const String& Text) override { FSocket.HandleSubnegotiation(Text); }

 private:
  TIpDataSocket& FSocket;
};
}  // namespace

std::unique_ptr<uint8_t[]> TakeDataCopy(uintptr_t wparam) {
  return std::unique_ptr<uint8_t[]>(reinterpret_cast<uint8_t*>(wparam));
}

TIpDataSocket::TIpDataSocket(TIpSockControl* owner, TSocket existing, const TSockAddrIn& localAddress,
                             const TIpDataInits* inits, const TIpSocksServerInfo* socks)
    : TIpBaseSocket(owner, existing, localAddress, inits, socks, fdRead | fdWrite | fdConnect | fdClose) {
  const TIpDataInits defaults;
  const TIpDataInits& from = inits ? *inits : defaults;
  FixedLineLength = from.FixedLineLength;
  IdleTimeout = from.IdleTimeout;
  LineTermChar = from.LineTermChar;
  LineTerminator = from.LineTerminator;
  LogOptions = from.LogOptions;
  ReceiveMode = from.ReceiveMode;
  StripLineTerminator = from.StripLineTerminator;
  SetReceiveBufferSize(from.ReceiveBufferSize);
  SetSendBufferSize(from.SendBufferSize);
}

TIpDataSocket::~TIpDataSocket() { ClearQueue(); }

void TIpDataSocket::SetReceiveStream(TStream* stream) {
  std::lock_guard guard(FLock);
  FReceiveStream = stream;
}

void TIpDataSocket::AddListenerWindow(THandle wnd) {
  std::lock_guard guard(FLock);
  FListenerWindows.push_back(wnd);
}

void TIpDataSocket::RemoveListenerWindow(THandle wnd) {
  std::lock_guard guard(FLock);
  for (auto it = FListenerWindows.begin(); it != FListenerWindows.end(); ++it)
    if (*it == wnd) {
      FListenerWindows.erase(it);
      return;
    }
}

void TIpDataSocket::SetReceiveBufferSize(int size) { SetBufferSize(optRcvBuf, size); }
void TIpDataSocket::SetSendBufferSize(int size) { SetBufferSize(optSndBuf, size); }

void TIpDataSocket::SetBufferSize(int option, int size) {
  std::lock_guard guard(FLock);
  if (Handle() == InvalidSocket) return;
  TIpWinSockAccess& ws = *WinSockAccess;
  for (int n = size; n > kMinBufferSize; n /= 2) {
    const int32_t value = n;
    if (ws.SetSockOpt()(Handle(), solSocket, option, reinterpret_cast<const char*>(&value), sizeof value) !=
        SocketCallFailed)
      return;
    const int code = ws.WSAGetLastError()();
    // The option itself is refused: no smaller size would do better.
    if (code == wsaeNoProtoOpt || code == wsaeInval) return;
  }
}

void TIpDataSocket::Log(uint32_t kind, const void* data, uint32_t len) {
  Owner()->DebugLog().AddLogEntry(&TIpSockControl::FormatDataEntry, static_cast<int32_t>(LastHandle()), kind, data,
                                  len);
}

void TIpDataSocket::CountRead(uint32_t raw, uint32_t data) {
  for (TIpByteCounts* c : {&FStatistics.First, &FStatistics.Second}) {
    c->RawRead += raw;
    c->DataRead += data;
  }
}

void TIpDataSocket::CountWritten(uint32_t raw, uint32_t data) {
  for (TIpByteCounts* c : {&FStatistics.First, &FStatistics.Second}) {
    c->RawWritten += raw;
    c->DataWritten += data;
  }
}

void TIpDataSocket::HandleRead() {
  ResetIdle();
  while (ReadSocket(false) > 0)
    while (ProcessBuffer()) {
    }
}

int TIpDataSocket::ReadSocket(bool force) {
  std::lock_guard guard(FLock);
  if (Handle() == InvalidSocket || (!force && !FConnected)) return 0;
  if (FConsumed >= FFilled) FConsumed = FFilled = FScanned = 0;
  uint8_t* at = FBuffer + FFilled;
  TIpWinSockAccess& ws = *WinSockAccess;
  int n = ws.Recv()(Handle(), reinterpret_cast<char*>(at), static_cast<int>(BufferCapacity - FFilled), 0);
  if (n > 0 && (LogOptions & LogOption(loLowData))) Log(deRecvApi, at, static_cast<uint32_t>(n));
  if (n == SocketCallFailed) {
    const int code = ws.WSAGetLastError()();
    if (code == wsaeWouldBlock || code == wsaeNotConn || force) return 0;
    throw EIpWinSockError(code, "Recv");
  }
  if (n <= 0) return 0;  // the peer closed its side; FD_CLOSE follows
  const uint32_t raw = static_cast<uint32_t>(n);
  if (FSocksState >= 1 && FSocksState <= 4) n = ProcessSocksReply(at, n);
  if (TelnetMode()) n = TelnetFilter(at, n);
  if (StripHighBit())
    for (int i = 0; i < n; ++i) at[i] &= 0x7F;
  if (EchoReceived() && n > 0) QueueData(at, n, nullptr, false, true, false);
  if (DiscardReceived()) n = 0;
  if (n > 0 && (LogOptions & LogOption(loHighData))) Log(deReadData, at, static_cast<uint32_t>(n));
  PostDataCopies(at, n);
  CountRead(raw, static_cast<uint32_t>(n));
  FDataMoved = true;
  FFilled += static_cast<uint32_t>(n);
  return n;
}

void TIpDataSocket::PostDataCopies(const uint8_t* data, int len) {
  if (len <= 0) return;
  for (THandle wnd : FListenerWindows) {
    auto copy = std::make_unique<uint8_t[]>(static_cast<size_t>(len));
    std::memcpy(copy.get(), data, static_cast<size_t>(len));
    // A copy the window did not get is freed here; the receiver frees one it got.
    if (WindowSystem().Post(wnd, IPM_DATA_COPY, reinterpret_cast<uintptr_t>(copy.get()), len)) copy.release();
  }
}

bool TIpDataSocket::ProcessBuffer() {
  std::lock_guard guard(FLock);
  if (FConsumed == FFilled) return false;
  switch (ReceiveMode) {
    case rmLine: {
      const bool delivered = ExtractLine(false);
      if (FPartialLine.size() > MaxLineBuf) {
        FPartialLine.clear();
        Owner()->NotifyError(Handle(), LineTooLongError, SLineTooLong);
      }
      // A full buffer without a line end in it: its start moves to the partial line, except the
      // last two bytes, so a CR LF pair is never split. Only then: after a line, the rest may
      // hold more lines.
      if (!delivered && FFilled == BufferCapacity && FFilled - FConsumed > 2) {
        const uint32_t count = FFilled - 2 - FConsumed;
        FPartialLine.append(reinterpret_cast<const char*>(FBuffer + FConsumed), count);
        FConsumed += count;
        FScanned = FScanned > count ? FScanned - count : 0;
      }
      if (FConsumed > 0 && FFilled > kCompactAbove) {
        std::memmove(FBuffer, FBuffer + FConsumed, FFilled - FConsumed);
        FFilled -= FConsumed;
        FConsumed = 0;
      }
      return delivered;
    }
    case rmStream:
      if (!FReceiveStream) throw EIpProgrammerError();
      FReceiveStream->Write(FBuffer + FConsumed, FFilled - FConsumed);
      FConsumed = FFilled;
      FScanned = 0;
      return false;
    case rmAny: return ExtractLine(true);
  }
  return false;
}

bool TIpDataSocket::ExtractLine(bool any) {
  std::lock_guard guard(FLock);
  const uint32_t avail = FFilled - FConsumed;
  const char* start = reinterpret_cast<const char*>(FBuffer + FConsumed);
  String piece;
  if (any) {
    // Everything: the partial line, then every buffered byte (after a close mid-line the
    // partial line may be longer than what is left in the buffer).
    if (avail == 0 && FPartialLine.empty()) return false;
    piece = std::move(FPartialLine);
    piece.append(start, avail);
    FConsumed += avail;
  } else if (avail == 0) {
    return false;
  } else if (LineTerminator == ltNone) {
    const uint32_t size = FixedLineLength;
    if (size == 0 || size > avail + FPartialLine.size()) return false;
    const uint32_t take = size - static_cast<uint32_t>(FPartialLine.size());
    piece = std::move(FPartialLine);
    piece.append(start, take);
    FConsumed += take;
  } else {
    char term;
    uint32_t termLen = 1;
    switch (LineTerminator) {
      case ltCR: term = '\r'; break;
      case ltLF: term = '\n'; break;
      case ltCRLF:
        term = '\n';
        termLen = 2;
        break;
      case ltOther: term = LineTermChar; break;
      default: throw Exception("Bad terminator");
    }
    if (!StripLineTerminator) termLen = 0;
    const bool crlf = LineTerminator == ltCRLF;
    // Bytes already searched for this same terminator are not searched again.
    uint32_t i = FScanTerm == term && FScanCrLf == crlf && FScanned <= avail ? FScanned : 0;
    for (;; ++i) {
      if (i == avail) {
        FScanned = avail;
        FScanTerm = term;
        FScanCrLf = crlf;
        return false;
      }
      if (start[i] == term && (!crlf || (i > 0 && start[i - 1] == '\r'))) break;
    }
    piece = std::move(FPartialLine);
    piece.append(start, i + 1 - termLen);
    FConsumed += i + 1;
  }
  FPartialLine.clear();
  FScanned = 0;
  // The buffer is up to date before the owner hears of the piece: its handler may read or
  // close this socket.
  Owner()->DoReadLine(LastHandle(), piece);
  return true;
}

int TIpDataSocket::QueueData(const void* data, int len, std::unique_ptr<TStream> stream, bool closeAfter, bool protocol,
                             bool raw) {
  std::lock_guard guard(FLock);
  auto owned = std::make_unique<TSendItem>();
  TSendItem* item = owned.get();
  item->CloseAfter = closeAfter;
  item->Protocol = protocol;
  item->Stream = std::move(stream);
  const String bytes = len > 0 ? String(static_cast<const char*>(data), static_cast<size_t>(len)) : String();
  if (item->Stream) {
    LoadStreamChunk(*item);
  } else {
    item->Doubled = TelnetMode() && !raw;
    item->Buf = item->Doubled ? TIpTelnet::TelnetEscape(bytes) : bytes;
    item->DataLen = static_cast<uint32_t>(bytes.size());
  }
  if (!protocol && SocksHandshaking()) {
    // The proxy reads the handshake first: the user's bytes wait for the grant.
    item->Id = NextItemId();
    FHeldItems.push_back(std::move(owned));
    return item->Id;
  }
  FSendQueue.push_back(std::move(owned));
  if (FSendQueue.size() == 1) {
    while (FWritable) {
      if (SendItem(*item)) {
        if (item->CloseAfter)
          CloseAndRequestFree();  // which clears the queue, item included
        else
          FSendQueue.pop_front();
        return 0;
      }
    }
  }
  item->Id = NextItemId();
  return item->Id;
}

int TIpDataSocket::NextItemId() {
  if (++FItemCounter == 0) ++FItemCounter;
  return static_cast<int>(FItemCounter);
}

bool TIpDataSocket::SendItem(TSendItem& item) {
  std::lock_guard guard(FLock);
  if (!FWritable) return false;
  TIpWinSockAccess& ws = *WinSockAccess;
  const uint32_t left = static_cast<uint32_t>(item.Buf.size()) - item.Sent;
  const int n = ws.Send()(Handle(), item.Buf.data() + item.Sent, static_cast<int>(left), 0);
  ResetIdle();
  if (n > 0 && (LogOptions & LogOption(loLowData)))
    Log(deSendApi, item.Buf.data() + item.Sent, static_cast<uint32_t>(n));
  if (n == static_cast<int>(left)) {
    if (item.Protocol) {
      CountWritten(static_cast<uint32_t>(item.Buf.size()), 0);
    } else {
      CountWritten(static_cast<uint32_t>(item.Buf.size()), item.DataLen);
      if (LogOptions & LogOption(loHighData)) {
        // The user's bytes, as they were queued: not the 0xFF doubling of telnet mode.
        if (item.Doubled) {
          const String data = Undoubled(item.Buf.data(), item.Buf.size());
          Log(deWriteData, data.data(), static_cast<uint32_t>(data.size()));
        } else {
          Log(deWriteData, item.Buf.data(), item.DataLen);
        }
      }
    }
    FDataMoved = true;
    if (!item.Stream) return true;
    LoadStreamChunk(item);
    return false;
  }
  if (n == SocketCallFailed) {
    const int code = ws.WSAGetLastError()();
    if (code == wsaeWouldBlock) {
      FWritable = false;  // FD_WRITE resumes
      return false;
    }
    throw EIpWinSockError(code, "send");
  }
  item.Sent += static_cast<uint32_t>(n);
  return false;
}

void TIpDataSocket::LoadStreamChunk(TSendItem& item) {
  const uint32_t max = TelnetMode() ? TelnetStreamChunk : StreamChunk;
  String chunk(max, '\0');
  const uint32_t n = item.Stream->Read(chunk.data(), max);
  chunk.resize(n);
  item.Doubled = TelnetMode();
  item.Buf = item.Doubled ? TIpTelnet::TelnetEscape(chunk) : chunk;
  item.DataLen = n;
  item.Sent = 0;
  if (n < max) item.Stream.reset();  // the last chunk
}

void TIpDataSocket::HandleWrite() {
  if (Handle() == InvalidSocket) return;
  FWritable = true;
  while (FlushQueue()) {
  }
}

bool TIpDataSocket::FlushQueue() {
  std::lock_guard guard(FLock);
  if (Handle() == InvalidSocket || FSendQueue.empty() || !FWritable) return false;
  if (!SendItem(*FSendQueue.front())) return true;  // partly sent: try again (a blocked send stops it)
  // The item leaves the queue before its handler runs, which may queue, send or close.
  std::unique_ptr<TSendItem> done = std::move(FSendQueue.front());
  FSendQueue.pop_front();
  Owner()->DoItemSent(Handle(), done->Id, static_cast<int>(FSendQueue.size()));
  if (done->CloseAfter) CloseAndRequestFree();
  return true;
}

void TIpDataSocket::CloseAndRequestFree() {
  // The owner frees the object from a posted message, not from inside its own send loop; the
  // request goes also when closing raised.
  struct Request {
    TIpDataSocket& Socket;
    ~Request() {
      WindowSystem().Post(Socket.Owner()->WindowHandle(), IPM_SOCKET_FREE, static_cast<uintptr_t>(Socket.LastHandle()),
                          0);
    }
  } request{*this};
  Close();
}

void TIpDataSocket::ClearQueue() {
  std::lock_guard guard(FLock);
  while (!FSendQueue.empty()) FSendQueue.pop_back();
  FHeldItems.clear();
}

void TIpDataSocket::SendSocksRequest() {
  std::lock_guard guard(FLock);
  const TIpSocksServerInfo& info = SocksInfo();
  // SOCKS 4a hands the host as the user wrote it to the proxy; the address is then 0 (the
  // client resolved it with the proxy in mind).
  String name;
  if (info.SocksVersion == svSocks4a) {
    TIpAddrRec rec;
    ParseURL(AddressText(), rec);
    name = rec.Authority;
  }
  // Copied out first: make_unique would bind the packed fields by reference.
  const uint32_t address = FRemoteSockAddr.sin_addr;
  const uint16_t port = FRemoteSockAddr.sin_port;
  FSocks = std::make_unique<TIpSocksHandshake>(info.SocksVersion, info.UserCode, info.Password, address, port, name);
  const String request = FSocks->Start();
  FSocksState = FSocks->State();
  QueueData(request.data(), static_cast<int>(request.size()), nullptr, false, true, true);
}

int TIpDataSocket::ProcessSocksReply(uint8_t* data, int len) {
  std::lock_guard guard(FLock);
  if (!FSocks) return len;
  TIpSocksStep step = FSocks->Receive(String(reinterpret_cast<const char*>(data), static_cast<size_t>(len)));
  if (!step.Send.empty()) QueueData(step.Send.data(), static_cast<int>(step.Send.size()), nullptr, false, true, true);
  if (!FSocks->Refused()) FSocksState = FSocks->State();
  // The data after the reply is never longer than what was read: it goes to the buffer's front.
  const size_t n = std::min(step.Data.size(), static_cast<size_t>(len));
  std::memcpy(data, step.Data.data(), n);
  if (step.Finished) SocksFinished();
  return static_cast<int>(n);
}

void TIpDataSocket::SocksFinished() {
  if (FSocks->Refused()) {
    FHeldItems.clear();
    Owner()->NotifyError(Handle(), FSocks->RefusalCode(), FSocks->RefusalText());
    return;
  }
  // A proxy that reports 0.0.0.0:0 tells nothing new: the target stays the remote end.
  if (FSocks->BoundAddress() != 0 || FSocks->BoundPort() != 0) {
    FRemoteSockAddr.sin_addr = FSocks->BoundAddress();
    FRemoteSockAddr.sin_port = FSocks->BoundPort();
  }
  FSocksState = TIpSocksHandshake::Connected;
  TIpBaseSocket::HandleConnect();
  // The held items, in order, behind whatever the handshake still has queued.
  while (!FHeldItems.empty()) {
    FSendQueue.push_back(std::move(FHeldItems.front()));
    FHeldItems.pop_front();
  }
  while (FlushQueue()) {
  }
}

TIpTelnet& TIpDataSocket::Telnet() {
  std::lock_guard guard(FLock);
  if (!FTelnet) {
    FTelnet = std::make_unique<TSocketTelnet>(*this);
    FTelnet->OnSend = [this](const String& bytes) {
      if (!FTelnetReading) {
        QueueData(bytes.data(), static_cast<int>(bytes.size()), nullptr, false, true, true);
        return;
      }
      // The answer stays queued; the read that asked for it keeps its bytes, and the failure
      // is reported once the read is over.
      try {
        QueueData(bytes.data(), static_cast<int>(bytes.size()), nullptr, false, true, true);
      } catch (const EIpWinSockError& e) {
        Owner()->ReportLater(LastHandle(), e.ErrorCode(), e.Message());
      }
    };
    FTelnet->OnLog = [this](uint8_t direction, uint8_t cmd, uint8_t opt) {
      if (!(LogOptions & LogOption(loTelnet))) return;
      Owner()->DebugLog().AddLogEntry(nullptr, static_cast<int32_t>(LastHandle()), deTelnet,
                                      reinterpret_cast<const void*>(static_cast<uintptr_t>(direction)),
                                      static_cast<uint32_t>(cmd) * 256 + opt);
    };
  }
  return *FTelnet;
}

int TIpDataSocket::TelnetFilter(uint8_t* data, int len) {
  std::lock_guard guard(FLock);
  FTelnetReading = true;
  struct Done {
    bool& Reading;
    ~Done() { Reading = false; }
  } done{FTelnetReading};
  const String out = Telnet().Filter(String(reinterpret_cast<const char*>(data), static_cast<size_t>(len)));
  const size_t n = std::min(out.size(), static_cast<size_t>(len));
  std::memcpy(data, out.data(), n);
  return static_cast<int>(n);
}

bool TIpDataSocket::HandleTelnetCommand(uint8_t Cmd, uint8_t Opt) {
  std::lock_guard guard(FLock);
  return Telnet().TIpTelnet::HandleTelnetCommand(Cmd, Opt);
}

void TIpDataSocket::HandleSubnegotiation(const String& Text) {
  std::lock_guard guard(FLock);
  Telnet().TIpTelnet::HandleSubnegotiation(Text);
}

void TIpDataSocket::SendTelnetCommand(uint8_t Cmd, uint8_t Opt) {
  std::lock_guard guard(FLock);
  Telnet().SendTelnetCommand(Cmd, Opt);
}

void TIpDataSocket::SendSubnegotiation(const String& Body) {
  std::lock_guard guard(FLock);
  Telnet().SendSubnegotiation(Body);
}

void TIpDataSocket::SendStatus() {
  std::lock_guard guard(FLock);
  Telnet().SendStatus();
}

void TIpDataSocket::SendTerminalType() {
  std::lock_guard guard(FLock);
  Telnet().SendTerminalType();
}

void TIpDataSocket::SetTelnetTerminal(const TIpTelnetTerminal& terminal) {
  std::lock_guard guard(FLock);
  Telnet().Terminal = terminal;
}

void TIpDataSocket::SendWindowSize() {
  std::lock_guard guard(FLock);
  if (TelnetMode() && Handle() != InvalidSocket) Telnet().SendWindowSize();
}

void TIpDataSocket::HandleTimer(uint32_t elapsed) {
  std::lock_guard guard(FLock);
  if (Closed()) return;  // waits to be freed
  if (FDataMoved) {
    FDataMoved = false;
    Owner()->DoStatus(Handle(), skDataMoved, ConnectionRecord());
    if (Closed()) return;  // its handler closed the socket
  }
  AddIdle(elapsed);
}

void TIpDataSocket::AddIdle(uint32_t elapsed) {
  FIdleCount = elapsed > UINT32_MAX - FIdleCount ? UINT32_MAX : FIdleCount + elapsed;
  if (IdleTimeout != 0 && FIdleCount > IdleTimeout) IdleTimedOut();
}

void TIpDataSocket::IdleTimedOut() {
  bool reset = false;
  Owner()->DoIdleTimeout(Handle(), reset);
  if (reset) FIdleCount = 0;
}

void TIpDataSocket::Connect(const TSockAddrIn& addr, const String& addressText) {
  {
    std::lock_guard guard(FLock);
    FConsumed = FFilled = FScanned = 0;
    FPartialLine.clear();
    FStatistics = {};
    FDataMoved = false;
  }
  TIpBaseSocket::Connect(addr, addressText);
}

void TIpDataSocket::Shutdown() {
  std::lock_guard guard(FLock);
  FConnected = false;
  FWritable = false;
  ClearQueue();
  if (Handle() != InvalidSocket) WinSockAccess->Shutdown()(Handle(), sdSend);
}

void TIpDataSocket::Close() {
  std::lock_guard guard(FLock);
  if (Closed()) return;
  try {
    Shutdown();
    while (ReadSocket(true) > 0)
      while (ProcessBuffer()) {
      }
    ExtractLine(true);
  } catch (...) {
    // The handle is closed whatever raised; the first exception is the one reported.
    try {
      TIpBaseSocket::Close();
    } catch (...) {
    }
    throw;
  }
  TIpBaseSocket::Close();
}

void TIpDataSocket::HandleClose() {
  if (Connected()) Close();
}

std::unique_ptr<TIpDataSocket> TIpCustomClient::MakeDataSocket(TIpCustomClient& client) {
  return std::make_unique<TIpDataSocket>(&client, InvalidSocket, client.LocalAddress, &client.DataInits(),
                                         client.FSocksServer.get());
}
