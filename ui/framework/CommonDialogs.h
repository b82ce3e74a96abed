// The system's common dialogs as classes, each through the modal seam
// (ModalSeam.h), so tests answer them with kt_test::CModalRecorder.
//
//   CFontDialog font(&logFont);                  // screen fonts
//   if (font.DoModal(owner) == IDOK) { font.m_lf.lfFaceName, font.PointTenths() }
//
//   CFolderDialog folder;                        // file-system folders only
//   if (folder.DoModal(owner) == IDOK) { folder.m_path }
//
//   auto* find = new CMyFindDialog;              // : CFindReplaceDialogImpl<CMyFindDialog>
//   find->Create(TRUE, text, nullptr, FR_DOWN, frame, &m_findDlg);
//   ... the owner handles ktui::FindReplaceMessage() and reads the dialog
//   with CMyFindDialog::GetNotifier(lParam).
//
// A file dialog with a hook sets lpfnHook = &CDialogImplBase::HookProc<OPENFILENAMEW>
// and lCustData to its object (DialogImpl.h): the CDN_* notifications then
// reach that object's message map.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "ui/framework/DialogImpl.h"
#include "ui/framework/MessageLoop.h"
#include "ui/framework/ModalSeam.h"

class CFontDialog {
 public:
  // Starts from `initial` when given; `flags` are CF_* flags, CF_INITTOLOGFONTSTRUCT
  // is added when there is an initial font.
  explicit CFontDialog(const LOGFONTW* initial = nullptr, DWORD flags = CF_SCREENFONTS);
  CFontDialog(const CFontDialog&) = delete;
  CFontDialog& operator=(const CFontDialog&) = delete;

  // IDOK when the user chose a font (m_lf holds it), IDCANCEL otherwise.
  INT_PTR DoModal(HWND owner = ::GetActiveWindow());
  // The chosen size in tenths of a point.
  int PointTenths() const { return m_cf.iPointSize; }

  LOGFONTW m_lf = {};
  CHOOSEFONTW m_cf = {};
};

class CFolderDialog {
 public:
  explicit CFolderDialog(const wchar_t* title = nullptr, UINT flags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE);
  CFolderDialog(const CFolderDialog&) = delete;
  CFolderDialog& operator=(const CFolderDialog&) = delete;

  // IDOK when the user chose a file-system folder (m_path holds it),
  // IDCANCEL otherwise, also for a choice that has no file-system path.
  INT_PTR DoModal(HWND owner = ::GetActiveWindow());

  wchar_t m_path[MAX_PATH] = {};
  BROWSEINFOW m_bi = {};
};

namespace ktui {
// The registered message the find and replace dialogs send their owner.
UINT FindReplaceMessage();
}  // namespace ktui

// The modeless find or replace dialog. It lives on the heap: once its window
// is gone it clears the owner's slot and deletes itself. While it is open it
// is in the thread's modeless registry, so it gets its keys from the loop.
// T's message map receives the dialog's messages through the hook.
template <class T>
class CFindReplaceDialogImpl : public CDialogImplBase {
 public:
  static constexpr size_t kTextChars = 128;

  FINDREPLACEW m_fr = {};
  wchar_t m_findWhat[kTextChars] = {};
  wchar_t m_replaceWith[kTextChars] = {};

  // `findWhat` and `replaceWith` are cut to fit 127 characters; `flags` are
  // FR_* flags. The window, or null (the object then stays the caller's).
  HWND Create(BOOL findOnly, const wchar_t* findWhat, const wchar_t* replaceWith, DWORD flags, HWND owner,
              T** ownerSlot = nullptr) {
    if (m_hWnd != nullptr) {
      return nullptr;
    }
    CopyCut(m_findWhat, findWhat);
    CopyCut(m_replaceWith, replaceWith);
    m_fr = {};
    m_fr.lStructSize = sizeof(m_fr);
    m_fr.hwndOwner = owner;
    m_fr.hInstance = ::GetModuleHandleW(nullptr);
    m_fr.Flags = flags | FR_ENABLEHOOK;
    m_fr.lpstrFindWhat = m_findWhat;
    m_fr.wFindWhatLen = WORD(kTextChars);
    m_fr.lpstrReplaceWith = m_replaceWith;
    m_fr.wReplaceWithLen = WORD(kTextChars);
    m_fr.lpfnHook = &CDialogImplBase::HookProc<FINDREPLACEW>;
    m_fr.lCustData = reinterpret_cast<LPARAM>(static_cast<CDialogImplBase*>(this));
    HWND hwnd = findOnly ? g_findText(&m_fr) : g_replaceText(&m_fr);
    if (hwnd == nullptr || !::IsWindow(hwnd)) {
      return nullptr;
    }
    m_created = true;
    m_tenure.Adopt(hwnd, static_cast<T*>(this), ownerSlot);
    return hwnd;
  }

  // The dialog that sent a FindReplaceMessage(), from its lParam.
  static T* GetNotifier(LPARAM lParam) {
    const auto* request = reinterpret_cast<const FINDREPLACEW*>(lParam);
    return request != nullptr ? static_cast<T*>(reinterpret_cast<CDialogImplBase*>(request->lCustData)) : nullptr;
  }
  bool FindNext() const { return (m_fr.Flags & FR_FINDNEXT) != 0; }
  bool IsTerminating() const { return (m_fr.Flags & FR_DIALOGTERM) != 0; }
  bool SearchDown() const { return (m_fr.Flags & FR_DOWN) != 0; }
  bool MatchCase() const { return (m_fr.Flags & FR_MATCHCASE) != 0; }

  BEGIN_MSG_MAP(CFindReplaceDialogImpl)
  END_MSG_MAP()

  void OnFinalMessage(HWND hwnd) final {
    (void)hwnd;
    m_tenure.Release(static_cast<T*>(this));
    if (m_created) {
      delete this;
    }
  }

 private:
  static void CopyCut(wchar_t (&to)[kTextChars], const wchar_t* from) {
    size_t i = 0;
    for (; from != nullptr && from[i] != 0 && i + 1 < kTextChars; ++i) {
      to[i] = from[i];
    }
    to[i] = 0;
  }

  CModelessTenure<T> m_tenure;
  bool m_created = false;
};
