#include "ui/framework/MessageMap.h"

#include <commctrl.h>

#include <cstdio>

namespace ktui {

void ReportHandlerException(const char* className, UINT msg) {
  char line[256];
  _snprintf(line, sizeof(line), "Orvan, %s::ProcessWindowMessage, message 0x%04X, exception", className, msg);
  line[sizeof(line) - 1] = 0;
  OutputDebugStringA(line);
}

bool ReflectNotification(HWND parent, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  HWND child = nullptr;
  if (msg == WM_DRAWITEM && lParam != 0) {
    const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (draw->CtlType != ODT_MENU) {
      child = draw->hwndItem;
    }
  } else if (msg == WM_MEASUREITEM && lParam != 0) {
    const auto* measure = reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam);
    if (measure->CtlType != ODT_MENU) {
      child = ::GetDlgItem(parent, int(measure->CtlID));
    }
  } else if (msg == WM_NOTIFY && lParam != 0) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->code == UINT(NM_CUSTOMDRAW) && header->hwndFrom != nullptr &&
        ::GetParent(header->hwndFrom) == parent) {
      child = header->hwndFrom;
    }
  }
  if (child == nullptr || !::IsWindow(child)) {
    return false;
  }
  *result = ::SendMessageW(child, OCM_BASE + msg, wParam, lParam);
  return true;
}

}  // namespace ktui
