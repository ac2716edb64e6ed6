// The client base of the socket component set, in the form the SNTP client builds on: the
// port used when an address text names none, and the SOCKS proxy settings a client publishes.
// The client's own socket object and connection handling come with the data socket.
#pragma once

#include <cstdint>
#include <memory>

#include "base/IpUtils.h"
#include "sock/IpSockControl.h"

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

class TIpCustomClient : public TIpSockControl {
 public:
  explicit TIpCustomClient(TComponent* owner);
  ~TIpCustomClient() override;

  TIpSocksServerInfo& SocksServer() { return *FSocksServer; }

  // Port used when an address text carries none (host order).
  uint16_t DefaultPort = 0;

 private:
  std::unique_ptr<TIpSocksServerInfo> FSocksServer;
};
