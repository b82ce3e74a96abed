#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/UiHarness.h"
#include "ui/framework/CommonDialogs.h"
#include "ui/framework/WindowImpl.h"

namespace {

TEST(FontDialog, StartsFromTheGivenFontAndReturnsTheChosenOne) {
  kt_test::CModalRecorder recorder;
  LOGFONTW start = {};
  wcscpy(start.lfFaceName, L"Tahoma");
  start.lfHeight = -13;
  DWORD flagsSeen = 0;
  std::wstring faceSeen;
  recorder.chooseFont = [&](CHOOSEFONTW& request) {
    flagsSeen = request.Flags;
    faceSeen = request.lpLogFont->lfFaceName;
    wcscpy(request.lpLogFont->lfFaceName, L"Courier New");
    request.iPointSize = 120;
    return TRUE;
  };
  CFontDialog font(&start);
  EXPECT_EQ(IDOK, font.DoModal(nullptr));
  EXPECT_EQ(L"Tahoma", faceSeen);
  EXPECT_EQ(DWORD(CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT), flagsSeen);
  EXPECT_STREQ(L"Courier New", font.m_lf.lfFaceName);
  EXPECT_EQ(120, font.PointTenths());

  recorder.chooseFont = nullptr;  // cancelled
  EXPECT_EQ(IDCANCEL, font.DoModal(nullptr));
}

TEST(FolderDialog, GivesTheFileSystemPathOfTheChoice) {
  kt_test::CModalRecorder recorder;
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const size_t length = wcslen(temp);
  if (length > 3 && temp[length - 1] == L'\\') {
    temp[length - 1] = 0;
  }
  UINT flagsSeen = 0;
  recorder.browseFolder = [&](BROWSEINFOW& request) {
    flagsSeen = request.ulFlags;
    return ::ILCreateFromPathW(temp);
  };
  CFolderDialog folder;
  ASSERT_EQ(IDOK, folder.DoModal(nullptr));
  EXPECT_TRUE(flagsSeen & BIF_RETURNONLYFSDIRS);
  EXPECT_EQ(0, _wcsicmp(temp, folder.m_path)) << std::wstring(folder.m_path);

  // A choice without a file-system path (the desktop's "My Computer") is no folder.
  recorder.browseFolder = [](BROWSEINFOW&) {
    PIDLIST_ABSOLUTE computer = nullptr;
    ::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer);
    return computer;
  };
  CFolderDialog other;
  EXPECT_EQ(IDCANCEL, other.DoModal(nullptr));
  EXPECT_STREQ(L"", other.m_path);
  recorder.browseFolder = nullptr;
  EXPECT_EQ(IDCANCEL, other.DoModal(nullptr));
}

// The system's find dialog for real: its registered message reaches the
// owner with the dialog's text and flags, it gets its keys from the loop,
// and closing it clears the owner's slot and deletes it.
int g_findDeleted = 0;

class CTestFindDialog : public CFindReplaceDialogImpl<CTestFindDialog> {
 public:
  ~CTestFindDialog() override { ++g_findDeleted; }
};

class CFindOwner : public CWindowImpl<CFindOwner> {
 public:
  std::vector<std::wstring> found;
  std::vector<bool> down;
  int terminating = 0;
  BEGIN_MSG_MAP(CFindOwner)
    MESSAGE_HANDLER(ktui::FindReplaceMessage(), OnFind)
  END_MSG_MAP()
  LRESULT OnFind(UINT, WPARAM, LPARAM lParam) {
    CTestFindDialog* dialog = CTestFindDialog::GetNotifier(lParam);
    if (dialog == nullptr) {
      return 0;
    }
    if (dialog->IsTerminating()) {
      ++terminating;
    } else if (dialog->FindNext()) {
      found.push_back(dialog->m_findWhat);
      down.push_back(dialog->SearchDown());
    }
    return 0;
  }
};

TEST(FindReplaceDialog, ReportsToItsOwnerAndClearsTheSlotWhenClosed) {
  g_findDeleted = 0;
  kt_test::CTestHostWindow host;
  CFindOwner owner;
  RECT place = {0, 0, 10, 10};
  ASSERT_NE(nullptr, owner.Create(host.get(), &place));
  CTestFindDialog* slot = nullptr;
  auto* dialog = new CTestFindDialog;
  const std::wstring longText(200, L'x');
  HWND hwnd = dialog->Create(TRUE, longText.c_str(), nullptr, FR_DOWN | FR_HIDEWHOLEWORD, owner.m_hWnd, &slot);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(dialog, slot);
  EXPECT_EQ(std::wstring(127, L'x'), dialog->m_findWhat);  // cut to its buffer

  HWND edit = ::GetDlgItem(hwnd, edt1);
  ::SetWindowTextW(edit, L"needle");
  kt_test::ClickButton(hwnd, IDOK);  // "Find Next"
  ASSERT_EQ(1u, owner.found.size());
  EXPECT_EQ(L"needle", owner.found[0]);
  EXPECT_TRUE(owner.down[0]);

  ::SetFocus(edit);
  MSG tab = {edit, WM_KEYDOWN, VK_TAB, 0};
  EXPECT_TRUE(CMessageLoop::IsModelessDialogMessage(&tab));

  kt_test::ClickButton(hwnd, IDCANCEL);
  kt_test::PumpMessages();
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(1, owner.terminating);
  EXPECT_EQ(nullptr, slot);
  EXPECT_EQ(1, g_findDeleted);
  EXPECT_FALSE(CMessageLoop::RemoveModelessDialog(hwnd));
  owner.DestroyWindow();
}

}  // namespace
