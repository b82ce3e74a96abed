#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/ui/UiHarness.h"
#include "tests/ui/framework/InMemoryDialog.h"
#include "ui/framework/DataExchange.h"
#include "ui/framework/DialogImpl.h"

namespace {

using kt_test::CDialogTemplateBuilder;

constexpr UINT kMsgAnswer = WM_APP + 20;
constexpr LRESULT kAnswer = 77;
constexpr INT_PTR kModalResult = 42;
constexpr LPARAM kInitParam = 1234;

const DLGTEMPLATE* SmallTemplate() {
  static CDialogTemplateBuilder builder = [] {
    CDialogTemplateBuilder b(WS_POPUP | WS_CAPTION | WS_SYSMENU, 120, 60, L"framework test");
    b.Add(CDialogTemplateBuilder::kButton, BS_DEFPUSHBUTTON | WS_TABSTOP, 10, 40, 40, 14, IDOK, L"OK");
    b.Add(CDialogTemplateBuilder::kButton, BS_PUSHBUTTON | WS_TABSTOP, 60, 40, 40, 14, IDCANCEL, L"Cancel");
    return b;
  }();
  return builder.get();
}

using kt_test::InMemory;

class CModalDlg : public CDialogImpl<CModalDlg> {
 public:
  LPARAM initParam = 0;

  CDialogSource GetDialogSource() const { return InMemory(SmallTemplate()); }

  BEGIN_MSG_MAP(CModalDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    COMMAND_ID_HANDLER(IDOK, OnOk)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM lParam) {
    initParam = lParam;
    PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // the modal loop ends the dialog
    return TRUE;
  }
  LRESULT OnOk(WORD, WORD, HWND) {
    EndDialog(kModalResult);
    return 0;
  }
};

TEST(DialogImpl, ModalDialogReturnsTheEndDialogResult) {
  kt_test::CTestHostWindow host;
  kt_test::CModalRecorder recorder;
  recorder.runReal = true;
  CModalDlg dialog;
  EXPECT_EQ(kModalResult, dialog.DoModal(host.get(), kInitParam));
  EXPECT_EQ(kInitParam, dialog.initParam);
  EXPECT_EQ(nullptr, dialog.m_hWnd);
}

int g_destroyed = 0;

class CHeapDlg : public CModelessDialog<CHeapDlg> {
 public:
  bool destroyInInit = false;

  ~CHeapDlg() override { ++g_destroyed; }
  CDialogSource GetDialogSource() const { return InMemory(SmallTemplate()); }

  BEGIN_MSG_MAP(CHeapDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(kMsgAnswer, OnAnswer)
    MESSAGE_HANDLER(WM_CTLCOLORDLG, OnColor)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM) {
    if (destroyInInit) {
      DestroyWindow();
    }
    return TRUE;
  }
  LRESULT OnAnswer(UINT, WPARAM, LPARAM) { return kAnswer; }
  LRESULT OnColor(UINT, WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(::GetStockObject(GRAY_BRUSH)); }
};

class ModelessDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { g_destroyed = 0; }
  kt_test::CTestHostWindow host;
};

TEST_F(ModelessDialogTest, DeletesItselfOnceWhenItsWindowIsDestroyed) {
  auto* dialog = new CHeapDlg;
  HWND hwnd = dialog->Create(host.get());
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(0, g_destroyed);
  ::DestroyWindow(hwnd);
  EXPECT_EQ(1, g_destroyed);
  kt_test::PumpMessages();
  EXPECT_EQ(1, g_destroyed);
}

// Deletion is deferred until the handler that destroyed the window returns:
// the handler still sees its object alive after DestroyWindow.
class CCancelProbeDlg : public CModelessDialog<CCancelProbeDlg> {
 public:
  static int destroyedAfterDestroyWindow;
  ~CCancelProbeDlg() override { ++g_destroyed; }
  CDialogSource GetDialogSource() const { return InMemory(SmallTemplate()); }
  BEGIN_MSG_MAP(CCancelProbeDlg)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
  END_MSG_MAP()
  LRESULT OnCancel(WORD, WORD, HWND) {
    DestroyWindow();
    destroyedAfterDestroyWindow = g_destroyed;
    return 0;
  }
};
int CCancelProbeDlg::destroyedAfterDestroyWindow = -1;

TEST_F(ModelessDialogTest, HandlerThatDestroysTheDialogReturnsIntoALiveObject) {
  auto* dialog = new CCancelProbeDlg;
  HWND hwnd = dialog->Create(host.get());
  ASSERT_NE(nullptr, hwnd);
  ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(0, CCancelProbeDlg::destroyedAfterDestroyWindow);
  EXPECT_EQ(1, g_destroyed);
  EXPECT_FALSE(::IsWindow(hwnd));
}

TEST_F(ModelessDialogTest, DialogDestroyedDuringCreationStaysWithTheCaller) {
  auto* dialog = new CHeapDlg;
  dialog->destroyInInit = true;
  EXPECT_EQ(nullptr, dialog->Create(host.get()));
  EXPECT_EQ(0, g_destroyed);
  delete dialog;
  EXPECT_EQ(1, g_destroyed);
}

TEST_F(ModelessDialogTest, HandlerResultsReachTheSender) {
  auto* dialog = new CHeapDlg;
  HWND hwnd = dialog->Create(host.get());
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(kAnswer, ::SendMessageW(hwnd, kMsgAnswer, 0, 0));  // through DWLP_MSGRESULT
  EXPECT_EQ(reinterpret_cast<LRESULT>(::GetStockObject(GRAY_BRUSH)),
            ::SendMessageW(hwnd, WM_CTLCOLORDLG, 0, 0));  // returned directly
  ::DestroyWindow(hwnd);
  EXPECT_EQ(1, g_destroyed);
}

// Dialog data exchange over an in-memory dialog.
enum : WORD { kHostEdit = 101, kOffsetEdit = 102, kPortEdit = 103, kAnonymousCheck = 104, kShortEdit = 105 };

const DLGTEMPLATE* DdxTemplate() {
  static CDialogTemplateBuilder builder = [] {
    CDialogTemplateBuilder b(WS_POPUP | WS_CAPTION, 160, 110, L"exchange");
    b.Add(CDialogTemplateBuilder::kEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 5, 5, 100, 12, kHostEdit);
    b.Add(CDialogTemplateBuilder::kEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 5, 20, 100, 12, kOffsetEdit);
    b.Add(CDialogTemplateBuilder::kEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 5, 35, 100, 12, kPortEdit);
    b.Add(CDialogTemplateBuilder::kButton, BS_AUTOCHECKBOX | WS_TABSTOP, 5, 50, 100, 12, kAnonymousCheck,
          L"Anonymous");
    b.Add(CDialogTemplateBuilder::kEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 5, 65, 100, 12, kShortEdit);
    return b;
  }();
  return builder.get();
}

class CExchangeDlg : public CDialogImpl<CExchangeDlg>, public CWinDataExchange<CExchangeDlg> {
 public:
  CString host = L"ftp.example";
  int32_t offset = -5;
  uint16_t port = 6000;
  int anonymous = BST_CHECKED;
  wchar_t shortText[8] = L"abc";
  bool recordErrors = true;
  std::vector<UINT> errors;

  CDialogSource GetDialogSource() const { return InMemory(DdxTemplate()); }

  BEGIN_MSG_MAP(CExchangeDlg)
  END_MSG_MAP()

  BEGIN_DDX_MAP(CExchangeDlg)
    DDX_TEXT(kHostEdit, host)
    DDX_INT(kOffsetEdit, offset)
    DDX_UINT(kPortEdit, port)
    DDX_CHECK(kAnonymousCheck, anonymous)
    DDX_TEXT(kShortEdit, shortText)
  END_DDX_MAP()

  void OnDataExchangeError(UINT id, BOOL save) {
    errors.push_back(id);
    if (!recordErrors) {
      CWinDataExchange<CExchangeDlg>::OnDataExchangeError(id, save);
    }
  }

  std::wstring Text(int id) {
    wchar_t buffer[64] = {};
    ::GetDlgItemTextW(m_hWnd, id, buffer, 64);
    return buffer;
  }
  void SetText(int id, const wchar_t* text) { ::SetDlgItemTextW(m_hWnd, id, text); }
};

class DataExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, dialog.Create(host.get()));
    ASSERT_TRUE(dialog.DoDataExchange(FALSE));
  }
  void TearDown() override { dialog.DestroyWindow(); }

  kt_test::CTestHostWindow host;
  CExchangeDlg dialog;
};

TEST_F(DataExchangeTest, LoadsTheControlsAndReadsThemBack) {
  EXPECT_EQ(L"ftp.example", dialog.Text(kHostEdit));
  EXPECT_EQ(L"-5", dialog.Text(kOffsetEdit));
  EXPECT_EQ(L"6000", dialog.Text(kPortEdit));
  EXPECT_EQ(BST_CHECKED, ::IsDlgButtonChecked(dialog.m_hWnd, kAnonymousCheck));
  EXPECT_EQ(L"abc", dialog.Text(kShortEdit));

  dialog.SetText(kHostEdit, L"other.host");
  dialog.SetText(kOffsetEdit, L"-2147483648");
  dialog.SetText(kPortEdit, L" 21 ");
  ::CheckDlgButton(dialog.m_hWnd, kAnonymousCheck, BST_UNCHECKED);
  dialog.SetText(kShortEdit, L"1234567");
  ASSERT_TRUE(dialog.DoDataExchange(TRUE));
  EXPECT_STREQ(L"other.host", dialog.host);
  EXPECT_EQ(INT32_MIN, dialog.offset);
  EXPECT_EQ(21, dialog.port);
  EXPECT_EQ(BST_UNCHECKED, dialog.anonymous);
  EXPECT_STREQ(L"1234567", dialog.shortText);
  EXPECT_TRUE(dialog.errors.empty());
}

TEST_F(DataExchangeTest, BadNumberStopsAtItsControl) {
  const wchar_t* badPorts[] = {L"65536", L"-1", L"12x", L"", L"0x10", L"99999999999999999999"};
  for (const wchar_t* bad : badPorts) {
    dialog.errors.clear();
    dialog.port = 6000;
    dialog.anonymous = BST_CHECKED;
    dialog.shortText[0] = L'q';
    dialog.shortText[1] = 0;
    dialog.SetText(kHostEdit, L"taken.host");
    dialog.SetText(kPortEdit, bad);
    ::CheckDlgButton(dialog.m_hWnd, kAnonymousCheck, BST_UNCHECKED);
    dialog.SetText(kShortEdit, L"later");
    EXPECT_FALSE(dialog.DoDataExchange(TRUE)) << bad;
    ASSERT_EQ(1u, dialog.errors.size()) << bad;
    EXPECT_EQ(UINT(kPortEdit), dialog.errors[0]);
    EXPECT_STREQ(L"taken.host", dialog.host) << bad;  // before the bad control: read
    EXPECT_EQ(6000, dialog.port) << bad;               // the bad one and all after it: kept
    EXPECT_EQ(BST_CHECKED, dialog.anonymous) << bad;
    EXPECT_STREQ(L"q", dialog.shortText) << bad;
  }
}

TEST_F(DataExchangeTest, DefaultErrorHookPutsTheFocusOnTheControl) {
  dialog.recordErrors = false;
  ::SetFocus(::GetDlgItem(dialog.m_hWnd, kHostEdit));
  dialog.SetText(kOffsetEdit, L"ten");
  EXPECT_FALSE(dialog.DoDataExchange(TRUE));
  EXPECT_EQ(::GetDlgItem(dialog.m_hWnd, kOffsetEdit), ::GetFocus());
}

TEST_F(DataExchangeTest, TextIsCutToFitItsBuffer) {
  struct Case {
    const wchar_t* typed;
    const wchar_t* kept;
  } cases[] = {
      {L"1234567", L"1234567"},     // exactly fits with the terminator
      {L"12345678", L"1234567"},    // one over
      {L"123456789abc", L"1234567"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    dialog.SetText(kShortEdit, c.typed);
    EXPECT_TRUE(dialog.DoDataExchange(TRUE)) << std::wstring(c.typed);
    EXPECT_STREQ(c.kept, dialog.shortText) << std::wstring(c.typed);
  }
  EXPECT_TRUE(dialog.errors.empty());
}

TEST_F(DataExchangeTest, UnterminatedBufferLoadsCutToFit) {
  for (wchar_t& c : dialog.shortText) {
    c = L'x';
  }
  ASSERT_TRUE(dialog.DoDataExchange(FALSE, kShortEdit));
  EXPECT_EQ(L"xxxxxxx", dialog.Text(kShortEdit));
}

TEST_F(DataExchangeTest, ValidateReadsNothingIntoTheMembers) {
  dialog.SetText(kHostEdit, L"changed.host");
  dialog.SetText(kOffsetEdit, L"17");
  dialog.SetText(kShortEdit, L"zz");
  EXPECT_TRUE(dialog.DoDataExchange(kDdxValidate));
  EXPECT_STREQ(L"ftp.example", dialog.host);
  EXPECT_EQ(-5, dialog.offset);
  EXPECT_STREQ(L"abc", dialog.shortText);
  dialog.SetText(kPortEdit, L"70000");
  EXPECT_FALSE(dialog.DoDataExchange(kDdxValidate));
  ASSERT_EQ(1u, dialog.errors.size());
  EXPECT_EQ(UINT(kPortEdit), dialog.errors[0]);
}

TEST_F(DataExchangeTest, CheckStateOutsideTheButtonStatesLoadsUnchecked) {
  ::CheckDlgButton(dialog.m_hWnd, kAnonymousCheck, BST_CHECKED);
  dialog.anonymous = 7;
  ASSERT_TRUE(dialog.DoDataExchange(FALSE, kAnonymousCheck));
  EXPECT_EQ(BST_UNCHECKED, ::IsDlgButtonChecked(dialog.m_hWnd, kAnonymousCheck));
}

TEST(DataExchangeNumbers, SignedBoundaries) {
  struct Case {
    const wchar_t* text;
    int64_t minimum;
    int64_t maximum;
    bool ok;
    int64_t value;
  } cases[] = {
      {L"0", INT32_MIN, INT32_MAX, true, 0},
      {L"2147483647", INT32_MIN, INT32_MAX, true, INT32_MAX},
      {L"2147483648", INT32_MIN, INT32_MAX, false, 0},
      {L"-2147483648", INT32_MIN, INT32_MAX, true, INT32_MIN},
      {L"-2147483649", INT32_MIN, INT32_MAX, false, 0},
      {L"-9223372036854775808", INT64_MIN, INT64_MAX, true, INT64_MIN},
      {L"9223372036854775808", INT64_MIN, INT64_MAX, false, 0},
      {L"  +42\t", -100, 100, true, 42},
      {L"-0", 0, 10, true, 0},
      {L"-", -10, 10, false, 0},
      {L"", -10, 10, false, 0},
      {L"4 2", -100, 100, false, 0},
      {L"1e3", -10000, 10000, false, 0},
      {L"-5", 0, 10, false, 0},
  };
  for (const Case& c : cases) {
    int64_t value = -99;
    EXPECT_EQ(c.ok, ktui::ParseSignedNumber(c.text, c.minimum, c.maximum, &value)) << std::wstring(c.text);
    if (c.ok) {
      EXPECT_EQ(c.value, value) << std::wstring(c.text);
    } else {
      EXPECT_EQ(-99, value) << std::wstring(c.text);
    }
  }
}

// The lenient reading of DDX_NUMBER_OR_ZERO: never a failure.
TEST(DataExchangeNumbers, NumbersOrZeroAreHeldWithinTheirBounds) {
  const struct {
    const wchar_t* text;
    int64_t minimum, maximum, value;
  } signedCases[] = {
      {L" 42 ", -100, 100, 42},
      {L"", -100, 100, 0},
      {L"many", -100, 100, 0},
      {L"4 2", -100, 100, 0},
      {L"", 256, 512, 256},  // 0, held within the bounds
      {L"-7", 0, 100, 0},
      {L"99999999999999999999", INT64_MIN, INT64_MAX, INT64_MAX},
      {L"-99999999999999999999", INT64_MIN, INT64_MAX, INT64_MIN},
      {L"-9223372036854775808", INT64_MIN, INT64_MAX, INT64_MIN},
  };
  for (const auto& c : signedCases) {
    EXPECT_EQ(c.value, ktui::ReadSignedOrZero(c.text, c.minimum, c.maximum)) << std::wstring(c.text);
  }
  const struct {
    const wchar_t* text;
    uint64_t maximum, value;
  } unsignedCases[] = {
      {L"30", UINT64_MAX, 30}, {L"", UINT64_MAX, 0},       {L"-5", UINT64_MAX, 0},
      {L"x1", UINT64_MAX, 0},  {L"70000", UINT16_MAX, UINT16_MAX},
      {L"99999999999999999999999", UINT64_MAX, UINT64_MAX},
  };
  for (const auto& c : unsignedCases) {
    EXPECT_EQ(c.value, ktui::ReadUnsignedOrZero(c.text, c.maximum)) << std::wstring(c.text);
  }
}

TEST(DataExchangeNumbers, UnsignedBoundaries) {
  struct Case {
    const wchar_t* text;
    uint64_t maximum;
    bool ok;
    uint64_t value;
  } cases[] = {
      {L"65535", UINT16_MAX, true, 65535},
      {L"65536", UINT16_MAX, false, 0},
      {L"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
      {L"18446744073709551616", UINT64_MAX, false, 0},
      {L"-1", UINT64_MAX, false, 0},
      {L"0", 0, true, 0},
      {L"1", 0, false, 0},
  };
  for (const Case& c : cases) {
    uint64_t value = 99;
    EXPECT_EQ(c.ok, ktui::ParseUnsignedNumber(c.text, c.maximum, &value)) << std::wstring(c.text);
    if (c.ok) {
      EXPECT_EQ(c.value, value) << std::wstring(c.text);
    }
  }
}

}  // namespace
