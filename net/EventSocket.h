// Non-blocking TCP sockets that signal an event object through WSAEventSelect,
// so one thread can wait on many sockets together with its other handles.
// These classes move bytes only; the remote protocol's framing sits on top.
// Winsock must have been started (WSAStartup 2.2) by the application.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"

class CSocketClient;

class CSocketBase {
 public:
  CSocketBase() = default;
  CSocketBase(const CSocketBase&) = delete;
  CSocketBase& operator=(const CSocketBase&) = delete;
  virtual ~CSocketBase() = default;
};

// Owns one socket and its event. Not shared between threads at the same time.
class CEventSocket : public CSocketBase {
 public:
  ~CEventSocket() override { Close(); }

  // Closes the event and the socket; safe to call again.
  void Close();

  SOCKET Handle() const { return m_socket; }
  // The event to wait on; the socket keeps ownership.
  WSAEVENT Event() const { return m_event; }

  // Reads and clears the network events recorded since the last call (and
  // resets the event). 1 on success, 0 when Winsock refuses. A socket this
  // side dropped reports FD_CLOSE once, with the reason as its error code.
  int EnumNetworkEvents(WSANETWORKEVENTS* events) const;

  // The reason this side dropped the connection (WSAENOBUFS for a peer that
  // overran a buffer limit), 0 while it was not dropped.
  int DropError() const { return m_dropError; }

  // Port of the local end in host order, 0 when unknown.
  uint16_t LocalPort() const;
  // IPv4 address of the peer in network order, INADDR_NONE when unknown.
  uint32_t PeerAddress() const;

 protected:
  CEventSocket() = default;
  // The event first, then a TCP socket; on failure nothing stays open.
  int CreateSocket();
  // Makes the socket non-blocking and signals the event for these events.
  int SelectEvents(long events);
  // Ends the connection at once (unsent bytes are discarded, the peer sees
  // a reset) and signals the event, so the owner's wait wakes and learns of
  // it as FD_CLOSE with `error`. The event stays until Close.
  void Drop(int error);

  SOCKET m_socket = INVALID_SOCKET;
  WSAEVENT m_event = nullptr;
  int m_dropError = 0;
  mutable bool m_dropReported = false;  // told once, by EnumNetworkEvents
};

// A listening socket.
class CSocketService : public CEventSocket {
 public:
  static constexpr long kListenEvents = FD_ACCEPT | FD_CLOSE;

  // Listens on the port (host order; 0 lets the system choose) of the given
  // IPv4 address (network order). The caller owns the result; null when any
  // step fails. A port that another listener holds is refused, not shared.
  static CSocketService* Listen(uint16_t port, int backlog, uint32_t address = INADDR_ANY);

  // The next pending connection as a raw socket (the caller owns it), or
  // INVALID_SOCKET when none is waiting.
  SOCKET Accept() const;

  // Adopts a socket returned by accept as a client that receives and sends.
  // Null for INVALID_SOCKET; on any later failure the socket is closed and
  // null returned. The caller owns the result.
  static CSocketClient* WrapAccepted(SOCKET socket);

 private:
  CSocketService() = default;
};

// A connected or connecting stream socket with its input and output bytes.
class CSocketClient : public CEventSocket {
 public:
  static constexpr long kAcceptedEvents = FD_READ | FD_WRITE | FD_CLOSE;
  // FD_WRITE is selected on connecting clients too: without it bytes that a
  // full send buffer held back would never be sent.
  static constexpr long kConnectEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
  static constexpr size_t kChunkBytes = 4096;
  // Bytes received and not consumed that a peer may leave with us: past
  // this it is dropped. Owners that expect a larger reply raise it.
  static constexpr size_t kDefaultReceiveLimit = 16u << 20;
  // Bytes queued for a peer that has not taken them: a write that would
  // queue more drops the peer. A single write into an empty queue is always
  // taken, however large.
  static constexpr size_t kDefaultSendLimit = 64u << 20;

  ~CSocketClient() override;

  // Starts a non-blocking connect to an IPv4 socket address; the outcome
  // arrives as FD_CONNECT with its error code. clientType is the request word
  // this connection will carry. Null for INADDR_NONE, a family other than
  // AF_INET or an immediate failure. The caller owns the result.
  static CSocketClient* Connect(const sockaddr_in& address, uint32_t clientType);

  // Receives everything available into the input buffer. Returns the last
  // recv result: 0 when the peer has closed, SOCKET_ERROR when nothing more
  // is available for now (or on an error, which the events report), and a
  // positive count only when the input buffer could not grow (the rest stays
  // in the socket). A peer whose unconsumed bytes pass the receive limit is
  // dropped: 0, and the owner is told through the event.
  virtual int OnRecv();
  // Sends queued bytes until none are left or the socket would block (the
  // next FD_WRITE resumes). Returns the bytes still queued.
  virtual size_t OnSend();

  // Queues the bytes and sends what the socket takes now. 1 when all bytes
  // were queued or sent, 0 when the output buffer could not grow (nothing of
  // these bytes is queued then) or the connection is gone. A peer that left
  // so much unread that these bytes would queue past the send limit is
  // dropped (0; the owner is told through the event).
  int Write(const void* data, size_t length);

  // Sets both limits, in bytes (tests use small ones).
  void SetBufferLimits(size_t receiveLimit, size_t sendLimit) {
    m_receiveLimit = receiveLimit;
    m_sendLimit = sendLimit;
  }

  // The address given to Connect (family 0 for an accepted connection): the
  // peer's name is gone once the connection failed or closed.
  const sockaddr_in& TargetAddress() const { return m_target; }

  uint32_t ClientType() const { return m_clientType; }
  void SetClientType(uint32_t type) { m_clientType = type; }
  CByteBuffer& Input() { return m_input; }
  const CByteBuffer& Output() const { return m_output; }

 private:
  friend class CSocketService;
  CSocketClient() = default;

  // First protocol word of the connection; 0 for an accepted connection
  // until the server has read it.
  uint32_t m_clientType = 0;
  sockaddr_in m_target = {};
  size_t m_receiveLimit = kDefaultReceiveLimit;
  size_t m_sendLimit = kDefaultSendLimit;
  CByteBuffer m_output;  // bytes not yet sent
  CByteBuffer m_input;   // bytes received and not yet consumed
};

// IPv4 address of a host name or dotted text, in network order; INADDR_NONE
// when it cannot be resolved. Dotted text is used without a lookup.
uint32_t ResolveHost(const wchar_t* name);

// Dotted text of an IPv4 address, held in the value itself.
struct CIpv4Text {
  static constexpr size_t kChars = 16;  // "255.255.255.255" and terminator
  char text[kChars];
  const char* c_str() const { return text; }
};

// The dotted text of an IPv4 address given in network order.
CIpv4Text AddrToString(uint32_t address);

// Text converted to the ANSI code page, in an inline buffer or a heap block
// that the object owns; empty for null text or when the conversion fails.
class CWideToAnsi {
 public:
  static constexpr size_t kInlineBytes = 128;  // terminator included

  explicit CWideToAnsi(const wchar_t* text);
  ~CWideToAnsi();
  CWideToAnsi(const CWideToAnsi&) = delete;
  CWideToAnsi& operator=(const CWideToAnsi&) = delete;

  const char* c_str() const { return m_text; }

 private:
  char* m_text = m_inline;
  char m_inline[kInlineBytes];
};

inline CWideToAnsi WideToAnsi(const wchar_t* text) { return CWideToAnsi(text); }
