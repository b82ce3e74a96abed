// Routing of commands and notifications, the menu states, the toolbar
// drop-downs and the list's context menu.
#include "app/MainFrame.h"
#include "core/TraceView.h"
#include "resource.h"
#include "ui/framework/Menu.h"
#include "ui/framework/PopupSeam.h"

namespace {
constexpr UINT kStartStopCapture = 33022;
constexpr UINT kMenuTextChars = 128;
constexpr UINT kGrayed = MF_GRAYED | MF_DISABLED;

// The point moved into the work area of the nearest monitor when it lies on
// none, so a menu never opens off screen.
POINT OntoMonitor(POINT point) {
  if (::MonitorFromPoint(point, MONITOR_DEFAULTTONULL) != nullptr) {
    return point;
  }
  MONITORINFO info = {sizeof(info)};
  if (::GetMonitorInfoW(::MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST), &info)) {
    if (point.x < info.rcWork.left) point.x = info.rcWork.left;
    if (point.x >= info.rcWork.right) point.x = info.rcWork.right - 1;
  }
  return point;
}

void EnableItem(HMENU menu, UINT id, bool enable) { ::EnableMenuItem(menu, id, enable ? MF_ENABLED : kGrayed); }
}  // namespace

LRESULT CMainFrame::OnCommand(UINT, WPARAM wParam, LPARAM) {
  switch (LOWORD(wParam)) {
    case ID_APP_EXIT:
      PostMessage(WM_CLOSE);
      return 0;
    case kStartStopCapture:
      ToggleCapture(!m_captureOn);
      return 0;
    default:
      if (!OnRemoteCommand(LOWORD(wParam))) {
        SetMsgHandled(FALSE);
      }
      return 0;
  }
}

LRESULT CMainFrame::OnNotify(UINT, WPARAM, LPARAM lParam) {
  auto* header = reinterpret_cast<NMHDR*>(lParam);
  if (header == nullptr) {
    SetMsgHandled(FALSE);
    return 0;
  }
  if (header->code == UINT(TBN_DROPDOWN)) {
    return OnToolbarDropDown(header);
  }
  if (header->idFrom == ktframe::kListId && header->hwndFrom == m_list.m_hWnd) {
    switch (header->code) {
      case UINT(NM_RCLICK):
        return OnListContextMenu();
      case UINT(NM_DBLCLK):
      case UINT(LVN_GETDISPINFOW):
      case UINT(LVN_BEGINDRAG):
        return 0;
      case UINT(LVN_ODFINDITEMW):
        return -1;
      default:
        break;
    }
  }
  if (header->hwndFrom == m_viewStrip.m_hWnd) {
    return OnViewStripNotify(header);
  }
  if (header->hwndFrom == m_documentStrip.m_hWnd) {
    return OnDocumentStripNotify(header);
  }
  SetMsgHandled(FALSE);
  return 0;
}

LRESULT CMainFrame::OnToolbarDropDown(NMHDR* header) {
  const auto* dropDown = reinterpret_cast<const NMTOOLBARW*>(header);
  const int index = m_toolBar.CommandToIndex(UINT(dropDown->iItem));
  if (index < 0) {
    return 0;
  }
  const UINT menuId = dropDown->iItem == int(ID_FILE_DROPDOWN) ? IDR_FILE_MENU : IDR_TOOLS_MENU;
  CMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(menuId)));
  HMENU popup = menu.IsNull() ? nullptr : ::GetSubMenu(menu.get(), 0);
  if (popup == nullptr) {
    return 0;
  }
  RECT rect;
  m_toolBar.GetItemRect(index, &rect);
  POINT point = {rect.left, rect.bottom};
  m_toolBar.ClientToScreen(&point);
  point = OntoMonitor(point);
  g_trackPopupMenu(popup, 0, point.x, point.y, 0, m_hWnd, nullptr);
  return 0;
}

LRESULT CMainFrame::OnListContextMenu() {
  CMenu menu(::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TOOLS_MENU)));
  HMENU first = menu.IsNull() ? nullptr : ::GetSubMenu(menu.get(), 0);
  HMENU view = first != nullptr ? ::GetSubMenu(first, 0) : nullptr;
  if (view == nullptr) {
    return 0;
  }
  POINT point;
  ::GetCursorPos(&point);
  point = OntoMonitor(point);
  g_trackPopupMenu(view, 0, point.x, point.y, 0, m_hWnd, nullptr);
  return 0;
}

LRESULT CMainFrame::OnInitMenuPopup(UINT, WPARAM wParam, LPARAM lParam) {
  SetMsgHandled(FALSE);
  if (HIWORD(lParam) != 0) {
    return 0;  // the system menu
  }
  auto menu = reinterpret_cast<HMENU>(wParam);
  const bool selected = m_list.GetNextItem(-1, LVNI_SELECTED) >= 0;
  const bool rows = m_list.GetNextItem(-1, LVNI_ALL) >= 0;
  for (UINT id : {UINT(ID_EDIT_COPY), UINT(ID_EDIT_COPY_MESSAGE), 33101u}) {
    EnableItem(menu, id, selected);
  }
  for (UINT id = 33115; id <= 33121; ++id) {
    EnableItem(menu, id, rows);
  }
  for (UINT id : {33102u, 33103u, 33104u, 33100u}) {
    EnableItem(menu, id, rows);
  }
  EnableItem(menu, 33019, IsUsable(ShownView()));
  if (IsLiveShown()) {
    EnableItem(menu, ID_VIEW_AUTO_SCROLL, true);
    ::CheckMenuItem(menu, ID_VIEW_AUTO_SCROLL, m_followNewItems != 0 ? MF_CHECKED : MF_UNCHECKED);
  } else {
    EnableItem(menu, ID_VIEW_AUTO_SCROLL, false);
  }
  EnableItem(menu, ID_VIEW_CLEAR_DISPLAY, IsLiveShown());
  wchar_t text[kMenuTextChars] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), m_captureOn ? IDS_MENU_STOP_CAPTURE : IDS_MENU_START_CAPTURE, text,
                int(kMenuTextChars));
  ::ModifyMenuW(menu, kStartStopCapture, MF_BYCOMMAND | MF_STRING, kStartStopCapture, text);
  ::CheckMenuItem(menu, m_lastBookmarkCommand, MF_CHECKED);
  return 0;
}
