#include "ui/dialogs/AboutDlg.h"

#include "core/AppConfig.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"

CAboutDlg::CAboutDlg() : CAboutDlg(g_appConfig.m_version) {}

CAboutDlg::CAboutDlg(const wchar_t* version) {
  StrCopyNW(m_version, kVersionChars, version != nullptr && version[0] != 0 ? version : kNotAvailableText);
}

BOOL CAboutDlg::OnInit() {
  SetDlgItemText(IDC_ABOUT_VERSION, m_version);
  return TRUE;
}
