// Window classes with a C++ object per window.
//
// CWindowImpl<T, TBase> creates a window of T's own class (registered on
// first use, optionally a superclass of a system class); the object is bound
// to its window at WM_NCCREATE. SubclassWindow binds an object to a window
// that exists already and puts its procedure in front of the window's one.
// Either way the object sits in the window's GWLP_USERDATA, which the
// framework therefore owns for its windows; messages its map leaves go to the
// previous procedure (the base class's, the replaced one, or DefWindowProcW).
//
// OnFinalMessage runs once the window is gone: after WM_NCDESTROY, and only
// when the outermost message of the window being handled has returned, so a
// handler that destroys its own window never returns into a deleted object.
#pragma once

#include <windows.h>

#include "ui/framework/Dispatch.h"
#include "ui/framework/MessageMap.h"
#include "ui/framework/Window.h"

// The registration record of one window class.
struct CWndClassInfo {
  const wchar_t* className;       // null: a unique name made by the framework
  const wchar_t* superClassName;  // null: a class of our own over DefWindowProcW
  UINT style;                     // class style (own classes only)
  int background;                 // COLOR_* + 1, 0 for none (own classes only)
  const wchar_t* cursor;          // system cursor id, null for none (own classes only)
  UINT resourceId;                // icon of the class; frames also take title, menu and accelerators from it
  ATOM atom = 0;
  WNDPROC superProc = nullptr;    // the procedure behind ours, set by Register
  wchar_t generatedName[32] = {};

  // Registers the class once with `startProc` as its procedure. Returns the
  // atom, 0 when the superclass does not exist or registration fails.
  ATOM Register(WNDPROC startProc);
  // Unregisters the class once no window of it is left, so that a later
  // Register makes it afresh. False while windows of it exist.
  bool Unregister();
  const wchar_t* Name() const { return className != nullptr ? className : generatedName; }
};

#define DECLARE_WND_CLASS_EX(name, classStyle, backgroundColor)                                  \
  static CWndClassInfo& GetWndClassInfo() {                                                      \
    static CWndClassInfo info = {name, nullptr, classStyle, backgroundColor, IDC_ARROW, 0};      \
    return info;                                                                                 \
  }

#define DECLARE_WND_CLASS(name) DECLARE_WND_CLASS_EX(name, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS, COLOR_WINDOW + 1)

// A class that takes the procedure and class data of `baseName` ("EDIT",
// "SysListView32", ...) and puts the object's map in front of them.
#define DECLARE_WND_SUPERCLASS(name, baseName)                        \
  static CWndClassInfo& GetWndClassInfo() {                           \
    static CWndClassInfo info = {name, baseName, 0, 0, nullptr, 0};   \
    return info;                                                      \
  }

namespace ktui {
// The object whose window this thread is creating right now (null when none).
void*& PendingWindowObject();
// Window property that keeps a subclassed window's previous procedure, so the
// window still works when its object goes away before it.
const wchar_t* PreviousProcProperty();
}  // namespace ktui

template <class T, class TBase>
class CWindowImpl;

template <class TBase = CWindow>
class CWindowImplBaseT : public TBase, public CMessageMap {
  template <class, class>
  friend class CWindowImpl;  // binds the windows it creates

 public:
  CWindowImplBaseT() = default;
  CWindowImplBaseT(const CWindowImplBaseT&) = delete;
  CWindowImplBaseT& operator=(const CWindowImplBaseT&) = delete;
  // An object that dies before its window lets go of it; the window then
  // runs on its previous procedure.
  virtual ~CWindowImplBaseT() { ReleaseWindow(); }

  virtual void OnFinalMessage(HWND hwnd) { (void)hwnd; }

  // Binds this object to `hwnd` (a window of this thread not bound to any
  // object yet). Returns FALSE when that does not hold or the procedure
  // cannot be replaced.
  BOOL SubclassWindow(HWND hwnd);
  // Puts the previous procedure back. Returns the window, or null when this
  // object subclassed nothing or another procedure has been put in front of
  // ours since (removing ours would cut that one off).
  HWND UnsubclassWindow();

  // The previous procedure, for handlers that want the default behaviour
  // before or after their own.
  LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(m_superProc, this->m_hWnd, msg, wParam, lParam);
  }
  LRESULT DefWindowProc() {
    const MSG* msg = m_dispatch.Current();
    return msg != nullptr ? ::CallWindowProcW(m_superProc, msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
  }
  // The message being handled (null outside a handler).
  const MSG* GetCurrentMessage() const { return m_dispatch.Current(); }

 protected:
  using Self = CWindowImplBaseT<TBase>;

  static Self* FromHandle(HWND hwnd) { return reinterpret_cast<Self*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

  void BindCreated(HWND hwnd, WNDPROC superProc) {
    this->m_hWnd = hwnd;
    m_superProc = superProc;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(static_cast<Self*>(this)));
  }

  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Self* self = FromHandle(hwnd);
    if (self != nullptr) {
      return self->Dispatch(hwnd, msg, wParam, lParam);
    }
    auto previous = reinterpret_cast<WNDPROC>(::GetPropW(hwnd, ktui::PreviousProcProperty()));
    if (msg == WM_NCDESTROY) {
      ::RemovePropW(hwnd, ktui::PreviousProcProperty());
    }
    return previous != nullptr ? ::CallWindowProcW(previous, hwnd, msg, wParam, lParam)
                               : ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  LRESULT Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  WNDPROC m_superProc = ::DefWindowProcW;
  CDispatchState m_dispatch;
  bool m_subclassed = false;

 private:
  void DetachDestroyed(HWND hwnd);
  void ReleaseWindow();
};

template <class TBase>
BOOL CWindowImplBaseT<TBase>::SubclassWindow(HWND hwnd) {
  if (this->m_hWnd != nullptr || !::IsWindow(hwnd) ||
      ::GetWindowThreadProcessId(hwnd, nullptr) != ::GetCurrentThreadId() ||
      ::GetWindowLongPtrW(hwnd, GWLP_USERDATA) != 0) {
    return FALSE;
  }
  auto previous = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
  if (previous == nullptr || !::SetPropW(hwnd, ktui::PreviousProcProperty(), reinterpret_cast<HANDLE>(previous))) {
    return FALSE;
  }
  m_superProc = previous;
  this->m_hWnd = hwnd;
  m_subclassed = true;
  ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(static_cast<Self*>(this)));
  if (::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)) == 0) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    ::RemovePropW(hwnd, ktui::PreviousProcProperty());
    this->m_hWnd = nullptr;
    m_subclassed = false;
    m_superProc = ::DefWindowProcW;
    return FALSE;
  }
  return TRUE;
}

template <class TBase>
HWND CWindowImplBaseT<TBase>::UnsubclassWindow() {
  HWND hwnd = this->m_hWnd;
  if (!m_subclassed || hwnd == nullptr ||
      ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&SubclassProc)) {
    return nullptr;
  }
  ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
  ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  ::RemovePropW(hwnd, ktui::PreviousProcProperty());
  m_subclassed = false;
  this->m_hWnd = nullptr;
  return hwnd;  // m_superProc stays: a handler further up the stack may still call it
}

template <class TBase>
LRESULT CWindowImplBaseT<TBase>::Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return m_dispatch.Run(
      hwnd, msg, wParam, lParam,
      [&]() -> LRESULT {
        LRESULT result = 0;
        const BOOL handled = this->ProcessWindowMessage(hwnd, msg, wParam, lParam, result, 0);
        const WNDPROC previous = m_superProc;
        if (msg == WM_NCDESTROY) {
          // The previous procedure always sees WM_NCDESTROY: controls free their data there.
          DetachDestroyed(hwnd);
          result = ::CallWindowProcW(previous, hwnd, msg, wParam, lParam);
        } else if (!handled && !m_dispatch.WindowGone()) {
          result = ::CallWindowProcW(previous, hwnd, msg, wParam, lParam);
        }
        return result;
      },
      [this](HWND gone) { this->OnFinalMessage(gone); });
}

template <class TBase>
void CWindowImplBaseT<TBase>::DetachDestroyed(HWND hwnd) {
  if (m_subclassed && ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&SubclassProc)) {
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
  }
  if (m_subclassed) {
    ::RemovePropW(hwnd, ktui::PreviousProcProperty());
  }
  ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  m_subclassed = false;
  this->m_hWnd = nullptr;
  m_dispatch.MarkWindowGone();
}

template <class TBase>
void CWindowImplBaseT<TBase>::ReleaseWindow() {
  HWND hwnd = this->m_hWnd;
  if (hwnd == nullptr || !::IsWindow(hwnd) || FromHandle(hwnd) != static_cast<Self*>(this)) {
    return;
  }
  if (m_subclassed && ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&SubclassProc)) {
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
    ::RemovePropW(hwnd, ktui::PreviousProcProperty());
  }
  ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  this->m_hWnd = nullptr;
}

// A window of T's own class. T may declare its class with DECLARE_WND_CLASS*
// or DECLARE_WND_SUPERCLASS and its default styles with GetDefaultStyle /
// GetDefaultExStyle.
template <class T, class TBase = CWindow>
class CWindowImpl : public CWindowImplBaseT<TBase> {
  using Base = CWindowImplBaseT<TBase>;

 public:
  DECLARE_WND_CLASS(nullptr)

  // The custom controls' style when the caller gives none.
  static DWORD GetDefaultStyle() { return WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN; }
  static DWORD GetDefaultExStyle() { return 0; }

  // Creates the window; style and extended style 0 take T's defaults. A null
  // rectangle means the system's default place for top-level windows and an
  // empty one for children. Returns the window, null when the class cannot
  // be registered, this object has a window already, or creation fails.
  HWND Create(HWND parent, const RECT* rect = nullptr, const wchar_t* name = nullptr, DWORD style = 0,
              DWORD exStyle = 0, UINT_PTR menuOrId = 0) {
    if (this->m_hWnd != nullptr) {
      return nullptr;
    }
    CWndClassInfo& info = T::GetWndClassInfo();
    if (info.Register(&StartWindowProc) == 0) {
      return nullptr;
    }
    if (style == 0) {
      style = T::GetDefaultStyle();
    }
    if (exStyle == 0) {
      exStyle = T::GetDefaultExStyle();
    }
    int x = 0, y = 0, cx = 0, cy = 0;
    if (rect != nullptr) {
      x = rect->left;
      y = rect->top;
      cx = rect->right - rect->left;
      cy = rect->bottom - rect->top;
    } else if ((style & WS_CHILD) == 0) {
      x = y = cx = cy = CW_USEDEFAULT;
    }
    void*& pending = ktui::PendingWindowObject();
    void* const outer = pending;
    Base* self = static_cast<Base*>(this);
    pending = self;
    HWND hwnd = ::CreateWindowExW(exStyle, MAKEINTATOM(info.atom), name, style, x, y, cx, cy, parent,
                                  reinterpret_cast<HMENU>(menuOrId), ::GetModuleHandleW(nullptr), self);
    pending = outer;
    return hwnd;
  }

 protected:
  static LRESULT CALLBACK StartWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Base* self = Base::FromHandle(hwnd);
    if (self == nullptr && msg == WM_NCCREATE) {
      void*& pending = ktui::PendingWindowObject();
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      if (pending != nullptr && create != nullptr && create->lpCreateParams == pending) {
        self = static_cast<Base*>(pending);
        pending = nullptr;
        self->BindCreated(hwnd, T::GetWndClassInfo().superProc);
      }
    }
    if (self != nullptr) {
      return self->Dispatch(hwnd, msg, wParam, lParam);
    }
    return ::CallWindowProcW(T::GetWndClassInfo().superProc, hwnd, msg, wParam, lParam);
  }
};
