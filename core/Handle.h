// Owners of kernel handles and of mapped views. Each closes what it holds
// when it goes, can be moved and not copied, and hands the raw value out only
// through get() (or gives it up with release()).
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

// One kernel handle: file, mapping, event, mutex, semaphore, timer, thread,
// process or token. Null and INVALID_HANDLE_VALUE both mean none, since the
// system returns either for a failed open depending on the call.
class CHandle {
 public:
  CHandle() = default;
  explicit CHandle(HANDLE handle) : m_handle(handle) {}
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  CHandle(CHandle&& other) noexcept : m_handle(other.release()) {}
  CHandle& operator=(CHandle&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~CHandle() { Close(); }

  bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
  // The handle, still owned here; null or INVALID_HANDLE_VALUE when none.
  HANDLE get() const { return m_handle; }
  // Gives the handle up to the caller, who closes it; the owner is empty.
  HANDLE release() { return std::exchange(m_handle, nullptr); }
  // Closes what is held and takes `handle` instead.
  void reset(HANDLE handle = nullptr) {
    if (handle != m_handle) {
      Close();
      m_handle = handle;
    }
  }
  // Closes what is held. 1 when that succeeded or nothing was held: a file
  // writer checks it, since a close can report a write the system deferred.
  int Close() {
    const BOOL closed = valid() ? CloseHandle(m_handle) : TRUE;
    m_handle = nullptr;
    return closed ? 1 : 0;
  }

 private:
  HANDLE m_handle = nullptr;
};

// One view of a file mapping (MapViewOfFile); null means none. The view keeps
// its mapping object alive, so the mapping's handle may be closed first.
class CMappedView {
 public:
  CMappedView() = default;
  explicit CMappedView(void* view) : m_view(view) {}
  CMappedView(const CMappedView&) = delete;
  CMappedView& operator=(const CMappedView&) = delete;
  CMappedView(CMappedView&& other) noexcept : m_view(other.release()) {}
  CMappedView& operator=(CMappedView&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~CMappedView() { reset(); }

  bool valid() const { return m_view != nullptr; }
  void* get() const { return m_view; }
  uint8_t* bytes() const { return static_cast<uint8_t*>(m_view); }
  void* release() { return std::exchange(m_view, nullptr); }
  // Unmaps what is held and takes `view` instead.
  void reset(void* view = nullptr) {
    if (view != m_view) {
      if (m_view != nullptr) {
        UnmapViewOfFile(m_view);
      }
      m_view = view;
    }
  }

  // Maps the whole of `file` read-only; 1, or 0 with nothing held.
  int MapReadOnly(HANDLE file) {
    reset();
    const CHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.valid()) {
      return 0;
    }
    reset(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    return valid() ? 1 : 0;
  }

 private:
  void* m_view = nullptr;
};
