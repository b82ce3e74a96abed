// Shared pieces of the capture tests: a capture store with a small ring and
// recorded notices, a writer ring made in this process (records carry a
// foreign process id, since the capture skips its own), and a reader of what
// the store holds.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "capture/TraceCapture.h"
#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/StoreLock.h"
#include "core/TraceView.h"
#include "tools/trace-writer/WriterRecord.h"
#include "tools/trace-writer/WriterRing.h"

namespace capture_test {

constexpr uint32_t kForeignPid = 0x7FFF0001;
constexpr uint32_t kTestRingBytes = 65536;
// A stand-in owner: notices go to the recorder, never to a window.
inline HWND FakeOwner() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4D0)); }

struct Notice {
  WPARAM code;
  LPARAM value;
};

// Records every ThreadsNotify the capture posts.
class NoticeLog {
 public:
  static NoticeLog& Get() {
    static NoticeLog log;
    return log;
  }
  static BOOL WINAPI Post(HWND, UINT message, WPARAM code, LPARAM value) {
    if (message == ThreadsNotify) {
      std::lock_guard<std::mutex> hold(Get().m_lock);
      Get().m_notices.push_back({code, value});
    }
    return TRUE;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_notices.clear();
  }
  size_t Count(WPARAM code, LPARAM value) {
    std::lock_guard<std::mutex> hold(m_lock);
    size_t n = 0;
    for (const Notice& notice : m_notices) {
      n += notice.code == code && notice.value == value;
    }
    return n;
  }

 private:
  std::mutex m_lock;
  std::vector<Notice> m_notices;
};

// A name tag no other test run in this session uses.
inline std::wstring UniqueTag(const wchar_t* what) {
  static LONG counter = 0;
  wchar_t tag[64];
  swprintf(tag, 64, L"%ls%lu_%ld", what, GetCurrentProcessId(), InterlockedIncrement(&counter));
  return tag;
}

inline void LoadGroupsOnce() {
  static const bool loaded = g_moduleGroups.LoadFromResource() == 1;
  ASSERT_TRUE(loaded);
  // Inputs this process must not own in tests: the debugger channel would
  // make every other test process wait on it.
  g_appConfig.m_dbWinEnable = 0;
  g_appConfig.m_hvnEnable = 0;
}

// A capture store with a small ring, opened inputs and recorded notices.
inline CTraceCapture* NewCapture(const std::wstring& tag, uint64_t reserve = 4u << 20, uint32_t step = 1u << 20,
                                 uint32_t freeStep = 0) {
  auto* capture = new CTraceCapture(FakeOwner());
  capture->SetPostFunction(&NoticeLog::Post);
  capture->SetRingLimits(reserve, step, freeStep);
  capture->SetChannelTag(tag.c_str());
  capture->SetIgnoreMask(0);
  capture->SetSorting(0);
  return capture;
}

// What the writers' messages say: "w<ID> t<THREAD> #<SEQ> ...".
struct Seen {
  uint32_t id, thread, sequence, pid, time;
  uint16_t milliseconds;
  uint32_t level;
  uint64_t stamp;
};

inline bool ParseMessage(const TraceRecord* record, Seen* seen) {
  return swscanf(record->Message(), L"w%u t%u #%u", &seen->id, &seen->thread, &seen->sequence) == 3;
}

// The records of view 0, in view order.
inline std::vector<Seen> ViewRecords(CTraceCapture* capture, size_t view = 0) {
  std::vector<Seen> out;
  const CStoreLock lock(capture, kLockShared);
  if (!lock.Held()) {
    return out;
  }
  CTraceView* v = capture->m_views[view];
  for (size_t i = 0; i < v->RecordCount(); ++i) {
    const TraceRecord* record = v->RecordAt(i);
    Seen seen = {};
    if (ParseMessage(record, &seen)) {
      seen.pid = record->pid;
      seen.time = record->time;
      seen.milliseconds = record->milliseconds;
      seen.level = record->level;
      seen.stamp = (record->flags & kRecordStampValid) ? record->Stamp() : 0;
      out.push_back(seen);
    }
  }
  return out;
}

// Every (writer, thread) holds 1..count once and in order.
inline ::testing::AssertionResult HoldsAllInOrder(const std::vector<Seen>& records, uint32_t id, uint32_t threads,
                                                  uint32_t count) {
  for (uint32_t t = 1; t <= threads; ++t) {
    uint32_t next = 1;
    for (const Seen& seen : records) {
      if (seen.id != id || seen.thread != t) {
        continue;
      }
      if (seen.sequence != next) {
        return ::testing::AssertionFailure() << "writer " << id << " thread " << t << ": #" << seen.sequence
                                             << " where #" << next << " was due";
      }
      ++next;
    }
    if (next != count + 1) {
      return ::testing::AssertionFailure() << "writer " << id << " thread " << t << ": " << (next - 1) << " of "
                                           << count << " records";
    }
  }
  return ::testing::AssertionSuccess();
}

// A writer ring made in this process, the way a traced program makes it.
class TestRing {
 public:
  TestRing(const std::wstring& tag, int kind, uint32_t bytes = kTestRingBytes, uint32_t generation = 1)
      : m_bytes(bytes) {
    const ChannelNameSet& names = kChannelTable[kind];
    m_mutexName = std::wstring(names.mutex) + L"_" + tag;
    m_eventName = std::wstring(names.event) + L"_" + tag;
    m_mappingName = std::wstring(names.mapping) + L"_" + tag;
    m_mutex = CreateMutexW(nullptr, FALSE, m_mutexName.c_str());
    m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bytes, m_mappingName.c_str());
    m_ring = static_cast<TraceBufferHeader*>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (m_ring != nullptr) {
      InitWriterRing(m_ring, bytes, generation);
    }
  }
  ~TestRing() {
    if (m_ring) UnmapViewOfFile(m_ring);
    if (m_mapping) CloseHandle(m_mapping);
    if (m_mutex) CloseHandle(m_mutex);
  }
  bool Ok() const { return m_ring != nullptr && m_mutex != nullptr; }
  TraceBufferHeader* Ring() { return m_ring; }
  HANDLE Mutex() const { return m_mutex; }

  // Appends records #first..#first+n-1 of writer `id`, thread 1, under the
  // mutex. `time` 0 takes the clock.
  void Append(uint32_t id, uint32_t first, uint32_t n, uint32_t time = 0, uint16_t ms = 0, uint32_t level = 2,
              uint32_t pid = kForeignPid, uint8_t cipher = 0, uint64_t stamp = 0) {
    static wchar_t message[kWriterMessageUnits];
    static uint8_t record[kMaxNarrowRecord];
    WaitForSingleObject(m_mutex, INFINITE);
    for (uint32_t i = 0; i < n; ++i) {
      MakeWriterMessage(id, 1, first + i, message, kWriterMessageUnits);
      WriterRecordFields fields;
      fields.level = level;
      fields.pid = pid;
      fields.tid = 1;
      fields.time = time != 0 ? time : uint32_t(::time(nullptr));
      fields.milliseconds = ms;
      fields.stamp = stamp;
      fields.module = L"writer.exe";
      fields.message = message;
      fields.cipher = cipher;
      const size_t length = BuildWriterRecord(fields, record, sizeof(record));
      AppendRingRecord(m_ring, record, uint32_t(length), nullptr);
    }
    ReleaseMutex(m_mutex);
  }
  void Signal() {
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, m_eventName.c_str());
    if (event) {
      SetEvent(event);
      CloseHandle(event);
    }
  }

 private:
  uint32_t m_bytes;
  std::wstring m_mutexName, m_eventName, m_mappingName;
  HANDLE m_mutex = nullptr;
  HANDLE m_mapping = nullptr;
  TraceBufferHeader* m_ring = nullptr;
};

// Waits up to `ms` for the condition, looking every few milliseconds.
template <class Condition>
bool WaitFor(Condition condition, DWORD ms) {
  const DWORD start = GetTickCount();
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool met = condition();
  while (!met && GetTickCount() - start < ms) {
    WaitForSingleObject(never, 20);
    met = condition();
  }
  CloseHandle(never);
  return met;
}

}  // namespace capture_test
