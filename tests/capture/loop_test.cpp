// The capture loop itself: how it starts, tells its owner and ends.
#include <mutex>
#include <vector>

#include "jobs/Threads.h"
#include "tests/capture/CaptureFixture.h"

using namespace capture_test;

namespace {

constexpr DWORD kNoticeTimeoutMs = 10000;

DWORD WINAPI FailingWait(DWORD, const HANDLE*, BOOL, DWORD, BOOL) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

TEST(CaptureLoop, AFailedWaitEndsTheRunWithANoticeInsteadOfSpinning) {
  LoadGroupsOnce();
  NoticeLog::Get().Clear();
  CTraceCapture* capture = NewCapture(UniqueTag(L"wait"));
  ASSERT_EQ(1, capture->Init(0));
  capture->SetWaitFunction(&FailingWait);
  CThreadCapture thread(nullptr, capture);
  ASSERT_EQ(1, thread.Start());
  // The loop ends by itself: no stop request is needed.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.Handle(), kNoticeTimeoutMs));
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, kNoticeCaptureStarted));
  EXPECT_EQ(1u, NoticeLog::Get().Count(kNotifyNotice, kNoticeCaptureFailed));
  EXPECT_EQ(1, thread.Stop(kThreadStopTimeoutMs));
  EXPECT_EQ(0u, capture->WaitHandles().count) << "the inputs are closed";
  capture->Release();
}

TEST(CaptureLoop, WaitArrayHoldsTheChannelEventsThenTheTimer) {
  LoadGroupsOnce();
  CTraceCapture* capture = NewCapture(UniqueTag(L"array"));
  ASSERT_EQ(1, capture->Init(0));
  ASSERT_EQ(1, capture->OpenMapFiles(1));
  const CGrowArray<HANDLE>& handles = capture->WaitHandles();
  const bool global = capture->GlobalChannel(0).Event() != nullptr;
  ASSERT_EQ(size_t(kChannelKinds * (global ? 2 : 1) + 1), handles.count);
  size_t at = 0;
  for (int kind = 0; kind < kChannelKinds; ++kind) {
    EXPECT_EQ(capture->LocalChannel(kind).Event(), handles[at++]);
    if (global) {
      EXPECT_EQ(capture->GlobalChannel(kind).Event(), handles[at++]);
    }
  }
  // The last is the timer: it fires at once and then every second.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(handles[at], kNoticeTimeoutMs));
  capture->CloseMapFiles();
  EXPECT_EQ(0u, capture->WaitHandles().count);
  capture->Release();
}

// What the loop waited on: whether channel 0's event or its rest handle was
// in the array, and the time-out.
struct WaitSeen {
  bool event;
  bool rest;
  DWORD ms;
};
std::mutex g_waitsLock;
std::vector<WaitSeen> g_waits;
HANDLE g_watchedEvent = nullptr, g_watchedRest = nullptr;

DWORD WINAPI RecordingWait(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, BOOL alertable) {
  WaitSeen seen{false, false, ms};
  for (DWORD i = 0; i < count; ++i) {
    seen.event = seen.event || handles[i] == g_watchedEvent;
    seen.rest = seen.rest || handles[i] == g_watchedRest;
  }
  {
    std::lock_guard<std::mutex> guard(g_waitsLock);
    g_waits.push_back(seen);
  }
  return WaitForMultipleObjectsEx(count, handles, all, ms, alertable);
}

TEST(CaptureLoop, AChannelJustReadRestsOutOfTheWaitAndKeepsItsSignal) {
  LoadGroupsOnce();
  const std::wstring tag = UniqueTag(L"rest");
  TestRing ring(tag, 0);
  ASSERT_TRUE(ring.Ok());
  CTraceCapture* capture = NewCapture(tag);
  ASSERT_EQ(1, capture->Init(0));
  capture->SetWaitFunction(&RecordingWait);
  g_waits.clear();
  CThreadCapture thread(nullptr, capture);
  ASSERT_EQ(1, thread.Start());
  ASSERT_TRUE(WaitFor([&] { return capture->LocalChannel(0).RestHandle() != nullptr; }, kNoticeTimeoutMs));
  g_watchedEvent = capture->LocalChannel(0).Event();
  g_watchedRest = capture->LocalChannel(0).RestHandle();
  // Each batch is signalled at once, as writers do; the second comes while
  // the channel rests after reading the first.
  ring.Append(3, 1, 20);
  ring.Signal();
  ASSERT_TRUE(WaitFor([&] { return capture->StagedCount() + ViewRecords(capture).size() >= 20; }, kNoticeTimeoutMs));
  ring.Append(3, 21, 20);
  ring.Signal();
  ASSERT_TRUE(WaitFor([&] { return ViewRecords(capture).size() >= 40; }, kNoticeTimeoutMs));
  EXPECT_EQ(1, thread.Stop(kThreadStopTimeoutMs));
  EXPECT_TRUE(HoldsAllInOrder(ViewRecords(capture), 3, 1, 40));
  EXPECT_EQ(0u, capture->LostRecords());
  std::lock_guard<std::mutex> guard(g_waitsLock);
  bool rested = false, back = false;
  for (const WaitSeen& seen : g_waits) {
    EXPECT_FALSE(seen.event && seen.rest);
    if (seen.rest) {
      rested = true;
      EXPECT_LE(seen.ms, kEventImportIntervalMs);
    } else if (rested && seen.event) {
      back = true;
    }
  }
  EXPECT_TRUE(rested);
  EXPECT_TRUE(back);
  capture->Release();
}

// A hidden window as the owner: the notices arrive as ThreadsNotify posts.
TEST(CaptureLoop, NoticesReachAHiddenOwnerWindow) {
  LoadGroupsOnce();
  HWND window = CreateWindowExW(0, L"STATIC", L"owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  auto* capture = new CTraceCapture(window);
  capture->SetRingLimits(4u << 20, 1u << 20, 0);
  capture->SetChannelTag(UniqueTag(L"hidden").c_str());
  ASSERT_EQ(1, capture->Init(0));
  CThreadCapture thread(nullptr, capture);
  ASSERT_EQ(1, thread.Start());
  bool started = false;
  const DWORD begin = GetTickCount();
  while (!started && GetTickCount() - begin < kNoticeTimeoutMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
      if (message.message == ThreadsNotify && message.wParam == kNotifyNotice &&
          message.lParam == kNoticeCaptureStarted) {
        started = true;
      }
    }
  }
  EXPECT_TRUE(started);
  EXPECT_EQ(1, thread.Stop(kThreadStopTimeoutMs));
  capture->Release();
  DestroyWindow(window);
}

}  // namespace
