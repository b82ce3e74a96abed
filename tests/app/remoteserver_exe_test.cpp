// keltracer.exe started with the remote-server switch: its window shows the
// port, a viewer connecting and leaving changes the status text, and closing
// the window ends the process with code 2.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/app/UiDriver.h"
#include "tests/core/TempFolder.h"
#include "tests/net/LoopbackPort.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;
constexpr int kStatusControl = 1120;
constexpr int kServerExitCode = 2;

std::wstring Status(HWND window) {
  wchar_t text[512] = {};
  GetDlgItemTextW(window, kStatusControl, text, 512);
  return text;
}

TEST(RemoteServerExe, StatusFollowsAViewerAndClosingEndsTheProcess) {
  WSADATA data;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
  TempFolder temp(L"ktserverexe");
  const uint16_t port = test_net::FreePort();
  uidriver::CProcess server;
  ASSERT_TRUE(server.Start(uidriver::ViewerPath(), L"-c " + std::to_wstring(port), temp.path()));
  HWND window = nullptr;
  const std::wstring waiting = L"Wait for connection, on port " + std::to_wstring(port);
  ASSERT_TRUE(uidriver::WaitUntil(server.Handle(), kTimeoutMs, [&] {
    window = FindWindowW(nullptr, L"keltracer remote server");
    return window != nullptr && Status(window) == waiting;
  }));
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  EXPECT_EQ(server.Id(), owner);

  // The text is set as the capture thread starts; the port opens a moment later.
  const sockaddr_in address = test_net::LoopbackAddress(port);
  SOCKET viewer = INVALID_SOCKET;
  ASSERT_TRUE(uidriver::WaitUntil(server.Handle(), kTimeoutMs, [&] {
    viewer = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(viewer, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) return true;
    closesocket(viewer);
    return false;
  }));
  const char live[4] = {1, 0, 0, 0};
  ASSERT_EQ(4, send(viewer, live, 4, 0));
  const std::wstring connected = L"Client connected, on port " + std::to_wstring(port) + L"\r\n127.0.0.1";
  EXPECT_TRUE(uidriver::WaitUntil(server.Handle(), kTimeoutMs, [&] { return Status(window) == connected; }))
      << Status(window);
  closesocket(viewer);
  EXPECT_TRUE(uidriver::WaitUntil(server.Handle(), kTimeoutMs, [&] { return Status(window) == waiting; }))
      << Status(window);

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(kServerExitCode, server.Wait(kTimeoutMs));
  WSACleanup();
}

}  // namespace
