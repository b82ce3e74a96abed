#include "ui/controls/ListCtrlEx.h"

#include "core/Containers.h"
#include "core/RefString.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/framework/Gdi.h"

namespace ktlist {
namespace {

constexpr int kFrameCorner = 5;
constexpr int kOuterInset = 1;
constexpr int kInnerInset = 2;

RECT Inset(const RECT& rect, int by) { return RECT{rect.left + by, rect.top + by, rect.right - by, rect.bottom - by}; }

int HeaderHeight(HWND list) {
  HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  RECT client = {};
  // A list without a visible header starts its rows at the top.
  if (header == nullptr || !::IsWindowVisible(header) || !::GetClientRect(header, &client)) {
    return 0;
  }
  return client.bottom - client.top;
}

UINT AlignmentOf(int format) {
  switch (format & LVCFMT_JUSTIFYMASK) {
    case LVCFMT_RIGHT:
      return DT_RIGHT;
    case LVCFMT_CENTER:
      return DT_CENTER;
    default:
      return DT_LEFT;
  }
}

// The columns in the order the header shows them; the natural order when the
// header cannot say or there is no memory for it.
bool HeaderOrder(const CHeaderCtrl& header, int count, CGrowArray<int>& order) {
  if (count <= 0 || !order.Reserve(size_t(count))) {
    return false;
  }
  order.count = size_t(count);
  if (!header.GetOrderArray(count, order.data)) {
    for (int i = 0; i < count; ++i) {
      order.data[i] = i;
    }
  }
  return true;
}

void DrawItemImage(HDC dc, const CListViewCtrl& list, int item) {
  HIMAGELIST images = list.GetImageList(LVSIL_SMALL);
  if (images == nullptr) {
    return;
  }
  LVITEMW lvi = {};
  lvi.mask = LVIF_IMAGE;
  lvi.iItem = item;
  RECT icon;
  if (list.GetItem(&lvi) && lvi.iImage >= 0 && list.GetItemRect(item, &icon, LVIR_ICON)) {
    ImageList_Draw(images, lvi.iImage, dc, icon.left, icon.top + 1, ILD_TRANSPARENT);
  }
}

}  // namespace

HFONT ListFont(HWND list) {
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0));
  return font != nullptr ? font : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

UINT MeasureRowHeight(HWND list) {
  CClientDC dc(list);
  TEXTMETRICW metrics = {};
  if (!dc.IsNull()) {
    // The window DC holds the system font; the rows are drawn in the list's own.
    CSelectObject font(dc.get(), ListFont(list));
    dc.GetTextMetrics(&metrics);
  }
  UINT height = metrics.tmHeight > 0 ? UINT(metrics.tmHeight) : 0;
  const int iconHeight = ::GetSystemMetrics(SM_CYSMICON);
  if (::SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0) != 0 && int(height) <= iconHeight) {
    height = UINT(iconHeight);
  }
  return height + 1;
}

void ExcludeHeaderFromClip(HDC dc, HWND list) {
  HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  RECT rect;
  if (header == nullptr || !::IsWindowVisible(header) || !::GetWindowRect(header, &rect)) {
    return;
  }
  ::MapWindowPoints(nullptr, list, reinterpret_cast<POINT*>(&rect), 2);
  rect.bottom -= 1;
  if (rect.bottom > rect.top) {
    ::ExcludeClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
  }
}

void FillListBackground(HDC dc, HWND list, const RECT& area) {
  ::FillRect(dc, &area, ::GetSysColorBrush(::IsWindowEnabled(list) ? COLOR_WINDOW : COLOR_BTNFACE));
}

void DrawGridLines(HDC hdc, HWND list, const RECT& area, UINT rowHeight) {
  if (rowHeight == 0) {
    return;
  }
  CPen pen;
  if (!pen.CreatePen(PS_SOLID, 1, kGridColor)) {
    return;
  }
  CSelectObject selected(hdc, pen.get());
  const int step = int(rowHeight);
  for (int y = area.top + HeaderHeight(list); y <= area.bottom; y += step) {
    ::MoveToEx(hdc, area.left, y - 1, nullptr);
    ::LineTo(hdc, area.right, y - 1);
  }
}

void DrawColumnLines(HDC hdc, HWND list, const RECT& area) {
  CHeaderCtrl header(reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0)));
  if (header.m_hWnd == nullptr) {
    return;
  }
  CPen pen;
  if (!pen.CreatePen(PS_SOLID, 1, kGridColor)) {
    return;
  }
  CSelectObject selected(hdc, pen.get());
  const int scroll = ::GetScrollPos(list, SB_HORZ);
  const int count = header.GetItemCount();
  for (int i = 0; i < count; ++i) {
    RECT rect;
    if (header.GetItemRect(i, &rect)) {
      const int x = rect.right - scroll;
      ::MoveToEx(hdc, x, area.top, nullptr);
      ::LineTo(hdc, x, area.bottom);
    }
  }
}

void DrawRowBackground(HDC hdc, const RECT& row, UINT itemState) {
  const bool selected = (itemState & ODS_SELECTED) != 0;
  const bool focused = (itemState & ODS_FOCUS) != 0;
  if ((itemState & ODS_DISABLED) != 0 || (!selected && !focused)) {
    return;
  }
  if (selected) {
    DrawGradientRect(hdc, Inset(row, kOuterInset), kSelectedOuterTop, kSelectedOuterBottom, false);
    DrawGradientRect(hdc, Inset(row, kInnerInset), kSelectedInnerTop, kSelectedInnerBottom, false);
  }
  CPen pen;
  if (!pen.CreatePen(PS_SOLID, 1, kRowFrameColor)) {
    return;
  }
  CSelectObject selectedPen(hdc, pen.get());
  CSelectObject hollow(hdc, ::GetStockObject(HOLLOW_BRUSH));
  ::RoundRect(hdc, row.left, row.top, row.right, row.bottom, kFrameCorner, kFrameCorner);
}

void DrawSubItems(HDC hdc, const CListViewCtrl& list, int item, UINT itemState) {
  CPen pen;
  pen.CreatePen(PS_SOLID, 1, kGridColor);
  CSelectObject selected(hdc, pen.get());
  const CHeaderCtrl header(list.GetHeader());
  const int count = header.m_hWnd != nullptr ? header.GetItemCount() : 0;
  CGrowArray<int> order;
  if (!HeaderOrder(header, count, order)) {
    return;
  }
  CString text;
  for (size_t position = 0; position < order.count; ++position) {
    const int column = order.data[position];
    if (column == 0) {
      DrawItemImage(hdc, list, item);
    }
    RECT cell;
    if (!list.GetSubItemRect(item, column, LVIR_LABEL, &cell)) {
      continue;
    }
    if ((itemState & ODS_DISABLED) == 0) {
      ::MoveToEx(hdc, cell.right, cell.top + 1, nullptr);
      ::LineTo(hdc, cell.right, cell.bottom - 1);
    }
    LVCOLUMNW format = {};
    format.mask = LVCF_FMT;
    const UINT alignment = list.GetColumn(column, &format) ? AlignmentOf(format.fmt) : DT_LEFT;
    cell.left += kCellTextInset;
    cell.right -= kCellTextInset;
    if (list.GetItemText(item, column, text)) {
      ::DrawTextW(hdc, text.c_str(), -1, &cell, alignment | kCellTextFormat);
    }
  }
}

}  // namespace ktlist

namespace {

constexpr int kCheckBoxLeft = 3;
constexpr int kStateImageShift = 12;
constexpr int kCheckBoxPart = 3;  // BP_CHECKBOX
constexpr int kCheckUnchecked = 1;
constexpr int kCheckUncheckedDisabled = 4;
constexpr int kCheckChecked = 5;
constexpr int kCheckCheckedDisabled = 8;

}  // namespace

void CCheckListEx::Init(HIMAGELIST imageList) {
  CListCtrlExImpl<CCheckListEx>::Init(imageList);
  if (m_theme != nullptr) {
    GetThemeHelper().CloseTheme(m_theme);
  }
  m_theme = GetThemeHelper().OpenTheme(m_hWnd, L"BUTTON");
}

UINT CCheckListEx::GetStateImage(int item) const {
  return (GetItemState(item, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> kStateImageShift;
}

BOOL CCheckListEx::SetStateImage(int item, UINT image) {
  return SetItemState(item, INDEXTOSTATEIMAGEMASK(image), LVIS_STATEIMAGEMASK);
}

void CCheckListEx::ToggleCheck(int item) {
  SetStateImage(item, GetStateImage(item) == kUncheckedImage ? kCheckedImage : kUncheckedImage);
}

int CCheckListEx::InsertItem(int index, const wchar_t* text, bool checked) {
  const int item = CListViewCtrl::InsertItem(index, text);
  if (item >= 0) {
    SetCheck(item, checked);
  }
  return item;
}

// With LVS_EX_CHECKBOXES the list toggles the check itself when the click
// lands on its state icon, and not elsewhere on the row. Toggling on top of
// that would undo the click, so the list handles the click first and the row
// is toggled here only when the list left its check alone. With Ctrl held
// the click only selects: a check the list changed is put back.
LRESULT CCheckListEx::OnLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam) {
  LVHITTESTINFO hit = {};
  hit.pt.x = short(LOWORD(lParam));
  hit.pt.y = short(HIWORD(lParam));
  const int item = HitTest(&hit);
  const bool control = ::GetKeyState(VK_CONTROL) < 0;
  const UINT before = item >= 0 ? GetStateImage(item) : 0;
  const LRESULT result = DefWindowProc(msg, wParam, lParam);
  if (item >= 0 && item < GetItemCount()) {
    const UINT after = GetStateImage(item);
    if (control) {
      if (after != before) {
        SetStateImage(item, before);
      }
    } else if (after == before) {
      ToggleCheck(item);
    }
  }
  return result;
}

void CCheckListEx::DrawRowPrefix(HDC dc, int item, RECT& row, UINT itemState) {
  RECT box = {row.left + kCheckBoxLeft, row.top, row.left + kCheckBoxLeft + ::GetSystemMetrics(SM_CXMENUCHECK),
              row.bottom};
  const bool checked = GetCheck(item);
  const bool disabled = (itemState & ODS_DISABLED) != 0;
  if (GetTheme() != nullptr) {
    const int state = checked ? (disabled ? kCheckCheckedDisabled : kCheckChecked)
                              : (disabled ? kCheckUncheckedDisabled : kCheckUnchecked);
    DrawThemedBackground(GetTheme(), dc, kCheckBoxPart, state, box);
  } else {
    ::DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | (checked ? DFCS_CHECKED : 0));
  }
  row.left = box.right;
}
