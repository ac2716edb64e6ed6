#include "sock/IpSocket.h"

#include <cstring>
#include <mutex>

TIpSocketHandle::~TIpSocketHandle() {
  try {
    Close();
  } catch (...) {
    // Without WinSock there is nothing left to close.
  }
}

void TIpSocketHandle::Close() {
  if (FSocket == InvalidSocket) return;
  const TSocket socket = FSocket;
  FSocket = InvalidSocket;  // before closing: a close that raises is not tried again
  FOwner->CloseSocketHandle(socket);
}

void TIpSocketHandle::Assign(TIpSockControl* owner, TSocket socket) {
  Close();
  FOwner = owner;
  FSocket = socket;
}

TSocket TIpSocketHandle::Release() {
  const TSocket socket = FSocket;
  FSocket = InvalidSocket;
  return socket;
}

namespace {
bool IsDefaultLocal(const TSockAddrIn& a) {
  TSockAddrIn def{};
  def.sin_family = afInet;
  return std::memcmp(&a, &def, sizeof a) == 0;
}
}  // namespace

TIpBaseSocket::TIpBaseSocket(TIpSockControl* owner, TSocket existing, const TSockAddrIn& localAddress,
                             const TIpBaseInits* inits, const TIpSocksServerInfo* socks)
    : TIpBaseSocket(owner, existing, localAddress, inits, socks, fdConnect | fdClose) {}

TIpBaseSocket::TIpBaseSocket(TIpSockControl* owner, TSocket existing, const TSockAddrIn& localAddress,
                             const TIpBaseInits* inits, const TIpSocksServerInfo* socks, uint32_t eventMask)
    : FOwner(owner), FEventMask(eventMask), FSocksInfo(std::make_unique<TIpSocksServerInfo>()) {
  if (socks) FSocksInfo->Assign(*socks);
  if (!FSocksInfo->Address.empty()) FSocksState = TIpSocksHandshake::NotStarted;
  if (existing == InvalidSocket)
    CreateAndBind(localAddress, inits);
  else
    Adopt(existing, inits);
}

TIpBaseSocket::~TIpBaseSocket() = default;  // the handle closes itself, once

void TIpBaseSocket::RaiseLastError(const String& api) {
  throw EIpWinSockError(WinSockAccess->WSAGetLastError()(), api);
}

void TIpBaseSocket::CreateAndBind(const TSockAddrIn& localAddress, const TIpBaseInits* inits) {
  TIpWinSockAccess& ws = *WinSockAccess;
  FSockType = FOwner->SocketType();
  const TSocket socket = ws.Socket()(afInet, FSockType, ipprotoIp);
  if (socket == InvalidSocket) RaiseLastError("Socket");
  // From here on the handle is the object's: should anything below raise, the member closes it
  // as the constructor unwinds.
  FHandle.Assign(FOwner, socket);
  FLastHandle = socket;
  SelectEvents();
  if (inits) SetSocketOptions(inits->SocketOptions);
  FLocalSockAddr = localAddress;
  // The default local address (any address, any port) needs no bind.
  if (!IsDefaultLocal(localAddress) &&
      ws.Bind()(socket, reinterpret_cast<const TSockAddr*>(&FLocalSockAddr), sizeof FLocalSockAddr) == SocketCallFailed)
    RaiseLastError("Bind");
}

void TIpBaseSocket::Adopt(TSocket existing, const TIpBaseInits* inits) {
  TIpWinSockAccess& ws = *WinSockAccess;
  FHandle.Assign(FOwner, existing);
  FLastHandle = existing;
  // The caller keeps the handle until the object is made: a failure hands it back unclosed.
  try {
    int type = 0, len = sizeof type;
    if (ws.GetSockOpt()(existing, solSocket, optType, reinterpret_cast<char*>(&type), &len) == SocketCallFailed)
      RaiseLastError("GetSockOpt");
    FSockType = type;
    SelectEvents();
    if (inits) SetSocketOptions(inits->SocketOptions);
  } catch (...) {
    FHandle.Release();
    throw;
  }
  int len = sizeof FLocalSockAddr;
  ws.GetSockName()(existing, reinterpret_cast<TSockAddr*>(&FLocalSockAddr), &len);
  len = sizeof FRemoteSockAddr;
  ws.GetPeerName()(existing, reinterpret_cast<TSockAddr*>(&FRemoteSockAddr), &len);
}

String TIpBaseSocket::AddressText() {
  std::lock_guard guard(FLock);
  return FAddressText;
}

TSockAddrIn TIpBaseSocket::LocalSockAddr() {
  std::lock_guard guard(FLock);
  return FLocalSockAddr;
}

TSockAddrIn TIpBaseSocket::RemoteSockAddr() {
  std::lock_guard guard(FLock);
  return FRemoteSockAddr;
}

void TIpBaseSocket::SelectEvents() {
  if (!FHandle.Valid()) return;
  if (WinSockAccess->WSAAsyncSelect()(FHandle.Get(), FOwner->WindowHandle(), IPM_SOCKET_EVENT,
                                      static_cast<int32_t>(FEventMask)) == SocketCallFailed)
    RaiseLastError("WsaAsyncSelect");
}

void TIpBaseSocket::SetSocketOptions(TIpSockOptionSet options) {
  std::lock_guard guard(FLock);
  auto has = [options](TIpSockOptions o) { return (options & SockOption(o)) != 0; };
  auto set = [this](int level, int name, bool on) {
    const int32_t value = on ? -1 : 0;
    if (WinSockAccess->SetSockOpt()(FHandle.Get(), level, name, reinterpret_cast<const char*>(&value), sizeof value) ==
        SocketCallFailed)
      RaiseLastError("SetSockOpt");
  };
  if (FSockType == sockDgram) set(solSocket, optBroadcast, has(soBroadcast));
  if (FSockType == sockStream) {
    set(ipprotoTcp, tcpNoDelay, has(soNoDelay));
    set(solSocket, optKeepAlive, has(soKeepAlive));
  }
  set(solSocket, optDebug, has(soDebug));
  set(solSocket, optDontRoute, has(soDontRoute));
  set(solSocket, optReuseAddr, has(soReuseAddr));
  FDiscardReceived = has(soDiscardReceived);
  FEchoReceived = has(soEchoReceived);
  FEchoSent = has(soEchoSent);
  FStripHighBit = has(soStripHighBit);
  FTelnetMode = has(soTelnet);
}

TIpConnRec TIpBaseSocket::ConnectionRecord() {
  std::lock_guard guard(FLock);
  TIpConnRec rec{};
  rec.RemoteAddress = FRemoteSockAddr.sin_addr;
  rec.RemotePort = FOwner->NetToHostShort(FRemoteSockAddr.sin_port);
  rec.LocalAddress = FLocalSockAddr.sin_addr;
  rec.LocalPort = FOwner->NetToHostShort(FLocalSockAddr.sin_port);
  return rec;
}

void TIpBaseSocket::Connect(const TSockAddrIn& addr, const String& addressText) {
  TSockAddrIn target{};
  String api;
  {
    std::lock_guard guard(FLock);
    FAddressText = addressText;
    FRemoteSockAddr = addr;
    FConnectStarted = true;
    if (FSocksState != NoSocks) {
      api = "SocksConnect";
      target.sin_family = afInet;
      target.sin_port = FOwner->HostToNetShort(FSocksInfo->Port);
      target.sin_addr = FOwner->ResolveHost(FSocksInfo->Address);
    } else {
      api = "Connect";
      target = addr;
    }
  }
  if (WinSockAccess->Connect()(FHandle.Get(), reinterpret_cast<const TSockAddr*>(&target), sizeof target) ==
      SocketCallFailed) {
    const int code = WinSockAccess->WSAGetLastError()();
    // A socket that does not block answers so; FD_CONNECT brings the outcome.
    if (code != wsaeWouldBlock) throw EIpWinSockError(code, api);
  }
}

void TIpBaseSocket::HandleConnect() {
  std::lock_guard guard(FLock);
  if (!FHandle.Valid()) return;
  int len = sizeof FLocalSockAddr;
  WinSockAccess->GetSockName()(FHandle.Get(), reinterpret_cast<TSockAddr*>(&FLocalSockAddr), &len);
  FConnected = true;
  if (FSocksState == TIpSocksHandshake::NotStarted) {
    // The proxy is reached, the target not yet: the owner hears of it after the handshake.
    FSocksState = TIpSocksHandshake::RequestSent;
    SendSocksRequest();
    return;
  }
  const TIpConnRec rec = ConnectionRecord();
  FOwner->DoStatus(FHandle.Get(), skConnected, rec);
}

void TIpBaseSocket::HandleClose() {
  std::lock_guard guard(FLock);
  FConnected = false;
}

void TIpBaseSocket::Close() {
  std::lock_guard guard(FLock);
  if (FClosed) return;
  FClosed = true;
  FConnected = false;
  FHandle.Close();
  // The number is reported as it was; the platform may already have given it to a new socket.
  const TIpConnRec rec = ConnectionRecord();
  FOwner->DeliverLines(this);
  FOwner->DoStatus(FLastHandle, skClosed, rec);
}
