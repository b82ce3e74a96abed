#include "formats/SourceFile.h"

#include <windows.h>

#include "core/SysUtil.h"
#include "core/TraceStore.h"

int CSourceFile::Open(CTraceMgr* store, uint32_t minimumSize, const char* caller) {
  m_view.Unmap();
  m_file.Close();
  m_size = 0;
  if (store == nullptr || store->m_filePath.IsEmpty()) {
    return 0;
  }
  CFileHandle file(CreateFileW(store->m_filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    return 0;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < LONGLONG(minimumSize) ||
      uint64_t(size.QuadPart) > kMaxSourceFileSize) {
    return 0;
  }
  const uint32_t bytes = uint32_t(size.QuadPart);
  if (!store->GrowBuffer(bytes)) {
    return 0;
  }
  if (!m_view.MapReadOnly(file.get())) {
    DebugTraceA("%s, map, %lu", caller, GetLastError());
    return 0;
  }
  m_file = std::move(file);
  m_size = bytes;
  return 1;
}
