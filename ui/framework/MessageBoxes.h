// The program's message boxes: caption string IDS_APP_CAPTION ("keltracer"),
// text from the string table (formatted printf-style when arguments are
// given) or a text already made, shown through the popup seam (PopupSeam.h)
// so tests record them instead of blocking.
//
//   MessageBoxFromId(m_hWnd, IDS_ADD_TAB_FAILED, MB_ICONERROR);
//   MessageBoxFromId(m_hWnd, IDS_CONNECT_LOST, MB_ICONWARNING, address.c_str());
#pragma once

#include <windows.h>

#include "core/StrUtil.h"

namespace ktui {

// Longest formatted text; longer results are cut.
constexpr size_t kMessageBoxTextChars = 1024;

// Shows `text` with the program's caption; `type` holds the icon
// (MB_ICONERROR for failures, MB_ICONWARNING for warnings) and the buttons.
// The box's answer, 0 when it could not be shown.
int MessageBoxText(HWND owner, const wchar_t* text, UINT type);

// Shows string `textId` as it is (a "%" in it stays).
int MessageBoxFromId(HWND owner, UINT textId, UINT type);

// Shows string `textId` used as the format of `args`.
template <class... Args>
int MessageBoxFromId(HWND owner, UINT textId, UINT type, Args... args) {
  static_assert(sizeof...(Args) > 0);
  wchar_t format[kMessageBoxTextChars] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), textId, format, int(kMessageBoxTextChars));
  wchar_t text[kMessageBoxTextChars] = {};
  StrPrintfW(text, kMessageBoxTextChars, format, args...);
  return MessageBoxText(owner, text, type);
}

}  // namespace ktui
