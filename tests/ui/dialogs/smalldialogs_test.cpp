// The Base64 converter, error lookup and the about box, opened for real.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/AppConfig.h"
#include "core/StrUtil.h"
#include "tests/ui/dialogs/RealDialog.h"
#include "ui/dialogs/AboutDlg.h"
#include "ui/dialogs/Base64ConvDlg.h"
#include "ui/dialogs/ErrorLookUpDlg.h"
#include "ui/dialogs/MessageLibrary.h"

namespace {

using kt_test::ClickButton;
using kt_test::ItemText;

void TypeInto(HWND dialog, int id, const std::wstring& text) { ::SetDlgItemTextW(dialog, id, text.c_str()); }

TEST(Base64ConvDialog, EncodesAndDecodesTheEditsText) {
  kt_test::CTestHostWindow host{700, 500};
  CBase64ConvDlg dialog;
  std::vector<std::wstring> types;
  std::wstring type, encoded, decoded, tooLong, afterEmpty;
  bool openAfterEnter = false;
  const INT_PTR result = kt_test::RunForReal(dialog, host.get(), IDD_BASE64_CONVERT, [&](HWND hwnd) {
    types = kt_test::ComboRows(hwnd, IDC_BASE64_TYPE);
    type = ItemText(hwnd, IDC_BASE64_TYPE);
    TypeInto(hwnd, IDC_BASE64_TEXT, L"abc");
    ClickButton(hwnd, IDC_BASE64_ENCODE);
    encoded = ItemText(hwnd, IDC_BASE64_TEXT);
    ClickButton(hwnd, IDC_BASE64_DECODE);
    decoded = ItemText(hwnd, IDC_BASE64_TEXT);
    // 3070 UTF-8 bytes: the encoded text would not fit with its terminator.
    TypeInto(hwnd, IDC_BASE64_TEXT, std::wstring(1023, L'\x20AC') + L"a");
    ClickButton(hwnd, IDC_BASE64_ENCODE);
    tooLong = ItemText(hwnd, IDC_BASE64_TEXT);
    TypeInto(hwnd, IDC_BASE64_TEXT, L"");
    ClickButton(hwnd, IDC_BASE64_DECODE);
    afterEmpty = ItemText(hwnd, IDC_BASE64_TEXT);
    // Enter outside the edit: the converter has no OK and stays.
    ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    openAfterEnter = kt_test::ModalStillRunning(hwnd);
    TypeInto(hwnd, IDC_BASE64_TEXT, L"Trace message\r\nsecond line");
    ClickButton(hwnd, IDC_BASE64_ENCODE);
    kt_test::SaveWindowShot(hwnd, L"base64");
    ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ((std::vector<std::wstring>{L"UTF8 String"}), types);
  EXPECT_EQ(L"UTF8 String", type);
  EXPECT_EQ(L"YWJj", encoded);
  EXPECT_EQ(L"abc", decoded);
  EXPECT_EQ(L"", tooLong);
  EXPECT_EQ(L"", afterEmpty);
  EXPECT_TRUE(openAfterEnter);
  EXPECT_EQ(IDCANCEL, result);
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// Error lookup through the frame's one call, with the stand-in library
// beside the program or with none there.
class ErrorLookupDialog : public testing::Test {
 protected:
  void TearDown() override { ::DeleteFileW((ProgramFolder() + kMessageLibraryName).c_str()); }

  struct Shown {
    std::wstring found, missing, afterEmpty, caption;
    bool openAfterFind = false;
  };

  INT_PTR Run(Shown* shown, const wchar_t* shot = nullptr) {
    kt_test::CModalRecorder recorder;
    recorder.runReal = true;
    recorder.drive = [&](HWND hwnd) {
      shown->caption = kt_test::WindowText(hwnd);
      TypeInto(hwnd, IDC_ERROR_CODE, L"42");
      ClickButton(hwnd, IDOK);
      shown->found = ItemText(hwnd, IDC_ERROR_TEXT);
      shown->openAfterFind = kt_test::ModalStillRunning(hwnd);
      TypeInto(hwnd, IDC_ERROR_CODE, L"7");
      ClickButton(hwnd, IDOK);
      shown->missing = ItemText(hwnd, IDC_ERROR_TEXT);
      TypeInto(hwnd, IDC_ERROR_CODE, L"");
      ClickButton(hwnd, IDOK);
      shown->afterEmpty = ItemText(hwnd, IDC_ERROR_TEXT);
      TypeInto(hwnd, IDC_ERROR_CODE, L"1");
      ClickButton(hwnd, IDOK);
      if (shot != nullptr) {
        kt_test::SaveWindowShot(hwnd, shot);
      }
      ClickButton(hwnd, IDCANCEL);
    };
    const INT_PTR result = CErrorLookUpDlg::Run(host.get());
    EXPECT_EQ(1u, recorder.dialogs.size());
    return result;
  }

  kt_test::CTestHostWindow host{700, 500};
};

TEST_F(ErrorLookupDialog, ShowsTheLibrarysMessagesWithTheirInsertsAsWritten) {
  ASSERT_TRUE(::CopyFileW((ProgramFolder() + L"kt_test_messages.dll").c_str(),
                          (ProgramFolder() + kMessageLibraryName).c_str(), FALSE));
  ::SetEnvironmentVariableW(L"KT_MESSAGE_DLL_RAN", nullptr);
  Shown shown;
  EXPECT_EQ(IDCANCEL, Run(&shown, L"error-lookup"));
  EXPECT_EQ(L"Error Lookup", shown.caption);
  EXPECT_EQ(L"Insert %1 and %2 stay as they are written.\r\n", shown.found);
  EXPECT_TRUE(shown.openAfterFind);
  EXPECT_EQ(L"Message not found", shown.missing);
  EXPECT_EQ(L"Message not found", shown.afterEmpty);  // an empty code changes nothing
  EXPECT_EQ(0u, ::GetEnvironmentVariableW(L"KT_MESSAGE_DLL_RAN", nullptr, 0));
  // The library was freed with the dialog.
  EXPECT_TRUE(::DeleteFileW((ProgramFolder() + kMessageLibraryName).c_str()));
}

TEST_F(ErrorLookupDialog, WithoutTheLibraryEveryCodeIsNotFound) {
  ::DeleteFileW((ProgramFolder() + kMessageLibraryName).c_str());
  Shown shown;
  EXPECT_EQ(IDCANCEL, Run(&shown));
  EXPECT_EQ(L"Message not found", shown.found);
  EXPECT_EQ(L"Message not found", shown.missing);
}

TEST(AboutDialog, ShowsTheVersionAndEndsWithOkOrEscape) {
  kt_test::CTestHostWindow host{700, 500};
  struct Case {
    const wchar_t* version;
    bool escape;
    const wchar_t* shown;
    INT_PTR result;
  } cases[] = {
      {L"1.2.3.4", false, L"1.2.3.4", IDOK},
      {nullptr, true, L"N/A", IDCANCEL},
      {L"", false, L"N/A", IDOK},
  };
  for (const Case& c : cases) {
    CAboutDlg dialog(c.version);
    std::wstring shown, caption;
    const INT_PTR result = kt_test::RunForReal(dialog, host.get(), IDD_ABOUTBOX, [&](HWND hwnd) {
      shown = ItemText(hwnd, IDC_ABOUT_VERSION);
      caption = kt_test::WindowText(hwnd);
      if (c.version != nullptr && c.version[0] != 0) {
        kt_test::SaveWindowShot(hwnd, L"about");
      }
      if (c.escape) {
        // Through the dialog's own loop, as the key arrives.
        ::PostMessageW(::GetDlgItem(hwnd, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
      } else {
        ClickButton(hwnd, IDOK);
        EXPECT_FALSE(kt_test::ModalStillRunning(hwnd));
      }
    });
    EXPECT_EQ(std::wstring(c.shown), shown);
    EXPECT_EQ(L"About", caption);
    EXPECT_EQ(c.result, result) << (c.escape ? "escape" : "OK");
  }
}

TEST(AboutDialog, ByDefaultShowsTheVersionTheConfigurationRead) {
  wchar_t saved[kVersionTextChars];
  StrCopyNW(saved, kVersionTextChars, g_appConfig.m_version);
  StrCopyNW(g_appConfig.m_version, kVersionTextChars, L"8.7.6.5");
  CAboutDlg dialog;
  StrCopyNW(g_appConfig.m_version, kVersionTextChars, saved);
  EXPECT_STREQ(L"8.7.6.5", dialog.m_version);
  CAboutDlg cut(std::wstring(40, L'9').c_str());
  EXPECT_EQ(std::wstring(31, L'9'), cut.m_version);
}

}  // namespace
