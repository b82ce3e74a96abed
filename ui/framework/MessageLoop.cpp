#include "ui/framework/MessageLoop.h"

#include <cstdio>

namespace {

constexpr UINT kCaretBlinkTimerMessage = 0x0118;  // WM_SYSTIMER

CMessageLoop*& ThreadLoop() {
  thread_local CMessageLoop* loop = nullptr;
  return loop;
}

void ReportLoopException(const char* step) {
  char line[128];
  _snprintf(line, sizeof(line), "Orvan, CMessageLoop::Run, %s, exception", step);
  line[sizeof(line) - 1] = 0;
  OutputDebugStringA(line);
}

// Modeless dialogs of this thread; guarded by being thread-local.
CGrowArray<HWND>& ThreadDialogs() {
  thread_local CGrowArray<HWND> dialogs;
  return dialogs;
}

}  // namespace

BOOL CMessageLoop::AddModelessDialog(HWND dialog) { return dialog != nullptr && ThreadDialogs().AddUnique(dialog); }

BOOL CMessageLoop::RemoveModelessDialog(HWND dialog) { return ThreadDialogs().Remove(dialog) != nullptr; }

BOOL CMessageLoop::IsModelessDialogMessage(MSG* msg) {
  CGrowArray<HWND>& dialogs = ThreadDialogs();
  // Re-checked each step: a dialog may close while it handles a key.
  for (size_t i = 0; i < dialogs.count; ++i) {
    HWND dialog = dialogs.data[i];
    if (::IsWindow(dialog) && ::IsDialogMessageW(dialog, msg)) {
      return TRUE;
    }
  }
  return FALSE;
}

CMessageLoop::CMessageLoop() {
  if (ThreadLoop() == nullptr) {
    ThreadLoop() = this;
  }
}

CMessageLoop::~CMessageLoop() {
  if (ThreadLoop() == this) {
    ThreadLoop() = nullptr;
  }
}

CMessageLoop* CMessageLoop::ForCurrentThread() { return ThreadLoop(); }

BOOL CMessageLoop::AddMessageFilter(CMessageFilter* filter) {
  return filter != nullptr && m_filters.AddUnique(filter);
}

BOOL CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) { return m_filters.Remove(filter) != nullptr; }

BOOL CMessageLoop::AddIdleHandler(CIdleHandler* handler) {
  return handler != nullptr && m_idleHandlers.AddUnique(handler);
}

BOOL CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) { return m_idleHandlers.Remove(handler) != nullptr; }

BOOL CMessageLoop::PreTranslateMessage(MSG* msg) {
  // Counted down and re-checked each step: a filter may remove filters.
  for (size_t i = m_filters.count; i > 0; --i) {
    if (i > m_filters.count) {
      continue;
    }
    if (m_filters.data[i - 1]->PreTranslateMessage(msg)) {
      return TRUE;
    }
  }
  return IsModelessDialogMessage(msg);
}

void CMessageLoop::OnIdle() {
  for (size_t i = 0; i < m_idleHandlers.count; ++i) {
    m_idleHandlers.data[i]->OnIdle();
  }
}

bool CMessageLoop::IsIdleMessage(const MSG& msg) {
  return msg.message != WM_MOUSEMOVE && msg.message != WM_NCMOUSEMOVE && msg.message != WM_PAINT &&
         msg.message != kCaretBlinkTimerMessage;
}

int CMessageLoop::Run() {
  MSG msg = {};
  bool idlePeriod = true;
  for (;;) {
    if (idlePeriod && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      try {
        OnIdle();
      } catch (...) {
        ReportLoopException("OnIdle");
      }
      idlePeriod = false;
    }
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) {
      return -1;
    }
    if (got == 0) {
      return int(msg.wParam);
    }
    BOOL consumed = FALSE;
    try {
      consumed = PreTranslateMessage(&msg);
    } catch (...) {
      ReportLoopException("PreTranslateMessage");
    }
    if (!consumed) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (IsIdleMessage(msg)) {
      idlePeriod = true;
    }
  }
}
