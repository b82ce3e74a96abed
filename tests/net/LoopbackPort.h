// A port on 127.0.0.1 that nobody listens on: taken from a socket that is
// then closed, so a connect to it is refused. Winsock must be started.
#pragma once

#include <winsock2.h>

#include <cstdint>

// Host order; 0 when no port could be had.
inline uint16_t UnusedLoopbackPort() {
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(local);
  uint16_t port = 0;
  if (probe != INVALID_SOCKET && bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
    port = ntohs(local.sin_port);
  }
  if (probe != INVALID_SOCKET) closesocket(probe);
  return port;
}

namespace test_net {

inline sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

inline uint16_t FreePort() { return UnusedLoopbackPort(); }

}  // namespace test_net
