// Files written byte for byte for the text readers' tests, a fresh store
// per test, and the records a store holds after a load.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"

#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/core/TempFolder.h"

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

// A temp folder, a module-group table and an empty file store for each test;
// the table and the block words are cleared again afterwards.
class TextStoreTest : public testing::Test {
 protected:
  explicit TextStoreTest(const char* groupsText) : m_groupsText(groupsText) {}
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromText(m_groupsText, std::strlen(m_groupsText)));
    g_blockWords.Clear();
    ASSERT_TRUE(folder.valid());
    store = new CTraceFile;
  }
  void TearDown() override {
    store->Release();
    g_moduleGroups.Clear();
    g_blockWords.Clear();
  }

  TempFolder folder;
  CTraceFile* store = nullptr;

 private:
  const char* m_groupsText;
};
