// The stand-in message library's entry point. It marks the process when it
// runs, so a test can tell that loading the library as data ran none of it.
#include <windows.h>

BOOL WINAPI KtMessageDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    SetEnvironmentVariableW(L"KT_MESSAGE_DLL_RAN", L"1");
  }
  return TRUE;
}
