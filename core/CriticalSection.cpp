#include "core/CriticalSection.h"

namespace {

constexpr DWORD kSpinCount = 4000;

using SpinInitFn = BOOL(WINAPI*)(LPCRITICAL_SECTION, DWORD);

SpinInitFn LookUpSpinInit() {
  HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
  if (!kernel) return nullptr;
  FARPROC proc = GetProcAddress(kernel, "InitializeCriticalSectionAndSpinCount");
  return reinterpret_cast<SpinInitFn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

void InitCriticalSectionSpin(CRITICAL_SECTION* section) {
  if (!section) return;
  static const SpinInitFn spinInit = LookUpSpinInit();
  if (spinInit && spinInit(section, kSpinCount)) return;
  InitializeCriticalSection(section);
}
