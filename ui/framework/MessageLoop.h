// The user-interface thread's message loop, with message filters (a look at
// each message before it is translated and dispatched) and idle handlers
// (called when the queue runs empty after a message that can change what
// the window shows).
#pragma once

#include <windows.h>

#include "core/Containers.h"

class CMessageFilter {
 public:
  // TRUE when the message was consumed: it is neither translated nor dispatched.
  virtual BOOL PreTranslateMessage(MSG* msg) = 0;

 protected:
  ~CMessageFilter() = default;
};

class CIdleHandler {
 public:
  virtual BOOL OnIdle() = 0;

 protected:
  ~CIdleHandler() = default;
};

// Filters and handlers are not owned; each removes itself before it dies.
// The first loop made on a thread is that thread's loop until it is destroyed.
class CMessageLoop {
 public:
  CMessageLoop();
  ~CMessageLoop();
  CMessageLoop(const CMessageLoop&) = delete;
  CMessageLoop& operator=(const CMessageLoop&) = delete;

  // The loop of the calling thread, null when it has none.
  static CMessageLoop* ForCurrentThread();

  // 0 when the array cannot grow; adding one that is there already is 1.
  BOOL AddMessageFilter(CMessageFilter* filter);
  BOOL RemoveMessageFilter(CMessageFilter* filter);
  BOOL AddIdleHandler(CIdleHandler* handler);
  BOOL RemoveIdleHandler(CIdleHandler* handler);

  // Runs until WM_QUIT and returns its exit code (-1 when GetMessage fails).
  int Run();

  // The filters, the one added last first, then the modeless dialogs; TRUE
  // as soon as one consumes the message.
  BOOL PreTranslateMessage(MSG* msg);
  // Every idle handler once, in the order they were added.
  void OnIdle();
  // Mouse moves, paints and the caret timer do not start a new idle period.
  static bool IsIdleMessage(const MSG& msg);

  // The registry of this thread's open modeless dialogs: each gets its keys
  // (tab, arrows, Enter, Escape, mnemonics) through IsDialogMessageW from
  // whatever loop runs on the thread, so no window keeps a list of them.
  // CModelessDialog<T> registers itself; other modeless windows (the common
  // find dialog) call these. Adding one twice is 1; 0 when the list cannot
  // grow or the handle is null.
  static BOOL AddModelessDialog(HWND dialog);
  static BOOL RemoveModelessDialog(HWND dialog);
  // TRUE when one of the registered dialogs took the message.
  static BOOL IsModelessDialogMessage(MSG* msg);

 private:
  CGrowArray<CMessageFilter*> m_filters;
  CGrowArray<CIdleHandler*> m_idleHandlers;
};
