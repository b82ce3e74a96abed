#include "formats/SourceFile.h"

#include <windows.h>

#include "core/SysUtil.h"
#include "core/TraceStore.h"

int CSourceFile::OpenForReading(CTraceMgr* store, uint32_t minimumSize) {
  m_view.reset();
  m_file.Close();
  m_size = 0;
  if (store == nullptr || store->m_filePath.IsEmpty()) {
    return 0;
  }
  CHandle file(CreateFileW(store->m_filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) {
    return 0;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < LONGLONG(minimumSize) ||
      uint64_t(size.QuadPart) > kMaxSourceFileSize) {
    return 0;
  }
  m_file = std::move(file);
  m_size = uint32_t(size.QuadPart);
  return 1;
}

int CSourceFile::Reserve(CTraceMgr* store) const { return m_file.valid() && store->GrowBuffer(m_size) ? 1 : 0; }

int CSourceFile::Map(CTraceMgr* store, const char* caller) {
  if (!Reserve(store)) {
    return 0;
  }
  if (!m_view.MapReadOnly(m_file.get())) {
    DebugTraceA("%s, map, %lu", caller, GetLastError());
    return 0;
  }
  return 1;
}
