#include "ui/controls/ToolTipEx.h"

#include <commctrl.h>

#include "ui/controls/DrawHelpers.h"
#include "ui/framework/DeviceContext.h"
#include "ui/framework/Gdi.h"

namespace {

constexpr int kScreenGap = 3;         // distance kept from a monitor's edge
constexpr int kToolbarTipGap = 12;    // below a toolbar button's bottom edge
constexpr int kWrapWidth = 500;       // text lines wrap here
constexpr int kMinTextHeight = 12;
constexpr int kMaxTextHeight = 400;
constexpr int kFrameSize = 6;         // window size over the text's, both ways
constexpr int kTextInset = 3;         // text area inside the client area
constexpr int kCornerSize = 5;        // ellipse of the rounded corners
constexpr COLORREF kTextColor = RGB(76, 76, 76);
constexpr COLORREF kGradientTop = RGB(255, 255, 255);
constexpr COLORREF kGradientBottom = RGB(228, 229, 240);
constexpr COLORREF kOutlineColor = RGB(118, 118, 118);
constexpr UINT kMeasureFormat = DT_CALCRECT | DT_WORDBREAK | DT_NOCLIP | DT_NOPREFIX | DT_EDITCONTROL;
constexpr UINT kDrawFormat = DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL | DT_END_ELLIPSIS;
constexpr UINT kShowFlags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW;

class CSystemHoverInput final : public IHoverInput {
 public:
  DWORD TickCount() override { return ::GetTickCount(); }
  BOOL GetCursorPos(POINT* point) override { return ::GetCursorPos(point); }
};

CSystemHoverInput& SystemHoverInput() {
  static CSystemHoverInput input;
  return input;
}

// The monitor under the point (the nearest one when the point lies off
// every monitor); the primary screen when the monitor cannot be read.
RECT MonitorRectAt(POINT point) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  HMONITOR monitor = ::MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST);
  if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info)) {
    return info.rcMonitor;
  }
  return RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

void ShiftRect(RECT* r, LONG dx, LONG dy) {
  r->left += dx;
  r->right += dx;
  r->top += dy;
  r->bottom += dy;
}

}  // namespace

RECT FitTipRect(const RECT& tip, const RECT& monitor) {
  RECT r = tip;
  if (r.left < monitor.left) {
    ShiftRect(&r, monitor.left + kScreenGap - r.left, 0);
  }
  if (r.right > monitor.right) {
    ShiftRect(&r, monitor.right - kScreenGap - r.right, 0);
  }
  if (r.top < monitor.top) {
    ShiftRect(&r, 0, monitor.top + kScreenGap - r.top);
  }
  if (r.bottom > monitor.bottom) {
    ShiftRect(&r, 0, monitor.bottom - kScreenGap - r.bottom);
  }
  return r;
}

CToolTipEx::CToolTipEx() : m_input(&SystemHoverInput()) {}

HWND CToolTipEx::CreatePopup(HWND owner) {
  const RECT empty = {};
  return Create(owner, &empty, nullptr, WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
}

int CToolTipEx::AddTool(HWND tool) {
  if (m_tools.count >= kMaxTools) {
    return 0;
  }
  return m_tools.Append(tool);
}

void CToolTipEx::SetHoverInput(IHoverInput* input) {
  m_input = input != nullptr ? input : &SystemHoverInput();
}

void CToolTipEx::RelayEvent(const MSG* msg) {
  if (msg == nullptr) {
    return;
  }
  switch (msg->message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      Hide();
      break;
    case WM_MOUSEMOVE:
      StartHoverTimer(ToolOfWindow(::WindowFromPoint(msg->pt)), msg->pt);
      break;
    default:
      break;
  }
}

void CToolTipEx::StartHoverTimer(int64_t tool, POINT point) {
  if (tool == kNone) {
    Hide();
    m_currentItem = kNone;
    m_currentTool = kNone;
    m_start = 0;
    return;
  }
  const int64_t item = TrackTip(tool, point);
  if (tool == m_currentTool && item == m_currentItem) {
    return;  // still within one item
  }
  m_currentTool = tool;
  m_currentItem = item;
  if (item == kNone) {
    Hide();
  } else if (IsWindowVisible()) {
    // The tip follows the mouse from item to item without a new delay.
    m_start = m_input->TickCount() + kShowDelayMs;
    PopUp(true);
  } else {
    if (m_timer == 0) {
      m_timer = SetTimer(kHoverTimerId, kHoverTimerMs);
    }
    m_start = m_input->TickCount();
  }
}

int32_t CToolTipEx::ElapsedSinceStart() const {
  // The difference of two wrapping tick counts is right across the wrap;
  // read as signed, a start set ahead of now gives a negative time.
  return int32_t(m_input->TickCount() - m_start);
}

LRESULT CToolTipEx::OnTimer(UINT, WPARAM wParam, LPARAM) {
  if (wParam != kHoverTimerId) {
    SetMsgHandled(FALSE);
    return 0;
  }
  if (m_timer == 0) {
    return 0;  // a tick already queued when the timer was stopped
  }
  const int32_t elapsed = ElapsedSinceStart();
  if (elapsed >= int32_t(kShowLimitMs)) {
    Hide();
    return 0;
  }
  if (elapsed < int32_t(kShowDelayMs)) {
    return 0;
  }
  POINT cursor = {};
  const int64_t tool = m_input->GetCursorPos(&cursor) ? ToolOfWindow(::WindowFromPoint(cursor)) : kNone;
  if (tool != m_currentTool) {
    Hide();
  } else if (!IsWindowVisible()) {
    PopUp(true);
  }
  return 0;
}

LRESULT CToolTipEx::OnNcHitTest(UINT, WPARAM, LPARAM) {
  return HTTRANSPARENT;  // clicks go to the window beneath the tip
}

LRESULT CToolTipEx::OnDestroy(UINT, WPARAM, LPARAM) {
  m_timer = 0;  // the window's timers go with it
  SetMsgHandled(FALSE);
  return 0;
}

int64_t CToolTipEx::ToolOfWindow(HWND hwnd) const {
  if (hwnd == nullptr) {
    return kNone;
  }
  if (hwnd == m_toolbar) {
    return kToolbarTool;
  }
  for (size_t i = 0; i < m_tools.count; ++i) {
    if (m_tools[i] == hwnd) {
      return int64_t(i);
    }
  }
  return kNone;
}

HWND CToolTipEx::ToolWindow(int64_t tool) const {
  if (tool == kToolbarTool) {
    return m_toolbar;
  }
  return tool >= 0 && size_t(tool) < m_tools.count ? m_tools[size_t(tool)] : nullptr;
}

int64_t CToolTipEx::TrackTip(int64_t tool, POINT point) {
  if (tool == kToolbarTool) {
    return TrackToolbar(point);
  }
  HWND window = ToolWindow(tool);
  if (window == nullptr || m_notify == nullptr) {
    return kNone;
  }
  NMTOOLTIPEX request = {};
  request.hdr.hwndFrom = m_hWnd;
  request.hdr.idFrom = m_controlId;
  request.hdr.code = kTipNotifyHitTest;
  request.hwndTool = window;
  request.pt = point;
  request.item = kNone;
  ::SendMessageW(m_notify, WM_NOTIFY, m_controlId, reinterpret_cast<LPARAM>(&request));
  return request.item < 0 ? kNone : request.item;
}

int64_t CToolTipEx::TrackToolbar(POINT point) const {
  if (m_toolbar == nullptr) {
    return kNone;
  }
  ::ScreenToClient(m_toolbar, &point);
  const int index = int(::SendMessageW(m_toolbar, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&point)));
  if (index < 0) {
    return kNone;
  }
  TBBUTTON button = {};
  if (!::SendMessageW(m_toolbar, TB_GETBUTTON, WPARAM(index), reinterpret_cast<LPARAM>(&button)) ||
      button.fsState == 0 || (button.fsState & TBSTATE_HIDDEN) != 0) {
    return kNone;
  }
  return index;
}

void CToolTipEx::PopUp(bool show) {
  if (!show) {
    Hide();
    return;
  }
  POINT position = {};
  ShowTip(&position);
  if (m_text.IsEmpty()) {
    Hide();
    return;
  }
  const SIZE size = MeasureTip();
  const RECT wanted = {position.x, position.y, position.x + size.cx, position.y + size.cy};
  const RECT placed = FitTipRect(wanted, MonitorRectAt(position));
  SetWindowPos(nullptr, placed, kShowFlags);
  HRGN region = ::CreateRoundRectRgn(0, 0, size.cx + 1, size.cy + 1, kCornerSize, kCornerSize);
  if (region != nullptr && !::SetWindowRgn(m_hWnd, region, TRUE)) {
    ::DeleteObject(region);  // the window owns the region only when it took it
  }
  RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void CToolTipEx::ShowTip(POINT* position) {
  if (m_currentTool == kToolbarTool) {
    ShowToolbarTip(position);
  } else {
    RequestToolText(position);
  }
}

void CToolTipEx::ShowToolbarTip(POINT* position) {
  m_text.Empty();
  TBBUTTON button = {};
  RECT item = {};
  const WPARAM index = WPARAM(m_currentItem);
  if (m_toolbar == nullptr ||
      !::SendMessageW(m_toolbar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item)) ||
      !::SendMessageW(m_toolbar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button))) {
    return;
  }
  POINT corner = {item.left, item.bottom + kToolbarTipGap};
  ::ClientToScreen(m_toolbar, &corner);
  *position = corner;
  wchar_t* buffer = m_text.GetBuffer(kTextCapacity - 1);
  if (buffer == nullptr) {
    return;
  }
  const int length = ::LoadStringW(::GetModuleHandleW(nullptr), UINT(button.idCommand), buffer, int(kTextCapacity));
  m_text.ReleaseBuffer(length > 0 ? length : 0);
}

void CToolTipEx::RequestToolText(POINT* position) {
  m_text.Empty();
  HWND window = ToolWindow(m_currentTool);
  if (window == nullptr || m_notify == nullptr) {
    return;
  }
  wchar_t* buffer = m_text.GetBuffer(kTextCapacity - 1);
  if (buffer == nullptr) {
    return;
  }
  buffer[0] = 0;
  NMTOOLTIPEX request = {};
  request.hdr.hwndFrom = m_hWnd;
  request.hdr.idFrom = m_controlId;
  request.hdr.code = kTipNotifyGetText;
  request.hwndTool = window;
  m_input->GetCursorPos(&request.pt);  // where the tip opens unless the owner says otherwise
  request.item = m_currentItem;
  request.pszText = buffer;
  request.cchTextMax = kTextCapacity;
  ::SendMessageW(m_notify, WM_NOTIFY, m_controlId, reinterpret_cast<LPARAM>(&request));
  buffer[kTextCapacity - 1] = 0;  // an owner that filled the buffer to the brim still leaves a string
  m_text.ReleaseBuffer();
  *position = request.pt;
}

SIZE CToolTipEx::MeasureTip() {
  RECT text = {0, 0, kWrapWidth, 0};
  CClientDC dc(m_hWnd);
  if (!dc.IsNull()) {
    CSelectObject font(dc.get(), ::GetStockObject(DEFAULT_GUI_FONT));
    dc.DrawText(m_text.c_str(), int(m_text.GetLength()), &text, kMeasureFormat);
  }
  int width = text.right - text.left;
  int height = text.bottom - text.top;
  // A word longer than a line may measure wider than the wrap width; the
  // painted text is cut with an ellipsis there, so the window stays bounded.
  width = width > kWrapWidth ? kWrapWidth : width;
  height = height < kMinTextHeight ? kMinTextHeight : (height > kMaxTextHeight ? kMaxTextHeight : height);
  return SIZE{width + kFrameSize, height + kFrameSize};
}

void CToolTipEx::StopTimer() {
  if (m_timer != 0) {
    KillTimer(m_timer);
    m_timer = 0;
  }
}

void CToolTipEx::Hide() {
  StopTimer();
  if (m_hWnd != nullptr) {
    ShowWindow(SW_HIDE);
  }
}

void CToolTipEx::DoPaint(HDC dc) {
  RECT client = {};
  GetClientRect(&client);
  CDCHandle target(dc);
  CSaveDC saved(dc);
  target.SetBkMode(TRANSPARENT);
  target.SelectObject(::GetStockObject(DEFAULT_GUI_FONT));
  target.SetTextColor(kTextColor);
  DrawGradientRect(dc, client, kGradientTop, kGradientBottom, false);
  CPen outline;
  if (outline.CreatePen(PS_SOLID, 1, kOutlineColor)) {
    CSelectObject pen(dc, outline.get());
    CSelectObject brush(dc, ::GetStockObject(HOLLOW_BRUSH));
    target.RoundRect(client, kCornerSize, kCornerSize);
  }
  RECT text = {client.left + kTextInset, client.top + kTextInset, client.right - kTextInset,
               client.bottom - kTextInset};
  target.DrawText(m_text.c_str(), int(m_text.GetLength()), &text, kDrawFormat);
}
