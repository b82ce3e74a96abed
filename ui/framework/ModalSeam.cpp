#include "ui/framework/ModalSeam.h"

#include "ui/framework/DialogImpl.h"

namespace ktui {

INT_PTR RunModalDialog(CDialogImplBase& dialog, const CDialogSource& source, HWND parent, LPARAM initParam) {
  return dialog.RunModalWindow(source, parent, initParam);
}

UINT DialogTemplateId(const CDialogSource& source) {
  if (source.memory != nullptr || source.resource == nullptr || !IS_INTRESOURCE(source.resource)) {
    return 0;
  }
  return UINT(reinterpret_cast<ULONG_PTR>(source.resource));
}

}  // namespace ktui

RunModalFn g_runModal = &ktui::RunModalDialog;
GetFileNameFn g_getOpenFileName = &::GetOpenFileNameW;
GetFileNameFn g_getSaveFileName = &::GetSaveFileNameW;
ChooseFontFn g_chooseFont = &::ChooseFontW;
BrowseForFolderFn g_browseForFolder = &::SHBrowseForFolderW;
FindTextFn g_findText = &::FindTextW;
FindTextFn g_replaceText = &::ReplaceTextW;
