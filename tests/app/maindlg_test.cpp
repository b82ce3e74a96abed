// The remote-server window with its capture on a real port of 127.0.0.1:
// status texts as viewers come and go, start failures, and what closing it
// leaves behind.
#include "app/MainDlg.h"
#include "app/Run.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "capture/LocalFileList.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "tests/capture/CaptureFixture.h"
#include "tests/core/TempFolder.h"
#include "tests/net/LoopbackPort.h"
#include "ui/framework/PopupSeam.h"

namespace {

constexpr DWORD kTimeoutMs = 15000;

std::vector<std::wstring> g_boxes;
int WINAPI RecordBox(HWND, const wchar_t* text, const wchar_t*, UINT) {
  g_boxes.push_back(text);
  return IDOK;
}

using test_net::FreePort;

SOCKET Viewer(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const sockaddr_in address = test_net::LoopbackAddress(port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  const uint8_t live[4] = {1, 0, 0, 0};
  send(s, reinterpret_cast<const char*>(live), 4, 0);
  return s;
}

// Destroys a window that a test left open when it ended early.
struct WindowCloser {
  HWND& window;
  ~WindowCloser() {
    if (IsWindow(window)) DestroyWindow(window);
  }
};

bool g_quitSeen = false;
WPARAM g_quitCode = 0;

// Runs the thread's messages until the condition holds or time runs out.
template <class Condition>
bool PumpUntil(Condition condition) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > kTimeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        g_quitSeen = true;
        g_quitCode = msg.wParam;
        return condition();
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

std::wstring StatusText(HWND dialog) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, IDC_SERVER_STATUS, text, 512);
  return text;
}

class MainDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    static const bool groups = g_moduleGroups.LoadFromResource() == 1;
    ASSERT_TRUE(groups);
    // Inputs a test process must not own.
    g_appConfig.m_dbWinEnable = 0;
    g_appConfig.m_hvnEnable = 0;
    ASSERT_TRUE(m_folder.valid());
    LocalFileFolders folders;
    wcscpy(folders.temp, m_folder.path().c_str());
    g_localFileList.SetFolders(folders);
    g_boxes.clear();
    g_quitSeen = false;
    m_previousBox = g_messageBox;
    g_messageBox = &RecordBox;
  }
  void TearDown() override {
    g_messageBox = m_previousBox;
    WSACleanup();
  }

  TempFolder m_folder{L"ktmaindlg"};
  MessageBoxFn m_previousBox = nullptr;
};

TEST_F(MainDlgTest, StatusFollowsViewersAndClosingDeletesTheDumpFiles) {
  const std::wstring dump = m_folder.File(L"keltra_1.dump");
  std::ofstream(dump.c_str()) << "dump";
  const uint16_t port = FreePort();
  CMessageLoop loop;
  CMainDlg dialog;
  ASSERT_NE(nullptr, dialog.Create(nullptr));
  const WindowCloser closer{dialog.m_hWnd};
  wchar_t caption[64] = {};
  GetWindowTextW(dialog.m_hWnd, caption, 64);
  EXPECT_STREQ(L"keltracer remote server", caption);
  ASSERT_EQ(1, dialog.StartServer(port));
  const std::wstring waiting = L"Wait for connection, on port " + std::to_wstring(port);
  EXPECT_EQ(waiting, StatusText(dialog.m_hWnd));

  const std::wstring connected = L"Client connected, on port " + std::to_wstring(port) + L"\r\n";
  // The capture thread opens the port a moment after the start.
  SOCKET first = INVALID_SOCKET;
  ASSERT_TRUE(PumpUntil([&] { return (first = Viewer(port)) != INVALID_SOCKET; }));
  EXPECT_TRUE(PumpUntil([&] { return StatusText(dialog.m_hWnd) == connected + L"127.0.0.1"; }))
      << StatusText(dialog.m_hWnd);
  SOCKET second = Viewer(port);
  EXPECT_TRUE(PumpUntil([&] { return StatusText(dialog.m_hWnd) == connected + L"127.0.0.1;127.0.0.1"; }))
      << StatusText(dialog.m_hWnd);
  closesocket(first);
  EXPECT_TRUE(PumpUntil([&] { return StatusText(dialog.m_hWnd) == connected + L"127.0.0.1"; }))
      << StatusText(dialog.m_hWnd);
  // A stray notice for a viewer nobody announced changes nothing.
  dialog.PostMessage(ThreadsNotify, kNotifyPeerLost, AddressParam(0x0100000A));
  closesocket(second);
  EXPECT_TRUE(PumpUntil([&] { return StatusText(dialog.m_hWnd) == waiting; })) << StatusText(dialog.m_hWnd);
  EXPECT_EQ(0u, dialog.Viewers().count);

  dialog.PostMessage(WM_CLOSE);
  EXPECT_TRUE(PumpUntil([&] { return g_quitSeen; }));
  EXPECT_EQ(WPARAM(kRemoteServerExitCode), g_quitCode);
  EXPECT_FALSE(IsWindow(dialog.m_hWnd));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(dump.c_str())) << "the dump file is deleted";
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(MainDlgTest, PortThatAnotherListenerHoldsEndsTheWindowWithAnError) {
  SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  int length = sizeof(address);
  ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  ASSERT_EQ(0, listen(holder, 1));
  getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
  CMessageLoop loop;
  CMainDlg dialog;
  ASSERT_NE(nullptr, dialog.Create(nullptr));
  const WindowCloser closer{dialog.m_hWnd};
  dialog.StartServer(ntohs(address.sin_port));
  EXPECT_TRUE(PumpUntil([&] { return g_quitSeen; }));
  ASSERT_EQ(1u, g_boxes.size());
  EXPECT_EQ(L"WinSock listen socket create failed!", g_boxes[0]);
  closesocket(holder);
}

TEST_F(MainDlgTest, CaptureNoticesCloseTheWindowOnlyWhenTheCaptureIsGone) {
  struct Case {
    uint32_t notice;
    const wchar_t* box;  // null: no box
    bool closes;
  } const cases[] = {
      {kNoticeCaptureFailed, L"Capture stopped: waiting for trace input failed!", true},
      {IDS_START_CAPTURE_FAILED, L"Start capture failed!", true},
      {IDS_LISTEN_LOST, L"WinSock listen socket lost!", false},
      {kNoticeRecordsLost, nullptr, false},
      {kNoticeChannelFailed, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "notice " << c.notice);
    g_boxes.clear();
    g_quitSeen = false;
    CMessageLoop loop;
    CMainDlg dialog;
    ASSERT_NE(nullptr, dialog.Create(nullptr));
    const WindowCloser closer{dialog.m_hWnd};
    dialog.SendMessage(ThreadsNotify, kNotifyNotice, LPARAM(c.notice));
    ASSERT_EQ(g_boxes.size(), c.box != nullptr ? 1u : 0u);
    if (c.box != nullptr) {
      EXPECT_EQ(g_boxes[0], c.box);
    }
    // A close was posted: it ends the window when the queue is run.
    PumpUntil([] {
      MSG queued;
      return !PeekMessageW(&queued, nullptr, 0, 0, PM_NOREMOVE);
    });
    EXPECT_EQ(!IsWindow(dialog.m_hWnd), c.closes);
  }
}

}  // namespace

namespace {

// Plays a viewer against the window from another thread, the way a second
// machine would, and closes the window at the end.
struct ViewerScript {
  uint16_t port = 0;
  std::vector<std::wstring> seen;  // status texts in order of change
  bool done = false;

  static DWORD WINAPI Run(void* context) {
    auto* script = static_cast<ViewerScript*>(context);
    HWND window = nullptr;
    auto waitFor = [](auto condition) { return capture_test::WaitFor(condition, kTimeoutMs); };
    // Notes the status text when it changed; true when it begins with prefix.
    auto statusBegins = [&](std::wstring_view prefix) {
      const std::wstring text = StatusText(window);
      if (script->seen.empty() || script->seen.back() != text) script->seen.push_back(text);
      return std::wstring_view(text).starts_with(prefix);
    };
    if (!waitFor([&] { return (window = FindWindowW(nullptr, L"keltracer remote server")) != nullptr; })) return 1;
    // The waiting text is read before the viewer connects: a server quick to
    // accept would otherwise replace it before it was ever seen.
    waitFor([&] { return statusBegins(L"Wait for connection"); });
    SOCKET viewer = INVALID_SOCKET;
    if (!waitFor([&] { return (viewer = Viewer(script->port)) != INVALID_SOCKET; })) return 2;
    waitFor([&] { return statusBegins(L"Client connected"); });
    closesocket(viewer);
    waitFor([&] { return statusBegins(L"Wait for connection"); });
    script->done = true;
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
};

TEST_F(MainDlgTest, RemoteServerModeRunsTheWindowUntilItCloses) {
  ViewerScript script;
  script.port = FreePort();
  HANDLE thread = CreateThread(nullptr, 0, &ViewerScript::Run, &script, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  int exitCode = 0;
  {
    CMessageLoop loop;
    exitCode = RunRemoteServer(script.port, SW_SHOWNORMAL, loop);
  }
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kTimeoutMs));
  CloseHandle(thread);
  EXPECT_EQ(kRemoteServerExitCode, exitCode);
  EXPECT_TRUE(script.done);
  const std::wstring port = std::to_wstring(script.port);
  const std::vector<std::wstring> expected = {L"Wait for connection, on port " + port,
                                              L"Client connected, on port " + port + L"\r\n127.0.0.1",
                                              L"Wait for connection, on port " + port};
  EXPECT_EQ(expected, script.seen);
}

}  // namespace
