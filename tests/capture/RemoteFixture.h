// Pieces of the remote protocol tests: Winsock for the test process, a free
// port on 127.0.0.1, a blocking raw TCP client, and a capture store running
// on a capture thread of its own.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "jobs/Threads.h"
#include "net/EventSocket.h"
#include "tests/capture/CaptureFixture.h"
#include "tests/net/LoopbackPort.h"

namespace capture_test {

constexpr DWORD kNetTimeoutMs = 10000;

inline bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

inline uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

using test_net::FreePort;
using test_net::LoopbackAddress;

inline void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}
inline uint32_t GetLe32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
inline uint64_t GetLe64(const uint8_t* p) { return GetLe32(p) | (uint64_t(GetLe32(p + 4)) << 32); }

// A blocking client on 127.0.0.1 whose reads give up after a time limit.
class RawClient {
 public:
  explicit RawClient(uint16_t port, int receiveBuffer = 0) {
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const DWORD timeout = kNetTimeoutMs;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    if (receiveBuffer != 0) {
      setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof(int));
    }
    const sockaddr_in address = LoopbackAddress(port);
    m_connected = connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return m_connected; }
  bool Send(const std::vector<uint8_t>& bytes) {
    return send(m_socket, reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), 0) == int(bytes.size());
  }
  // Everything until the server closes; `closed` tells whether it did
  // before the time limit.
  std::vector<uint8_t> ReadToClose(bool* closed) {
    std::vector<uint8_t> out;
    char chunk[4096];
    for (;;) {
      const int got = recv(m_socket, chunk, sizeof(chunk), 0);
      if (got <= 0) {
        *closed = got == 0 || WSAGetLastError() == WSAECONNRESET;
        return out;
      }
      out.insert(out.end(), chunk, chunk + got);
    }
  }
  // Exactly n bytes, or fewer when the stream ends or times out first.
  std::vector<uint8_t> Read(size_t n) {
    std::vector<uint8_t> out(n);
    size_t have = 0;
    while (have < n) {
      const int got = recv(m_socket, reinterpret_cast<char*>(out.data() + have), int(n - have), 0);
      if (got <= 0) break;
      have += size_t(got);
    }
    out.resize(have);
    return out;
  }
  void Close() {
    if (m_socket != INVALID_SOCKET) {
      closesocket(m_socket);
      m_socket = INVALID_SOCKET;
    }
  }
  SOCKET Handle() const { return m_socket; }

 private:
  SOCKET m_socket = INVALID_SOCKET;
  bool m_connected = false;
};

// A capture store on its own capture thread.
class RunningCapture {
 public:
  RunningCapture(const std::wstring& tag, uint16_t port) : m_capture(NewCapture(tag)), m_port(port) {}
  ~RunningCapture() {
    Stop();
    m_capture->Release();
  }
  CTraceCapture* operator->() { return m_capture; }
  CTraceCapture* get() { return m_capture; }
  bool Start() {
    if (!m_initialised && !m_capture->Init(m_port)) return false;
    m_initialised = true;
    const size_t started = NoticeLog::Get().Count(kNotifyNotice, kNoticeCaptureStarted);
    m_thread = new CThreadCapture(nullptr, m_capture);
    return m_thread->Start() == 1 &&
           WaitFor([&] { return NoticeLog::Get().Count(kNotifyNotice, kNoticeCaptureStarted) > started; },
                   kNetTimeoutMs);
  }
  void Stop() {
    if (m_thread != nullptr) {
      m_thread->Stop(kThreadStopTimeoutMs);
      delete m_thread;
      m_thread = nullptr;
    }
  }
  HANDLE Thread() const { return m_thread != nullptr ? m_thread->Handle() : nullptr; }

 private:
  CTraceCapture* m_capture;
  uint16_t m_port;
  bool m_initialised = false;
  CThreadCapture* m_thread = nullptr;
};

}  // namespace capture_test
