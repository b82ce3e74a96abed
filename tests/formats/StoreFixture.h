// Stores filled through the record builder, and whole-file reads and writes,
// for the tests of the writers and the open dispatch.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/TextFixture.h"

namespace storefix {

using Bytes = std::vector<uint8_t>;

// Two named groups and the catch-all.
constexpr char kGroupsText[] = "[CORE]\nM=app.exe;mod.dll\n[NET]\nM=net.dll\n[UI]\nM=ui.dll\n";
// 2023-11-14 22:13:20 UTC.
constexpr uint32_t kTime = 1700000000;

struct Item {
  const wchar_t* module = L"mod.dll";
  const wchar_t* hint = L"";
  std::wstring message = L"hello";
  const wchar_t* subName = L"";
  uint32_t level = kLevelInfo;
  uint32_t pid = 100;
  uint32_t tid = 200;
  uint32_t time = kTime;
  uint16_t milliseconds = 0;
  uint64_t stamp = 0;  // 0: none
};

// Builds the record into the store and counts it, as a reader would.
inline TraceRecord* Add(CTraceMgr& store, const Item& item) {
  const uint32_t stamp[2] = {uint32_t(item.stamp), uint32_t(item.stamp >> 32)};
  TraceRecord* record = CTraceMgr::AddTraceItem(
      &store, g_moduleGroups.FindEnabled(item.module, 0), item.level, item.module, item.hint, item.message.c_str(),
      item.pid, item.tid, item.time, item.milliseconds, item.stamp ? stamp : nullptr,
      item.subName[0] ? item.subName : nullptr, kModeBuild, kLiveMessageLimit);
  if (record != nullptr) {
    store.AddToProcessStats(record);
  }
  return record;
}

inline std::vector<const TraceRecord*> Records(const CTraceMgr& store) { return StoredRecords(store); }

inline Bytes ReadBytes(const std::wstring& path) {
  Bytes bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return bytes;
  }
  bytes.resize(GetFileSize(file, nullptr));
  DWORD read = 0;
  if (!bytes.empty() && (!ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr) || read != bytes.size())) {
    bytes.clear();
  }
  CloseHandle(file);
  return bytes;
}

inline bool WriteBytes(const std::wstring& path, const Bytes& bytes) {
  return WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Names of the files in a folder (no sub-folders).
inline std::vector<std::wstring> FilesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        names.push_back(data.cFileName);
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  return names;
}

// Damages the length of the record at `index`, so a writer walking the store
// fails there after writing the records before it.
inline void DamageRecord(CTraceMgr& store, size_t index) {
  const_cast<TraceRecord*>(Records(store).at(index))->length = 0;
}

// The tests' common ground: the group table loaded, an empty folder, and a
// source store named C:\in\source.ktr with room for records.
class CStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
    ASSERT_TRUE(folder.valid());
    ASSERT_EQ(1, source.GrowBuffer(1 << 20));
    source.SetFileName(L"C:\\in\\source.ktr", L"source.ktr");
  }
  void TearDown() override { g_moduleGroups.Clear(); }

  TempFolder folder;
  CTraceFile source;
};

}  // namespace storefix
