// What the statistic dialog sends its owner when the user asks for the
// records of a result row: a private message, sent (not posted) while the
// request is pending.
//   wParam: the request flag, 1 (a tab opened now shows a statistic detail)
//   lParam: const wchar_t*, the filter text; valid only during the call
// The owner's result is ignored. Kept apart from the dialog so that the
// frame can include it without the dialog's headers.
#pragma once

#include <windows.h>

constexpr UINT WM_KT_STATISTIC_REQUEST = WM_APP + 0x100;
