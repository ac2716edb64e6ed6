#include "sock/IpClient.h"

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

TIpCustomClient::TIpCustomClient(TComponent* owner)
    : TIpSockControl(owner), FSocksServer(std::make_unique<TIpSocksServerInfo>()) {}

TIpCustomClient::~TIpCustomClient() { FSocksServer.reset(); }
