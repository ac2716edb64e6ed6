// Server replies built by hand, for tests that play the NTP server behind the fake WinSock.
#pragma once

#include <cstring>
#include <vector>

#include "sntp/IpTime.h"

// A server's answer to `request` (48 bytes as the client sent them): leap indicator, version and
// mode from `first` (0x1C: no warning, version 3, server), `stratum`, the request's transmit
// stamp echoed as the originate stamp, and the receive and transmit stamps given.
inline std::vector<uint8_t> ServerReply(const std::vector<uint8_t>& request, TIpNTPTimestamp received,
                                        TIpNTPTimestamp sent, uint8_t first = 0x1C, uint8_t stratum = 2) {
  std::vector<uint8_t> r(48, 0);
  r[0] = first;
  r[1] = stratum;
  std::copy(request.begin() + 40, request.begin() + 48, r.begin() + 24);
  std::memcpy(&r[32], &received, 8);
  std::memcpy(&r[40], &sent, 8);
  return r;
}
