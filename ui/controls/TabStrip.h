// The window of the two-level tab strip: CTabCtrlExBaseT<T> wraps one
// CTabStripModel, forwards its mouse and size messages to it, answers the
// model's sink (WM_NOTIFY to the notify window, repaints, the cursor, the list
// menu through the popup seam) and measures text in DEFAULT_GUI_FONT. The
// painting of both strips lives in TabStrip.cpp. CFileTabCtrl is the
// document strip, CTabBar the view strip with its add button.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <cstdint>

#include "core/RefString.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/TabModel.h"
#include "ui/framework/DoubleBuffer.h"
#include "ui/framework/WindowImpl.h"

// Styles the main frame gives the two strips.
constexpr uint32_t kDocumentStripStyle = TCX_CLOSEBUTTON | TCX_BOTTOM | TCX_FITTEXT;
constexpr uint32_t kViewStripStyle = TCX_CLOSEBUTTON | TCX_CLOSEALLBUTTON;

namespace kt_tabstrip {

// What the painter needs of one strip; the window fills it for each paint.
struct PaintContext {
  const CTabStripModel* model;
  HIMAGELIST images;  // may be null
  HTHEME theme;       // null: classic look
  RECT client;
};

// Paints the whole strip (both kinds) into `dc`.
void PaintStrip(HDC dc, const PaintContext& context);

// The menu of all items of the current group, shown through g_trackPopupMenu
// at the anchor (client coordinates of `owner`, moved onto a monitor). The
// chosen command, 0 for none or when the menu cannot be made.
UINT TrackListMenu(HWND owner, const TabListMenu& menu);

}  // namespace kt_tabstrip

template <class T>
class CTabCtrlExBaseT : public CWindowImpl<T>,
                        public CThemeWindowT<T>,
                        public CDoubleBufferImpl<T>,
                        protected ITabStripSink,
                        protected ITabTextMeasure {
 public:
  CTabCtrlExBaseT(TabStripKind kind, uint32_t style) : CThemeWindowT<T>(L"TOOLBAR"), m_model(kind, style) {
    m_model.SetSink(this);
    m_model.SetTextMeasure(this);
  }
  ~CTabCtrlExBaseT() {
    // The window may outlive the object only by running on its default
    // procedure; the model must not call back into a half-destroyed sink.
    m_model.SetSink(nullptr);
    m_model.SetTextMeasure(nullptr);
    EndTabMeasure();
  }

  // The TCX_* bits; set before Create.
  void SetStripStyle(uint32_t style) { m_model.SetStyle(style); }
  uint32_t GetStripStyle() const { return m_model.Style(); }

  // Creates the child window at (0, 0, 0, height); style 0 takes
  // WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN. The parent
  // becomes the notify window. The image list is not owned. FALSE when the
  // window cannot be created.
  BOOL Create(HWND parent, HIMAGELIST images, DWORD style, int height, UINT id) {
    m_images = images;
    const RECT rect = {0, 0, 0, height};
    if (CWindowImpl<T>::Create(parent, &rect, nullptr, style, 0, id) == nullptr) {
      return FALSE;
    }
    m_notify = parent;
    m_model.SetNotifyHeader(this->m_hWnd, static_cast<UINT_PTR>(this->GetDlgCtrlID()));
    return TRUE;
  }

  HWND GetNotifyWindow() const { return m_notify; }
  void SetNotifyWindow(HWND notify) { m_notify = notify; }
  HIMAGELIST GetImageList() const { return m_images; }

  // The model: groups, items and operations as the owner uses them.
  CTabStripModel& Model() { return m_model; }
  const CTabStripModel& Model() const { return m_model; }

  int64_t AddGroup(const wchar_t* name, uint64_t data) { return m_model.AddGroup(name, data); }
  int64_t AddItem(size_t group, const wchar_t* text, int32_t image, uint64_t data, int notify) {
    return m_model.AddItem(group, text, image, data, notify);
  }
  int SelectGroup(size_t index) { return m_model.SelectGroup(index); }
  int RemoveGroup(size_t index) { return m_model.RemoveGroup(index); }
  int CloseItem(size_t index, int ask) { return m_model.CloseItem(index, ask); }
  CString GetItemText(size_t index) const { return m_model.GetItemText(index); }
  int64_t HitTest(POINT point) const { return m_model.HitTest(point); }
  void Refresh(bool redraw, bool ensureVisible) { m_model.Refresh(redraw, ensureVisible); }
  void OnClick(int64_t code, bool doubleClick) { m_model.OnClick(code, doubleClick); }
  void ScrollLeft() { m_model.ScrollLeft(); }
  void ScrollRight() { m_model.ScrollRight(); }
  void ShowTabListMenu() { m_model.ShowTabListMenu(); }
  // The tool tip's string of a hit code, 0 for items and nothing.
  static UINT GetToolTipStringId(int64_t hitCode) { return TabToolTipStringId(hitCode); }

  // Erase and paint first, then the theme, then the mouse and size input.
  BEGIN_MSG_MAP(CTabCtrlExBaseT)
    CHAIN_MSG_MAP(CDoubleBufferImpl<T>)
    CHAIN_MSG_MAP(CThemeWindowT<T>)
    MESSAGE_HANDLER(WM_MOUSEMOVE, OnMouseMove)
    MESSAGE_HANDLER(WM_MOUSELEAVE, OnMouseLeave)
    MESSAGE_HANDLER(WM_LBUTTONDOWN, OnLButtonDown)
    MESSAGE_HANDLER(WM_LBUTTONDBLCLK, OnLButtonDblClk)
    MESSAGE_HANDLER(WM_RBUTTONUP, OnRButtonUp)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
  END_MSG_MAP()

  // Called by the double buffer with a memory DC covering the client area.
  void DoPaint(HDC dc) {
    kt_tabstrip::PaintContext context = {&m_model, m_images, this->GetTheme(), {0, 0, 0, 0}};
    ::GetClientRect(this->m_hWnd, &context.client);
    kt_tabstrip::PaintStrip(dc, context);
  }

  bool IsTracking() const { return m_tracking; }

 protected:
  // Client coordinates are signed 16-bit values.
  static POINT PointOf(LPARAM lParam) { return POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}; }

  LRESULT OnMouseMove(UINT, WPARAM, LPARAM lParam) {
    if (!m_tracking) {
      TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, this->m_hWnd, 0};
      m_tracking = ::TrackMouseEvent(&track) != FALSE;
    }
    m_model.OnMouseMove(PointOf(lParam));
    return 0;
  }
  LRESULT OnMouseLeave(UINT, WPARAM, LPARAM) {
    m_tracking = false;
    m_model.OnMouseLeave();
    return 0;
  }
  LRESULT OnLButtonDown(UINT, WPARAM, LPARAM lParam) {
    m_model.OnLButtonDown(PointOf(lParam));
    return 0;
  }
  LRESULT OnLButtonDblClk(UINT, WPARAM, LPARAM lParam) {
    m_model.OnLButtonDblClk(PointOf(lParam));
    return 0;
  }
  LRESULT OnRButtonUp(UINT, WPARAM, LPARAM lParam) {
    m_model.OnRButtonUp(PointOf(lParam));
    return 0;
  }
  LRESULT OnSize(UINT, WPARAM, LPARAM lParam) {
    m_model.OnSize(short(LOWORD(lParam)), short(HIWORD(lParam)));
    return 0;
  }

  // ITabStripSink
  LRESULT OnTabNotify(NMTABCTRLEX& record) override {
    if (m_notify == nullptr || !::IsWindow(m_notify)) {
      return 0;
    }
    return ::SendMessageW(m_notify, WM_NOTIFY, static_cast<WPARAM>(record.hdr.idFrom),
                          reinterpret_cast<LPARAM>(&record));
  }
  bool IsTabStripVisible() override { return this->IsWindow() && this->IsWindowVisible(); }
  bool GetTabCursorPos(POINT& point) override {
    return this->IsWindow() && ::GetCursorPos(&point) && ::ScreenToClient(this->m_hWnd, &point);
  }
  void RepaintTabStrip() override {
    if (this->IsWindow()) {
      this->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
  }
  UINT TrackTabListMenu(const TabListMenu& menu) override {
    return this->IsWindow() ? kt_tabstrip::TrackListMenu(this->m_hWnd, menu) : 0;
  }

  // ITabTextMeasure: one window DC per layout, with the GUI font selected.
  bool BeginTabMeasure() override {
    EndTabMeasure();
    if (!this->IsWindow()) {
      return false;
    }
    m_measureDc = ::GetDC(this->m_hWnd);
    if (m_measureDc == nullptr) {
      return false;
    }
    m_measureFont = ::SelectObject(m_measureDc, ::GetStockObject(DEFAULT_GUI_FONT));
    return true;
  }
  int MeasureTabText(const wchar_t* text, size_t length) override {
    SIZE extent = {0, 0};
    if (m_measureDc == nullptr || !::GetTextExtentPoint32W(m_measureDc, text, static_cast<int>(length), &extent)) {
      return 0;
    }
    return extent.cx;
  }
  void EndTabMeasure() override {
    if (m_measureDc == nullptr) {
      return;
    }
    if (m_measureFont != nullptr && m_measureFont != HGDI_ERROR) {
      ::SelectObject(m_measureDc, m_measureFont);
    }
    ::ReleaseDC(this->m_hWnd, m_measureDc);
    m_measureDc = nullptr;
    m_measureFont = nullptr;
  }

  CTabStripModel m_model;
  HWND m_notify = nullptr;
  HIMAGELIST m_images = nullptr;
  bool m_tracking = false;  // a WM_MOUSELEAVE has been asked for
  HDC m_measureDc = nullptr;
  HGDIOBJ m_measureFont = nullptr;
};

// The document strip along the bottom of the main frame.
class CFileTabCtrl : public CTabCtrlExBaseT<CFileTabCtrl> {
 public:
  DECLARE_WND_CLASS_EX(L"KeltracerFileTabCtrl", CS_DBLCLKS, 0)

  CFileTabCtrl() : CTabCtrlExBaseT<CFileTabCtrl>(TabStripKind::Document, kDocumentStripStyle) {}

  int RemoveItem(size_t index) { return m_model.RemoveItem(index); }
  int64_t FindItemByData(uint64_t data, size_t* group) const { return m_model.FindItemByData(data, group); }
};

// The view strip in the toolbar row: one group per document, add button first.
class CTabBar : public CTabCtrlExBaseT<CTabBar> {
 public:
  DECLARE_WND_CLASS_EX(L"KeltracerTabBar", CS_DBLCLKS, 0)

  CTabBar() : CTabCtrlExBaseT<CTabBar>(TabStripKind::View, kViewStripStyle) {}

  void CloseAllItems() { m_model.CloseAllItems(); }
  int64_t FindItem(const wchar_t* text) const { return m_model.FindItem(text); }
  int SetItemText(size_t group, size_t index, const wchar_t* text) { return m_model.SetItemText(group, index, text); }
};
