// "Histroy Files Manager": the local trace files, to open or delete them.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "capture/LocalFileList.h"
#include "core/RefString.h"
#include "resource.h"
#include "ui/controls/ListCtrlEx.h"
#include "ui/framework/DialogImpl.h"

class CHistroyDlg : public CDialogImpl<CHistroyDlg> {
 public:
  enum { IDD = IDD_HISTORY };
  using DeleteFileFn = BOOL(WINAPI*)(const wchar_t* path);

  // list: the trace-file list; the entries of deleted files leave it and
  // are freed. deleteFile: DeleteFileW unless a test gives its own.
  explicit CHistroyDlg(LocalFileArray& list, DeleteFileFn deleteFile = ::DeleteFileW)
      : m_files(list), m_deleteFile(deleteFile) {}

  BEGIN_MSG_MAP(CHistroyDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnOpenFile)
    COMMAND_ID_HANDLER(IDCANCEL, OnOpenFile)
    COMMAND_ID_HANDLER(IDC_HISTORY_DELETE, OnDeleteFile)
    NOTIFY_HANDLER(IDC_HISTORY_LIST, LVN_ITEMCHANGED, OnItemChanged)
    NOTIFY_HANDLER(IDC_HISTORY_LIST, NM_DBLCLK, OnClose)
    REFLECT_NOTIFICATIONS()
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM);
  // "Open File" takes every selected row's path in list order; it and
  // "Close" end the dialog with their id.
  LRESULT OnOpenFile(WORD, WORD id, HWND);
  // Asks once for the whole selection, then deletes the files; a file that
  // cannot be deleted keeps its row and is named in a warning afterwards.
  LRESULT OnDeleteFile(WORD, WORD, HWND);
  LRESULT OnItemChanged(int, NMHDR*) {
    UpdateSelection();
    return 0;
  }
  // A double click on a row opens that file.
  LRESULT OnClose(int, NMHDR* header);
  void UpdateSelection();

  // The paths to open, after "Open File" or a double click.
  std::vector<CString> m_chosen;
  CListCtrlEx m_list;

 private:
  LocalFileArray& m_files;
  DeleteFileFn m_deleteFile;
  std::vector<LocalFileEntry*> m_rows;  // the entry of each row, in row order
};

// The question asked before deleting `count` files, the first of them
// `firstPath`.
CString DeleteQuestion(size_t count, const wchar_t* firstPath);
