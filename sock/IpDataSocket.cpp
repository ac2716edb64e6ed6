#include "sock/IpDataSocket.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>

#include "base/IpUrl.h"
#include "log/IpLog.h"
#include "sock/IpClient.h"
#include "sock/IpConst.h"

namespace {
// Below this size a buffer-size request is not made: the system's default stays.
constexpr int kMinBufferSize = 1460;

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
  TIpSockControl::TCallGuard call(*Owner());
  ResetIdle();
  while (ReadSocket(false) > 0)
    while (ProcessBuffer()) {
    }
}

int TIpDataSocket::ReadSocket(bool force) {
  TIpSockControl::TCallGuard call(*Owner());
  std::lock_guard guard(FLock);
  if (Handle() == InvalidSocket || (!force && !FConnected)) return 0;
  uint8_t* at = FBuffer;
  TIpWinSockAccess& ws = *WinSockAccess;
  int n = ws.Recv()(Handle(), reinterpret_cast<char*>(at), static_cast<int>(BufferCapacity), 0);
  if (n > 0 && (LogOptions & LogOption(loLowData))) Log(deRecvApi, at, static_cast<uint32_t>(n));
  if (n == SocketCallFailed) {
    const int code = ws.WSAGetLastError()();
    if (code == wsaeWouldBlock || code == wsaeNotConn || force) return 0;
    throw EIpWinSockError(code, "Recv");
  }
  if (n <= 0) return 0;  // the peer closed its side; FD_CLOSE follows
  const uint32_t raw = static_cast<uint32_t>(n);
  if (SocksHandshaking()) n = ProcessSocksReply(at, n);
  if (TelnetMode()) n = TelnetFilter(at, n);
  if (StripHighBit())
    for (int i = 0; i < n; ++i) at[i] &= 0x7F;
  if (EchoReceived() && n > 0) QueueData(at, n, nullptr, false, true, false);
  if (DiscardReceived()) n = 0;
  if (n > 0 && (LogOptions & LogOption(loHighData))) Log(deReadData, at, static_cast<uint32_t>(n));
  PostDataCopies(at, n);
  CountRead(raw, static_cast<uint32_t>(n));
  FDataMoved = true;
  if (n > 0) FFramer.Feed(at, static_cast<size_t>(n));
  // The grant or the refusal is reported once the bytes that came with it are in the framer:
  // its handler may read or close this socket.
  if (FSocksDone) {
    FSocksDone = false;
    SocksFinished();
  }
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

TIpFraming TIpDataSocket::Framing() const {
  TIpFraming f;
  f.Terminator = LineTerminator;
  f.TermChar = LineTermChar;
  f.Strip = StripLineTerminator;
  f.FixedLength = FixedLineLength;
  f.MaxLine = MaxLineBuf;
  return f;
}

bool TIpDataSocket::ProcessBuffer() {
  TIpSockControl::TCallGuard call(*Owner());
  std::lock_guard guard(FLock);
  String piece;
  switch (ReceiveMode) {
    case rmLine:
      switch (FFramer.Next(Framing(), piece)) {
        case TIpLineFramer::fsNone: return false;
        case TIpLineFramer::fsTooLong:
          Owner()->NotifyError(Handle(), LineTooLongError, SLineTooLong);
          return true;
        case TIpLineFramer::fsPiece:
          // The framer is up to date before the owner hears of the piece: its handler may
          // read, change the framing or close this socket.
          Owner()->DoReadLine(LastHandle(), std::move(piece), this);
          return true;
      }
      return false;
    case rmStream: {
      const std::string_view bytes = FFramer.Unframed();
      if (bytes.empty()) return false;
      if (!FReceiveStream) throw EIpProgrammerError();
      FReceiveStream->Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
      FFramer.Clear();
      return false;
    }
    case rmAny: return DeliverRest();
  }
  return false;
}

bool TIpDataSocket::DeliverRest() {
  TIpSockControl::TCallGuard call(*Owner());
  std::lock_guard guard(FLock);
  String piece;
  if (!FFramer.TakeAll(piece)) return false;
  Owner()->DoReadLine(LastHandle(), std::move(piece), this);
  return true;
}

int TIpDataSocket::QueueData(const void* data, int len, std::unique_ptr<TStream> stream, bool closeAfter, bool protocol,
                             bool raw) {
  TIpSockControl::TCallGuard call(*Owner());
  std::lock_guard guard(FLock);
  // A refused connection carries no data: the proxy's answer ended it.
  if (!protocol && Refused()) throw EIpWinSockError(wsaeNotConn, "send");
  if (FFinishing && !protocol) throw EIpWinSockError(wsaeShutdown, "send");
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
  // The handshake's and the telnet answers' items are the socket's own: they get no id and no
  // OnItemSent.
  if (!protocol) item->Id = NextItemId();
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
  TIpSockControl::TCallGuard call(*Owner());
  if (Handle() == InvalidSocket) return;
  FWritable = true;
  while (FlushQueue()) {
  }
  ShutSendWhenSent();
}

bool TIpDataSocket::FlushQueue() {
  TIpSockControl::TCallGuard call(*Owner());
  std::lock_guard guard(FLock);
  if (Handle() == InvalidSocket || FSendQueue.empty() || !FWritable) return false;
  if (!SendItem(*FSendQueue.front())) return true;  // partly sent: try again (a blocked send stops it)
  // The item leaves the queue before its handler runs, which may queue, send or close.
  std::unique_ptr<TSendItem> done = std::move(FSendQueue.front());
  FSendQueue.pop_front();
  if (!done->Protocol) Owner()->DoItemSent(Handle(), done->Id, static_cast<int>(FSendQueue.size()));
  if (done->CloseAfter) CloseAndRequestFree();
  return true;
}

void TIpDataSocket::FinishSending() {
  std::lock_guard guard(FLock);
  FFinishing = true;
  ShutSendWhenSent();
}

void TIpDataSocket::ShutSendWhenSent() {
  std::lock_guard guard(FLock);
  // The SOCKS handshake still talks to the proxy; a blocked send waits for FD_WRITE.
  if (!FFinishing || FSendShut || !FWritable || Handle() == InvalidSocket || !FSendQueue.empty() ||
      !FHeldItems.empty() || SocksHandshaking())
    return;
  FSendShut = true;
  WinSockAccess->Shutdown()(Handle(), sdSend);
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
  if (step.Finished) FSocksDone = true;  // reported by ReadSocket once the bytes are committed
  return static_cast<int>(n);
}

void TIpDataSocket::SocksFinished() {
  TIpSockControl::TCallGuard call(*Owner());
  if (FSocks->Refused()) {
    FHeldItems.clear();
    Owner()->NotifyError(LastHandle(), FSocks->RefusalCode(), FSocks->RefusalText());
    return;
  }
  // A proxy that reports no IPv4 address (0.0.0.0, a name, an IPv6 address) tells nothing new:
  // the target stays the remote end.
  if (FSocks->BoundAddress() != 0) {
    FRemoteSockAddr.sin_addr = FSocks->BoundAddress();
    FRemoteSockAddr.sin_port = FSocks->BoundPort();
  }
  FSocksState = TIpSocksHandshake::Connected;
  // The held items, in order, behind whatever the handshake still has queued; they go out after
  // the status also when its handler raised, unless it closed the socket.
  while (!FHeldItems.empty()) {
    FSendQueue.push_back(std::move(FHeldItems.front()));
    FHeldItems.pop_front();
  }
  try {
    TIpBaseSocket::HandleConnect();
  } catch (...) {
    try {
      while (FlushQueue()) {
      }
    } catch (...) {
      // The status handler's exception is the one reported.
    }
    throw;
  }
  while (FlushQueue()) {
  }
  ShutSendWhenSent();
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
  TIpSockControl::TCallGuard call(*Owner());
  std::lock_guard guard(FLock);
  if (Closed()) return;  // waits to be freed
  // Data moves only on a connection that was reported: not during a proxy's handshake.
  // A status handler that raises does not stop the idle count.
  std::exception_ptr raised;
  if (FDataMoved && Connected()) {
    FDataMoved = false;
    try {
      Owner()->DoStatus(Handle(), skDataMoved, ConnectionRecord());
    } catch (...) {
      raised = std::current_exception();
    }
  }
  if (!Closed()) AddIdle(elapsed);
  if (raised) std::rethrow_exception(raised);
}

void TIpDataSocket::AddIdle(uint32_t elapsed) {
  FIdleCount = elapsed > UINT32_MAX - FIdleCount ? UINT32_MAX : FIdleCount + elapsed;
  if (IdleTimeout != 0 && FIdleCount > IdleTimeout) IdleTimedOut();
}

void TIpDataSocket::IdleTimedOut() {
  TIpSockControl::TCallGuard call(*Owner());
  bool reset = false;
  Owner()->DoIdleTimeout(Handle(), reset);
  if (reset)
    FIdleCount = 0;
  else if (FFinishing && !Closed())
    CloseAndRequestFree();  // the peer said nothing more in time
}

void TIpDataSocket::Connect(const TSockAddrIn& addr, const String& addressText) {
  {
    std::lock_guard guard(FLock);
    FFramer.Clear();
    FFinishing = FSendShut = false;
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
  if (Handle() != InvalidSocket && !FSendShut) WinSockAccess->Shutdown()(Handle(), sdSend);
  FSendShut = true;
}

void TIpDataSocket::Close() {
  TIpSockControl::TCallGuard call(*Owner());
  std::lock_guard guard(FLock);
  if (Closed()) return;
  try {
    Shutdown();
    // The whole lines first, then the rest as one piece.
    do
      while (ProcessBuffer()) {
      }
    while (ReadSocket(true) > 0);
    DeliverRest();
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
  TIpSockControl::TCallGuard call(*Owner());
  if (!LinkUp()) return;
  // A proxy that hangs up before its final reply refused the connection: an error, not an
  // orderly close. A reset was reported as itself already.
  if (FSocks && !FSocks->Done()) {
    FSocks->Closed();
    FSocksDone = false;
    if (FCloseFollowsError)
      FHeldItems.clear();
    else
      SocksFinished();
  }
  Close();
}

// Defined here, not with the client: it calls the data socket directly, and a program whose
// clients make no data socket (the SNTP client) would otherwise link all of the data socket.
void TIpCustomClient::CloseWhenDone() {
  TCallGuard call(*this);
  SendingSocket().FinishSending();
}

std::unique_ptr<TIpDataSocket> TIpCustomClient::MakeDataSocket(TIpCustomClient& client) {
  return std::make_unique<TIpDataSocket>(&client, InvalidSocket, client.LocalAddress, &client.DataInits(),
                                         client.FSocksServer.get());
}
