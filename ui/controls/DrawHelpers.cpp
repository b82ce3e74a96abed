#include "ui/controls/DrawHelpers.h"

#include "ui/framework/Gdi.h"
#include "ui/framework/ThemeSwitch.h"

namespace {

constexpr int kGradientSteps = 64;

// One channel of band `step`: the weighted mean of the two ends, truncated.
BYTE BlendChannel(BYTE from, BYTE to, int step) {
  return static_cast<BYTE>((from * (kGradientSteps - step) + to * step) / kGradientSteps);
}

struct ArrowRow {
  int width;
  int offset;  // rows below the vertical middle
};
constexpr ArrowRow kArrowRows[] = {{6, 0}, {4, 1}, {2, 2}};

template <class F>
F LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

void DrawGradientRect(HDC dc, const RECT& rect, COLORREF from, COLORREF to, bool horizontal) {
  const int start = horizontal ? rect.left : rect.top;
  const int extent = horizontal ? rect.right - rect.left : rect.bottom - rect.top;
  if (extent <= 0) {
    return;
  }
  for (int step = 0; step < kGradientSteps; ++step) {
    const int bandStart = start + (step * extent) / kGradientSteps;
    const int bandEnd = start + ((step + 1) * extent) / kGradientSteps;
    if (bandEnd <= bandStart) {
      continue;
    }
    RECT band = rect;
    if (horizontal) {
      band.left = bandStart;
      band.right = bandEnd;
    } else {
      band.top = bandStart;
      band.bottom = bandEnd;
    }
    const COLORREF color = RGB(BlendChannel(GetRValue(from), GetRValue(to), step),
                               BlendChannel(GetGValue(from), GetGValue(to), step),
                               BlendChannel(GetBValue(from), GetBValue(to), step));
    CBrush brush;
    if (brush.CreateSolidBrush(color)) {
      ::FillRect(dc, &band, brush.get());
    }
  }
}

void DrawDropArrow(HDC dc, const RECT& rect, COLORREF color) {
  const int width = rect.right - rect.left;
  const int middle = rect.top + (rect.bottom - rect.top) / 2;
  for (const ArrowRow& row : kArrowRows) {
    const int left = rect.left + (width - row.width) / 2;
    for (int x = left; x < left + row.width; ++x) {
      ::SetPixel(dc, x, middle + row.offset, color);
    }
  }
}

CThemeHelper::CThemeHelper() {
  module = ::LoadLibraryW(L"UxTheme.dll");
  if (module == nullptr) {
    return;
  }
  IsThemeActive = LookUp<IsThemeActiveFn>(module, "IsThemeActive");
  OpenThemeData = LookUp<OpenThemeDataFn>(module, "OpenThemeData");
  CloseThemeData = LookUp<CloseThemeDataFn>(module, "CloseThemeData");
  DrawThemeBackground = LookUp<DrawThemeBackgroundFn>(module, "DrawThemeBackground");
  if (OpenThemeData == nullptr || CloseThemeData == nullptr || DrawThemeBackground == nullptr) {
    IsThemeActive = nullptr;  // an incomplete set: classic drawing throughout
  }
  RefreshActive();
}

CThemeHelper::~CThemeHelper() {
  if (module != nullptr) {
    ::FreeLibrary(module);
  }
}

bool CThemeHelper::IsActive() const { return active != 0 && AreThemesAllowed(); }

void CThemeHelper::RefreshActive() {
  active = (IsThemeActive != nullptr && IsThemeActive()) ? 1 : 0;
}

HTHEME CThemeHelper::OpenTheme(HWND hwnd, const wchar_t* themeClass) const {
  if (!IsActive() || hwnd == nullptr) {
    return nullptr;
  }
  return OpenThemeData(hwnd, themeClass);
}

void CThemeHelper::CloseTheme(HTHEME theme) const {
  if (theme != nullptr && CloseThemeData != nullptr) {
    CloseThemeData(theme);
  }
}

CThemeHelper& GetThemeHelper() {
  static CThemeHelper helper;  // C++ guarantees one thread-safe construction; destroyed at exit
  return helper;
}

HRESULT DrawThemedBackground(HTHEME theme, HDC dc, int part, int state, const RECT& rect) {
  const CThemeHelper& helper = GetThemeHelper();
  if (!helper.IsActive()) {
    return S_FALSE;
  }
  return helper.DrawThemeBackground(theme, dc, part, state, &rect, nullptr);
}
