// Owners of GDI objects. Each deletes its object when it dies, can be moved
// but not copied, and hands the raw handle out only through get(). Stock
// objects (GetStockObject) are never put into an owner.
#pragma once

#include <windows.h>

template <class H>
class CGdiObjectT {
 public:
  CGdiObjectT() = default;
  explicit CGdiObjectT(H handle) : m_handle(handle) {}
  ~CGdiObjectT() { Reset(); }
  CGdiObjectT(const CGdiObjectT&) = delete;
  CGdiObjectT& operator=(const CGdiObjectT&) = delete;
  CGdiObjectT(CGdiObjectT&& other) noexcept : m_handle(other.Detach()) {}
  CGdiObjectT& operator=(CGdiObjectT&& other) noexcept {
    if (this != &other) {
      Reset(other.Detach());
    }
    return *this;
  }

  H get() const { return m_handle; }
  bool IsNull() const { return m_handle == nullptr; }
  // Deletes the object held and takes `handle` (which may be null).
  void Reset(H handle = nullptr) {
    if (m_handle != nullptr && m_handle != handle) {
      ::DeleteObject(m_handle);
    }
    m_handle = handle;
  }
  // Gives the object up to the caller, who deletes it.
  H Detach() {
    H handle = m_handle;
    m_handle = nullptr;
    return handle;
  }

 protected:
  H m_handle = nullptr;
};

class CPen : public CGdiObjectT<HPEN> {
 public:
  using CGdiObjectT::CGdiObjectT;
  // Each Create* replaces what the owner held; false when GDI refuses.
  bool CreatePen(int style, int width, COLORREF color) {
    Reset(::CreatePen(style, width, color));
    return !IsNull();
  }
};

class CBrush : public CGdiObjectT<HBRUSH> {
 public:
  using CGdiObjectT::CGdiObjectT;
  bool CreateSolidBrush(COLORREF color) {
    Reset(::CreateSolidBrush(color));
    return !IsNull();
  }
};

class CFont : public CGdiObjectT<HFONT> {
 public:
  using CGdiObjectT::CGdiObjectT;
  bool CreateFontIndirect(const LOGFONTW& font) {
    Reset(::CreateFontIndirectW(&font));
    return !IsNull();
  }
  // A font of `pointTenths` tenths of a point, converted to device units
  // through the screen's vertical resolution.
  bool CreatePointFont(int pointTenths, const wchar_t* faceName, LONG weight = FW_NORMAL, bool italic = false);
};

class CRgn : public CGdiObjectT<HRGN> {
 public:
  using CGdiObjectT::CGdiObjectT;
  bool CreateRectRgn(int left, int top, int right, int bottom) {
    Reset(::CreateRectRgn(left, top, right, bottom));
    return !IsNull();
  }
  bool CreateRectRgnIndirect(const RECT& rect) {
    Reset(::CreateRectRgnIndirect(&rect));
    return !IsNull();
  }
  // ::CombineRgn into this region: its result code (ERROR when it failed).
  int Combine(HRGN a, HRGN b, int mode) { return ::CombineRgn(m_handle, a, b, mode); }
  bool Contains(int x, int y) const { return ::PtInRegion(m_handle, x, y) != FALSE; }
};

class CBitmap : public CGdiObjectT<HBITMAP> {
 public:
  using CGdiObjectT::CGdiObjectT;
  bool CreateCompatibleBitmap(HDC dc, int width, int height) {
    Reset(::CreateCompatibleBitmap(dc, width, height));
    return !IsNull();
  }
  // A bitmap resource of `module` (the executable's when null).
  bool LoadBitmap(UINT id, HINSTANCE module = nullptr, UINT flags = LR_CREATEDIBSECTION);
};

// Selects an object into a DC for one scope and puts the previous one back,
// so an owner never deletes an object that a DC still holds.
class CSelectObject {
 public:
  CSelectObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
  ~CSelectObject() {
    if (m_previous != nullptr && m_previous != HGDI_ERROR) {
      ::SelectObject(m_dc, m_previous);
    }
  }
  CSelectObject(const CSelectObject&) = delete;
  CSelectObject& operator=(const CSelectObject&) = delete;

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};
