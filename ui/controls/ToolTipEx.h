// CToolTipEx: the main frame's own owner-drawn tool tip. One popup window
// for the frame's toolbar and a short list of tool windows: the frame relays
// every message to it, it decides when to show and hide, asks the frame
// (WM_NOTIFY with NMTOOLTIPEX) which item is under the mouse and what to
// show there, and measures, places and paints the tip itself.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/Containers.h"
#include "core/RefString.h"
#include "ui/framework/DoubleBuffer.h"
#include "ui/framework/WindowImpl.h"

// NMHDR codes of the requests to the notify window.
constexpr UINT kTipNotifyHitTest = 0;  // in: tool and screen point; out: item
constexpr UINT kTipNotifyGetText = 1;  // in: tool and item; out: text and tip position

// The record of both requests, sent with
// SendMessageW(notify window, WM_NOTIFY, control id, record).
struct NMTOOLTIPEX {
  NMHDR hdr;            // the tip window, its control id, the request code
  HWND hwndTool;        // the tool window asked about
  POINT pt;             // hit test: the mouse, screen coordinates; text: where the tip's corner goes
  int64_t item;         // hit test: out, preset to -1; text: in
  wchar_t* pszText;     // text: out, the owner writes at most cchTextMax characters with the terminator
  uint64_t cchTextMax;  // text: the buffer's capacity in characters; 0 on a hit test
};

// Where a tip of the rectangle `tip` goes on a monitor with the rectangle
// `monitor`: pushed back inside with a 3-pixel gap, left before right and
// top before bottom, so a tip larger than the monitor keeps its right and
// bottom edges on it.
RECT FitTipRect(const RECT& tip, const RECT& monitor);

// The clock and cursor the hover logic reads; tests put their own in place.
class IHoverInput {
 public:
  virtual DWORD TickCount() = 0;                  // milliseconds, wrapping at 2^32
  virtual BOOL GetCursorPos(POINT* point) = 0;   // screen coordinates
 protected:
  ~IHoverInput() = default;
};

class CToolTipEx : public CWindowImpl<CToolTipEx>, public CDoubleBufferImpl<CToolTipEx> {
 public:
  DECLARE_WND_CLASS(L"WTLToolTipEx")

  static constexpr int64_t kToolbarTool = 32;  // tool index of the toolbar
  static constexpr int64_t kNone = -1;         // no tool, no item
  static constexpr UINT_PTR kHoverTimerId = 10;
  static constexpr UINT kHoverTimerMs = 250;
  static constexpr DWORD kShowDelayMs = 1000;   // rest over an item before the tip shows
  static constexpr DWORD kShowLimitMs = 16000;  // a tip goes away this long after the hover began
  static constexpr size_t kTextCapacity = 2048; // characters, terminator included
  static constexpr size_t kMaxTools = 31;       // tool indexes stay below the toolbar's

  CToolTipEx();
  ~CToolTipEx() override = default;

  // Creates the hidden popup (WS_EX_TOPMOST | WS_EX_TOOLWINDOW) owned by
  // `owner`. The window, or null when it cannot be created.
  HWND CreatePopup(HWND owner);

  void SetToolbar(HWND toolbar) { m_toolbar = toolbar; }
  void SetNotifyWindow(HWND notify) { m_notify = notify; }
  void SetControlId(UINT_PTR id) { m_controlId = id; }
  // Appends a tool window; its index is the count before. 0 when the list
  // is full or cannot grow.
  int AddTool(HWND tool);
  // Null restores the system clock and cursor. The input must outlive its use.
  void SetHoverInput(IHoverInput* input);

  // Feeds one message of the frame's loop (before translation).
  void RelayEvent(const MSG* msg);
  // Runs the hover logic for `tool` (an index, kToolbarTool, or kNone) at a
  // screen point.
  void StartHoverTimer(int64_t tool, POINT point);
  // Shows the tip for the current tool and item now, or hides it.
  void PopUp(bool show);

  int64_t GetCurrentTool() const { return m_currentTool; }
  int64_t GetCurrentItem() const { return m_currentItem; }
  UINT_PTR GetTimerId() const { return m_timer; }
  const CString& GetText() const { return m_text; }

  BEGIN_MSG_MAP(CToolTipEx)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_NCHITTEST, OnNcHitTest)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    CHAIN_MSG_MAP(CDoubleBufferImpl<CToolTipEx>)
  END_MSG_MAP()

  void DoPaint(HDC dc);

 private:
  LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam);

  // The tool index of a window: kToolbarTool, a tool's index, or kNone.
  int64_t ToolOfWindow(HWND hwnd) const;
  HWND ToolWindow(int64_t tool) const;
  // The item of `tool` under the screen point, kNone for none.
  int64_t TrackTip(int64_t tool, POINT point);
  int64_t TrackToolbar(POINT point) const;
  // Fills m_text and the tip's position for the current tool and item.
  void ShowTip(POINT* position);
  void ShowToolbarTip(POINT* position);
  void RequestToolText(POINT* position);
  // The window size for m_text: measured text plus the frame.
  SIZE MeasureTip();
  // Milliseconds since m_start, negative while m_start lies ahead (wraps safely).
  int32_t ElapsedSinceStart() const;
  void StopTimer();
  void Hide();

  HWND m_toolbar = nullptr;
  HWND m_notify = nullptr;
  CGrowArray<HWND> m_tools;
  int64_t m_currentTool = kNone;
  int64_t m_currentItem = kNone;
  UINT_PTR m_timer = 0;
  DWORD m_start = 0;
  UINT_PTR m_controlId = 0;
  CString m_text;
  IHoverInput* m_input;
};
