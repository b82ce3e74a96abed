// The about box: the program's icon, name and file version.
//
//   CAboutDlg about;             // the version CAppConfig read at start
//   about.DoModal(frame);        // IDOK for "OK", IDCANCEL for Escape
#pragma once

#include <windows.h>

#include "resource.h"
#include "ui/framework/DialogImpl.h"

class CAboutDlg : public CStdDialogImpl<CAboutDlg> {
 public:
  enum { IDD = IDD_ABOUTBOX };
  static constexpr size_t kVersionChars = 32;

  // The program's version as g_appConfig keeps it.
  CAboutDlg();
  // The version as "%d.%d.%d.%d"; null or empty shows "N/A". Cut to 31 characters.
  explicit CAboutDlg(const wchar_t* version);

  wchar_t m_version[kVersionChars] = {};

  BEGIN_MSG_MAP(CAboutDlg)
    CHAIN_MSG_MAP(CStdDialogImpl<CAboutDlg>)
  END_MSG_MAP()

  BOOL OnInit();
};
