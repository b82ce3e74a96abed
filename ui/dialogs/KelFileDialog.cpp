#include "ui/dialogs/KelFileDialog.h"

namespace ktdlg {

DWORD OpenFileNameSize(DWORD majorVersion) {
  return majorVersion >= 5 ? DWORD(sizeof(OPENFILENAMEW)) : DWORD(OPENFILENAME_SIZE_VERSION_400W);
}

DWORD SystemMajorVersion() { return DWORD(LOBYTE(LOWORD(::GetVersion()))); }

}  // namespace ktdlg

LRESULT KelFileDialogEx::OnInitDialog(UINT, WPARAM, LPARAM) {
  HWND placeholder = GetDlgItem(IDC_SAVE_PLACEHOLDER);
  if (placeholder != nullptr) {
    ::ShowWindow(placeholder, SW_HIDE);
  }
  SetMsgHandled(FALSE);
  return FALSE;
}

LRESULT KelFileDialogEx::OnFileOk(int, NMHDR*) {
  if ((m_ofn.Flags & OFN_ENABLETEMPLATE) != 0) {
    m_saveLocalDumps = ::IsDlgButtonChecked(m_hWnd, IDC_SAVE_DUMP_FILES) == BST_CHECKED ? 1 : 0;
  }
  return 0;
}
