#include "ui/framework/DeviceContext.h"

#include <utility>

void CDCHandle::FillSolidRect(const RECT& rect, COLORREF color) {
  const COLORREF previous = ::SetBkColor(m_hDC, color);
  ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
  ::SetBkColor(m_hDC, previous);
}

void CDCHandle::Draw3dRect(const RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  FillSolidRect(RECT{rect.left, rect.top, rect.left + width - 1, rect.top + 1}, topLeft);
  FillSolidRect(RECT{rect.left, rect.top, rect.left + 1, rect.top + height - 1}, topLeft);
  FillSolidRect(RECT{rect.right - 1, rect.top, rect.right, rect.bottom}, bottomRight);
  FillSolidRect(RECT{rect.left, rect.bottom - 1, rect.right, rect.bottom}, bottomRight);
}

HBITMAP CPaintBitmap::Get(HDC target, int width, int height) {
  if (width <= 0 || height <= 0) {
    return nullptr;
  }
  if (m_bitmap.IsNull() || width > m_width || height > m_height) {
    const int grownWidth = width > m_width ? width : m_width;
    const int grownHeight = height > m_height ? height : m_height;
    CBitmap grown;
    if (!grown.CreateCompatibleBitmap(target, grownWidth, grownHeight)) {
      return nullptr;
    }
    m_bitmap = std::move(grown);
    m_width = grownWidth;
    m_height = grownHeight;
  }
  return m_bitmap.get();
}

CMemoryDC::CMemoryDC(HDC target, const RECT& area) : CDCHandle(nullptr), m_target(target), m_area(area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0 || !m_bitmap.CreateCompatibleBitmap(target, width, height)) {
    return;
  }
  Attach(m_bitmap.get());
}

CMemoryDC::CMemoryDC(HDC target, const RECT& area, CPaintBitmap& reused)
    : CDCHandle(nullptr), m_target(target), m_area(area) {
  HBITMAP bitmap = reused.Get(target, area.right - area.left, area.bottom - area.top);
  if (bitmap != nullptr) {
    Attach(bitmap);
  }
}

void CMemoryDC::Attach(HBITMAP bitmap) {
  m_hDC = ::CreateCompatibleDC(m_target);
  if (m_hDC == nullptr) {
    return;
  }
  m_previousBitmap = ::SelectObject(m_hDC, bitmap);
  ::SetViewportOrgEx(m_hDC, -m_area.left, -m_area.top, nullptr);
}

CMemoryDC::~CMemoryDC() {
  if (m_hDC != nullptr) {
    if (m_previousBitmap != nullptr) {
      ::SelectObject(m_hDC, m_previousBitmap);  // the bitmap must leave the DC before it is deleted
    }
    ::DeleteDC(m_hDC);
  }
}

BOOL CMemoryDC::Present() {
  if (!IsValid()) {
    return FALSE;
  }
  return ::BitBlt(m_target, m_area.left, m_area.top, m_area.right - m_area.left, m_area.bottom - m_area.top, m_hDC,
                  m_area.left, m_area.top, SRCCOPY);
}
