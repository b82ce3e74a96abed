// What the capture thread and the job workers tell the window that owns the
// capture, and what the user-interface thread hands to the capture thread.
// Threads other than the user-interface thread never touch a window: they
// post ThreadsNotify and the window acts on it. New records are never
// announced here; the window's timer reads the stores' new-data flags.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/SysUtil.h"

class CSocketClient;

// The one message of the other threads to the capture's owner window:
// the code in wParam, a value in lParam.
constexpr UINT ThreadsNotify = WM_APP;

// wParam codes of ThreadsNotify.
enum ThreadsNotifyCode : uint32_t {
  kNotifyNotice = 0,             // lParam: a NoticeValue or a string-table id
  kNotifyJobStarted = 10,        // lParam: the job
  kNotifyJobFinished = 11,       // lParam: the job, now owned by the window
  kNotifyViewerConnected = 20,   // lParam: the viewer's IPv4 address
  kNotifyPeerLost = 21,          // lParam: the peer's IPv4 address
  kNotifyRemoteConnected = 22,   // lParam: the remote server's IPv4 address
  kNotifyRemoteConnectFailed = 23,  // lParam: its address, or kNoRemoteAddress
};

// lParam of kNotifyNotice other than string-table ids of warnings and errors.
enum NoticeValue : uint32_t {
  kNoticeCaptureStarted = 0,
  kNoticeOldestDropped = 1,
};

// Address of kNotifyRemoteConnectFailed when a reconnect failed and no
// server address is at hand.
constexpr uint32_t kNoRemoteAddress = 0xFFFFFFFF;

// IPv4 addresses (network byte order) travel zero-extended, so that the
// window reads 0xFFFFFFFF back and not a sign-extended -1.
inline LPARAM AddressParam(uint32_t address) { return static_cast<LPARAM>(static_cast<ULONG_PTR>(address)); }
inline uint32_t AddressFromParam(LPARAM value) { return static_cast<uint32_t>(static_cast<ULONG_PTR>(value)); }

// Posts ThreadsNotify with the code and value to the owner window, three
// attempts in all. 1 when posted; 0 for a null window or three refusals, and
// the notice is then lost: nothing waits for the window.
int PostStatus(HWND owner, uint32_t code, LPARAM value);
// The same over given post and sleep functions.
int PostStatus(HWND owner, uint32_t code, LPARAM value, PostMessageFn post, SleepFn sleep);

// Kinds of control items for the capture thread.
enum CaptureItemKind : uint32_t {
  kCaptureItemAdoptSocket = 0,  // socket: a connected client to a remote server
  kCaptureItemLeaveRemote = 1,  // socket unused
};

// A control item: allocated by the sender, owned by the receiver once queued.
struct CaptureControlItem {
  uint32_t kind;
  CSocketClient* socket;
};

// A new item, or null when memory is short.
CaptureControlItem* NewCaptureItem(uint32_t kind, CSocketClient* socket);
// Frees the record only; for the receiver after it handled the item.
void FreeCaptureItem(CaptureControlItem* item);
// Frees an item nobody handled, with the socket it carries: a connected
// socket that no capture adopted would otherwise stay open for good.
void DiscardCaptureItem(CaptureControlItem* item);

// The capture store's side of control items (CTraceCapture::OnControl).
// It runs on the capture thread, between two waits of the capture loop, and
// frees the item when done.
class ICaptureControl {
 public:
  virtual void OnControl(CaptureControlItem* item) = 0;

 protected:
  ~ICaptureControl() = default;
};

// Binds a capture to the calling thread for as long as the scope lives:
// items arriving on this thread go to it. The capture thread opens one
// around its capture loop; items arriving outside it are discarded.
class CCaptureItemScope {
 public:
  explicit CCaptureItemScope(ICaptureControl* capture);
  ~CCaptureItemScope();
  CCaptureItemScope(const CCaptureItemScope&) = delete;
  CCaptureItemScope& operator=(const CCaptureItemScope&) = delete;

 private:
  ICaptureControl* m_previous;
};

// Queues CaptureItemApc with the item to the capture thread. 1 when queued
// (the thread owns the item from then on); 0 for a null thread or a failed
// queue, and the caller keeps the item.
int QueueCaptureItem(HANDLE captureThread, CaptureControlItem* item);

// Runs on the capture thread inside an alertable wait: hands the item to the
// capture bound to this thread, or discards it when there is none.
void CALLBACK CaptureItemApc(ULONG_PTR item);

// Name of the desktop window's property that names the capturing window.
constexpr wchar_t kTracerPropName[] = L"HVNTracer";

// Removes the property from the desktop window and, when given, the shell
// window; with a flag other than 0 then sets it on the desktop window to the
// owner, or on the shell window when the desktop refuses. 1 when the
// property ended as asked; 0 when it could not be set anywhere.
int SetTracerProp(HWND owner, HWND shell, int flag);
