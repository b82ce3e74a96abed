// The filter dialog and the condition editor opened for real: the modal
// loops run and the tests drive them from inside, as a user would.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/TraceStore.h"
#include "resource.h"
#include "tests/core/RecordFixture.h"
#include "tests/ui/ControlText.h"
#include "tests/ui/UiHarness.h"
#include "ui/dialogs/EditConditionDlg.h"
#include "ui/dialogs/FilterDlg.h"

namespace {

using kt_test::Text;

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[256] = {};
  ::GetWindowTextW(hwnd, buffer, 256);
  return buffer;
}

bool Checked(HWND hwnd, int id) { return ::IsDlgButtonChecked(hwnd, id) == BST_CHECKED; }
bool Enabled(HWND hwnd, int id) { return ::IsWindowEnabled(::GetDlgItem(hwnd, id)) != FALSE; }
bool IsEditor(HWND hwnd) { return ::GetDlgItem(hwnd, IDC_COND_TEXT) != nullptr; }

using kt_test::Cell;
using kt_test::RowChecked;
using kt_test::Rows;
using kt_test::SetRowChecked;

void SelectRow(HWND hwnd, int listId, int row) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendDlgItemMessageW(hwnd, listId, LVM_SETITEMSTATE, WPARAM(row), LPARAM(&item));
}

// Picks a combo box entry the way the user's choice reaches the dialog.
void Choose(HWND hwnd, int comboId, int index) {
  ::SendDlgItemMessageW(hwnd, comboId, CB_SETCURSEL, WPARAM(index), 0);
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), LPARAM(::GetDlgItem(hwnd, comboId)));
}

int ComboSelection(HWND hwnd, int comboId) { return int(::SendDlgItemMessageW(hwnd, comboId, CB_GETCURSEL, 0, 0)); }

std::wstring ComboEntry(HWND hwnd, int comboId, int index) {
  wchar_t buffer[64] = {};
  if (::SendDlgItemMessageW(hwnd, comboId, CB_GETLBTEXTLEN, WPARAM(index), 0) < 64) {
    ::SendDlgItemMessageW(hwnd, comboId, CB_GETLBTEXT, WPARAM(index), LPARAM(buffer));
  }
  return buffer;
}

// A store that refuses its lock, as a busy capture can.
class CLockedStore : public CTraceFile {
 public:
  int Lock(int, int) override { return 0; }
};

// A loaded file with three processes: 100 (3 records), 200 (1), 300 (2,
// of a group the view does not show).
class FilterDialog : public ::testing::Test {
 protected:
  static constexpr uint32_t kShownGroup = 0x1;
  static constexpr uint32_t kOtherGroup = 0x2;

  void SetUp() override {
    ASSERT_EQ(1, store.SetFileName(L"C:\\logs\\a.ktr", L"a.ktr"));
    Count(100, kShownGroup, 3);
    Count(200, kShownGroup, 1);
    Count(300, kOtherGroup, 2);
    view.m_title = L"a.ktr (pid:all)";
  }

  void Count(uint32_t pid, uint32_t group, int records) {
    RecordSpec spec;
    spec.pid = pid;
    spec.groupFlag = group;
    for (int i = 0; i < records; ++i) {
      OwnedRecord record(spec);
      store.AddToProcessStats(record.get());
    }
  }

  // Runs `dialog` for the view; `drive` gets the filter dialog, `edit` the
  // condition editor whenever the filter dialog opens it.
  INT_PTR Run(std::function<void(HWND)> drive, std::function<void(HWND)> edit = nullptr) {
    kt_test::CModalRecorder recorder;
    recorder.runReal = true;
    recorder.drive = [&](HWND hwnd) {
      if (IsEditor(hwnd)) {
        ++editorRuns;
        if (edit) {
          edit(hwnd);
        } else {
          kt_test::ClickButton(hwnd, IDCANCEL);
        }
      } else {
        drive(hwnd);
      }
    };
    const INT_PTR result = dialog.RunForView(view, false, host.get());
    EXPECT_FALSE(recorder.dialogs.empty());
    if (!recorder.dialogs.empty()) {
      EXPECT_EQ(UINT(IDD_FILTER), recorder.dialogs.back().templateId);
    }
    return result;
  }

  kt_test::CTestHostWindow host{800, 600};
  CTraceFile store;
  CTraceView view{&store, L"all", kShownGroup};
  CFilterDlg dialog;
  int editorRuns = 0;
};

TEST_F(FilterDialog, OpensWithTheViewsFilterShown) {
  ASSERT_EQ(1, view.m_filter.AddProcessId(200));
  view.m_filter.m_flags &= ~kFilterPids;  // a list without its test is shown, not applied
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionModule, kOperatorIs, L"Core.dll", -1));
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionMessage, kOperatorExclude | kConditionOr | kConditionCaseSensitive,
                                          L"Boom", -1));
  std::wstring caption;
  bool levelBox = true, pidBox = true, everyLevelChecked = true, everyLevelDisabled = true;
  bool pidListEnabled = true, editEnabled = true, deleteEnabled = true, addEnabled = false;
  std::vector<std::wstring> processCells, conditionCells;
  std::vector<bool> processChecks;
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::SaveWindowShot(hwnd, L"filter");
    caption = WindowText(hwnd);
    levelBox = Checked(hwnd, IDC_FILTER_LEVEL);
    pidBox = Checked(hwnd, IDC_FILTER_PID);
    for (int id : {IDC_FILTER_DEBUG, IDC_FILTER_INFO, IDC_FILTER_WARNING, IDC_FILTER_ERROR, IDC_FILTER_BOOKMARK}) {
      everyLevelChecked = everyLevelChecked && Checked(hwnd, id);
      everyLevelDisabled = everyLevelDisabled && !Enabled(hwnd, id);
    }
    pidListEnabled = Enabled(hwnd, IDC_FILTER_PID_LIST);
    editEnabled = Enabled(hwnd, IDC_FILTER_EDIT_CONDITION);
    deleteEnabled = Enabled(hwnd, IDC_FILTER_DELETE_CONDITION);
    addEnabled = Enabled(hwnd, IDC_FILTER_ADD_CONDITION);
    for (int row = 0; row < Rows(hwnd, IDC_FILTER_PID_LIST); ++row) {
      processCells.push_back(Cell(hwnd, IDC_FILTER_PID_LIST, row, 0));
      processCells.push_back(Cell(hwnd, IDC_FILTER_PID_LIST, row, 1));
      processChecks.push_back(RowChecked(hwnd, IDC_FILTER_PID_LIST, row));
    }
    for (int row = 0; row < Rows(hwnd, IDC_FILTER_CONDITIONS); ++row) {
      for (int column = 0; column < 3; ++column) conditionCells.push_back(Cell(hwnd, IDC_FILTER_CONDITIONS, row, column));
    }
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(L"Filter tab [a.ktr (pid:all)]", caption);
  EXPECT_FALSE(levelBox);
  EXPECT_FALSE(pidBox);
  EXPECT_TRUE(everyLevelChecked);
  EXPECT_TRUE(everyLevelDisabled);
  EXPECT_FALSE(pidListEnabled);
  EXPECT_FALSE(editEnabled);
  EXPECT_FALSE(deleteEnabled);
  EXPECT_TRUE(addEnabled);
  // Process 300 is of a group the view does not show.
  EXPECT_EQ((std::vector<std::wstring>{L"N/A (pid:100)", L"3", L"N/A (pid:200)", L"1"}), processCells);
  EXPECT_EQ((std::vector<bool>{false, true}), processChecks);
  EXPECT_EQ((std::vector<std::wstring>{L"0", L"AND \"NAME\" IS \"core.dll\"", L"N", L"1",
                                       L"    OR \"MESSAGE\" EXCLUDE \"Boom\"", L"Y"}),
            conditionCells);
  // Cancel: the view's filter is as it was.
  EXPECT_EQ(0u, view.m_filter.m_flags & kFilterPids);
  EXPECT_EQ(2u, view.m_filter.ConditionCount());
}

TEST_F(FilterDialog, LevelAndProcessBoxesMakeTheFilter) {
  bool levelsEnabled = false, listEnabled = false;
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDC_FILTER_LEVEL);
    levelsEnabled = Enabled(hwnd, IDC_FILTER_DEBUG) && Enabled(hwnd, IDC_FILTER_BOOKMARK);
    kt_test::ClickButton(hwnd, IDC_FILTER_DEBUG);
    kt_test::ClickButton(hwnd, IDC_FILTER_INFO);
    kt_test::ClickButton(hwnd, IDC_FILTER_WARNING);
    kt_test::ClickButton(hwnd, IDC_FILTER_BOOKMARK);
    kt_test::ClickButton(hwnd, IDC_FILTER_PID);
    listEnabled = Enabled(hwnd, IDC_FILTER_PID_LIST);
    SetRowChecked(hwnd, IDC_FILTER_PID_LIST, 0, true);
    SetRowChecked(hwnd, IDC_FILTER_PID_LIST, 1, true);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_TRUE(levelsEnabled);
  EXPECT_TRUE(listEnabled);
  // "Error" alone: error and personal-data records.
  EXPECT_EQ(kFilterLevel | kFilterPids, dialog.m_filter.m_flags);
  EXPECT_EQ(24u, dialog.m_filter.m_levelMask);
  ASSERT_EQ(2u, dialog.m_filter.m_pids.count);
  EXPECT_EQ(100u, dialog.m_filter.m_pids[0]);
  EXPECT_EQ(200u, dialog.m_filter.m_pids[1]);
  EXPECT_EQ(0u, view.m_filter.m_flags);  // the caller applies the copy, not the dialog
}

TEST_F(FilterDialog, OkKeepsAThreadTestTheDialogCannotShow) {
  view.m_filter.SetLevelMask(kLevelWarning);
  ASSERT_EQ(1, view.m_filter.AddThreadId(4711));
  const INT_PTR result = Run([&](HWND hwnd) { kt_test::ClickButton(hwnd, IDOK); });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(kFilterLevel | kFilterTids, dialog.m_filter.m_flags);
  EXPECT_EQ(kLevelWarning, dialog.m_filter.m_levelMask);
  ASSERT_EQ(1u, dialog.m_filter.m_tids.count);
  EXPECT_EQ(4711u, dialog.m_filter.m_tids[0]);
}

TEST_F(FilterDialog, ConditionsAreAddedThroughTheEditor) {
  std::vector<bool> connectorEnabled;
  std::vector<int> connectorShown;
  std::vector<std::wstring> cells;
  int editorDialogs = 0;
  const INT_PTR result = Run(
      [&](HWND hwnd) {
        kt_test::ClickButton(hwnd, IDC_FILTER_ADD_CONDITION);
        kt_test::ClickButton(hwnd, IDC_FILTER_ADD_CONDITION);
        kt_test::ClickButton(hwnd, IDC_FILTER_ADD_CONDITION);  // cancelled in the editor
        for (int row = 0; row < Rows(hwnd, IDC_FILTER_CONDITIONS); ++row) {
          for (int column = 0; column < 3; ++column) cells.push_back(Cell(hwnd, IDC_FILTER_CONDITIONS, row, column));
        }
        kt_test::ClickButton(hwnd, IDOK);
      },
      [&](HWND hwnd) {
        ++editorDialogs;
        connectorEnabled.push_back(Enabled(hwnd, IDC_COND_CONNECTOR));
        connectorShown.push_back(ComboSelection(hwnd, IDC_COND_CONNECTOR));
        if (editorDialogs == 1) {
          kt_test::SaveWindowShot(hwnd, L"edit-condition");
          EXPECT_EQ(2, ComboSelection(hwnd, IDC_COND_FIELD));     // a new condition: the message
          EXPECT_EQ(1, ComboSelection(hwnd, IDC_COND_OPERATOR));  // INCLUDE
          EXPECT_EQ(4, int(::SendDlgItemMessageW(hwnd, IDC_COND_OPERATOR, CB_GETCOUNT, 0, 0)));
          Choose(hwnd, IDC_COND_FIELD, 0);
          Choose(hwnd, IDC_COND_OPERATOR, 2);
          ::SetDlgItemTextW(hwnd, IDC_COND_TEXT, L"Net.DLL");
          kt_test::ClickButton(hwnd, IDOK);
        } else if (editorDialogs == 2) {
          Choose(hwnd, IDC_COND_CONNECTOR, 1);
          Choose(hwnd, IDC_COND_FIELD, 1);
          Choose(hwnd, IDC_COND_OPERATOR, 0);
          ::SetDlgItemTextW(hwnd, IDC_COND_TEXT, L"Init");
          kt_test::ClickButton(hwnd, IDC_COND_MATCH_CASE);
          kt_test::ClickButton(hwnd, IDOK);
        } else {
          ::SetDlgItemTextW(hwnd, IDC_COND_TEXT, L"never stored");
          kt_test::ClickButton(hwnd, IDCANCEL);
        }
      });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(3, editorDialogs);
  // The first condition's connector is AND and fixed; later ones may choose.
  EXPECT_EQ((std::vector<bool>{false, true, true}), connectorEnabled);
  EXPECT_EQ((std::vector<int>{0, 0, 0}), connectorShown);
  EXPECT_EQ((std::vector<std::wstring>{L"0", L"AND \"NAME\" IS NOT \"net.dll\"", L"N", L"1",
                                       L"    OR \"HINT\" IS \"Init\"", L"Y"}),
            cells);
  EXPECT_EQ(kFilterConditions, dialog.m_filter.m_flags);
  ASSERT_EQ(2u, dialog.m_filter.ConditionCount());
  EXPECT_EQ(kConditionModule, dialog.m_filter.ConditionAt(0)->m_field);
  EXPECT_EQ(kOperatorIsNot, dialog.m_filter.ConditionAt(0)->m_flags);
  EXPECT_EQ(kConditionHint, dialog.m_filter.ConditionAt(1)->m_field);
  EXPECT_EQ(kOperatorIs | kConditionOr | kConditionCaseSensitive, dialog.m_filter.ConditionAt(1)->m_flags);
}

// The quick filter's conditions are regular expressions with flags 0xC4:
// editing one and pressing OK without another choice keeps it one.
TEST_F(FilterDialog, RegularExpressionConditionKeepsItsOperator) {
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionModule, kOperatorInclude, L"core", -1));
  const uint8_t quick = kOperatorRegex | kConditionOr | kConditionCaseSensitive;
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionMessage, quick, L"Err\\d+", -1));
  int operators = 0;
  int shown = -2;
  std::wstring shownText, listed;
  bool editEnabled = false;
  const INT_PTR result = Run(
      [&](HWND hwnd) {
        listed = Cell(hwnd, IDC_FILTER_CONDITIONS, 1, 1);
        SelectRow(hwnd, IDC_FILTER_CONDITIONS, 1);
        editEnabled = Enabled(hwnd, IDC_FILTER_EDIT_CONDITION);
        kt_test::ClickButton(hwnd, IDC_FILTER_EDIT_CONDITION);
        kt_test::ClickButton(hwnd, IDOK);
      },
      [&](HWND hwnd) {
        operators = int(::SendDlgItemMessageW(hwnd, IDC_COND_OPERATOR, CB_GETCOUNT, 0, 0));
        shown = ComboSelection(hwnd, IDC_COND_OPERATOR);
        shownText = ComboEntry(hwnd, IDC_COND_OPERATOR, shown);
        EXPECT_EQ(L"Err\\d+", Text(hwnd, IDC_COND_TEXT));
        EXPECT_TRUE(Checked(hwnd, IDC_COND_MATCH_CASE));
        EXPECT_EQ(1, ComboSelection(hwnd, IDC_COND_CONNECTOR));
        kt_test::ClickButton(hwnd, IDOK);
      });
  EXPECT_EQ(IDOK, result);
  EXPECT_TRUE(editEnabled);
  EXPECT_EQ(1, editorRuns);
  EXPECT_EQ(5, operators);
  EXPECT_EQ(4, shown);
  EXPECT_EQ(L"REGEX", shownText);
  EXPECT_EQ(L"    OR \"MESSAGE\" REGEX \"Err\\d+\"", listed);  // the list names it as the editor does
  ASSERT_EQ(2u, dialog.m_filter.ConditionCount());
  EXPECT_EQ(quick, dialog.m_filter.ConditionAt(1)->m_flags);
  EXPECT_STREQ(L"Err\\d+", dialog.m_filter.ConditionAt(1)->m_text.c_str());
}

// An expression the filter cannot run is refused when the condition is
// edited: the editor names it and stays open; a valid one is then taken.
TEST_F(FilterDialog, AnExpressionTheFilterCannotRunIsRefusedInTheEditor) {
  const uint8_t quick = kOperatorRegex | kConditionCaseSensitive;
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionMessage, quick, L"Err\\d+", -1));
  const wchar_t* const refused[] = {L"(a)\\1", L"x(?=y)", L"x(?!y)", L"(?<=x)y", L"(unclosed"};
  for (const wchar_t* pattern : refused) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(pattern)));
    kt_test::CPopupRecorder boxes;
    bool focusOnText = false;
    const INT_PTR result = Run(
        [&](HWND hwnd) {
          SelectRow(hwnd, IDC_FILTER_CONDITIONS, 0);
          kt_test::ClickButton(hwnd, IDC_FILTER_EDIT_CONDITION);
          kt_test::ClickButton(hwnd, IDOK);
        },
        [&](HWND hwnd) {
          ::SetDlgItemTextW(hwnd, IDC_COND_TEXT, pattern);
          kt_test::ClickButton(hwnd, IDOK);  // refused: the editor stays open
          focusOnText = ::GetFocus() == ::GetDlgItem(hwnd, IDC_COND_TEXT);
          ::SetDlgItemTextW(hwnd, IDC_COND_TEXT, L"Warn\\d+");
          kt_test::ClickButton(hwnd, IDOK);
        });
    EXPECT_EQ(IDOK, result);
    ASSERT_EQ(1u, boxes.messageBoxes.size());
    EXPECT_NE(std::wstring::npos, boxes.messageBoxes[0].text.find(L"\"" + std::wstring(pattern) + L"\""));
    EXPECT_EQ(UINT(MB_ICONWARNING), boxes.messageBoxes[0].type);
    EXPECT_TRUE(focusOnText);
    ASSERT_EQ(1u, dialog.m_filter.ConditionCount());
    EXPECT_EQ(quick, dialog.m_filter.ConditionAt(0)->m_flags);
    EXPECT_STREQ(L"Warn\\d+", dialog.m_filter.ConditionAt(0)->m_text.c_str());
  }
}

TEST_F(FilterDialog, EditingAConditionReplacesItAndDeleteRemovesIt) {
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionModule, kOperatorInclude, L"a", -1));
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionHint, kOperatorInclude | kConditionOr, L"b", -1));
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionMessage, kOperatorInclude, L"c", -1));
  bool firstConnectorEnabled = true;
  int rowsAfterDelete = -1;
  bool buttonsAfterDelete = true;
  const INT_PTR result = Run(
      [&](HWND hwnd) {
        SelectRow(hwnd, IDC_FILTER_CONDITIONS, 0);
        kt_test::ClickButton(hwnd, IDC_FILTER_EDIT_CONDITION);
        SelectRow(hwnd, IDC_FILTER_CONDITIONS, 1);
        kt_test::ClickButton(hwnd, IDC_FILTER_DELETE_CONDITION);
        rowsAfterDelete = Rows(hwnd, IDC_FILTER_CONDITIONS);
        buttonsAfterDelete = Enabled(hwnd, IDC_FILTER_EDIT_CONDITION) || Enabled(hwnd, IDC_FILTER_DELETE_CONDITION);
        kt_test::ClickButton(hwnd, IDOK);
      },
      [&](HWND hwnd) {
        firstConnectorEnabled = Enabled(hwnd, IDC_COND_CONNECTOR);
        EXPECT_EQ(L"a", Text(hwnd, IDC_COND_TEXT));
        ::SetDlgItemTextW(hwnd, IDC_COND_TEXT, L"A2");
        kt_test::ClickButton(hwnd, IDOK);
      });
  EXPECT_EQ(IDOK, result);
  EXPECT_FALSE(firstConnectorEnabled);
  EXPECT_EQ(2, rowsAfterDelete);
  EXPECT_FALSE(buttonsAfterDelete);
  ASSERT_EQ(2u, dialog.m_filter.ConditionCount());
  EXPECT_STREQ(L"a2", dialog.m_filter.ConditionAt(0)->m_text.c_str());
  EXPECT_STREQ(L"c", dialog.m_filter.ConditionAt(1)->m_text.c_str());
}

TEST_F(FilterDialog, ResetThenOkAcceptsEveryRecord) {
  view.m_filter.SetLevelMask(kLevelError);
  ASSERT_EQ(1, view.m_filter.AddProcessId(100));
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionMessage, kOperatorInclude, L"x", -1));
  bool rowStillChecked = false, pidBox = true, listEnabled = true, levelsChecked = false;
  int conditionRows = -1;
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDC_FILTER_RESET);
    rowStillChecked = RowChecked(hwnd, IDC_FILTER_PID_LIST, 0);
    pidBox = Checked(hwnd, IDC_FILTER_PID);
    listEnabled = Enabled(hwnd, IDC_FILTER_PID_LIST);
    levelsChecked = !Checked(hwnd, IDC_FILTER_LEVEL) && Checked(hwnd, IDC_FILTER_DEBUG);
    conditionRows = Rows(hwnd, IDC_FILTER_CONDITIONS);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_TRUE(rowStillChecked);
  EXPECT_FALSE(pidBox);
  EXPECT_FALSE(listEnabled);
  EXPECT_TRUE(levelsChecked);
  EXPECT_EQ(0, conditionRows);
  EXPECT_EQ(0u, dialog.m_filter.m_flags);
  EXPECT_EQ(0u, dialog.m_filter.ConditionCount());
}

TEST_F(FilterDialog, AddIsDisabledAtSixteenConditions) {
  for (int i = 0; i < 16; ++i) {
    ASSERT_EQ(1, view.m_filter.AddCondition(kConditionMessage, kOperatorInclude, std::to_wstring(i).c_str(), -1));
  }
  bool addEnabled = true;
  const INT_PTR result = Run([&](HWND hwnd) {
    addEnabled = Enabled(hwnd, IDC_FILTER_ADD_CONDITION);
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_FALSE(addEnabled);
  EXPECT_EQ(0, editorRuns);
}

TEST_F(FilterDialog, DoubleClickOnAConditionEditsIt) {
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionModule, kOperatorInclude, L"a", -1));
  ASSERT_EQ(1, view.m_filter.AddCondition(kConditionHint, kOperatorIs, L"b", -1));
  std::wstring edited;
  const INT_PTR result = Run(
      [&](HWND hwnd) {
        HWND list = ::GetDlgItem(hwnd, IDC_FILTER_CONDITIONS);
        RECT row = {};
        row.left = LVIR_BOUNDS;
        ::SendMessageW(list, LVM_GETITEMRECT, 1, LPARAM(&row));
        const LPARAM at = MAKELPARAM(row.left + 5, (row.top + row.bottom) / 2);
        ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(list, WM_LBUTTONUP, 0, at);
        ::SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        ::SendMessageW(list, WM_LBUTTONUP, 0, at);
        // Below the last row: nothing to edit.
        const LPARAM below = MAKELPARAM(row.left + 5, row.bottom + 3 * (row.bottom - row.top));
        ::SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, below);
        ::SendMessageW(list, WM_LBUTTONUP, 0, below);
        kt_test::ClickButton(hwnd, IDCANCEL);
      },
      [&](HWND hwnd) {
        edited = Text(hwnd, IDC_COND_TEXT);
        kt_test::ClickButton(hwnd, IDCANCEL);
      });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(1, editorRuns);
  EXPECT_EQ(L"b", edited);
}

// The live capture's processes are named from the running processes.
TEST_F(FilterDialog, LiveCaptureNamesItsProcesses) {
  Count(::GetCurrentProcessId(), kShownGroup, 1);
  std::wstring name;
  kt_test::CModalRecorder recorder;
  recorder.runReal = true;
  recorder.drive = [&](HWND hwnd) {
    name = Cell(hwnd, IDC_FILTER_PID_LIST, 2, 0);
    kt_test::ClickButton(hwnd, IDCANCEL);
  };
  EXPECT_EQ(IDCANCEL, dialog.RunForView(view, true, host.get()));
  EXPECT_EQ(L"dialogs_tests.exe (pid:" + std::to_wstring(::GetCurrentProcessId()) + L")", name);
}

TEST_F(FilterDialog, ABusyStoreOrViewOpensNoDialog) {
  CLockedStore locked;
  CTraceView lockedView(&locked, L"all", kShownGroup);
  kt_test::CModalRecorder recorder;
  recorder.runReal = true;
  recorder.drive = [](HWND hwnd) { kt_test::ClickButton(hwnd, IDOK); };
  EXPECT_EQ(-1, dialog.RunForView(lockedView, false, host.get()));
  view.ExchangeState(kViewFilterJob);
  EXPECT_EQ(-1, dialog.RunForView(view, false, host.get()));
  EXPECT_TRUE(recorder.dialogs.empty());
}

}  // namespace
