// Dialog data exchange: a dialog lists its controls and the members they
// show between BEGIN_DDX_MAP and END_DDX_MAP; DoDataExchange(FALSE) loads
// the controls from the members, DoDataExchange(TRUE) reads them back.
//
// Reading stops at the first control that does not hold a valid value (a
// number that does not parse or does not fit the member's type, text that
// does not fit a fixed buffer): T::OnDataExchangeError(id, save) runs,
// DoDataExchange returns FALSE, and that member and all later ones keep
// their values. The default error hook beeps and puts the focus on the control.
#pragma once

#include <windows.h>

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
}  // namespace ktui

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
    value = text;
    return TRUE;
  }

  template <size_t N>
  BOOL DdxText(UINT id, wchar_t (&value)[N], BOOL save) {
    HWND control = ::GetDlgItem(Window(), int(id));
    if (control == nullptr) {
      return Fail(id, save);
    }
    if (!save) {
      ::SetWindowTextW(control, value);
      return TRUE;
    }
    if (size_t(::GetWindowTextLengthW(control)) >= N) {
      return Fail(id, save);
    }
    value[0] = 0;
    ::GetWindowTextW(control, value, int(N));
    return TRUE;
  }

  template <class N>
  BOOL DdxNumber(UINT id, N& value, BOOL save) {
    static_assert(std::is_integral_v<N>, "numbers only");
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
    if (!ReadText(control, text)) {
      return Fail(id, save);
    }
    if constexpr (std::is_signed_v<N>) {
      int64_t parsed = 0;
      if (!ktui::ParseSignedNumber(text.c_str(), std::numeric_limits<N>::min(), std::numeric_limits<N>::max(),
                                   &parsed)) {
        return Fail(id, save);
      }
      value = static_cast<N>(parsed);
    } else {
      uint64_t parsed = 0;
      if (!ktui::ParseUnsignedNumber(text.c_str(), std::numeric_limits<N>::max(), &parsed)) {
        return Fail(id, save);
      }
      value = static_cast<N>(parsed);
    }
    return TRUE;
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
    value = int(::SendMessageW(control, BM_GETCHECK, 0, 0));
    return TRUE;
  }

 private:
  HWND Window() const { return static_cast<const T*>(this)->m_hWnd; }

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
#define DDX_CHECK(id, member) KT_DDX_ENTRY_(id, this->DdxCheck(UINT(id), member, saveAndValidate))

#define END_DDX_MAP() \
  return TRUE;        \
  }
