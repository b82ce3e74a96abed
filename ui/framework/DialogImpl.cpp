#include "ui/framework/DialogImpl.h"

namespace {

// Messages whose dialog-procedure return value is the result itself.
bool ReturnsResultDirectly(UINT msg) {
  switch (msg) {
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return true;
    default:
      return false;
  }
}

constexpr wchar_t kHookObjectProperty[] = L"KtDialogHookObject";

}  // namespace

CDialogImplBase::~CDialogImplBase() {
  if (m_hWnd == nullptr || !::IsWindow(m_hWnd)) {
    return;
  }
  if (m_hooked) {
    if (FromHook(m_hWnd) == this) {
      ::RemovePropW(m_hWnd, kHookObjectProperty);
    }
  } else if (::GetWindowLongPtrW(m_hWnd, DWLP_USER) == reinterpret_cast<LONG_PTR>(this)) {
    ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
  }
}

INT_PTR CDialogImplBase::RunModalWindow(const CDialogSource& source, HWND parent, LPARAM initParam) {
  if (m_hWnd != nullptr) {
    return -1;
  }
  m_initParam = initParam;
  m_modal = true;
  const LPARAM self = reinterpret_cast<LPARAM>(this);
  if (source.memory != nullptr) {
    return ::DialogBoxIndirectParamW(source.instance, source.memory, parent, &DialogProc, self);
  }
  return ::DialogBoxParamW(source.instance, source.resource, parent, &DialogProc, self);
}

HWND CDialogImplBase::CreateModeless(const CDialogSource& source, HWND parent, LPARAM initParam) {
  if (m_hWnd != nullptr) {
    return nullptr;
  }
  m_initParam = initParam;
  m_modal = false;
  const LPARAM self = reinterpret_cast<LPARAM>(this);
  if (source.memory != nullptr) {
    return ::CreateDialogIndirectParamW(source.instance, source.memory, parent, &DialogProc, self);
  }
  return ::CreateDialogParamW(source.instance, source.resource, parent, &DialogProc, self);
}

INT_PTR CALLBACK CDialogImplBase::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CDialogImplBase*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) {
    // Only our own calls name this procedure, so WM_INITDIALOG carries the object.
    if (msg != WM_INITDIALOG || lParam == 0) {
      return FALSE;
    }
    self = reinterpret_cast<CDialogImplBase*>(lParam);
    self->m_hWnd = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    lParam = self->m_initParam;
  }
  return self->Dispatch(hwnd, msg, wParam, lParam);
}

CDialogImplBase* CDialogImplBase::FromHook(HWND hwnd) {
  return static_cast<CDialogImplBase*>(::GetPropW(hwnd, kHookObjectProperty));
}

void CDialogImplBase::BindHook(HWND hwnd) {
  if (m_hWnd != nullptr || !::SetPropW(hwnd, kHookObjectProperty, static_cast<HANDLE>(this))) {
    return;
  }
  m_hWnd = hwnd;
  m_hooked = true;
}

INT_PTR CDialogImplBase::Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return m_dispatch.Run(
      hwnd, msg, wParam, lParam,
      [&]() -> INT_PTR {
        LRESULT result = 0;
        const BOOL handled = ProcessWindowMessage(hwnd, msg, wParam, lParam, result, 0);
        // Common dialogs stop calling their hook after WM_DESTROY (the find
        // dialog frees its data there), so for a hook that is the end.
        if (msg == WM_NCDESTROY || (m_hooked && msg == WM_DESTROY)) {
          if (m_hooked) {
            ::RemovePropW(hwnd, kHookObjectProperty);
          } else {
            ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
          }
          m_hWnd = nullptr;
          m_hooked = false;
          m_dispatch.MarkWindowGone();
        }
        if (handled) {
          if (ReturnsResultDirectly(msg)) {
            return static_cast<INT_PTR>(result);
          }
          if (!m_dispatch.WindowGone()) {
            ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
          }
          return TRUE;
        }
        // Unhandled WM_INITDIALOG: let the dialog manager set the focus.
        return msg == WM_INITDIALOG ? TRUE : FALSE;
      },
      [this](HWND gone) { OnFinalMessage(gone); });  // may delete this object
}
