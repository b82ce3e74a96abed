#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/Run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t* commandLine, int show) {
  ::CoInitialize(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
  ::InitCommonControlsEx(&controls);
  const int result = Run(commandLine, show);
  ::CoUninitialize();
  return result;
}
