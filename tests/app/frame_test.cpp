// The main frame in this process: the live capture plus a generated file
// document, row painting (bookmarks, levels, reordered columns, the
// focus-only request, a view owned by a filter job) and a screenshot.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/MainFrame.h"
#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/app/FrameFixture.h"
#include "tests/core/TempFolder.h"
#include "tests/ui/UiHarness.h"

namespace {
constexpr uint32_t kFileRecords = 3000;
constexpr int kFrameWidth = 1180;
constexpr int kFrameHeight = 720;
constexpr COLORREF kGray = RGB(150, 190, 210);
constexpr COLORREF kRed = RGB(240, 128, 128);

// A 32-bit DIB the tests hand to WM_DRAWITEM, cleared to one colour.
class CDrawTarget {
 public:
  CDrawTarget(int width, int height) : m_width(width), m_height(height) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(info.bmiHeader), width, -height, 1, 32, BI_RGB};
    m_dc = ::CreateCompatibleDC(nullptr);
    m_bitmap = ::CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
    m_old = ::SelectObject(m_dc, m_bitmap);
    Clear();
  }
  ~CDrawTarget() {
    ::SelectObject(m_dc, m_old);
    ::DeleteObject(m_bitmap);
    ::DeleteDC(m_dc);
  }
  HDC dc() const { return m_dc; }
  void Clear() {
    ::GdiFlush();
    for (int i = 0; i < m_width * m_height; ++i) m_bits[i] = kClear;
  }
  int Count(COLORREF colour, const RECT& rect) const {
    ::GdiFlush();
    const uint32_t bgr = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    int count = 0;
    for (int y = rect.top < 0 ? 0 : rect.top; y < rect.bottom && y < m_height; ++y)
      for (int x = rect.left < 0 ? 0 : rect.left; x < rect.right && x < m_width; ++x)
        if ((m_bits[y * m_width + x] & 0xFFFFFF) == bgr) ++count;
    return count;
  }
  // Pixels of `rect` that differ from `background`.
  int Ink(const RECT& rect, COLORREF background) const {
    return (rect.right - rect.left) * (rect.bottom - rect.top) - Count(background, rect);
  }
  static constexpr uint32_t kClear = 0x00FFFFFF;

 private:
  int m_width, m_height;
  HDC m_dc;
  HBITMAP m_bitmap;
  HGDIOBJ m_old;
  uint32_t* m_bits = nullptr;
};

class Frame : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    s_temp = std::make_unique<TempFolder>(L"ktframe");
    frame_test::LoadConfig(s_temp->path());
    g_appConfig.m_columns |= kColumnModule | kColumnDelta;  // every kind of cell
    s_loop = new CMessageLoop;  // the frame joins it as filter and idle handler
    s_frame = frame_test::StartFrame(kFrameWidth, kFrameHeight);
    if (s_frame == nullptr) return;
    CTraceFile* file = frame_test::MakeFile(L"generated.ktr", kFileRecords, 11);
    CTraceView* view = file->m_views[0];
    // Bookmarks of several colours near the top, where the screenshot shows them.
    const int marks[][2] = {{2, 0}, {5, 1}, {6, 3}, {9, 4}, {13, 5}, {17, 6}, {21, 2}};
    for (const auto& mark : marks) file->SetMark(view->RecordAt(size_t(mark[0])), 1, mark[1]);
    s_file = file;
    if (!s_frame->AddDocument(file)) file->Release();
    kt_test::PumpMessages();
  }
  static void TearDownTestSuite() {
    if (s_frame != nullptr) {
      frame_test::CloseFrame(s_frame);
      // Gone from the loop with its window, and the save-log mutex released.
      EXPECT_FALSE(s_loop->RemoveMessageFilter(s_frame));
      EXPECT_FALSE(s_loop->RemoveIdleHandler(s_frame));
      EXPECT_EQ(s_frame->SaveLogMutex(), nullptr);
    }
    delete s_frame;
    s_frame = nullptr;
    delete s_loop;
    s_loop = nullptr;
    s_temp.reset();
  }

 protected:
  void SetUp() override { ASSERT_TRUE(s_frame != nullptr && s_frame->IsWindow()); }
  CTraceView* FileView() const { return s_file->m_views[0]; }
  // Has the frame paint row `row` into the target.
  void DrawRow(CDrawTarget& target, int row, UINT action = ODA_DRAWENTIRE, UINT state = 0) {
    DRAWITEMSTRUCT draw = {};
    draw.CtlType = ODT_LISTVIEW;
    draw.CtlID = ktframe::kListId;
    draw.itemID = UINT(row);
    draw.itemAction = action;
    draw.itemState = state;
    draw.hwndItem = s_frame->List().m_hWnd;
    draw.hDC = target.dc();
    s_frame->List().GetItemRect(row, &draw.rcItem, LVIR_BOUNDS);
    s_frame->SendMessage(WM_DRAWITEM, ktframe::kListId, LPARAM(&draw));
  }
  // The row's rectangle, cut to the frame's width (the columns run wider).
  RECT RowRect(int row) const {
    RECT rect;
    s_frame->List().GetItemRect(row, &rect, LVIR_BOUNDS);
    if (rect.right > kFrameWidth) rect.right = kFrameWidth;
    return rect;
  }

  static std::unique_ptr<TempFolder> s_temp;
  static CMainFrame* s_frame;
  static CTraceMgr* s_file;
  static CMessageLoop* s_loop;
};
CMessageLoop* Frame::s_loop = nullptr;
std::unique_ptr<TempFolder> Frame::s_temp;
CMainFrame* Frame::s_frame = nullptr;
CTraceMgr* Frame::s_file = nullptr;

TEST_F(Frame, TheAddedFileIsTheShownDocument) {
  EXPECT_EQ(s_frame->ViewStrip().Model().GroupCount(), 2u);
  EXPECT_EQ(s_frame->ViewStrip().Model().Current(), 1);
  EXPECT_EQ(s_frame->ShownView(), FileView());
  EXPECT_EQ(s_frame->List().GetItemCount(), int(kFileRecords));
  EXPECT_TRUE(s_frame->DocumentStrip().IsWindowVisible());
  // The capture's tabs can never be closed.
  EXPECT_NE(s_frame->ViewStrip().Model().GetItem(0, 0)->flags & ktframe::TBF_PERMANENT, 0u);
  EXPECT_NE(s_frame->DocumentStrip().Model().GetItem(0, 0)->flags & TBF_NOCLOSE, 0u);
  CString title;
  s_frame->GetWindowText(title);
  EXPECT_EQ(std::wstring(title.c_str()).rfind(L"keltracer - ", 0), 0u);
  EXPECT_NE(s_frame->SaveLogMutex(), nullptr);
  EXPECT_TRUE(s_loop->RemoveMessageFilter(s_frame));  // it joined the loop
  s_loop->AddMessageFilter(s_frame);
}

TEST_F(Frame, ScreenshotOfAGeneratedFile) {
  s_frame->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  kt_test::PumpMessages();
  const std::wstring path = kt_test::SaveScreenshot(s_frame->m_hWnd, L"main_window_generated_file");
  EXPECT_FALSE(path.empty());
}

TEST_F(Frame, BookmarkedRowsFillWithTheirColourAndTheLowestMarkWins) {
  CDrawTarget target(kFrameWidth, 200);
  DrawRow(target, 2);  // gray bookmark
  const RECT row = RowRect(2);
  EXPECT_GT(target.Count(kGray, row), (row.right - row.left) * (row.bottom - row.top) / 2);
  // Red and blue together: red, the lower bit.
  TraceRecord* record = FileView()->RecordAt(7);
  record->level |= 0x20000 | 0x200000;
  s_file->ResetSearch();
  target.Clear();
  DrawRow(target, 7);
  const RECT red = RowRect(7);
  EXPECT_GT(target.Count(kRed, red), (red.right - red.left) * (red.bottom - red.top) / 2);
}

TEST_F(Frame, LevelColoursAndBookmarkColours) {
  EXPECT_EQ(ktframe::LevelTextColour(kLevelDebug), RGB(0, 0, 0));
  EXPECT_EQ(ktframe::LevelTextColour(kLevelInfo), RGB(0, 0, 0));
  EXPECT_EQ(ktframe::LevelTextColour(kLevelWarning), RGB(255, 153, 0));
  EXPECT_EQ(ktframe::LevelTextColour(kLevelError), RGB(255, 0, 0));
  EXPECT_EQ(ktframe::LevelTextColour(kLevelPersonal), RGB(18, 138, 247));
  EXPECT_EQ(ktframe::BookmarkColours(kLevelError | 0x10000).text, RGB(50, 20, 10));
  EXPECT_EQ(ktframe::BookmarkColours(0x20000 | 0x200000).background, kRed);
  EXPECT_EQ(ktframe::BookmarkColours(0x400000).background, RGB(238, 130, 238));
}

TEST_F(Frame, CellsFollowTheirColumnsWhenColumnsAreReordered) {
  CKeltracerView& list = s_frame->List();
  const int count = int(list.m_header.SendMessage(HDM_GETITEMCOUNT));
  ASSERT_GE(count, 3);
  const auto& columns = s_frame->ShownColumns();
  ASSERT_EQ(columns[0], kColumnNumber);
  ASSERT_EQ(columns[size_t(count) - 1], kColumnMessage);
  // The message column first on screen, the row number last.
  std::vector<int> order;
  order.push_back(count - 1);
  for (int i = 1; i < count - 1; ++i) order.push_back(i);
  order.push_back(0);
  ASSERT_TRUE(list.m_header.SendMessage(HDM_SETORDERARRAY, WPARAM(count), LPARAM(order.data())));
  CDrawTarget target(kFrameWidth * 2, 200);
  DrawRow(target, 0);
  RECT number, message;
  list.GetSubItemRect(0, 0, LVIR_LABEL, &number);
  list.GetSubItemRect(0, count - 1, LVIR_LABEL, &message);
  EXPECT_GT(number.left, message.left);
  // "1" is a little ink in the number's cell; the message fills its own.
  const int numberInk = target.Ink(number, RGB(255, 255, 255));
  const int messageInk = target.Ink(message, RGB(255, 255, 255));
  EXPECT_GT(numberInk, 0);
  EXPECT_GT(messageInk, numberInk * 3);
  std::vector<int> plain(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) plain[size_t(i)] = i;
  list.m_header.SendMessage(HDM_SETORDERARRAY, WPARAM(count), LPARAM(plain.data()));
}

TEST_F(Frame, FocusOnlyRequestsDrawNothingAndRepaintTheRow) {
  CDrawTarget target(kFrameWidth, 200);
  s_frame->List().UpdateWindow();
  DrawRow(target, 1, ODA_FOCUS, ODS_FOCUS);
  EXPECT_EQ(target.Count(RGB(255, 255, 255), RECT{0, 0, kFrameWidth, 200}), kFrameWidth * 200);
  RECT update;
  EXPECT_TRUE(::GetUpdateRect(s_frame->List().m_hWnd, &update, FALSE));
  kt_test::PumpMessages();
}

TEST_F(Frame, AViewOwnedByAFilterJobDrawsNothing) {
  CDrawTarget target(kFrameWidth, 200);
  FileView()->ExchangeState(kViewFilterJob);
  DrawRow(target, 2);
  FileView()->ExchangeState(kViewIdle);
  EXPECT_EQ(target.Count(RGB(255, 255, 255), RECT{0, 0, kFrameWidth, 200}), kFrameWidth * 200);
}

}  // namespace
