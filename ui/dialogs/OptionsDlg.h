// The options dialog: edits a copy of the user's settings and writes them
// into the settings block only on OK.
//
//   COptionsDlg dialog;
//   if (dialog.DoModal(frame) == IDOK) {
//     apply what dialog.m_changes names (font, auto scroll, always on top,
//     menu bar) and the grid lines from g_appConfig
//   }
//
// "Font ..." and "..." run the font chooser and the folder browser
// (CommonDialogs.h, through the common-dialog seams); "Select ..." runs
// CSelModDlg.
#pragma once

#include <windows.h>

#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/RefString.h"
#include "resource.h"
#include "ui/dialogs/OptionsRules.h"
#include "ui/framework/DialogImpl.h"

class COptionsDlg : public CStdDialogImpl<COptionsDlg> {
 public:
  enum { IDD = IDD_OPTIONS };

  ktdlg::COptionValues m_values;    // the working copy, filled at start
  ktdlg::COptionChanges m_changes;  // out: valid after IDOK
  CAppConfig* m_config = &g_appConfig;              // in: read at start, written on OK
  const CModuleGroups* m_groups = &g_moduleGroups;  // in: names the ignored groups
  // In: the program's file, whose folder an empty backup folder becomes;
  // empty means this executable.
  CString m_programPath;

  HWND m_folderEdit = nullptr;
  HWND m_backupBox = nullptr;
  HWND m_unlimitedRadio = nullptr;
  HWND m_limitRadio = nullptr;

  BEGIN_MSG_MAP(COptionsDlg)
    COMMAND_HANDLER(IDC_OPT_MAX_MEM, EN_CHANGE, OnMemoryChange)
    COMMAND_HANDLER(IDC_OPT_BACKUP, BN_CLICKED, OnBackup)
    COMMAND_HANDLER(IDC_OPT_BACKUP_UNLIMITED, BN_CLICKED, OnSizeLimit)
    COMMAND_HANDLER(IDC_OPT_BACKUP_LIMIT, BN_CLICKED, OnSizeLimit)
    COMMAND_HANDLER(IDC_OPT_FONT, BN_CLICKED, OnFont)
    COMMAND_HANDLER(IDC_OPT_BACKUP_BROWSE, BN_CLICKED, OnBrowseFolder)
    COMMAND_HANDLER(IDC_OPT_SELECT_MODULES, BN_CLICKED, OnSelectModules)
    COMMAND_HANDLER(IDC_OPT_RESTORE_DEFAULT, BN_CLICKED, OnRestoreDefault)
    CHAIN_MSG_MAP(CStdDialogImpl<COptionsDlg>)
  END_MSG_MAP()

  BEGIN_DDX_MAP(COptionsDlg)
    DDX_CHECK(IDC_OPT_TAB_DBCLOSE, m_values.tabDBClose)
    DDX_CHECK(IDC_OPT_TAB_BACKGROUND, m_values.tabBkGround)
    DDX_CHECK(IDC_OPT_TAB_SYNC_TIME, m_values.tabSyncTime)
    DDX_CHECK(IDC_OPT_AUTO_SCROLL, m_values.autoScroll)
    DDX_CHECK(IDC_OPT_GRID_LINES, m_values.gridLines)
    DDX_CHECK(IDC_OPT_ALWAYS_ON_TOP, m_values.alwaysOnTop)
    DDX_CHECK(IDC_OPT_SHOW_MENU, m_values.showMenu)
    DDX_CHECK(IDC_OPT_HVN, m_values.hvnEnable)
    DDX_CHECK(IDC_OPT_QRC, m_values.qrcEnable)
    DDX_CHECK(IDC_OPT_QRC_LOG, m_values.qrcLogEnable)
    DDX_CHECK(IDC_OPT_QRV, m_values.qrvEnable)
    DDX_CHECK(IDC_OPT_DBWIN, m_values.dbWinEnable)
    DDX_CHECK(IDC_OPT_SORT, m_values.sortEnable)
    DDX_TEXT(IDC_OPT_IGNORE, m_values.ignoredGroups)
    // Both numbers are held within their ranges on OK, so no text of theirs
    // may hold OK back (a cleared size edit may be disabled, out of reach).
    DDX_NUMBER_OR_ZERO(IDC_OPT_MAX_MEM, m_values.maxMem)
    DDX_CHECK(IDC_OPT_BACKUP, m_values.backupOn)
    DDX_TEXT(IDC_OPT_BACKUP_FOLDER, m_values.backupFolder)
    DDX_RADIO(IDC_OPT_BACKUP_UNLIMITED, m_values.sizeLimitOn)
    DDX_NUMBER_OR_ZERO(IDC_OPT_BACKUP_SIZE, m_values.sizeLimit)
  END_DDX_MAP()

  BOOL OnInit();
  bool OnOk();

  LRESULT OnMemoryChange(WORD code, WORD id, HWND control);
  LRESULT OnBackup(WORD code, WORD id, HWND control);
  LRESULT OnSizeLimit(WORD code, WORD id, HWND control);
  LRESULT OnFont(WORD code, WORD id, HWND control);
  LRESULT OnBrowseFolder(WORD code, WORD id, HWND control);
  LRESULT OnSelectModules(WORD code, WORD id, HWND control);
  LRESULT OnRestoreDefault(WORD code, WORD id, HWND control);

  // The folder edit, "..." and both radio buttons while backup is on; the
  // size edit and its arrows while the size limit is on too.
  void UpdateControls();
  void UpdateTraceRange();
  void UpdateFontLabel();

 private:
  uint32_t m_fontChanged = 0;  // becomes m_changes.font on OK
};
