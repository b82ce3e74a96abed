#include "ui/dialogs/FilterDlg.h"

#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "ui/dialogs/EditConditionDlg.h"
#include "ui/dialogs/FilterRules.h"

namespace {

constexpr int kPidColumnWidth = 200;
constexpr int kNumberColumnWidth = 100;
constexpr int kIndexColumnWidth = 40;
constexpr int kExpressionColumnWidth = 250;
constexpr int kMatchCaseColumnWidth = 70;
constexpr size_t kProcessTextChars = 128;     // 127 characters
constexpr size_t kExpressionChars = 256;
constexpr size_t kNumberTextChars = 32;

constexpr int kLevelBoxIds[CFilterDlg::kLevelBoxes] = {
    IDC_FILTER_LEVEL, IDC_FILTER_DEBUG, IDC_FILTER_INFO,     IDC_FILTER_WARNING,
    IDC_FILTER_ERROR, IDC_FILTER_PII,   IDC_FILTER_BOOKMARK,
};

bool IsChecked(HWND box) { return box != nullptr && ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetChecked(HWND box, bool checked) {
  if (box != nullptr) ::SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Enable(HWND control, bool enable) {
  if (control != nullptr) ::EnableWindow(control, enable ? TRUE : FALSE);
}

bool ListHoldsPid(const CGrowArray<uint32_t>& pids, uint32_t pid) {
  for (size_t i = 0; i < pids.count; ++i) {
    if (pids[i] == pid) return true;
  }
  return false;
}

void SetRowParam(CListViewCtrl& list, int row, LPARAM param) {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = param;
  list.SendMessage(LVM_SETITEMW, 0, LPARAM(&item));
}

LPARAM RowParam(const CListViewCtrl& list, int row) {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  return list.GetItem(&item) ? item.lParam : 0;
}

}  // namespace

CFilterDlg::~CFilterDlg() { FreeProcesses(); }

void CFilterDlg::FreeProcesses() {
  for (size_t i = 0; i < m_processes.count; ++i) delete m_processes[i];
  m_processes.Free();
}

int CFilterDlg::LoadFromView(const CTraceView& view, bool liveCapture) {
  FreeProcesses();
  CTraceMgr* store = view.m_owner;
  // The job rebuilds the view's index: its filter is not the user's to edit.
  if (view.State() == kViewFilterJob) return 0;
  int copied = 0;
  {
    const CStoreLock lock(store, kLockShared);
    if (!lock.Held()) return 0;
    copied = store->CopyProcessStatsByMask(view.m_groupMask, m_processes);
  }
  // A process missing from the list would lose its check on OK.
  if (!copied) {
    FreeProcesses();
    return 0;
  }
  if (liveCapture) m_processNames.Refresh();
  m_filter = view.m_filter;
  CString format;
  if (!format.LoadString(IDS_FILTER_CAPTION) || !m_title.Format(format.c_str(), view.m_title.c_str())) {
    m_title.Empty();
  }
  return 1;
}

INT_PTR CFilterDlg::RunForView(const CTraceView& view, bool liveCapture, HWND parent) {
  if (!LoadFromView(view, liveCapture)) return -1;
  return DoModal(parent);
}

BOOL CFilterDlg::OnInit() {
  for (int box = 0; box < kLevelBoxes; ++box) m_levelBoxes[box] = GetDlgItem(kLevelBoxIds[box]);
  m_pidBox = GetDlgItem(IDC_FILTER_PID);
  m_processList.SubclassWindow(GetDlgItem(IDC_FILTER_PID_LIST));
  m_conditionList.SubclassWindow(GetDlgItem(IDC_FILTER_CONDITIONS));

  m_processList.InsertColumn(0, L"Pid", LVCFMT_LEFT, kPidColumnWidth);
  m_processList.InsertColumn(1, L"Number", LVCFMT_LEFT, kNumberColumnWidth);
  FillProcessList();

  m_conditionList.InsertColumn(0, L"#", LVCFMT_LEFT, kIndexColumnWidth);
  m_conditionList.InsertColumn(1, L"Expression", LVCFMT_LEFT, kExpressionColumnWidth);
  m_conditionList.InsertColumn(2, L"Match Case", LVCFMT_RIGHT, kMatchCaseColumnWidth);

  UpdateLevelChecks();
  UpdateConditionList();
  EnableConditionButtons(false);
  if (!m_title.IsEmpty()) SetWindowText(m_title.c_str());
  return TRUE;
}

void CFilterDlg::FillProcessList() {
  wchar_t text[kProcessTextChars];
  wchar_t number[kNumberTextChars];
  int row = 0;
  for (size_t i = 0; i < m_processes.count; ++i) {
    const CTraceProcessStat* process = m_processes[i];
    const CString name = m_processNames.GetNameById(process->m_pid);
    StrPrintfW(text, kProcessTextChars, L"%s (pid:%u)", name.c_str(), process->m_pid);
    const int inserted =
        m_processList.InsertItem(row, text, ListHoldsPid(m_filter.m_pids, process->m_pid));
    if (inserted < 0) continue;
    StrPrintfW(number, kNumberTextChars, L"%I64u", process->m_count);
    m_processList.SetItemText(inserted, 1, number);
    SetRowParam(m_processList, inserted, LPARAM(process->m_pid));
    row = inserted + 1;
  }
}

void CFilterDlg::UpdateLevelChecks() {
  const ktdlg::FilterLevelChecks checks = ktdlg::LevelChecksFromFilter(m_filter.m_flags, m_filter.m_levelMask);
  SetChecked(m_levelBoxes[kBoxLevel], checks.levelTest);
  SetChecked(m_levelBoxes[kBoxDebug], checks.debug);
  SetChecked(m_levelBoxes[kBoxInfo], checks.info);
  SetChecked(m_levelBoxes[kBoxWarning], checks.warning);
  SetChecked(m_levelBoxes[kBoxError], checks.error);
  SetChecked(m_levelBoxes[kBoxPersonal], checks.personal);
  SetChecked(m_levelBoxes[kBoxBookmark], checks.bookmark);
  SetChecked(m_pidBox, checks.pidTest);
  UpdateEnabling();
}

void CFilterDlg::UpdateEnabling() {
  const bool levels = IsChecked(m_levelBoxes[kBoxLevel]);
  for (int box = kBoxDebug; box < kLevelBoxes; ++box) Enable(m_levelBoxes[box], levels);
  Enable(m_processList.m_hWnd, IsChecked(m_pidBox));
}

void CFilterDlg::UpdateConditionList() {
  m_conditionList.SetRedraw(FALSE);
  m_conditionList.DeleteAllItems();
  wchar_t number[kNumberTextChars];
  wchar_t expression[kExpressionChars];
  const size_t count = m_filter.ConditionCount();
  for (size_t i = 0; i < count; ++i) {
    StrPrintfW(number, kNumberTextChars, L"%u", unsigned(i));
    const int row = m_conditionList.InsertItem(int(i), number);
    if (row < 0) continue;
    m_filter.FormatCondition(int(i), expression, kExpressionChars);
    m_conditionList.SetItemText(row, 1, expression);
    m_conditionList.SetItemText(row, 2, m_filter.ConditionAt(i)->IsCaseSensitive() ? L"Y" : L"N");
  }
  m_conditionList.SetRedraw(TRUE);
  m_conditionList.Invalidate();
  Enable(GetDlgItem(IDC_FILTER_ADD_CONDITION), count < kMaxFilterConditions);
  // A refilled list has no selection to edit or delete.
  EnableConditionButtons(false);
}

void CFilterDlg::EnableConditionButtons(bool enable) {
  Enable(GetDlgItem(IDC_FILTER_EDIT_CONDITION), enable);
  Enable(GetDlgItem(IDC_FILTER_DELETE_CONDITION), enable);
}

int CFilterDlg::SelectedCondition() const {
  const int row = m_conditionList.GetNextItem(-1, LVNI_SELECTED);
  return row >= 0 && size_t(row) < m_filter.ConditionCount() ? row : -1;
}

void CFilterDlg::EditCondition(bool edit) {
  int index = -1;
  const CTraceFilterCondition* condition = nullptr;
  bool first = false;
  if (edit) {
    index = SelectedCondition();
    if (index >= 0) {
      condition = m_filter.ConditionAt(size_t(index));
      first = index == 0;
    }
  } else {
    first = m_filter.ConditionCount() == 0;
  }
  CEditConditionDlg editor(condition, first);
  if (editor.DoModal(m_hWnd) != IDOK) return;
  m_filter.AddCondition(editor.m_field, editor.m_flags, editor.m_text.c_str(), index);
  UpdateConditionList();
}

LRESULT CFilterDlg::OnMasterBox(WORD code, WORD, HWND) {
  if (code == BN_CLICKED) UpdateEnabling();
  return 0;
}

LRESULT CFilterDlg::OnAddCondition(WORD code, WORD, HWND) {
  if (code == BN_CLICKED) EditCondition(false);
  return 0;
}

LRESULT CFilterDlg::OnEditCondition(WORD code, WORD, HWND) {
  if (code == BN_CLICKED) EditCondition(true);
  return 0;
}

LRESULT CFilterDlg::OnDeleteCondition(WORD code, WORD, HWND) {
  if (code != BN_CLICKED) return 0;
  const int index = SelectedCondition();
  if (index >= 0) {
    m_filter.RemoveCondition(index);
    UpdateConditionList();
  }
  return 0;
}

LRESULT CFilterDlg::OnReset(WORD code, WORD, HWND) {
  if (code != BN_CLICKED) return 0;
  m_filter = CTraceFilter();
  UpdateLevelChecks();
  UpdateConditionList();
  return 0;
}

LRESULT CFilterDlg::OnConditionChanged(int, NMHDR* header) {
  const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
  if ((change->uChanged & LVIF_STATE) != 0) EnableConditionButtons(SelectedCondition() >= 0);
  return 0;
}

LRESULT CFilterDlg::OnConditionDoubleClick(int, NMHDR* header) {
  const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
  if (activate->iItem >= 0 && size_t(activate->iItem) < m_filter.ConditionCount()) EditCondition(true);
  return 0;
}

bool CFilterDlg::OnOk() {
  ktdlg::FilterLevelChecks checks;
  checks.levelTest = IsChecked(m_levelBoxes[kBoxLevel]);
  checks.debug = IsChecked(m_levelBoxes[kBoxDebug]);
  checks.info = IsChecked(m_levelBoxes[kBoxInfo]);
  checks.warning = IsChecked(m_levelBoxes[kBoxWarning]);
  checks.error = IsChecked(m_levelBoxes[kBoxError]);
  checks.personal = IsChecked(m_levelBoxes[kBoxPersonal]);
  checks.bookmark = IsChecked(m_levelBoxes[kBoxBookmark]);
  checks.pidTest = IsChecked(m_pidBox);
  CGrowArray<uint32_t> pids;
  if (checks.pidTest) {
    const int rows = m_processList.GetItemCount();
    for (int row = 0; row < rows; ++row) {
      if (m_processList.GetCheck(row)) pids.Append(uint32_t(RowParam(m_processList, row)));
    }
  }
  ktdlg::ApplyFilterChecks(m_filter, checks, pids.data, pids.count);
  return true;
}
