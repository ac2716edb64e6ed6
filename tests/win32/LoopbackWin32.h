// A listening TCP socket on 127.0.0.1 at a port the system picks, for loopback peers made of
// plain blocking WinSock calls (tests and benchmarks).
#pragma once

#include <cstdint>

#include <winsock2.h>

// Returns the socket (INVALID_SOCKET when it cannot listen) and sets `port` (host order).
inline SOCKET ListenOnLoopback(uint16_t& port, int backlog) {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof local;
  if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) != 0 || ::listen(s, backlog) != 0) {
    if (s != INVALID_SOCKET) ::closesocket(s);
    return INVALID_SOCKET;
  }
  port = ntohs(local.sin_port);
  return s;
}
