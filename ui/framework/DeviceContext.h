// Device contexts. CDCHandle draws on a DC it does not own; the classes
// below it own theirs and give it back the way it was obtained: ReleaseDC,
// EndPaint or DeleteDC.
#pragma once

#include <windows.h>

#include "ui/framework/Gdi.h"

class CDCHandle {
 public:
  explicit CDCHandle(HDC dc = nullptr) : m_hDC(dc) {}
  HDC get() const { return m_hDC; }
  bool IsNull() const { return m_hDC == nullptr; }

  HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
  int SaveDC() { return ::SaveDC(m_hDC); }
  BOOL RestoreDC(int saved) { return ::RestoreDC(m_hDC, saved); }
  int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
  COLORREF SetTextColor(COLORREF color) { return ::SetTextColor(m_hDC, color); }
  COLORREF SetBkColor(COLORREF color) { return ::SetBkColor(m_hDC, color); }

  int FillRect(const RECT& rect, HBRUSH brush) { return ::FillRect(m_hDC, &rect, brush); }
  // Fills without a brush object (opaque ExtTextOutW); keeps the background colour.
  void FillSolidRect(const RECT& rect, COLORREF color);
  // A rectangle outline one pixel wide: top and left in `topLeft`, bottom and right in `bottomRight`.
  void Draw3dRect(const RECT& rect, COLORREF topLeft, COLORREF bottomRight);
  BOOL MoveTo(int x, int y) { return ::MoveToEx(m_hDC, x, y, nullptr); }
  BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
  BOOL RoundRect(const RECT& rect, int ellipseWidth, int ellipseHeight) {
    return ::RoundRect(m_hDC, rect.left, rect.top, rect.right, rect.bottom, ellipseWidth, ellipseHeight);
  }
  COLORREF SetPixel(int x, int y, COLORREF color) { return ::SetPixel(m_hDC, x, y, color); }
  COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
  int DrawText(const wchar_t* text, int length, RECT* rect, UINT format) {
    return ::DrawTextW(m_hDC, text, length, rect, format);
  }
  BOOL GetTextMetrics(TEXTMETRICW* metrics) const { return ::GetTextMetricsW(m_hDC, metrics); }
  BOOL GetTextExtent(const wchar_t* text, int length, SIZE* size) const {
    return ::GetTextExtentPoint32W(m_hDC, text, length, size);
  }
  BOOL BitBlt(int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop = SRCCOPY) {
    return ::BitBlt(m_hDC, x, y, width, height, source, sourceX, sourceY, rop);
  }
  int ExcludeClipRect(const RECT& rect) {
    return ::ExcludeClipRect(m_hDC, rect.left, rect.top, rect.right, rect.bottom);
  }
  int IntersectClipRect(const RECT& rect) {
    return ::IntersectClipRect(m_hDC, rect.left, rect.top, rect.right, rect.bottom);
  }
  int SelectClipRgn(HRGN region) { return ::SelectClipRgn(m_hDC, region); }
  BOOL DrawFrameControl(RECT* rect, UINT type, UINT state) { return ::DrawFrameControl(m_hDC, rect, type, state); }

 protected:
  HDC m_hDC;
};

// GetDC / ReleaseDC.
class CClientDC : public CDCHandle {
 public:
  explicit CClientDC(HWND hwnd) : CDCHandle(::GetDC(hwnd)), m_hwnd(hwnd) {}
  ~CClientDC() {
    if (m_hDC != nullptr) {
      ::ReleaseDC(m_hwnd, m_hDC);
    }
  }
  CClientDC(const CClientDC&) = delete;
  CClientDC& operator=(const CClientDC&) = delete;

 private:
  HWND m_hwnd;
};

// GetWindowDC / ReleaseDC: the whole window, frame included.
class CWindowDC : public CDCHandle {
 public:
  explicit CWindowDC(HWND hwnd) : CDCHandle(::GetWindowDC(hwnd)), m_hwnd(hwnd) {}
  ~CWindowDC() {
    if (m_hDC != nullptr) {
      ::ReleaseDC(m_hwnd, m_hDC);
    }
  }
  CWindowDC(const CWindowDC&) = delete;
  CWindowDC& operator=(const CWindowDC&) = delete;

 private:
  HWND m_hwnd;
};

// BeginPaint / EndPaint, for WM_PAINT handlers.
class CPaintDC : public CDCHandle {
 public:
  explicit CPaintDC(HWND hwnd) : m_hwnd(hwnd) { m_hDC = ::BeginPaint(hwnd, &m_ps); }
  ~CPaintDC() { ::EndPaint(m_hwnd, &m_ps); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  PAINTSTRUCT m_ps = {};

 private:
  HWND m_hwnd;
};

// SaveDC for one scope, RestoreDC at its end.
class CSaveDC {
 public:
  explicit CSaveDC(HDC dc) : m_dc(dc), m_saved(::SaveDC(dc)) {}
  ~CSaveDC() {
    if (m_saved != 0) {
      ::RestoreDC(m_dc, m_saved);
    }
  }
  CSaveDC(const CSaveDC&) = delete;
  CSaveDC& operator=(const CSaveDC&) = delete;

 private:
  HDC m_dc;
  int m_saved;
};

// A bitmap kept from one paint to the next for a window that paints a large
// area often: a fresh bitmap of a few megabytes costs a mapping, a page fault
// per page and an unmapping every paint. It grows to the largest area asked
// for and never shrinks.
class CPaintBitmap {
 public:
  // A bitmap compatible with `target` of at least width x height pixels;
  // null when GDI cannot give one.
  HBITMAP Get(HDC target, int width, int height);

 private:
  CBitmap m_bitmap;
  int m_width = 0;
  int m_height = 0;
};

// An off-screen DC over `area` of a target DC. Drawing uses the target's
// coordinates (the area's corner maps to the bitmap's origin); Present copies
// the bitmap to the area of the target. IsValid is false when GDI cannot give
// the DC or bitmap (or the area is empty): callers then draw on the target.
class CMemoryDC : public CDCHandle {
 public:
  CMemoryDC(HDC target, const RECT& area);
  // The same over a bitmap that `reused` keeps for the next paint.
  CMemoryDC(HDC target, const RECT& area, CPaintBitmap& reused);
  ~CMemoryDC();
  CMemoryDC(const CMemoryDC&) = delete;
  CMemoryDC& operator=(const CMemoryDC&) = delete;

  bool IsValid() const { return m_hDC != nullptr && m_previousBitmap != nullptr; }
  BOOL Present();

 private:
  void Attach(HBITMAP bitmap);

  HDC m_target;
  RECT m_area;
  CBitmap m_bitmap;  // null when the bitmap is a reused one
  HGDIOBJ m_previousBitmap = nullptr;
};
