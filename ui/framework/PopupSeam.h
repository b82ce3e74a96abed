// Modal popups go through these pointers instead of the API, so that tests
// can answer them without a person and without blocking. The program never
// changes them; tests put recorders in and restore the API afterwards.
#pragma once

#include <windows.h>

using TrackPopupMenuFn = BOOL(WINAPI*)(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                                       const RECT* excluded);
using MessageBoxFn = int(WINAPI*)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

extern TrackPopupMenuFn g_trackPopupMenu;  // ::TrackPopupMenu unless a test replaced it
extern MessageBoxFn g_messageBox;          // ::MessageBoxW unless a test replaced it
