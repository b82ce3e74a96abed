// The go-to dialog: asks for a line number of the shown list. The model the
// other dialogs copy: the window-free rule beside it as a plain function,
// members the caller sets and reads, one DoModal call in between.
//
//   CGotoDlg dialog;
//   dialog.m_line = current;          // 1-based
//   dialog.m_lineCount = rows;
//   if (dialog.DoModal(frame) == IDOK) { go to dialog.m_line }
#pragma once

#include <windows.h>

#include <cstdint>

#include "resource.h"
#include "ui/framework/DialogImpl.h"

namespace ktdlg {

// The highest line the dialog offers: the line count, at least 1, at most
// INT32_MAX (the line is a signed 32-bit number).
int32_t GotoLastLine(uint32_t lineCount);

// Reads what the user typed as a signed decimal number (blanks around it
// allowed; digits beyond 64 bits count as "very large") and holds it
// within 1 and GotoLastLine(lineCount). False, and *line untouched, when the
// text is not a number.
bool ParseGotoLine(const wchar_t* text, uint32_t lineCount, int32_t* line);

}  // namespace ktdlg

class CGotoDlg : public CStdDialogImpl<CGotoDlg> {
 public:
  enum { IDD = IDD_GOTO };

  int32_t m_line = 1;        // in and out: the 1-based line
  uint32_t m_lineCount = 0;  // in
  CWindow m_spin;            // up-down 1058, while the dialog is open

  BEGIN_MSG_MAP(CGotoDlg)
    CHAIN_MSG_MAP(CStdDialogImpl<CGotoDlg>)
  END_MSG_MAP()

  BEGIN_DDX_MAP(CGotoDlg)
    DDX_TEXT(IDC_GOTO_LINE, m_text)
  END_DDX_MAP()

  BOOL OnInit();
  bool OnOk();

 private:
  static constexpr size_t kTextChars = 32;  // more digits than any number a user means
  wchar_t m_text[kTextChars] = {};
};
