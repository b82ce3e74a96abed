// One readable page followed by one that may not be touched: bytes placed
// flush against End() fault on any read past their end.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

class CGuardPage {
 public:
  CGuardPage() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    m_page = info.dwPageSize;
    m_base = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * m_page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (m_base != nullptr && !VirtualProtect(m_base + m_page, m_page, PAGE_NOACCESS, &old)) {
      VirtualFree(m_base, 0, MEM_RELEASE);
      m_base = nullptr;
    }
  }
  ~CGuardPage() {
    if (m_base != nullptr) VirtualFree(m_base, 0, MEM_RELEASE);
  }
  CGuardPage(const CGuardPage&) = delete;
  CGuardPage& operator=(const CGuardPage&) = delete;

  bool Ready() const { return m_base != nullptr; }
  // The readable page and the first byte of the guarded one.
  uint8_t* Begin() const { return m_base; }
  uint8_t* End() const { return m_base + m_page; }

 private:
  size_t m_page = 0;
  uint8_t* m_base = nullptr;
};
