// The program's open and save dialogs: the system's Explorer-style file
// dialogs with a hook, so the class's message map receives their CDN_*
// notifications.
//
//   KelFileDialog open(TRUE, L"ktr", nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, filter, frame);
//   if (open.DoModal(frame) == IDOK) { open.m_fileName is the full path }
//
//   KelFileDialogEx save(FALSE, L"ktr", name, OFN_OVERWRITEPROMPT | OFN_ENABLETEMPLATE, filter, frame);
//   if (save.DoModal(frame) == IDOK) { save.m_fileName, save.m_saveLocalDumps }
//
// With OFN_ENABLETEMPLATE the save dialog shows the check box of template
// 263 ("Save keltrace local dump files") below the system's controls.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstdint>

#include "resource.h"
#include "ui/framework/DialogImpl.h"
#include "ui/framework/ModalSeam.h"

namespace ktdlg {
// The structure size the system's file dialogs take: the full structure from
// Windows 2000 (major version 5) on, the older, shorter one before.
DWORD OpenFileNameSize(DWORD majorVersion);
// The running system's major version.
DWORD SystemMajorVersion();
}  // namespace ktdlg

template <class T>
class KelFileDialogImpl : public CDialogImplBase {
 public:
  static constexpr size_t kFileTitleChars = 256;
  static constexpr size_t kFileNameChars = MAX_PATH;

  OPENFILENAMEW m_ofn;
  wchar_t m_fileTitle[kFileTitleChars];
  uint32_t m_open;  // nonzero: the open dialog; zero: the save dialog
  wchar_t m_fileName[kFileNameChars];

  // `defaultExtension` and `filter` (a double-null list) must outlive the
  // dialog. `fileName` is copied (cut to 259 characters); `flags` are OFN_*
  // flags, to which OFN_EXPLORER, OFN_ENABLESIZING and OFN_ENABLEHOOK are added.
  KelFileDialogImpl(BOOL open, const wchar_t* defaultExtension = nullptr, const wchar_t* fileName = nullptr,
                    DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const wchar_t* filter = nullptr,
                    HWND owner = nullptr)
      : m_ofn(), m_fileTitle(), m_open(open ? 1 : 0), m_fileName() {
    m_ofn.lStructSize = ktdlg::OpenFileNameSize(ktdlg::SystemMajorVersion());
    m_ofn.hwndOwner = owner;
    m_ofn.hInstance = ::GetModuleHandleW(nullptr);
    m_ofn.lpstrFilter = filter;
    for (size_t i = 0; fileName != nullptr && fileName[i] != 0 && i + 1 < kFileNameChars; ++i) {
      m_fileName[i] = fileName[i];
    }
    m_ofn.lpstrFile = m_fileName;
    m_ofn.nMaxFile = DWORD(kFileNameChars);
    m_ofn.lpstrFileTitle = m_fileTitle;
    m_ofn.nMaxFileTitle = DWORD(kFileTitleChars);
    m_ofn.lpstrDefExt = defaultExtension;
    m_ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING | OFN_ENABLEHOOK;
    m_ofn.lpfnHook = &CDialogImplBase::HookProc<OPENFILENAMEW>;
    m_ofn.lCustData = reinterpret_cast<LPARAM>(static_cast<CDialogImplBase*>(this));
  }

  // IDOK (1) when the user confirmed a file, whose full path is then in
  // m_fileName; IDCANCEL (2) otherwise. `owner` is used when the
  // constructor got none.
  INT_PTR DoModal(HWND owner = ::GetActiveWindow()) {
    if (m_ofn.hwndOwner == nullptr) {
      m_ofn.hwndOwner = owner;
    }
    const BOOL confirmed = m_open != 0 ? g_getOpenFileName(&m_ofn) : g_getSaveFileName(&m_ofn);
    return confirmed ? IDOK : IDCANCEL;
  }

  BEGIN_MSG_MAP(KelFileDialogImpl)
  END_MSG_MAP()
};

// The open dialog: the system's behaviour throughout.
class KelFileDialog : public KelFileDialogImpl<KelFileDialog> {
 public:
  using KelFileDialogImpl<KelFileDialog>::KelFileDialogImpl;
};

// The save dialog with the local-dump check box of template 263.
class KelFileDialogEx : public KelFileDialogImpl<KelFileDialogEx> {
 public:
  KelFileDialogEx(BOOL open, const wchar_t* defaultExtension = nullptr, const wchar_t* fileName = nullptr,
                  DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const wchar_t* filter = nullptr,
                  HWND owner = nullptr)
      : KelFileDialogImpl<KelFileDialogEx>(open, defaultExtension, fileName, flags, filter, owner) {
    m_ofn.lpTemplateName = MAKEINTRESOURCEW(IDD_SAVE_TEMPLATE);
  }

  // Out: 1 when the check box was ticked as the user confirmed the file,
  // 0 when not; only written with OFN_ENABLETEMPLATE.
  uint32_t m_saveLocalDumps = 0;

  BEGIN_MSG_MAP(KelFileDialogEx)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    NOTIFY_CODE_HANDLER(CDN_FILEOK, OnFileOk)
    NOTIFY_CODE_HANDLER(CDN_INITDONE, OnDefault)
    NOTIFY_CODE_HANDLER(CDN_SELCHANGE, OnDefault)
    NOTIFY_CODE_HANDLER(CDN_FOLDERCHANGE, OnDefault)
    NOTIFY_CODE_HANDLER(CDN_SHAREVIOLATION, OnDefault)
    NOTIFY_CODE_HANDLER(CDN_HELP, OnDefault)
    NOTIFY_CODE_HANDLER(CDN_TYPECHANGE, OnDefault)
    CHAIN_MSG_MAP(KelFileDialogImpl<KelFileDialogEx>)
  END_MSG_MAP()

 private:
  // The system has placed its controls where static 1119 stands; the
  // static itself must not show through them.
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
  // 0: the file is accepted, the system does its default.
  LRESULT OnFileOk(int, NMHDR*);
  LRESULT OnDefault(int, NMHDR*) { return 0; }
};
