#include "ui/framework/CommonDialogs.h"

#include <shlobj.h>

CFontDialog::CFontDialog(const LOGFONTW* initial, DWORD flags) {
  if (initial != nullptr) {
    m_lf = *initial;
    flags |= CF_INITTOLOGFONTSTRUCT;
  }
  m_cf.lStructSize = sizeof(m_cf);
  m_cf.lpLogFont = &m_lf;
  m_cf.Flags = flags;
}

INT_PTR CFontDialog::DoModal(HWND owner) {
  m_cf.hwndOwner = owner;
  m_cf.lpLogFont = &m_lf;
  return g_chooseFont(&m_cf) ? IDOK : IDCANCEL;
}

CFolderDialog::CFolderDialog(const wchar_t* title, UINT flags) {
  m_bi.lpszTitle = title;
  m_bi.ulFlags = flags;
}

INT_PTR CFolderDialog::DoModal(HWND owner) {
  m_bi.hwndOwner = owner;
  wchar_t display[MAX_PATH] = {};
  m_bi.pszDisplayName = display;
  PIDLIST_ABSOLUTE chosen = g_browseForFolder(&m_bi);
  m_bi.pszDisplayName = nullptr;
  if (chosen == nullptr) {
    return IDCANCEL;
  }
  wchar_t path[MAX_PATH] = {};
  const BOOL isFolder = ::SHGetPathFromIDListW(chosen, path);
  ::CoTaskMemFree(chosen);  // the browser's result belongs to the caller
  if (!isFolder || path[0] == 0) {
    return IDCANCEL;
  }
  ::lstrcpynW(m_path, path, MAX_PATH);
  return IDOK;
}

namespace ktui {

UINT FindReplaceMessage() {
  static const UINT message = ::RegisterWindowMessageW(FINDMSGSTRINGW);
  return message;
}

}  // namespace ktui
