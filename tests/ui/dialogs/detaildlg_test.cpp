// The detail dialog opened for real: the record's fields, the three views of
// its message, and what Copy and the ways out hand back.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "core/TraceStore.h"
#include "resource.h"
#include "tests/core/RecordFixture.h"
#include "tests/ui/UiHarness.h"
#include "ui/dialogs/DetailDlg.h"
#include "ui/dialogs/DetailRules.h"

namespace {

class CPlainStore : public CTraceMgr {
 public:
  CPlainStore() {
    m_buffer = static_cast<TraceBufferHeader*>(std::malloc(kBytes));
    InitBufferHeader(m_buffer, kBytes);
  }
  ~CPlainStore() override {
    std::free(m_buffer);
    m_buffer = nullptr;
  }
  int GrowBuffer(uint32_t) override { return 0; }
  int Lock(int, int) override { return 1; }
  void Unlock(int) override {}

 private:
  static constexpr uint32_t kBytes = 1 << 16;
};

std::wstring Text(HWND hwnd, int id) {
  std::wstring text(size_t(::GetWindowTextLengthW(::GetDlgItem(hwnd, id))) + 1, L'\0');
  text.resize(size_t(::GetDlgItemTextW(hwnd, id, text.data(), int(text.size()))));
  return text;
}

// Selects a tab as a click on it would: the selection moves, then the
// dialog hears TCN_SELCHANGE.
void SelectTab(HWND dialog, int tab) {
  HWND tabs = ::GetDlgItem(dialog, IDC_DETAIL_TABS);
  ::SendMessageW(tabs, TCM_SETCURSEL, tab, 0);
  NMHDR header = {tabs, UINT_PTR(IDC_DETAIL_TABS), UINT(TCN_SELCHANGE)};
  ::SendMessageW(dialog, WM_NOTIFY, IDC_DETAIL_TABS, reinterpret_cast<LPARAM>(&header));
}

std::wstring ClipboardText(HWND owner) {
  std::wstring text;
  if (!::OpenClipboard(owner)) return text;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* p = static_cast<const wchar_t*>(::GlobalLock(data))) {
      text = p;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

void EmptyClipboard(HWND owner) {
  if (::OpenClipboard(owner)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }
}

class DetailDialog : public ::testing::Test {
 protected:
  INT_PTR Run(std::function<void(HWND)> drive) {
    kt_test::CModalRecorder recorder;
    recorder.runReal = true;
    recorder.drive = std::move(drive);
    const INT_PTR result = dialog.DoModal(host.get());
    EXPECT_EQ(1u, recorder.dialogs.size());
    if (!recorder.dialogs.empty()) {
      EXPECT_EQ(UINT(IDD_DETAIL), recorder.dialogs[0].templateId);
    }
    return result;
  }

  kt_test::CTestHostWindow host{700, 500};
  CDetailDlg dialog;
};

TEST_F(DetailDialog, FillsItsFieldsFromTheRecord) {
  CPlainStore store;
  RecordSpec spec;
  spec.pid = 4321;
  spec.tid = 99;
  spec.level = kLevelWarning | kLevelError;
  spec.module = L"kelnet.dll";
  spec.hint = L"socket";
  spec.message = L"connect failed";
  TraceRecord* record = AddRecord(&store, spec);
  ASSERT_NE(nullptr, record);
  record->groupName = L"NETWORK";
  dialog.SetRecord(*record, 41);
  EXPECT_STREQ(L"42", dialog.m_number);
  EXPECT_STREQ(L"Warning", dialog.m_level);
  EXPECT_STREQ(L"12:00:00.000 01/02/24", dialog.m_time);
  EXPECT_STREQ(L"NETWORK", dialog.m_module);
  EXPECT_STREQ(L"[4321:99]", dialog.m_procThread);
  EXPECT_STREQ(L"kelnet.dll", dialog.m_name);
  EXPECT_STREQ(L"socket", dialog.m_hint);
  EXPECT_STREQ(L"connect failed", dialog.m_message);

  std::wstring shown[8];
  bool editInsideTabs = false;
  std::wstring caption;
  const INT_PTR result = Run([&](HWND hwnd) {
    const int ids[] = {IDC_DETAIL_NUMBER, IDC_DETAIL_LEVEL, IDC_DETAIL_TIME, IDC_DETAIL_MODULE,
                       IDC_DETAIL_PID_TID, IDC_DETAIL_NAME, IDC_DETAIL_HINT, IDC_DETAIL_MESSAGE};
    for (size_t i = 0; i < 8; ++i) shown[i] = Text(hwnd, ids[i]);
    wchar_t text[32] = {};
    ::GetWindowTextW(hwnd, text, 32);
    caption = text;
    RECT tabs, edit, item;
    ::GetWindowRect(::GetDlgItem(hwnd, IDC_DETAIL_TABS), &tabs);
    ::GetWindowRect(::GetDlgItem(hwnd, IDC_DETAIL_MESSAGE), &edit);
    ::SendDlgItemMessageW(hwnd, IDC_DETAIL_TABS, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    editInsideTabs = edit.left == tabs.left && edit.right == tabs.right && edit.bottom == tabs.bottom &&
                     edit.top == tabs.top + (item.bottom - item.top) + 2;
    kt_test::SaveWindowShot(hwnd, L"detail");
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(L"Detail", caption);
  EXPECT_EQ(L"42", shown[0]);
  EXPECT_EQ(L"Warning", shown[1]);
  EXPECT_EQ(L"12:00:00.000 01/02/24", shown[2]);
  EXPECT_EQ(L"NETWORK", shown[3]);
  EXPECT_EQ(L"[4321:99]", shown[4]);
  EXPECT_EQ(L"kelnet.dll", shown[5]);
  EXPECT_EQ(L"socket", shown[6]);
  EXPECT_EQ(L"connect failed", shown[7]);
  EXPECT_TRUE(editInsideTabs);
}

TEST_F(DetailDialog, TabsShowTheMessageDecodedAndAsHex) {
  dialog.m_message = L"PLOGHVN:[id],[aGVsbG8=]tail";
  std::wstring tabs[4];
  int tabCount = 0;
  std::wstring titles[3];
  const INT_PTR result = Run([&](HWND hwnd) {
    HWND tabControl = ::GetDlgItem(hwnd, IDC_DETAIL_TABS);
    tabCount = int(::SendMessageW(tabControl, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < 3; ++i) {
      wchar_t title[64] = {};
      TCITEMW item = {};
      item.mask = TCIF_TEXT;
      item.pszText = title;
      item.cchTextMax = 64;
      ::SendMessageW(tabControl, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
      titles[i] = title;
    }
    tabs[0] = Text(hwnd, IDC_DETAIL_MESSAGE);
    SelectTab(hwnd, CDetailDlg::kTabHvnDecode);
    tabs[1] = Text(hwnd, IDC_DETAIL_MESSAGE);
    // The hex view dumps the record's message, not what was shown before.
    SelectTab(hwnd, CDetailDlg::kTabHex);
    tabs[2] = Text(hwnd, IDC_DETAIL_MESSAGE);
    SelectTab(hwnd, CDetailDlg::kTabDefault);
    tabs[3] = Text(hwnd, IDC_DETAIL_MESSAGE);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(3, tabCount);
  EXPECT_EQ(L"Default", titles[0]);
  EXPECT_EQ(L"HVN Base64 Decode", titles[1]);
  EXPECT_EQ(L"HEX View", titles[2]);
  EXPECT_EQ(L"PLOGHVN:[id],[aGVsbG8=]tail", tabs[0]);
  EXPECT_EQ(L"PLOGHVN:[id],[hello]", tabs[1]);
  EXPECT_EQ(FormatHexView(L"PLOGHVN:[id],[aGVsbG8=]tail"), tabs[2]);
  EXPECT_EQ(tabs[0], tabs[3]);
}

TEST_F(DetailDialog, CopyFromTheHexTabCopiesTheDumpCutAndCloses) {
  std::wstring message;
  for (int i = 0; i < 300; ++i) message += wchar_t(L'a' + i % 26);
  dialog.m_message = message.c_str();
  EmptyClipboard(host.get());
  bool closed = false;
  const INT_PTR result = Run([&](HWND hwnd) {
    SelectTab(hwnd, CDetailDlg::kTabHex);
    kt_test::ClickButton(hwnd, IDC_DETAIL_COPY_CLOSE);
    closed = true;
  });
  EXPECT_TRUE(closed);
  EXPECT_EQ(IDOK, result);
  const std::wstring dump = FormatHexView(message);
  ASSERT_GT(dump.size(), kDetailCopyChars);
  EXPECT_EQ(dump.substr(0, kDetailCopyChars), ClipboardText(host.get()));
}

TEST_F(DetailDialog, CopyFromTheDefaultTabCopiesTheMessage) {
  dialog.m_message = L"line one";
  EmptyClipboard(host.get());
  const INT_PTR result = Run([&](HWND hwnd) { kt_test::ClickButton(hwnd, IDC_DETAIL_COPY_CLOSE); });
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(L"line one", ClipboardText(host.get()));
}

TEST_F(DetailDialog, EscapeEndsWithCancelAndChangesNothing) {
  dialog.m_message = L"kept";
  dialog.m_hint = L"hint";
  const INT_PTR result = Run([&](HWND hwnd) {
    SelectTab(hwnd, CDetailDlg::kTabHex);
    HWND close = ::GetDlgItem(hwnd, IDOK);
    ::SetFocus(close);
    MSG escape = {close, WM_KEYDOWN, VK_ESCAPE, 0};
    EXPECT_TRUE(::IsDialogMessageW(hwnd, &escape));
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_STREQ(L"kept", dialog.m_message);
  EXPECT_STREQ(L"hint", dialog.m_hint);
}

}  // namespace
