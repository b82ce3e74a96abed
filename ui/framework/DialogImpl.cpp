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

}  // namespace

CDialogImplBase::~CDialogImplBase() {
  if (m_hWnd != nullptr && ::IsWindow(m_hWnd) &&
      ::GetWindowLongPtrW(m_hWnd, DWLP_USER) == reinterpret_cast<LONG_PTR>(this)) {
    ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
  }
}

INT_PTR CDialogImplBase::RunModal(const CDialogSource& source, HWND parent, LPARAM initParam) {
  if (m_hWnd != nullptr) {
    return -1;
  }
  m_initParam = initParam;
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

INT_PTR CDialogImplBase::Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MSG current = {};
  current.hwnd = hwnd;
  current.message = msg;
  current.wParam = wParam;
  current.lParam = lParam;
  const MSG* outer = m_currentMsg;
  m_currentMsg = &current;
  ++m_depth;
  LRESULT result = 0;
  const BOOL handled = ProcessWindowMessage(hwnd, msg, wParam, lParam, result, 0);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    m_hWnd = nullptr;
    m_finalPending = true;
  }
  INT_PTR answer = FALSE;
  if (handled) {
    if (ReturnsResultDirectly(msg)) {
      answer = static_cast<INT_PTR>(result);
    } else {
      if (!m_finalPending) {
        ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      }
      answer = TRUE;
    }
  } else if (msg == WM_INITDIALOG) {
    answer = TRUE;  // let the dialog manager set the focus
  }
  m_currentMsg = outer;
  --m_depth;
  if (m_depth == 0 && m_finalPending) {
    m_finalPending = false;
    OnFinalMessage(hwnd);  // may delete this object: nothing of it is touched afterwards
  }
  return answer;
}
