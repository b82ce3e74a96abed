// Dialogs with a C++ object per dialog window, bound at WM_INITDIALOG.
//
// A new modal dialog, the whole of it (copy ui/dialogs/GotoDlg.h/.cpp):
//
//   class CMyDlg : public CStdDialogImpl<CMyDlg> {
//    public:
//     enum { IDD = IDD_MY };          // template in res/dialogs_*.rc
//     uint32_t m_flag = 0;            // in and out: the caller sets, DoModal, reads after IDOK
//     wchar_t m_name[128] = {};
//
//     BEGIN_MSG_MAP(CMyDlg)
//       COMMAND_ID_HANDLER(IDC_MY_BUTTON, OnMyButton)
//       CHAIN_MSG_MAP(CStdDialogImpl<CMyDlg>)   // last: init, OK, Cancel, owner-draw reflection
//     END_MSG_MAP()
//     BEGIN_DDX_MAP(CMyDlg)
//       DDX_CHECK(IDC_MY_CHECK, m_flag)
//       DDX_TEXT(IDC_MY_EDIT, m_name)
//     END_DDX_MAP()
//
//     BOOL OnInit();   // optional: fill lists, prepare shown members; the controls are loaded after it
//     bool OnOk();     // optional: after the controls were read back; false keeps it open
//   };
//
//   CMyDlg dialog;  dialog.m_flag = 1;
//   if (dialog.DoModal(owner) == IDOK) { use dialog.m_flag, dialog.m_name }
//
// CStdDialogImpl centres the dialog over its parent, runs OnInit, then loads
// the DDX map into the controls (WM_INITDIALOG); on OK it reads them back (a
// failed exchange keeps the dialog open with the focus on that control, and
// no member changes), then OnOk, then ends with the button's id (IDOK 1,
// IDCANCEL 2). It reflects owner-draw and custom-draw messages to the
// children (DDX_CONTROL binds a CListCtrlEx). A Cancel leaves the members as
// the caller set them.
//
// Tests: DoModal goes through the modal seam (ModalSeam.h); tests answer it
// with kt_test::CModalRecorder (tests/ui/UiHarness.h), with or without a
// window. Message boxes: ktui::MessageBoxFromId (MessageBoxes.h). Common
// dialogs: CommonDialogs.h.
//
// A modeless dialog derives from CStdDialogImpl<T, CModelessDialog<T>> (or
// CModelessDialog<T> alone): `new`, then Create(parent, &ownerPointer); Close
// and OK destroy it, it deletes itself and clears the owner's pointer, and it
// gets its keys from the message loop's registry.
//
// CDialogImpl<T> is the bare base: T's message map for a dialog made from
// T::IDD in the executable's resources, or from whatever T::GetDialogSource
// names (an in-memory template, for example). Handler results reach the
// dialog manager the documented way: directly for the messages that return
// a value, through DWLP_MSGRESULT for the rest.
#pragma once

#include <windows.h>

#include <type_traits>

#include "ui/framework/DataExchange.h"
#include "ui/framework/Dispatch.h"
#include "ui/framework/MessageLoop.h"
#include "ui/framework/MessageMap.h"
#include "ui/framework/ModalSeam.h"
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
  // Ends the dialog the way it was opened: EndDialog(result) when modal,
  // DestroyWindow when modeless.
  BOOL CloseDialog(INT_PTR result) { return m_modal ? EndDialog(result) : DestroyWindow(); }
  bool IsModal() const { return m_modal; }
  const MSG* GetCurrentMessage() const { return m_dispatch.Current(); }

  // The dialog manager's modal run, without the seam: -1 when the dialog
  // cannot be made or this object has a window, else what EndDialog was
  // given. Only the modal seam's default (ktui::RunModalDialog) and test
  // recorders call it.
  INT_PTR RunModalWindow(const CDialogSource& source, HWND parent, LPARAM initParam);

  // The hook procedure for a common dialog whose request structure `Request`
  // (OPENFILENAMEW, CHOOSEFONTW, FINDREPLACEW) carries the object in
  // lCustData: the hook's messages run through this object's message map.
  // Unhandled messages return FALSE, so the common dialog does its default.
  // The hook's last message is WM_DESTROY; OnFinalMessage follows it.
  template <class Request>
  static UINT_PTR CALLBACK HookProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG && lParam != 0 && FromHook(hwnd) == nullptr) {
      auto* self = reinterpret_cast<CDialogImplBase*>(reinterpret_cast<const Request*>(lParam)->lCustData);
      if (self != nullptr) {
        self->BindHook(hwnd);
      }
    }
    CDialogImplBase* self = FromHook(hwnd);
    return self != nullptr ? UINT_PTR(self->Dispatch(hwnd, msg, wParam, lParam)) : 0;
  }

 protected:
  // -1 when the dialog cannot be made, else what EndDialog was given; the
  // modal seam decides whether a window is made at all.
  INT_PTR RunModal(const CDialogSource& source, HWND parent, LPARAM initParam) {
    return g_runModal(*this, source, parent, initParam);
  }
  // The dialog window, or null when it cannot be made or this object has one.
  HWND CreateModeless(const CDialogSource& source, HWND parent, LPARAM initParam);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // Common dialogs keep DWLP_USER for themselves: hooks find their object
  // in a window property.
  static CDialogImplBase* FromHook(HWND hwnd);
  void BindHook(HWND hwnd);
  INT_PTR Dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  LPARAM m_initParam = 0;  // handed to WM_INITDIALOG in place of the object
  CDispatchState m_dispatch;
  bool m_modal = false;
  bool m_hooked = false;
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

// What a heap modeless window holds while it lives: its owner's pointer to
// it and its place in the thread's modeless registry. Adopt once the window
// is made; Release when it is gone, so the owner never holds a deleted
// dialog and the loop never feeds a dead window.
template <class T>
class CModelessTenure {
 public:
  void Adopt(HWND hwnd, T* dialog, T** ownerSlot) {
    m_ownerSlot = ownerSlot;
    if (m_ownerSlot != nullptr) {
      *m_ownerSlot = dialog;
    }
    if (CMessageLoop::AddModelessDialog(hwnd)) {
      m_registered = hwnd;
    }
  }

  void Release(const T* dialog) {
    if (m_registered != nullptr) {
      CMessageLoop::RemoveModelessDialog(m_registered);
      m_registered = nullptr;
    }
    if (m_ownerSlot != nullptr && *m_ownerSlot == dialog) {
      *m_ownerSlot = nullptr;
    }
    m_ownerSlot = nullptr;
  }

 private:
  T** m_ownerSlot = nullptr;
  HWND m_registered = nullptr;
};

// A heap dialog that deletes itself on its final message. When Create
// returns null the object was not deleted and belongs to the caller, also
// when the window came and went during creation (OnInitDialog destroying
// it). While its window lives the dialog is in the thread's modeless
// registry (CMessageLoop::AddModelessDialog), so it gets its keys from the
// message loop.
template <class T>
class CModelessDialog : public CDialogImpl<T> {
 public:
  ~CModelessDialog() override { m_tenure.Release(static_cast<T*>(this)); }

  // `ownerSlot` (may be null) is the owner's pointer to this dialog: it is
  // set to this object when the window was made and cleared when the window
  // is finally destroyed, so the owner never holds a deleted dialog.
  HWND Create(HWND parent, T** ownerSlot = nullptr, LPARAM initParam = 0) {
    m_created = false;
    HWND hwnd = CDialogImpl<T>::Create(parent, initParam);
    if (hwnd == nullptr || !::IsWindow(hwnd)) {
      return nullptr;
    }
    m_created = true;
    m_tenure.Adopt(hwnd, static_cast<T*>(this), ownerSlot);
    return hwnd;
  }

  void OnFinalMessage(HWND hwnd) final {
    (void)hwnd;
    if (m_created) {
      delete this;
    }
  }

 private:
  CModelessTenure<T> m_tenure;
  bool m_created = false;
};

// The standard dialog behaviour (see the top of this file). T may define
// `BOOL OnInit()` (before the controls are loaded, so lists it fills can
// take their selection from the map; TRUE lets the dialog manager set the
// focus), `bool OnOk()` and `void OnCancel()`; the defaults do nothing
// more. TBase is CDialogImpl<T> (modal) or CModelessDialog<T>.
template <class T, class TBase = CDialogImpl<T>>
class CStdDialogImpl : public TBase, public CWinDataExchange<T> {
 public:
  BOOL OnInit() { return TRUE; }
  bool OnOk() { return true; }
  void OnCancel() {}
  // T's BEGIN_DDX_MAP replaces this empty map.
  BOOL DoDataExchange(BOOL saveAndValidate = FALSE, UINT onlyId = UINT(-1)) {
    (void)saveAndValidate;
    (void)onlyId;
    return TRUE;
  }

  BEGIN_MSG_MAP(CStdDialogImpl)
    MESSAGE_HANDLER(WM_INITDIALOG, OnStdInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnStdOk)
    COMMAND_ID_HANDLER(IDCANCEL, OnStdCancel)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

 private:
  T* Self() { return static_cast<T*>(this); }

  LRESULT OnStdInitDialog(UINT, WPARAM, LPARAM) {
    this->CenterWindow();
    const BOOL setFocus = Self()->OnInit();
    Self()->DoDataExchange(kDdxLoad);
    return setFocus;
  }
  LRESULT OnStdOk(WORD, WORD, HWND) {
    // Validated first: a failed exchange changes no member.
    if (Self()->DoDataExchange(kDdxValidate) && Self()->DoDataExchange(kDdxSave) && Self()->OnOk()) {
      this->CloseDialog(IDOK);
    }
    return 0;
  }
  LRESULT OnStdCancel(WORD, WORD, HWND) {
    Self()->OnCancel();
    this->CloseDialog(IDCANCEL);
    return 0;
  }
};
