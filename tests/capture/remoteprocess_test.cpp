// Two processes on 127.0.0.1: a server capture in a process of its own,
// fed by trace-writer.exe, and a viewer capture here. The server process is
// this test executable again, running the disabled test below.
#include <string>

#include "net/RemoteProtocol.h"
#include "tests/capture/RemoteFixture.h"
#include "tests/capture/WriterProcess.h"

using namespace capture_test;

namespace {

constexpr wchar_t kServeVariable[] = L"KT_REMOTE_SERVE";
constexpr DWORD kProcessTimeoutMs = 60000;

std::wstring ReadyEventName(const std::wstring& tag) { return L"ktremote_ready_" + tag; }

// The server process: serves on the port until it is killed.
TEST(RemoteServerProcess, DISABLED_Serve) {
  wchar_t value[128] = {};
  if (GetEnvironmentVariableW(kServeVariable, value, 128) == 0) GTEST_SKIP();
  wchar_t tag[96] = {};
  unsigned port = 0;
  ASSERT_EQ(2, swscanf(value, L"%u %95ls", &port, tag));
  LoadGroupsOnce();
  ASSERT_TRUE(StartWinsock());
  RunningCapture server(tag, uint16_t(port));
  ASSERT_TRUE(server.Start());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, ReadyEventName(tag).c_str());
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Ready once a live viewer announced itself.
  ASSERT_TRUE(WaitFor([&] { return NoticeLog::Get().Count(kNotifyViewerConnected, AddressParam(Loopback())) > 0; },
                      kProcessTimeoutMs));
  SetEvent(ready);
  WaitForSingleObject(never, kProcessTimeoutMs);
}

HANDLE StartServerProcess(uint16_t port, const std::wstring& tag) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(path) +
                         L"\" --gtest_also_run_disabled_tests --gtest_filter=RemoteServerProcess.DISABLED_Serve";
  const std::wstring value = std::to_wstring(port) + L" " + tag;
  SetEnvironmentVariableW(kServeVariable, value.c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  const BOOL made = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &startup, &info);
  SetEnvironmentVariableW(kServeVariable, nullptr);
  if (!made) return nullptr;
  CloseHandle(info.hThread);
  return info.hProcess;
}

TEST(RemoteEndToEnd, ViewerProcessGetsTheWriterRecordsOfTheServerProcessAndResumesWhenItIsKilled) {
  LoadGroupsOnce();
  ASSERT_TRUE(StartWinsock());
  NoticeLog::Get().Clear();
  const std::wstring serverTag = UniqueTag(L"psrv");
  const uint16_t port = FreePort();
  HANDLE server = StartServerProcess(port, serverTag);
  ASSERT_NE(nullptr, server);
  const std::wstring viewerTag = UniqueTag(L"pvwr");
  RunningCapture viewer(viewerTag, 0);
  ASSERT_TRUE(viewer.Start());
  // Connect once the server listens (its start takes a moment).
  HANDLE ready = nullptr;
  for (DWORD started = GetTickCount(); ready == nullptr && GetTickCount() - started < kProcessTimeoutMs;) {
    CSocketClient* client = CSocketClient::Connect(LoopbackAddress(port), kRemoteLiveViewer);
    ASSERT_NE(nullptr, client);
    const size_t before = NoticeLog::Get().Count(kNotifyRemoteConnectFailed, AddressParam(Loopback()));
    ASSERT_EQ(1, QueueCaptureItem(viewer.Thread(), NewCaptureItem(kCaptureItemAdoptSocket, client)));
    WaitFor([&] {
      return NoticeLog::Get().Count(kNotifyRemoteConnected, AddressParam(Loopback())) > 0 ||
             NoticeLog::Get().Count(kNotifyRemoteConnectFailed, AddressParam(Loopback())) > before;
    }, kNetTimeoutMs);
    if (NoticeLog::Get().Count(kNotifyRemoteConnected, AddressParam(Loopback())) > 0) {
      ready = OpenEventW(SYNCHRONIZE, FALSE, ReadyEventName(serverTag).c_str());
      for (DWORD waited = GetTickCount(); ready == nullptr && GetTickCount() - waited < kNetTimeoutMs;) {
        WaitFor([] { return false; }, 50);
        ready = OpenEventW(SYNCHRONIZE, FALSE, ReadyEventName(serverTag).c_str());
      }
    }
  }
  ASSERT_NE(nullptr, ready);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, kNetTimeoutMs));
  CloseHandle(ready);

  constexpr uint32_t kCount = 800;
  HANDLE writer = StartWriterProcess(L"--tag " + serverTag + L" --wait-event 10000 --id 1 --kind 0 --count " +
                                     std::to_wstring(kCount) + L" --rate 2000 --batch 16");
  ASSERT_NE(nullptr, writer);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writer, kProcessTimeoutMs));
  CloseHandle(writer);
  EXPECT_TRUE(WaitFor([&] { return ViewRecords(viewer.get()).size() >= kCount; }, kNetTimeoutMs));
  const auto records = ViewRecords(viewer.get());
  EXPECT_EQ(size_t(kCount), records.size());
  EXPECT_TRUE(HoldsAllInOrder(records, 1, 1, kCount));
  {
    const CStoreLock lock(viewer.get(), kLockShared);
    ASSERT_TRUE(lock.Held());
    CTraceView* view = viewer->m_views[0];
    for (size_t i = 0; i < view->RecordCount(); ++i) {
      EXPECT_EQ(kSourceWriterRing, view->RecordAt(i)->sourceType);
      EXPECT_EQ(kRecordLive, view->RecordAt(i)->flags & kRecordLive);
      EXPECT_EQ(0u, view->RecordAt(i)->sessionId);
    }
  }

  TerminateProcess(server, 9);
  WaitForSingleObject(server, kProcessTimeoutMs);
  CloseHandle(server);
  EXPECT_TRUE(WaitFor([&] { return NoticeLog::Get().Count(kNotifyPeerLost, AddressParam(Loopback())) == 1; },
                      kNetTimeoutMs));
  EXPECT_TRUE(WaitFor([&] { return viewer->RemoteViewerMode() == 0; }, kNetTimeoutMs));
  TestRing local(viewerTag, 2);
  ASSERT_TRUE(local.Ok());
  local.Append(2, 1, 10);
  local.Signal();
  EXPECT_TRUE(WaitFor([&] { return ViewRecords(viewer.get()).size() >= kCount + 10; }, kNetTimeoutMs));
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(viewer.get()), 2, 1, 10));
}

}  // namespace
