// Runs one of the Python test scripts (the servers of this folder, checkers
// of others) with Debian's /usr/bin/python3 (a Unix program, started through
// Wine). Wine cannot hand a Unix process our pipes, so the script connects
// back to a socket we listen on (127.0.0.1), reports one line when it serves
// (a checker: its verdict), and stops when that connection ends: when Stop
// runs or this process goes away. The servers also have a time limit of
// their own (tests/net/server_control.py).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

class ScriptServer {
 public:
  static constexpr DWORD kStartWaitMs = 30000;
  static constexpr DWORD kStopWaitMs = 10000;
  static constexpr size_t kMaxLineBytes = 1024;

  ScriptServer() {
    WSADATA data;
    m_winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~ScriptServer() {
    Stop();
    if (m_winsock) WSACleanup();
  }
  ScriptServer(const ScriptServer&) = delete;
  ScriptServer& operator=(const ScriptServer&) = delete;

  // script: file name in tests/<folder>; arguments follow the control port.
  // True once the server reported its line (see Line()).
  bool Start(const char* script, const std::string& arguments, const char* folder = "net") {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      m_line = "control socket failed, error " + std::to_string(WSAGetLastError());
      if (listener != INVALID_SOCKET) closesocket(listener);
      return false;
    }
    std::string command = std::string("Z:\\usr\\bin\\python3 ") + KT_SOURCE_DIR + "/tests/" + folder + "/" + script + " " +
                          std::to_string(ntohs(address.sin_port)) + " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      m_line = "CreateProcess failed, error " + std::to_string(GetLastError());
      closesocket(listener);
      return false;
    }
    // A Unix process gives us no handle to wait on; the socket tells.
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    if (Readable(listener, kStartWaitMs)) m_control = accept(listener, nullptr, nullptr);
    closesocket(listener);
    if (m_control == INVALID_SOCKET) {
      m_line = "the server did not connect back";
      return false;
    }
    return ReadLine();
  }

  // Ends the connection and waits (bounded) for the server to close its end.
  void Stop() {
    if (m_control == INVALID_SOCKET) return;
    shutdown(m_control, SD_SEND);
    char chunk[256];
    while (Readable(m_control, kStopWaitMs) && recv(m_control, chunk, sizeof(chunk), 0) > 0) {
    }
    closesocket(m_control);
    m_control = INVALID_SOCKET;
  }

  const std::string& Line() const { return m_line; }

 private:
  static bool Readable(SOCKET s, DWORD waitMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval timeout = {static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &timeout) == 1;
  }

  bool ReadLine() {
    m_line.clear();
    char ch = 0;
    while (m_line.size() < kMaxLineBytes && Readable(m_control, kStartWaitMs) && recv(m_control, &ch, 1, 0) == 1) {
      if (ch == '\n') return true;
      m_line += ch;
    }
    return false;
  }

  bool m_winsock = false;
  SOCKET m_control = INVALID_SOCKET;
  std::string m_line;
};
