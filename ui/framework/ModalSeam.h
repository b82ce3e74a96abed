// Modal dialogs and the common dialogs go through these pointers instead of
// the API, like the popups of PopupSeam.h, so that tests can answer them
// without a person and without a window blocking. The program never changes
// them; tests put recorders in (tests/ui/UiHarness.h: CModalRecorder) and
// restore the defaults afterwards.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include "ui/framework/PopupSeam.h"

class CDialogImplBase;
struct CDialogSource;

// Runs `dialog` modally from `source` over `parent`; what EndDialog was
// given, -1 when the dialog cannot be made.
using RunModalFn = INT_PTR (*)(CDialogImplBase& dialog, const CDialogSource& source, HWND parent,
                               LPARAM initParam);
using GetFileNameFn = BOOL(WINAPI*)(OPENFILENAMEW* request);
using ChooseFontFn = BOOL(WINAPI*)(CHOOSEFONTW* request);
using BrowseForFolderFn = PIDLIST_ABSOLUTE(WINAPI*)(BROWSEINFOW* request);
using FindTextFn = HWND(WINAPI*)(FINDREPLACEW* request);

namespace ktui {
// The dialog manager's modal loop (DialogBoxParamW / DialogBoxIndirectParamW).
INT_PTR RunModalDialog(CDialogImplBase& dialog, const CDialogSource& source, HWND parent, LPARAM initParam);
// The resource id of a dialog's template, 0 for a template in memory or by name.
UINT DialogTemplateId(const CDialogSource& source);
}  // namespace ktui

extern RunModalFn g_runModal;                 // ktui::RunModalDialog unless a test replaced it
extern GetFileNameFn g_getOpenFileName;       // ::GetOpenFileNameW
extern GetFileNameFn g_getSaveFileName;       // ::GetSaveFileNameW
extern ChooseFontFn g_chooseFont;             // ::ChooseFontW
extern BrowseForFolderFn g_browseForFolder;   // ::SHBrowseForFolderW
// Modeless, they return at once: tests may leave these as they are.
extern FindTextFn g_findText;                 // ::FindTextW
extern FindTextFn g_replaceText;              // ::ReplaceTextW
