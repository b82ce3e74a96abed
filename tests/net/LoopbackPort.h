// A port on 127.0.0.1 that nobody listens on: taken from a socket that is
// then closed, so a connect to it is refused. Winsock must be started.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>

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

// The body of an HTTP/1.0 GET of `path` from 127.0.0.1:port (read until the
// server closes), or empty when there is no answer.
inline std::string LoopbackHttpGet(uint16_t port, const std::string& path) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const sockaddr_in address = LoopbackAddress(port);
  std::string reply;
  if (s != INVALID_SOCKET && connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    send(s, request.data(), int(request.size()), 0);
    char chunk[65536];
    int got = 0;
    while ((got = recv(s, chunk, sizeof(chunk), 0)) > 0) reply.append(chunk, size_t(got));
  }
  if (s != INVALID_SOCKET) closesocket(s);
  const size_t body = reply.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

}  // namespace test_net
