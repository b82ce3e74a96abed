// The bookkeeping that every window, dialog and hook procedure of the
// framework keeps around its message map: the message being handled (for
// DefWindowProc() and GetCurrentMessage()), how deeply the window's messages
// nest, and whether the window is gone, so that OnFinalMessage runs once the
// outermost of its messages has returned and never under a handler that is
// still running.
#pragma once

#include <windows.h>

class CDispatchState {
 public:
  // The message being handled, null outside a handler.
  const MSG* Current() const { return m_current; }
  // True from the window's WM_NCDESTROY until the final message has run.
  bool WindowGone() const { return m_finalPending; }
  // Called at WM_NCDESTROY.
  void MarkWindowGone() { m_finalPending = true; }

  // Runs `body` (which returns the procedure's result) with this message as
  // the current one. When the window is gone and this was the outermost
  // message, `onFinal(hwnd)` runs last; it may delete the object that holds
  // this state, so nothing of it is touched afterwards.
  template <class Body, class Final>
  auto Run(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, Body&& body, Final&& onFinal) {
    MSG current = {};
    current.hwnd = hwnd;
    current.message = msg;
    current.wParam = wParam;
    current.lParam = lParam;
    const MSG* const outer = m_current;
    m_current = &current;
    ++m_depth;
    auto result = body();
    m_current = outer;
    --m_depth;
    if (m_depth == 0 && m_finalPending) {
      m_finalPending = false;
      onFinal(hwnd);
    }
    return result;
  }

 private:
  const MSG* m_current = nullptr;
  int m_depth = 0;
  bool m_finalPending = false;
};
