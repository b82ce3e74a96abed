// The two-level tab strip without its window: groups of tabs, the selection,
// the layout of tabs and buttons, hit testing, scrolling and the list menu.
// The window templates wrap one model each and forward their messages; the
// model reaches the window only through ITabStripSink, so it runs as plain
// code. windows.h is included for its types and constants only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"
#include "res/resource.h"

// Strip styles, set by the owner before the window exists.
constexpr uint32_t TCX_CLOSEBUTTON = 0x2;
constexpr uint32_t TCX_CLOSEALLBUTTON = 0x4;
constexpr uint32_t TCX_BOTTOM = 0x100;
constexpr uint32_t TCX_FITTEXT = 0x200;

// Button and item flags. The strip looks only at these; every other bit of an
// item's flags belongs to the owner.
constexpr uint32_t TBF_HIDDEN = 0x1;    // not drawn, never hit
constexpr uint32_t TBF_DISABLED = 0x2;  // drawn grey, never hit
constexpr uint32_t TBF_NOCLOSE = 0x10;  // items only: cannot be closed or removed

// Notification codes of NMTABCTRLEX.
enum TabNotifyCode : UINT {
  TCXN_GROUPCHANGED = 1,   // a: new current group, b: old one
  TCXN_GROUPREMOVING = 2,  // a: the current group about to go
  TCXN_SELCHANGED = 3,     // a: new selected item, b: old one
  TCXN_ITEMCLOSING = 4,    // a: item; a result of 1 vetoes where the close asks
  TCXN_ITEMDBLCLK = 5,     // a: item
  TCXN_RCLICK = 6,         // a: item, or none for empty strip space
  TCXN_CLOSEALL = 7,       // a: current group
  TCXN_ADDTAB = 8,         // a: current group (view strip only)
};

struct NMTABCTRLEX {
  NMHDR hdr;
  uint64_t a;
  uint64_t b;
};

// "-1" in NMTABCTRLEX's a and b, and a group's selected index when it has none.
constexpr uint64_t kTabNone = UINT64_MAX;
constexpr size_t kTabNoItem = SIZE_MAX;

// Hit codes: 0..127 are item indexes of the current group.
constexpr int64_t kTabHitNone = -1;
constexpr int64_t kTabHitClose = 128;
constexpr int64_t kTabHitScrollLeft = 129;
constexpr int64_t kTabHitScrollRight = 130;
constexpr int64_t kTabHitList = 131;
constexpr int64_t kTabHitCloseAll = 132;
constexpr int64_t kTabHitAdd = 133;

constexpr size_t kMaxTabGroups = 32;
constexpr size_t kMaxTabItems = 128;
// FindItem's not-found value: the item limit, not -1.
constexpr int64_t kTabItemNotFound = 128;
// Command of the list menu's entry for item i is this plus i.
constexpr UINT kTabListCommandBase = 32820;

// The string id of a button's tool tip, or 0 for items and nothing (items
// show their own text).
UINT TabToolTipStringId(int64_t hitCode);

// Fixed measures of the layout, in client pixels.
constexpr int kTabFixedWidth = 196;
constexpr int kTabMinWidth = 60;
constexpr int kTabMaxWidth = 196;
constexpr int kTabTextPadding = 12;
constexpr int kTabIconWidth = 18;        // icon and its gap before the text
constexpr int kTabCloseBoxExtra = 18;    // the selected tab grows by this for its close box
constexpr int kTabButtonSize = 16;
constexpr int kTabCloseAllTaken = 20;    // taken from the tab area by the close-all button
constexpr int kTabScrollButtonsTaken = 48;
constexpr int kTabButtonGap = 4;         // before the scroll buttons when there is no close-all
constexpr int kTabsLeftDocument = 2;
constexpr int kTabsLeftView = 38;        // behind the add button
constexpr RECT kTabAddButtonRect = {2, 0, 34, 24};

class TabButton {
 public:
  TabButton() = default;
  TabButton(const TabButton&) = default;
  TabButton& operator=(const TabButton&) = default;
  virtual ~TabButton() = default;

  // Shown, enabled and containing the point (right and bottom edges excluded).
  bool Hits(POINT point) const;
  bool IsShown() const { return (flags & TBF_HIDDEN) == 0; }

  uint32_t flags = 0;
  RECT rect = {0, 0, 0, 0};  // client coordinates, set by the layout
};

class TabItem : public TabButton {
 public:
  int32_t image = -1;  // index into the strip's image list; negative for none
  uint32_t width = 0;  // measured width for TCX_FITTEXT strips, 0 until measured
  CString text;
  uint64_t data = 0;   // the owner's
};

// One group of tabs; owns its items.
struct TabGroup {
  TabGroup() = default;
  TabGroup(const TabGroup&) = delete;
  TabGroup& operator=(const TabGroup&) = delete;
  ~TabGroup();

  size_t Count() const { return items.count; }
  // Null when index is out of range.
  TabItem* Item(size_t index) const { return index < items.count ? items[index] : nullptr; }

  CString name;
  uint64_t data = 0;
  CGrowArray<TabItem*> items;      // display order; owned
  size_t selected = kTabNoItem;
  size_t firstVisible = 0;         // leftmost laid-out item
  size_t endVisible = 0;           // one past the last laid-out item
};

// One entry of the list menu. The text belongs to the item and stays valid
// only until the strip changes: a menu copies it before its loop runs.
struct TabMenuEntry {
  UINT command;
  const wchar_t* text;
  bool checked;
};

struct TabListMenu {
  TabMenuEntry entries[kMaxTabItems];
  size_t count;
  POINT anchor;  // the list button's left and bottom edge, client coordinates
  UINT flags;    // TPM_* for TrackPopupMenu
};

// Everything the model asks of its window. Called on the user-interface
// thread inside the model's operations; a sink that changes the strip from a
// notification does so while the operation that sent it is still running.
class ITabStripSink {
 public:
  // Sends the record to the notify window and returns its result.
  virtual LRESULT OnTabNotify(NMTABCTRLEX& record) = 0;
  virtual bool IsTabStripVisible() = 0;
  // The cursor in client coordinates; false when it cannot be read.
  virtual bool GetTabCursorPos(POINT& point) = 0;
  // Paints the whole strip at once.
  virtual void RepaintTabStrip() = 0;
  // Shows the menu and returns the chosen command, 0 for none or failure.
  virtual UINT TrackTabListMenu(const TabListMenu& menu) = 0;

 protected:
  ~ITabStripSink() = default;
};

// Text widths for TCX_FITTEXT strips. A layout that has items to measure calls
// Begin once, Measure per item and End once when Begin succeeded.
class ITabTextMeasure {
 public:
  // False when nothing can be measured now (no device context): the items keep
  // width 0 and are laid out at the minimum width until a later layout.
  virtual bool BeginTabMeasure() = 0;
  virtual int MeasureTabText(const wchar_t* text, size_t length) = 0;
  virtual void EndTabMeasure() = 0;

 protected:
  ~ITabTextMeasure() = default;
};

// The view strip has the add button and its tabs start behind it.
enum class TabStripKind { Document, View };

class CTabStripModel {
 public:
  explicit CTabStripModel(TabStripKind kind, uint32_t style = 0);
  CTabStripModel(const CTabStripModel&) = delete;
  CTabStripModel& operator=(const CTabStripModel&) = delete;
  // Destroys every group and item; sends nothing.
  ~CTabStripModel();

  // Neither is owned; both may be null (no notifications, no measuring).
  void SetSink(ITabStripSink* sink) { m_sink = sink; }
  void SetTextMeasure(ITabTextMeasure* measure) { m_measure = measure; }
  // The window and control id written into every notification header.
  void SetNotifyHeader(HWND from, UINT_PTR id);
  void SetStyle(uint32_t style) { m_style = style; }
  uint32_t Style() const { return m_style; }
  TabStripKind Kind() const { return m_kind; }
  int TabsLeft() const { return m_kind == TabStripKind::View ? kTabsLeftView : kTabsLeftDocument; }

  // The new group's index, or -1 at 32 groups or when memory fails. The
  // first group of an empty strip becomes current at once.
  int64_t AddGroup(const wchar_t* name, uint64_t data);
  // Appends an item; its index, or -1 for a bad group, at 128 items or when
  // memory fails.
  int64_t AddItem(size_t group, const wchar_t* text, int32_t image, uint64_t data, int notify);
  // 0 for an index that names no group; 1 otherwise (also when already current).
  int SelectGroup(size_t index);
  // 0 for an index that names no group.
  int RemoveGroup(size_t index);
  // Closes an item of the current group. 1 when it was closed; 0 for a bad
  // index, a TBF_NOCLOSE item or a veto (ask non-zero and a result of 1).
  int CloseItem(size_t index, int ask);
  // Closes every item of the current group that may close; the answers to
  // the closing notifications are ignored.
  void CloseAllItems();
  // Takes an item out of the current group without any notification. A
  // selected item leaves the group without a selection for the owner to set.
  // 0 for a bad index or a TBF_NOCLOSE item.
  int RemoveItem(size_t index);
  // Makes an item of the current group the selected one (the rule that clicks,
  // scrolling and the list menu use). 0 for a bad index.
  int SelectItem(size_t index);
  // The item index, with its group in *group, or -1 (*group untouched).
  int64_t FindItemByData(uint64_t data, size_t* group) const;
  // The first item of the current group whose text equals text exactly, or 128.
  int64_t FindItem(const wchar_t* text) const;
  // A copy of an item's text in the current group; empty for a bad index.
  CString GetItemText(size_t index) const;
  // Keeps the cached width. 0 for a bad group or index, or when memory fails.
  int SetItemText(size_t group, size_t index, const wchar_t* text);

  int64_t HitTest(POINT point) const;
  // Lays out the current group when the client area is not empty; with redraw
  // and a visible window, renews the hot code from the cursor and repaints.
  void Refresh(bool redraw, bool ensureVisible);
  // Places the current group's tabs and the buttons in a client area of the
  // given size, tabs starting at left.
  void RecalcLayout(int left, int width, int height, bool ensureVisible);
  void OnClick(int64_t code, bool doubleClick);
  void ScrollLeft();
  void ScrollRight();
  void ShowTabListMenu();

  // Mouse and size input, forwarded by the window.
  void OnSize(int width, int height);
  void OnMouseMove(POINT point);
  void OnMouseLeave();
  void OnLButtonDown(POINT point);
  void OnLButtonDblClk(POINT point);
  void OnRButtonUp(POINT point);

  // The owner reads the groups and items directly and may change an item's
  // flags (TBF_NOCLOSE) and data.
  size_t GroupCount() const { return m_groups.count; }
  TabGroup* GetGroup(size_t index) const { return index < m_groups.count ? m_groups[index] : nullptr; }
  int64_t Current() const { return m_current; }
  TabGroup* CurrentGroup() const { return m_current >= 0 ? m_groups[static_cast<size_t>(m_current)] : nullptr; }
  TabItem* GetItem(size_t group, size_t index) const;
  // The button of hit code 128..133; null for other codes.
  const TabButton* GetButton(int64_t code) const;
  int64_t Hot() const { return m_hot; }
  bool Pressed() const { return m_pressed; }
  // Drops a pressed button (the owner ran a menu or a question inside its
  // click): no hot code, not pressed, repainted.
  void ClearPressed();
  int ClientWidth() const { return m_clientWidth; }
  int ClientHeight() const { return m_clientHeight; }

 private:
  LRESULT Notify(UINT code, uint64_t a, uint64_t b);
  bool IsVisible() const { return m_sink != nullptr && m_sink->IsTabStripVisible(); }
  void Repaint();
  void RepaintIfVisible();
  void UpdateHotFromCursor();
  void Relayout(bool ensureVisible);
  bool IsCurrent(const TabGroup* group) const;
  size_t IndexOfGroup(const TabGroup* group) const;
  // Removes and destroys an item, keeping the visible range inside the group.
  void DestroyItem(TabGroup* group, size_t index);
  void CloseFoundItem(TabGroup* group, size_t index);
  void MeasureItems(TabGroup* group);
  int PlaceItem(TabGroup* group, size_t index, int x, int width, int height);
  void ShowScrollButtons(int x, int top, int bottom, bool leftEnabled);
  TabButton* Button(int64_t code);

  TabStripKind m_kind;
  uint32_t m_style;
  ITabStripSink* m_sink = nullptr;
  ITabTextMeasure* m_measure = nullptr;
  HWND m_notifyFrom = nullptr;
  UINT_PTR m_notifyId = 0;
  int m_clientWidth = 0;
  int m_clientHeight = 0;
  int64_t m_hot = kTabHitNone;
  bool m_pressed = false;
  CGrowArray<TabGroup*> m_groups;  // display order; owned
  int64_t m_current = -1;
  TabButton m_scrollLeft;
  TabButton m_scrollRight;
  TabButton m_list;
  TabButton m_closeAll;
  TabButton m_close;
  TabButton m_add;
};
