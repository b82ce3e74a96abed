#include "ui/controls/StatusBarEx.h"

#include <cwchar>
#include <new>

#include "resource.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/Gdi.h"

namespace {

constexpr DWORD kBarStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | SBARS_SIZEGRIP;
constexpr DWORD kProgressStyle = WS_CHILD | PBS_SMOOTH;
constexpr int kProgressMax = 100;
// The progress bar's insets inside its pane.
constexpr int kProgressInsetLeft = 1;
constexpr int kProgressInsetTop = 2;
constexpr int kProgressInsetRight = 5;
constexpr int kProgressInsetBottom = 2;

constexpr int kImageSize = 16;
constexpr int kImageGrow = 8;

constexpr int kItemGap = 4;  // between one item's right edge and the next one's left
constexpr int kImageLeft = 2;
constexpr int kImageTextShift = 18;  // text area start behind an image
constexpr int kTextRightMargin = 2;
constexpr int kDropDownTextRightMargin = 8;
constexpr int kArrowLeftFromRight = 8;
constexpr int kArrowRightFromRight = 2;
constexpr int kItemSeparatorOffset = 2;  // right of the item's right edge
constexpr int kDefaultTextLeft = 2;
// Room a counter keeps beside its number, so ten digits never touch the edge.
constexpr int kCounterTextSlack = 4;

constexpr UINT kPaneTextFormat = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
constexpr UINT kItemTextFormat = kPaneTextFormat | DT_CENTER;
constexpr COLORREF kSeparatorShade = RGB(215, 215, 215);

// "TOOLBAR" theme: the button part and its hot and pressed states.
constexpr int kThemeButtonPart = 1;
constexpr int kThemeStateHot = 2;
constexpr int kThemeStatePressed = 3;

// The size grip: rows of dots above the bottom edge, one more dot per row.
constexpr int kGripRows = 3;
constexpr int kGripFirstRowAbove = 12;
constexpr int kGripRowStep = 4;
constexpr int kGripDotStep = 4;
constexpr COLORREF kGripLight = RGB(255, 255, 255);
constexpr COLORREF kGripRight = RGB(231, 231, 231);
constexpr COLORREF kGripBelow = RGB(207, 207, 207);
constexpr COLORREF kGripShadow = RGB(175, 175, 175);

struct DefaultItem {
  uint16_t kind;
  uint32_t width;
  const wchar_t* text;
  UINT tipId;
};

// In position order; each item's picture is the image at its position.
constexpr DefaultItem kDefaultItems[kStatusItemCount] = {
    {0, 20, L"", IDS_TIP_EDIT_FILTER},
    {kStatusItemDropDown, 50, L"pid", IDS_TIP_FILTER_PID},
    {kStatusItemDropDown, 60, L"level", IDS_TIP_FILTER_LEVEL},
    {0, 60, L"", IDS_TIP_NEXT_DEBUG},
    {0, 60, L"", IDS_TIP_NEXT_INFO},
    {0, 50, L"", IDS_TIP_NEXT_WARNING},
    {0, 50, L"", IDS_TIP_NEXT_ERROR},
    {0, 50, L"", IDS_TIP_NEXT_PII},
};

constexpr int kPaneIds[] = {ktui::kDefaultPaneId, ID_PANE_PROGRESS, ID_PANE_ITEMS};

// Owns an icon and destroys it: every icon taken from an image list is a
// new object that the taker must free.
class CIconOwner {
 public:
  explicit CIconOwner(HICON icon) : m_icon(icon) {}
  ~CIconOwner() {
    if (m_icon != nullptr) {
      ::DestroyIcon(m_icon);
    }
  }
  CIconOwner(const CIconOwner&) = delete;
  CIconOwner& operator=(const CIconOwner&) = delete;
  HICON get() const { return m_icon; }

 private:
  HICON m_icon;
};

void DrawSeparator(CDCHandle& dc, int x, int top, int bottom) {
  dc.Draw3dRect(RECT{x, top, x + 1, bottom}, ::GetSysColor(COLOR_BTNHIGHLIGHT), kSeparatorShade);
}

}  // namespace

CStatusBarEx::~CStatusBarEx() { FreeItems(); }

BOOL CStatusBarEx::CreateEx(HWND parent, UINT notifyId) {
  if (Create(parent, IDS_IDLE_MESSAGE, kBarStyle, ktui::kStatusBarWindowId) == nullptr) {
    return FALSE;
  }
  SetPanes(kPaneIds, sizeof(kPaneIds) / sizeof(kPaneIds[0]));
  m_progress.Attach(::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, kProgressStyle, 0, 0, 0, 0, m_hWnd, nullptr,
                                      ::GetModuleHandleW(nullptr), nullptr));
  if (m_progress.m_hWnd != nullptr) {
    m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, kProgressMax));
  }
  SetPaneWidth(ID_PANE_ITEMS, kItemsPaneWidth);
  m_notifyId = notifyId;
  m_images.CreateFromImage(IDB_STATUS_ITEMS, kImageSize, kImageGrow, CLR_DEFAULT, LR_CREATEDIBSECTION);
  AppendDefaultItems();
  UpdatePanes();
  return TRUE;
}

BOOL CStatusBarEx::AppendDefaultItems() {
  for (size_t i = 0; i < kStatusItemCount; ++i) {
    const DefaultItem& item = kDefaultItems[i];
    if (!AddItem(item.kind, int32_t(i), item.width, item.text)) {
      return FALSE;
    }
  }
  return TRUE;
}

BOOL CStatusBarEx::AddItem(uint16_t kind, int32_t image, uint32_t width, const wchar_t* text) {
  auto* item = new (std::nothrow) StatusIndicatorItem;
  if (item == nullptr) {
    return FALSE;
  }
  item->kind = kind;
  item->image = image;
  item->width = width;
  if ((text != nullptr && !item->text.Assign(text)) || !m_items.Append(item)) {
    delete item;
    return FALSE;
  }
  return TRUE;
}

void CStatusBarEx::FreeItems() {
  for (size_t i = 0; i < m_items.count; ++i) {
    delete m_items.data[i];
  }
  m_items.Free();
}

UINT CStatusBarEx::GetItemTipId(size_t position) {
  return position < kStatusItemCount ? kDefaultItems[position].tipId : 0;
}

int64_t CStatusBarEx::HitTestItem(POINT point) const {
  for (size_t i = 0; i < m_items.count; ++i) {
    const StatusIndicatorItem* item = m_items.data[i];
    if ((item->flags & kStatusItemDisabled) == 0 && ::PtInRect(&item->rect, point)) {
      return int64_t(i);
    }
  }
  return -1;
}

void CStatusBarEx::SetPaneTexts(const wchar_t* debug, const wchar_t* info, const wchar_t* warning,
                                const wchar_t* error, const wchar_t* pii) {
  const wchar_t* const texts[] = {debug, info, warning, error, pii};
  for (size_t i = 0; i < sizeof(texts) / sizeof(texts[0]); ++i) {
    const size_t position = kStatusItemDebug + i;
    if (position < m_items.count) {
      m_items.data[position]->text.Assign(texts[i] != nullptr ? texts[i] : L"");
    }
  }
  if (m_hWnd == nullptr) {
    return;
  }
  if (FitItemsPane()) {
    UpdatePanes();
    Invalidate(FALSE);
    return;
  }
  // Stale counters would otherwise stay on screen until something else repaints.
  RECT pane = {};
  if (GetPaneRect(ID_PANE_ITEMS, &pane)) {
    InvalidateRect(&pane, FALSE);
  }
}

void CStatusBarEx::SetTextPaneMinimum(const wchar_t* text) {
  int width = 0;
  if (text != nullptr && text[0] != L'\0' && m_hWnd != nullptr) {
    width = kDefaultTextLeft + TextExtent(text) + kTextRightMargin;
  }
  if (width != m_textMinimum) {
    m_textMinimum = width;
    if (m_hWnd != nullptr && FitItemsPane()) {
      UpdatePanes();
      Invalidate(FALSE);
    }
  }
}

int CStatusBarEx::TextExtent(const wchar_t* text) const {
  CClientDC dc(m_hWnd);
  SIZE extent = {0, 0};
  if (!dc.IsNull()) {
    CSelectObject font(dc.get(), ::GetStockObject(DEFAULT_GUI_FONT));
    ::GetTextExtentPoint32W(dc.get(), text, int(wcslen(text)), &extent);
  }
  return extent.cx;
}

bool CStatusBarEx::FitItemsPane() {
  const bool wasCompact = m_compactCounters;
  uint32_t before[kStatusItemCount] = {};
  for (size_t i = 0; i < kStatusItemCount && i < m_items.count; ++i) {
    before[i] = m_items.data[i]->width;
  }
  m_compactCounters = false;
  FitCounters();
  int width = ItemsPaneWidth();
  if (m_textMinimum > 0) {
    // Too narrow for the counters and the text both: the counters give up
    // their pictures before the text is cut.
    RECT client = {};
    GetClientRect(&client);
    const int grip = ::GetSystemMetrics(SM_CXVSCROLL) + ::GetSystemMetrics(SM_CXEDGE);
    const int progress = GetPaneWidth(ID_PANE_PROGRESS);
    const int room = (client.right - client.left) - grip - (progress > 0 ? progress : 0) - m_textMinimum;
    if (width > room) {
      m_compactCounters = true;
      FitCounters();
      width = ItemsPaneWidth();
    }
  }
  bool changed = wasCompact != m_compactCounters;
  for (size_t i = 0; i < kStatusItemCount && i < m_items.count; ++i) {
    changed = changed || before[i] != m_items.data[i]->width;
  }
  if (width != GetPaneWidth(ID_PANE_ITEMS)) {
    SetPaneWidth(ID_PANE_ITEMS, width);
    changed = true;
  }
  return changed;
}

bool CStatusBarEx::FitCounters() {
  CClientDC dc(m_hWnd);
  if (dc.IsNull()) {
    return false;
  }
  CSelectObject font(dc.get(), ::GetStockObject(DEFAULT_GUI_FONT));
  bool changed = false;
  for (size_t position = kStatusItemDebug; position < kStatusItemCount && position < m_items.count; ++position) {
    StatusIndicatorItem* item = m_items.data[position];
    SIZE extent = {0, 0};
    if (!item->text.IsEmpty()) {
      ::GetTextExtentPoint32W(dc.get(), item->text.c_str(), int(item->text.GetLength()), &extent);
    }
    const int picture = item->image >= 0 && !m_compactCounters ? kImageTextShift : 0;
    const uint32_t needed = uint32_t(picture + extent.cx + kTextRightMargin + kCounterTextSlack);
    const uint32_t least = m_compactCounters ? needed : kDefaultItems[position].width;
    const uint32_t width = needed > least ? needed : least;
    if (width != item->width) {
      item->width = width;
      changed = true;
    }
  }
  return changed;
}

int CStatusBarEx::ItemsPaneWidth() const {
  int width = 0;
  for (size_t i = 0; i < m_items.count; ++i) {
    width += int(m_items.data[i]->width) + (i != 0 ? kItemGap : 0);
  }
  // The separator of the last item stands two pixels right of it.
  width += kItemSeparatorOffset;
  // Compact counters give their room to the text: the pane holds no more
  // than its items then.
  return width > kItemsPaneWidth || m_compactCounters ? width : kItemsPaneWidth;
}

void CStatusBarEx::SetItemsDisabled(bool disabled) {
  for (size_t i = 0; i < m_items.count; ++i) {
    uint16_t& flags = m_items.data[i]->flags;
    flags = disabled ? uint16_t(flags | kStatusItemDisabled) : uint16_t(flags & ~kStatusItemDisabled);
  }
  if (m_hWnd != nullptr) {
    Invalidate(FALSE);
  }
}

void CStatusBarEx::SetItemImage(size_t position, int32_t image) {
  if (position >= m_items.count || m_items.data[position]->image == image) {
    return;
  }
  m_items.data[position]->image = image;
  if (m_hWnd != nullptr) {
    Invalidate(FALSE);
  }
}

void CStatusBarEx::ShowPaneWindow(int command) {
  if (m_progress.m_hWnd == nullptr) {
    return;
  }
  // The style bit, not IsWindowVisible: while the bar itself is hidden the
  // progress bar counts as invisible, and a second show would widen again.
  const bool shown = (m_progress.GetStyle() & WS_VISIBLE) != 0;
  if ((command == SW_SHOW && !shown) || (command == SW_HIDE && shown)) {
    m_progress.ShowWindow(command);
    // The width goes into the pane's own width, not into the parts alone,
    // so that the next layout (every resize) keeps it.
    const int width = GetPaneWidth(ID_PANE_PROGRESS);
    if (width >= 0) {
      const int changed = command == SW_SHOW ? width + kProgressExtraWidth
                                             : (width > kProgressExtraWidth ? width - kProgressExtraWidth : 0);
      SetPaneWidth(ID_PANE_PROGRESS, changed);
    }
    UpdatePanes();
  } else if (command == -1) {
    PlaceProgressBar();
  }
}

void CStatusBarEx::PlaceProgressBar() {
  RECT pane = {};
  if (m_progress.m_hWnd == nullptr || !GetPaneRect(ID_PANE_PROGRESS, &pane)) {
    return;
  }
  const RECT place = {pane.left + kProgressInsetLeft, pane.top + kProgressInsetTop, pane.right - kProgressInsetRight,
                      pane.bottom - kProgressInsetBottom};
  m_progress.SetWindowPos(nullptr, place, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CStatusBarEx::UpdatePanes() {
  FitItemsPane();
  UpdatePanesLayout();
  if (m_progress.m_hWnd != nullptr && (m_progress.GetStyle() & WS_VISIBLE) != 0) {
    ShowPaneWindow(-1);
  }
  LayoutItems();
}

void CStatusBarEx::LayoutItems() {
  RECT pane = {};
  if (!GetPaneRect(ID_PANE_ITEMS, &pane)) {
    return;
  }
  int left = pane.left;
  for (size_t i = 0; i < m_items.count; ++i) {
    StatusIndicatorItem* item = m_items.data[i];
    item->rect = RECT{left, pane.top, left + int(item->width), pane.bottom - 1};
    left = item->rect.right + kItemGap;
  }
}

LRESULT CStatusBarEx::OnBarSize(UINT msg, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = DefWindowProc(msg, wParam, lParam);
  if (wParam != SIZE_MINIMIZED && GetPaneCount() != 0) {
    UpdatePanes();
  }
  return result;
}

void CStatusBarEx::OnItemClick(int64_t item) {
  NMHDR header = {m_hWnd, m_notifyId, UINT(item)};
  ::SendMessageW(GetParent(), WM_NOTIFY, WPARAM(m_notifyId), reinterpret_cast<LPARAM>(&header));
}

void CStatusBarEx::DoPaint(HDC target) {
  CDCHandle dc(target);
  RECT client = {};
  GetClientRect(&client);
  dc.FillRect(client, ::GetSysColorBrush(COLOR_BTNFACE));
  CSaveDC saved(target);
  dc.SetBkMode(TRANSPARENT);
  dc.SelectObject(::GetStockObject(DEFAULT_GUI_FONT));

  RECT pane = {};
  if (GetPaneRect(ktui::kDefaultPaneId, &pane)) {
    CString text;
    GetText(GetPaneIndexFromId(ktui::kDefaultPaneId), text);
    RECT textRect = pane;
    textRect.left = kDefaultTextLeft;
    dc.SetTextColor(::GetSysColor(COLOR_BTNTEXT));
    dc.DrawText(text.c_str(), int(text.GetLength()), &textRect, kPaneTextFormat);
  }
  PaintPaneSeparator(dc, ktui::kDefaultPaneId);
  PaintPaneSeparator(dc, ID_PANE_PROGRESS);  // the progress bar paints itself
  for (size_t i = 0; i < m_items.count; ++i) {
    PaintItem(dc, *m_items.data[i], int64_t(i) == m_hot);
  }
  PaintSizeGrip(dc, client);
}

void CStatusBarEx::PaintPaneSeparator(CDCHandle& dc, int paneId) {
  RECT pane = {};
  if (GetPaneRect(paneId, &pane)) {
    DrawSeparator(dc, pane.right - 1, pane.top, pane.bottom);
  }
}

void CStatusBarEx::PaintItem(CDCHandle& dc, const StatusIndicatorItem& item, bool hot) {
  const RECT& rect = item.rect;
  if (hot) {
    if (m_theme != nullptr) {
      DrawThemedBackground(m_theme, dc.get(), kThemeButtonPart, m_pressed ? kThemeStatePressed : kThemeStateHot,
                           rect);
    } else {
      dc.Draw3dRect(rect, ::GetSysColor(COLOR_BTNHIGHLIGHT), ::GetSysColor(COLOR_BTNSHADOW));
    }
  }
  const bool disabled = (item.flags & kStatusItemDisabled) != 0;
  RECT textRect = rect;
  if (item.image >= 0 && !(m_compactCounters && IsCounter(item))) {
    const int x = rect.left + kImageLeft;
    const int y = rect.top + 1 + (rect.bottom - rect.top - kImageSize) / 2;
    if (disabled) {
      CIconOwner icon(m_images.GetIcon(item.image, ILD_TRANSPARENT));
      if (icon.get() != nullptr) {
        ::DrawStateW(dc.get(), nullptr, nullptr, reinterpret_cast<LPARAM>(icon.get()), 0, x, y, 0, 0,
                     DST_ICON | DSS_DISABLED);
      }
    } else {
      m_images.Draw(item.image, dc.get(), x, y, ILD_TRANSPARENT);
    }
    textRect.left += kImageTextShift;
  }
  const COLORREF color = ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT);
  dc.SetTextColor(color);
  const bool dropDown = (item.kind & kStatusItemDropDown) != 0;
  textRect.right -= dropDown ? kDropDownTextRightMargin : kTextRightMargin;
  if (!item.text.IsEmpty()) {
    dc.DrawText(item.text.c_str(), int(item.text.GetLength()), &textRect, kItemTextFormat);
  }
  if (dropDown) {
    DrawDropArrow(dc.get(), RECT{rect.right - kArrowLeftFromRight, rect.top, rect.right - kArrowRightFromRight,
                                 rect.bottom},
                  color);
  }
  DrawSeparator(dc, rect.right + kItemSeparatorOffset, rect.top, rect.bottom);
}

bool CStatusBarEx::IsCounter(const StatusIndicatorItem& item) const {
  for (size_t position = kStatusItemDebug; position < kStatusItemCount && position < m_items.count; ++position) {
    if (m_items.data[position] == &item) {
      return true;
    }
  }
  return false;
}

void CStatusBarEx::PaintSizeGrip(CDCHandle& dc, const RECT& client) {
  HWND parent = GetParent();
  if (parent != nullptr && (::GetWindowLongPtrW(parent, GWL_STYLE) & WS_MAXIMIZE) != 0) {
    return;
  }
  for (int row = 0; row < kGripRows; ++row) {
    const int y = client.bottom - (kGripFirstRowAbove - row * kGripRowStep);
    for (int dot = 1; dot <= row + 1; ++dot) {
      const int x = client.right - dot * kGripDotStep;
      dc.SetPixel(x, y, kGripLight);
      dc.SetPixel(x + 1, y, kGripRight);
      dc.SetPixel(x, y + 1, kGripBelow);
      dc.SetPixel(x + 1, y + 1, kGripShadow);
    }
  }
}
