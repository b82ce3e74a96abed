// The frame's commands in this process, through the same roads a person
// takes: accelerator keys with the menu bar hidden, the real find dialog,
// menus answered through the popup seam, clicks on the status bar, a drag
// onto the view strip, dropped files, a second start's hand-over, the
// clipboard, and the questions before tabs and documents close.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/framework/ModalSeam.h"
#include "app/MainFrame.h"
#include "jobs/UploadJob.h"
#include "capture/LocalFileList.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceFilter.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "formats/Ktr.h"
#include "resource.h"
#include "tests/app/FrameFixture.h"
#include "tests/core/TempFolder.h"
#include "tests/net/LoopbackPort.h"
#include "tests/ui/UiHarness.h"
#include "ui/dialogs/AddTabDlg.h"
#include "ui/dialogs/DetailDlg.h"
#include "ui/dialogs/FilterDlg.h"
#include "ui/dialogs/GotoDlg.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/SelectColumnsDlg.h"
#include "ui/dialogs/StatisticDlg.h"
#include "ui/framework/ModalSeam.h"
#include "ui/framework/PopupSeam.h"

namespace {
constexpr int kFrameWidth = 1100;
constexpr int kFrameHeight = 700;
constexpr DWORD kWaitMs = 20000;
constexpr int kRows = 30;
constexpr uint32_t kPids[] = {100, 200, 300};
constexpr const wchar_t* kHints[] = {L"a", L"b", L"c"};
// The common find dialog's controls.
constexpr int kFindEdit = 1152;
constexpr int kFindUp = 1056;
constexpr int kFindDown = 1057;

struct Box {
  std::wstring text;
  UINT type;
};
std::vector<Box> g_boxes;
int g_boxAnswer = IDOK;
int WINAPI RecordBox(HWND, const wchar_t* text, const wchar_t*, UINT type) {
  g_boxes.push_back({text != nullptr ? text : L"", type});
  return g_boxAnswer;
}

// The popup seam: records the menu's items and answers with a command.
UINT g_menuAnswer = 0;
std::vector<std::pair<UINT, UINT>> g_menuItems;  // id, state
BOOL WINAPI AnswerMenu(HMENU menu, UINT, int, int, int, HWND, const RECT*) {
  g_menuItems.clear();
  for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
    g_menuItems.emplace_back(::GetMenuItemID(menu, i), ::GetMenuState(menu, UINT(i), MF_BYPOSITION));
  }
  return BOOL(g_menuAnswer);
}

// Commands that reach the frame, with their source (1 for a key).
HWND g_watched = nullptr;
std::vector<std::pair<UINT, UINT>> g_commands;
LRESULT CALLBACK WatchCommands(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->hwnd == g_watched && call->message == WM_COMMAND) {
    g_commands.emplace_back(LOWORD(call->wParam), HIWORD(call->wParam));
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

template <class Condition>
bool PumpUntil(Condition condition) {
  return frame_test::PumpUntil(condition, kWaitMs);
}

using frame_test::Text;

std::wstring ClipboardText(HWND owner) {
  std::wstring text;
  if (!::OpenClipboard(owner)) return text;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
      text = chars;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

// A file store of kRows known records: row i says "row i", row 0 and row 20
// also "needle"; hints a, b, c in turn; pids 100, 200, 300 in turn; rows
// 7 and 22 are errors, 12 a warning.
CTraceFile* MakeKnownFile() {
  auto* file = new CTraceFile;
  file->SetFileName(L"C:\\logs\\known.ktr", L"known.ktr");
  file->GrowBuffer(1 << 20);
  for (int i = 0; i < kRows; ++i) {
    const std::wstring message = L"row " + std::to_wstring(i) + (i == 0 || i == 20 ? L" needle" : L"");
    const uint32_t level = i == 7 || i == 22 ? kLevelError : i == 12 ? kLevelWarning : kLevelInfo;
    TraceRecord* record =
        CTraceMgr::AddTraceItem(file, 0, level, L"app.exe", kHints[i % 3], message.c_str(), kPids[i % 3], 10 + i % 2,
                                1700000000 + i, 0, nullptr, nullptr, kModeBuild, 2048);
    if (record != nullptr) file->AddToProcessStats(record);
  }
  file->AddView(L"", kAllGroups, kRows);
  return file;
}

class FrameCommands : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    s_temp = std::make_unique<TempFolder>(L"ktcmds");
    frame_test::LoadConfig(s_temp->path());
    g_appConfig.m_showMenu = 0;
    g_appConfig.m_columns |= kColumnHint | kColumnName;
    s_messageBox = g_messageBox;
    s_trackPopupMenu = g_trackPopupMenu;
    s_findText = g_findText;
    g_messageBox = RecordBox;
    g_trackPopupMenu = AnswerMenu;
    g_findText = ::FindTextW;  // the real find dialog, driven by the tests
    s_loop = new CMessageLoop;
    s_frame = frame_test::StartFrame(kFrameWidth, kFrameHeight);
    if (s_frame == nullptr) return;
    s_file = MakeKnownFile();
    if (!s_frame->AddDocument(s_file)) s_file->Release();
    kt_test::PumpMessages();
    g_watched = s_frame->m_hWnd;
    s_hook = ::SetWindowsHookExW(WH_CALLWNDPROC, WatchCommands, nullptr, ::GetCurrentThreadId());
  }
  static void TearDownTestSuite() {
    if (s_hook != nullptr) ::UnhookWindowsHookEx(s_hook);
    frame_test::CloseFrame(s_frame);
    delete s_frame;
    s_frame = nullptr;
    delete s_loop;
    s_loop = nullptr;
    g_messageBox = s_messageBox;
    g_trackPopupMenu = s_trackPopupMenu;
    g_findText = s_findText;
    s_temp.reset();
  }

 protected:
  void SetUp() override {
    ASSERT_TRUE(s_frame != nullptr && s_frame->IsWindow());
    g_boxes.clear();
    g_boxAnswer = IDOK;
    g_menuAnswer = 0;
    g_commands.clear();
    ShowKnownFile();
  }
  CMainFrame& Frame() { return *s_frame; }
  CKeltracerView& List() { return s_frame->List(); }
  void Command(UINT id) { s_frame->SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  size_t GroupOf(const CTraceMgr* store) {
    const CTabStripModel& model = s_frame->ViewStrip().Model();
    for (size_t i = 0; i < model.GroupCount(); ++i) {
      if (model.GetGroup(i)->data == reinterpret_cast<uint64_t>(store)) return i;
    }
    return kTabNoItem;
  }
  void ShowKnownFile() {
    const size_t group = GroupOf(s_file);
    ASSERT_NE(group, kTabNoItem);
    s_frame->ViewStrip().SelectGroup(group);
    s_frame->ViewStrip().Model().SelectItem(0);
    kt_test::PumpMessages();
    ASSERT_EQ(s_frame->ShownView(), s_file->m_views[0]);
  }
  void Select(std::initializer_list<int> rows) {
    List().SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (int row : rows) List().SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    if (rows.size() != 0) List().SetItemState(*rows.begin(), LVIS_FOCUSED, LVIS_FOCUSED);
  }
  std::vector<int> Selected() {
    std::vector<int> rows;
    for (int row = List().GetNextItem(-1, LVNI_SELECTED); row >= 0; row = List().GetNextItem(row, LVNI_SELECTED)) {
      rows.push_back(row);
    }
    return rows;
  }
  // Presses a key as the message loop would hand it over.
  BOOL PressKey(HWND target, UINT key, bool ctrl, bool shift) {
    BYTE keys[256] = {};
    if (ctrl) keys[VK_CONTROL] = 0x80;
    if (shift) keys[VK_SHIFT] = 0x80;
    ::SetKeyboardState(keys);
    MSG msg = {target, WM_KEYDOWN, key, 1};
    const BOOL consumed = s_frame->PreTranslateMessage(&msg);
    BYTE none[256] = {};
    ::SetKeyboardState(none);
    return consumed;
  }
  // The filter job ended and the shown view is in the list again.
  bool WaitForFilter(CTraceView* view) {
    return PumpUntil([&] { return view->State() != kViewFilterJob && s_frame->ShownView() == view; }) &&
           PumpUntil([&] { return List().GetItemCount() == int(view->RecordCount()); });
  }
  // The thread's visible dialog windows owned by `owner`.
  static size_t OwnedDialogs(HWND owner) {
    struct Count {
      HWND owner;
      size_t dialogs;
    } count = {owner, 0};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND hwnd, LPARAM data) -> BOOL {
          auto* c = reinterpret_cast<Count*>(data);
          wchar_t name[16] = {};
          ::GetClassNameW(hwnd, name, 16);
          if (::GetWindow(hwnd, GW_OWNER) == c->owner && ::IsWindowVisible(hwnd) && std::wstring(name) == L"#32770") {
            ++c->dialogs;
          }
          return TRUE;
        },
        LPARAM(&count));
    return count.dialogs;
  }
  void CloseFindDialog() {
    if (HWND dialog = s_frame->FindDlg()) {
      ::SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      kt_test::PumpMessages();
    }
  }

  static std::unique_ptr<TempFolder> s_temp;
  static CMainFrame* s_frame;
  static CMessageLoop* s_loop;
  static CTraceFile* s_file;
  static HHOOK s_hook;
  static MessageBoxFn s_messageBox;
  static TrackPopupMenuFn s_trackPopupMenu;
  static FindTextFn s_findText;
};
MessageBoxFn FrameCommands::s_messageBox = nullptr;
TrackPopupMenuFn FrameCommands::s_trackPopupMenu = nullptr;
FindTextFn FrameCommands::s_findText = nullptr;
std::unique_ptr<TempFolder> FrameCommands::s_temp;
CMainFrame* FrameCommands::s_frame = nullptr;
CMessageLoop* FrameCommands::s_loop = nullptr;
CTraceFile* FrameCommands::s_file = nullptr;
HHOOK FrameCommands::s_hook = nullptr;

TEST_F(FrameCommands, EveryAcceleratorReachesItsCommandWithoutAMenuBar) {
  ASSERT_EQ(s_frame->GetMenu(), nullptr);
  HACCEL table = ::LoadAcceleratorsW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  ACCEL keys[64];
  const int count = ::CopyAcceleratorTableW(table, keys, 64);
  ASSERT_EQ(count, 21);
  Select({3});
  const bool onTop = g_appConfig.m_alwaysOnTop != 0;
  // The keys open the Open, Save, Goto, connect and history dialogs
  // (answered with Cancel), the remote file dialog and an upload, which goes
  // to a closed port here.
  kt_test::CModalRecorder modal;
  const std::wstring origin = L"http://127.0.0.1:" + std::to_wstring(UnusedLoopbackPort());
  ::SetEnvironmentVariableW(kLogServerEnvironment, origin.c_str());
  for (int i = 0; i < count; ++i) {
    g_commands.clear();
    EXPECT_TRUE(PressKey(List().m_hWnd, keys[i].key, (keys[i].fVirt & FCONTROL) != 0, (keys[i].fVirt & FSHIFT) != 0))
        << keys[i].cmd;
    ASSERT_EQ(g_commands.size(), 1u) << keys[i].cmd;
    EXPECT_EQ(g_commands[0].first, keys[i].cmd);
    EXPECT_EQ(g_commands[0].second, 1u);
    CloseFindDialog();
  }
  // The switches pressed once are pressed again, so the frame is as before.
  for (UINT id : {UINT(ID_TOOLS_CAPTURE), UINT(ID_VIEW_ALWAYS_ON_TOP), UINT(ID_VIEW_AUTO_SCROLL)}) Command(id);
  for (HWND dialog : {s_frame->RemoteFileDlg() != nullptr ? s_frame->RemoteFileDlg()->DialogWindow() : nullptr,
                      s_frame->UploadDlg() != nullptr ? s_frame->UploadDlg()->DialogWindow() : nullptr}) {
    if (dialog != nullptr) ::DestroyWindow(dialog);
  }
  ::SetEnvironmentVariableW(kLogServerEnvironment, nullptr);
  EXPECT_TRUE(s_frame->CaptureOn());
  EXPECT_EQ(g_appConfig.m_alwaysOnTop != 0, onTop);
  s_file->ClearMarks();
}

TEST_F(FrameCommands, AnEditKeepsItsEditingKeysButOtherKeysStillWork) {
  HWND edit = s_frame->QuickFilter().Edit().m_hWnd;
  ASSERT_NE(edit, nullptr);
  ::SetFocus(edit);  // the hint goes, the typed text counts
  for (UINT key : {UINT('C'), UINT('A'), UINT('V'), UINT('Z')}) {
    EXPECT_FALSE(PressKey(edit, key, true, false)) << key;
  }
  EXPECT_TRUE(g_commands.empty());
  // Keys an edit has no use for stay the frame's, Ctrl+E and Ctrl+H too.
  kt_test::CModalRecorder modal;  // Ctrl+H's history dialog, cancelled
  modal.answer = IDCANCEL;
  const struct {
    UINT key, command;
  } frameKeys[] = {{'T', ID_VIEW_ALWAYS_ON_TOP}, {'E', ID_VIEW_CLEAR_DISPLAY}, {'H', ID_FILE_HISTORY_MANAGE}};
  for (const auto& k : frameKeys) {
    g_commands.clear();
    EXPECT_TRUE(PressKey(edit, k.key, true, false)) << k.key;
    ASSERT_EQ(g_commands.size(), 1u) << k.key;
    EXPECT_EQ(g_commands[0].first, k.command);
  }
  ASSERT_EQ(modal.dialogs.size(), 1u);
  EXPECT_EQ(modal.dialogs[0].templateId, UINT(IDD_HISTORY));
  Command(ID_VIEW_ALWAYS_ON_TOP);
}

TEST_F(FrameCommands, TheRulesRefuseWhatTheMenuWouldGreyAlsoForKeys) {
  // Nothing selected: Copy and Toggle Bookmark do nothing.
  Select({});
  ::OpenClipboard(s_frame->m_hWnd);
  ::EmptyClipboard();
  ::CloseClipboard();
  Command(ID_EDIT_COPY);
  EXPECT_EQ(ClipboardText(s_frame->m_hWnd), L"");
  // A view owned by a filter job refuses marks, even with a selection.
  Select({1});
  CTraceView* view = s_frame->ShownView();
  view->ExchangeState(kViewFilterJob);
  Command(ID_BOOKMARK_TOGGLE);
  Command(ID_BOOKMARK_RED);
  view->ExchangeState(kViewIdle);
  EXPECT_FALSE(view->RecordAt(1)->IsMarked());
}

TEST_F(FrameCommands, TheViewMenuShowsTheRulesOfTheShownView) {
  HMENU menu = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  HMENU view = ::GetSubMenu(menu, 1);
  Select({});
  s_frame->SendMessage(WM_INITMENUPOPUP, WPARAM(view), 1);
  EXPECT_NE(::GetMenuState(view, ID_EDIT_COPY, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_EQ(::GetMenuState(view, ID_VIEW_GOTO, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_NE(::GetMenuState(view, ID_VIEW_CLEAR_DISPLAY, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_NE(::GetMenuState(view, ID_VIEW_AUTO_SCROLL, MF_BYCOMMAND) & MF_GRAYED, 0u);
  EXPECT_NE(::GetMenuState(view, ID_BOOKMARK_GRAY, MF_BYCOMMAND) & MF_CHECKED, 0u);
  Select({2});
  s_frame->SendMessage(WM_INITMENUPOPUP, WPARAM(view), 1);
  EXPECT_EQ(::GetMenuState(view, ID_EDIT_COPY, MF_BYCOMMAND) & MF_GRAYED, 0u);
  // The menu bar keeps its menu: after each colour only that one is checked.
  for (UINT colour : {UINT(ID_BOOKMARK_RED), UINT(ID_BOOKMARK_BLUE), UINT(ID_BOOKMARK_GRAY)}) {
    Command(colour);
    s_frame->SendMessage(WM_INITMENUPOPUP, WPARAM(view), 1);
    for (UINT id = ID_BOOKMARK_GRAY; id <= ID_BOOKMARK_PURPLE; ++id) {
      EXPECT_EQ((::GetMenuState(view, id, MF_BYCOMMAND) & MF_CHECKED) != 0, id == colour) << colour << " " << id;
    }
  }
  s_file->ClearMarks();
  HMENU tools = ::GetSubMenu(menu, 2);
  s_frame->SendMessage(WM_INITMENUPOPUP, WPARAM(tools), 2);
  wchar_t text[64] = {};
  ::GetMenuStringW(tools, ID_TOOLS_CAPTURE, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(std::wstring(text), Text(IDS_MENU_STOP_CAPTURE));
  ::DestroyMenu(menu);
}

TEST_F(FrameCommands, FindNextAndPreviousWrapRoundThroughTheFindDialog) {
  Select({25});
  Command(ID_EDIT_FIND_NEXT);  // no text yet: the dialog opens
  HWND dialog = s_frame->FindDlg();
  ASSERT_NE(dialog, nullptr);
  ::SetDlgItemTextW(dialog, kFindEdit, L"NEEDLE");
  ::CheckRadioButton(dialog, kFindUp, kFindDown, kFindDown);
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(::GetDlgItem(dialog, IDOK)));
  EXPECT_EQ(Selected(), std::vector<int>{0});  // round past the end to the top
  Command(ID_EDIT_FIND_NEXT);
  EXPECT_EQ(Selected(), std::vector<int>{20});
  Command(ID_EDIT_FIND_PREV);
  EXPECT_EQ(Selected(), std::vector<int>{0});
  Command(ID_EDIT_FIND_PREV);  // round past the top to the end
  EXPECT_EQ(Selected(), std::vector<int>{20});
  ::CheckRadioButton(dialog, kFindUp, kFindDown, kFindUp);
  ::SetDlgItemTextW(dialog, kFindEdit, L"no such text");
  ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(::GetDlgItem(dialog, IDOK)));
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"Cannot find string \"no such text\"");
  EXPECT_EQ(Selected(), std::vector<int>{20});
  CloseFindDialog();
  EXPECT_EQ(s_frame->FindDlg(), nullptr);
}

TEST_F(FrameCommands, EnterInTheFindDialogFindsNextAsItsButtonDoes) {
  Select({25});
  Command(ID_EDIT_FIND);
  HWND dialog = s_frame->FindDlg();
  ASSERT_NE(dialog, nullptr);
  HWND edit = ::GetDlgItem(dialog, kFindEdit);
  ::SetWindowTextW(edit, L"NEEDLE");
  ::CheckRadioButton(dialog, kFindUp, kFindDown, kFindDown);
  ::SetFocus(edit);
  MSG enter = {edit, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}};
  EXPECT_TRUE(s_loop->PreTranslateMessage(&enter));
  kt_test::PumpMessages();
  EXPECT_EQ(Selected(), std::vector<int>{0});
  CloseFindDialog();
  ASSERT_EQ(s_frame->FindDlg(), nullptr);
  // Closed, the dialog no longer takes keys.
  MSG late = {edit, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}};
  EXPECT_FALSE(CMessageLoop::IsModelessDialogMessage(&late));
}

TEST_F(FrameCommands, FindWhileTheDialogIsOpenLeavesThatDialogAsItIs) {
  s_frame->SetFindText(L"", true, false);
  Command(ID_EDIT_FIND);
  HWND dialog = s_frame->FindDlg();
  ASSERT_NE(dialog, nullptr);
  ::SetDlgItemTextW(dialog, kFindEdit, L"typed");
  List().SetFocus();
  for (UINT id : {ID_EDIT_FIND, ID_EDIT_FIND_NEXT, ID_EDIT_FIND_PREV}) {
    Command(id);  // no find text yet: each would open the dialog
    EXPECT_EQ(s_frame->FindDlg(), dialog) << id;
    wchar_t text[16] = {};
    ::GetDlgItemTextW(dialog, kFindEdit, text, 16);
    EXPECT_STREQ(text, L"typed") << id;
    EXPECT_EQ(::GetFocus(), List().m_hWnd) << id;
  }
  EXPECT_EQ(OwnedDialogs(s_frame->m_hWnd), 1u);
  CloseFindDialog();
  EXPECT_EQ(OwnedDialogs(s_frame->m_hWnd), 0u);
  EXPECT_TRUE(g_boxes.empty());
}

// The text typed into the find dialog is the frame's search text, up to the
// dialog's 127 characters, and the miss report shows it whole.
TEST_F(FrameCommands, TheFindDialogsWholeTextIsSearchedAndReported) {
  for (size_t length : {127u, 200u}) {
    g_boxes.clear();
    s_frame->SetFindText(L"", true, false);
    Command(ID_EDIT_FIND);
    HWND dialog = s_frame->FindDlg();
    ASSERT_NE(dialog, nullptr);
    const std::wstring typed(length, L'q');
    ::SetDlgItemTextW(dialog, kFindEdit, typed.c_str());
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(::GetDlgItem(dialog, IDOK)));
    const std::wstring searched(127, L'q');
    EXPECT_EQ(std::wstring(s_frame->FindTextValue().c_str()), searched) << length;
    ASSERT_EQ(g_boxes.size(), 1u) << length;
    EXPECT_EQ(g_boxes[0].text, L"Cannot find string \"" + searched + L"\"") << length;
    CloseFindDialog();
  }
}

TEST_F(FrameCommands, SevenColourBookmarksAndTheirNextAndPrevious) {
  for (UINT id = ID_BOOKMARK_GRAY; id <= ID_BOOKMARK_PURPLE; ++id) {
    const int row = int(2 + 3 * (id - ID_BOOKMARK_GRAY));
    Select({row});
    Command(id);
    EXPECT_EQ(s_file->m_views[0]->RecordAt(size_t(row))->level & kMarkMask, kMarkFirstBit << (id - ID_BOOKMARK_GRAY));
  }
  // Blue over a red first row turns every selected row blue only.
  Select({5, 6});
  Command(ID_BOOKMARK_BLUE);
  CTraceView* view = s_file->m_views[0];
  EXPECT_EQ(view->RecordAt(5)->level & kMarkMask, kMarkFirstBit << 5);
  EXPECT_EQ(view->RecordAt(6)->level & kMarkMask, kMarkFirstBit << 5);
  // Toggling with a marked first row unmarks them all.
  Command(ID_BOOKMARK_TOGGLE);
  EXPECT_FALSE(view->RecordAt(5)->IsMarked());
  EXPECT_FALSE(view->RecordAt(6)->IsMarked());
  Select({20});
  Command(ID_BOOKMARK_NEXT);
  EXPECT_EQ(Selected(), std::vector<int>{2});  // round to the first mark
  Command(ID_BOOKMARK_PREV);
  EXPECT_EQ(Selected(), std::vector<int>{20});  // Purple on row 20
  Command(ID_BOOKMARK_CLEAR);
  for (size_t i = 0; i < view->RecordCount(); ++i) EXPECT_FALSE(view->RecordAt(i)->IsMarked()) << i;
}

TEST_F(FrameCommands, CopyPutsTheCellsInDisplayOrderOnTheClipboard) {
  Select({0, 1, 3});
  Command(ID_EDIT_COPY);
  const std::wstring text = ClipboardText(s_frame->m_hWnd);
  CTraceView* view = s_file->m_views[0];
  std::wstring expected;
  for (int row : {0, 1, 3}) {
    const TraceRecord* record = view->RecordAt(size_t(row));
    const CGrowArray<uint32_t>& columns = s_frame->ShownColumns();
    for (size_t i = 0; i < columns.count; ++i) {
      if (i != 0) expected += L"\t";
      wchar_t cell[64] = {};
      if (columns[i] == kColumnDelta) {
        view->FormatDelta(row, cell, 64);
        expected += cell;
      } else {
        expected += ktframe::CellText(columns[i], row, *record, cell, 64);
      }
    }
    expected += L"\r\n";
  }
  EXPECT_EQ(text, expected);
  EXPECT_NE(text.find(L"\t100\t"), std::wstring::npos);  // the pid as its own number
  Command(ID_EDIT_COPY_MESSAGE);
  EXPECT_EQ(ClipboardText(s_frame->m_hWnd), L"row 0 needle\r\nrow 1\r\nrow 3\r\n");
}

TEST_F(FrameCommands, GotoOpensTheDialogAtTheSelectedLineAndSelectsTheLineChosen) {
  kt_test::CModalRecorder modal;
  int shownLine = 0;
  uint32_t shownCount = 0;
  modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
    EXPECT_EQ(templateId, UINT(IDD_GOTO));
    auto& go = static_cast<CGotoDlg&>(dialog);
    shownLine = go.m_line;
    shownCount = go.m_lineCount;
    go.m_line = 17;
    return IDOK;
  };
  Select({4});
  Command(ID_VIEW_GOTO);
  EXPECT_EQ(shownLine, 5);
  EXPECT_EQ(shownCount, uint32_t(kRows));
  EXPECT_EQ(Selected(), std::vector<int>{16});
  modal.answerWith = nullptr;
  modal.answer = IDCANCEL;
  Command(ID_VIEW_GOTO);
  EXPECT_EQ(Selected(), std::vector<int>{16});
}

TEST_F(FrameCommands, TheFilterDialogsFilterRefiltersTheShownView) {
  CTraceView* view = s_file->m_views[0];
  kt_test::CModalRecorder modal;
  modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
    EXPECT_EQ(templateId, UINT(IDD_FILTER));
    static_cast<CFilterDlg&>(dialog).m_filter.SetLevelMask(kLevelError);
    return IDOK;
  };
  Command(ID_VIEW_FILTER);
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), 2);
  modal.answerWith = [&](CDialogImplBase& dialog, UINT) -> INT_PTR {
    auto& filter = static_cast<CFilterDlg&>(dialog);
    EXPECT_EQ(filter.m_filter.m_levelMask, kLevelError);  // a copy of the view's
    filter.m_filter = CTraceFilter();
    return IDOK;
  };
  Command(ID_VIEW_FILTER);
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), kRows);
  modal.answerWith = nullptr;
  modal.answer = IDCANCEL;
  Command(ID_VIEW_FILTER);
  EXPECT_EQ(view->State(), kViewIdle);
}

TEST_F(FrameCommands, OptionsApplyTheirChangesToTheFrame) {
  kt_test::CModalRecorder modal;
  modal.answerWith = [&](CDialogImplBase& dialog, UINT) -> INT_PTR {
    auto& options = static_cast<COptionsDlg&>(dialog);
    g_appConfig.m_showMenu = 1;
    options.m_changes.showMenu = 1;
    g_appConfig.m_fontPoint = 140;
    options.m_changes.font = 1;
    return IDOK;
  };
  Select({12});
  List().EnsureVisible(12, FALSE);
  const UINT rowHeight = List().m_rowHeight;
  Command(ID_VIEW_OPTIONS);
  EXPECT_EQ(s_frame->GetMenu(), s_frame->MenuBar());
  EXPECT_GT(List().m_rowHeight, rowHeight);  // measured again for the larger font
  modal.answerWith = [&](CDialogImplBase& dialog, UINT) -> INT_PTR {
    auto& options = static_cast<COptionsDlg&>(dialog);
    g_appConfig.m_showMenu = 0;
    options.m_changes.showMenu = 1;
    g_appConfig.m_fontPoint = 100;
    options.m_changes.font = 1;
    return IDOK;
  };
  Command(ID_VIEW_OPTIONS);
  EXPECT_EQ(s_frame->GetMenu(), nullptr);
  EXPECT_EQ(List().m_rowHeight, rowHeight);
}

TEST_F(FrameCommands, SelectColumnsShowsTheChosenColumnsInTheChosenOrder) {
  const uint32_t mask = g_appConfig.m_columns;
  kt_test::CModalRecorder modal;
  modal.answerWith = [&](CDialogImplBase& dialog, UINT) -> INT_PTR {
    auto& columns = static_cast<CSelectColumnsDlg&>(dialog);
    EXPECT_EQ(columns.m_mask, mask);
    EXPECT_EQ(columns.m_order[0], kColumnNumber);
    const uint32_t chosen[] = {kColumnNumber, kColumnMessage, kColumnTime, kColumnDelta};
    columns.m_mask = kColumnTime | kColumnDelta;
    for (size_t i = 0; i < 4; ++i) columns.m_order[i] = chosen[i];
    columns.m_count = 4;
    columns.m_changed = 1;
    return IDOK;
  };
  Command(ID_VIEW_SELECT_COLUMNS);
  ASSERT_EQ(s_frame->ShownColumns().count, 4u);
  int order[4] = {};
  ASSERT_TRUE(List().m_header.SendMessage(HDM_GETORDERARRAY, 4, LPARAM(order)));
  const uint32_t expected[] = {kColumnNumber, kColumnMessage, kColumnTime, kColumnDelta};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s_frame->ShownColumns()[size_t(order[i])], expected[i]) << i;
  modal.answerWith = [&](CDialogImplBase& dialog, UINT) -> INT_PTR {
    auto& columns = static_cast<CSelectColumnsDlg&>(dialog);
    columns.m_mask = mask;
    const uint32_t back[] = {kColumnNumber, kColumnTime, kColumnName, kColumnHint, kColumnId, kColumnTid, kColumnMessage};
    columns.m_count = 0;
    for (uint32_t bit : back)
      if ((bit & (mask | kColumnsAlwaysShown)) != 0) columns.m_order[columns.m_count++] = bit;
    columns.m_changed = 1;
    return IDOK;
  };
  Command(ID_VIEW_SELECT_COLUMNS);
  EXPECT_EQ(g_appConfig.m_columns, mask);
}

TEST_F(FrameCommands, OpenAndSaveGoThroughTheFileDialogs) {
  CTraceFile* source = frame_test::MakeFile(L"opened.ktr", 300, 4);
  const std::wstring opened = s_temp->File(L"opened.ktr");
  ASSERT_EQ(SaveKtr(source, opened.c_str(), nullptr), 1);
  source->Release();
  kt_test::CModalRecorder modal;
  modal.openFile = [&](OPENFILENAMEW& request) -> BOOL {
    EXPECT_EQ(std::wstring(request.lpstrDefExt), L"ktr");
    EXPECT_EQ(std::wstring(request.lpstrFilter).rfind(L"All Support Files", 0), 0u);
    wcscpy(request.lpstrFile, opened.c_str());
    return TRUE;
  };
  const TabGroup* documents = s_frame->DocumentStrip().Model().GetGroup(0);
  const size_t before = documents->Count();
  Command(ID_FILE_OPEN);
  ASSERT_TRUE(PumpUntil([&] { return documents->Count() == before + 1; }));
  ShowKnownFile();
  const std::wstring saved = s_temp->File(L"saved view.ktr");
  std::wstring suggested;
  modal.saveFile = [&](OPENFILENAMEW& request) -> BOOL {
    suggested = request.lpstrFile;
    wcscpy(request.lpstrFile, saved.c_str());
    return TRUE;
  };
  Command(ID_FILE_SAVE_VIEW);
  EXPECT_EQ(suggested.rfind(L"keltra_", 0), 0u);
  EXPECT_EQ(suggested.size(), std::wstring(L"keltra_MMDDYYYY_hhmmss").size());
  ASSERT_TRUE(PumpUntil([&] { return ::GetFileAttributesW(saved.c_str()) != INVALID_FILE_ATTRIBUTES; }));
  EXPECT_EQ(modal.commonDialogs, (std::vector<std::wstring>{L"open", L"save"}));
}

TEST_F(FrameCommands, TheSmallDialogsOpenFromTheirCommands) {
  kt_test::CModalRecorder modal;
  Command(ID_APP_ABOUT);
  Command(ID_TOOLS_BASE64);
  Command(ID_TOOLS_ERROR_LOOKUP);
  std::vector<UINT> shown;
  for (const auto& dialog : modal.dialogs) shown.push_back(dialog.templateId);
  EXPECT_EQ(shown, (std::vector<UINT>{IDD_ABOUTBOX, IDD_BASE64_CONVERT, IDD_ERROR_LOOKUP}));
}

TEST_F(FrameCommands, TheAddTabMenuOffersGroupsWithRecordsAndCustomAsksTheDialog) {
  const uint32_t flag = s_file->m_views[0]->RecordAt(0)->groupFlag;
  const size_t groupIndex = size_t(HighestBitIndex(flag));
  const size_t tabs = s_frame->ViewStrip().Model().CurrentGroup()->Count();
  NMTABCTRLEX add = {{s_frame->ViewStrip().m_hWnd, ID_VIEW_STRIP, TCXN_ADDTAB}, 0, 0};
  g_menuAnswer = UINT(ID_ADD_TAB_GROUP_FIRST + groupIndex);
  s_frame->SendMessage(WM_NOTIFY, ID_VIEW_STRIP, LPARAM(&add));
  // One group with records, a separator, "Custom...".
  ASSERT_EQ(g_menuItems.size(), 3u);
  EXPECT_EQ(g_menuItems[0].first, UINT(ID_ADD_TAB_GROUP_FIRST + groupIndex));
  EXPECT_EQ(g_menuItems[2].first, UINT(ID_ADD_TAB_CUSTOM));
  const TabGroup* group = s_frame->ViewStrip().Model().CurrentGroup();
  ASSERT_EQ(group->Count(), tabs + 1);
  auto* byGroup = reinterpret_cast<CTraceView*>(group->Item(tabs)->data);
  EXPECT_EQ(byGroup->m_groupMask, flag);
  ASSERT_TRUE(PumpUntil([&] { return (group->Item(tabs)->flags & TBF_NOCLOSE) == 0; }));

  kt_test::CModalRecorder modal;
  modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
    EXPECT_EQ(templateId, UINT(IDD_ADD_TAB));
    auto& addTab = static_cast<CAddTabDlg&>(dialog);
    EXPECT_EQ(addTab.m_all, 1u);
    EXPECT_NE(std::wstring(addTab.m_title.c_str()).find(L"known.ktr"), std::wstring::npos);
    addTab.m_all = 0;
    addTab.m_pid = 200;
    addTab.m_resultMask = flag;
    return IDOK;
  };
  ShowKnownFile();
  g_menuAnswer = ID_ADD_TAB_CUSTOM;
  s_frame->SendMessage(WM_NOTIFY, ID_VIEW_STRIP, LPARAM(&add));
  ASSERT_EQ(group->Count(), tabs + 2);
  auto* custom = reinterpret_cast<CTraceView*>(group->Item(tabs + 1)->data);
  ASSERT_TRUE(PumpUntil([&] { return (group->Item(tabs + 1)->flags & TBF_NOCLOSE) == 0; }));
  EXPECT_EQ(custom->RecordCount(), size_t(kRows / 3));
  for (size_t i = group->Count(); i-- > tabs;) s_frame->ViewStrip().CloseItem(i, 1);
  EXPECT_EQ(group->Count(), tabs);
}

TEST_F(FrameCommands, TheHeaderMenuShowsAColumnBeforeTheLastOneAndHidesIt) {
  const uint32_t mask = g_appConfig.m_columns;
  NMHDR click = {List().m_header.m_hWnd, IDC_LIST_HEADER, UINT(NM_RCLICK)};
  g_menuAnswer = ID_COLUMN_DELTA;
  s_frame->SendMessage(WM_NOTIFY, IDC_LIST_HEADER, LPARAM(&click));
  // Seven columns offered, the shown ones checked; "#" and "Message" never.
  ASSERT_EQ(g_menuItems.size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    const uint32_t bit = 1u << (g_menuItems[i].first - ID_COLUMN_BASE);
    EXPECT_EQ((g_menuItems[i].second & MF_CHECKED) != 0, (mask & bit) != 0) << i;
  }
  const CGrowArray<uint32_t>& columns = s_frame->ShownColumns();
  const int count = int(columns.count);
  std::vector<int> order(static_cast<size_t>(count));
  ASSERT_TRUE(List().m_header.SendMessage(HDM_GETORDERARRAY, WPARAM(count), LPARAM(order.data())));
  EXPECT_EQ(columns[size_t(order[size_t(count - 2)])], kColumnDelta);
  EXPECT_EQ(columns[size_t(order[size_t(count - 1)])], kColumnMessage);
  g_menuAnswer = ID_COLUMN_DELTA;
  s_frame->SendMessage(WM_NOTIFY, IDC_LIST_HEADER, LPARAM(&click));
  EXPECT_EQ(g_appConfig.m_columns, mask);
  EXPECT_EQ(int(s_frame->ShownColumns().count), count - 1);
  EXPECT_EQ(int(List().m_header.SendMessage(HDM_GETITEMCOUNT)), count - 1);
  g_menuAnswer = 0;
  s_frame->SendMessage(WM_NOTIFY, IDC_LIST_HEADER, LPARAM(&click));
  EXPECT_EQ(g_appConfig.m_columns, mask);
}

TEST_F(FrameCommands, ADoubleClickClosesAViewTabOnlyWithTheOption) {
  CTraceFilter errors;
  errors.SetLevelMask(kLevelError);
  ASSERT_EQ(s_frame->AddViewTab(s_file, kAllGroups, errors), 1);
  const TabGroup* group = s_frame->ViewStrip().Model().CurrentGroup();
  const size_t last = group->Count() - 1;
  ASSERT_TRUE(PumpUntil([&] { return (group->Item(last)->flags & TBF_NOCLOSE) == 0; }));
  NMTABCTRLEX twice = {{s_frame->ViewStrip().m_hWnd, ID_VIEW_STRIP, TCXN_ITEMDBLCLK}, last, 0};
  const uint32_t option = g_appConfig.m_tabDBClose;
  g_appConfig.m_tabDBClose = 0;
  s_frame->SendMessage(WM_NOTIFY, ID_VIEW_STRIP, LPARAM(&twice));
  EXPECT_EQ(group->Count(), last + 1);
  g_appConfig.m_tabDBClose = 1;
  s_frame->SendMessage(WM_NOTIFY, ID_VIEW_STRIP, LPARAM(&twice));
  EXPECT_EQ(group->Count(), last);
  EXPECT_EQ(s_file->m_views.count, last);  // the view left its document too
  g_appConfig.m_tabDBClose = option;
}

TEST_F(FrameCommands, SelectedRowsAreFoundAroundTheFocusAndWithGapsToo) {
  const auto copied = [&] {
    Command(ID_EDIT_COPY_MESSAGE);
    return ClipboardText(s_frame->m_hWnd);
  };
  // One block with the focus inside it.
  Select({10, 11, 12, 13, 14});
  List().SetItemState(12, LVIS_FOCUSED, LVIS_FOCUSED);
  EXPECT_EQ(copied(), L"row 10\r\nrow 11\r\nrow 12\r\nrow 13\r\nrow 14\r\n");
  // A gap: the block around the focus is not all of it.
  Select({4, 5, 9});
  List().SetItemState(5, LVIS_FOCUSED, LVIS_FOCUSED);
  EXPECT_EQ(copied(), L"row 4\r\nrow 5\r\nrow 9\r\n");
  // The focus on a row that is not selected.
  Select({2, 3});
  List().SetItemState(20, LVIS_FOCUSED, LVIS_FOCUSED);
  EXPECT_EQ(copied(), L"row 2\r\nrow 3\r\n");
}

TEST_F(FrameCommands, TheToolTipGetsTheTextsOfStatusItemsAndDocumentTabs) {
  wchar_t text[512] = {};
  NMTOOLTIPEX request = {};
  request.hdr = {s_frame->ToolTip().m_hWnd, ktframe::kToolTipId, kTipNotifyGetText};
  request.hwndTool = s_frame->StatusBar().m_hWnd;
  request.item = 3;
  request.pszText = text;
  request.cchTextMax = 512;
  s_frame->SendMessage(WM_NOTIFY, ktframe::kToolTipId, LPARAM(&request));
  EXPECT_EQ(std::wstring(text), Text(IDS_TIP_NEXT_DEBUG));
  RECT bar;
  s_frame->StatusBar().GetWindowRect(&bar);
  EXPECT_EQ(request.pt.y, bar.top - 20);
  request.item = 7;
  s_frame->SendMessage(WM_NOTIFY, ktframe::kToolTipId, LPARAM(&request));
  EXPECT_EQ(std::wstring(text), Text(IDS_TIP_NEXT_PII));

  const size_t known = GroupOf(s_file);
  request.hwndTool = s_frame->DocumentStrip().m_hWnd;
  request.item = int64_t(known);
  s_frame->SendMessage(WM_NOTIFY, ktframe::kToolTipId, LPARAM(&request));
  EXPECT_EQ(std::wstring(text), L"known.ktr\r\nLocation : C:\\logs\\known.ktr");
  request.item = 0;  // the live capture: its name only
  s_frame->SendMessage(WM_NOTIFY, ktframe::kToolTipId, LPARAM(&request));
  EXPECT_EQ(std::wstring(text), Text(IDS_CAPTURE_NAME));
  request.item = kTabHitClose;
  s_frame->SendMessage(WM_NOTIFY, ktframe::kToolTipId, LPARAM(&request));
  EXPECT_EQ(std::wstring(text), Text(IDS_TIP_CLOSE_TAB));
  wchar_t small[6] = {};
  request.pszText = small;
  request.cchTextMax = 6;
  request.item = int64_t(known);
  s_frame->SendMessage(WM_NOTIFY, ktframe::kToolTipId, LPARAM(&request));
  EXPECT_EQ(std::wstring(small), L"known");  // cut to the buffer
}

class PendingStatistic : public IStatisticDlg {
 public:
  bool pending = true;
  bool RequestPending() const override { return pending; }
  void ClearRequest() override { pending = false; }
};

TEST_F(FrameCommands, TheStatisticRequestOpensATabOfItsMessageAndWmNullCarriesNothing) {
  PendingStatistic dialog;
  const TabGroup* group = s_frame->ViewStrip().Model().CurrentGroup();
  const size_t tabs = group->Count();
  s_frame->SendMessage(WM_NULL, 1, LPARAM(L"needle"));
  s_frame->SendMessage(ktframe::kStatisticResultMessage, 1, LPARAM(L"needle"));  // no dialog open
  EXPECT_EQ(group->Count(), tabs);
  s_frame->SetStatisticDlg(&dialog);
  s_frame->SendMessage(ktframe::kStatisticResultMessage, 0, LPARAM(L"needle"));  // no request flag
  EXPECT_EQ(group->Count(), tabs);
  s_frame->SendMessage(ktframe::kStatisticResultMessage, 1, LPARAM(L"NEEDLE"));
  ASSERT_EQ(group->Count(), tabs + 1);
  EXPECT_FALSE(dialog.pending);
  EXPECT_EQ(s_file->m_isStatisticsStore, 0);
  auto* made = reinterpret_cast<CTraceView*>(group->Item(tabs)->data);
  ASSERT_TRUE(PumpUntil([&] { return (group->Item(tabs)->flags & TBF_NOCLOSE) == 0; }));
  EXPECT_EQ(made->RecordCount(), 2u);
  EXPECT_NE(std::wstring(group->Item(tabs)->text.c_str()).find(kStatisticsViewName), std::wstring::npos);
  s_frame->SetStatisticDlg(nullptr);
  s_frame->ViewStrip().CloseItem(tabs, 1);
}

// The new tab takes the shown view's groups; with no view shown, or one a
// filter job owns, there are none to take and no tab opens.
TEST_F(FrameCommands, AStatisticRequestWithoutAUsableViewOpensNoTab) {
  PendingStatistic dialog;
  s_frame->SetStatisticDlg(&dialog);
  TabGroup* group = s_frame->ViewStrip().Model().CurrentGroup();
  const size_t tabs = group->Count();
  CTraceView* view = s_frame->ShownView();
  const size_t selected = group->selected;
  const struct {
    const char* name;
    bool shown;
    LONG state;
  } cases[] = {{"no view shown", false, kViewIdle}, {"view owned by a filter job", true, kViewFilterJob}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    group->selected = c.shown ? selected : kTabNoItem;
    view->ExchangeState(c.state);
    dialog.pending = true;
    s_frame->SendMessage(ktframe::kStatisticResultMessage, 1, LPARAM(L"needle"));
    view->ExchangeState(kViewIdle);
    group->selected = selected;
    EXPECT_EQ(group->Count(), tabs);
    EXPECT_EQ(s_file->m_isStatisticsStore, 0);
  }
  s_frame->SetStatisticDlg(nullptr);
}

TEST_F(FrameCommands, ADoubleClickShowsTheRowsDetail) {
  kt_test::CModalRecorder modal;
  std::wstring number, message, pidTid;
  modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
    EXPECT_EQ(templateId, UINT(IDD_DETAIL));
    auto& detail = static_cast<CDetailDlg&>(dialog);
    number = detail.m_number.c_str();
    message = detail.m_message.c_str();
    pidTid = detail.m_procThread.c_str();
    return IDOK;
  };
  NMITEMACTIVATE click = {};
  click.hdr = {List().m_hWnd, ktframe::kListId, UINT(NM_DBLCLK)};
  click.iItem = 20;
  s_frame->SendMessage(WM_NOTIFY, ktframe::kListId, LPARAM(&click));
  EXPECT_EQ(number, L"21");
  EXPECT_EQ(message, L"row 20 needle");
  EXPECT_EQ(pidTid, L"[300:10]");
  click.iItem = -1;  // on no row: nothing
  s_frame->SendMessage(WM_NOTIFY, ktframe::kListId, LPARAM(&click));
  EXPECT_EQ(modal.dialogs.size(), 1u);
}

TEST_F(FrameCommands, TheStatisticCommandOpensOneDialogWhoseRequestsOpenTabs) {
  Command(ID_TOOLS_STATISTIC);
  CTraceStatisticDlg* dialog = s_frame->StatisticWindow();
  ASSERT_NE(dialog, nullptr);
  Command(ID_TOOLS_STATISTIC);  // refused while it is open
  EXPECT_EQ(s_frame->StatisticWindow(), dialog);
  const TabGroup* group = s_frame->ViewStrip().Model().CurrentGroup();
  const size_t tabs = group->Count();
  s_frame->SendMessage(ktframe::kStatisticResultMessage, 1, LPARAM(L"needle"));
  ASSERT_EQ(group->Count(), tabs + 1);
  EXPECT_NE(std::wstring(group->Item(tabs)->text.c_str()).find(kStatisticsViewName), std::wstring::npos);
  ASSERT_TRUE(PumpUntil([&] { return (group->Item(tabs)->flags & TBF_NOCLOSE) == 0; }));
  s_frame->ViewStrip().CloseItem(tabs, 1);
  ::DestroyWindow(dialog->m_hWnd);
  kt_test::PumpMessages();
  EXPECT_EQ(s_frame->StatisticWindow(), nullptr);
}

TEST_F(FrameCommands, AStatusBarCounterGoesToTheNextRecordOfItsLevel) {
  Select({8});
  const StatusIndicatorItem* error = s_frame->StatusBar().GetItem(6);
  ASSERT_NE(error, nullptr);
  const RECT rect = error->rect;
  const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  s_frame->StatusBar().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, point);
  s_frame->StatusBar().SendMessage(WM_LBUTTONUP, 0, point);
  EXPECT_EQ(Selected(), std::vector<int>{22});
  s_frame->StatusBar().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, point);
  EXPECT_EQ(Selected(), std::vector<int>{7});  // round to the top
}

TEST_F(FrameCommands, TheQuickFilterOpensTheRowsWithItsTextAndNamesABadExpression) {
  CTraceView* view = s_file->m_views[0];
  HWND edit = s_frame->QuickFilter().Edit().m_hWnd;
  ASSERT_NE(edit, nullptr);
  ::SetFocus(edit);  // the hint goes, the typed text counts
  ::SetWindowTextW(edit, L"re:(open");
  Command(ID_QUICK_FILTER);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_NE(g_boxes[0].text.find(L"\"(open\""), std::wstring::npos);
  EXPECT_EQ(view->State(), kViewIdle);
  EXPECT_EQ(List().GetItemCount(), kRows);
  ::SetWindowTextW(edit, L"plain:Needle");
  Command(ID_QUICK_FILTER);
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), 2);
  ::SetWindowTextW(edit, L"re:row [12]$");
  Command(ID_QUICK_FILTER);
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), 2);
  ::SetWindowTextW(edit, L"");
  Command(ID_QUICK_FILTER);
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), kRows);
}

TEST_F(FrameCommands, TheLevelAndProcessMenusRefilterTheView) {
  CTraceView* view = s_file->m_views[0];
  const StatusIndicatorItem* level = s_frame->StatusBar().GetItem(2);
  const LPARAM levelPoint = MAKELPARAM((level->rect.left + level->rect.right) / 2, level->rect.top + 3);
  g_menuAnswer = ID_LEVEL_ERROR;
  s_frame->StatusBar().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, levelPoint);
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), 2);
  // The menu shows the view's mask checked; choosing it again does nothing.
  g_menuAnswer = ID_LEVEL_ERROR;
  s_frame->StatusBar().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, levelPoint);
  bool checked = false;
  for (const auto& item : g_menuItems) checked |= item.first == ID_LEVEL_ERROR && (item.second & MF_CHECKED) != 0;
  EXPECT_TRUE(checked);
  EXPECT_EQ(view->State(), kViewIdle);
  g_menuAnswer = ID_LEVEL_ALL;
  s_frame->StatusBar().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, levelPoint);
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), kRows);

  const StatusIndicatorItem* process = s_frame->StatusBar().GetItem(1);
  const LPARAM processPoint = MAKELPARAM((process->rect.left + process->rect.right) / 2, process->rect.top + 3);
  g_menuAnswer = ID_PID_FIRST + 1;
  s_frame->StatusBar().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, processPoint);
  // Three processes, a separator and "pid:all".
  ASSERT_EQ(g_menuItems.size(), 5u);
  EXPECT_EQ(g_menuItems[4].first, UINT(ID_PID_ALL));
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), kRows / 3);
  g_menuAnswer = ID_PID_ALL;
  s_frame->StatusBar().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, processPoint);
  ASSERT_TRUE(WaitForFilter(view));
  EXPECT_EQ(List().GetItemCount(), kRows);
}

TEST_F(FrameCommands, ThreeRowsDraggedByHintOntoTheViewStripGiveANewTab) {
  const int hintColumn = [&] {
    const CGrowArray<uint32_t>& columns = s_frame->ShownColumns();
    for (size_t i = 0; i < columns.count; ++i)
      if (columns[i] == kColumnHint) return int(i);
    return -1;
  }();
  ASSERT_GE(hintColumn, 0);
  Select({0, 1, 3});
  RECT cell;
  ASSERT_TRUE(List().GetSubItemRect(1, hintColumn, LVIR_LABEL, &cell));
  NMLISTVIEW begin = {};
  begin.hdr = {List().m_hWnd, ktframe::kListId, UINT(LVN_BEGINDRAG)};
  begin.iItem = 1;
  begin.iSubItem = 0;  // as Wine reports it: the point decides
  begin.ptAction = {(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
  RECT strip;
  s_frame->ViewStrip().GetWindowRect(&strip);
  POINT drop = {(strip.left + strip.right) / 2, (strip.top + strip.bottom) / 2};
  s_frame->ScreenToClient(&drop);
  POINT away = {begin.ptAction.x, begin.ptAction.y};
  ::MapWindowPoints(List().m_hWnd, s_frame->m_hWnd, &away, 1);

  // Escape and a lost capture end a drag without a tab.
  const size_t tabs = s_frame->ViewStrip().Model().CurrentGroup()->Count();
  ASSERT_EQ(tabs, 1u);
  s_frame->SendMessage(WM_NOTIFY, ktframe::kListId, LPARAM(&begin));
  ASSERT_TRUE(s_frame->IsDragging());
  EXPECT_EQ(s_frame->DragMode(), kColumnHint);
  MSG escape = {List().m_hWnd, WM_KEYDOWN, VK_ESCAPE, 1};
  EXPECT_TRUE(s_frame->PreTranslateMessage(&escape));
  EXPECT_FALSE(s_frame->IsDragging());
  s_frame->SendMessage(WM_NOTIFY, ktframe::kListId, LPARAM(&begin));
  ASSERT_TRUE(s_frame->IsDragging());
  ::ReleaseCapture();
  EXPECT_FALSE(s_frame->IsDragging());
  EXPECT_EQ(s_frame->ViewStrip().Model().CurrentGroup()->Count(), tabs);
  // Dropped on the list: nothing.
  s_frame->SendMessage(WM_NOTIFY, ktframe::kListId, LPARAM(&begin));
  s_frame->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(away.x, away.y));
  EXPECT_EQ(s_frame->ViewStrip().Model().CurrentGroup()->Count(), tabs);

  s_frame->SendMessage(WM_NOTIFY, ktframe::kListId, LPARAM(&begin));
  s_frame->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(drop.x, drop.y));
  s_frame->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(drop.x, drop.y));
  EXPECT_FALSE(s_frame->IsDragging());
  ASSERT_EQ(s_frame->ViewStrip().Model().CurrentGroup()->Count(), tabs + 1);
  const TabGroup* group = s_frame->ViewStrip().Model().CurrentGroup();
  auto* made = reinterpret_cast<CTraceView*>(group->Item(tabs)->data);
  ASSERT_NE(made, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return (group->Item(tabs)->flags & TBF_NOCLOSE) == 0; }));
  ASSERT_EQ(made->m_filter.ConditionCount(), 2u);
  EXPECT_EQ(made->m_filter.ConditionAt(0)->m_field, kConditionHint);
  EXPECT_EQ(std::wstring(made->m_filter.ConditionAt(0)->m_text.c_str()), L"a");
  EXPECT_EQ(made->m_filter.ConditionAt(1)->m_flags, kOperatorIs | kConditionOr);
  EXPECT_EQ(made->RecordCount(), size_t(kRows * 2 / 3));
  // The question before closing all tabs: Cancel keeps them, OK closes them.
  g_boxAnswer = IDCANCEL;
  s_frame->SendMessage(WM_NOTIFY, ID_VIEW_STRIP, [&] {
    static NMTABCTRLEX record;
    record = {{s_frame->ViewStrip().m_hWnd, ID_VIEW_STRIP, TCXN_CLOSEALL}, 0, 0};
    return LPARAM(&record);
  }());
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].type, UINT(MB_OKCANCEL | MB_ICONQUESTION));
  EXPECT_EQ(s_frame->ViewStrip().Model().CurrentGroup()->Count(), tabs + 1);
  s_frame->ViewStrip().CloseItem(tabs, 1);
  EXPECT_EQ(s_frame->ViewStrip().Model().CurrentGroup()->Count(), tabs);
}

TEST_F(FrameCommands, DroppedFilesAndASecondStartOpenDocumentsInOrder) {
  CTraceFile* source = frame_test::MakeFile(L"source.ktr", 500, 3);
  const std::wstring first = s_temp->File(L"dropped one.ktr");
  const std::wstring second = s_temp->File(L"dropped two.ktr");
  const std::wstring third = s_temp->File(L"handed over.ktr");
  for (const std::wstring& path : {first, second, third}) ASSERT_EQ(SaveKtr(source, path.c_str(), nullptr), 1);
  source->Release();
  const size_t before = s_frame->DocumentStrip().Model().GetGroup(0)->Count();

  const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x') + L".ktr";
  std::wstring names = first + L'\0' + tooLong + L'\0' + second + L'\0' + L'\0';
  HGLOBAL drop = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  auto* files = static_cast<DROPFILES*>(::GlobalLock(drop));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = TRUE;
  memcpy(files + 1, names.data(), names.size() * sizeof(wchar_t));
  ::GlobalUnlock(drop);
  s_frame->SendMessage(WM_DROPFILES, WPARAM(drop), 0);
  ASSERT_EQ(g_boxes.size(), 1u);  // the long path is refused, not cut
  EXPECT_NE(g_boxes[0].text.find(L"259"), std::wstring::npos);

  const std::wstring handOver = L"!\"" + third + L"\"";
  COPYDATASTRUCT data = {kHandOverCopyDataId, DWORD((handOver.size() + 1) * sizeof(wchar_t)),
                         const_cast<wchar_t*>(handOver.c_str())};
  EXPECT_EQ(s_frame->SendMessage(WM_COPYDATA, 0, LPARAM(&data)), 1);
  const TabGroup* documents = s_frame->DocumentStrip().Model().GetGroup(0);
  ASSERT_TRUE(PumpUntil([&] { return documents->Count() == before + 3; }));
  EXPECT_EQ(std::wstring(documents->Item(before)->text.c_str()), L"dropped one.ktr");
  EXPECT_EQ(std::wstring(documents->Item(before + 1)->text.c_str()), L"dropped two.ktr");
  EXPECT_EQ(std::wstring(documents->Item(before + 2)->text.c_str()), L"handed over.ktr");

  // Closing a document asks first; Cancel keeps it, OK takes it and its views.
  const TabGroup* shown = s_frame->ViewStrip().Model().CurrentGroup();
  ASSERT_EQ(std::wstring(shown->name.c_str()), L"handed over.ktr");
  NMTABCTRLEX closing = {{s_frame->DocumentStrip().m_hWnd, ktframe::kDocumentStripId, TCXN_ITEMCLOSING},
                         before + 2, kTabNone};
  g_boxAnswer = IDCANCEL;
  EXPECT_EQ(s_frame->SendMessage(WM_NOTIFY, ktframe::kDocumentStripId, LPARAM(&closing)), 1);
  EXPECT_EQ(documents->Count(), before + 3);
  EXPECT_NE(g_boxes.back().text.find(L"handed over.ktr"), std::wstring::npos);
  g_boxAnswer = IDOK;
  EXPECT_EQ(s_frame->SendMessage(WM_NOTIFY, ktframe::kDocumentStripId, LPARAM(&closing)), 1);
  EXPECT_EQ(documents->Count(), before + 2);
  EXPECT_EQ(s_frame->ViewStrip().Model().GroupCount(), before + 2);
}

TEST_F(FrameCommands, ClearDisplayAlwaysOnTopAndAutoScroll) {
  ASSERT_EQ(g_appConfig.m_alwaysOnTop, 0u);
  Command(ID_VIEW_ALWAYS_ON_TOP);
  EXPECT_EQ(g_appConfig.m_alwaysOnTop, 1u);
  Command(ID_VIEW_ALWAYS_ON_TOP);
  EXPECT_EQ(g_appConfig.m_alwaysOnTop, 0u);
  // Clear Display and Auto Scroll only act on the live capture.
  const uint32_t follow = s_frame->FollowNewItems();
  Command(ID_VIEW_AUTO_SCROLL);
  EXPECT_EQ(s_frame->FollowNewItems(), follow);
  s_frame->ViewStrip().SelectGroup(0);
  kt_test::PumpMessages();
  const char text[] = "a line sent by another program";
  COPYDATASTRUCT data = {7, sizeof(text), const_cast<char*>(text)};
  s_frame->SendMessage(WM_COPYDATA, 0, LPARAM(&data));
  ASSERT_TRUE(PumpUntil([&] { return s_frame->List().GetItemCount() >= 1; }));
  Command(ID_VIEW_CLEAR_DISPLAY);
  EXPECT_EQ(s_frame->List().GetItemCount(), 0);
  Command(ID_VIEW_AUTO_SCROLL);
  EXPECT_EQ(s_frame->FollowNewItems(), follow != 0 ? 0u : 1u);
  EXPECT_EQ(g_appConfig.m_autoScroll, s_frame->FollowNewItems());
  Command(ID_VIEW_AUTO_SCROLL);
}

TEST_F(FrameCommands, TheHistorySubmenuOpensTheFileItShowed) {
  g_menuAnswer = 0;
  NMTOOLBARW drop = {};
  drop.hdr = {nullptr, ktui::kToolBarWindowId, UINT(TBN_DROPDOWN)};
  drop.iItem = ID_FILE_DROPDOWN;
  s_frame->SendMessage(WM_NOTIFY, ktui::kToolBarWindowId, LPARAM(&drop));
  const std::vector<std::wstring> shown = s_frame->HistoryPaths();
  // Whatever the folders hold, the submenu's entries are the paths kept.
  for (size_t i = 0; i < shown.size(); ++i) EXPECT_LE(shown[i].size(), ktframe::kMaxOpenPathChars);
  EXPECT_LE(shown.size(), size_t(ID_FILE_HISTORY_LAST - ID_FILE_HISTORY_FIRST + 1));
  // An entry past what the menu showed opens nothing.
  const size_t jobsBefore = s_frame->DocumentStrip().Model().GetGroup(0)->Count();
  Command(UINT(ID_FILE_HISTORY_FIRST + shown.size()));
  kt_test::PumpMessages();
  EXPECT_EQ(s_frame->DocumentStrip().Model().GetGroup(0)->Count(), jobsBefore);
}

// The submenu lists the trace files newest first, as many as it has ids for;
// with none it keeps no path to open.
TEST_F(FrameCommands, TheHistorySubmenuListsTheNewestFilesItHasIdsFor) {
  constexpr size_t kMostShown = ID_FILE_HISTORY_LAST - ID_FILE_HISTORY_FIRST + 1;
  for (const size_t files : {size_t(0), size_t(1), size_t(45)}) {
    SCOPED_TRACE(files);
    TempFolder folder(L"kthistory");
    FILETIME written = {0x10000000u, 0x01D00000u};
    for (size_t i = 0; i < files; ++i) {
      wchar_t name[32];
      swprintf(name, 32, L"keltra_%02u.ktr", unsigned(i));
      HANDLE file = ::CreateFileW(folder.File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(file, INVALID_HANDLE_VALUE);
      TraceBufferHeader header = {};  // the list reads each file's header
      InitBufferHeader(&header, sizeof(header));
      DWORD wrote = 0;
      ::WriteFile(file, &header, sizeof(header), &wrote, nullptr);
      written.dwLowDateTime += 10000000;  // each a second after the one before
      ::SetFileTime(file, nullptr, nullptr, &written);
      ::CloseHandle(file);
    }
    LocalFileFolders folders;
    wcscpy(folders.temp, folder.path().c_str());
    g_localFileList.SetFolders(folders);
    g_localFileList.Expire(kLocalFilesTrace | kLocalFilesDump);
    g_menuAnswer = 0;
    NMTOOLBARW drop = {};
    drop.hdr = {nullptr, ktui::kToolBarWindowId, UINT(TBN_DROPDOWN)};
    drop.iItem = ID_FILE_DROPDOWN;
    s_frame->SendMessage(WM_NOTIFY, ktui::kToolBarWindowId, LPARAM(&drop));
    const std::vector<std::wstring> shown = s_frame->HistoryPaths();
    ASSERT_EQ(shown.size(), std::min(files, kMostShown));
    for (size_t i = 0; i < shown.size(); ++i) {
      wchar_t name[32];
      swprintf(name, 32, L"\\keltra_%02u.ktr", unsigned(files - 1 - i));
      const std::wstring suffix = name;
      ASSERT_GE(shown[i].size(), suffix.size());
      EXPECT_EQ(shown[i].substr(shown[i].size() - suffix.size()), suffix);
    }
  }
  g_localFileList.SetFolders(LocalFileFolders{});
  g_localFileList.Expire(kLocalFilesTrace | kLocalFilesDump);
}

}  // namespace

namespace {
HWND g_shotWindow = nullptr;
std::wstring g_shotPath;
// The frame's part of the screen, the open menu over it included (a
// window's own picture would leave the menu out).
bool SaveScreenPart(HWND window, const std::wstring& path) {
  RECT rect;
  ::GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(info.bmiHeader), width, height, 1, 24, BI_RGB};
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ::GdiFlush();
  const DWORD rowBytes = DWORD((width * 3 + 3) & ~3);
  BITMAPFILEHEADER file = {0x4D42, DWORD(sizeof(file) + sizeof(info.bmiHeader) + rowBytes * height), 0, 0,
                           DWORD(sizeof(file) + sizeof(info.bmiHeader))};
  HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  bool ok = out != INVALID_HANDLE_VALUE && ::WriteFile(out, &file, sizeof(file), &written, nullptr) &&
            ::WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
            ::WriteFile(out, bits, rowBytes * DWORD(height), &written, nullptr);
  if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return ok;
}

void CALLBACK ShootOpenMenu(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  const std::wstring path = kt_test::ScreenshotFolder() + L"\\main_window_commands.bmp";
  if (SaveScreenPart(g_shotWindow, path)) g_shotPath = path;
  ::EndMenu();
}
BOOL WINAPI ShowMenuForTheShot(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect) {
  ::SetTimer(nullptr, 0, 500, ShootOpenMenu);
  return ::TrackPopupMenu(menu, flags, x, y, reserved, owner, rect);
}

// Several documents and view tabs, a quick filter, coloured bookmarks and
// the list's context menu open: the picture of the README.
TEST_F(FrameCommands, ScreenshotWithDocumentsTabsBookmarksAndAnOpenMenu) {
  CTraceFile* second = frame_test::MakeFile(L"service.ktr", 800, 21);
  ASSERT_EQ(s_frame->AddDocument(second), 1);
  ShowKnownFile();
  CTraceFilter errors;
  errors.SetLevelMask(kLevelError | kLevelWarning);
  ASSERT_EQ(s_frame->AddViewTab(s_file, kAllGroups, errors), 1);
  ShowKnownFile();
  for (UINT id = ID_BOOKMARK_GRAY; id <= ID_BOOKMARK_PURPLE; ++id) {
    Select({int(1 + 2 * (id - ID_BOOKMARK_GRAY))});
    Command(id);
  }
  Select({4});
  ::SetFocus(s_frame->QuickFilter().Edit().m_hWnd);
  ::SetWindowTextW(s_frame->QuickFilter().Edit().m_hWnd, L"plain:row");
  s_frame->List().SetFocus();
  s_frame->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  kt_test::PumpMessages();
  RECT list;
  s_frame->List().GetWindowRect(&list);
  ::SetCursorPos(list.left + 260, list.top + 60);
  g_shotWindow = s_frame->m_hWnd;
  g_trackPopupMenu = ShowMenuForTheShot;
  NMHDR click = {s_frame->List().m_hWnd, ktframe::kListId, UINT(NM_RCLICK)};
  s_frame->SendMessage(WM_NOTIFY, ktframe::kListId, LPARAM(&click));
  g_trackPopupMenu = AnswerMenu;
  EXPECT_FALSE(g_shotPath.empty());
  s_file->ClearMarks();
}
}  // namespace

namespace {
// Fills the system's own file dialog once it is up and presses its OK.
std::wstring g_dialogPath;
HWND g_dialogOwner = nullptr;
int g_dialogsFilled = 0;
void CALLBACK FillFileDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  for (HWND window = ::FindWindowW(L"#32770", nullptr); window != nullptr;
       window = ::FindWindowExW(nullptr, window, L"#32770", nullptr)) {
    if (::GetWindow(window, GW_OWNER) == g_dialogOwner && ::IsWindowVisible(window)) dialog = window;
  }
  if (dialog == nullptr) return;  // not up yet: the next tick looks again
  ::KillTimer(nullptr, timer);
  constexpr int kFileNameCombo = 1148;  // cmb13, the explorer dialog's name box
  constexpr int kFileNameEdit = 1152;   // edt1, the older one's
  if (!::SetDlgItemTextW(dialog, kFileNameCombo, g_dialogPath.c_str())) {
    ::SetDlgItemTextW(dialog, kFileNameEdit, g_dialogPath.c_str());
  }
  ++g_dialogsFilled;
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST_F(FrameCommands, OpenAndSaveThroughTheSystemsOwnFileDialogs) {
  CTraceFile* source = frame_test::MakeFile(L"real.ktr", 200, 8);
  const std::wstring real = s_temp->File(L"real.ktr");
  ASSERT_EQ(SaveKtr(source, real.c_str(), nullptr), 1);
  source->Release();
  const GetFileNameFn open = g_getOpenFileName, save = g_getSaveFileName;
  g_getOpenFileName = ::GetOpenFileNameW;
  g_getSaveFileName = ::GetSaveFileNameW;
  g_dialogOwner = s_frame->m_hWnd;
  g_dialogsFilled = 0;
  const TabGroup* documents = s_frame->DocumentStrip().Model().GetGroup(0);
  const size_t before = documents->Count();
  g_dialogPath = real;
  ::SetTimer(nullptr, 0, 100, FillFileDialog);
  Command(ID_FILE_OPEN);
  EXPECT_EQ(g_dialogsFilled, 1);
  EXPECT_TRUE(PumpUntil([&] { return documents->Count() == before + 1; }));
  ShowKnownFile();
  const std::wstring saved = s_temp->File(L"saved through the dialog.ktr");
  g_dialogPath = saved;
  ::SetTimer(nullptr, 0, 100, FillFileDialog);
  Command(ID_FILE_SAVE);
  EXPECT_EQ(g_dialogsFilled, 2);
  EXPECT_TRUE(PumpUntil([&] { return ::GetFileAttributesW(saved.c_str()) != INVALID_FILE_ATTRIBUTES; }));
  g_getOpenFileName = open;
  g_getSaveFileName = save;
}
}  // namespace
