#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/dialogs/RealDialog.h"
#include "ui/dialogs/SelectColumnsDlg.h"

namespace {

using kt_test::ClickButton;
using kt_test::ItemEnabled;
using kt_test::ListRows;
using kt_test::SelectRow;
using Rows = std::vector<std::wstring>;

class SelectColumnsDialog : public testing::Test {
 protected:
  void Start(std::vector<uint32_t> order) {
    dialog.m_count = uint32_t(order.size());
    dialog.m_mask = 0;
    for (size_t i = 0; i < order.size(); ++i) {
      dialog.m_order[i] = order[i];
      dialog.m_mask |= order[i];
    }
  }
  INT_PTR Run(std::function<void(HWND)> drive) {
    return kt_test::RunForReal(dialog, host.get(), IDD_SELECT_COLUMNS, std::move(drive));
  }
  std::vector<uint32_t> Order() const { return std::vector<uint32_t>(dialog.m_order, dialog.m_order + dialog.m_count); }

  static HWND Available(HWND hwnd) { return ::GetDlgItem(hwnd, IDC_COLUMNS_AVAILABLE); }
  static HWND Current(HWND hwnd) { return ::GetDlgItem(hwnd, IDC_COLUMNS_CURRENT); }

  kt_test::CTestHostWindow host{700, 500};
  CSelectColumnsDlg dialog;
};

struct Buttons {
  bool add, remove, up, down;
  bool operator==(const Buttons&) const = default;
};

Buttons ButtonsOf(HWND hwnd) {
  return {ItemEnabled(hwnd, IDC_COLUMNS_ADD), ItemEnabled(hwnd, IDC_COLUMNS_REMOVE), ItemEnabled(hwnd, IDC_COLUMNS_UP),
          ItemEnabled(hwnd, IDC_COLUMNS_DOWN)};
}

TEST_F(SelectColumnsDialog, MovesColumnsBetweenAndWithinTheLists) {
  Start({kColumnNumber, kColumnTime, kColumnName, kColumnPid, kColumnMessage});
  Rows available, current, afterMoves;
  Buttons atStart{}, onNumber{}, onTime{}, onMessage{};
  const INT_PTR result = Run([&](HWND hwnd) {
    available = ListRows(Available(hwnd));
    current = ListRows(Current(hwnd));
    atStart = ButtonsOf(hwnd);
    SelectRow(Current(hwnd), 0);
    onNumber = ButtonsOf(hwnd);
    SelectRow(Current(hwnd), 1);
    onTime = ButtonsOf(hwnd);
    SelectRow(Current(hwnd), 4);
    onMessage = ButtonsOf(hwnd);
    // "Delta (us)" behind "Time", then one place up.
    SelectRow(Current(hwnd), 1);
    SelectRow(Available(hwnd), 2);
    ClickButton(hwnd, IDC_COLUMNS_ADD);
    ClickButton(hwnd, IDC_COLUMNS_UP);
    // "Pid" back to the available columns, behind "Module".
    SelectRow(Current(hwnd), 4);
    SelectRow(Available(hwnd), 0);
    ClickButton(hwnd, IDC_COLUMNS_REMOVE);
    // "Dll/Exe Name" to the end.
    SelectRow(Current(hwnd), 3);
    ClickButton(hwnd, IDC_COLUMNS_DOWN);
    afterMoves = ListRows(Current(hwnd));
    kt_test::SaveWindowShot(hwnd, L"select-columns");
    ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ((Rows{L"Module", L"Hint", L"Delta (us)", L"Tid"}), available);
  EXPECT_EQ((Rows{L"#", L"Time", L"Dll/Exe Name", L"Pid", L"Message"}), current);
  EXPECT_EQ((Buttons{false, false, false, false}), atStart);
  EXPECT_EQ((Buttons{false, false, false, true}), onNumber);
  EXPECT_EQ((Buttons{false, true, true, true}), onTime);
  EXPECT_EQ((Buttons{false, false, true, false}), onMessage);
  EXPECT_EQ((Rows{L"#", L"Delta (us)", L"Time", L"Message", L"Dll/Exe Name"}), afterMoves);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ((std::vector<uint32_t>{kColumnNumber, kColumnDelta, kColumnTime, kColumnMessage, kColumnName}), Order());
  EXPECT_EQ(kColumnNumber | kColumnDelta | kColumnTime | kColumnMessage | kColumnName, dialog.m_mask);
  EXPECT_EQ(1u, dialog.m_changed);
}

TEST_F(SelectColumnsDialog, NumberAndMessageNeverLeaveNotEvenByDoubleClick) {
  Start({kColumnNumber, kColumnMessage});
  Rows current;
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::DoubleClickRow(Current(hwnd), 0);
    kt_test::DoubleClickRow(Current(hwnd), 1);
    SelectRow(Current(hwnd), 1);
    // The command itself, as if the disabled button had been pressed.
    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_COLUMNS_REMOVE, BN_CLICKED), 0);
    current = ListRows(Current(hwnd));
    ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ((Rows{L"#", L"Message"}), current);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(2u, dialog.m_count);
  EXPECT_EQ(0u, dialog.m_changed);
}

TEST_F(SelectColumnsDialog, DoubleClicksAddAndRemove) {
  Start({kColumnNumber, kColumnMessage});
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::DoubleClickRow(Available(hwnd), 0);  // "Time" at the end
    kt_test::DoubleClickRow(Available(hwnd), 3);  // "Pid" behind the selected "Time"
    kt_test::DoubleClickRow(Current(hwnd), 2);    // "Time" leaves again
    ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ((std::vector<uint32_t>{kColumnNumber, kColumnMessage, kColumnPid}), Order());
}

TEST_F(SelectColumnsDialog, ResetGivesExactlyFiveColumns) {
  Start({kColumnMessage, kColumnTid, kColumnDelta, kColumnPid, kColumnHint, kColumnName, kColumnModule, kColumnTime,
         kColumnNumber});
  Rows available;
  const INT_PTR result = Run([&](HWND hwnd) {
    ClickButton(hwnd, IDC_COLUMNS_RESET);
    available = ListRows(Available(hwnd));
    ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ((Rows{L"Module", L"Hint", L"Delta (us)", L"Tid"}), available);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 8, 32, 256}), Order());
  EXPECT_EQ(0x12Bu, dialog.m_mask);
  EXPECT_EQ(1u, dialog.m_changed);
}

TEST_F(SelectColumnsDialog, CancelChangesNothing) {
  Start({kColumnNumber, kColumnTime, kColumnMessage});
  const INT_PTR result = Run([&](HWND hwnd) {
    ClickButton(hwnd, IDC_COLUMNS_RESET);
    SelectRow(Current(hwnd), 1);
    ClickButton(hwnd, IDC_COLUMNS_REMOVE);
    ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ((std::vector<uint32_t>{kColumnNumber, kColumnTime, kColumnMessage}), Order());
  EXPECT_EQ(kColumnNumber | kColumnTime | kColumnMessage, dialog.m_mask);
  EXPECT_EQ(0u, dialog.m_changed);
}

}  // namespace
