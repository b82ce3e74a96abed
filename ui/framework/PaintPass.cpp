#include "ui/framework/PaintPass.h"

namespace {

// GetDCEx's flag for "clip as the window's style says", which BeginPaint,
// GetDC and GetWindowDC use; the headers leave it out.
constexpr DWORD kDcxUseStyle = 0x00010000;

// The DCs a window paints with: its client DC (BeginPaint, GetDC, erasing),
// its window DC by style (the frame) and the bare window DC (scroll bars,
// themed edges). Each is looked up as its painter looks it up, so the pass
// gets the same cached DC.
constexpr DWORD kPaintDcs[] = {kDcxUseStyle, kDcxUseStyle | DCX_WINDOW, DCX_WINDOW};

// True when the window has a frame, scroll bars or a caption around its client.
bool HasNonClientArea(HWND hwnd) {
  RECT window;
  RECT client;
  return ::GetWindowRect(hwnd, &window) && ::GetClientRect(hwnd, &client) &&
         (window.right - window.left != client.right || window.bottom - window.top != client.bottom);
}

void BeginDrawing(HWND hwnd) {
  if (!::IsWindowVisible(hwnd)) {
    return;
  }
  const bool frame = HasNonClientArea(hwnd);
  for (DWORD flags : kPaintDcs) {
    if ((flags & DCX_WINDOW) != 0 && !frame) {
      continue;  // nothing paints outside the client
    }
    HDC dc = ::GetDCEx(hwnd, nullptr, flags);
    if (dc != nullptr) {
      ::GetPixel(dc, 0, 0);  // goes through the surface's drawing path and changes nothing
      ::ReleaseDC(hwnd, dc);
    }
  }
}

BOOL CALLBACK BeginDrawingChild(HWND hwnd, LPARAM) {
  BeginDrawing(hwnd);
  return TRUE;
}

}  // namespace

namespace ktui {

void StartPaintPass(HWND top) {
  if (top == nullptr || !::IsWindowVisible(top)) {
    return;
  }
  // A wait that returns at once counts as idle: what is drawn goes out now.
  ::MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0);
  BeginDrawing(top);
  ::EnumChildWindows(top, BeginDrawingChild, 0);
}

}  // namespace ktui
