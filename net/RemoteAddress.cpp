#include "net/RemoteAddress.h"

#include <cwchar>

#include "net/EventSocket.h"
#include "net/RemoteProtocol.h"

namespace {
constexpr uint32_t kMaxPort = 65535;
}  // namespace

int ParseRemoteAddress(const wchar_t* text, CString* host, uint16_t* port) {
  if (text == nullptr || host == nullptr || port == nullptr) {
    return 0;
  }
  const wchar_t* colon = std::wcschr(text, L':');
  const size_t hostChars = colon != nullptr ? size_t(colon - text) : std::wcslen(text);
  if (hostChars == 0) {
    return 0;
  }
  uint32_t value = 0;
  if (colon != nullptr) {
    for (const wchar_t* p = colon + 1; *p != 0; ++p) {
      if (*p < L'0' || *p > L'9') {
        return 0;
      }
      value = value * 10 + uint32_t(*p - L'0');
      if (value > kMaxPort) {
        return 0;
      }
    }
  }
  if (!host->Assign(text, hostChars)) {
    return 0;
  }
  *port = value != 0 ? uint16_t(value) : kRemoteDefaultPort;
  return 1;
}

int MakeRemoteSocketAddress(const wchar_t* text, sockaddr_in* address) {
  CString host;
  uint16_t port = 0;
  if (address == nullptr || !ParseRemoteAddress(text, &host, &port)) {
    return 0;
  }
  const uint32_t resolved = ResolveHost(host.c_str());
  if (resolved == INADDR_NONE) {
    return 0;
  }
  *address = {};
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  address->sin_addr.s_addr = resolved;
  return 1;
}
