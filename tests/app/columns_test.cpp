// The trace list's columns changed through the header as a user changes
// them, by dragging a divider and dragging a column: what the screen then
// shows of the rows must be what a fresh paint of the new layout gives,
// and a column's new place goes to the ini file.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <vector>

#include "app/MainFrame.h"
#include "core/AppConfig.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/app/FrameFixture.h"
#include "tests/core/TempFolder.h"
#include "tests/ui/UiHarness.h"

namespace {
constexpr int kFrameWidth = 900;
constexpr int kFrameHeight = 500;
constexpr uint32_t kRecords = 500;
constexpr int kMaxColumns = 16;

class Columns : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    s_temp = std::make_unique<TempFolder>(L"ktcolumns");
    frame_test::LoadConfig(s_temp->path());
    s_loop = new CMessageLoop;
    s_frame = frame_test::StartFrame(kFrameWidth, kFrameHeight);
    if (s_frame == nullptr) return;
    CTraceFile* file = frame_test::MakeFile(L"columns.ktr", kRecords, 3);
    if (!s_frame->AddDocument(file)) file->Release();
    kt_test::PumpMessages();
  }
  static void TearDownTestSuite() {
    frame_test::CloseFrame(s_frame);
    delete s_frame;
    s_frame = nullptr;
    delete s_loop;
    s_loop = nullptr;
    s_temp.reset();
  }

 protected:
  void SetUp() override {
    ASSERT_TRUE(s_frame != nullptr && s_frame->IsWindow());
    List().RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    kt_test::PumpMessages();
  }

  static CKeltracerView& List() { return s_frame->List(); }
  static HWND Header() { return List().m_header.m_hWnd; }
  static int ColumnCount() { return int(List().m_header.SendMessage(HDM_GETITEMCOUNT)); }
  static RECT HeaderItem(int index) {
    RECT rect = {};
    List().m_header.SendMessage(HDM_GETITEMRECT, WPARAM(index), LPARAM(&rect));
    return rect;
  }
  static std::vector<int> Order() {
    std::vector<int> order(static_cast<size_t>(ColumnCount()));
    List().m_header.SendMessage(HDM_GETORDERARRAY, WPARAM(order.size()), LPARAM(order.data()));
    return order;
  }

  // A press, moves in steps and a release on the header, as the mouse makes them.
  static void DragOnHeader(POINT from, POINT to) {
    HWND header = Header();
    ::SendMessageW(header, WM_MOUSEMOVE, 0, MAKELPARAM(from.x, from.y));
    ::SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i) {
      const int x = from.x + (to.x - from.x) * i / kSteps;
      const int y = from.y + (to.y - from.y) * i / kSteps;
      ::SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
    }
    ::SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
    kt_test::PumpMessages();
  }

  // The rows as the screen shows them against a fresh paint of the list:
  // the number of pixels below the header that differ.
  static int StalePixels() {
    const kt_test::CPixels shown = kt_test::CaptureShownPixels(List().m_hWnd);
    const kt_test::CPixels fresh = kt_test::CapturePixels(List().m_hWnd);
    EXPECT_FALSE(shown.IsEmpty());
    EXPECT_EQ(shown.width, fresh.width);
    EXPECT_EQ(shown.height, fresh.height);
    RECT header = {};
    ::GetClientRect(Header(), &header);
    int differ = 0;
    for (int y = header.bottom; y < shown.height && y < fresh.height; ++y) {
      for (int x = 0; x < shown.width && x < fresh.width; ++x) {
        if ((shown.Pixel(x, y) & 0xFFFFFF) != (fresh.Pixel(x, y) & 0xFFFFFF)) ++differ;
      }
    }
    return differ;
  }

  // In a fresh paint every row's cell lines stand at its header items' right
  // edges: the grid colour fills each row's column of pixels at each edge.
  static void ExpectCellsUnderTheirHeaders() {
    const kt_test::CPixels fresh = kt_test::CapturePixels(List().m_hWnd);
    RECT row = {};
    ASSERT_TRUE(List().GetItemRect(List().GetTopIndex() + 1, &row, LVIR_BOUNDS));
    const int scroll = ::GetScrollPos(List().m_hWnd, SB_HORZ);
    for (int i = 0; i < ColumnCount(); ++i) {
      const int edge = HeaderItem(i).right - scroll - 1;
      if (edge <= 0 || edge >= fresh.width) continue;
      // The cell's own divider runs from its top + 1 to its bottom - 2.
      const RECT line = {edge, row.top + 1, edge + 1, row.bottom - 2};
      EXPECT_EQ(line.bottom - line.top, fresh.CountColor(ktlist::kGridColor, line)) << "column " << i;
    }
  }

  static std::unique_ptr<TempFolder> s_temp;
  static CMainFrame* s_frame;
  static CMessageLoop* s_loop;
};
std::unique_ptr<TempFolder> Columns::s_temp;
CMainFrame* Columns::s_frame = nullptr;
CMessageLoop* Columns::s_loop = nullptr;

TEST_F(Columns, WideningAColumnByItsDividerRepaintsEveryRowUnderTheNewHeader) {
  ASSERT_GE(ColumnCount(), 3);
  ASSERT_EQ(0, StalePixels());
  const RECT time = HeaderItem(1);
  const int widthBefore = time.right - time.left;
  const int middle = (time.top + time.bottom) / 2;
  constexpr int kWider = 90;
  DragOnHeader(POINT{time.right, middle}, POINT{time.right + kWider, middle});
  const RECT after = HeaderItem(1);
  ASSERT_EQ(widthBefore + kWider, after.right - after.left);  // the header took the drag
  EXPECT_EQ(0, StalePixels());
  ExpectCellsUnderTheirHeaders();
}

TEST_F(Columns, ADraggedColumnTakesItsRowsCellsAlongAndItsPlaceIsSaved) {
  const int count = ColumnCount();
  ASSERT_GE(count, 4);
  ASSERT_LE(count, kMaxColumns);
  const std::vector<int> before = Order();
  ASSERT_EQ(0, before[0]);
  // The "#" column dropped in the middle of the third one.
  const RECT number = HeaderItem(0);
  const RECT third = HeaderItem(before[2]);
  const int middle = (number.top + number.bottom) / 2;
  DragOnHeader(POINT{(number.left + number.right) / 2, middle}, POINT{(third.left + third.right) / 2, middle});
  const std::vector<int> after = Order();
  ASSERT_NE(before, after);
  EXPECT_NE(0, after[0]);
  EXPECT_EQ(0, StalePixels());
  ExpectCellsUnderTheirHeaders();

  int saved[kMaxColumns] = {};
  ASSERT_EQ(count, g_appConfig.LoadSaveColumnOrder(1, count, saved));
  EXPECT_EQ(after, std::vector<int>(saved, saved + count));
}

}  // namespace
