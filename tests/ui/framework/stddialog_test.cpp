#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "resource.h"
#include "tests/ui/UiHarness.h"
#include "tests/ui/framework/InMemoryDialog.h"
#include "ui/framework/DialogImpl.h"
#include "ui/framework/Dispatch.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/WindowImpl.h"

namespace {

using kt_test::CDialogTemplateBuilder;

enum : WORD {
  kNameEdit = 201,
  kCountEdit = 202,
  kFlagCheck = 203,
  kRadioFirst = 204,
  kRadioSecond = 205,
  kKindCombo = 206,
  kDrawnButton = 207,
  kAfterRadios = 208,
  kSpin = 209,
};

constexpr uint32_t kCountMax = 100;

const DLGTEMPLATE* StdTemplate() {
  static CDialogTemplateBuilder builder = [] {
    CDialogTemplateBuilder b(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 200, 130, L"standard");
    b.Add(CDialogTemplateBuilder::kEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 5, 5, 100, 12, kNameEdit);
    b.Add(CDialogTemplateBuilder::kEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 5, 20, 100, 12, kCountEdit);
    b.Add(CDialogTemplateBuilder::kButton, BS_AUTOCHECKBOX | WS_TABSTOP, 5, 35, 100, 12, kFlagCheck, L"Flag");
    b.Add(CDialogTemplateBuilder::kButton, BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 5, 50, 60, 12, kRadioFirst,
          L"First");
    b.Add(CDialogTemplateBuilder::kButton, BS_AUTORADIOBUTTON, 70, 50, 60, 12, kRadioSecond, L"Second");
    b.Add(CDialogTemplateBuilder::kButton, BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 135, 50, 60, 12,
          kAfterRadios, L"Other group");
    b.Add(CDialogTemplateBuilder::kComboBox, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 5, 65, 100, 60,
          kKindCombo);
    b.Add(CDialogTemplateBuilder::kButton, BS_OWNERDRAW, 110, 65, 40, 14, kDrawnButton, L"drawn");
    b.Add(CDialogTemplateBuilder::kButton, BS_DEFPUSHBUTTON | WS_TABSTOP, 40, 110, 50, 14, IDOK, L"OK");
    b.Add(CDialogTemplateBuilder::kButton, BS_PUSHBUTTON | WS_TABSTOP, 100, 110, 50, 14, IDCANCEL, L"Cancel");
    return b;
  }();
  return builder.get();
}

using kt_test::InMemory;

// A framework window class bound to a dialog's control by DDX_CONTROL: it
// counts the owner-draw and custom-draw messages reflected to it.
class CDrawnButton : public CWindowImpl<CDrawnButton> {
 public:
  int drawItems = 0;
  int customDraws = 0;
  BEGIN_MSG_MAP(CDrawnButton)
    MESSAGE_HANDLER(OCM_DRAWITEM, OnDrawItem)
    MESSAGE_HANDLER(OCM_NOTIFY, OnNotify)
  END_MSG_MAP()
  LRESULT OnDrawItem(UINT, WPARAM, LPARAM) {
    ++drawItems;
    return TRUE;
  }
  LRESULT OnNotify(UINT, WPARAM, LPARAM lParam) {
    ++customDraws;
    return reinterpret_cast<const NMHDR*>(lParam)->code == UINT(NM_CUSTOMDRAW) ? CDRF_SKIPDEFAULT : 0;
  }
};

template <class TBase>
class CStdTestDlgT : public CStdDialogImpl<CStdTestDlgT<TBase>, TBase> {
  using Base = CStdDialogImpl<CStdTestDlgT<TBase>, TBase>;

 public:
  wchar_t name[16] = L"first";
  uint32_t count = 7;
  uint32_t flag = 1;
  int radio = 1;
  uint32_t kind = 2;
  CDrawnButton drawn;
  int inits = 0;
  int oks = 0;
  bool refuseOk = false;
  RECT windowAtInit = {};
  RECT ownerAtInit = {};

  CDialogSource GetDialogSource() const { return InMemory(StdTemplate()); }

  BEGIN_MSG_MAP(CStdTestDlgT)
    CHAIN_MSG_MAP(Base)
  END_MSG_MAP()

  BEGIN_DDX_MAP(CStdTestDlgT)
    DDX_TEXT(kNameEdit, name)
    DDX_INT_RANGE(kCountEdit, count, 1, kCountMax)
    DDX_CHECK(kFlagCheck, flag)
    DDX_RADIO(kRadioFirst, radio)
    DDX_COMBO_INDEX(kKindCombo, kind)
    DDX_CONTROL(kDrawnButton, drawn)
  END_DDX_MAP()

  // The combo box gets its entries before the controls are loaded.
  BOOL OnInit() {
    for (const wchar_t* entry : {L"zero", L"one", L"two"}) {
      ::SendDlgItemMessageW(this->m_hWnd, kKindCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }
    ++inits;
    this->GetWindowRect(&windowAtInit);
    ::GetWindowRect(::GetWindow(this->m_hWnd, GW_OWNER), &ownerAtInit);
    return TRUE;
  }
  bool OnOk() {
    ++oks;
    return !refuseOk;
  }

  std::wstring Text(int id) const {
    wchar_t buffer[64] = {};
    ::GetDlgItemTextW(this->m_hWnd, id, buffer, 64);
    return buffer;
  }
};

class CModalStdDlg : public CStdTestDlgT<CDialogImpl<CModalStdDlg>> {};
class CModelessStdDlg : public CStdTestDlgT<CModelessDialog<CModelessStdDlg>> {};

class StdDialogTest : public ::testing::Test {
 protected:
  INT_PTR RunWith(CModalStdDlg& dialog, std::function<void(HWND)> drive) {
    kt_test::CModalRecorder recorder;
    recorder.runReal = true;
    recorder.drive = std::move(drive);
    return dialog.DoModal(host.get());
  }
  kt_test::CTestHostWindow host{600, 400};
};

TEST_F(StdDialogTest, StartsCentredWithTheMembersInTheControls) {
  CModalStdDlg dialog;
  std::wstring name, count;
  UINT flag = 0, first = 0, second = 0;
  LRESULT kind = -1;
  const INT_PTR result = RunWith(dialog, [&](HWND hwnd) {
    name = dialog.Text(kNameEdit);
    count = dialog.Text(kCountEdit);
    flag = ::IsDlgButtonChecked(hwnd, kFlagCheck);
    first = ::IsDlgButtonChecked(hwnd, kRadioFirst);
    second = ::IsDlgButtonChecked(hwnd, kRadioSecond);
    kind = ::SendDlgItemMessageW(hwnd, kKindCombo, CB_GETCURSEL, 0, 0);
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(1, dialog.inits);
  EXPECT_EQ(L"first", name);
  EXPECT_EQ(L"7", count);
  EXPECT_EQ(UINT(BST_CHECKED), flag);
  EXPECT_EQ(UINT(BST_UNCHECKED), first);
  EXPECT_EQ(UINT(BST_CHECKED), second);
  EXPECT_EQ(2, kind);
  // A dialog over a child window is owned by its top-level window.
  const RECT over = dialog.ownerAtInit;
  EXPECT_GT(over.right - over.left, 0);
  const RECT self = dialog.windowAtInit;
  EXPECT_NEAR((over.left + over.right) / 2, (self.left + self.right) / 2, 1);
  EXPECT_NEAR((over.top + over.bottom) / 2, (self.top + self.bottom) / 2, 1);
}

TEST_F(StdDialogTest, OkReadsTheControlsBackAndEndsWithOne) {
  CModalStdDlg dialog;
  const INT_PTR result = RunWith(dialog, [&](HWND hwnd) {
    ::SetDlgItemTextW(hwnd, kNameEdit, L"a name far longer than sixteen");
    ::SetDlgItemTextW(hwnd, kCountEdit, L"100");
    ::CheckDlgButton(hwnd, kFlagCheck, BST_UNCHECKED);
    kt_test::ClickButton(hwnd, kRadioFirst);
    ::SendDlgItemMessageW(hwnd, kKindCombo, CB_SETCURSEL, 0, 0);
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  EXPECT_STREQ(L"a name far long", dialog.name);
  EXPECT_EQ(100u, dialog.count);
  EXPECT_EQ(0u, dialog.flag);
  EXPECT_EQ(0, dialog.radio);
  EXPECT_EQ(0u, dialog.kind);
  EXPECT_EQ(1, dialog.oks);
}

// A field that does not hold a valid value keeps the dialog open with the
// focus on it, and no member changes, also those before it; Cancel then
// leaves every member as the caller set it.
TEST_F(StdDialogTest, FailedExchangeKeepsTheDialogOpenAndTheMembersUntouched) {
  const wchar_t* badCounts[] = {L"0", L"101", L"seven", L""};
  for (const wchar_t* bad : badCounts) {
    CModalStdDlg dialog;
    bool stillOpen = false;
    bool focusOnCount = false;
    const INT_PTR result = RunWith(dialog, [&](HWND hwnd) {
      ::SetDlgItemTextW(hwnd, kNameEdit, L"typed");
      ::SetDlgItemTextW(hwnd, kCountEdit, bad);
      kt_test::ClickButton(hwnd, IDOK);
      stillOpen = ::IsWindow(hwnd) && dialog.m_hWnd == hwnd;
      focusOnCount = ::GetFocus() == ::GetDlgItem(hwnd, kCountEdit);
      kt_test::ClickButton(hwnd, IDCANCEL);
    });
    EXPECT_EQ(IDCANCEL, result) << std::wstring(bad);
    EXPECT_TRUE(stillOpen) << std::wstring(bad);
    EXPECT_TRUE(focusOnCount) << std::wstring(bad);
    EXPECT_STREQ(L"first", dialog.name) << std::wstring(bad);
    EXPECT_EQ(7u, dialog.count) << std::wstring(bad);
    EXPECT_EQ(0, dialog.oks) << std::wstring(bad);
  }
}

TEST_F(StdDialogTest, OkRefusedByTheDialogKeepsItOpen) {
  CModalStdDlg dialog;
  dialog.refuseOk = true;
  bool stillOpen = false;
  const INT_PTR result = RunWith(dialog, [&](HWND hwnd) {
    kt_test::ClickButton(hwnd, IDOK);
    stillOpen = ::IsWindow(hwnd);
    dialog.refuseOk = false;
    kt_test::ClickButton(hwnd, IDOK);
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(2, dialog.oks);
}

TEST_F(StdDialogTest, OwnerDrawAndCustomDrawReachTheBoundControl) {
  CModalStdDlg dialog;
  LRESULT customDrawAnswer = -1;
  int drawsBefore = -1;
  const INT_PTR result = RunWith(dialog, [&](HWND hwnd) {
    HWND drawn = ::GetDlgItem(hwnd, kDrawnButton);
    EXPECT_EQ(drawn, dialog.drawn.m_hWnd);
    drawsBefore = dialog.drawn.drawItems;
    DRAWITEMSTRUCT draw = {};
    draw.CtlType = ODT_BUTTON;
    draw.CtlID = kDrawnButton;
    draw.hwndItem = drawn;
    ::SendMessageW(hwnd, WM_DRAWITEM, kDrawnButton, reinterpret_cast<LPARAM>(&draw));
    NMCUSTOMDRAW custom = {};
    custom.hdr.hwndFrom = drawn;
    custom.hdr.idFrom = kDrawnButton;
    custom.hdr.code = UINT(NM_CUSTOMDRAW);
    customDrawAnswer = ::SendMessageW(hwnd, WM_NOTIFY, kDrawnButton, reinterpret_cast<LPARAM>(&custom));
    kt_test::ClickButton(hwnd, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_GE(dialog.drawn.drawItems, drawsBefore + 1);
  EXPECT_EQ(1, dialog.drawn.customDraws);
  // The reflected answer reaches the sender (through DWLP_MSGRESULT).
  EXPECT_EQ(CDRF_SKIPDEFAULT, customDrawAnswer);
}

TEST(DataExchangeEntries, RadioAndComboLoadNothingForAnIndexOutside) {
  kt_test::CTestHostWindow host;
  kt_test::CModalRecorder recorder;
  recorder.runReal = true;
  CModalStdDlg dialog;
  dialog.radio = 5;
  dialog.kind = 9;
  dialog.flag = 5;
  UINT first = 9, second = 9, flag = 9;
  LRESULT kind = 9;
  bool okAccepted = true;
  recorder.drive = [&](HWND hwnd) {
    first = ::IsDlgButtonChecked(hwnd, kRadioFirst);
    second = ::IsDlgButtonChecked(hwnd, kRadioSecond);
    flag = ::IsDlgButtonChecked(hwnd, kFlagCheck);
    kind = ::SendDlgItemMessageW(hwnd, kKindCombo, CB_GETCURSEL, 0, 0);
    // No selection in the combo: an unsigned index cannot be read.
    kt_test::ClickButton(hwnd, IDOK);
    okAccepted = !::IsWindow(hwnd);
    if (!okAccepted) {
      kt_test::ClickButton(hwnd, IDCANCEL);
    }
  };
  EXPECT_EQ(IDCANCEL, dialog.DoModal(host.get()));
  EXPECT_EQ(UINT(BST_UNCHECKED), first);
  EXPECT_EQ(UINT(BST_UNCHECKED), second);
  EXPECT_EQ(UINT(BST_CHECKED), flag);  // any non-zero flag
  EXPECT_EQ(CB_ERR, kind);
  EXPECT_FALSE(okAccepted);
  EXPECT_EQ(9u, dialog.kind);
}

TEST(UpDownRange, TakesThirtyTwoBitRangesAndWritesNoSeparators) {
  kt_test::CTestHostWindow host;
  HWND edit = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 5, 5, 120, 20, host.get(),
                                nullptr, ::GetModuleHandleW(nullptr), nullptr);
  HWND spin = ::CreateWindowExW(0, UPDOWN_CLASSW, L"", WS_CHILD | WS_VISIBLE | UDS_SETBUDDYINT | UDS_ALIGNRIGHT, 0, 0,
                                0, 0, host.get(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, spin);
  ::SendMessageW(spin, UDM_SETBUDDY, WPARAM(edit), 0);
  struct Case {
    int lo, hi, pos;
    const wchar_t* text;
  } cases[] = {
      {1, 70000, 65536, L"65536"},
      {1, 2000000000, 1999999999, L"1999999999"},
      {1, 40000, 32768, L"32768"},
      {1, 1, 1, L"1"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(ktui::SetUpDownRange(spin, c.lo, c.hi));
    int lo = 0, hi = 0;
    ::SendMessageW(spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
    EXPECT_EQ(c.lo, lo);
    EXPECT_EQ(c.hi, hi);
    ::SendMessageW(spin, UDM_SETPOS32, 0, c.pos);
    wchar_t text[32] = {};
    ::GetWindowTextW(edit, text, 32);
    EXPECT_STREQ(c.text, text);
  }
  EXPECT_FALSE(ktui::SetUpDownRange(nullptr, 1, 2));
}

// Modeless dialogs: the owner's slot and the loop's registry.
class ModelessRegistryTest : public ::testing::Test {
 protected:
  kt_test::CTestHostWindow host;
};

MSG KeyFor(HWND target, WPARAM key) {
  MSG msg = {};
  msg.hwnd = target;
  msg.message = WM_KEYDOWN;
  msg.wParam = key;
  return msg;
}

TEST_F(ModelessRegistryTest, SlotHoldsTheDialogWhileItsWindowLives) {
  CModelessStdDlg* slot = nullptr;
  auto* dialog = new CModelessStdDlg;
  HWND hwnd = dialog->Create(host.get(), &slot);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(dialog, slot);
  EXPECT_EQ(1, dialog->inits);
  kt_test::ClickButton(hwnd, IDCANCEL);  // modeless: Cancel destroys the window
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(nullptr, slot);
}

TEST_F(ModelessRegistryTest, OkOfAModelessDialogSavesAndDestroysIt) {
  CModelessStdDlg* slot = nullptr;
  auto* dialog = new CModelessStdDlg;
  HWND hwnd = dialog->Create(host.get(), &slot);
  ASSERT_NE(nullptr, hwnd);
  ::SetDlgItemTextW(hwnd, kCountEdit, L"0");
  kt_test::ClickButton(hwnd, IDOK);
  EXPECT_TRUE(::IsWindow(hwnd));  // refused: stays
  ::SetDlgItemTextW(hwnd, kCountEdit, L"9");
  kt_test::ClickButton(hwnd, IDOK);
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(nullptr, slot);
}

TEST_F(ModelessRegistryTest, EveryOpenDialogGetsItsKeysFromTheLoop) {
  CModelessStdDlg* first = nullptr;
  CModelessStdDlg* second = nullptr;
  HWND one = (new CModelessStdDlg)->Create(host.get(), &first);
  HWND two = (new CModelessStdDlg)->Create(host.get(), &second);
  ASSERT_NE(nullptr, one);
  ASSERT_NE(nullptr, two);
  HWND nameTwo = ::GetDlgItem(two, kNameEdit);
  ::SetFocus(nameTwo);
  MSG tab = KeyFor(nameTwo, VK_TAB);
  CMessageLoop loop;
  EXPECT_TRUE(loop.PreTranslateMessage(&tab));
  EXPECT_EQ(::GetDlgItem(two, kCountEdit), ::GetFocus());

  // Escape in the first dialog: its Cancel, found through the registry.
  HWND nameOne = ::GetDlgItem(one, kNameEdit);
  ::SetFocus(nameOne);
  MSG escape = KeyFor(nameOne, VK_ESCAPE);
  EXPECT_TRUE(loop.PreTranslateMessage(&escape));
  kt_test::PumpMessages();
  EXPECT_FALSE(::IsWindow(one));
  EXPECT_EQ(nullptr, first);

  // A closed dialog is no longer asked; keys of other windows are left alone.
  MSG other = KeyFor(host.get(), VK_TAB);
  EXPECT_FALSE(CMessageLoop::IsModelessDialogMessage(&other));
  EXPECT_FALSE(CMessageLoop::RemoveModelessDialog(one));
  ::DestroyWindow(two);
  EXPECT_EQ(nullptr, second);
  EXPECT_FALSE(CMessageLoop::RemoveModelessDialog(two));
}

TEST_F(ModelessRegistryTest, DialogDestroyedDuringCreationLeavesTheSlotEmpty) {
  class CGoneDlg : public CModelessDialog<CGoneDlg> {
   public:
    CDialogSource GetDialogSource() const { return InMemory(StdTemplate()); }
    BEGIN_MSG_MAP(CGoneDlg)
      MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    END_MSG_MAP()
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM) {
      DestroyWindow();
      return TRUE;
    }
  };
  CGoneDlg* slot = nullptr;
  auto* dialog = new CGoneDlg;
  EXPECT_EQ(nullptr, dialog->Create(host.get(), &slot));
  EXPECT_EQ(nullptr, slot);
  delete dialog;  // still the caller's
}

// The modal seam: a recorder answers without a window.
TEST(ModalSeam, RecorderAnswersWithoutAWindow) {
  kt_test::CModalRecorder recorder;
  recorder.answerWith = [](CDialogImplBase& dialog, UINT) {
    static_cast<CModalStdDlg&>(dialog).count = 42;
    return INT_PTR(IDOK);
  };
  CModalStdDlg dialog;
  EXPECT_EQ(IDOK, dialog.DoModal(nullptr));
  EXPECT_EQ(42u, dialog.count);
  EXPECT_EQ(0, dialog.inits);  // no window was made
  ASSERT_EQ(1u, recorder.dialogs.size());
  EXPECT_EQ(&dialog, recorder.dialogs[0].dialog);
  EXPECT_EQ(0u, recorder.dialogs[0].templateId);  // in memory

  recorder.answerWith = nullptr;
  recorder.answer = IDCANCEL;
  EXPECT_EQ(IDCANCEL, dialog.DoModal(nullptr));
}

// A real dialog opens another one from a button: the inner one is answered
// without a window, or driven by the same driver, told apart by its id.
constexpr WORD kOpenInner = 210;
constexpr UINT kInnerId = 7001;

const DLGTEMPLATE* OuterTemplate() {
  static CDialogTemplateBuilder builder = [] {
    CDialogTemplateBuilder b(WS_POPUP | WS_CAPTION, 120, 40, L"outer");
    b.Add(CDialogTemplateBuilder::kButton, BS_PUSHBUTTON | WS_TABSTOP, 5, 20, 50, 14, kOpenInner, L"Inner");
    b.Add(CDialogTemplateBuilder::kButton, BS_DEFPUSHBUTTON | WS_TABSTOP, 60, 20, 50, 14, IDOK, L"OK");
    return b;
  }();
  return builder.get();
}

class CInnerDlg : public CStdDialogImpl<CInnerDlg> {
 public:
  uint32_t count = 1;
  CDialogSource GetDialogSource() const { return InMemory(OuterTemplate()); }
};

class COuterDlg : public CStdDialogImpl<COuterDlg> {
 public:
  INT_PTR innerResult = 0;
  uint32_t innerCount = 0;
  CDialogSource GetDialogSource() const { return InMemory(OuterTemplate()); }
  BEGIN_MSG_MAP(COuterDlg)
    COMMAND_ID_HANDLER(kOpenInner, OnOpenInner)
    CHAIN_MSG_MAP(CStdDialogImpl<COuterDlg>)
  END_MSG_MAP()
  LRESULT OnOpenInner(WORD, WORD, HWND) {
    CInnerDlg inner;
    innerResult = inner.DoModal(m_hWnd);
    innerCount = inner.count;
    return 0;
  }
};

TEST(ModalSeam, RealDialogOpensAnotherAnsweredWithoutAWindow) {
  kt_test::CTestHostWindow host;
  kt_test::CModalRecorder recorder;
  COuterDlg outer;
  int opened = 0;
  recorder.runRealWhen = [&](UINT) { return opened++ == 0; };  // the outer one only
  recorder.answerWith = [](CDialogImplBase& dialog, UINT) {
    static_cast<CInnerDlg&>(dialog).count = 9;
    return INT_PTR(IDOK);
  };
  recorder.drive = [](HWND hwnd) {
    kt_test::ClickButton(hwnd, kOpenInner);
    kt_test::ClickButton(hwnd, IDOK);
  };
  EXPECT_EQ(IDOK, outer.DoModal(host.get()));
  EXPECT_EQ(IDOK, outer.innerResult);
  EXPECT_EQ(9u, outer.innerCount);
  ASSERT_EQ(2u, recorder.dialogs.size());
  EXPECT_EQ(&outer, recorder.dialogs[1].dialog);  // the outer one ends last
}

TEST(ModalSeam, ResourceDialogsAreNamedByTheirId) {
  CDialogSource source;
  source.resource = MAKEINTRESOURCEW(250);
  EXPECT_EQ(250u, ktui::DialogTemplateId(source));
  source.resource = L"NAMED";
  EXPECT_EQ(0u, ktui::DialogTemplateId(source));
}

TEST(ModalSeam, DialogThatNobodyAnswersFailsTheTestInsteadOfBlocking) {
  CModalStdDlg dialog;
  INT_PTR result = 0;
  EXPECT_NONFATAL_FAILURE(result = dialog.DoModal(nullptr), "unexpected modal dialog");
  EXPECT_EQ(IDCANCEL, result);
  OPENFILENAMEW request = {};
  request.lStructSize = sizeof(request);
  EXPECT_NONFATAL_FAILURE(g_getOpenFileName(&request), "unexpected file dialog");
}

TEST(ModalSeam, RealDialogLeftOpenIsEndedByTheWatchdog) {
  kt_test::CTestHostWindow host;
  CModalStdDlg dialog;
  INT_PTR result = 0;
  EXPECT_NONFATAL_FAILURE(
      {
        kt_test::CModalRecorder recorder;
        recorder.runReal = true;
        recorder.timeoutMs = 300;
        result = dialog.DoModal(host.get());
      },
      "still open");
  EXPECT_EQ(-1, result);
}

TEST(ModalSeam, CommonDialogsAreAnsweredByTheRecorder) {
  kt_test::CModalRecorder recorder;
  recorder.saveFile = [](OPENFILENAMEW& request) {
    wcscpy(request.lpstrFile, L"C:\\out.ktr");
    return TRUE;
  };
  wchar_t file[MAX_PATH] = {};
  OPENFILENAMEW request = {};
  request.lStructSize = sizeof(request);
  request.lpstrFile = file;
  request.nMaxFile = MAX_PATH;
  EXPECT_FALSE(g_getOpenFileName(&request));  // not answered: cancelled
  EXPECT_TRUE(g_getSaveFileName(&request));
  EXPECT_STREQ(L"C:\\out.ktr", file);
  CHOOSEFONTW font = {};
  EXPECT_FALSE(g_chooseFont(&font));
  BROWSEINFOW folder = {};
  EXPECT_EQ(nullptr, g_browseForFolder(&folder));
  EXPECT_EQ((std::vector<std::wstring>{L"open", L"save", L"font", L"folder"}), recorder.commonDialogs);
}

// Hooks of common dialogs run through the same dispatch as dialogs.
constexpr UINT kHookQuery = WM_APP + 31;

class CHookedDlg : public CDialogImplBase {
 public:
  LPARAM initLParam = 0;
  int finals = 0;
  BEGIN_MSG_MAP(CHookedDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(kHookQuery, OnQuery)
  END_MSG_MAP()
  LRESULT OnInitDialog(UINT, WPARAM, LPARAM lParam) {
    initLParam = lParam;
    return TRUE;
  }
  LRESULT OnQuery(UINT, WPARAM, LPARAM) { return 1234; }
  void OnFinalMessage(HWND) override { ++finals; }
};

TEST(DialogHook, BindsThroughTheRequestAndDispatchesToTheMap) {
  kt_test::CTestHostWindow host;
  CHookedDlg hooked;
  OPENFILENAMEW request = {};
  request.lStructSize = sizeof(request);
  request.lCustData = reinterpret_cast<LPARAM>(&hooked);
  LPOFNHOOKPROC hook = &CDialogImplBase::HookProc<OPENFILENAMEW>;
  HWND hwnd = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), StdTemplate(), host.get(),
                                           reinterpret_cast<DLGPROC>(reinterpret_cast<void*>(hook)),
                                           reinterpret_cast<LPARAM>(&request));
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(hwnd, hooked.m_hWnd);
  EXPECT_EQ(reinterpret_cast<LPARAM>(&request), hooked.initLParam);
  EXPECT_EQ(1234, ::SendMessageW(hwnd, kHookQuery, 0, 0));
  ::DestroyWindow(hwnd);
  EXPECT_EQ(nullptr, hooked.m_hWnd);
  EXPECT_EQ(1, hooked.finals);
}

// The system's save dialog for real, with the hook: its notifications
// reach the object's map, and what a CDN_FILEOK handler answers reaches the
// dialog (through DWLP_MSGRESULT).
constexpr UINT kPressSave = WM_APP + 32;

HWND g_watchedHook = nullptr;  // the running save dialog's hook window

class CSaveHook : public CDialogImplBase {
 public:
  int initDone = 0;
  int fileOks = 0;
  bool refuseFirst = true;
  int finals = 0;
  BEGIN_MSG_MAP(CSaveHook)
    NOTIFY_CODE_HANDLER(CDN_INITDONE, OnInitDone)
    NOTIFY_CODE_HANDLER(CDN_FILEOK, OnFileOk)
    MESSAGE_HANDLER(kPressSave, OnPressSave)
  END_MSG_MAP()
  LRESULT OnInitDone(int, NMHDR*) {
    ++initDone;
    g_watchedHook = m_hWnd;
    PostMessage(kPressSave);
    return 0;
  }
  LRESULT OnPressSave(UINT, WPARAM, LPARAM) {
    HWND explorer = GetParent();
    ::SendMessageW(explorer, CDM_SETCONTROLTEXT, WPARAM(cmb13), reinterpret_cast<LPARAM>(L"hooked.ktr"));
    ::PostMessageW(explorer, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
  }
  LRESULT OnFileOk(int, NMHDR*) {
    ++fileOks;
    if (refuseFirst) {
      refuseFirst = false;
      PostMessage(kPressSave);
      return 1;  // not accepted: the dialog stays
    }
    return 0;
  }
  void OnFinalMessage(HWND) override { ++finals; }
};

void CALLBACK CancelLeftOpenDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (g_watchedHook != nullptr && ::IsWindow(g_watchedHook)) {
    ADD_FAILURE() << "the save dialog was still open";
    ::PostMessageW(::GetParent(g_watchedHook), WM_COMMAND, IDCANCEL, 0);
  }
}

TEST(DialogHook, RealSaveDialogSendsItsNotificationsToTheMap) {
  kt_test::CTestHostWindow host;
  CSaveHook hook;
  wchar_t folder[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  wchar_t file[MAX_PATH] = {};
  OPENFILENAMEW request = {};
  request.lStructSize = sizeof(request);
  request.hwndOwner = ::GetAncestor(host.get(), GA_ROOT);
  request.lpstrFile = file;
  request.nMaxFile = MAX_PATH;
  request.lpstrInitialDir = folder;
  request.lpstrFilter = L"Trace files\0*.ktr\0";
  request.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  request.lpfnHook = &CDialogImplBase::HookProc<OPENFILENAMEW>;
  request.lCustData = reinterpret_cast<LPARAM>(&hook);
  g_watchedHook = nullptr;
  const UINT_PTR watchdog = ::SetTimer(nullptr, 0, 15000, &CancelLeftOpenDialog);
  const BOOL saved = ::GetSaveFileNameW(&request);
  ::KillTimer(nullptr, watchdog);
  g_watchedHook = nullptr;
  EXPECT_TRUE(saved);
  EXPECT_EQ(1, hook.initDone);
  EXPECT_EQ(2, hook.fileOks);  // the first was refused
  EXPECT_NE(nullptr, wcsstr(file, L"hooked.ktr")) << std::wstring(file);
  EXPECT_EQ(nullptr, hook.m_hWnd);
  EXPECT_EQ(1, hook.finals);
}

// The system's find dialog calls its hook up to WM_DESTROY only: that is
// where the object lets go of it.
TEST(DialogHook, RealFindDialogEndsTheHookAtItsDestruction) {
  kt_test::CTestHostWindow host;
  CHookedDlg hooked;
  wchar_t findText[128] = L"needle";
  FINDREPLACEW request = {};
  request.lStructSize = sizeof(request);
  request.hwndOwner = ::GetAncestor(host.get(), GA_ROOT);
  request.Flags = FR_ENABLEHOOK | FR_HIDEWHOLEWORD | FR_DOWN;
  request.lpstrFindWhat = findText;
  request.wFindWhatLen = 128;
  request.lpfnHook = &CDialogImplBase::HookProc<FINDREPLACEW>;
  request.lCustData = reinterpret_cast<LPARAM>(&hooked);
  HWND hwnd = ::FindTextW(&request);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(hwnd, hooked.m_hWnd);
  EXPECT_EQ(1234, ::SendMessageW(hwnd, kHookQuery, 0, 0));
  ::DestroyWindow(hwnd);
  EXPECT_EQ(nullptr, hooked.m_hWnd);
  EXPECT_EQ(1, hooked.finals);
}

// The shared bookkeeping of window, dialog and hook procedures.
TEST(DispatchState, FinalMessageRunsOnceAfterTheOutermostMessage) {
  CDispatchState state;
  std::vector<std::string> events;
  auto final = [&](HWND) { events.push_back("final"); };
  const HWND hwnd = reinterpret_cast<HWND>(uintptr_t(0x1234));
  const int result = state.Run(
      hwnd, WM_CLOSE, 1, 2,
      [&] {
        EXPECT_EQ(UINT(WM_CLOSE), state.Current()->message);
        state.Run(
            hwnd, WM_NCDESTROY, 0, 0,
            [&] {
              state.MarkWindowGone();
              events.push_back("inner");
              return 0;
            },
            final);
        EXPECT_TRUE(state.WindowGone());
        EXPECT_EQ(UINT(WM_CLOSE), state.Current()->message);  // restored after the nested one
        events.push_back("outer");
        return 7;
      },
      final);
  EXPECT_EQ(7, result);
  EXPECT_EQ((std::vector<std::string>{"inner", "outer", "final"}), events);
  EXPECT_EQ(nullptr, state.Current());
  EXPECT_FALSE(state.WindowGone());
}

// One helper for every message box of the program.
TEST(MessageBoxFromId, CaptionTextAndIconFromTheStringTable) {
  kt_test::CPopupRecorder recorder;
  kt_test::CTestHostWindow host;
  ktui::MessageBoxFromId(host.get(), IDS_ADD_TAB_GROUP_FAILED, MB_ICONERROR);
  ktui::MessageBoxFromId(host.get(), IDS_CONNECT_LOST, MB_ICONWARNING, L"127.0.0.1:6000");
  ktui::MessageBoxFromId(nullptr, IDS_CONNECT_LOST, MB_ICONWARNING);  // no arguments: the text as it is
  ktui::MessageBoxText(nullptr, L"made elsewhere", MB_ICONERROR);
  ASSERT_EQ(4u, recorder.messageBoxes.size());
  for (const auto& box : recorder.messageBoxes) {
    EXPECT_EQ(L"keltracer", box.caption);
  }
  EXPECT_EQ(L"Add tab group failed!", recorder.messageBoxes[0].text);
  EXPECT_EQ(UINT(MB_ICONERROR), recorder.messageBoxes[0].type);
  EXPECT_EQ(host.get(), recorder.messageBoxes[0].owner);
  EXPECT_EQ(L"Connect to \"127.0.0.1:6000\" lost!", recorder.messageBoxes[1].text);
  EXPECT_EQ(UINT(MB_ICONWARNING), recorder.messageBoxes[1].type);
  EXPECT_EQ(L"Connect to \"%s\" lost!", recorder.messageBoxes[2].text);
  EXPECT_EQ(L"made elsewhere", recorder.messageBoxes[3].text);
}

}  // namespace
