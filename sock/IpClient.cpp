#include "sock/IpClient.h"

#include "sock/IpConst.h"
#include "sock/IpDataSocket.h"

void TIpSocksServerInfo::Assign(const TIpSocksServerInfo& source) {
  if (&source == this) return;
  Lock();
  struct Unlocker {
    TIpSocksServerInfo* Info;
    ~Unlocker() { Info->Unlock(); }
  } unlocker{this};
  Address = source.Address;
  Password = source.Password;
  Port = source.Port;
  SocksVersion = source.SocksVersion;
  UserCode = source.UserCode;
}

TIpCustomClient::TIpCustomClient(TComponent* owner, TSocketMaker maker)
    : TIpSockControl(owner), FMakeSocket(maker), FSocksServer(std::make_unique<TIpSocksServerInfo>()) {}

TIpCustomClient::~TIpCustomClient() {
  FSocksServer.reset();
  FDataSocket.reset();
  FRetired.clear();
}

bool TIpCustomClient::Connected() const { return FDataSocket && FDataSocket->Connected(); }

TSocket TIpCustomClient::SocketHandle() const { return FDataSocket ? FDataSocket->Handle() : InvalidSocket; }

void TIpCustomClient::Retire(TIpDataSocket* socket) {
  // Only the current socket object: any other was retired before.
  if (!socket || FDataSocket.get() != socket) return;
  FRetired.push_back(std::move(FDataSocket));
  if (!InCall()) FreeRetired();
}

void TIpCustomClient::CallsReturned() { FreeRetired(); }

void TIpCustomClient::FreeRetired() {
  // A socket object's destructor may call back (its handle closes through this control):
  // take the list out first.
  std::vector<std::unique_ptr<TIpDataSocket>> retired = std::move(FRetired);
  FRetired.clear();
  retired.clear();
}

TIpDataSocket* TIpCustomClient::ClosedSocket(TSocket number) const {
  if (FDataSocket && FDataSocket->Closed() && FDataSocket->LastHandle() == number) return FDataSocket.get();
  return nullptr;
}

TSocket TIpCustomClient::CreateSocket() {
  if (!FMakeSocket) throw EIpWinSockError(String("This client makes no data socket"));
  TCallGuard call(*this);
  Retire(FDataSocket.get());
  FDataSocket = FMakeSocket(*this);
  return FDataSocket->Handle();
}

void TIpCustomClient::FreeSocket(TSocket socket) {
  auto* s = static_cast<TIpDataSocket*>(FindSocket(socket, true));
  Retire(s);
}

TIpSocket* TIpCustomClient::FindSocket(TSocket socket, bool raiseIfMissing) {
  if (FDataSocket && socket != InvalidSocket &&
      (FDataSocket->Handle() == socket || (FDataSocket->Closed() && FDataSocket->LastHandle() == socket)))
    return FDataSocket.get();
  if (raiseIfMissing) throw EIpNoSocketError();
  return nullptr;
}

void TIpCustomClient::DoStatus(TSocket socket, uint8_t kind, const TIpConnRec& connection) {
  TIpSockControl::DoStatus(socket, kind, connection);
  if (kind != skConnected && kind != skClosed) return;
  const intptr_t state = kind == skConnected ? ipsConnected : ipsClosed;
  for (THandle wnd : std::vector<THandle>(AttachedWindows))
    WindowSystem().Post(wnd, IPM_SOCKET_STATE, static_cast<uintptr_t>(socket), state);
}

void TIpCustomClient::NotifyClose(TSocket socket) {
  TCallGuard call(*this);
  CloseAndRetire(socket, &TIpDataSocket::HandleClose);
}

void TIpCustomClient::TimerElapsed(uint32_t elapsed) {
  TCallGuard call(*this);
  if (!FDataSocket) return;
  const TSocket socket = FDataSocket->Handle();
  try {
    FDataSocket->HandleTimer(elapsed);
  } catch (const std::exception& e) {
    ReportException(socket, e);
  }
}

bool TIpCustomClient::Dispatch(TMessage& message) {
  if (message.Msg == IPM_SOCKET_FREE) {
    // Only the object that closed itself with this number: by the time the message comes, a
    // new socket object may have been given the same number.
    message.Result = 0;
    Retire(ClosedSocket(static_cast<TSocket>(message.WParam)));
    return true;
  }
  return TIpSockControl::Dispatch(message);
}

void TIpCustomClient::AttachWindow(THandle wnd) {
  if (Connected()) WindowSystem().Post(wnd, IPM_SOCKET_STATE, static_cast<uintptr_t>(SocketHandle()), ipsConnected);
  TIpSockControl::AttachWindow(wnd);
}

void TIpCustomClient::Disconnect(TSocket socket) {
  TCallGuard call(*this);
  CloseAndRetire(socket, &TIpDataSocket::Close);
}

void TIpCustomClient::CloseAndRetire(TSocket socket, void (TIpDataSocket::*close)()) {
  auto* s = static_cast<TIpDataSocket*>(FindSocket(socket, false));
  if (!s) return;
  // The object goes also when closing raised; a handler that reconnected meanwhile made a new
  // one, which stays.
  struct Free {
    TIpCustomClient& Client;
    TIpDataSocket* Socket;
    ~Free() { Client.Retire(Socket); }
  } free{*this, s};
  (s->*close)();
}

TSocket TIpCustomClient::ConnectTo(const String& address) {
  TCallGuard call(*this);
  RefuseWhileConnected();
  TSockAddrIn addr{};
  ResolveSockAddr(address, addr, DefaultPort, NameResolution());
  return StartConnect(addr, address);
}

TSocket TIpCustomClient::ConnectTo(const String& host, uint16_t port) {
  TCallGuard call(*this);
  RefuseWhileConnected();
  TSockAddrIn addr{};
  ResolveHostPort(host, port, addr, NameResolution());
  return StartConnect(addr, host);
}

void TIpCustomClient::RefuseWhileConnected() const {
  // A proxy's handshake counts as connected: its link is up.
  if (FDataSocket && FDataSocket->LinkUp() && !FDataSocket->Refused())
    throw EIpWinSockError(String(SAlreadyConnected));
}

TIpNameResolution TIpCustomClient::NameResolution() const {
  // A SOCKS 4a proxy looks the target's name up itself; the request that carries the name is
  // the SOCKS handshake's (from the socket's AddressText).
  return !FSocksServer->Address.empty() && FSocksServer->SocksVersion == svSocks4a ? nrByProxy : nrLocal;
}

TSocket TIpCustomClient::StartConnect(const TSockAddrIn& addr, const String& addressText) {
  // A socket object that closed, or that tried to connect once, is not used again.
  if (!FDataSocket || FDataSocket->Closed() || FDataSocket->ConnectStarted()) CreateSocket();
  TIpDataSocket& s = *FDataSocket;
  s.Connect(addr, addressText);
  return s.Handle();
}

TIpDataSocket& TIpCustomClient::SendingSocket() {
  if (!FDataSocket || FDataSocket->Closed() || FDataSocket->Refused()) throw EIpWinSockError(wsaeNotConn, "send");
  return *FDataSocket;
}

int TIpCustomClient::SendText(const String& text) { return SendBytes(text.data(), static_cast<uint32_t>(text.size())); }

int TIpCustomClient::SendBytes(const void* data, uint32_t length) {
  TCallGuard call(*this);
  return SendingSocket().QueueData(data, static_cast<int>(length), nullptr, false, false, false);
}

int TIpCustomClient::SendStream(std::unique_ptr<TStream> stream, bool closeAfter) {
  TCallGuard call(*this);
  return SendingSocket().QueueData(nullptr, 0, std::move(stream), closeAfter, false, false);
}

int TIpCustomClient::CloseAfterSent() {
  TCallGuard call(*this);
  return SendingSocket().QueueData(nullptr, 0, nullptr, true, false, false);
}
