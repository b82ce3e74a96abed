#include "ui/dialogs/OptionsDlg.h"

#include "core/StrUtil.h"
#include "ui/dialogs/SelModDlg.h"
#include "ui/framework/CommonDialogs.h"

namespace {

constexpr int kPointsPerInch = 72;

bool IsChecked(HWND button) { return ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Enable(HWND control, bool enable) {
  if (control != nullptr) ::EnableWindow(control, enable ? TRUE : FALSE);
}

}  // namespace

BOOL COptionsDlg::OnInit() {
  ktui::SetUpDownRange(GetDlgItem(IDC_OPT_MAX_MEM_SPIN), int(kMaxMemMinMB), int(kMaxMemMaxMB));
  ktui::SetUpDownRange(GetDlgItem(IDC_OPT_BACKUP_SIZE_SPIN), int(ktdlg::kLogSizeMinMB), int(ktdlg::kLogSizeMaxMB));
  m_folderEdit = GetDlgItem(IDC_OPT_BACKUP_FOLDER);
  m_backupBox = GetDlgItem(IDC_OPT_BACKUP);
  m_unlimitedRadio = GetDlgItem(IDC_OPT_BACKUP_UNLIMITED);
  m_limitRadio = GetDlgItem(IDC_OPT_BACKUP_LIMIT);

  m_values = ktdlg::OptionValuesFromConfig(*m_config, *m_groups);
  m_changes = ktdlg::COptionChanges();
  m_fontChanged = 0;
  UpdateFontLabel();
  UpdateControls();
  // The controls are loaded after this; the memory edit's change then
  // writes the trace range.
  return TRUE;
}

void COptionsDlg::UpdateControls() {
  const bool backup = m_values.backupOn != 0;
  const bool limit = m_values.sizeLimitOn != 0;
  Enable(m_folderEdit, backup);
  Enable(GetDlgItem(IDC_OPT_BACKUP_BROWSE), backup);
  Enable(m_unlimitedRadio, backup);
  Enable(m_limitRadio, backup);
  ::SendMessageW(m_unlimitedRadio, BM_SETCHECK, limit ? BST_UNCHECKED : BST_CHECKED, 0);
  ::SendMessageW(m_limitRadio, BM_SETCHECK, limit ? BST_CHECKED : BST_UNCHECKED, 0);
  Enable(GetDlgItem(IDC_OPT_BACKUP_SIZE), backup && limit);
  Enable(GetDlgItem(IDC_OPT_BACKUP_SIZE_SPIN), backup && limit);
}

void COptionsDlg::UpdateTraceRange() {
  wchar_t text[ktdlg::kOptionsMemoryTextChars] = {};
  ::GetDlgItemTextW(m_hWnd, IDC_OPT_MAX_MEM, text, int(ktdlg::kOptionsMemoryTextChars));
  SetDlgItemText(IDC_OPT_TRACE_RANGE, ktdlg::FormatTraceRange(ktdlg::LeadingNumber(text)).c_str());
}

void COptionsDlg::UpdateFontLabel() {
  SetDlgItemText(IDC_OPT_FONT_NAME, ktdlg::FormatFontLabel(m_values.fontName.c_str(), m_values.fontPoint).c_str());
}

LRESULT COptionsDlg::OnMemoryChange(WORD, WORD, HWND) {
  UpdateTraceRange();
  return 0;
}

LRESULT COptionsDlg::OnBackup(WORD, WORD, HWND) {
  m_values.backupOn = IsChecked(m_backupBox) ? 1 : 0;
  UpdateControls();
  return 0;
}

LRESULT COptionsDlg::OnSizeLimit(WORD, WORD, HWND) {
  m_values.sizeLimitOn = IsChecked(m_limitRadio) ? 1 : 0;
  UpdateControls();
  return 0;
}

LRESULT COptionsDlg::OnFont(WORD, WORD, HWND) {
  LOGFONTW initial = {};
  StrCopyNW(initial.lfFaceName, LF_FACESIZE, m_values.fontName.c_str());
  HDC dc = ::GetDC(m_hWnd);
  const int pixelsPerInch = dc != nullptr ? ::GetDeviceCaps(dc, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
  if (dc != nullptr) ::ReleaseDC(m_hWnd, dc);
  initial.lfHeight = -::MulDiv(int(m_values.fontPoint / 10), pixelsPerInch, kPointsPerInch);

  CFontDialog font(&initial, CF_SCREENFONTS);
  if (font.DoModal(::GetActiveWindow()) != IDOK) return 0;
  m_fontChanged = 1;
  font.m_lf.lfFaceName[LF_FACESIZE - 1] = 0;
  m_values.fontName = font.m_lf.lfFaceName;
  m_values.fontPoint = font.PointTenths() > 0 ? uint32_t(font.PointTenths()) : 0;
  UpdateFontLabel();
  return 0;
}

LRESULT COptionsDlg::OnBrowseFolder(WORD, WORD, HWND) {
  CFolderDialog folder;
  if (folder.DoModal(::GetActiveWindow()) != IDOK) return 0;
  m_values.backupFolder = folder.m_path;
  ::SetWindowTextW(m_folderEdit, folder.m_path);
  return 0;
}

LRESULT COptionsDlg::OnSelectModules(WORD, WORD, HWND) {
  wchar_t text[ktdlg::kOptionsIgnoreTextChars] = {};
  ::GetDlgItemTextW(m_hWnd, IDC_OPT_IGNORE, text, int(ktdlg::kOptionsIgnoreTextChars));
  CSelModDlg select;
  select.m_groups = m_groups;
  select.m_mask = m_groups->ParseNames(text);
  if (select.DoModal(m_hWnd) == IDOK) {
    SetDlgItemText(IDC_OPT_IGNORE, m_groups->FormatNames(select.m_mask).c_str());
  }
  return 0;
}

LRESULT COptionsDlg::OnRestoreDefault(WORD, WORD, HWND) {
  m_values = ktdlg::DefaultOptionValues();
  m_fontChanged = 1;
  DoDataExchange(kDdxLoad);
  UpdateFontLabel();
  UpdateControls();
  return 0;
}

bool COptionsDlg::OnOk() {
  CString programPath = m_programPath;
  if (programPath.IsEmpty()) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) programPath = path;
  }
  m_changes = ktdlg::StoreOptionValues(m_values, *m_groups, programPath.c_str(), *m_config);
  m_changes.font = m_fontChanged;
  return true;
}
