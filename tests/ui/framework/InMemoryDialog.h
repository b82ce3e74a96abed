// Dialogs of the framework tests built from a template in memory.
#pragma once

#include <windows.h>

#include "ui/framework/DialogImpl.h"

namespace kt_test {

inline CDialogSource InMemory(const DLGTEMPLATE* memory) {
  CDialogSource source;
  source.instance = ::GetModuleHandleW(nullptr);
  source.memory = memory;
  return source;
}

}  // namespace kt_test
