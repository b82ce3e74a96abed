#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/ui/dialogs/RealDialog.h"
#include "ui/dialogs/KelFileDialog.h"

namespace {

constexpr wchar_t kFilter[] = L"Trace files (*.ktr)\0*.ktr\0All files\0*.*\0";

TEST(KelFileDialog, StructureSizeFollowsTheSystem) {
  EXPECT_EQ(DWORD(OPENFILENAME_SIZE_VERSION_400W), ktdlg::OpenFileNameSize(4));
  EXPECT_EQ(DWORD(sizeof(OPENFILENAMEW)), ktdlg::OpenFileNameSize(5));
  EXPECT_EQ(DWORD(sizeof(OPENFILENAMEW)), ktdlg::OpenFileNameSize(10));
}

TEST(KelFileDialog, ConstructionFillsTheRequest) {
  kt_test::CTestHostWindow host;
  const std::wstring longName(300, L'n');
  KelFileDialogEx save(FALSE, L"ktr", longName.c_str(), OFN_OVERWRITEPROMPT, kFilter, host.get());
  EXPECT_EQ(0u, save.m_open);
  EXPECT_EQ(DWORD(sizeof(OPENFILENAMEW)), save.m_ofn.lStructSize);
  EXPECT_EQ(host.get(), save.m_ofn.hwndOwner);
  EXPECT_EQ(::GetModuleHandleW(nullptr), save.m_ofn.hInstance);
  EXPECT_EQ(kFilter, save.m_ofn.lpstrFilter);
  EXPECT_EQ(std::wstring(259, L'n'), save.m_fileName);  // cut and terminated
  EXPECT_EQ(save.m_fileName, save.m_ofn.lpstrFile);
  EXPECT_EQ(260u, save.m_ofn.nMaxFile);
  EXPECT_EQ(save.m_fileTitle, save.m_ofn.lpstrFileTitle);
  EXPECT_EQ(256u, save.m_ofn.nMaxFileTitle);
  EXPECT_STREQ(L"ktr", save.m_ofn.lpstrDefExt);
  EXPECT_EQ(DWORD(OFN_OVERWRITEPROMPT | OFN_EXPLORER | OFN_ENABLESIZING | OFN_ENABLEHOOK), save.m_ofn.Flags);
  EXPECT_NE(nullptr, save.m_ofn.lpfnHook);
  EXPECT_EQ(MAKEINTRESOURCEW(IDD_SAVE_TEMPLATE), save.m_ofn.lpTemplateName);

  KelFileDialog open(TRUE);
  EXPECT_EQ(1u, open.m_open);
  EXPECT_EQ(L'\0', open.m_fileName[0]);
  EXPECT_EQ(nullptr, open.m_ofn.hwndOwner);
}

TEST(KelFileDialog, DoModalAsksTheOpenOrSaveDialogAndTakesTheOwnerWhenItHasNone) {
  kt_test::CTestHostWindow host;
  kt_test::CModalRecorder recorder;
  HWND openOwner = nullptr, saveOwner = nullptr;
  recorder.openFile = [&](OPENFILENAMEW& request) {
    openOwner = request.hwndOwner;
    return TRUE;
  };
  recorder.saveFile = [&](OPENFILENAMEW& request) {
    saveOwner = request.hwndOwner;
    return FALSE;
  };
  KelFileDialog open(TRUE);
  EXPECT_EQ(IDOK, open.DoModal(host.get()));
  EXPECT_EQ(host.get(), openOwner);
  KelFileDialogEx save(FALSE, nullptr, nullptr, 0, nullptr, ::GetDesktopWindow());
  EXPECT_EQ(IDCANCEL, save.DoModal(host.get()));
  EXPECT_EQ(::GetDesktopWindow(), saveOwner);  // the constructor's owner stays
}

// The system's dialogs for real. A thread timer runs inside the dialog's
// modal loop and drives it through the hook window once it is up.
CDialogImplBase* g_running = nullptr;
std::function<void(HWND hook)> g_drive;
bool g_driven = false;

void CALLBACK DriveFileDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  if (g_driven || g_running == nullptr || g_running->m_hWnd == nullptr ||
      !::IsWindowVisible(::GetParent(g_running->m_hWnd))) {
    return;
  }
  ::KillTimer(nullptr, timer);
  g_driven = true;
  g_drive(g_running->m_hWnd);
}

void CALLBACK CancelLeftOpen(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (g_running != nullptr && g_running->m_hWnd != nullptr) {
    ADD_FAILURE() << "the file dialog was still open";
    ::PostMessageW(::GetParent(g_running->m_hWnd), WM_COMMAND, IDCANCEL, 0);
  }
}

class RealFileDialog : public testing::Test {
 protected:
  void SetUp() override {
    m_savedOpen = g_getOpenFileName;
    m_savedSave = g_getSaveFileName;
    g_getOpenFileName = &::GetOpenFileNameW;
    g_getSaveFileName = &::GetSaveFileNameW;
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"kt_filedlg_" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(m_folder.c_str(), nullptr);
  }
  void TearDown() override {
    g_getOpenFileName = m_savedOpen;
    g_getSaveFileName = m_savedSave;
    ::DeleteFileW((m_folder + L"\\existing.ktr").c_str());
    ::RemoveDirectoryW(m_folder.c_str());
  }

  template <class D>
  INT_PTR Run(D& dialog, std::function<void(HWND hook)> drive) {
    dialog.m_ofn.lpstrInitialDir = m_folder.c_str();
    dialog.m_ofn.Flags |= OFN_NOCHANGEDIR;
    g_running = &dialog;
    g_drive = std::move(drive);
    g_driven = false;
    const UINT_PTR driver = ::SetTimer(nullptr, 0, 20, &DriveFileDialog);
    const UINT_PTR watchdog = ::SetTimer(nullptr, 0, 15000, &CancelLeftOpen);
    const INT_PTR result = dialog.DoModal(host.get());
    ::KillTimer(nullptr, driver);
    ::KillTimer(nullptr, watchdog);
    g_running = nullptr;
    EXPECT_TRUE(g_driven);
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    return result;
  }

  // Types the name into the dialog's file name box and presses its OK button.
  static void TypeAndConfirm(HWND hook, const wchar_t* name) {
    HWND explorer = ::GetParent(hook);
    ::SendMessageW(explorer, CDM_SETCONTROLTEXT, WPARAM(cmb13), reinterpret_cast<LPARAM>(name));
    ::PostMessageW(explorer, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }

  kt_test::CTestHostWindow host{700, 500};
  std::wstring m_folder;
  GetFileNameFn m_savedOpen = nullptr;
  GetFileNameFn m_savedSave = nullptr;
};

TEST_F(RealFileDialog, SaveReportsTheTickedDumpFileBox) {
  for (bool tick : {true, false}) {
    SCOPED_TRACE(tick ? "ticked" : "not ticked");
    KelFileDialogEx save(FALSE, L"ktr", nullptr, OFN_OVERWRITEPROMPT | OFN_ENABLETEMPLATE, kFilter);
    save.m_saveLocalDumps = tick ? 0 : 1;  // the dialog must write it either way
    std::wstring boxText;
    bool placeholderShown = true;
    const INT_PTR result = Run(save, [&](HWND hook) {
      boxText = kt_test::ItemText(hook, IDC_SAVE_DUMP_FILES);
      placeholderShown = ::IsWindowVisible(::GetDlgItem(hook, IDC_SAVE_PLACEHOLDER)) != FALSE;
      ::CheckDlgButton(hook, IDC_SAVE_DUMP_FILES, tick ? BST_CHECKED : BST_UNCHECKED);
      if (tick) {
        kt_test::SaveWindowShot(::GetParent(hook), L"save");
      }
      TypeAndConfirm(hook, L"saved");
    });
    EXPECT_EQ(L"Save keltrace local dump files", boxText);
    EXPECT_FALSE(placeholderShown);
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(m_folder + L"\\saved.ktr", save.m_fileName);
    EXPECT_EQ(L"saved.ktr", std::wstring(save.m_fileTitle));
    EXPECT_EQ(tick ? 1u : 0u, save.m_saveLocalDumps);
  }
}

TEST_F(RealFileDialog, SaveWithoutTheTemplateHasNoBoxAndLeavesTheFlag) {
  KelFileDialogEx save(FALSE, L"ktr", L"plain.ktr", OFN_OVERWRITEPROMPT, kFilter);
  save.m_saveLocalDumps = 7;
  HWND box = reinterpret_cast<HWND>(1);
  const INT_PTR result = Run(save, [&](HWND hook) {
    box = ::GetDlgItem(hook, IDC_SAVE_DUMP_FILES);
    ::PostMessageW(::GetParent(hook), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_EQ(nullptr, box);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(m_folder + L"\\plain.ktr", save.m_fileName);
  EXPECT_EQ(7u, save.m_saveLocalDumps);
}

TEST_F(RealFileDialog, CancelledSaveChangesNothing) {
  KelFileDialogEx save(FALSE, L"ktr", L"kept.ktr", OFN_ENABLETEMPLATE, kFilter);
  const INT_PTR result = Run(save, [&](HWND hook) {
    ::CheckDlgButton(hook, IDC_SAVE_DUMP_FILES, BST_CHECKED);
    ::PostMessageW(::GetParent(hook), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(0u, save.m_saveLocalDumps);
  EXPECT_EQ(L"kept.ktr", std::wstring(save.m_fileName));
}

TEST_F(RealFileDialog, OpenGivesTheFullPathOfAnExistingFile) {
  const std::wstring existing = m_folder + L"\\existing.ktr";
  HANDLE file = ::CreateFileW(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  ::CloseHandle(file);
  KelFileDialog open(TRUE, L"ktr", nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, kFilter);
  const INT_PTR result = Run(open, [&](HWND hook) { TypeAndConfirm(hook, L"existing.ktr"); });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(existing, open.m_fileName);
}

}  // namespace
