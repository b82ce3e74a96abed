// Dialogs with a C++ object per dialog window, bound at WM_INITDIALOG (the
// object travels in the creation parameter and is kept in DWLP_USER).
//
// CDialogImpl<T> runs T's message map for a dialog made from T::IDD in the
// executable's resources, or from whatever T::GetDialogSource names (an
// in-memory template, for example). Handler results reach the dialog manager
// the documented way: directly for the messages that return a value, through
// DWLP_MSGRESULT for the rest.
//
// CModelessDialog<T> is for dialogs that live on the heap: the object deletes
// itself on its final message, once its window is destroyed.
#pragma once

#include <windows.h>

#include "ui/framework/MessageMap.h"
#include "ui/framework/Window.h"

// Where a dialog's template comes from: a resource, or a template in memory
// (which must stay valid while the dialog is being created).
struct CDialogSource {
  HINSTANCE instance = nullptr;
  const wchar_t* resource = nullptr;
  const DLGTEMPLATE* memory = nullptr;
};

class CDialogImplBase : public CWindow, public CMessageMap {
 public:
  CDialogImplBase() = default;
  CDialogImplBase(const CDialogImplBase&) = delete;
  CDialogImplBase& operator=(const CDialogImplBase&) = delete;
  // An object that dies before its window lets go of it.
  virtual ~CDialogImplBase();

  // Runs once the dialog window is gone and the outermost of its messages
  // being handled has returned.
  virtual void OnFinalMessage(HWND hwnd) { (void)hwnd; }

  // Ends a modal dialog with `result` (DoModal's return value).
  BOOL EndDialog(INT_PTR result) { return ::EndDialog(m_hWnd, result); }
  const MSG* GetCurrentMessage() const { return m_currentMsg; }

 protected:
  // -1 when the dialog cannot be made, else what EndDialog was given.
  INT_PTR RunModal(const CDialogSource& source, HWND parent, LPARAM initParam);
  // The dialog window, or null when it cannot be made or this object has one.
  HWND CreateModeless(const CDialogSource& source, HWND parent, LPARAM initParam);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  LPARAM m_initParam = 0;  // handed to WM_INITDIALOG in place of the object
  const MSG* m_currentMsg = nullptr;
  int m_depth = 0;
  bool m_finalPending = false;
};

template <class T>
class CDialogImpl : public CDialogImplBase {
 public:
  // The dialog's template: T::IDD in the executable unless T says otherwise.
  CDialogSource GetDialogSource() const {
    CDialogSource source;
    source.instance = ::GetModuleHandleW(nullptr);
    source.resource = MAKEINTRESOURCEW(T::IDD);
    return source;
  }

  // Modal: the result given to EndDialog, -1 when the dialog cannot be made.
  // `initParam` arrives as the lParam of WM_INITDIALOG.
  INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM initParam = 0) {
    return RunModal(static_cast<T*>(this)->GetDialogSource(), parent, initParam);
  }

  // Modeless: the dialog window, null when it cannot be made.
  HWND Create(HWND parent, LPARAM initParam = 0) {
    return CreateModeless(static_cast<T*>(this)->GetDialogSource(), parent, initParam);
  }
};

// A heap dialog that deletes itself on its final message. When Create returns
// null the object was not deleted and belongs to the caller, also when the
// window came and went during creation (OnInitDialog destroying it).
template <class T>
class CModelessDialog : public CDialogImpl<T> {
 public:
  HWND Create(HWND parent, LPARAM initParam = 0) {
    m_created = false;
    HWND hwnd = CDialogImpl<T>::Create(parent, initParam);
    if (hwnd == nullptr || !::IsWindow(hwnd)) {
      return nullptr;
    }
    m_created = true;
    return hwnd;
  }

  void OnFinalMessage(HWND hwnd) override {
    (void)hwnd;
    if (m_created) {
      delete this;
    }
  }

 private:
  bool m_created = false;
};
