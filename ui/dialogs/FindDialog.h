// The frame's find dialog: the system's modeless find-only dialog. It lives
// on the heap; the frame keeps one pointer to it, which the dialog clears
// when it closes. It reports to the frame through ktui::FindReplaceMessage()
// ("commdlg_FindReplace"); CFindDialog::GetNotifier(lParam) gives the dialog.
//
//   CFindDialog::Open(frame, &m_findDlg, searchText, searchDown, matchCase);
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "ui/framework/CommonDialogs.h"

// FR_HIDEWHOLEWORD always, FR_DOWN and FR_MATCHCASE from the frame's search.
DWORD FindDialogFlags(bool searchDown, bool matchCase);

class CFindDialog : public CFindReplaceDialogImpl<CFindDialog> {
 public:
  BEGIN_MSG_MAP(CFindDialog)
    CHAIN_MSG_MAP(CFindReplaceDialogImpl<CFindDialog>)
  END_MSG_MAP()

  // The dialog that `slot` holds, left as it is (a second Find changes
  // nothing), or a new one owned by `frame` with `text` (cut to 127
  // characters) and the search's flags, stored in `slot` and shown. Null
  // when none could be made (`slot` then stays empty). The dialog owns
  // itself: never delete it.
  static CFindDialog* Open(HWND frame, CFindDialog** slot, const wchar_t* text, bool searchDown, bool matchCase);
};
