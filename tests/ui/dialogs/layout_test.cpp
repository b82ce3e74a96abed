// A layout check over every dialog template in the program's resources,
// found by enumeration so that each new dialog is checked without being
// named here: every visible control lies inside the dialog's client area,
// no two overlap (a group box or frame may hold controls, an up-down sits
// on its buddy), every label's text fits its control in the dialog's font,
// and the dialog fits a small screen. Run at 96 DPI and at 144 DPI, which
// is simulated by a 1.5 times larger template font: dialog units grow with
// it, as they do at 144 DPI, but text does not grow exactly in step, which
// is where a tight layout clips.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/ui/UiHarness.h"

namespace {

constexpr int kBaseDpi = 96;
constexpr int kSpareTextPixels = 2;      // a label needs this much room past its text
constexpr int kButtonMarginPixels = 4;   // each side of a push button's text (border and focus frame)
constexpr int kCheckGlyphPixels = 16;    // check box or radio glyph and its gap at 96 DPI
constexpr int kGroupTextIndentPixels = 12;  // the group box's frame before and after its caption
constexpr int kSmallScreenWidth = 1024;
constexpr int kSmallScreenHeight = 768;

struct DialogId {
  std::wstring name;  // "250", or the name of a named resource
  const wchar_t* resource;
  std::wstring storage;
};

BOOL CALLBACK CollectDialog(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  auto* ids = reinterpret_cast<std::vector<DialogId>*>(param);
  DialogId id;
  if (IS_INTRESOURCE(name)) {
    id.name = std::to_wstring(reinterpret_cast<ULONG_PTR>(name));
    id.resource = name;
  } else {
    id.storage = name;
    id.name = id.storage;
    id.resource = nullptr;
  }
  ids->push_back(id);
  return TRUE;
}

std::vector<DialogId> AllDialogs() {
  std::vector<DialogId> ids;
  ::EnumResourceNamesW(::GetModuleHandleW(nullptr), RT_DIALOG, &CollectDialog, reinterpret_cast<LONG_PTR>(&ids));
  for (DialogId& id : ids) {
    if (id.resource == nullptr) {
      id.resource = id.storage.c_str();
    }
  }
  return ids;
}

// Skips a menu, class or title field of a template (0, 0xFFFF + ordinal, or a string).
size_t SkipSzOrOrd(const std::vector<BYTE>& bytes, size_t at) {
  auto word = [&](size_t offset) { return offset + 2 <= bytes.size() ? *reinterpret_cast<const WORD*>(&bytes[offset]) : WORD(0); };
  if (word(at) == 0xFFFF) {
    return at + 4;
  }
  while (at + 2 <= bytes.size() && word(at) != 0) {
    at += 2;
  }
  return at + 2;
}

// The bytes of a dialog resource; empty when it cannot be read.
std::vector<BYTE> LoadTemplate(const wchar_t* resource) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC info = ::FindResourceW(module, resource, RT_DIALOG);
  HGLOBAL loaded = info != nullptr ? ::LoadResource(module, info) : nullptr;
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  const DWORD size = info != nullptr ? ::SizeofResource(module, info) : 0;
  if (data == nullptr) {
    return {};
  }
  return std::vector<BYTE>(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
}

// Makes a template ready to create hidden: WS_VISIBLE cleared, the font's
// point size multiplied by `scalePercent`. False when it has no font of its
// own (DS_SETFONT) or is too short.
bool PrepareTemplate(std::vector<BYTE>& bytes, int scalePercent) {
  if (bytes.size() < sizeof(DLGTEMPLATE)) {
    return false;
  }
  const bool extended = *reinterpret_cast<const WORD*>(&bytes[2]) == 0xFFFF;
  DWORD& dialogStyle = *reinterpret_cast<DWORD*>(&bytes[extended ? 12 : 0]);
  dialogStyle &= ~DWORD(WS_VISIBLE);
  if ((dialogStyle & DS_SETFONT) == 0) {
    return false;
  }
  const size_t headerEnd = extended ? 26 : 18;
  size_t at = SkipSzOrOrd(bytes, headerEnd);  // menu
  at = SkipSzOrOrd(bytes, at);                // class
  at = SkipSzOrOrd(bytes, at);                // title
  if (at + 2 > bytes.size()) {
    return false;
  }
  WORD& points = *reinterpret_cast<WORD*>(&bytes[at]);
  points = WORD((points * scalePercent + 50) / 100);
  return true;
}

INT_PTR CALLBACK InertDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  return name;
}

bool Is(const std::wstring& className, const wchar_t* expected) { return _wcsicmp(className.c_str(), expected) == 0; }

std::wstring TextOf(HWND hwnd) {
  const int length = ::GetWindowTextLengthW(hwnd);
  std::wstring text(size_t(length > 0 ? length : 0) + 1, L'\0');
  ::GetWindowTextW(hwnd, text.data(), int(text.size()));
  text.resize(wcslen(text.c_str()));
  return text;
}

// The text as drawn: "&x" underlines x, "&&" is one "&".
std::wstring Displayed(const std::wstring& text, bool prefixes) {
  if (!prefixes) {
    return text;
  }
  std::wstring shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) {
      ++i;
    }
    shown += text[i];
  }
  return shown;
}

enum class Kind { kLabel, kPushButton, kCheck, kGroupBox, kFrame, kOther };

struct Control {
  HWND hwnd;
  int id;
  Kind kind;
  RECT rect;  // in the dialog's client coordinates
  DWORD style;
  std::wstring className;
  std::wstring text;
};

Kind KindOf(const std::wstring& className, DWORD style) {
  if (Is(className, L"Button")) {
    switch (style & BS_TYPEMASK) {
      case BS_PUSHBUTTON:
      case BS_DEFPUSHBUTTON:
        return Kind::kPushButton;
      case BS_CHECKBOX:
      case BS_AUTOCHECKBOX:
      case BS_3STATE:
      case BS_AUTO3STATE:
      case BS_RADIOBUTTON:
      case BS_AUTORADIOBUTTON:
        return (style & BS_PUSHLIKE) != 0 ? Kind::kPushButton : Kind::kCheck;
      case BS_GROUPBOX:
        return Kind::kGroupBox;
      default:
        return Kind::kOther;  // owner-drawn
    }
  }
  if (Is(className, L"Static")) {
    switch (style & SS_TYPEMASK) {
      case SS_LEFT:
      case SS_CENTER:
      case SS_RIGHT:
      case SS_LEFTNOWORDWRAP:
      case SS_SIMPLE:
        return Kind::kLabel;
      case SS_BLACKFRAME:
      case SS_GRAYFRAME:
      case SS_WHITEFRAME:
      case SS_ETCHEDFRAME:
        return Kind::kFrame;
      default:
        return Kind::kOther;  // icons, bitmaps, lines
    }
  }
  return Kind::kOther;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += c >= 0x20 && c < 0x7F ? char(c) : '?';
  }
  return out;
}

std::string Name(const Control& c) {
  std::ostringstream out;
  out << "control " << c.id << " (" << Narrow(c.className);
  if (!c.text.empty()) {
    out << " \"" << Narrow(c.text) << "\"";
  }
  out << ")";
  return out.str();
}

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

bool Overlap(const RECT& a, const RECT& b) {
  RECT common;
  return ::IntersectRect(&common, &a, &b) != FALSE;
}

class CDialogLayout {
 public:
  CDialogLayout(const std::wstring& name, std::vector<BYTE> bytes, int scalePercent, HWND host)
      : m_name(name), m_template(std::move(bytes)), m_scale(scalePercent) {
    if (!PrepareTemplate(m_template, scalePercent)) {
      m_error = "has no font of its own (DS_SETFONT) or cannot be read";
      return;
    }
    m_hwnd = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr),
                                          reinterpret_cast<const DLGTEMPLATE*>(m_template.data()), host,
                                          &InertDialogProc, 0);
    if (m_hwnd == nullptr) {
      m_error = "cannot be created";
    }
  }
  ~CDialogLayout() {
    if (m_hwnd != nullptr) {
      ::DestroyWindow(m_hwnd);
    }
  }
  CDialogLayout(const CDialogLayout&) = delete;
  CDialogLayout& operator=(const CDialogLayout&) = delete;

  // Every fault found, one line each.
  std::vector<std::string> Check() {
    std::vector<std::string> faults;
    if (!m_error.empty()) {
      faults.push_back(Prefix() + m_error);
      return faults;
    }
    RECT client;
    ::GetClientRect(m_hwnd, &client);
    RECT window;
    ::GetWindowRect(m_hwnd, &window);
    // The small screen grows with the DPI as the dialog does.
    const int screenWidth = kSmallScreenWidth * m_scale / 100;
    const int screenHeight = kSmallScreenHeight * m_scale / 100;
    if (window.right - window.left > screenWidth || window.bottom - window.top > screenHeight) {
      faults.push_back(Prefix() + "is larger than a " + std::to_string(screenWidth) + "x" +
                       std::to_string(screenHeight) + " screen");
    }
    const std::vector<Control> controls = Controls();
    for (const Control& c : controls) {
      if (!Contains(client, c.rect)) {
        faults.push_back(Prefix() + Name(c) + " reaches outside the client area");
      }
      CheckText(c, &faults);
    }
    for (size_t i = 0; i < controls.size(); ++i) {
      for (size_t j = i + 1; j < controls.size(); ++j) {
        const Control& a = controls[i];
        const Control& b = controls[j];
        if (Overlap(a.rect, b.rect) && !MayOverlap(a, b) && !MayOverlap(b, a)) {
          faults.push_back(Prefix() + Name(a) + " overlaps " + Name(b));
        }
      }
    }
    return faults;
  }


 private:
  std::string Prefix() const {
    return "dialog " + Narrow(m_name) + " at " + std::to_string(kBaseDpi * m_scale / 100) + " DPI: ";
  }

  std::vector<Control> Controls() const {
    std::vector<Control> controls;
    for (HWND child = ::GetWindow(m_hwnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      const DWORD style = DWORD(::GetWindowLongPtrW(child, GWL_STYLE));
      if ((style & WS_VISIBLE) == 0) {
        continue;
      }
      Control c;
      c.hwnd = child;
      c.id = int(short(::GetDlgCtrlID(child)));
      c.style = style;
      c.className = ClassOf(child);
      c.kind = KindOf(c.className, style);
      c.text = TextOf(child);
      ::GetWindowRect(child, &c.rect);
      ::MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&c.rect), 2);
      controls.push_back(c);
    }
    return controls;
  }

  // `outer` may overlap `inner`: a group box, frame or tab control that
  // holds it whole (a tab control's page), or an up-down control on its buddy.
  static bool MayOverlap(const Control& outer, const Control& inner) {
    if ((outer.kind == Kind::kGroupBox || outer.kind == Kind::kFrame) && inner.kind != Kind::kGroupBox &&
        Contains(outer.rect, inner.rect)) {
      return true;
    }
    if (Is(outer.className, WC_TABCONTROLW) && !Is(inner.className, WC_TABCONTROLW) &&
        Contains(outer.rect, inner.rect)) {
      return true;
    }
    if (Is(outer.className, UPDOWN_CLASSW)) {
      return reinterpret_cast<HWND>(::SendMessageW(outer.hwnd, UDM_GETBUDDY, 0, 0)) == inner.hwnd;
    }
    return false;
  }

  void CheckText(const Control& c, std::vector<std::string>* faults) const {
    if (c.text.empty() || (c.kind != Kind::kLabel && c.kind != Kind::kPushButton && c.kind != Kind::kCheck &&
                           c.kind != Kind::kGroupBox)) {
      return;
    }
    const bool prefixes = c.kind != Kind::kLabel || (c.style & SS_NOPREFIX) == 0;
    const std::wstring shown = Displayed(c.text, prefixes);
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(c.hwnd, WM_GETFONT, 0, 0));
    HDC dc = ::GetDC(c.hwnd);
    HGDIOBJ old = ::SelectObject(dc, font != nullptr ? font : ::GetStockObject(DEFAULT_GUI_FONT));
    SIZE extent = {};
    ::GetTextExtentPoint32W(dc, shown.c_str(), int(shown.size()), &extent);
    const int width = c.rect.right - c.rect.left;
    const int height = c.rect.bottom - c.rect.top;
    auto px = [&](int pixels) { return (pixels * m_scale + 50) / 100; };
    std::string fault;
    switch (c.kind) {
      case Kind::kLabel: {
        const DWORD type = c.style & SS_TYPEMASK;
        const bool wraps = type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
        if (wraps) {
          RECT need = {0, 0, width, 0};
          ::DrawTextW(dc, shown.c_str(), int(shown.size()), &need,
                      DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
          if (need.right > width || need.bottom > height) {
            fault = "needs " + std::to_string(need.right) + "x" + std::to_string(need.bottom) + " for its text";
          } else if (need.bottom <= extent.cy && extent.cx + px(kSpareTextPixels) > width) {
            fault = "has no room past its text (" + std::to_string(extent.cx) + " of " + std::to_string(width) + ")";
          }
        } else if (extent.cx + px(kSpareTextPixels) > width || extent.cy > height) {
          fault = "needs " + std::to_string(extent.cx) + "x" + std::to_string(extent.cy) + " for its text";
        }
        break;
      }
      case Kind::kPushButton:
        if ((c.style & BS_MULTILINE) == 0 &&
            (extent.cx + 2 * px(kButtonMarginPixels) > width || extent.cy + 2 > height)) {
          fault = "needs " + std::to_string(extent.cx + 2 * px(kButtonMarginPixels)) + "x" +
                  std::to_string(extent.cy + 2) + " for its text";
        }
        break;
      case Kind::kCheck:
        if ((c.style & BS_MULTILINE) == 0 &&
            (extent.cx + px(kCheckGlyphPixels) + px(kSpareTextPixels) > width || extent.cy > height)) {
          fault = "needs " + std::to_string(extent.cx + px(kCheckGlyphPixels) + px(kSpareTextPixels)) + "x" +
                  std::to_string(extent.cy) + " for its glyph and text";
        }
        break;
      case Kind::kGroupBox:
        if (extent.cx + 2 * px(kGroupTextIndentPixels) > width) {
          fault = "needs " + std::to_string(extent.cx + 2 * px(kGroupTextIndentPixels)) + " wide for its caption";
        }
        break;
      default:
        break;
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(c.hwnd, dc);
    if (!fault.empty()) {
      faults->push_back(Prefix() + Name(c) + " is " + std::to_string(width) + "x" + std::to_string(height) +
                        " and " + fault);
    }
  }

  std::wstring m_name;
  std::vector<BYTE> m_template;
  int m_scale;
  HWND m_hwnd = nullptr;
  std::string m_error;
};

class DialogLayout : public ::testing::TestWithParam<int> {};

TEST_P(DialogLayout, EveryTemplateFitsItsControlsAndTexts) {
  const std::vector<DialogId> dialogs = AllDialogs();
  ASSERT_FALSE(dialogs.empty()) << "no dialog template found in the resources";
  bool gotoFound = false;
  for (const DialogId& id : dialogs) {
    gotoFound = gotoFound || id.name == L"250";
  }
  EXPECT_TRUE(gotoFound) << "the enumeration misses the go-to dialog";
  kt_test::CTestHostWindow host;
  for (const DialogId& id : dialogs) {
    CDialogLayout layout(id.name, LoadTemplate(id.resource), GetParam(), host.get());
    for (const std::string& fault : layout.Check()) {
      ADD_FAILURE() << fault;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Dpi, DialogLayout, ::testing::Values(100, 150),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "At" + std::to_string(kBaseDpi * info.param / 100);
                         });

// The check itself: a clipped label, a cramped check box, two controls on
// top of each other and one outside the dialog fail it, each named.
TEST(DialogLayoutCheck, FindsClippedOverlappingAndOutsideControls) {
  kt_test::CDialogTemplateBuilder bad(WS_POPUP | WS_CAPTION, 120, 60, L"bad");
  bad.Add(kt_test::CDialogTemplateBuilder::kStatic, WS_VISIBLE | SS_LEFTNOWORDWRAP, 5, 5, 20, 8, 301,
          L"A label far too long for its place")
      .Add(kt_test::CDialogTemplateBuilder::kButton, WS_VISIBLE | BS_AUTOCHECKBOX, 5, 15, 30, 10, 302,
           L"Checked box")
      .Add(kt_test::CDialogTemplateBuilder::kEdit, WS_VISIBLE | WS_BORDER, 30, 14, 40, 12, 303)
      .Add(kt_test::CDialogTemplateBuilder::kButton, WS_VISIBLE | BS_PUSHBUTTON, 100, 45, 40, 14, 304, L"OK")
      .Add(kt_test::CDialogTemplateBuilder::kButton, WS_VISIBLE | BS_GROUPBOX, 2, 28, 80, 28, 305, L"Group")
      .Add(kt_test::CDialogTemplateBuilder::kButton, WS_VISIBLE | BS_AUTORADIOBUTTON, 8, 38, 60, 10, 306, L"Inside");
  const BYTE* bytes = reinterpret_cast<const BYTE*>(bad.get());
  kt_test::CTestHostWindow host;
  CDialogLayout layout(L"test", std::vector<BYTE>(bytes, bytes + bad.SizeInBytes()), 100, host.get());
  const std::vector<std::string> faults = layout.Check();
  auto reported = [&](const std::string& part) {
    for (const std::string& fault : faults) {
      if (fault.find(part) != std::string::npos) {
        return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(reported("dialog test at 96 DPI: control 301 (Static \"A label far too long for its place\") is"));
  EXPECT_TRUE(reported("control 302 (Button \"Checked box\") is"));
  EXPECT_TRUE(reported("control 302 (Button \"Checked box\") overlaps control 303"));
  EXPECT_TRUE(reported("control 304 (Button \"OK\") reaches outside the client area"));
  EXPECT_FALSE(reported("control 305 (Button \"Group\") overlaps"));  // a group box holds its members
  EXPECT_FALSE(reported("control 306"));
  EXPECT_EQ(4u, faults.size()) << ::testing::PrintToString(faults);
}

// A tab control holds the controls of its page; one that sticks out of it
// still overlaps it.
TEST(DialogLayoutCheck, ATabControlHoldsItsPage) {
  kt_test::CDialogTemplateBuilder dialog(WS_POPUP | WS_CAPTION, 140, 80, L"tabs");
  dialog.Add(kt_test::CDialogTemplateBuilder::kEdit, WS_VISIBLE | WS_BORDER | ES_MULTILINE, 10, 20, 80, 25, 402)
      .Add(kt_test::CDialogTemplateBuilder::kEdit, WS_VISIBLE | WS_BORDER, 90, 50, 30, 12, 403)
      .Add(WC_TABCONTROLW, WS_VISIBLE, 5, 5, 100, 50, 401);
  const BYTE* bytes = reinterpret_cast<const BYTE*>(dialog.get());
  kt_test::CTestHostWindow host;
  CDialogLayout layout(L"tabs", std::vector<BYTE>(bytes, bytes + dialog.SizeInBytes()), 100, host.get());
  const std::vector<std::string> faults = layout.Check();
  ASSERT_EQ(1u, faults.size()) << ::testing::PrintToString(faults);
  EXPECT_NE(std::string::npos, faults[0].find("control 403")) << faults[0];
  EXPECT_NE(std::string::npos, faults[0].find("control 401")) << faults[0];
}

}  // namespace
