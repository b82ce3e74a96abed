#include "ui/controls/TabModel.h"

#include <cwchar>
#include <new>

namespace {

constexpr uint32_t kHiddenOrDisabled = TBF_HIDDEN | TBF_DISABLED;
constexpr int kTabSelectedDrop = 2;  // the other tabs start this far down
constexpr int kTabBottomMargin = 3;
constexpr int kTabBottomMarginBottomStyle = 2;
constexpr int kCloseBoxInset = 2;

uint64_t AsNotifyValue(int64_t value) { return static_cast<uint64_t>(value); }

void Show(TabButton& button, int left, int top, int right, int bottom, bool enabled) {
  button.flags &= ~kHiddenOrDisabled;
  if (!enabled) button.flags |= TBF_DISABLED;
  button.rect = {left, top, right, bottom};
}

// The measured width of an item, or the minimum while it has none.
int LayoutWidth(const TabItem* item) {
  return item->width != 0 ? static_cast<int>(item->width) : kTabMinWidth;
}

}  // namespace

UINT TabToolTipStringId(int64_t hitCode) {
  switch (hitCode) {
    case kTabHitClose: return IDS_TIP_CLOSE_TAB;
    case kTabHitScrollLeft: return IDS_TIP_SCROLL_LEFT;
    case kTabHitScrollRight: return IDS_TIP_SCROLL_RIGHT;
    case kTabHitList: return IDS_TIP_TAB_LIST;
    case kTabHitCloseAll: return IDS_TIP_CLOSE_ALL_TABS;
    case kTabHitAdd: return IDS_TIP_ADD_TAB;
    default: return 0;
  }
}

bool TabButton::Hits(POINT point) const {
  return (flags & kHiddenOrDisabled) == 0 && point.x >= rect.left && point.x < rect.right &&
         point.y >= rect.top && point.y < rect.bottom;
}

TabGroup::~TabGroup() {
  for (size_t i = 0; i < items.count; ++i) delete items[i];
}

CTabStripModel::CTabStripModel(TabStripKind kind, uint32_t style) : m_kind(kind), m_style(style) {
  for (int64_t code = kTabHitClose; code <= kTabHitAdd; ++code) Button(code)->flags = TBF_HIDDEN;
}

CTabStripModel::~CTabStripModel() {
  for (size_t i = 0; i < m_groups.count; ++i) delete m_groups[i];
}

void CTabStripModel::SetNotifyHeader(HWND from, UINT_PTR id) {
  m_notifyFrom = from;
  m_notifyId = id;
}

TabButton* CTabStripModel::Button(int64_t code) {
  switch (code) {
    case kTabHitClose: return &m_close;
    case kTabHitScrollLeft: return &m_scrollLeft;
    case kTabHitScrollRight: return &m_scrollRight;
    case kTabHitList: return &m_list;
    case kTabHitCloseAll: return &m_closeAll;
    case kTabHitAdd: return &m_add;
    default: return nullptr;
  }
}

const TabButton* CTabStripModel::GetButton(int64_t code) const {
  return const_cast<CTabStripModel*>(this)->Button(code);
}

TabItem* CTabStripModel::GetItem(size_t group, size_t index) const {
  const TabGroup* g = GetGroup(group);
  return g ? g->Item(index) : nullptr;
}

LRESULT CTabStripModel::Notify(UINT code, uint64_t a, uint64_t b) {
  if (!m_sink) return 0;
  NMTABCTRLEX record{};
  record.hdr.hwndFrom = m_notifyFrom;
  record.hdr.idFrom = m_notifyId;
  record.hdr.code = code;
  record.a = a;
  record.b = b;
  return m_sink->OnTabNotify(record);
}

void CTabStripModel::Repaint() {
  if (m_sink) m_sink->RepaintTabStrip();
}

void CTabStripModel::ClearPressed() {
  if (!m_pressed) return;
  m_hot = kTabHitNone;
  m_pressed = false;
  RepaintIfVisible();
}

void CTabStripModel::RepaintIfVisible() {
  if (IsVisible()) Repaint();
}

void CTabStripModel::UpdateHotFromCursor() {
  POINT point;
  if (m_sink && m_sink->GetTabCursorPos(point)) m_hot = HitTest(point);
}

bool CTabStripModel::IsCurrent(const TabGroup* group) const { return CurrentGroup() == group; }

size_t CTabStripModel::IndexOfGroup(const TabGroup* group) const {
  for (size_t i = 0; i < m_groups.count; ++i) {
    if (m_groups[i] == group) return i;
  }
  return kTabNoItem;
}

// ---------------------------------------------------------------- groups

int64_t CTabStripModel::AddGroup(const wchar_t* name, uint64_t data) {
  if (m_groups.count >= kMaxTabGroups) return -1;
  TabGroup* group = new (std::nothrow) TabGroup;
  if (!group) return -1;
  if (!group->name.Assign(name) || !m_groups.Append(group)) {
    delete group;
    return -1;
  }
  group->data = data;
  const size_t index = m_groups.count - 1;
  if (m_current < 0) SelectGroup(index);
  return static_cast<int64_t>(index);
}

int CTabStripModel::SelectGroup(size_t index) {
  if (index >= m_groups.count) return 0;
  if (static_cast<int64_t>(index) == m_current) return 1;
  const int64_t old = m_current;
  m_current = static_cast<int64_t>(index);
  TabGroup* group = m_groups[index];
  Notify(TCXN_GROUPCHANGED, index, AsNotifyValue(old));
  // The notify window may have moved on to another group meanwhile.
  if (!IsCurrent(group)) return 1;
  if (group->Count() != 0) {
    const size_t item = group->selected < group->Count() ? group->selected : 0;
    group->selected = item;
    if (item < group->firstVisible || item >= group->endVisible) group->firstVisible = item;
    Notify(TCXN_SELCHANGED, item, kTabNone);
  }
  Refresh(true, true);
  return 1;
}

int CTabStripModel::RemoveGroup(size_t index) {
  if (index >= m_groups.count) return 0;
  TabGroup* group = m_groups[index];
  if (static_cast<int64_t>(index) != m_current) {
    m_groups.RemoveAt(index);
    delete group;
    if (m_current > static_cast<int64_t>(index)) --m_current;
    return 1;
  }
  Notify(TCXN_GROUPREMOVING, index, kTabNone);
  // The notify window runs inside the notification and may already have
  // removed or moved groups.
  const size_t now = IndexOfGroup(group);
  if (now == kTabNoItem) return 1;
  const bool wasCurrent = static_cast<int64_t>(now) == m_current;
  m_groups.RemoveAt(now);
  delete group;
  if (!wasCurrent) {
    if (m_current > static_cast<int64_t>(now)) --m_current;
    return 1;
  }
  m_current = -1;
  if (m_groups.count != 0) {
    SelectGroup(m_groups.count - 1);
  } else {
    Refresh(true, true);
  }
  return 1;
}

// ----------------------------------------------------------------- items

int64_t CTabStripModel::AddItem(size_t group, const wchar_t* text, int32_t image, uint64_t data,
                                int notify) {
  TabGroup* g = GetGroup(group);
  if (!g || g->Count() >= kMaxTabItems) return -1;
  TabItem* item = new (std::nothrow) TabItem;
  if (!item) return -1;
  if (!item->text.Assign(text) || !g->items.Append(item)) {
    delete item;
    return -1;
  }
  item->image = image;
  item->data = data;
  const size_t index = g->Count() - 1;
  if (IsCurrent(g)) {
    if (g->selected >= g->Count()) {
      g->selected = 0;
      g->firstVisible = 0;
      if (notify) Notify(TCXN_SELCHANGED, 0, kTabNone);
    }
    Refresh(true, true);
  }
  return static_cast<int64_t>(index);
}

void CTabStripModel::DestroyItem(TabGroup* group, size_t index) {
  TabItem* item = group->items[index];
  group->items.RemoveAt(index);
  delete item;
  const size_t count = group->Count();
  // The indexes behind the removed item move down one place, so the same
  // tabs stay leftmost and laid out.
  if (group->firstVisible > index) --group->firstVisible;
  if (group->endVisible > index) --group->endVisible;
  if (group->selected != kTabNoItem && group->selected > index) --group->selected;
  if (count == 0) {
    group->firstVisible = 0;
    group->endVisible = 0;
    return;
  }
  if (group->firstVisible >= count) group->firstVisible = count - 1;
  if (group->endVisible > count) group->endVisible = count;
}

void CTabStripModel::CloseFoundItem(TabGroup* group, size_t index) {
  const bool wasSelected = index == group->selected;
  DestroyItem(group, index);
  const size_t count = group->Count();
  if (count == 0) {
    group->selected = kTabNoItem;
    RemoveGroup(static_cast<size_t>(m_current));
    return;
  }
  if (!wasSelected) {
    Refresh(true, true);
    return;
  }
  // The tab that takes the closed one's place is a new selection even when it
  // has the same index: the notify window must stop showing the closed one.
  group->selected = kTabNoItem;
  SelectItem(index < count ? index : count - 1);
}

int CTabStripModel::CloseItem(size_t index, int ask) {
  TabGroup* group = CurrentGroup();
  TabItem* item = group ? group->Item(index) : nullptr;
  if (!item || (item->flags & TBF_NOCLOSE)) return 0;
  if (ask) {
    if (Notify(TCXN_ITEMCLOSING, index, kTabNone) == 1) return 0;
    // The notify window may have changed the strip while it was asked.
    if (!IsCurrent(group)) return 0;
    index = kTabNoItem;
    for (size_t i = 0; i < group->Count(); ++i) {
      if (group->items[i] == item) index = i;
    }
    if (index == kTabNoItem || (item->flags & TBF_NOCLOSE)) return 0;
  }
  CloseFoundItem(group, index);
  return 1;
}

void CTabStripModel::CloseAllItems() {
  TabGroup* group = CurrentGroup();
  if (!group) return;
  for (size_t i = group->Count(); i-- > 0;) {
    if (i >= group->Count()) continue;
    TabItem* item = group->items[i];
    if (item->flags & TBF_NOCLOSE) continue;
    Notify(TCXN_ITEMCLOSING, i, kTabNone);
    if (!IsCurrent(group)) return;
    if (i >= group->Count() || group->items[i] != item || (item->flags & TBF_NOCLOSE)) continue;
    DestroyItem(group, i);
  }
  if (group->Count() == 0) {
    group->selected = kTabNoItem;
    RemoveGroup(static_cast<size_t>(m_current));
    return;
  }
  group->selected = 0;
  group->firstVisible = 0;
  Notify(TCXN_SELCHANGED, 0, kTabNone);
  Refresh(true, true);
}

int CTabStripModel::RemoveItem(size_t index) {
  TabGroup* group = CurrentGroup();
  TabItem* item = group ? group->Item(index) : nullptr;
  if (!item || (item->flags & TBF_NOCLOSE)) return 0;
  const bool wasSelected = index == group->selected;
  DestroyItem(group, index);
  if (wasSelected) {
    group->selected = kTabNoItem;
    // An emptied group draws nothing; otherwise the owner selects and lays out.
    if (group->Count() == 0) Refresh(true, true);
    return 1;
  }
  Refresh(true, true);
  return 1;
}

int CTabStripModel::SelectItem(size_t index) {
  TabGroup* group = CurrentGroup();
  if (!group || index >= group->Count()) return 0;
  if (index == group->selected) return 1;
  const size_t old = group->selected;
  group->selected = index;
  if (index < group->firstVisible || index >= group->endVisible) group->firstVisible = index;
  Notify(TCXN_SELCHANGED, index, old);  // kTabNoItem is kTabNone
  Refresh(true, true);
  return 1;
}

int64_t CTabStripModel::FindItemByData(uint64_t data, size_t* group) const {
  for (size_t g = 0; g < m_groups.count; ++g) {
    const TabGroup* tabs = m_groups[g];
    for (size_t i = 0; i < tabs->Count(); ++i) {
      if (tabs->items[i]->data == data) {
        if (group) *group = g;
        return static_cast<int64_t>(i);
      }
    }
  }
  return -1;
}

int64_t CTabStripModel::FindItem(const wchar_t* text) const {
  const TabGroup* group = CurrentGroup();
  if (!group) return kTabItemNotFound;
  const wchar_t* wanted = text ? text : L"";
  for (size_t i = 0; i < group->Count(); ++i) {
    if (std::wcscmp(group->items[i]->text.c_str(), wanted) == 0) return static_cast<int64_t>(i);
  }
  return kTabItemNotFound;
}

CString CTabStripModel::GetItemText(size_t index) const {
  const TabGroup* group = CurrentGroup();
  const TabItem* item = group ? group->Item(index) : nullptr;
  return item ? item->text : CString();
}

int CTabStripModel::SetItemText(size_t group, size_t index, const wchar_t* text) {
  TabItem* item = GetItem(group, index);
  if (!item || !item->text.Assign(text)) return 0;
  if (static_cast<int64_t>(group) == m_current) RepaintIfVisible();
  return 1;
}

// -------------------------------------------------------------- hit test

int64_t CTabStripModel::HitTest(POINT point) const {
  if (m_kind == TabStripKind::View && m_add.Hits(point)) return kTabHitAdd;
  for (int64_t code = kTabHitScrollLeft; code <= kTabHitList; ++code) {
    if (GetButton(code)->Hits(point)) return code;
  }
  if ((m_style & TCX_CLOSEALLBUTTON) && m_closeAll.Hits(point)) return kTabHitCloseAll;
  const TabGroup* group = CurrentGroup();
  if (!group) return kTabHitNone;
  const size_t end = group->endVisible < group->Count() ? group->endVisible : group->Count();
  for (size_t i = group->firstVisible; i < end; ++i) {
    if (!group->items[i]->Hits(point)) continue;
    if (i == group->selected && (m_style & TCX_CLOSEBUTTON) && m_close.Hits(point)) return kTabHitClose;
    return static_cast<int64_t>(i);
  }
  return kTabHitNone;
}

// ---------------------------------------------------------------- layout

void CTabStripModel::Refresh(bool redraw, bool ensureVisible) {
  if (m_kind == TabStripKind::View) {
    if (m_groups.count != 0) {
      Show(m_add, kTabAddButtonRect.left, kTabAddButtonRect.top, kTabAddButtonRect.right,
           kTabAddButtonRect.bottom, true);
    } else {
      m_add.flags |= TBF_HIDDEN;
    }
  }
  Relayout(ensureVisible);
  if (redraw && IsVisible()) {
    UpdateHotFromCursor();
    Repaint();
  }
}

void CTabStripModel::Relayout(bool ensureVisible) {
  if (m_clientWidth > 0 && m_clientHeight > 0) {
    RecalcLayout(TabsLeft(), m_clientWidth, m_clientHeight, ensureVisible);
  }
}

void CTabStripModel::MeasureItems(TabGroup* group) {
  bool begun = false;
  bool measuring = false;
  for (size_t i = 0; i < group->Count(); ++i) {
    TabItem* item = group->items[i];
    if (item->width != 0) continue;
    if (!begun) {
      begun = true;
      measuring = m_measure != nullptr && m_measure->BeginTabMeasure();
    }
    if (!measuring) break;
    int64_t width = m_measure->MeasureTabText(item->text.c_str(), item->text.GetLength());
    if (width < 0) width = 0;
    width += kTabTextPadding;
    if (item->image >= 0) width += kTabIconWidth;
    if (width < kTabMinWidth) width = kTabMinWidth;
    if (width > kTabMaxWidth) width = kTabMaxWidth;
    item->width = static_cast<uint32_t>(width);
  }
  if (measuring) m_measure->EndTabMeasure();
}

// Scroll-right starts disabled; the layout enables it when tabs are cut off.
void CTabStripModel::ShowScrollButtons(int x, int top, int bottom, bool leftEnabled) {
  Show(m_list, x - kTabButtonSize, top, x, bottom, true);
  Show(m_scrollRight, x - 2 * kTabButtonSize, top, x - kTabButtonSize, bottom, false);
  Show(m_scrollLeft, x - 3 * kTabButtonSize, top, x - 2 * kTabButtonSize, bottom, leftEnabled);
}

int CTabStripModel::PlaceItem(TabGroup* group, size_t index, int x, int width, int height) {
  TabItem* item = group->items[index];
  const bool selected = index == group->selected;
  const bool closeBox = selected && (m_style & TCX_CLOSEBUTTON);
  if (closeBox) width += kTabCloseBoxExtra;
  item->flags &= ~kHiddenOrDisabled;
  if (m_style & TCX_BOTTOM) {
    item->rect = {x, 0, x + width, height - kTabBottomMarginBottomStyle};
  } else {
    item->rect = {x, selected ? 0 : kTabSelectedDrop, x + width, height - kTabBottomMargin};
  }
  if (closeBox) {
    const RECT& r = item->rect;
    const int right = r.right - kCloseBoxInset;
    const int top = (m_style & TCX_BOTTOM) ? (r.bottom - r.top - kTabButtonSize) / 2
                                           : (r.top + kTabButtonSize) / 2 - kCloseBoxInset;
    Show(m_close, right - kTabButtonSize, top, right, top + kTabButtonSize, true);
    if (item->flags & TBF_NOCLOSE) m_close.flags |= TBF_HIDDEN;
  }
  return x + width;
}

void CTabStripModel::RecalcLayout(int left, int width, int height, bool ensureVisible) {
  m_close.flags |= TBF_HIDDEN;
  m_scrollLeft.flags |= TBF_HIDDEN;
  m_scrollRight.flags |= TBF_HIDDEN;
  m_list.flags |= TBF_HIDDEN;
  m_closeAll.flags |= TBF_HIDDEN;
  TabGroup* group = CurrentGroup();
  if (!group) return;
  if (group->Count() == 0) {
    group->firstVisible = 0;
    group->endVisible = 0;
    return;
  }
  // Item counts are at most 128, so the arithmetic stays in int.
  const int count = static_cast<int>(group->Count());
  int first = group->firstVisible < group->Count() ? static_cast<int>(group->firstVisible) : count - 1;
  int x = width;
  int gap = kTabButtonGap;
  const int top = (height - kTabButtonSize) / 2;
  const int bottom = (height + kTabButtonSize) / 2;

  if ((m_style & TCX_CLOSEALLBUTTON) && count >= 2) {
    Show(m_closeAll, x - kTabButtonSize, top, x, bottom, true);
    x -= kTabCloseAllTaken;
    gap = 0;
  }
  const bool fitText = (m_style & TCX_FITTEXT) != 0;
  if (fitText) MeasureItems(group);
  const int extra = (m_style & TCX_CLOSEBUTTON) ? kTabCloseBoxExtra : 0;

  // Everything fits at the minimum width: scrolling is undone.
  if (first > 0 && left + extra + count * kTabMinWidth <= x) first = 0;

  if (ensureVisible && group->selected < group->Count()) {
    const int selected = static_cast<int>(group->selected);
    int avail = x - extra;
    if (first > 0) avail -= kTabScrollButtonsTaken + gap;
    int fit = (avail - left) / kTabMinWidth;
    if (first == 0 && fit < count) fit = (avail - gap - left - kTabScrollButtonsTaken) / kTabMinWidth;
    // A strip narrower than one tab still lays out the selected one, so the
    // window never starts at or past the item count.
    if (fit < 1) fit = 1;
    if (selected < first) {
      first = selected;
    } else if (first + fit <= selected) {
      first = selected - fit + 1;
    }
    if (first + fit > count) first = fit >= count ? 0 : count - fit;
  }

  bool scrollShown = false;
  if (first > 0) {
    ShowScrollButtons(x, top, bottom, true);
    x -= kTabScrollButtonsTaken + gap;
    gap = 0;
    scrollShown = true;
  }

  const int rest = count - first;
  int full = extra;
  for (int i = first; i < count; ++i) full += fitText ? LayoutWidth(group->items[i]) : kTabFixedWidth;

  for (int i = 0; i < first; ++i) group->items[i]->flags |= TBF_HIDDEN;
  group->firstVisible = static_cast<size_t>(first);
  group->endVisible = group->Count();

  int p = left;
  if (left + full <= x) {
    for (int i = first; i < count; ++i) {
      const int w = fitText ? LayoutWidth(group->items[i]) : kTabFixedWidth;
      p = PlaceItem(group, static_cast<size_t>(i), p, w, height);
    }
    return;
  }
  if (left + extra + rest * kTabMinWidth <= x) {
    const int w = kTabMinWidth + (x - extra - rest * kTabMinWidth - left) / rest;
    for (int i = first; i < count; ++i) p = PlaceItem(group, static_cast<size_t>(i), p, w, height);
    return;
  }

  // Not even the minimum width fits: only as many tabs as fit are laid out.
  if (!scrollShown) {
    ShowScrollButtons(x, top, bottom, false);
    x -= kTabScrollButtonsTaken + gap;
  }
  m_scrollRight.flags &= ~TBF_DISABLED;
  const int avail = x - extra;
  int fit = (avail - left) / kTabMinWidth;
  if (fit < 1) fit = 1;
  if (fit > rest) fit = rest;
  int w = kTabMinWidth + (avail - fit * kTabMinWidth - left) / fit;
  if (w < kTabMinWidth) w = kTabMinWidth;
  const int end = first + fit;
  for (int i = first; i < end; ++i) p = PlaceItem(group, static_cast<size_t>(i), p, w, height);
  for (int i = end; i < count; ++i) group->items[i]->flags |= TBF_HIDDEN;
  group->endVisible = static_cast<size_t>(end);
}

// ------------------------------------------------------- clicks, scrolling

void CTabStripModel::OnClick(int64_t code, bool doubleClick) {
  TabGroup* group = CurrentGroup();
  switch (code) {
    case kTabHitClose:
      if (group) CloseItem(group->selected, 1);
      return;
    case kTabHitScrollLeft: ScrollLeft(); return;
    case kTabHitScrollRight: ScrollRight(); return;
    case kTabHitList: ShowTabListMenu(); return;
    case kTabHitCloseAll:
      if (m_style & TCX_CLOSEALLBUTTON) Notify(TCXN_CLOSEALL, AsNotifyValue(m_current), kTabNone);
      return;
    case kTabHitAdd:
      if (m_kind == TabStripKind::View) Notify(TCXN_ADDTAB, AsNotifyValue(m_current), kTabNone);
      return;
    default: break;
  }
  if (!group || code < 0 || static_cast<uint64_t>(code) >= group->Count()) return;
  const size_t index = static_cast<size_t>(code);
  if (doubleClick) {
    Notify(TCXN_ITEMDBLCLK, index, kTabNone);
  } else {
    SelectItem(index);
  }
}

void CTabStripModel::ScrollLeft() {
  TabGroup* group = CurrentGroup();
  if (!group || group->firstVisible == 0) return;
  --group->firstVisible;
  Relayout(false);
  if (group->selected >= group->firstVisible && group->selected < group->endVisible) {
    RepaintIfVisible();
    return;
  }
  SelectItem(group->firstVisible);
}

void CTabStripModel::ScrollRight() {
  TabGroup* group = CurrentGroup();
  if (!group || group->firstVisible + 1 >= group->Count()) return;
  ++group->firstVisible;
  Relayout(false);
  if (group->selected >= group->firstVisible && group->selected < group->endVisible) {
    RepaintIfVisible();
    return;
  }
  SelectItem(group->endVisible > group->firstVisible ? group->endVisible - 1 : group->firstVisible);
}

void CTabStripModel::ShowTabListMenu() {
  const TabGroup* group = CurrentGroup();
  if (!group || !m_sink) return;
  TabListMenu menu;
  menu.count = group->Count();
  for (size_t i = 0; i < menu.count; ++i) {
    menu.entries[i] = {kTabListCommandBase + static_cast<UINT>(i), group->items[i]->text.c_str(),
                       i == group->selected};
  }
  menu.anchor = {m_list.rect.left, m_list.rect.bottom};
  menu.flags = TPM_RETURNCMD | ((m_style & TCX_BOTTOM) ? TPM_BOTTOMALIGN : 0);
  const UINT command = m_sink->TrackTabListMenu(menu);
  if (command >= kTabListCommandBase) SelectItem(command - kTabListCommandBase);
}

// ------------------------------------------------------------ mouse input

void CTabStripModel::OnSize(int width, int height) {
  m_clientWidth = width;
  m_clientHeight = height;
  Refresh(true, true);
}

void CTabStripModel::OnMouseMove(POINT point) {
  const int64_t hot = HitTest(point);
  if (hot == m_hot) return;
  m_hot = hot;
  Repaint();
}

void CTabStripModel::OnMouseLeave() {
  if (m_hot == kTabHitNone || m_pressed) return;
  m_hot = kTabHitNone;
  Repaint();
}

void CTabStripModel::OnLButtonDown(POINT point) {
  const int64_t hit = HitTest(point);
  if (hit == kTabHitNone) {
    if (m_hot == kTabHitNone) return;
    m_hot = kTabHitNone;
    Repaint();
    return;
  }
  m_hot = hit;
  m_pressed = true;
  Repaint();
  OnClick(hit, false);
  m_pressed = false;
  // The click may have moved or removed tabs under the cursor.
  POINT now;
  if (!m_sink || !m_sink->GetTabCursorPos(now)) now = point;
  m_hot = HitTest(now);
  Repaint();
}

void CTabStripModel::OnLButtonDblClk(POINT point) {
  const int64_t hit = HitTest(point);
  if (hit != kTabHitNone) OnClick(hit, true);
}

void CTabStripModel::OnRButtonUp(POINT point) {
  const int64_t hit = HitTest(point);
  if (hit == kTabHitNone || (hit >= 0 && hit < kTabHitClose)) Notify(TCXN_RCLICK, AsNotifyValue(hit), kTabNone);
}
