#include "ui/framework/Gdi.h"

#include "core/StrUtil.h"

namespace {
constexpr int kTenthsPerInch = 720;  // 72 points of 10 tenths
}

bool CFont::CreatePointFont(int pointTenths, const wchar_t* faceName, LONG weight, bool italic) {
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) {
    return false;
  }
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  LOGFONTW font = {};
  font.lfHeight = -::MulDiv(pointTenths, dpi, kTenthsPerInch);
  font.lfWeight = weight;
  font.lfItalic = italic ? TRUE : FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  StrCopyNW(font.lfFaceName, LF_FACESIZE, faceName != nullptr ? faceName : L"");
  return CreateFontIndirect(font);
}

bool CBitmap::LoadBitmap(UINT id, HINSTANCE module, UINT flags) {
  if (module == nullptr) {
    module = ::GetModuleHandleW(nullptr);
  }
  Reset(static_cast<HBITMAP>(::LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, flags)));
  return !IsNull();
}
