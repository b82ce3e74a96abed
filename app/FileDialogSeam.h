// The common open and save dialogs go through these pointers, so tests can
// answer them without a person. The program never changes them.
#pragma once

#include <windows.h>
#include <commdlg.h>

using GetFileNameFn = BOOL(WINAPI*)(OPENFILENAMEW* dialog);

extern GetFileNameFn g_getOpenFileName;  // ::GetOpenFileNameW unless a test replaced it
extern GetFileNameFn g_getSaveFileName;  // ::GetSaveFileNameW unless a test replaced it
