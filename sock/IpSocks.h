// The client side of a SOCKS proxy handshake (SOCKS4, SOCKS4a, SOCKS5 with no authentication or
// user name and password), as byte-in, byte-out logic. Start gives the first request; each
// Receive takes the bytes just read from the proxy and gives back the requests to send next and
// the bytes that follow the final reply, which are the connection's first data. The class knows
// no socket: the data socket owns one while its SocksState is 1 to 4, queues what it returns as
// raw protocol items, holds back the user's own items until Done, and then reports the granted
// connection with BoundAddress and BoundPort, or the refusal with RefusalCode and RefusalText.
// It takes no lock of its own: the data socket calls it under the socket's lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "toolkit/SysUtils.h"

enum TIpSocksVersion : uint8_t { svSocks4, svSocks4a, svSocks5 };

// What one Receive produced.
struct TIpSocksStep {
  String Send;            // requests to queue, in order; empty: none
  String Data;            // received bytes that are not part of a reply
  bool Finished = false;  // this call granted or refused the request
};

inline constexpr const char SSocksBadVersion[] = "SOCKS reply of wrong version - %d";
inline constexpr const char SSocksBadAddressType[] = "SOCKS reply with unknown address type - %d";
inline constexpr const char SSocksClosed[] = "SOCKS proxy closed the connection during the handshake";

class TIpSocksHandshake {
 public:
  // The socket's SocksState numbers for the stages of the handshake. A refusal leaves the
  // stage where it was.
  static constexpr uint8_t NotStarted = 1;
  static constexpr uint8_t RequestSent = 2;
  static constexpr uint8_t AuthSent = 3;     // SOCKS5 user name and password
  static constexpr uint8_t ConnectSent = 4;  // SOCKS5 connect request
  static constexpr uint8_t Connected = 5;

  // Refusal codes of replies this side cannot read; the proxy's own codes are 0 to 255.
  static constexpr int BadVersionCode = -1;      // a reply's version byte is not the one expected
  static constexpr int BadAddressTypeCode = -2;  // SOCKS5 connect reply of an unknown address type
  // The proxy closed the connection before its final reply: a failed connection, reported with
  // WinSock's code for a connection the peer ended (WSAECONNRESET), not as the proxy's refusal.
  static constexpr int ClosedCode = 10054;

  // Longest user name or password a SOCKS5 authentication carries; longer texts are cut.
  static constexpr size_t MaxAuthLength = 255;

  // targetAddress and targetPort in network byte order, as a socket address holds them.
  // targetName is the host as the user wrote it: with SOCKS4a, one that is not a dotted address
  // goes to the proxy to resolve.
  TIpSocksHandshake(TIpSocksVersion version, const String& userCode, const String& password, uint32_t targetAddress,
                    uint16_t targetPort, const String& targetName = String());

  // The first request; empty when called again.
  String Start();
  // Takes bytes received from the proxy: consumes the replies they complete and returns the
  // requests that follow. Once granted, every byte after the final reply is data; once
  // refused, no byte is read any more, and what followed the refusal is dropped. Called before
  // Start, it starts the handshake first.
  TIpSocksStep Receive(const String& received);

  // The proxy closed the connection: a handshake not yet done is refused with ClosedCode.
  void Closed() {
    if (!Done()) Refuse(ClosedCode, SSocksClosed);
  }

  uint8_t State() const { return FState; }
  bool Granted() const { return FState == Connected; }
  bool Refused() const { return FRefused; }
  // Granted or refused: no more replies are read, the user's data may go out (if granted).
  bool Done() const { return Granted() || Refused(); }

  // The address and port the proxy reported for the connection, network byte order; the
  // address is 0 when a SOCKS5 proxy reported a name or an IPv6 address.
  uint32_t BoundAddress() const { return FBoundAddress; }
  uint16_t BoundPort() const { return FBoundPort; }

  // The proxy's code (SOCKS4 result, SOCKS5 method, authentication status or reply code), or
  // BadVersionCode, BadAddressTypeCode or ClosedCode, and the error text for it.
  int RefusalCode() const { return FRefusalCode; }
  const String& RefusalText() const { return FRefusalText; }

 private:
  String ConnectRequest5() const;
  String AuthRequest5() const;
  void Refuse(int code);
  void Refuse(int code, const String& text);
  void Grant(const String& reply, size_t addressAt, size_t portAt);
  // Bytes of the reply the current stage waits for.
  size_t ReplyLength() const;
  // Refuses when the reply read so far shows a wrong version or a refusal code.
  void CheckHeader();
  // Acts on the whole reply in FReply, which passed CheckHeader.
  void ProcessReply(TIpSocksStep& step);

  TIpSocksVersion FVersion;
  String FUserCode;
  String FPassword;
  uint32_t FTargetAddress;
  uint16_t FTargetPort;
  String FTargetName;

  uint8_t FState = NotStarted;
  String FReply;  // the reply read so far
  bool FRefused = false;
  int FRefusalCode = 0;
  String FRefusalText;
  uint32_t FBoundAddress = 0;
  uint16_t FBoundPort = 0;
};
