#include "net/EventSocket.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int kSocketOptionOn = 1;

}  // namespace

// ---------------------------------------------------------------- CEventSocket

void CEventSocket::Close() {
  if (m_event) {
    WSACloseEvent(m_event);
    m_event = nullptr;
  }
  if (m_socket != INVALID_SOCKET) {
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
  }
}

int CEventSocket::CreateSocket() {
  m_event = WSACreateEvent();
  if (m_event == WSA_INVALID_EVENT) {
    m_event = nullptr;
    return 0;
  }
  m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (m_socket == INVALID_SOCKET) {
    WSACloseEvent(m_event);
    m_event = nullptr;
    return 0;
  }
  return 1;
}

int CEventSocket::SelectEvents(long events) {
  return WSAEventSelect(m_socket, m_event, events) == 0 ? 1 : 0;
}

int CEventSocket::EnumNetworkEvents(WSANETWORKEVENTS* events) const {
  if (!events) return 0;
  if (m_dropError != 0 && m_socket == INVALID_SOCKET && m_event) {
    std::memset(events, 0, sizeof(*events));
    if (!m_dropReported) {
      events->lNetworkEvents = FD_CLOSE;
      events->iErrorCode[FD_CLOSE_BIT] = m_dropError;
      m_dropReported = true;
    }
    WSAResetEvent(m_event);
    return 1;
  }
  if (m_socket == INVALID_SOCKET) return 0;
  return WSAEnumNetworkEvents(m_socket, m_event, events) == 0 ? 1 : 0;
}

void CEventSocket::Drop(int error) {
  if (m_socket == INVALID_SOCKET) return;
  const linger abortive = {1, 0};
  setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof(abortive));
  closesocket(m_socket);
  m_socket = INVALID_SOCKET;
  m_dropError = error;
  m_dropReported = false;
  if (m_event) WSASetEvent(m_event);
}

uint16_t CEventSocket::LocalPort() const {
  sockaddr_in local = {};
  int length = sizeof(local);
  if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  if (local.sin_family != AF_INET) return 0;
  return ntohs(local.sin_port);
}

uint32_t CEventSocket::PeerAddress() const {
  sockaddr_in peer = {};
  int length = sizeof(peer);
  if (getpeername(m_socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return INADDR_NONE;
  if (peer.sin_family != AF_INET) return INADDR_NONE;
  return peer.sin_addr.s_addr;
}

// -------------------------------------------------------------- CSocketService

CSocketService* CSocketService::Listen(uint16_t port, int backlog, uint32_t address) {
  CSocketService* service = new (std::nothrow) CSocketService();
  if (!service) return nullptr;
  if (!service->CreateSocket()) {
    delete service;
    return nullptr;
  }
  // Exclusive use: with SO_REUSEADDR Windows would let a second listener bind
  // the same port and split the connections between the two.
  const int option = kSocketOptionOn;
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = address;
  if (setsockopt(service->m_socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&option), sizeof(option)) != 0 ||
      !service->SelectEvents(kListenEvents) ||
      bind(service->m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
      listen(service->m_socket, backlog) != 0) {
    delete service;
    return nullptr;
  }
  return service;
}

SOCKET CSocketService::Accept() const {
  if (m_socket == INVALID_SOCKET) return INVALID_SOCKET;
  return accept(m_socket, nullptr, nullptr);
}

CSocketClient* CSocketService::WrapAccepted(SOCKET socket) {
  if (socket == INVALID_SOCKET) return nullptr;
  CSocketClient* client = new (std::nothrow) CSocketClient();
  if (!client) {
    closesocket(socket);
    return nullptr;
  }
  client->m_socket = socket;
  client->m_event = WSACreateEvent();
  if (client->m_event == WSA_INVALID_EVENT) client->m_event = nullptr;
  // An accepted socket starts with the listener's selection; ours replaces it.
  if (!client->m_event || !client->SelectEvents(CSocketClient::kAcceptedEvents)) {
    delete client;
    return nullptr;
  }
  return client;
}

// --------------------------------------------------------------- CSocketClient

CSocketClient::~CSocketClient() {
  m_input.Free();
  m_output.Free();
}

CSocketClient* CSocketClient::Connect(const sockaddr_in& address, uint32_t clientType) {
  if (address.sin_family != AF_INET || address.sin_addr.s_addr == INADDR_NONE) return nullptr;
  CSocketClient* client = new (std::nothrow) CSocketClient();
  if (!client) return nullptr;
  client->m_clientType = clientType;
  client->m_target = address;
  if (!client->CreateSocket() || !client->SelectEvents(kConnectEvents)) {
    delete client;
    return nullptr;
  }
  if (connect(client->m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    delete client;
    return nullptr;
  }
  return client;
}

int CSocketClient::OnRecv() {
  if (m_socket == INVALID_SOCKET) return 0;
  for (;;) {
    // Receiving straight into reserved room: a chunk can never be read from
    // the socket and then dropped for want of memory.
    uint8_t* room = m_input.Reserve(kChunkBytes);
    if (!room) return static_cast<int>(kChunkBytes);
    // At most one byte past the limit is taken: that byte proves the overrun.
    const size_t allowed = m_input.Size() <= m_receiveLimit ? m_receiveLimit - m_input.Size() + 1 : 1;
    const size_t want = allowed < kChunkBytes ? allowed : kChunkBytes;
    const int received = recv(m_socket, reinterpret_cast<char*>(room), static_cast<int>(want), 0);
    if (received <= 0) return received;
    m_input.size += static_cast<size_t>(received);
    if (m_input.Size() > m_receiveLimit) {
      Drop(WSAENOBUFS);
      return 0;
    }
  }
}

size_t CSocketClient::OnSend() {
  if (m_socket == INVALID_SOCKET) return m_output.Size();
  while (m_output.Size() > 0) {
    const size_t offered = m_output.Size() < kChunkBytes ? m_output.Size() : kChunkBytes;
    const int sent = send(m_socket, reinterpret_cast<const char*>(m_output.Data()), static_cast<int>(offered), 0);
    if (sent <= 0) break;
    // After a short send keep going: only a send that fails with
    // WSAEWOULDBLOCK arms the next FD_WRITE.
    m_output.Consume(static_cast<size_t>(sent));
  }
  return m_output.Size();
}

int CSocketClient::Write(const void* data, size_t length) {
  if (m_socket == INVALID_SOCKET) return 0;
  if (length == 0) return 1;
  // What the peer takes now no longer counts against it.
  const size_t queued = OnSend();
  if (queued != 0 && length > (m_sendLimit > queued ? m_sendLimit - queued : 0)) {
    Drop(WSAENOBUFS);
    return 0;
  }
  if (m_output.Append(data, length) != length) return 0;
  OnSend();
  return 1;
}

// --------------------------------------------------------------- Host helpers

uint32_t ResolveHost(const wchar_t* name) {
  const CWideToAnsi host(name);
  // An empty name would resolve to this machine.
  if (host.c_str()[0] == '\0') return INADDR_NONE;
  const uint32_t numeric = inet_addr(host.c_str());
  if (numeric != INADDR_NONE) return numeric;
  const hostent* entry = gethostbyname(host.c_str());
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != sizeof(in_addr) ||
      !entry->h_addr_list || !entry->h_addr_list[0]) {
    return INADDR_NONE;
  }
  in_addr first;
  std::memcpy(&first, entry->h_addr_list[0], sizeof(first));
  return first.s_addr;
}

CIpv4Text AddrToString(uint32_t address) {
  // Formatted here rather than by inet_ntoa, whose result lives in a buffer
  // that the next call on this thread overwrites.
  CIpv4Text out;
  const auto* octets = reinterpret_cast<const uint8_t*>(&address);
  _snprintf(out.text, CIpv4Text::kChars, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
  out.text[CIpv4Text::kChars - 1] = '\0';
  return out;
}

CWideToAnsi::CWideToAnsi(const wchar_t* text) {
  m_inline[0] = '\0';
  if (!text) return;
  // Ask for the real size: in a multi-byte code page one character can take
  // more than two bytes.
  const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return;
  if (static_cast<size_t>(needed) > kInlineBytes) {
    char* block = static_cast<char*>(std::malloc(static_cast<size_t>(needed)));
    if (!block) return;
    m_text = block;
  }
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, m_text, needed, nullptr, nullptr) <= 0) m_text[0] = '\0';
}

CWideToAnsi::~CWideToAnsi() {
  if (m_text != m_inline) std::free(m_text);
}
