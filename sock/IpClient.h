// The client base of the socket component set: a socket control that owns at most one data
// socket, makes it when it connects, finds it by handle for the control's events and frees it
// when it closes. It also holds the port used when an address text names none and the SOCKS
// proxy settings each new socket gets a copy of.
//
// The lifetime rule, which the client, its data socket and the control keep everywhere:
// - a user's handler may disconnect, reconnect, raise or open a box in any event;
// - no object is freed while any of its code is on the stack: every public entry point that can
//   run a handler (the control's messages, the client's calls, the data socket's own) holds the
//   control's TCallGuard, and a socket object taken out of service is freed when the last one
//   returns;
// - the events of a connection belong to the connection object, never to a handle number, which
//   the platform gives to the next socket it makes: the rest of an event whose handler closed
//   the connection does not reach the next one with the same number;
// - a connection's lines are delivered before its errors and its close status;
// - a status is reported only after the read that caused it has committed its bytes.
// A handler's exception inside a message goes to the application's handler (a WinSock error to
// OnError) and the connection goes on; inside a call of the user's it reaches the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/IpUtils.h"
#include "sock/IpSockControl.h"
#include "toolkit/Streams.h"

#include "sock/IpSocks.h"  // TIpSocksVersion

// Where and how to reach a SOCKS proxy; an empty Address means no proxy.
class TIpSocksServerInfo : public TIpBasePersistent {
 public:
  String Address;
  String Password;
  uint16_t Port = 1080;
  TIpSocksVersion SocksVersion = svSocks4;
  String UserCode;

  // Copies the five settings while holding this object's lock.
  void Assign(const TIpSocksServerInfo& source);
};

class TIpDataSocket;

// LParam of IPM_SOCKET_STATE, which a client posts to its attached windows (WParam: the socket's
// handle): the connection is up, or closed.
inline constexpr intptr_t ipsConnected = 0x00010001;
inline constexpr intptr_t ipsClosed = 0x00010002;

class TIpCustomClient : public TIpSockControl {
 public:
  explicit TIpCustomClient(TComponent* owner) : TIpCustomClient(owner, &MakeDataSocket) {}
  ~TIpCustomClient() override;

  TIpSocksServerInfo& SocksServer() { return *FSocksServer; }

  // Port used when an address text carries none (host order).
  uint16_t DefaultPort = 0;

  // The client's socket object; nullptr before the first ConnectTo and once it was freed.
  TIpDataSocket* DataSocket() const { return FDataSocket.get(); }
  // The data socket's connection is up: connected, and through a proxy granted (not while the
  // handshake runs, nor after a refusal).
  bool Connected() const;
  // The data socket's handle; InvalidSocket without one.
  TSocket SocketHandle() const;

  // Makes a new data socket (the one before, if any, is freed) and returns its handle. A client
  // made without a socket maker raises EIpWinSockError "This client makes no data socket".
  TSocket CreateSocket() override;
  // Frees the socket object that has, or had before it closed, this handle. Raises
  // EIpNoSocketError when there is none.
  void FreeSocket(TSocket socket) override;
  bool IsActive() override { return FDataSocket != nullptr; }
  // The control's status handling, then IPM_SOCKET_STATE to the attached windows for
  // skConnected (LParam ipsConnected) and skClosed (ipsClosed).
  void DoStatus(TSocket socket, uint8_t kind, const TIpConnRec& connection) override;
  // FD_CLOSE: the socket object closes and is freed, also when closing raised.
  void NotifyClose(TSocket socket) override;
  // The data socket's tick; a handler's exception is reported and the timer goes on.
  void TimerElapsed(uint32_t elapsed) override;
  // The live socket object of the handle, else the closed one that had it.
  TIpSocket* FindSocket(TSocket socket, bool raiseIfMissing) override;
  // A window attached while connected learns it at once (IPM_SOCKET_STATE, ipsConnected).
  void AttachWindow(THandle wnd) override;
  // Closes the socket object of the handle and frees it, also when closing raised; a handle
  // that is not the client's does nothing.
  virtual void Disconnect(TSocket socket);
  // Connects to "host", "host:port" or any address text the address parser reads: a dotted
  // address or a name looked up now. Reuses a data socket that never tried to connect, and
  // makes a fresh one otherwise. Returns the handle; the connection is up when OnStatus
  // reports skConnected. Raises EIpWinSockError: "Socket is already connected" (code 0; also
  // while a proxy handshake runs),
  // "Destination address required" (code 0), 11001 "Host not found" for a name that does not
  // resolve, or the failing call's code; EConvertError for a port above 65535.
  // The parser reads URLs: a word without a dot before a colon is a scheme, so
  // "localhost:8080" is the host "8080", which the platform reads as the address 0.0.31.144.
  // For a host and a port, use the overload below.
  virtual TSocket ConnectTo(const String& address);
  // Connects to `host` (a dotted address or a name, taken as it is, no port in it) at `port`
  // (host order). The socket's AddressText is the host. Raises as above.
  virtual TSocket ConnectTo(const String& host, uint16_t port);

  // Sending on the data socket, through its send queue: each returns the item's id (reported
  // again by OnItemSent when it has gone out), or 0 when it went out at once. Without a data
  // socket, after it closed or after the proxy refused the connection they raise
  // EIpWinSockError 10057 ("Socket is not connected", on API 'send'). Data queued before the
  // connection is up goes out once it is.
  int SendText(const String& text);
  int SendBytes(const void* data, uint32_t length);
  // Sends the stream's content from its position on; the client takes it over.
  int SendStream(std::unique_ptr<TStream> stream, bool closeAfter = false);
  // Closes the connection once everything queued so far has gone out; the data socket is then
  // freed. An answer the peer sends to the last data is not read: see CloseWhenDone.
  int CloseAfterSent();
  // Finishes the connection and lets the peer have the last word: everything queued so far
  // goes out, then the send side is shut down (the peer reads the end of the data), and
  // reading goes on, lines delivered as usual, until the peer closes (OnStatus kind 1) or,
  // with an IdleTimeout, until an idle time-out that OnIdleTimeout does not reset closes it.
  // Sending afterwards raises EIpWinSockError 10058; without a data socket it raises 10057.
  void CloseWhenDone();

 protected:
  using TSocketMaker = std::unique_ptr<TIpDataSocket> (*)(TIpCustomClient& client);
  // For a client that drives sockets of its own and never makes a data socket (the SNTP
  // client passes nullptr): the data socket, and with it the stream, SOCKS and telnet code,
  // is then not linked into a program that uses only such clients.
  TIpCustomClient(TComponent* owner, TSocketMaker maker);

  bool Dispatch(TMessage& message) override;
  void CallsReturned() override;

 private:
  // The maker of the public constructor: a data socket with the client's settings. It is
  // defined with the data socket (IpDataSocket.cpp), so that only a program that makes a
  // client with it links that code.
  static std::unique_ptr<TIpDataSocket> MakeDataSocket(TIpCustomClient& client);
  TIpDataSocket& SendingSocket();
  // Raises "Socket is already connected" while the data socket's link is up.
  void RefuseWhileConnected() const;
  TIpNameResolution NameResolution() const;
  // Connects the data socket (a fresh one unless it never tried) to `addr`.
  TSocket StartConnect(const TSockAddrIn& addr, const String& addressText);
  // Takes a socket object out of service; it is freed once no call into the control runs.
  void Retire(TIpDataSocket* socket);
  // Closes the client's socket object of `socket` (if it is one) with `close`, then retires it,
  // also when closing raises.
  void CloseAndRetire(TSocket socket, void (TIpDataSocket::*close)());
  void FreeRetired();
  // The socket object that closed with this number and waits to be freed; nullptr if none.
  TIpDataSocket* ClosedSocket(TSocket number) const;

  TSocketMaker FMakeSocket;
  std::unique_ptr<TIpSocksServerInfo> FSocksServer;
  std::unique_ptr<TIpDataSocket> FDataSocket;
  std::vector<std::unique_ptr<TIpDataSocket>> FRetired;
};
