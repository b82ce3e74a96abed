// Addresses on 127.0.0.1 for tests that open TCP ports: the only address
// any test connects to.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

namespace test_net {

inline sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port nobody listens on now: the system's choice for a socket bound and
// closed again. Winsock must be started.
inline uint16_t FreePort() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = LoopbackAddress(0);
  int length = sizeof(address);
  uint16_t port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  closesocket(s);
  return port;
}

}  // namespace test_net
