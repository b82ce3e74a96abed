#include "app/FileDialogSeam.h"

GetFileNameFn g_getOpenFileName = ::GetOpenFileNameW;
GetFileNameFn g_getSaveFileName = ::GetSaveFileNameW;
