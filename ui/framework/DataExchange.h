// Dialog data exchange: a dialog lists its controls and the members they
// show between BEGIN_DDX_MAP and END_DDX_MAP; DoDataExchange(kDdxLoad) loads
// the controls from the members, DoDataExchange(kDdxSave) reads them back,
// and DoDataExchange(kDdxValidate) checks what a save would read without
// writing any member (CStdDialogImpl validates before it saves, so a failed
// OK leaves every member as it was).
//
// Entries:
//   DDX_TEXT(id, member)              CString, or a wchar_t array (text cut to fit, always terminated)
//   DDX_INT(id, member) / DDX_UINT    any integer type, the whole range of the type
//   DDX_INT_RANGE(id, member, lo, hi) an integer within [lo, hi]; outside it is an error
//   DDX_NUMBER_OR_ZERO(id, member)    any integer type, never an error: text that is no number (empty
//                                     text too) reads as 0, a number beyond the type's range as the
//                                     nearer bound; for edits whose value the caller clamps anyway
//   DDX_CHECK(id, member)             check box into int (BST_*) or uint32_t (0 / 1, 2 indeterminate)
//   DDX_RADIO(firstId, member)        index of the checked button of the radio group that starts at
//                                     firstId (its buttons follow in tab order up to the next WS_GROUP)
//   DDX_COMBO_INDEX(id, member)       a combo box's selection index (-1 none; none is an error for
//                                     unsigned members)
//   DDX_CONTROL(id, member)           on load, binds a control object to the control: a framework
//                                     window class is subclassed (SubclassWindow), a CWindow attached
//
// Reading stops at the first control that does not hold a valid value (a
// number that does not parse or lies outside its range, a radio group or
// combo box without a selection for an unsigned member, a missing control):
// T::OnDataExchangeError(id, save) runs, DoDataExchange returns FALSE, and
// that member and all later ones keep their values. The default error hook
// beeps and puts the focus on the control.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <type_traits>

#include "core/RefString.h"

namespace ktui {
// Strict decimal parsing for the exchange: optional blanks around, an
// optional sign ('-' only for signed ranges), at least one digit, nothing
// else, and the value within [minimum, maximum].
bool ParseSignedNumber(const wchar_t* text, int64_t minimum, int64_t maximum, int64_t* value);
bool ParseUnsignedNumber(const wchar_t* text, uint64_t maximum, uint64_t* value);
// The same syntax read leniently: a number beyond [minimum, maximum] gives
// the nearer bound, text that is no number gives 0 held within them.
int64_t ReadSignedOrZero(const wchar_t* text, int64_t minimum, int64_t maximum);
uint64_t ReadUnsignedOrZero(const wchar_t* text, uint64_t maximum);

// Gives an up-down control the full 32-bit range [lo, hi] (UDM_SETRANGE32:
// the 16-bit UDM_SETRANGE cannot reach past 32767) and makes it write its
// buddy's number without thousands separators (UDS_NOTHOUSANDS), so the text
// it writes reads back as a number. False for a null control.
bool SetUpDownRange(HWND upDown, int lo, int hi);
}  // namespace ktui

// What DoDataExchange is asked to do.
constexpr BOOL kDdxLoad = FALSE;
constexpr BOOL kDdxSave = TRUE;
constexpr BOOL kDdxValidate = 2;

template <class T>
class CWinDataExchange {
 public:
  void OnDataExchangeError(UINT id, BOOL save) {
    (void)save;
    ::MessageBeep(MB_ICONEXCLAMATION);
    HWND control = ::GetDlgItem(Window(), int(id));
    if (control != nullptr) {
      ::SetFocus(control);
    }
  }

  BOOL DdxText(UINT id, CString& value, BOOL save) {
    HWND control = ::GetDlgItem(Window(), int(id));
    if (control == nullptr) {
      return Fail(id, save);
    }
    if (!save) {
      ::SetWindowTextW(control, value.c_str());
      return TRUE;
    }
    CString text;
    if (!ReadText(control, text)) {
      return Fail(id, save);
    }
    if (save != kDdxValidate) {
      value = text;
    }
    return TRUE;
  }

  // A fixed buffer: text longer than it is cut to N - 1 characters, both
  // ways, and the buffer is always terminated.
  template <size_t N>
  BOOL DdxText(UINT id, wchar_t (&value)[N], BOOL save) {
    static_assert(N > 0, "a buffer needs room for the terminator");
    HWND control = ::GetDlgItem(Window(), int(id));
    if (control == nullptr) {
      return Fail(id, save);
    }
    if (!save) {
      wchar_t shown[N];
      size_t length = 0;
      while (length + 1 < N && value[length] != 0) {
        shown[length] = value[length];
        ++length;
      }
      shown[length] = 0;
      ::SetWindowTextW(control, shown);
      return TRUE;
    }
    if (save != kDdxValidate) {
      value[0] = 0;
      ::GetWindowTextW(control, value, int(N));
      value[N - 1] = 0;
    }
    return TRUE;
  }

  template <class N>
  BOOL DdxNumber(UINT id, N& value, BOOL save) {
    static_assert(std::is_integral_v<N>, "numbers only");
    return DdxNumberRange(id, value, std::numeric_limits<N>::min(), std::numeric_limits<N>::max(), save);
  }

  // A number within [lo, hi]: outside it is an error on save. On load the
  // member's value is shown as it is.
  template <class N>
  BOOL DdxNumberRange(UINT id, N& value, N lo, N hi, BOOL save) {
    static_assert(std::is_integral_v<N>, "numbers only");
    return DdxNumberText(id, value, save, [lo, hi](const wchar_t* text, N* read) {
      if constexpr (std::is_signed_v<N>) {
        int64_t parsed = 0;
        if (!ktui::ParseSignedNumber(text, int64_t(lo), int64_t(hi), &parsed)) {
          return false;
        }
        *read = static_cast<N>(parsed);
      } else {
        uint64_t parsed = 0;
        if (!ktui::ParseUnsignedNumber(text, uint64_t(hi), &parsed) || parsed < uint64_t(lo)) {
          return false;
        }
        *read = static_cast<N>(parsed);
      }
      return true;
    });
  }

  // A number that is never an error on save (DDX_NUMBER_OR_ZERO).
  template <class N>
  BOOL DdxNumberOrZero(UINT id, N& value, BOOL save) {
    static_assert(std::is_integral_v<N>, "numbers only");
    return DdxNumberText(id, value, save, [](const wchar_t* text, N* read) {
      if constexpr (std::is_signed_v<N>) {
        *read = static_cast<N>(ktui::ReadSignedOrZero(text, int64_t(std::numeric_limits<N>::min()),
                                                      int64_t(std::numeric_limits<N>::max())));
      } else {
        *read = static_cast<N>(ktui::ReadUnsignedOrZero(text, uint64_t(std::numeric_limits<N>::max())));
      }
      return true;
    });
  }

  // Check boxes: a value outside unchecked, checked and indeterminate loads
  // as unchecked.
  BOOL DdxCheck(UINT id, int& value, BOOL save) {
    HWND control = ::GetDlgItem(Window(), int(id));
    if (control == nullptr) {
      return Fail(id, save);
    }
    if (!save) {
      const int state = value >= BST_UNCHECKED && value <= BST_INDETERMINATE ? value : BST_UNCHECKED;
      ::SendMessageW(control, BM_SETCHECK, WPARAM(state), 0);
      return TRUE;
    }
    if (save != kDdxValidate) {
      value = int(::SendMessageW(control, BM_GETCHECK, 0, 0));
    }
    return TRUE;
  }

  // A u32 flag: 0 unchecked, 2 indeterminate, any other value checked; read
  // back as 0, 1 or 2.
  BOOL DdxCheck(UINT id, uint32_t& value, BOOL save) {
    int state = value == 0 ? BST_UNCHECKED : value == BST_INDETERMINATE ? BST_INDETERMINATE : BST_CHECKED;
    if (!DdxCheck(id, state, save)) {
      return FALSE;
    }
    if (save && save != kDdxValidate) {
      value = uint32_t(state);
    }
    return TRUE;
  }

  // The radio group that starts at `firstId`: load checks button `value`
  // (none for a value outside the group), save gives the index of the
  // checked one (-1 for none; none is an error for unsigned members).
  template <class N>
  BOOL DdxRadio(UINT firstId, N& value, BOOL save) {
    static_assert(std::is_integral_v<N>, "an index");
    HWND first = ::GetDlgItem(Window(), int(firstId));
    if (first == nullptr) {
      return Fail(firstId, save);
    }
    int checked = -1;
    int index = 0;
    for (HWND button = first; button != nullptr; ++index) {
      if (!save) {
        const bool on = AsIndex(value) == index;
        ::SendMessageW(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
      } else if (checked < 0 && ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        checked = index;
      }
      button = ::GetWindow(button, GW_HWNDNEXT);
      if (button != nullptr && !IsRadioOfGroup(button)) {
        break;
      }
    }
    if (!save) {
      return TRUE;
    }
    if (checked < 0 && std::is_unsigned_v<N>) {
      return Fail(firstId, save);
    }
    if (save != kDdxValidate) {
      value = static_cast<N>(checked);
    }
    return TRUE;
  }

  // A combo box's selection: load selects entry `value` (none when it is
  // outside the list), save gives the selected index (-1 for none; none is
  // an error for unsigned members).
  template <class N>
  BOOL DdxComboIndex(UINT id, N& value, BOOL save) {
    static_assert(std::is_integral_v<N>, "an index");
    HWND control = ::GetDlgItem(Window(), int(id));
    if (control == nullptr) {
      return Fail(id, save);
    }
    if (!save) {
      const LRESULT count = ::SendMessageW(control, CB_GETCOUNT, 0, 0);
      const bool inside = AsIndex(value) >= 0 && AsIndex(value) < static_cast<long long>(count);
      ::SendMessageW(control, CB_SETCURSEL, inside ? WPARAM(value) : WPARAM(-1), 0);
      return TRUE;
    }
    const LRESULT selected = ::SendMessageW(control, CB_GETCURSEL, 0, 0);
    if (selected < 0 && std::is_unsigned_v<N>) {
      return Fail(id, save);
    }
    if (save != kDdxValidate) {
      value = static_cast<N>(selected < 0 ? -1 : selected);
    }
    return TRUE;
  }

  // Binds `control` to the dialog's control `id` on load, once: classes of
  // the framework are subclassed, plain CWindow views attached. Save does
  // nothing.
  template <class C>
  BOOL DdxControl(UINT id, C& control, BOOL save) {
    if (save || control.m_hWnd != nullptr) {
      return TRUE;
    }
    HWND child = ::GetDlgItem(Window(), int(id));
    if (child == nullptr) {
      return Fail(id, save);
    }
    if constexpr (requires { control.SubclassWindow(child); }) {
      if (!control.SubclassWindow(child)) {
        return Fail(id, save);
      }
    } else {
      control.Attach(child);
    }
    return TRUE;
  }

 private:
  HWND Window() const { return static_cast<const T*>(this)->m_hWnd; }

  // The shape of the number entries: load shows the member's value, save
  // reads the control's text with `read` (bool(const wchar_t*, N*)), whose
  // false is an error.
  template <class N, class Read>
  BOOL DdxNumberText(UINT id, N& value, BOOL save, Read read) {
    HWND control = ::GetDlgItem(Window(), int(id));
    if (control == nullptr) {
      return Fail(id, save);
    }
    if (!save) {
      wchar_t text[32];
      if constexpr (std::is_signed_v<N>) {
        _snwprintf(text, 32, L"%I64d", static_cast<long long>(value));
      } else {
        _snwprintf(text, 32, L"%I64u", static_cast<unsigned long long>(value));
      }
      text[31] = 0;
      ::SetWindowTextW(control, text);
      return TRUE;
    }
    CString text;
    N parsed = 0;
    if (!ReadText(control, text) || !read(text.c_str(), &parsed)) {
      return Fail(id, save);
    }
    if (save != kDdxValidate) {
      value = parsed;
    }
    return TRUE;
  }

  // -1 for a value no list index can have.
  template <class N>
  static long long AsIndex(N value) {
    if constexpr (std::is_signed_v<N>) {
      return value < 0 ? -1 : static_cast<long long>(value);
    } else {
      return value > N(INT_MAX) ? -1 : static_cast<long long>(value);
    }
  }

  // A later member of a radio group: a radio button that starts no group.
  static bool IsRadioOfGroup(HWND button) {
    const LONG_PTR style = ::GetWindowLongPtrW(button, GWL_STYLE);
    const LONG_PTR type = style & BS_TYPEMASK;
    return (style & WS_GROUP) == 0 && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON);
  }

  BOOL Fail(UINT id, BOOL save) {
    static_cast<T*>(this)->OnDataExchangeError(id, save);
    return FALSE;
  }

  static bool ReadText(HWND control, CString& text) {
    const int length = ::GetWindowTextLengthW(control);
    if (length <= 0) {
      text.Empty();
      return true;
    }
    wchar_t* buffer = text.GetBuffer(size_t(length));
    if (buffer == nullptr) {
      return false;
    }
    const int copied = ::GetWindowTextW(control, buffer, length + 1);
    text.ReleaseBuffer(copied > 0 ? copied : 0);
    return true;
  }
};

#define BEGIN_DDX_MAP(theClass)                                           \
 public:                                                                  \
  BOOL DoDataExchange(BOOL saveAndValidate = FALSE, UINT onlyId = UINT(-1)) { \
    (void)saveAndValidate;                                                \
    (void)onlyId;

#define KT_DDX_ENTRY_(id, call)                        \
  if (onlyId == UINT(-1) || onlyId == UINT(id)) {      \
    if (!(call)) {                                     \
      return FALSE;                                    \
    }                                                  \
  }

#define DDX_TEXT(id, member) KT_DDX_ENTRY_(id, this->DdxText(UINT(id), member, saveAndValidate))
#define DDX_INT(id, member) KT_DDX_ENTRY_(id, this->DdxNumber(UINT(id), member, saveAndValidate))
#define DDX_UINT(id, member) KT_DDX_ENTRY_(id, this->DdxNumber(UINT(id), member, saveAndValidate))
#define DDX_INT_RANGE(id, member, lo, hi)                                                          \
  KT_DDX_ENTRY_(id, this->DdxNumberRange(UINT(id), member, static_cast<std::remove_reference_t<decltype(member)>>(lo), \
                                         static_cast<std::remove_reference_t<decltype(member)>>(hi), saveAndValidate))
#define DDX_NUMBER_OR_ZERO(id, member) KT_DDX_ENTRY_(id, this->DdxNumberOrZero(UINT(id), member, saveAndValidate))
#define DDX_CHECK(id, member) KT_DDX_ENTRY_(id, this->DdxCheck(UINT(id), member, saveAndValidate))
#define DDX_RADIO(firstId, member) KT_DDX_ENTRY_(firstId, this->DdxRadio(UINT(firstId), member, saveAndValidate))
#define DDX_COMBO_INDEX(id, member) KT_DDX_ENTRY_(id, this->DdxComboIndex(UINT(id), member, saveAndValidate))
#define DDX_CONTROL(id, member) KT_DDX_ENTRY_(id, this->DdxControl(UINT(id), member, saveAndValidate))

#define END_DDX_MAP() \
  return TRUE;        \
  }
