#include "jobs/Notify.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <thread>
#include <vector>

#include "jobs/Threads.h"
#include "res/resource.h"

namespace {

// --- Posting over a seam ----------------------------------------------------

struct PostCall {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// The seam functions are plain function pointers, so their state is here.
int g_refusals = 0;
std::vector<PostCall> g_posts;
std::vector<DWORD> g_sleeps;

BOOL WINAPI RefusingPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_posts.push_back({window, message, wParam, lParam});
  if (g_refusals > 0) {
    --g_refusals;
    return FALSE;
  }
  return TRUE;
}

void WINAPI RecordSleep(DWORD ms) { g_sleeps.push_back(ms); }

TEST(PostStatus, RetriesThreeTimesWithGrowingWaits) {
  struct Case {
    int refusals;
    int result;
    std::vector<DWORD> sleeps;
  };
  const Case cases[] = {
      {0, 1, {}},
      {1, 1, {0}},
      {2, 1, {0, 25}},
      {3, 0, {0, 25, 50}},
      {4, 0, {0, 25, 50}},
  };
  const HWND owner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x1234));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refusals);
    g_refusals = c.refusals;
    g_posts.clear();
    g_sleeps.clear();
    EXPECT_EQ(PostStatus(owner, kNotifyNotice, kNoticeOldestDropped, RefusingPost, RecordSleep), c.result);
    EXPECT_EQ(g_sleeps, c.sleeps);
    ASSERT_EQ(g_posts.size(), std::min<size_t>(c.refusals + 1, 3));
    for (const PostCall& post : g_posts) {
      EXPECT_EQ(post.window, owner);
      EXPECT_EQ(post.message, static_cast<UINT>(WM_APP));
      EXPECT_EQ(post.wParam, 0u);
      EXPECT_EQ(post.lParam, 1);
    }
  }
}

TEST(PostStatus, NullOwnerPostsNothing) {
  g_refusals = 0;
  g_posts.clear();
  g_sleeps.clear();
  EXPECT_EQ(PostStatus(nullptr, kNotifyNotice, kNoticeCaptureStarted, RefusingPost, RecordSleep), 0);
  EXPECT_TRUE(g_posts.empty());
  EXPECT_TRUE(g_sleeps.empty());
  EXPECT_EQ(PostStatus(nullptr, kNotifyNotice, kNoticeCaptureStarted), 0);
}

// --- A real window ------------------------------------------------------------

// A hidden message-only window of the calling thread.
class MessageWindow {
 public:
  MessageWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);  // already registered by an earlier instance is fine
    m_window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  ~MessageWindow() {
    if (m_window) DestroyWindow(m_window);
  }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  HWND get() const { return m_window; }

 private:
  static constexpr wchar_t kClassName[] = L"KtNotifyTestWindow";
  HWND m_window = nullptr;
};

TEST(PostStatus, ReachesTheOwnerWindowFromAnotherThread) {
  const MessageWindow owner;
  ASSERT_NE(owner.get(), nullptr);
  int job = 0;
  const struct {
    uint32_t code;
    LPARAM value;
  } posts[] = {
      {kNotifyNotice, kNoticeCaptureStarted},
      {kNotifyNotice, kNoticeOldestDropped},
      {kNotifyNotice, IDS_START_CAPTURE_FAILED},
      {kNotifyNotice, IDS_LISTEN_LOST},
      {kNotifyJobStarted, reinterpret_cast<LPARAM>(&job)},
      {kNotifyJobFinished, reinterpret_cast<LPARAM>(&job)},
      {kNotifyViewerConnected, AddressParam(0x0100007F)},
      {kNotifyPeerLost, AddressParam(0x0100007F)},
      {kNotifyRemoteConnected, AddressParam(0xFE01A8C0)},
      {kNotifyRemoteConnectFailed, AddressParam(kNoRemoteAddress)},
  };
  std::vector<int> results;
  std::thread poster([&] {
    for (const auto& post : posts) results.push_back(PostStatus(owner.get(), post.code, post.value));
  });
  poster.join();
  EXPECT_EQ(results, std::vector<int>(std::size(posts), 1));

  MSG msg;
  for (const auto& post : posts) {
    ASSERT_TRUE(PeekMessageW(&msg, owner.get(), ThreadsNotify, ThreadsNotify, PM_REMOVE));
    EXPECT_EQ(msg.wParam, post.code);
    EXPECT_EQ(msg.lParam, post.value);
  }
  EXPECT_FALSE(PeekMessageW(&msg, owner.get(), ThreadsNotify, ThreadsNotify, PM_REMOVE));
}

TEST(PostStatus, AddressesTravelZeroExtended) {
  EXPECT_EQ(AddressParam(kNoRemoteAddress), static_cast<LPARAM>(0xFFFFFFFFull));
  EXPECT_EQ(AddressFromParam(AddressParam(kNoRemoteAddress)), kNoRemoteAddress);
  EXPECT_EQ(AddressFromParam(AddressParam(0x80000001u)), 0x80000001u);
}

TEST(PostStatus, ADestroyedWindowGetsNothingAndNothingFails) {
  HWND gone;
  {
    const MessageWindow owner;
    ASSERT_NE(owner.get(), nullptr);
    gone = owner.get();
  }
  EXPECT_EQ(PostStatus(gone, kNotifyNotice, kNoticeCaptureStarted), 0);
}

// --- Control items ------------------------------------------------------------

// A capture whose loop waits alertably, as the real one does, and which
// records each control item it is handed.
class RecordingCapture : public ICaptureStore {
 public:
  explicit RecordingCapture(HANDLE holdLoop = nullptr) : m_holdLoop(holdLoop) {
    m_started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_received = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_idle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~RecordingCapture() {
    CloseHandle(m_started);
    CloseHandle(m_received);
    CloseHandle(m_idle);
  }

  struct Seen {
    uint32_t kind;
    CSocketClient* socket;
    DWORD thread;
    bool operator==(const Seen&) const = default;
  };

  void CaptureLoop() override {
    m_run = 1;
    SetEvent(m_started);
    // A held loop ends without another alertable wait, like a loop whose
    // inputs failed while items were on their way.
    if (m_holdLoop) {
      WaitForSingleObject(m_holdLoop, INFINITE);
      return;
    }
    while (m_run) WaitForSingleObjectEx(m_idle, INFINITE, TRUE);
  }
  void ClearRunFlag() override { m_run = 0; }
  void OnControl(CaptureControlItem* item) override {
    seen.push_back({item->kind, item->socket, GetCurrentThreadId()});
    FreeCaptureItem(item);
    if (seen.size() == expected) SetEvent(m_received);
  }

  bool WaitStarted() const { return WaitForSingleObject(m_started, 10000) == WAIT_OBJECT_0; }
  bool WaitReceived() const { return WaitForSingleObject(m_received, 10000) == WAIT_OBJECT_0; }

  std::vector<Seen> seen;  // written on the capture thread only
  size_t expected = 0;

 private:
  HANDLE m_holdLoop;
  HANDLE m_started;
  HANDLE m_received;
  HANDLE m_idle;
  volatile LONG m_run = 0;
};

CSocketClient* FakeSocket(ULONG_PTR value) { return reinterpret_cast<CSocketClient*>(value); }

TEST(CaptureItems, RunOnTheCaptureThreadInQueueOrder) {
  RecordingCapture capture;
  capture.expected = 3;
  CThreadCapture thread(nullptr, &capture);
  ASSERT_EQ(thread.Start(), 1);
  const DWORD captureThread = GetThreadId(thread.Handle());
  ASSERT_TRUE(capture.WaitStarted());

  // The socket is only carried, never touched, on this road.
  CaptureControlItem* items[] = {NewCaptureItem(kCaptureItemAdoptSocket, FakeSocket(0x5000)),
                                 NewCaptureItem(kCaptureItemLeaveRemote, nullptr), NewCaptureItem(7, nullptr)};
  for (CaptureControlItem* item : items) {
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(QueueCaptureItem(thread.Handle(), item), 1);
  }
  ASSERT_TRUE(capture.WaitReceived());
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(capture.seen, (std::vector<RecordingCapture::Seen>{{0, FakeSocket(0x5000), captureThread},
                                                                {1, nullptr, captureThread},
                                                                {7, nullptr, captureThread}}));
}

TEST(CaptureItems, ItemsArrivingAfterTheLoopEndedAreNotHandled) {
  const HANDLE hold = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  RecordingCapture capture(hold);
  CThreadCapture thread(nullptr, &capture);
  ASSERT_EQ(thread.Start(), 1);
  ASSERT_TRUE(capture.WaitStarted());
  EXPECT_EQ(QueueCaptureItem(thread.Handle(), NewCaptureItem(kCaptureItemLeaveRemote, nullptr)), 1);
  EXPECT_EQ(QueueCaptureItem(thread.Handle(), NewCaptureItem(kCaptureItemAdoptSocket, nullptr)), 1);
  SetEvent(hold);
  // The thread ends by itself, having discarded both items on its way out.
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_TRUE(capture.seen.empty());
  CloseHandle(hold);
}

// A plain thread that waits alertably once; no capture is bound to it.
class AlertableOnce : public CThreadBase {
 public:
  AlertableOnce() : m_entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~AlertableOnce() override {
    Stop(kThreadStopTimeoutMs);
    CloseHandle(m_entered);
  }
  bool WaitEntered() const { return WaitForSingleObject(m_entered, 10000) == WAIT_OBJECT_0; }
  DWORD result = 0;

 protected:
  uint32_t Run() override {
    SetEvent(m_entered);
    result = SleepEx(INFINITE, TRUE);
    return 0;
  }
  void RequestStop() override {}

 private:
  HANDLE m_entered;
};

TEST(CaptureItems, AnItemOnAThreadWithoutCaptureIsDiscarded) {
  RecordingCapture unbound;
  AlertableOnce thread;
  ASSERT_EQ(thread.Start(), 1);
  ASSERT_TRUE(thread.WaitEntered());
  EXPECT_EQ(QueueCaptureItem(thread.Handle(), NewCaptureItem(kCaptureItemLeaveRemote, nullptr)), 1);
  EXPECT_EQ(thread.Stop(kThreadStopTimeoutMs), 1);
  EXPECT_EQ(thread.result, static_cast<DWORD>(WAIT_IO_COMPLETION));
  EXPECT_TRUE(unbound.seen.empty());
}

TEST(CaptureItems, QueueingWithoutThreadOrItemFailsAndKeepsTheItem) {
  CaptureControlItem* item = NewCaptureItem(kCaptureItemLeaveRemote, nullptr);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(QueueCaptureItem(nullptr, item), 0);
  EXPECT_EQ(item->kind, static_cast<uint32_t>(kCaptureItemLeaveRemote));
  DiscardCaptureItem(item);
  EXPECT_EQ(QueueCaptureItem(GetCurrentThread(), nullptr), 0);
}

// --- The tracer property --------------------------------------------------------

// Puts back whatever the desktop window's property held before the test.
class TracerPropGuard {
 public:
  TracerPropGuard() : m_saved(GetPropW(GetDesktopWindow(), kTracerPropName)) {}
  ~TracerPropGuard() {
    if (m_saved) {
      SetPropW(GetDesktopWindow(), kTracerPropName, m_saved);
    } else {
      RemovePropW(GetDesktopWindow(), kTracerPropName);
    }
  }
  TracerPropGuard(const TracerPropGuard&) = delete;
  TracerPropGuard& operator=(const TracerPropGuard&) = delete;

 private:
  HANDLE m_saved;
};

TEST(TracerProp, SetAndClearedOnTheDesktopWindow) {
  const TracerPropGuard guard;
  const MessageWindow owner;
  ASSERT_NE(owner.get(), nullptr);
  ASSERT_NE(GetDesktopWindow(), nullptr);

  EXPECT_EQ(SetTracerProp(owner.get(), nullptr, 1), 1);
  EXPECT_EQ(GetPropW(GetDesktopWindow(), L"HVNTracer"), owner.get());
  EXPECT_EQ(SetTracerProp(owner.get(), nullptr, 0), 1);
  EXPECT_EQ(GetPropW(GetDesktopWindow(), L"HVNTracer"), nullptr);
}

TEST(TracerProp, ShellWindowLosesAStaleValueAndIsNotSetWhileTheDesktopTakesIt) {
  const TracerPropGuard guard;
  const MessageWindow owner, shell, stale;
  ASSERT_NE(shell.get(), nullptr);
  ASSERT_TRUE(SetPropW(shell.get(), kTracerPropName, stale.get()));
  ASSERT_TRUE(SetPropW(GetDesktopWindow(), kTracerPropName, stale.get()));

  EXPECT_EQ(SetTracerProp(owner.get(), shell.get(), 1), 1);
  EXPECT_EQ(GetPropW(GetDesktopWindow(), kTracerPropName), owner.get());
  EXPECT_EQ(GetPropW(shell.get(), kTracerPropName), nullptr);

  ASSERT_TRUE(SetPropW(shell.get(), kTracerPropName, owner.get()));
  EXPECT_EQ(SetTracerProp(owner.get(), shell.get(), 0), 1);
  EXPECT_EQ(GetPropW(GetDesktopWindow(), kTracerPropName), nullptr);
  EXPECT_EQ(GetPropW(shell.get(), kTracerPropName), nullptr);
}

TEST(TracerProp, SettingWithoutOwnerFailsAndLeavesNoProperty) {
  const TracerPropGuard guard;
  ASSERT_TRUE(SetPropW(GetDesktopWindow(), kTracerPropName, GetDesktopWindow()));
  EXPECT_EQ(SetTracerProp(nullptr, nullptr, 1), 0);
  EXPECT_EQ(GetPropW(GetDesktopWindow(), kTracerPropName), nullptr);
}

}  // namespace
