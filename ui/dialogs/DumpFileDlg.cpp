#include "ui/dialogs/DumpFileDlg.h"

#include "core/StrUtil.h"
#include "ui/dialogs/FileListText.h"

namespace {
constexpr int kNameWidth = 240;
constexpr int kSizeWidth = 80;
constexpr int kModifiedWidth = 120;
constexpr size_t kCellChars = 64;
}  // namespace

LRESULT CDumpFileDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
  CenterWindow(GetParent());
  if (!m_remoteName.IsEmpty()) {
    wchar_t caption[kCaptionChars + 1] = {};
    ::GetWindowTextW(m_hWnd, caption, int(kCaptionChars + 1));
    CString text(caption);
    text += L" (Remote)";
    CString cut(text.c_str(), text.GetLength() < kCaptionChars ? text.GetLength() : kCaptionChars);
    ::SetWindowTextW(m_hWnd, cut.c_str());
  }
  m_list.SubclassWindow(GetDlgItem(IDC_DUMP_LIST));
  m_list.InsertColumn(0, L"Name", LVCFMT_LEFT, kNameWidth);
  m_list.InsertColumn(1, L"Size", LVCFMT_RIGHT, kSizeWidth);
  m_list.InsertColumn(2, L"Modified", LVCFMT_RIGHT, kModifiedWidth);
  wchar_t cell[kCellChars];
  for (size_t i = 0; i < m_entries.Count(); ++i) {
    const DumpFileEntry* entry = m_entries[i];
    const int row = m_list.InsertItem(int(i), ListFileName(entry->path.c_str()));
    FormatSizeText(entry->size, cell, kCellChars);
    m_list.SetItemText(row, 1, cell);
    FormatListTime(entry->lastWrite, cell, kCellChars);
    m_list.SetItemText(row, 2, cell);
  }
  UpdateSelection();
  return TRUE;
}

void CDumpFileDlg::UpdateSelection() {
  const int row = m_list.GetNextItem(-1, LVNI_SELECTED);
  CString text;
  if (row >= 0 && size_t(row) < m_entries.Count()) {
    const CString& path = m_entries[size_t(row)]->path;
    if (!m_remoteName.IsEmpty() && !path.IsEmpty()) {
      text = L"\\\\";
      text += m_remoteName.c_str();
      text += L"\\";
    }
    text += path.c_str();
  }
  ::SetDlgItemTextW(m_hWnd, IDC_DUMP_PATH, text.c_str());
  ::EnableWindow(GetDlgItem(IDOK), row >= 0 ? TRUE : FALSE);
}

LRESULT CDumpFileDlg::OnOK(WORD, WORD id, HWND) {
  if (id == IDOK) {
    const int row = m_list.GetNextItem(-1, LVNI_SELECTED);
    if (row >= 0 && size_t(row) < m_entries.Count()) {
      m_path = m_entries[size_t(row)]->path;
    }
  }
  EndDialog(id);
  return 0;
}

LRESULT CDumpFileDlg::OnDblClk(int, NMHDR* header) {
  const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
  if (activate->iItem >= 0 && size_t(activate->iItem) < m_entries.Count()) {
    m_path = m_entries[size_t(activate->iItem)]->path;
    EndDialog(IDOK);
  }
  return 0;
}
