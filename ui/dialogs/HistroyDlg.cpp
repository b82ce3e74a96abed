#include "ui/dialogs/HistroyDlg.h"

#include "core/StrUtil.h"
#include "resource.h"
#include "ui/dialogs/FileListText.h"
#include "ui/dialogs/UploadProgress.h"
#include "ui/framework/MessageBoxes.h"

namespace {
constexpr int kNameWidth = 200;
constexpr int kNumberWidth = 70;
constexpr int kSizeWidth = 70;
constexpr int kModifiedWidth = 120;
constexpr size_t kCellChars = 64;
constexpr size_t kQuestionChars = 512;
}  // namespace

CString DeleteQuestion(size_t count, const wchar_t* firstPath) {
  wchar_t text[kQuestionChars] = {};
  if (count == 1) {
    StrPrintfW(text, kQuestionChars, L"Delete the file \"%s\"?", firstPath != nullptr ? firstPath : L"");
  } else {
    StrPrintfW(text, kQuestionChars, L"Delete the %u selected files?", unsigned(count));
  }
  return CString(text);
}

LRESULT CHistroyDlg::OnInitDialog(UINT, WPARAM, LPARAM) {
  CenterWindow(GetParent());
  m_list.SubclassWindow(GetDlgItem(IDC_HISTORY_LIST));
  m_list.InsertColumn(0, L"Name", LVCFMT_LEFT, kNameWidth);
  m_list.InsertColumn(1, L"Number", LVCFMT_RIGHT, kNumberWidth);
  m_list.InsertColumn(2, L"Size", LVCFMT_RIGHT, kSizeWidth);
  m_list.InsertColumn(3, L"Modified", LVCFMT_RIGHT, kModifiedWidth);
  wchar_t cell[kCellChars];
  m_rows.clear();
  for (size_t i = 0; i < m_files.count; ++i) {
    LocalFileEntry* entry = m_files[i];
    const int row = m_list.InsertItem(int(i), ListFileName(entry->path));
    if (row < 0) {
      continue;
    }
    m_rows.insert(m_rows.begin() + row, entry);
    StrPrintfW(cell, kCellChars, L"%u", entry->recordCount);
    m_list.SetItemText(row, 1, cell);
    FormatSizeText(entry->size, cell, kCellChars);
    m_list.SetItemText(row, 2, cell);
    FormatListTime(entry->lastWrite, cell, kCellChars);
    m_list.SetItemText(row, 3, cell);
  }
  UpdateSelection();
  return TRUE;
}

void CHistroyDlg::UpdateSelection() {
  const int row = m_list.GetNextItem(-1, LVNI_SELECTED);
  const bool selected = row >= 0 && size_t(row) < m_rows.size();
  ::SetDlgItemTextW(m_hWnd, IDC_HISTORY_PATH, selected ? m_rows[size_t(row)]->path : L"");
  ::EnableWindow(GetDlgItem(IDOK), selected ? TRUE : FALSE);
  ::EnableWindow(GetDlgItem(IDC_HISTORY_DELETE), selected ? TRUE : FALSE);
}

LRESULT CHistroyDlg::OnOpenFile(WORD, WORD id, HWND) {
  if (id == IDOK) {
    for (int row = m_list.GetNextItem(-1, LVNI_SELECTED); row >= 0 && size_t(row) < m_rows.size();
         row = m_list.GetNextItem(row, LVNI_SELECTED)) {
      m_chosen.emplace_back(m_rows[size_t(row)]->path);
    }
  }
  EndDialog(id);
  return 0;
}

LRESULT CHistroyDlg::OnClose(int, NMHDR* header) {
  const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
  if (activate->iItem >= 0 && size_t(activate->iItem) < m_rows.size()) {
    m_chosen.emplace_back(m_rows[size_t(activate->iItem)]->path);
    EndDialog(IDOK);
  }
  return 0;
}

LRESULT CHistroyDlg::OnDeleteFile(WORD, WORD, HWND) {
  std::vector<int> selected;
  for (int row = m_list.GetNextItem(-1, LVNI_SELECTED); row >= 0 && size_t(row) < m_rows.size();
       row = m_list.GetNextItem(row, LVNI_SELECTED)) {
    selected.push_back(row);
  }
  if (selected.empty()) {
    return 0;
  }
  const CString question = DeleteQuestion(selected.size(), m_rows[size_t(selected[0])]->path);
  if (ktui::MessageBoxText(m_hWnd, question.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return 0;
  }
  CString kept;
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
    const size_t row = size_t(*it);
    LocalFileEntry* entry = m_rows[row];
    // A file that is already gone leaves the list like a deleted one.
    if (!m_deleteFile(entry->path) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
      // Walking backwards: prepended, the names stay in list order.
      CString line(L"\r\n");
      line += entry->path;
      line += kept.c_str();
      kept = line;
      continue;
    }
    m_files.Remove(entry);
    m_list.DeleteItem(int(row));
    m_rows.erase(m_rows.begin() + ptrdiff_t(row));
    CLocalFileList::FreeEntry(entry);
  }
  UpdateSelection();
  if (!kept.IsEmpty()) {
    CString text(L"These files could not be deleted:");
    text += kept.c_str();
    ktui::MessageBoxText(m_hWnd, text.c_str(), MB_ICONWARNING);
  }
  return 0;
}
