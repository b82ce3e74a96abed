// The trace list's rows: measured and painted by the frame from the shown
// view, one cell per shown column.
#include "app/MainFrame.h"
#include "core/AppConfig.h"
#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "resource.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/Gdi.h"

namespace ktframe {
namespace {
constexpr COLORREF kBookmarkText = RGB(50, 20, 10);
constexpr COLORREF kBookmarkBackgrounds[kMarkColours] = {
    RGB(150, 190, 210),  // Gray
    RGB(240, 128, 128),  // Red
    RGB(255, 192, 203),  // Pink
    RGB(255, 255, 0),    // Yellow
    RGB(144, 238, 144),  // Green
    RGB(100, 149, 237),  // Blue
    RGB(238, 130, 238),  // Purple
};
constexpr COLORREF kWarningText = RGB(255, 153, 0);
constexpr COLORREF kErrorText = RGB(255, 0, 0);
constexpr COLORREF kPersonalText = RGB(18, 138, 247);
constexpr COLORREF kPlainText = RGB(0, 0, 0);
constexpr size_t kCellChars = 256;

struct ColumnInfo {
  uint32_t bit;
  UINT textId;
  int width;
};
constexpr ColumnInfo kColumnTable[kColumnBits] = {
    {0x1, IDS_COLUMN_NUMBER, 60},  {0x2, IDS_COLUMN_TIME, 150},   {0x4, IDS_COLUMN_MODULE, 80},
    {0x8, IDS_COLUMN_NAME, 110},   {0x10, IDS_COLUMN_HINT, 100},  {0x20, IDS_COLUMN_PID, 50},
    {0x40, IDS_COLUMN_DELTA, 100}, {0x80, IDS_COLUMN_TID, 50},    {0x100, IDS_COLUMN_MESSAGE, 1600},
};

const ColumnInfo* FindColumn(uint32_t bit) {
  for (const ColumnInfo& info : kColumnTable) {
    if (info.bit == bit) {
      return &info;
    }
  }
  return nullptr;
}
}  // namespace

RowColours BookmarkColours(uint32_t level) {
  const uint32_t marks = level & kMarkMask;
  for (int i = 0; i < kMarkColours; ++i) {
    if ((marks & (kMarkFirstBit << i)) != 0) {
      return {kBookmarkBackgrounds[i], kBookmarkText};
    }
  }
  return {kBookmarkBackgrounds[kMarkColours - 1], kBookmarkText};
}

COLORREF LevelTextColour(uint32_t level) {
  if ((level & kLevelInfo) != 0) return kPlainText;
  if ((level & kLevelWarning) != 0) return kWarningText;
  if ((level & kLevelError) != 0) return kErrorText;
  if ((level & kLevelPersonal) != 0) return kPersonalText;
  return kPlainText;
}

UINT ColumnTextId(uint32_t bit) {
  const ColumnInfo* info = FindColumn(bit);
  return info != nullptr ? info->textId : 0;
}

int ColumnWidth(uint32_t bit) {
  const ColumnInfo* info = FindColumn(bit);
  return info != nullptr ? info->width : 0;
}

const wchar_t* CellText(uint32_t bit, int row, const TraceRecord& record, wchar_t* buffer, size_t size) {
  switch (bit) {
    case kColumnNumber:
      StrPrintfW(buffer, size, L"%u", unsigned(row) + 1);
      return buffer;
    case kColumnTime:
      return record.timeText;
    case kColumnModule:
      return record.groupName != nullptr ? record.groupName : L"";
    case kColumnName:
      return record.Module();
    case kColumnHint:
      return record.Hint();
    case kColumnId:
      StrPrintfW(buffer, size, L"%u", record.pid);
      return buffer;
    case kColumnTid:
      StrPrintfW(buffer, size, L"%u", record.tid);
      return buffer;
    case kColumnMessage:
      return record.Message();
    default:
      return L"";
  }
}
}  // namespace ktframe

bool CMainFrame::LockForPaint() {
  m_paintLock.reset();
  if (!IsUsable(ShownView())) {
    return false;
  }
  m_paintLock.emplace(CurrentStore(), kLockShared);
  if (!m_paintLock->Held()) {
    m_paintLock.reset();
    return false;
  }
  return true;
}

void CMainFrame::UnlockAfterPaint() { m_paintLock.reset(); }

LRESULT CMainFrame::OnMeasureItem(UINT, WPARAM wParam, LPARAM lParam) {
  auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
  if (wParam != ktframe::kListId || measure == nullptr || m_listFont.IsNull()) {
    SetMsgHandled(FALSE);
    return 0;
  }
  CClientDC dc(m_list.m_hWnd);
  CSelectObject font(dc.get(), m_listFont.get());
  SIZE extent = {0, 0};
  ::GetTextExtentPoint32W(dc.get(), L" ", 1, &extent);
  measure->itemHeight = UINT(extent.cy + 1);
  m_list.m_rowHeight = measure->itemHeight;
  return 1;
}

LRESULT CMainFrame::OnDrawItem(UINT, WPARAM wParam, LPARAM lParam) {
  const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
  if (wParam != ktframe::kListId || draw == nullptr) {
    SetMsgHandled(FALSE);
    return 0;
  }
  if (draw->itemAction == ODA_FOCUS) {
    // Drawn straight onto the window, outside the list's buffer: let the
    // next paint draw the whole row instead of leaving a frame behind.
    m_list.InvalidateRect(&draw->rcItem, FALSE);
    return 1;
  }
  CTraceView* view = ShownView();
  if (IsUsable(view) && view == m_shownView) {
    DrawRow(*draw, view);
  }
  return 1;
}

void CMainFrame::DrawRow(const DRAWITEMSTRUCT& draw, CTraceView* view) {
  CTraceMgr* store = CurrentStore();
  if (store == nullptr) {
    return;
  }
  const int row = int(draw.itemID);
  const TraceRecord* record = store->GetItem(view, row);
  if (record == nullptr) {
    return;
  }
  CSaveDC saved(draw.hDC);
  ::SelectObject(draw.hDC, m_listFont.IsNull() ? ::GetStockObject(DEFAULT_GUI_FONT) : m_listFont.get());
  ::SetBkMode(draw.hDC, TRANSPARENT);
  if (record->IsMarked()) {
    const ktframe::RowColours colours = ktframe::BookmarkColours(record->level);
    CBrush fill;
    fill.CreateSolidBrush(colours.background);
    ::FillRect(draw.hDC, &draw.rcItem, fill.get());
    ::SetTextColor(draw.hDC, colours.text);
  } else {
    m_list.DrawRowBackground(draw.hDC, row, draw.rcItem, m_list.RowState(row, draw.itemState));
    ::SetTextColor(draw.hDC, ktframe::LevelTextColour(record->level));
  }
  CPen pen;
  pen.CreatePen(PS_SOLID, 1, ktlist::kGridColor);
  CSelectObject selectedPen(draw.hDC, pen.get());
  wchar_t buffer[ktframe::kCellChars];
  for (size_t column = 0; column < m_columns.count; ++column) {
    RECT cell;
    // Sub-item rectangles are asked by column index: the header maps the
    // index to wherever the column was dragged.
    if (!m_list.GetSubItemRect(row, int(column), LVIR_LABEL, &cell)) {
      continue;
    }
    ::MoveToEx(draw.hDC, cell.right - 1, cell.top + 1, nullptr);
    ::LineTo(draw.hDC, cell.right - 1, cell.bottom - 2);
    cell.left += ktlist::kCellTextInset;
    cell.right -= ktlist::kCellTextInset;
    const uint32_t bit = m_columns[column];
    const wchar_t* text = L"";
    buffer[0] = L'\0';
    if (bit == kColumnDelta) {
      const CStoreLock lock(store, kLockShared);
      if (lock.Held()) {
        view->FormatDelta(row, buffer, ktframe::kCellChars);
      }
      text = buffer;
    } else {
      text = ktframe::CellText(bit, row, *record, buffer, ktframe::kCellChars);
    }
    ::DrawTextW(draw.hDC, text, -1, &cell, ktlist::kCellTextFormat);
  }
}
