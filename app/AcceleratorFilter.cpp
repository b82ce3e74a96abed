#include "app/AcceleratorFilter.h"

namespace {
constexpr SHORT kKeyDown = SHORT(0x8000);  // GetKeyState: the key is held
}  // namespace

bool IsEditingKey(UINT virtualKey, bool ctrl, bool shift, bool alt) {
  if (alt) {
    return false;
  }
  if (ctrl && !shift) {
    switch (virtualKey) {
      case 'A':
      case 'C':
      case 'V':
      case 'X':
      case 'Y':
      case 'Z':
      case VK_INSERT:
      case VK_BACK:
        return true;
      default:
        return false;
    }
  }
  return shift && !ctrl && (virtualKey == VK_INSERT || virtualKey == VK_DELETE);
}

bool IsEditWindow(HWND window) {
  return window != nullptr && (::SendMessageW(window, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0;
}

bool KeyBelongsToEdit(const MSG& msg) {
  if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) {
    return false;
  }
  const bool ctrl = (::GetKeyState(VK_CONTROL) & kKeyDown) != 0;
  const bool shift = (::GetKeyState(VK_SHIFT) & kKeyDown) != 0;
  const bool alt = (::GetKeyState(VK_MENU) & kKeyDown) != 0;
  return IsEditingKey(UINT(msg.wParam), ctrl, shift, alt) && IsEditWindow(msg.hwnd);
}
