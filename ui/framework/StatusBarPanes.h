// A status bar of panes named by id. The pane with id kDefaultPaneId takes
// whatever width the others leave; every other pane is as wide as its string
// (the string-table entry with the pane's id) or as SetPaneWidth says. With
// SBARS_SIZEGRIP the grip's width stays free at the right.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

#include "core/Containers.h"
#include "core/RefString.h"
#include "ui/framework/Controls.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/WindowImpl.h"

namespace ktui {
constexpr int kDefaultPaneId = 0;
constexpr UINT kStatusBarWindowId = 59393;
// Space left and right of a pane's text when its width comes from the text.
constexpr int kPaneTextPadding = 4;

// Right edges of `count` panes laid out from the left in a bar `clientWidth`
// wide, `gripWidth` of it kept free. The pane at `defaultIndex` (none when
// out of range) gets what the fixed widths leave, at least 0; edges never
// decrease and never go below 0.
void ComputePaneRightEdges(int clientWidth, int gripWidth, const int* widths, size_t count, size_t defaultIndex,
                           int* edges);
}  // namespace ktui

template <class T>
class CMultiPaneStatusBarCtrlImpl : public CWindowImpl<T, CStatusBarCtrl> {
  using Base = CWindowImpl<T, CStatusBarCtrl>;

 public:
  DECLARE_WND_SUPERCLASS(nullptr, STATUSCLASSNAMEW)

  BEGIN_MSG_MAP(CMultiPaneStatusBarCtrlImpl)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
  END_MSG_MAP()

  static DWORD GetDefaultStyle() {
    return WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | SBARS_SIZEGRIP;
  }

  // Creates the bar with string `textId` (empty when the table lacks it) in
  // the default pane. Null when the window cannot be made.
  HWND Create(HWND parent, UINT textId, DWORD style = 0, UINT id = ktui::kStatusBarWindowId) {
    CString text;
    text.LoadString(textId);
    return Base::Create(parent, nullptr, text.c_str(), style, 0, id);
  }

  // Sets the panes; widths of panes other than the default one come from
  // their strings, which also become their texts when `setTexts` is TRUE.
  // FALSE when memory runs out (the old panes stay).
  BOOL SetPanes(const int* ids, size_t count, BOOL setTexts = TRUE) {
    CGrowArray<int> newIds, newWidths;
    if (count == 0 || !newIds.AppendN(ids, count) || !newWidths.Reserve(count)) {
      return FALSE;
    }
    for (size_t i = 0; i < count; ++i) {
      int width = 0;
      if (ids[i] != ktui::kDefaultPaneId) {
        CString text;
        text.LoadString(UINT(ids[i]));
        width = TextWidth(text) + 2 * ktui::kPaneTextPadding;
      }
      newWidths.Append(width);
    }
    m_ids = std::move(newIds);
    m_widths = std::move(newWidths);
    UpdatePanesLayout();
    if (setTexts) {
      for (size_t i = 0; i < count; ++i) {
        if (ids[i] != ktui::kDefaultPaneId) {
          CString text;
          text.LoadString(UINT(ids[i]));
          this->SetText(int(i), text.c_str());
        }
      }
    }
    return TRUE;
  }

  size_t GetPaneCount() const { return m_ids.count; }
  // -1 when no pane has that id.
  int GetPaneIndexFromId(int id) const {
    for (size_t i = 0; i < m_ids.count; ++i) {
      if (m_ids.data[i] == id) {
        return int(i);
      }
    }
    return -1;
  }
  BOOL SetPaneWidth(int id, int width) {
    const int index = GetPaneIndexFromId(id);
    if (index < 0 || id == ktui::kDefaultPaneId || width < 0) {
      return FALSE;
    }
    m_widths.data[index] = width;
    return UpdatePanesLayout();
  }
  int GetPaneWidth(int id) const {
    const int index = GetPaneIndexFromId(id);
    return index < 0 ? -1 : m_widths.data[index];
  }
  BOOL GetPaneRect(int id, RECT* rect) const {
    const int index = GetPaneIndexFromId(id);
    return index >= 0 && this->GetRect(index, rect);
  }
  BOOL SetPaneText(int id, const wchar_t* text, int type = 0) {
    const int index = GetPaneIndexFromId(id);
    return index >= 0 && this->SetText(index, text, type);
  }

  // Sets the parts again from the pane widths and the bar's width.
  BOOL UpdatePanesLayout() {
    if (m_ids.count == 0) {
      return FALSE;
    }
    CGrowArray<int> edges;
    if (!edges.Reserve(m_ids.count)) {
      return FALSE;
    }
    RECT client = {};
    this->GetClientRect(&client);
    const int grip = (this->GetStyle() & SBARS_SIZEGRIP) != 0
                         ? ::GetSystemMetrics(SM_CXVSCROLL) + ::GetSystemMetrics(SM_CXEDGE)
                         : 0;
    const int defaultIndex = GetPaneIndexFromId(ktui::kDefaultPaneId);
    ktui::ComputePaneRightEdges(client.right - client.left, grip, m_widths.data, m_ids.count,
                                defaultIndex < 0 ? m_ids.count : size_t(defaultIndex), edges.data);
    return this->SetParts(int(m_ids.count), edges.data);
  }

  LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = this->DefWindowProc(msg, wParam, lParam);
    if (wParam != SIZE_MINIMIZED && m_ids.count != 0) {
      UpdatePanesLayout();
    }
    return result;
  }

 protected:
  int TextWidth(const CString& text) {
    CClientDC dc(this->m_hWnd);
    if (dc.IsNull()) {
      return 0;
    }
    CSelectObject font(dc.get(), this->GetFont());
    SIZE size = {};
    dc.GetTextExtent(text.c_str(), int(text.GetLength()), &size);
    return int(size.cx);
  }

  CGrowArray<int> m_ids;
  CGrowArray<int> m_widths;
};

class CMultiPaneStatusBarCtrl : public CMultiPaneStatusBarCtrlImpl<CMultiPaneStatusBarCtrl> {};
