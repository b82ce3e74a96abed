// The wait cursor for one scope: shown at construction, the old cursor
// back at the end.
#pragma once

#include <windows.h>

class CWaitCursor {
 public:
  CWaitCursor() : m_previous(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
  ~CWaitCursor() { ::SetCursor(m_previous); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

 private:
  HCURSOR m_previous;
};
