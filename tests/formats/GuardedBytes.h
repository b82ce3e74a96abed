// A copy of bytes whose last byte is the last readable one: the pages hold
// the bytes read-only and a no-access page follows, so reading past the end
// or writing into an image that must stay untouched crashes the test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

class CGuardedBytes {
 public:
  explicit CGuardedBytes(const std::vector<uint8_t>& bytes) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    m_data = (bytes.size() + page - 1) / page * page;
    if (m_data == 0) {
      m_data = page;
    }
    m_base = static_cast<uint8_t*>(VirtualAlloc(nullptr, m_data + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (m_base == nullptr) {
      return;
    }
    m_at = m_base + m_data - bytes.size();
    if (!bytes.empty()) {
      std::memcpy(m_at, bytes.data(), bytes.size());
    }
    DWORD old;
    m_ready = VirtualProtect(m_base, m_data, PAGE_READONLY, &old) &&
              VirtualProtect(m_base + m_data, page, PAGE_NOACCESS, &old);
  }
  ~CGuardedBytes() {
    if (m_base != nullptr) {
      VirtualFree(m_base, 0, MEM_RELEASE);
    }
  }
  bool Ready() const { return m_ready; }
  const uint8_t* Data() const { return m_at; }

 private:
  uint8_t* m_base = nullptr;
  uint8_t* m_at = nullptr;
  size_t m_data = 0;
  bool m_ready = false;
};
