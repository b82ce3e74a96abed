#include "ui/dialogs/FindDialog.h"

#include <new>

DWORD FindDialogFlags(bool searchDown, bool matchCase) {
  DWORD flags = FR_HIDEWHOLEWORD;
  if (searchDown) {
    flags |= FR_DOWN;
  }
  if (matchCase) {
    flags |= FR_MATCHCASE;
  }
  return flags;
}

CFindDialog* CFindDialog::Open(HWND frame, CFindDialog** slot, const wchar_t* text, bool searchDown, bool matchCase) {
  if (slot == nullptr) {
    return nullptr;
  }
  if (*slot != nullptr) {
    return *slot;
  }
  auto* dialog = new (std::nothrow) CFindDialog;
  if (dialog == nullptr) {
    return nullptr;
  }
  if (dialog->Create(TRUE, text, nullptr, FindDialogFlags(searchDown, matchCase), frame, slot) == nullptr) {
    delete dialog;
    return nullptr;
  }
  dialog->ShowWindow(SW_SHOW);
  return dialog;
}
