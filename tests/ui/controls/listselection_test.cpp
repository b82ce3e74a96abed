// The trace list's own selection: the ranges it keeps, and the keys, clicks
// and list messages that read and change them on a list of 10 million rows.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "tests/ui/UiHarness.h"
#include "ui/controls/KeltracerView.h"
#include "ui/controls/ListSelection.h"
#include "ui/framework/WindowImpl.h"

namespace {

using Range = CListSelection::Range;

std::vector<Range> RangesOf(const CListSelection& selection) {
  std::vector<Range> ranges;
  for (size_t i = 0; i < selection.RangeCount(); ++i) {
    ranges.push_back(selection.RangeAt(i));
  }
  return ranges;
}

bool Same(const std::vector<Range>& a, const std::vector<Range>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].first != b[i].first || a[i].last != b[i].last) return false;
  }
  return true;
}

struct RangeStep {
  int first;
  int last;
  bool selected;
};

struct RangeCase {
  const char* name;
  std::vector<RangeStep> steps;
  std::vector<Range> expected;
};

TEST(ListSelection, RangesMergeSplitAndStayApart) {
  const RangeCase cases[] = {
      {"one row", {{5, 5, true}}, {{5, 5}}},
      {"touching rows merge", {{5, 5, true}, {6, 6, true}, {4, 4, true}}, {{4, 6}}},
      {"a gap of one row stays", {{5, 5, true}, {7, 7, true}}, {{5, 5}, {7, 7}}},
      {"filling the gap joins", {{5, 5, true}, {7, 7, true}, {6, 6, true}}, {{5, 7}}},
      {"a range over several swallows them", {{2, 3, true}, {6, 7, true}, {10, 11, true}, {1, 12, true}}, {{1, 12}}},
      {"a hole in the middle splits", {{0, 9, true}, {4, 5, false}}, {{0, 3}, {6, 9}}},
      {"cutting both ends", {{0, 9, true}, {0, 2, false}, {8, 20, false}}, {{3, 7}}},
      {"deselecting across ranges", {{0, 2, true}, {5, 7, true}, {10, 12, true}, {1, 11, false}}, {{0, 0}, {12, 12}}},
      {"deselecting what is not selected", {{3, 4, true}, {8, 9, false}}, {{3, 4}}},
      {"row zero and the largest row", {{0, 0, true}, {INT_MAX, INT_MAX, true}}, {{0, 0}, {INT_MAX, INT_MAX}}},
  };
  for (const RangeCase& c : cases) {
    CListSelection selection;
    for (const RangeStep& step : c.steps) {
      ASSERT_TRUE(selection.SetRange(step.first, step.last, step.selected)) << c.name;
    }
    EXPECT_TRUE(Same(c.expected, RangesOf(selection))) << c.name;
  }
}

TEST(ListSelection, QueriesFindRowsAroundTheRanges) {
  CListSelection selection;
  ASSERT_TRUE(selection.SetRange(10, 19, true));
  ASSERT_TRUE(selection.SetRange(5000000, 5000000, true));
  EXPECT_EQ(11, selection.Count());
  EXPECT_FALSE(selection.IsSelected(9));
  EXPECT_TRUE(selection.IsSelected(10));
  EXPECT_TRUE(selection.IsSelected(19));
  EXPECT_FALSE(selection.IsSelected(20));
  EXPECT_FALSE(selection.IsSelected(-1));
  EXPECT_EQ(10, selection.NextSelected(-1));
  EXPECT_EQ(15, selection.NextSelected(14));
  EXPECT_EQ(5000000, selection.NextSelected(19));
  EXPECT_EQ(-1, selection.NextSelected(5000000));
  EXPECT_EQ(19, selection.PreviousSelected(4999999));
  EXPECT_EQ(14, selection.PreviousSelected(15));
  EXPECT_EQ(-1, selection.PreviousSelected(10));
  EXPECT_EQ(-1, selection.PreviousSelected(0));
}

TEST(ListSelection, SelectOnlyAndTruncate) {
  CListSelection selection;
  ASSERT_TRUE(selection.SetRange(0, 99, true));
  selection.SetFocus(80);
  selection.SetMark(40);
  selection.Truncate(50);
  EXPECT_TRUE(Same({{0, 49}}, RangesOf(selection)));
  EXPECT_EQ(-1, selection.Focus());  // beyond the rows left
  EXPECT_EQ(40, selection.Mark());
  ASSERT_TRUE(selection.SelectOnly(7));
  EXPECT_TRUE(Same({{7, 7}}, RangesOf(selection)));
  selection.Truncate(7);
  EXPECT_EQ(0, selection.Count());
  EXPECT_EQ(-1, selection.Mark());
  ASSERT_TRUE(selection.SelectOnly(-1));
  EXPECT_EQ(0u, selection.RangeCount());
}

constexpr int kRows = 10000000;
constexpr int kListId = 103;
constexpr int kWidth = 400;
constexpr int kHeight = 240;
constexpr UINT kBoth = LVIS_SELECTED | LVIS_FOCUSED;

// Records the notifications the list sends and the owner-draw states.
class CNotifyHost : public CWindowImpl<CNotifyHost> {
 public:
  std::vector<UINT> codes;
  NMLVODSTATECHANGE lastRange = {};

  BEGIN_MSG_MAP(CNotifyHost)
    MESSAGE_HANDLER(WM_NOTIFY, OnNotify)
    MESSAGE_HANDLER(WM_DRAWITEM, OnDrawItem)
  END_MSG_MAP()

  LRESULT OnNotify(UINT, WPARAM, LPARAM lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == kListId) {
      codes.push_back(header->code);
      if (header->code == UINT(LVN_ODSTATECHANGED)) {
        lastRange = *reinterpret_cast<const NMLVODSTATECHANGE*>(lParam);
      }
    }
    return 0;
  }
  LRESULT OnDrawItem(UINT, WPARAM, LPARAM) { return TRUE; }
  bool Got(UINT code) const {
    for (UINT c : codes) {
      if (c == code) return true;
    }
    return false;
  }
};

class BigList : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT rect = {0, 0, kWidth, kHeight};
    ASSERT_NE(nullptr, parent.Create(host.get(), &rect));
    ASSERT_NE(nullptr, list.Create(parent.m_hWnd, &rect, nullptr,
                                   WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, 0,
                                   kListId));
    list.Init(nullptr);
    list.RemeasureRows();
    list.InsertColumn(0, L"Column", LVCFMT_LEFT, kWidth);
    list.SetItemCountEx(kRows, LVSICF_NOINVALIDATEALL);
    list.SetFocus();
    kt_test::PumpMessages();
  }

  // Selects `row` alone, focused and marked, in the middle of the list.
  void Start(int row) {
    list.SetItemState(-1, 0, kBoth);
    list.SetItemState(row, kBoth, kBoth);
    list.SendMessage(LVM_SETSELECTIONMARK, 0, row);
    list.EnsureVisible(row + list.GetCountPerPage() / 2, FALSE);  // the row in the middle of the page
    kt_test::PumpMessages();
    parent.codes.clear();
  }

  LPARAM RowPoint(int row) {
    RECT rect = {};
    EXPECT_TRUE(list.GetItemRect(row, &rect, LVIR_BOUNDS));
    return MAKELPARAM(rect.left + 10, (rect.top + rect.bottom) / 2);
  }

  void Key(WPARAM key) {
    list.SendMessage(WM_KEYDOWN, key, 1);
    list.SendMessage(WM_KEYUP, key, LPARAM(0xC0000001));
  }

  void Click(int row, WPARAM keys = 0) {
    const LPARAM at = RowPoint(row);
    list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    list.SendMessage(WM_LBUTTONUP, keys, at);
  }

  int Selected(int after = -1) { return list.GetNextItem(after, LVNI_SELECTED); }
  int Focused() { return list.GetNextItem(-1, LVNI_FOCUSED); }

  kt_test::CTestHostWindow host{kWidth, kHeight};
  CNotifyHost parent;
  CKeltracerView list;
};

TEST_F(BigList, DownAndPageDownMoveTheOneSelectedRow) {
  const int start = kRows / 2;
  Start(start);
  Key(VK_DOWN);
  EXPECT_EQ(start + 1, Selected());
  EXPECT_EQ(-1, Selected(start + 1));
  EXPECT_EQ(start + 1, Focused());
  EXPECT_EQ(1u, list.GetSelectedCount());
  EXPECT_TRUE(parent.Got(UINT(LVN_KEYDOWN)));

  const int perPage = list.GetCountPerPage();
  const int top = list.GetTopIndex();
  Key(VK_PRIOR);
  EXPECT_EQ(top, Selected());  // first to the top row in sight
  Key(VK_NEXT);
  EXPECT_EQ(top + perPage - 1, Selected());  // then to the bottom one
  Key(VK_NEXT);
  EXPECT_EQ(top + 2 * perPage - 2, Selected());  // then a page further
  EXPECT_EQ(top + perPage - 1, list.GetTopIndex());  // and in sight at the bottom
  EXPECT_EQ(1u, list.GetSelectedCount());

  Key(VK_END);
  EXPECT_EQ(kRows - 1, Selected());
  Key(VK_DOWN);
  EXPECT_EQ(kRows - 1, Selected());  // nothing below the last row
  Key(VK_HOME);
  EXPECT_EQ(0, Selected());
  Key(VK_UP);
  EXPECT_EQ(0, Selected());
  EXPECT_EQ(1u, list.GetSelectedCount());
}

TEST_F(BigList, ClicksSelectAloneExtendFromTheMarkAndToggle) {
  const int start = kRows / 2;
  Start(start);
  Click(start + 2);
  EXPECT_EQ(start + 2, Selected());
  EXPECT_EQ(1u, list.GetSelectedCount());
  EXPECT_TRUE(parent.Got(UINT(NM_CLICK)));

  Click(start + 5, MK_SHIFT);
  EXPECT_EQ(4u, list.GetSelectedCount());
  EXPECT_EQ(start + 2, Selected());
  EXPECT_EQ(start + 5, Focused());
  EXPECT_EQ(start + 2, parent.lastRange.iFrom);
  EXPECT_EQ(start + 5, parent.lastRange.iTo);
  EXPECT_EQ(UINT(LVIS_SELECTED), parent.lastRange.uNewState);

  Click(start + 3, MK_CONTROL);
  EXPECT_EQ(3u, list.GetSelectedCount());
  EXPECT_EQ(0u, list.GetItemState(start + 3, LVIS_SELECTED));
  EXPECT_EQ(UINT(LVIS_SELECTED), list.GetItemState(start + 4, LVIS_SELECTED));

  // A plain click on a row of a selection of several keeps the selection
  // until the button comes up, so that it can be dragged.
  const LPARAM at = RowPoint(start + 4);
  list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, at);
  EXPECT_EQ(3u, list.GetSelectedCount());
  list.SendMessage(WM_LBUTTONUP, 0, at);
  EXPECT_EQ(1u, list.GetSelectedCount());
  EXPECT_EQ(start + 4, Selected());
}

TEST_F(BigList, DraggingFromARowAsksTheParentToBeginADrag) {
  const int start = kRows / 2;
  Start(start);
  const LPARAM at = RowPoint(start + 1);
  list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, at);
  const int away = 4 * ::GetSystemMetrics(SM_CXDRAG) + 4;
  list.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(LOWORD(at) + away, HIWORD(at)));
  EXPECT_TRUE(parent.Got(UINT(LVN_BEGINDRAG)));
  EXPECT_EQ(start + 1, Selected());
  EXPECT_NE(list.m_hWnd, ::GetCapture());
}

TEST_F(BigList, ItemStateMessagesAnswerFromTheListsOwnSelection) {
  list.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(UINT(kRows), list.GetSelectedCount());
  EXPECT_EQ(kRows - 1, Selected(kRows - 2));
  list.SetItemState(-1, 0, LVIS_SELECTED);
  EXPECT_EQ(0u, list.GetSelectedCount());
  EXPECT_EQ(-1, Selected());

  list.SetItemState(123, kBoth, kBoth);
  LVITEMW item = {};
  item.mask = LVIF_STATE;
  item.iItem = 123;
  item.stateMask = kBoth;
  ASSERT_TRUE(list.GetItem(&item));
  EXPECT_EQ(kBoth, item.state & kBoth);
  EXPECT_EQ(UINT(ODS_SELECTED | ODS_FOCUS), list.RowState(123, 0) & (ODS_SELECTED | ODS_FOCUS));
  EXPECT_EQ(0u, list.RowState(124, ODS_SELECTED) & ODS_SELECTED);  // the control's own state does not count
  EXPECT_FALSE(list.SetItemState(kRows, kBoth, kBoth));  // beyond the rows

  list.SetItemCountEx(100, LVSICF_NOINVALIDATEALL);
  EXPECT_EQ(-1, Focused());
  EXPECT_EQ(0u, list.GetSelectedCount());
}

}  // namespace
