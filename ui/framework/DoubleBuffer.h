// Flicker-free painting for a window class T: background erase is
// suppressed, and WM_PAINT and WM_PRINTCLIENT are drawn by T::DoPaint(HDC)
// into an off-screen bitmap that is copied out in one go. DoPaint draws in
// client coordinates and must paint every pixel of the area (the bitmap
// starts undefined). T chains this map: CHAIN_MSG_MAP(CDoubleBufferImpl<T>).
#pragma once

#include <windows.h>

#include "ui/framework/DeviceContext.h"
#include "ui/framework/MessageMap.h"

template <class T>
class CDoubleBufferImpl {
 public:
  BEGIN_MSG_MAP(CDoubleBufferImpl)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBackground)
    MESSAGE_HANDLER(WM_PAINT, OnPaint)
    MESSAGE_HANDLER(WM_PRINTCLIENT, OnPaint)
  END_MSG_MAP()

  LRESULT OnEraseBackground(UINT, WPARAM, LPARAM) { return 1; }

  // While held, a paint is put off: the window is validated without drawing
  // and invalidated again when the last hold goes, so an owner that changes
  // several windows can paint them all in one pass. Holds nest.
  void HoldPainting() { ++m_paintHolds; }
  void ReleasePainting() {
    if (m_paintHolds == 0 || --m_paintHolds != 0) {
      return;
    }
    if (m_paintOwed) {
      m_paintOwed = false;
      ::InvalidateRect(static_cast<T*>(this)->m_hWnd, nullptr, FALSE);
    }
  }
  bool IsPaintingHeld() const { return m_paintHolds != 0; }

  // WM_PRINTCLIENT, and WM_PAINT with a DC in wParam (as controls send it),
  // draw the whole client area into the given DC; a plain WM_PAINT draws
  // the update area between BeginPaint and EndPaint.
  LRESULT OnPaint(UINT msg, WPARAM wParam, LPARAM) {
    HWND hwnd = static_cast<T*>(this)->m_hWnd;
    if (msg == WM_PRINTCLIENT || wParam != 0) {
      RECT client;
      ::GetClientRect(hwnd, &client);
      PaintBuffered(reinterpret_cast<HDC>(wParam), client);
    } else if (m_paintHolds != 0) {
      m_paintOwed = true;
      ::ValidateRect(hwnd, nullptr);
    } else {
      CPaintDC dc(hwnd);
      if (!dc.IsNull()) {
        PaintBuffered(dc.get(), dc.m_ps.rcPaint);
      }
    }
    return 0;
  }

 private:
  int m_paintHolds = 0;
  bool m_paintOwed = false;  // a paint came while held

  void PaintBuffered(HDC target, const RECT& area) {
    if (area.right <= area.left || area.bottom <= area.top) {
      return;
    }
    CMemoryDC buffer(target, area);
    if (buffer.IsValid()) {
      static_cast<T*>(this)->DoPaint(buffer.get());
      buffer.Present();
    } else {
      static_cast<T*>(this)->DoPaint(target);  // no memory for the bitmap: paint directly, flicker and all
    }
  }
};
