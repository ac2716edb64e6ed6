// Socket objects. A TIpBaseSocket wraps one WinSock socket handle of a socket control: it
// creates (or adopts) the socket, registers its events with the control's window, applies the
// socket options, connects directly or to a SOCKS proxy, and reports connection and close to
// the control. The data socket (IpDataSocket.h) adds buffered reading and writing.
//
// A handle is closed exactly once. The platform hands a closed handle's number to the next
// socket it makes, so after Close the object keeps the number only to report it
// (LastHandle); Handle is then InvalidSocket, and the control drops events that WinSock
// posted for the closed number before it was closed.
#pragma once

#include <cstdint>
#include <memory>

#include "sock/IpClient.h"
#include "sock/IpSockControl.h"

// A socket handle of a control's socket object, closed through the control when it goes.
class TIpSocketHandle {
 public:
  TIpSocketHandle() = default;
  TIpSocketHandle(TIpSockControl* owner, TSocket socket) : FOwner(owner), FSocket(socket) {}
  TIpSocketHandle(const TIpSocketHandle&) = delete;
  TIpSocketHandle& operator=(const TIpSocketHandle&) = delete;
  ~TIpSocketHandle();

  TSocket Get() const { return FSocket; }
  bool Valid() const { return FSocket != InvalidSocket; }
  // Closes the handle (once; nothing when there is none) and leaves InvalidSocket.
  void Close();
  // Closes the handle held so far and takes `socket`.
  void Assign(TIpSockControl* owner, TSocket socket);
  // Gives the handle up without closing it.
  TSocket Release();

 private:
  TIpSockControl* FOwner = nullptr;
  TSocket FSocket = InvalidSocket;
};

class TIpBaseSocket : public TIpSocket {
 public:
  // A socket object of `owner`. With `existing` InvalidSocket it makes a new socket of the
  // owner's SocketType, registers it and applies the options of `inits`, and binds it to
  // `localAddress` unless that is the default (family 2, port 0, any address). With an
  // existing handle it adopts that socket: reads its type, registers it, applies the options
  // and reads both end points; the object owns the handle once the constructor returns.
  // `socks` (may be nullptr) is copied: with a proxy address the connection goes to the proxy.
  // Raises EIpWinSockError ("Socket", "Bind", "GetSockOpt", "WsaAsyncSelect", "SetSockOpt");
  // a socket it made is closed again first.
  TIpBaseSocket(TIpSockControl* owner, TSocket existing, const TSockAddrIn& localAddress, const TIpBaseInits* inits,
                const TIpSocksServerInfo* socks);
  ~TIpBaseSocket() override;
  TIpBaseSocket(const TIpBaseSocket&) = delete;
  TIpBaseSocket& operator=(const TIpBaseSocket&) = delete;

  TIpSockControl* Owner() const { return FOwner; }
  // The handle; InvalidSocket once closed.
  TSocket Handle() const { return FHandle.Get(); }
  // The number the handle had, kept after Close.
  TSocket LastHandle() const { return FLastHandle; }
  // Close ran: the handle is closed and the object waits to be freed.
  bool Closed() const { return FClosed; }
  // The connection is up: connected, and through a proxy granted (false while the handshake
  // runs and after a refusal).
  bool Connected() const { return FConnected && (FSocksState == 0 || FSocksState == TIpSocksHandshake::Connected); }
  // The connection to the peer or the proxy is up (set on connect, cleared on close).
  bool LinkUp() const { return FConnected; }
  // Connect was called: a socket that tried once is not connected again.
  bool ConnectStarted() const { return FConnectStarted; }
  String AddressText();  // the address text given to Connect, read under the lock
  TSockAddrIn LocalSockAddr();
  TSockAddrIn RemoteSockAddr();
  int SockType() const { return FSockType; }
  // NoSocks without a proxy, else the handshake's stage (TIpSocksHandshake::NotStarted to
  // Connected).
  uint8_t SocksState() const { return FSocksState; }
  static constexpr uint8_t NoSocks = 0;
  // The SOCKS handshake is under way: the proxy's replies, not the target's data, are read.
  bool SocksHandshaking() const {
    return FSocksState >= TIpSocksHandshake::NotStarted && FSocksState < TIpSocksHandshake::Connected;
  }
  const TIpSocksServerInfo& SocksInfo() const { return *FSocksInfo; }
  // Copies of the options of the same names.
  bool DiscardReceived() const { return FDiscardReceived; }
  bool EchoReceived() const { return FEchoReceived; }
  bool EchoSent() const { return FEchoSent; }
  bool StripHighBit() const { return FStripHighBit; }
  bool TelnetMode() const { return FTelnetMode; }

  // Writes every socket-level option of the set to the socket, those that are off as well, so
  // that a second call can switch them off; then keeps the flags the object acts on itself.
  // Raises EIpWinSockError "SetSockOpt"; later options are then not applied.
  void SetSocketOptions(TIpSockOptionSet options);
  // The end points as the status event reports them.
  TIpConnRec ConnectionRecord();

  // The virtual operations, in slot order.
  // Starts the SOCKS handshake once the proxy connection is up; the SOCKS handshake fills it in.
  virtual void SendSocksRequest() {}
  // Registers the object's events (EventMask) with the owner's window, message
  // IPM_SOCKET_EVENT; this also makes the socket non-blocking. Raises "WsaAsyncSelect".
  virtual void SelectEvents();
  virtual void HandleAccept() {}
  // The peer closed: the connection is down. The control frees the object afterwards.
  void HandleClose() override;
  // The connect completed: reads the local end and reports status kind 0 (or, through a proxy,
  // starts the handshake first).
  void HandleConnect() override;
  void HandleOutOfBand() override {}
  void HandleRead() override {}
  void HandleTimer(uint32_t) override {}
  void HandleWrite() override {}
  // Closes the handle, delivers the lines still queued for the object and reports status kind 1
  // with the number it had. A second call does nothing.
  virtual void Close();
  // Connects without waiting (completion comes as FD_CONNECT) to `addr`, or to the proxy when
  // one is configured. Raises EIpWinSockError "Connect" or "SocksConnect".
  virtual void Connect(const TSockAddrIn& addr, const String& addressText);

 protected:
  // For socket classes that register more events than a plain socket (FD_CONNECT | FD_CLOSE).
  TIpBaseSocket(TIpSockControl* owner, TSocket existing, const TSockAddrIn& localAddress, const TIpBaseInits* inits,
                const TIpSocksServerInfo* socks, uint32_t eventMask);
  uint32_t EventMask() const { return FEventMask; }
  // Raises EIpWinSockError with WSAGetLastError and the API name.
  [[noreturn]] static void RaiseLastError(const String& api);

  bool FConnected = false;
  uint8_t FSocksState = NoSocks;
  TSockAddrIn FLocalSockAddr{};
  TSockAddrIn FRemoteSockAddr{};

 private:
  void CreateAndBind(const TSockAddrIn& localAddress, const TIpBaseInits* inits);
  void Adopt(TSocket existing, const TIpBaseInits* inits);

  TIpSockControl* FOwner;
  uint32_t FEventMask;
  TIpSocketHandle FHandle;
  TSocket FLastHandle = InvalidSocket;
  bool FClosed = false;
  bool FConnectStarted = false;
  String FAddressText;
  bool FDiscardReceived = false;
  bool FEchoReceived = false;
  bool FEchoSent = false;
  bool FStripHighBit = false;
  bool FTelnetMode = false;
  std::unique_ptr<TIpSocksServerInfo> FSocksInfo;
  int FSockType = 0;
};
