#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/dialogs/RealDialog.h"
#include "ui/dialogs/FindDialog.h"
#include "ui/framework/WindowImpl.h"

namespace {

TEST(FindDialogFlags, HideWholeWordAlwaysAndTheSearchsDirectionAndCase) {
  struct Case {
    bool down;
    bool matchCase;
    DWORD flags;
  } cases[] = {
      {false, false, 0x10000},
      {true, false, 0x10001},
      {false, true, 0x10004},
      {true, true, 0x10005},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.flags, FindDialogFlags(c.down, c.matchCase)) << c.down << c.matchCase;
  }
}

// Stands in for the frame: keeps the slot and takes the dialog's reports.
class CFrameStandIn : public CWindowImpl<CFrameStandIn> {
 public:
  CFindDialog* m_findDlg = nullptr;
  std::vector<std::wstring> found;
  int terminating = 0;
  BEGIN_MSG_MAP(CFrameStandIn)
    MESSAGE_HANDLER(ktui::FindReplaceMessage(), OnFind)
  END_MSG_MAP()
  LRESULT OnFind(UINT, WPARAM, LPARAM lParam) {
    CFindDialog* dialog = CFindDialog::GetNotifier(lParam);
    if (dialog != nullptr && dialog->IsTerminating()) {
      ++terminating;
    } else if (dialog != nullptr && dialog->FindNext()) {
      found.push_back(dialog->m_findWhat);
    }
    return 0;
  }
};

class FindDialog : public testing::Test {
 protected:
  void SetUp() override {
    RECT place = {0, 0, 10, 10};
    ASSERT_NE(nullptr, frame.Create(host.get(), &place));
  }
  void TearDown() override {
    if (frame.m_findDlg != nullptr) {
      frame.m_findDlg->DestroyWindow();
      kt_test::PumpMessages();
    }
    frame.DestroyWindow();
  }
  static bool Checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

  kt_test::CTestHostWindow host{700, 500};
  CFrameStandIn frame;
};

TEST_F(FindDialog, OpensOnceWithTheSearchsTextAndFlagsAndClearsTheSlotWhenClosed) {
  CFindDialog* dialog = CFindDialog::Open(frame.m_hWnd, &frame.m_findDlg, L"needle", true, false);
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(dialog, frame.m_findDlg);
  HWND hwnd = dialog->m_hWnd;
  EXPECT_TRUE(::IsWindowVisible(hwnd));
  EXPECT_EQ(L"needle", kt_test::ItemText(hwnd, edt1));
  EXPECT_TRUE(Checked(hwnd, rad2));   // down
  EXPECT_FALSE(Checked(hwnd, chx2));  // match case
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(hwnd, chx1)));  // whole word hidden
  kt_test::SaveWindowShot(hwnd, L"find");

  // Find again while it is open: the same dialog as it was, no second one,
  // and the focus stays where the user put it.
  ::SetFocus(frame.m_hWnd);
  EXPECT_EQ(dialog, CFindDialog::Open(frame.m_hWnd, &frame.m_findDlg, L"other", false, true));
  EXPECT_EQ(L"needle", kt_test::ItemText(hwnd, edt1));
  EXPECT_TRUE(Checked(hwnd, rad2));
  EXPECT_FALSE(Checked(hwnd, chx2));
  EXPECT_EQ(frame.m_hWnd, ::GetFocus());

  kt_test::ClickButton(hwnd, IDOK);  // "Find Next"
  EXPECT_EQ((std::vector<std::wstring>{L"needle"}), frame.found);

  kt_test::ClickButton(hwnd, IDCANCEL);
  kt_test::PumpMessages();
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(1, frame.terminating);
  EXPECT_EQ(nullptr, frame.m_findDlg);

  // And a new one after it closed.
  dialog = CFindDialog::Open(frame.m_hWnd, &frame.m_findDlg, L"again", false, true);
  ASSERT_NE(nullptr, dialog);
  EXPECT_NE(hwnd, dialog->m_hWnd);
  EXPECT_TRUE(Checked(dialog->m_hWnd, rad1));  // up
  EXPECT_TRUE(Checked(dialog->m_hWnd, chx2));
}

TEST_F(FindDialog, TheTextFillsItsBufferAndIsCutOnlyBeyondIt) {
  struct Case {
    bool null;
    size_t length;
    size_t kept;
  } cases[] = {
      {true, 0, 0}, {false, 0, 0}, {false, 126, 126}, {false, 127, 127}, {false, 128, 127}, {false, 300, 127},
  };
  for (const Case& c : cases) {
    const std::wstring text(c.length, L'q');
    const wchar_t* given = c.null ? nullptr : text.c_str();
    CFindDialog* dialog = CFindDialog::Open(frame.m_hWnd, &frame.m_findDlg, given, true, true);
    ASSERT_NE(nullptr, dialog) << c.length;
    const std::wstring kept(c.kept, L'q');
    EXPECT_EQ(kept, dialog->m_findWhat) << c.length;
    EXPECT_EQ(kept, kt_test::ItemText(dialog->m_hWnd, edt1)) << c.length;
    dialog->DestroyWindow();
    kt_test::PumpMessages();
    ASSERT_EQ(nullptr, frame.m_findDlg) << c.length;
  }
  EXPECT_EQ(nullptr, CFindDialog::Open(frame.m_hWnd, nullptr, L"x", true, true));
}

}  // namespace
