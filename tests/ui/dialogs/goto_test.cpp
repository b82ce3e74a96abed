#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "resource.h"
#include "tests/ui/UiHarness.h"
#include "ui/dialogs/GotoDlg.h"

namespace {

TEST(GotoLine, TypedTextIsHeldWithinTheLines) {
  struct Case {
    const wchar_t* typed;
    uint32_t lineCount;
    bool ok;
    int32_t line;
  } cases[] = {
      {L"5", 10, true, 5},
      {L"0", 10, true, 1},
      {L"1", 10, true, 1},
      {L"10", 10, true, 10},
      {L"11", 10, true, 10},
      {L"-3", 10, true, 1},
      {L"  42\t", 100, true, 42},
      {L"+7", 100, true, 7},
      {L"32768", 70000, true, 32768},          // past the 16-bit range of an up-down
      {L"65536", 70000, true, 65536},          // a count above 65535
      {L"70001", 70000, true, 70000},
      {L"2147483647", 4294967295u, true, INT32_MAX},
      {L"4294967295", 4294967295u, true, INT32_MAX},  // the line is a signed 32-bit number
      {L"99999999999999999999999", 500, true, 500},   // more digits than 64 bits: very large
      {L"-99999999999999999999999", 500, true, 1},
      {L"5", 0, true, 1},                      // no lines: line 1
      {L"", 10, false, 0},
      {L"   ", 10, false, 0},
      {L"abc", 10, false, 0},
      {L"12a", 10, false, 0},
      {L"1 2", 10, false, 0},
      {L"1,000", 10000, false, 0},
      {L"-", 10, false, 0},
      {L"0x10", 100, false, 0},
  };
  for (const Case& c : cases) {
    int32_t line = -77;
    EXPECT_EQ(c.ok, ktdlg::ParseGotoLine(c.typed, c.lineCount, &line)) << std::wstring(c.typed);
    EXPECT_EQ(c.ok ? c.line : -77, line) << std::wstring(c.typed) << " of " << c.lineCount;
  }
  int32_t line = 3;
  EXPECT_FALSE(ktdlg::ParseGotoLine(nullptr, 10, &line));
  EXPECT_EQ(3, line);
}

TEST(GotoLine, LastLineOffered) {
  struct Case {
    uint32_t lineCount;
    int32_t last;
  } cases[] = {{0, 1}, {1, 1}, {32767, 32767}, {65536, 65536}, {2147483647u, INT32_MAX}, {4294967295u, INT32_MAX}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.last, ktdlg::GotoLastLine(c.lineCount)) << c.lineCount;
  }
}

// The dialog opened for real: the modal loop runs and the test drives it
// from inside, as a user would.
class GotoDialog : public ::testing::Test {
 protected:
  INT_PTR Run(std::function<void(HWND)> drive) {
    kt_test::CModalRecorder recorder;
    recorder.runReal = true;
    recorder.drive = std::move(drive);
    recorderInUse = &recorder;
    const INT_PTR result = dialog.DoModal(host.get());
    recorderInUse = nullptr;
    EXPECT_EQ(1u, recorder.dialogs.size());
    if (!recorder.dialogs.empty()) {
      EXPECT_EQ(UINT(IDD_GOTO), recorder.dialogs[0].templateId);
    }
    return result;
  }
  static std::wstring Text(HWND hwnd, int id) {
    wchar_t buffer[64] = {};
    ::GetDlgItemTextW(hwnd, id, buffer, 64);
    return buffer;
  }

  kt_test::CTestHostWindow host{600, 400};
  CGotoDlg dialog;
  kt_test::CModalRecorder* recorderInUse = nullptr;
};

TEST_F(GotoDialog, ShowsTheLineAndOffersEveryLine) {
  dialog.m_line = 40000;
  dialog.m_lineCount = 70000;
  std::wstring shown, caption, afterSpin;
  int lo = 0, hi = 0;
  UINT driven = 0;
  const INT_PTR result = Run([&](HWND hwnd) {
    kt_test::SaveWindowShot(hwnd, L"goto");
    driven = recorderInUse->drivenTemplateId;
    shown = Text(hwnd, IDC_GOTO_LINE);
    wchar_t text[32] = {};
    ::GetWindowTextW(hwnd, text, 32);
    caption = text;
    HWND spin = ::GetDlgItem(hwnd, IDC_GOTO_SPIN);
    ::SendMessageW(spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
    // The arrows go past 32767 and write the number without separators.
    ::SendMessageW(spin, UDM_SETPOS32, 0, 65536);
    afterSpin = Text(hwnd, IDC_GOTO_LINE);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(UINT(IDD_GOTO), driven);
  EXPECT_EQ(L"40000", shown);
  EXPECT_EQ(L"Goto", caption);
  EXPECT_EQ(1, lo);
  EXPECT_EQ(70000, hi);
  EXPECT_EQ(L"65536", afterSpin);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(65536, dialog.m_line);
}

TEST_F(GotoDialog, GotoHoldsTheTypedLineWithinTheLines) {
  struct Case {
    const wchar_t* typed;
    int32_t line;
  } cases[] = {{L"0", 1}, {L"250", 250}, {L"999999", 500}};
  for (const Case& c : cases) {
    dialog.m_line = 3;
    dialog.m_lineCount = 500;
    const INT_PTR result = Run([&](HWND hwnd) {
      ::SetDlgItemTextW(hwnd, IDC_GOTO_LINE, c.typed);
      kt_test::ClickButton(hwnd, IDOK);
    });
    EXPECT_EQ(IDOK, result) << std::wstring(c.typed);
    EXPECT_EQ(c.line, dialog.m_line) << std::wstring(c.typed);
  }
}

TEST_F(GotoDialog, CloseChangesNothing) {
  dialog.m_line = 12;
  dialog.m_lineCount = 100;
  const INT_PTR result = Run([&](HWND hwnd) {
    ::SetDlgItemTextW(hwnd, IDC_GOTO_LINE, L"77");
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(12, dialog.m_line);
  EXPECT_EQ(100u, dialog.m_lineCount);
}

TEST_F(GotoDialog, TextThatIsNoNumberKeepsTheDialogOpenOnTheEdit) {
  dialog.m_line = 12;
  dialog.m_lineCount = 100;
  bool stillOpen = false;
  bool focusOnEdit = false;
  const INT_PTR result = Run([&](HWND hwnd) {
    ::SetDlgItemTextW(hwnd, IDC_GOTO_LINE, L"");
    kt_test::ClickButton(hwnd, IDOK);
    stillOpen = ::IsWindow(hwnd) != FALSE;
    focusOnEdit = ::GetFocus() == ::GetDlgItem(hwnd, IDC_GOTO_LINE);
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(focusOnEdit);
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(12, dialog.m_line);
}

TEST_F(GotoDialog, EnterInTheEditIsGoto) {
  dialog.m_line = 1;
  dialog.m_lineCount = 100;
  const INT_PTR result = Run([&](HWND hwnd) {
    HWND edit = ::GetDlgItem(hwnd, IDC_GOTO_LINE);
    ::SetWindowTextW(edit, L"64");
    ::SetFocus(edit);
    // What the dialog's own loop does with a key: the default button.
    MSG enter = {edit, WM_KEYDOWN, VK_RETURN, 0};
    EXPECT_TRUE(::IsDialogMessageW(hwnd, &enter));
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(64, dialog.m_line);
}

}  // namespace
