// The trace list's held drawing: a row count that jumps while the list
// follows its end is painted once, at the end, and the list is shown again.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <set>

#include "tests/ui/UiHarness.h"
#include "ui/controls/KeltracerView.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr int kListId = 102;
constexpr int kWidth = 360;
constexpr int kHeight = 200;
constexpr int kColumnWidth = 150;
constexpr int kFirstRows = 30;
constexpr int kJumpedRows = 100030;
constexpr UINT kCountFlags = LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL;

// Counts the paints the list makes (each takes the row supplier's lock once).
class CCountingPaintLock : public IListPaintLock {
 public:
  int paints = 0;
  bool LockForPaint() override {
    ++paints;
    return true;
  }
  void UnlockAfterPaint() override {}
};

// Answers the owner-draw requests, remembering which rows were asked for.
class CRowHost : public CWindowImpl<CRowHost> {
 public:
  std::set<UINT> drawnRows;

  BEGIN_MSG_MAP(CRowHost)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItem)
  END_MSG_MAP()

  LRESULT OnDrawItem(UINT, WPARAM, LPARAM lParam) {
    drawnRows.insert(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->itemID);
    return TRUE;
  }
};

class HeldList : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT rect = {0, 0, kWidth, kHeight};
    ASSERT_NE(nullptr, parent.Create(host.get(), &rect));
    RECT listRect = {0, 0, kWidth, kHeight};
    ASSERT_NE(nullptr, list.Create(parent.m_hWnd, &listRect, nullptr,
                                   WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, 0,
                                   kListId));
    list.Init(nullptr);
    list.RemeasureRows();
    for (int i = 0; i < 4; ++i) {
      list.InsertColumn(i, L"Column", LVCFMT_LEFT, kColumnWidth);  // wider than the list: both bars
    }
    list.m_paintLock = &lock;
    list.SetItemCountEx(kFirstRows, kCountFlags);
    list.EnsureVisible(kFirstRows - 1, FALSE);
    list.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    kt_test::PumpMessages();
    lock.paints = 0;
    parent.drawnRows.clear();
  }

  bool Shown() const { return (list.GetStyle() & WS_VISIBLE) != 0; }

  kt_test::CTestHostWindow host{kWidth, kHeight};
  CRowHost parent;
  CKeltracerView list;
  CCountingPaintLock lock;
};

TEST_F(HeldList, FollowingTheEndThroughALargeJumpShowsTheLastRowAfterOnePaint) {
  list.HoldDrawing();
  EXPECT_FALSE(Shown());
  list.SetItemCountEx(kJumpedRows, kCountFlags);
  list.SetItemState(kJumpedRows - 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  list.EnsureVisible(kJumpedRows - 1, FALSE);
  EXPECT_EQ(0, lock.paints);  // nothing drawn while held

  list.RepaintHeld();
  EXPECT_TRUE(Shown());
  EXPECT_EQ(1, lock.paints);
  EXPECT_EQ(kJumpedRows - list.GetCountPerPage(), list.GetTopIndex());
  EXPECT_EQ(1u, parent.drawnRows.count(UINT(kJumpedRows - 1)));
  EXPECT_EQ(0u, parent.drawnRows.count(UINT(kFirstRows - 1)));
  SCROLLINFO info = {sizeof(info), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0, 0};
  ASSERT_TRUE(::GetScrollInfo(list.m_hWnd, SB_VERT, &info));
  EXPECT_EQ(kJumpedRows - 1, info.nMax);
  EXPECT_EQ(info.nMax + 1, info.nPos + int(info.nPage));  // the bar shows the end
  kt_test::PumpMessages();
  EXPECT_EQ(1, lock.paints);  // and no second paint was left pending
}

TEST_F(HeldList, ScrollBarsThatComeWhileHeldAreDrawnWithTheWholeFrame) {
  list.SetItemCountEx(0, 0);
  list.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
  kt_test::PumpMessages();
  ASSERT_EQ(0u, list.GetStyle() & WS_VSCROLL);
  lock.paints = 0;
  list.HoldDrawing();
  list.SetItemCountEx(kJumpedRows, kCountFlags);
  list.EnsureVisible(kJumpedRows - 1, FALSE);
  list.RepaintHeld();
  EXPECT_TRUE(Shown());
  EXPECT_NE(0u, list.GetStyle() & WS_VSCROLL);
  EXPECT_GE(lock.paints, 1);
  EXPECT_EQ(kJumpedRows - list.GetCountPerPage(), list.GetTopIndex());
  // The frame was repainted with the rows: nothing is left to paint.
  EXPECT_FALSE(::GetUpdateRect(list.m_hWnd, nullptr, FALSE));
}

TEST_F(HeldList, AHiddenListStaysHiddenAndARepaintWithoutHoldPaintsOnce) {
  list.ShowWindow(SW_HIDE);
  list.HoldDrawing();
  list.SetItemCountEx(kJumpedRows, kCountFlags);
  list.RepaintHeld();
  EXPECT_FALSE(Shown());
  EXPECT_EQ(0, lock.paints);

  list.ShowWindow(SW_SHOW);
  kt_test::PumpMessages();
  lock.paints = 0;
  list.RepaintHeld();  // no hold: the rows only
  EXPECT_TRUE(Shown());
  EXPECT_EQ(1, lock.paints);
}

TEST_F(HeldList, AHoldInsideAHoldPaintsOnlyWhenTheOuterOneEnds) {
  list.HoldDrawing();
  list.HoldDrawing();
  list.SetItemCountEx(kJumpedRows, kCountFlags);
  list.RepaintHeld();
  EXPECT_FALSE(Shown());
  EXPECT_EQ(0, lock.paints);
  list.RepaintHeld();
  EXPECT_TRUE(Shown());
  EXPECT_EQ(1, lock.paints);
  list.RepaintHeld();  // one release too many: the rows only, as without a hold
  EXPECT_TRUE(Shown());
  EXPECT_EQ(2, lock.paints);
}

}  // namespace
