// Files written byte for byte for the text readers' tests, and the records a
// store holds after a load.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"

// Writes `bytes` as the whole file; true on success.
inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

inline std::vector<const TraceRecord*> StoredRecords(const CTraceMgr& store) {
  std::vector<const TraceRecord*> out;
  if (store.Buffer() != nullptr) {
    CTraceRingWalker walker(store.Buffer());
    for (const TraceRecord* r = walker.Next(); r != nullptr; r = walker.Next()) {
      out.push_back(r);
    }
  }
  return out;
}

// Records counted in the all-processes statistics entry.
inline uint64_t CountedRecords(const CTraceMgr& store) {
  return store.m_processStats.count != 0 ? store.m_processStats[0]->m_count : 0;
}
