#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/TraceView.h"
#include "tests/ui/dialogs/RealDialog.h"
#include "ui/dialogs/AddTabDlg.h"

namespace {

using kt_test::ListRows;
using kt_test::SelectRow;
using Rows = std::vector<std::wstring>;

constexpr char kGroupsText[] =
    "[CORE]\nM=kelcore.dll\n"
    "[NETWORK]\nM=kelnet.dll\n"
    "[MEDIA]\nM=kelaudio.dll\n";

// A store's per-process counts: every process, pid 100 (CORE and NETWORK),
// pid 200 (MEDIA and the catch-all group).
class AddTabDialog : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, m_groups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
    AddEntry(0, 0xF, {4, 6, 9, 1});
    AddEntry(100, 0x3, {4, 6, 0, 0});
    AddEntry(200, 0xC, {0, 0, 9, 1});
  }

  void AddEntry(uint32_t pid, uint32_t mask, std::vector<uint64_t> counts) {
    m_owned.push_back(std::make_unique<CTraceProcessStat>(pid));
    CTraceProcessStat* entry = m_owned.back().get();
    entry->m_groupMask = mask;
    entry->m_groupCounts.count = 0;
    for (uint64_t count : counts) entry->m_groupCounts.Append(count);
    m_entries.Append(entry);
  }

  INT_PTR Run(CAddTabDlg& dialog, std::function<void(HWND)> drive) {
    dialog.m_groups = &m_groups;
    return kt_test::RunForReal(dialog, host.get(), IDD_ADD_TAB, std::move(drive));
  }

  static HWND List(HWND dialog) { return ::GetDlgItem(dialog, IDC_ADD_TAB_LIST); }

  kt_test::CTestHostWindow host{700, 500};
  CModuleGroups m_groups;
  ProcessEntries m_entries;
  std::vector<std::unique_ptr<CTraceProcessStat>> m_owned;
};

TEST_F(AddTabDialog, StartsOnTheViewsPidAndGivesTheChosenGroups) {
  CAddTabDlg dialog(0, 200, &m_entries);
  dialog.m_title = L"Add tab to [capture.ktr]";
  Rows combo, rows;
  std::wstring caption, chosen;
  bool okAtStart = true, okAfterChoice = false;
  const INT_PTR result = Run(dialog, [&](HWND hwnd) {
    caption = kt_test::WindowText(hwnd);
    combo = kt_test::ComboRows(hwnd, IDC_ADD_TAB_PID);
    chosen = kt_test::ItemText(hwnd, IDC_ADD_TAB_PID);
    rows = ListRows(List(hwnd));
    okAtStart = kt_test::ItemEnabled(hwnd, IDOK);
    SelectRow(List(hwnd), 0);
    okAfterChoice = kt_test::ItemEnabled(hwnd, IDOK);
    kt_test::SaveWindowShot(hwnd, L"add-tab");
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(L"Add tab to [capture.ktr]", caption);
  EXPECT_EQ((Rows{L"pid:all", L"N/A (pid:100)", L"N/A (pid:200)"}), combo);
  EXPECT_EQ(L"N/A (pid:200)", chosen);
  EXPECT_EQ((Rows{L"MEDIA|9", L"UNKNOWN|1"}), rows);
  EXPECT_FALSE(okAtStart);
  EXPECT_TRUE(okAfterChoice);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(0u, dialog.m_all);
  EXPECT_EQ(200u, dialog.m_pid);
  EXPECT_EQ(0x4u, dialog.m_resultMask);
}

TEST_F(AddTabDialog, ChoosingAllProcessesShowsEveryGroupAndSelectAllTakesThem) {
  CAddTabDlg dialog(0, 100, &m_entries);
  Rows before, after;
  const INT_PTR result = Run(dialog, [&](HWND hwnd) {
    before = ListRows(List(hwnd));
    kt_test::ChooseComboRow(hwnd, IDC_ADD_TAB_PID, 0);
    after = ListRows(List(hwnd));
    kt_test::ClickButton(hwnd, IDC_ADD_TAB_SELECT_ALL);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ((Rows{L"CORE|4", L"NETWORK|6"}), before);
  EXPECT_EQ((Rows{L"CORE|4", L"NETWORK|6", L"MEDIA|9", L"UNKNOWN|1"}), after);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(1u, dialog.m_all);
  EXPECT_EQ(0u, dialog.m_pid);
  EXPECT_EQ(0xFu, dialog.m_resultMask);
}

TEST_F(AddTabDialog, APidWithoutAnEntryStartsOnAllProcesses) {
  CAddTabDlg dialog(0, 999, &m_entries);
  std::wstring chosen;
  const INT_PTR result = Run(dialog, [&](HWND hwnd) {
    chosen = kt_test::ItemText(hwnd, IDC_ADD_TAB_PID);
    SelectRow(List(hwnd), 1);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(L"pid:all", chosen);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(1u, dialog.m_all);
  EXPECT_EQ(0u, dialog.m_pid);
  EXPECT_EQ(0x2u, dialog.m_resultMask);
}

TEST_F(AddTabDialog, ASingleProcessOffersOnlyAllProcessesDisabled) {
  m_entries.count = 2;  // every process and pid 100
  CAddTabDlg dialog(0, 100, &m_entries);
  Rows combo, rows;
  bool comboEnabled = true;
  const INT_PTR result = Run(dialog, [&](HWND hwnd) {
    combo = kt_test::ComboRows(hwnd, IDC_ADD_TAB_PID);
    comboEnabled = kt_test::ItemEnabled(hwnd, IDC_ADD_TAB_PID);
    rows = ListRows(List(hwnd));
    SelectRow(List(hwnd), 3);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ((Rows{L"pid:all"}), combo);
  EXPECT_FALSE(comboEnabled);
  EXPECT_EQ(4u, rows.size());  // the groups of all the store's records
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(1u, dialog.m_all);
  EXPECT_EQ(0x8u, dialog.m_resultMask);
}

TEST_F(AddTabDialog, ADoubleClickTakesThatRowAlone) {
  CAddTabDlg dialog(1, 0, &m_entries);
  std::vector<int> selectedBefore;
  const INT_PTR result = Run(dialog, [&](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDC_ADD_TAB_SELECT_ALL);
    selectedBefore = kt_test::SelectedRows(List(hwnd));
    kt_test::DoubleClickRow(List(hwnd), 2);
  });
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), selectedBefore);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(1u, dialog.m_all);
  EXPECT_EQ(0x4u, dialog.m_resultMask);
}

TEST_F(AddTabDialog, EnterWithoutAGroupKeepsItOpenAndCancelChangesNothing) {
  CAddTabDlg dialog(0, 100, &m_entries);
  dialog.m_resultMask = 0x55;
  bool openAfterEnter = false;
  const INT_PTR result = Run(dialog, [&](HWND hwnd) {
    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    openAfterEnter = kt_test::ModalStillRunning(hwnd);
    kt_test::ChooseComboRow(hwnd, IDC_ADD_TAB_PID, 2);
    kt_test::ClickButton(hwnd, IDC_ADD_TAB_SELECT_ALL);
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_TRUE(openAfterEnter);
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(0u, dialog.m_all);
  EXPECT_EQ(100u, dialog.m_pid);
  EXPECT_EQ(0x55u, dialog.m_resultMask);
}

TEST_F(AddTabDialog, AnEmptyGroupTableOffersNothing) {
  CModuleGroups empty;
  CAddTabDlg dialog(1, 0, &m_entries);
  dialog.m_groups = &empty;
  Rows rows{L"not read"};
  bool ok = true;
  const INT_PTR result = kt_test::RunForReal(dialog, host.get(), IDD_ADD_TAB, [&](HWND hwnd) {
    rows = ListRows(List(hwnd));
    ok = kt_test::ItemEnabled(hwnd, IDOK);
    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_TRUE(rows.empty());
  EXPECT_FALSE(ok);
  EXPECT_EQ(0u, dialog.m_resultMask);
}

}  // namespace
