#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "capture/LocalFileList.h"
#include "core/TraceRecord.h"
#include "tests/core/TempFolder.h"

namespace {

DWORD g_now = 0;
DWORD TestTick() { return g_now; }

constexpr uint64_t kHour = 36000000000ull;  // in 100 ns
constexpr uint64_t kBaseTime = 133500000000000000ull;

void SetTime(const std::wstring& path, uint64_t time) {
  const HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  const FILETIME ft{DWORD(time), DWORD(time >> 32)};
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &ft));
  CloseHandle(file);
}

void WriteBytes(const std::wstring& path, const void* bytes, DWORD size, uint64_t time) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, bytes, size, &written, nullptr));
  CloseHandle(file);
  SetTime(path, time);
}

// A .ktr head: a header whose count says `count`, then `extra` bytes.
void WriteKtr(const std::wstring& path, uint32_t count, uint64_t time, bool ring = false, DWORD extra = 16) {
  std::vector<uint8_t> bytes(sizeof(TraceBufferHeader) + extra, 0);
  auto* header = reinterpret_cast<TraceBufferHeader*>(bytes.data());
  InitBufferHeader(header, uint32_t(bytes.size()));
  header->flags = ring ? 0 : kTraceBufferLinear;
  header->recordCount = count;
  WriteBytes(path, bytes.data(), DWORD(bytes.size()), time);
}

std::vector<std::wstring> Names(const LocalFileArray& list) {
  std::vector<std::wstring> names;
  for (size_t i = 0; i < list.count; ++i) {
    const std::wstring path = list[i]->path;
    names.push_back(path.substr(path.find_last_of(L'\\') + 1));
  }
  return names;
}

class LocalFileListTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.valid());
    for (const wchar_t* sub : {L"temp", L"temp\\Low", L"cache", L"cache\\Low", L"appdata", L"appdata\\kdv"}) {
      ASSERT_TRUE(CreateDirectoryW(root.File(sub).c_str(), nullptr));
    }
    LocalFileFolders folders;
    auto put = [](wchar_t* out, const std::wstring& text) { wcscpy(out, text.c_str()); };
    put(folders.temp, root.File(L"temp") + L"\\");  // as GetTempPathW gives it
    put(folders.tempLow, root.File(L"temp\\Low"));
    put(folders.cache, root.File(L"cache"));
    put(folders.cacheLow, root.File(L"cache\\Low"));
    put(folders.captures, root.File(L"appdata\\kdv"));
    list.SetFolders(folders);
    list.SetTickSource(TestTick);
    g_now = 100000;
  }
  void TearDown() override {
    for (const wchar_t* sub : {L"appdata\\kdv", L"appdata", L"cache\\Low", L"cache", L"temp\\Low", L"temp"}) {
      Empty(root.File(sub));
    }
  }
  static void Empty(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring item = L"\\\\?\\" + folder + L"\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..")) RemoveDirectoryW(item.c_str());
        } else {
          DeleteFileW(item.c_str());
        }
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
  }

  TempFolder root{L"ktlocal"};
  CLocalFileList list;
};

TEST_F(LocalFileListTest, ListsNewestFirstWithHeaderCounts) {
  WriteKtr(root.File(L"temp\\keltra_old.ktr"), 3, kBaseTime);
  WriteKtr(root.File(L"temp\\keltra_new.ktr"), 7, kBaseTime + 5 * kHour, true);
  WriteKtr(root.File(L"cache\\keltra_mid.ktr"), 0, kBaseTime + 2 * kHour);
  WriteKtr(root.File(L"cache\\Low\\keltra_low.ktr"), 9, kBaseTime + 1 * kHour);
  WriteKtr(root.File(L"temp\\keltra_short.ktr"), 1, kBaseTime, false, 0);
  std::vector<uint8_t> shortFile(47, 0);
  WriteBytes(root.File(L"temp\\keltra_47.ktr"), shortFile.data(), 47, kBaseTime);
  WriteKtr(root.File(L"temp\\other.ktr"), 1, kBaseTime);
  ASSERT_TRUE(CreateDirectoryW(root.File(L"temp\\keltra_dir.ktr").c_str(), nullptr));
  WriteBytes(root.File(L"appdata\\kdv\\capture1.kdv"), "x", 1, kBaseTime + 9 * kHour);  // newest of all
  WriteBytes(root.File(L"appdata\\kdv\\capture2.kdv"), "yy", 2, kBaseTime + 10 * kHour);
  WriteBytes(root.File(L"temp\\keltra_b.dump"), "123", 3, kBaseTime + 1 * kHour);
  WriteBytes(root.File(L"temp\\Low\\keltra_a.dump"), "1", 1, kBaseTime + 3 * kHour);
  WriteBytes(root.File(L"cache\\keltra_c.dump"), "12", 2, kBaseTime);

  list.Refresh(kLocalFilesTrace | kLocalFilesDump);

  // A header shorter than 48 bytes is not listed; the captures follow the
  // trace files even when newer.
  EXPECT_EQ((std::vector<std::wstring>{L"keltra_new.ktr", L"keltra_mid.ktr", L"keltra_low.ktr", L"keltra_short.ktr",
                                       L"keltra_old.ktr", L"capture2.kdv", L"capture1.kdv"}),
            Names(list.TraceFiles()));
  const LocalFileArray& trace = list.TraceFiles();
  ASSERT_EQ(7u, trace.count);
  EXPECT_EQ(7u, trace[0]->recordCount);  // a ring's count as its header says
  EXPECT_EQ(0u, trace[1]->recordCount);
  EXPECT_EQ(9u, trace[2]->recordCount);
  EXPECT_EQ(kLocalFileNoCount, trace[5]->recordCount);
  EXPECT_EQ(2u, trace[5]->size);
  EXPECT_EQ(uint32_t(sizeof(TraceBufferHeader) + 16), trace[0]->size);
  EXPECT_EQ(kBaseTime + 5 * kHour, trace[0]->lastWrite);
  EXPECT_EQ(root.File(L"temp\\keltra_new.ktr"), trace[0]->path);  // one backslash after the folder
  EXPECT_EQ((std::vector<std::wstring>{L"keltra_a.dump", L"keltra_b.dump", L"keltra_c.dump"}),
            Names(list.DumpFiles()));
  for (size_t i = 0; i < list.DumpFiles().count; ++i) EXPECT_EQ(kLocalFileNoCount, list.DumpFiles()[i]->recordCount);
}

TEST_F(LocalFileListTest, TheSameNameInTwoFoldersIsListedTwice) {
  WriteKtr(root.File(L"temp\\keltra_x.ktr"), 1, kBaseTime);
  WriteKtr(root.File(L"temp\\Low\\keltra_x.ktr"), 2, kBaseTime + kHour);
  WriteBytes(root.File(L"temp\\keltra_x.dump"), "a", 1, kBaseTime);
  WriteBytes(root.File(L"cache\\Low\\keltra_x.dump"), "a", 1, kBaseTime + kHour);
  list.Refresh(kLocalFilesTrace | kLocalFilesDump);
  ASSERT_EQ(2u, list.TraceFiles().count);
  EXPECT_EQ(root.File(L"temp\\Low\\keltra_x.ktr"), list.TraceFiles()[0]->path);
  EXPECT_EQ(root.File(L"temp\\keltra_x.ktr"), list.TraceFiles()[1]->path);
  ASSERT_EQ(2u, list.DumpFiles().count);
  EXPECT_EQ(root.File(L"cache\\Low\\keltra_x.dump"), list.DumpFiles()[0]->path);
}

TEST_F(LocalFileListTest, EachListRefreshesAtMostEveryFiveSeconds) {
  WriteKtr(root.File(L"temp\\keltra_1.ktr"), 1, kBaseTime);
  list.Refresh(kLocalFilesTrace);
  ASSERT_EQ(1u, list.TraceFiles().count);

  WriteKtr(root.File(L"temp\\keltra_2.ktr"), 1, kBaseTime);
  WriteBytes(root.File(L"temp\\keltra_1.dump"), "a", 1, kBaseTime);
  g_now += 100;
  // The dump list keeps its own time: it is scanned now although the trace
  // list was scanned 100 ms ago, and the trace list stays as it was.
  list.Refresh(kLocalFilesTrace | kLocalFilesDump);
  EXPECT_EQ(1u, list.TraceFiles().count);
  EXPECT_EQ(1u, list.DumpFiles().count);

  g_now += kLocalFilesRefreshMs - 101;
  list.Refresh(kLocalFilesTrace);
  EXPECT_EQ(1u, list.TraceFiles().count);  // 4999 ms after its scan
  g_now += 1;
  list.Refresh(kLocalFilesTrace);
  EXPECT_EQ(2u, list.TraceFiles().count);

  DeleteFileW(root.File(L"temp\\keltra_1.dump").c_str());
  g_now += kLocalFilesRefreshMs;
  list.Refresh(kLocalFilesDump);
  EXPECT_EQ(0u, list.DumpFiles().count);
  EXPECT_EQ(2u, list.TraceFiles().count);  // not named by the bits
}

TEST_F(LocalFileListTest, APathTooLongIsSkippedNotCut) {
  const std::wstring folder = root.File(L"temp");
  ASSERT_LT(folder.size(), 200u);
  const std::wstring fits = L"keltra_" + std::wstring(259 - folder.size() - 1 - 7 - 5, L'f') + L".dump";
  const std::wstring tooLong = L"keltra_" + std::wstring(259 - folder.size() - 1 - 7 - 5 + 1, L'g') + L".dump";
  ASSERT_EQ(259u, folder.size() + 1 + fits.size());
  WriteBytes(L"\\\\?\\" + folder + L"\\" + fits, "a", 1, kBaseTime);
  WriteBytes(L"\\\\?\\" + folder + L"\\" + tooLong, "a", 1, kBaseTime + kHour);
  list.Refresh(kLocalFilesDump);
  ASSERT_EQ(1u, list.DumpFiles().count);
  EXPECT_EQ(folder + L"\\" + fits, list.DumpFiles()[0]->path);
}

TEST_F(LocalFileListTest, MissingFoldersListNothing) {
  LocalFileFolders folders;
  wcscpy(folders.temp, root.File(L"absent").c_str());
  list.SetFolders(folders);
  list.Refresh(kLocalFilesTrace | kLocalFilesDump);
  EXPECT_EQ(0u, list.TraceFiles().count);
  EXPECT_EQ(0u, list.DumpFiles().count);
}

TEST(LocalFileTime, FormatsLocalTime) {
  // TZ=UTC in the test environment: local time is UTC.
  SYSTEMTIME st{2024, 2, 0, 3, 4, 5, 6, 789};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  LocalFileEntry entry{};
  entry.lastWrite = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  wchar_t text[32];
  ASSERT_EQ(1, FormatFileTime(&entry, text, 32));
  EXPECT_STREQ(L"02/03/2024 04:05:06", text);
  EXPECT_EQ(0, FormatFileTime(&entry, text, 19));  // no room for the terminator
  EXPECT_STREQ(L"", text);
  entry.lastWrite = ~0ull;
  EXPECT_EQ(0, FormatFileTime(&entry, text, 32));
}

TEST(LocalFileListFolders, TheTempFolderIsScanned) {
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring name = L"keltra_lfl" + std::to_wstring(GetCurrentProcessId());
  const std::wstring ktr = std::wstring(temp) + name + L".ktr";
  const std::wstring dump = std::wstring(temp) + name + L".dump";
  WriteKtr(ktr, 4, kBaseTime);
  WriteBytes(dump, "d", 1, kBaseTime);
  CLocalFileList list;
  list.Refresh(kLocalFilesTrace | kLocalFilesDump);
  auto find = [](const LocalFileArray& files, const std::wstring& path) -> const LocalFileEntry* {
    for (size_t i = 0; i < files.count; ++i) {
      if (_wcsicmp(files[i]->path, path.c_str()) == 0) return files[i];
    }
    return nullptr;
  };
  const LocalFileEntry* found = find(list.TraceFiles(), ktr);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ(4u, found->recordCount);
  EXPECT_NE(nullptr, find(list.DumpFiles(), dump));
  DeleteFileW(ktr.c_str());
  DeleteFileW(dump.c_str());
}

TEST(LocalFileEntryTest, PathsOfUpTo259CharactersOnly) {
  const std::wstring longest(259, L'a');
  LocalFileEntry* entry = NewLocalFileEntry(longest.c_str(), 5, 6, 7);
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(longest, entry->path);
  EXPECT_EQ(5u, entry->lastWrite);
  EXPECT_EQ(6u, entry->size);
  EXPECT_EQ(7u, entry->recordCount);
  std::free(entry);
  EXPECT_EQ(nullptr, NewLocalFileEntry((longest + L"b").c_str(), 0, 0, 0));
  EXPECT_EQ(nullptr, NewLocalFileEntry(nullptr, 0, 0, 0));
}

TEST(LocalFileTime, NewestFirst) {
  LocalFileEntry a{}, b{};
  a.lastWrite = 10;
  b.lastWrite = 20;
  const LocalFileEntry* pa = &a;
  const LocalFileEntry* pb = &b;
  EXPECT_GT(CompareFileTime64(&pa, &pb), 0);
  EXPECT_LT(CompareFileTime64(&pb, &pa), 0);
  EXPECT_EQ(0, CompareFileTime64(&pa, &pa));
}

}  // namespace
