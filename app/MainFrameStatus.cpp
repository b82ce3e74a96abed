// Clicks on the status bar's items, and the tool tip's questions about the
// view strip, the status bar and the document strip.
#include "app/MainFrame.h"
#include "core/StoreLock.h"
#include "core/StrUtil.h"
#include "core/TraceStore.h"
#include "resource.h"

namespace {
constexpr UINT kLargestItemCode = 0xFFFF;  // item positions fit in 16 bits
constexpr int64_t kItemFilter = 0;
constexpr int64_t kItemProcessMenu = 1;
constexpr int64_t kItemLevelMenu = 2;
constexpr int64_t kFirstLevelItem = 3;
constexpr uint32_t kItemLevels[] = {kLevelDebug, kLevelInfo, kLevelWarning, kLevelError, kLevelPersonal};
constexpr size_t kTipChars = 128;
constexpr size_t kLocationChars = 256;
constexpr int kTipAbove = 20;
constexpr int kTipAboveWithLocation = 34;
constexpr int kTipBelow = 12;

void CopyTip(NMTOOLTIPEX* tip, const wchar_t* text) {
  if (tip->pszText != nullptr && tip->cchTextMax != 0) {
    StrCopyNW(tip->pszText, size_t(tip->cchTextMax), text);
  }
}

void CopyStringTip(NMTOOLTIPEX* tip, UINT id) {
  wchar_t text[kTipChars] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), id, text, int(kTipChars));
  CopyTip(tip, text);
}

// The cursor's x kept inside the middle third of the item.
int TipX(int cursorX, const RECT& item) {
  const int third = (item.right - item.left) / 3;
  if (cursorX < item.left + third) return item.left + third;
  if (cursorX > item.right - third) return item.right - third;
  return cursorX;
}
}  // namespace

LRESULT CMainFrame::OnStatusBarNotify(NMHDR* header) {
  if (header->hwndFrom != m_statusBar.m_hWnd || header->code > kLargestItemCode) {
    return 0;
  }
  const int64_t code = int64_t(header->code);
  if (code == kItemFilter) {
    if (m_statusBar.GetHotItem() >= 0 && m_statusBar.IsPressed()) {
      m_statusBar.SetHotItem(-1);
      m_statusBar.SetPressed(false);
      m_statusBar.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    RunCommand(ID_VIEW_FILTER);
  } else if (code == kItemProcessMenu || code == kItemLevelMenu) {
    ShowFilterMenu(int(code));
  } else if (code >= kFirstLevelItem && code < kFirstLevelItem + int64_t(sizeof(kItemLevels) / sizeof(kItemLevels[0]))) {
    GotoNextByLevel(kItemLevels[code - kFirstLevelItem]);
  }
  return 0;
}

LRESULT CMainFrame::OnToolTipNotify(NMHDR* header) {
  auto* tip = reinterpret_cast<NMTOOLTIPEX*>(header);
  POINT point = tip->pt;
  if (header->code == kTipNotifyHitTest) {
    ::ScreenToClient(tip->hwndTool, &point);
    if (tip->hwndTool == m_viewStrip.m_hWnd) {
      tip->item = m_viewStrip.HitTest(point);
    } else if (tip->hwndTool == m_statusBar.m_hWnd) {
      tip->item = m_statusBar.HitTestItem(point);
    } else if (tip->hwndTool == m_documentStrip.m_hWnd && m_documentStrip.Model().GetGroup(0) != nullptr &&
               m_documentStrip.Model().GetGroup(0)->Count() >= 2) {
      tip->item = m_documentStrip.HitTest(point);
    }
    return 0;
  }
  if (header->code != kTipNotifyGetText) {
    return 0;
  }
  POINT cursor;
  ::GetCursorPos(&cursor);
  RECT window;
  ::GetWindowRect(tip->hwndTool, &window);
  if (tip->hwndTool == m_statusBar.m_hWnd) {
    const UINT id = CStatusBarEx::GetItemTipId(size_t(tip->item));
    if (tip->item < 0 || id == 0) {
      return 0;
    }
    CopyStringTip(tip, id);
    tip->pt = {cursor.x, window.top - kTipAbove};
    return 0;
  }
  const bool documents = tip->hwndTool == m_documentStrip.m_hWnd;
  if (!documents && tip->hwndTool != m_viewStrip.m_hWnd) {
    return 0;
  }
  const UINT buttonTip = CTabBar::GetToolTipStringId(tip->item);
  if (buttonTip != 0) {
    if (documents && (tip->item == kTabHitCloseAll || tip->item == kTabHitAdd)) {
      return 0;
    }
    CopyStringTip(tip, buttonTip);
    tip->pt = {cursor.x, documents ? window.top - kTipAbove : window.bottom + kTipBelow};
    return 0;
  }
  const CTabStripModel& model = documents ? m_documentStrip.Model() : m_viewStrip.Model();
  const TabGroup* group = documents ? model.GetGroup(0) : model.CurrentGroup();
  const TabItem* item = group != nullptr && tip->item >= 0 ? group->Item(size_t(tip->item)) : nullptr;
  if (item == nullptr) {
    return 0;
  }
  RECT itemRect = item->rect;
  ::MapWindowPoints(tip->hwndTool, nullptr, reinterpret_cast<POINT*>(&itemRect), 2);
  std::wstring text = item->text.c_str();
  bool located = false;
  if (documents && tip->item != 0) {
    const TabGroup* views = m_viewStrip.Model().GetGroup(size_t(tip->item));
    const auto* store = views != nullptr ? reinterpret_cast<const CTraceMgr*>(views->data) : nullptr;
    if (store != nullptr) {
      wchar_t line[kLocationChars] = {};
      StrPrintfW(line, kLocationChars, L"\r\nLocation : %s", store->m_filePath.c_str());
      text += line;
      located = true;
    }
  }
  CopyTip(tip, text.c_str());
  const int x = TipX(cursor.x, itemRect);
  if (documents) {
    tip->pt = {x, itemRect.top - (located ? kTipAboveWithLocation : kTipAbove)};
  } else {
    tip->pt = {x, itemRect.bottom + kTipBelow};
  }
  return 0;
}
