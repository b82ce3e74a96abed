// Owners of the file handles the readers and writers open: each closes what
// it holds when it goes, can be moved and not copied, and hands the raw
// handle out only through get().
#pragma once

#include <windows.h>

#include <utility>

// A file handle; INVALID_HANDLE_VALUE and null both mean none.
class CFileHandle {
 public:
  CFileHandle() = default;
  explicit CFileHandle(HANDLE handle) : m_handle(handle) {}
  CFileHandle(const CFileHandle&) = delete;
  CFileHandle& operator=(const CFileHandle&) = delete;
  CFileHandle(CFileHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
  CFileHandle& operator=(CFileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
  }
  ~CFileHandle() { Close(); }

  bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return m_handle; }
  // 1 when the handle was closed without error (or there was none).
  int Close() {
    const BOOL closed = valid() ? CloseHandle(m_handle) : TRUE;
    m_handle = nullptr;
    return closed ? 1 : 0;
  }

 private:
  HANDLE m_handle = nullptr;
};

// A read-only view of a whole file mapping.
class CMappedView {
 public:
  CMappedView() = default;
  CMappedView(const CMappedView&) = delete;
  CMappedView& operator=(const CMappedView&) = delete;
  ~CMappedView() { Unmap(); }

  // Maps `file` read-only; 1, or 0 with nothing held.
  int MapReadOnly(HANDLE file) {
    Unmap();
    CFileHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.valid()) {
      return 0;
    }
    m_view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    // The view keeps the mapping object alive after its handle is closed.
    return m_view != nullptr ? 1 : 0;
  }
  void Unmap() {
    if (m_view != nullptr) {
      UnmapViewOfFile(m_view);
      m_view = nullptr;
    }
  }
  const void* get() const { return m_view; }

 private:
  void* m_view = nullptr;
};
