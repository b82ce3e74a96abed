#include "ui/framework/MessageBoxes.h"

#include "core/RefString.h"
#include "resource.h"
#include "ui/framework/PopupSeam.h"

namespace ktui {

int MessageBoxText(HWND owner, const wchar_t* text, UINT type) {
  CString caption;
  caption.LoadString(::GetModuleHandleW(nullptr), IDS_APP_CAPTION);
  return g_messageBox(owner, text != nullptr ? text : L"", caption.c_str(), type);
}

int MessageBoxFromId(HWND owner, UINT textId, UINT type) {
  CString text;
  text.LoadString(::GetModuleHandleW(nullptr), textId);
  return MessageBoxText(owner, text.c_str(), type);
}

}  // namespace ktui
