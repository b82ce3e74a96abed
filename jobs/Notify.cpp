#include "jobs/Notify.h"

#include <new>

#include "net/EventSocket.h"

namespace {

// The capture that takes control items arriving on this thread. Only the
// capture thread ever binds one, so an item queued to any other thread, or
// arriving after the capture loop ended, finds none and is discarded.
thread_local ICaptureControl* t_captureItemTarget = nullptr;

}  // namespace

int PostStatus(HWND owner, uint32_t code, LPARAM value) {
  return PostMessageRetry(owner, ThreadsNotify, code, value);
}

int PostStatus(HWND owner, uint32_t code, LPARAM value, PostMessageFn post, SleepFn sleep) {
  return PostMessageRetry(owner, ThreadsNotify, code, value, post, sleep);
}

CaptureControlItem* NewCaptureItem(uint32_t kind, CSocketClient* socket) {
  CaptureControlItem* item = new (std::nothrow) CaptureControlItem;
  if (!item) return nullptr;
  item->kind = kind;
  item->socket = socket;
  return item;
}

void FreeCaptureItem(CaptureControlItem* item) { delete item; }

void DiscardCaptureItem(CaptureControlItem* item) {
  if (!item) return;
  if (item->kind == kCaptureItemAdoptSocket) delete item->socket;
  FreeCaptureItem(item);
}

CCaptureItemScope::CCaptureItemScope(ICaptureControl* capture) : m_previous(t_captureItemTarget) {
  t_captureItemTarget = capture;
}

CCaptureItemScope::~CCaptureItemScope() { t_captureItemTarget = m_previous; }

int QueueCaptureItem(HANDLE captureThread, CaptureControlItem* item) {
  if (!captureThread || !item) return 0;
  return QueueUserAPC(CaptureItemApc, captureThread, reinterpret_cast<ULONG_PTR>(item)) ? 1 : 0;
}

void CALLBACK CaptureItemApc(ULONG_PTR param) {
  CaptureControlItem* item = reinterpret_cast<CaptureControlItem*>(param);
  if (!item) return;
  if (t_captureItemTarget) {
    t_captureItemTarget->OnControl(item);
  } else {
    DiscardCaptureItem(item);
  }
}

int SetTracerProp(HWND owner, HWND shell, int flag) {
  const HWND desktop = GetDesktopWindow();
  if (desktop) RemovePropW(desktop, kTracerPropName);
  if (shell) RemovePropW(shell, kTracerPropName);
  if (!flag) return 1;
  if (!owner) return 0;
  if (desktop && SetPropW(desktop, kTracerPropName, owner)) return 1;
  return shell && SetPropW(shell, kTracerPropName, owner) ? 1 : 0;
}
