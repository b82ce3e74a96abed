#include "tools/trace-writer/WriterOlder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/Cipher.h"
#include "core/Handle.h"
#include "tools/trace-writer/WriterBytes.h"
#include "tools/trace-writer/WriterRecord.h"
#include "tools/trace-writer/WriterRun.h"
#include "tools/trace-writer/WriterSingle.h"

namespace {

constexpr uint32_t kQrcCountOffset = 2;
constexpr uint32_t kQrcPidOffset = 4;
constexpr uint32_t kQrcBaseTimeOffset = 16;
constexpr uint32_t kQrcDescriptorOffset = 32;
constexpr uint32_t kQrcDescRing = 4;
constexpr uint32_t kQrcDescArea = 8;
constexpr uint32_t kQrcDescAreaSize = 12;
constexpr uint32_t kQrcDescSecondArea = 16;
constexpr uint32_t kQrcAreas = 2;
constexpr uint32_t kHostileDistance = 0x10000;
constexpr uint16_t kShortEventLength = 6;
constexpr uint16_t kLongEventLength = 4000;
constexpr DWORD kMutexWaitMs = 10000;


// A shared region a writer creates: its mutex and its mapping.
struct Section {
  CHandle mutex, mapping;
  CMappedView view;
  bool Create(const std::wstring& name, uint32_t size, std::wstring* error) {
    mutex = CHandle(CreateMutexW(nullptr, FALSE, (name + L"Mutex").c_str()));
    mapping = CHandle(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str()));
    if (mapping.valid()) {
      view.reset(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
    }
    if (!mutex.valid() || !view.valid()) {
      *error = L"cannot create " + name + L" and its mutex, error " + std::to_wstring(GetLastError());
      return false;
    }
    return true;
  }
  bool Lock() {
    const DWORD waited = WaitForSingleObject(mutex.get(), kMutexWaitMs);
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  void Unlock() { ReleaseMutex(mutex.get()); }
};

// The ANSI text of message `sequence`, cut to `most` bytes.
std::string NarrowMessage(const WriterOptions& options, uint32_t sequence, size_t most, UINT codePage) {
  wchar_t text[kWriterMessageUnits];
  const size_t units = MakeWriterMessage(options.id, 1, sequence, text, kWriterMessageUnits);
  std::string narrow(units * 4 + 1, '\0');
  const int n = WideCharToMultiByte(codePage, 0, text, int(units), narrow.data(), int(narrow.size()), nullptr, nullptr);
  narrow.resize(n > 0 ? std::min(size_t(n), most) : 0);
  return narrow;
}

void HoldIfAsked(const WriterOptions& options, uint32_t done, bool* held, Section* section) {
  if (options.fault != WriterFault::kHoldMutex || *held || done < options.count / 2) {
    return;
  }
  *held = true;
  if (section->Lock()) {
    Sleep(kHoldMutexMs);  // the point is to hold it
    section->Unlock();
  }
}

}  // namespace

uint32_t CQrvRegion::Used() const { return Get32(m_base + kQrvUsedOffset); }

bool CQrvRegion::Append(uint32_t pid, const char* text, uint16_t length, bool sameAsLast) {
  const uint32_t need = kQrvRecordHead + length;
  if (kQrvRecordsOffset + need > m_size) {
    return false;
  }
  uint32_t used = Used();
  if (used > m_size - kQrvRecordsOffset || kQrvRecordsOffset + used + need > m_size) {
    used = 0;  // full (or damaged): the region starts over
  }
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t time = FileTimeValue(now);
  time -= time % kFileTimeTicksPerMs;
  if (sameAsLast && m_lastTime != 0) {
    time = m_lastTime;
  } else if (time <= m_lastTime) {
    time = m_lastTime + kFileTimeTicksPerMs;  // readers take only records newer than the newest they took
  }
  m_lastTime = time;
  const FILETIME utc{DWORD(time), DWORD(time >> 32)};
  FILETIME local;
  SYSTEMTIME stamp{};
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &stamp);

  uint8_t* record = m_base + kQrvRecordsOffset + used;
  std::memcpy(record, &length, sizeof(length));
  Put32(record + kQrvPidOffset, pid);
  std::memcpy(record + kQrvTimeOffset, &stamp, sizeof(stamp));
  std::memcpy(record + kQrvRecordHead, text, length);
  EncipherArea(kCipherScrambler, record + kQrvRecordHead, length);
  m_lastRecord = kQrvRecordsOffset + used;
  Put32(m_base + kQrvUsedOffset, used + need);
  return true;
}

void CQrvRegion::ApplyFault(WriterFault fault) {
  if (fault == WriterFault::kBadEnd) {
    Put32(m_base + kQrvUsedOffset, m_size + kHostileDistance);
  } else if (fault == WriterFault::kBadCount && m_lastRecord != 0) {
    std::memcpy(m_base + m_lastRecord, &kQrvHostileLength, sizeof(kQrvHostileLength));
  }
}

bool RegisterQrcPid(uint8_t* table, uint32_t pid) {
  uint8_t* free = nullptr;
  for (uint32_t i = 0; i < kQrcTableSlots; ++i) {
    uint8_t* slot = table + i * sizeof(uint32_t);
    const uint32_t listed = GetBe32(slot);
    if (listed == pid) {
      return true;
    }
    if (listed == 0 && free == nullptr) {
      free = slot;
    }
  }
  if (free == nullptr) {
    return false;
  }
  PutBe32(free, pid);
  return true;
}

uint32_t QrcRingBytes(uint32_t size) {
  const uint32_t area = (size - kQrcAreaOffset) / kQrcAreas;
  return area - kQrcRingOffset - kQrcRingHead;
}

uint8_t* QrcRing(uint8_t* region, uint32_t size, uint32_t area) {
  const uint32_t areaSize = (size - kQrcAreaOffset) / kQrcAreas;
  return region + kQrcAreaOffset + area * areaSize + kQrcRingOffset;
}

void InitQrcRegion(uint8_t* region, uint32_t size, uint32_t pid, uint32_t baseTime, WriterFault fault) {
  std::memset(region, 0, kQrcAreaOffset);
  const uint32_t areaSize = (size - kQrcAreaOffset) / kQrcAreas;
  region[kQrcCountOffset] = 1;
  PutBe32(region + kQrcPidOffset, pid);
  PutBe32(region + kQrcBaseTimeOffset, baseTime);
  uint8_t* descriptor = region + kQrcDescriptorOffset;
  PutBe32(descriptor + kQrcDescRing, fault == WriterFault::kBadOffset ? size + kHostileDistance : kQrcRingOffset);
  PutBe32(descriptor + kQrcDescArea, kQrcAreaOffset);
  PutBe32(descriptor + kQrcDescAreaSize, areaSize);
  PutBe32(descriptor + kQrcDescSecondArea, 1);
  for (uint32_t area = 0; area < kQrcAreas; ++area) {
    uint8_t* ring = QrcRing(region, size, area);
    PutBe32(ring, fault == WriterFault::kBadSize ? areaSize * 4 : QrcRingBytes(size));
    PutBe32(ring + 4, 0);
    PutBe32(ring + 8, 0);
  }
}

size_t BuildQrcEvent(uint8_t* out, size_t room, uint8_t level, uint8_t event, uint32_t msOffset, uint16_t tid,
                     uint32_t number, const char* text) {
  const size_t textBytes = strlen(text) + 1;
  const size_t length = kQrcMinEvent + sizeof(uint32_t) + sizeof(uint16_t) + textBytes;
  if (length > room || length > UINT16_MAX) {
    return 0;
  }
  PutBe16(out, uint16_t(length));
  out[2] = level;
  out[3] = event;
  PutBe32(out + 4, msOffset);
  PutBe16(out + 8, tid);
  PutBe16(out + 10, kQrcNumberThenText);
  PutBe32(out + 12, number);
  PutBe16(out + 16, uint16_t(textBytes));
  std::memcpy(out + 18, text, textBytes);
  return length;
}

bool AppendQrcBytes(uint8_t* ring, const uint8_t* bytes, uint32_t length) {
  const uint32_t size = GetBe32(ring);
  uint32_t write = GetBe32(ring + 4);
  if (size == 0 || length >= size || write >= size) {
    return false;
  }
  uint8_t* data = ring + kQrcRingHead;
  const uint32_t first = std::min(length, size - write);
  std::memcpy(data + write, bytes, first);
  std::memcpy(data, bytes + first, length - first);
  write = (write + length) % size;
  PutBe32(ring + 4, write);
  return true;
}

uint32_t QrcAreaOf(uint32_t sequence) { return sequence % 4 == 0 ? 0 : 1; }

std::wstring QrcTableName(bool global, const std::wstring& tag) {
  return InputObjectName(L"KelTraceManager", global, tag);
}

std::wstring QrcRegionName(bool global, uint32_t pid, const std::wstring& tag) {
  return InputObjectName((L"KelTraceFile_" + std::to_wstring(pid)).c_str(), global, tag);
}

std::wstring QrvRegionName(const std::wstring& tag) { return InputObjectName(L"TalMoTraceFileStone", false, tag); }

int RunQrvWriter(const WriterOptions& options, uint32_t* written, std::wstring* error) {
  *written = 0;
  Section section;
  const uint32_t size = std::max(options.ringBytes, kQrvMinRegion);
  if (!section.Create(QrvRegionName(options.tag), size, error)) {
    return kWriterExitFailed;
  }
  CQrvRegion region(section.view.bytes(), size);
  bool held = false;
  const ULONGLONG start = GetTickCount64();
  for (uint32_t done = 0; done < options.count;) {
    HoldIfAsked(options, done, &held, &section);
    const uint32_t count = std::min(PacedBatch(options.batch, options.rate), options.count - done);
    std::vector<std::string> texts;
    for (uint32_t i = 1; i <= count; ++i) {
      texts.push_back(NarrowMessage(options, done + i, kQrvMaxTextBytes, CP_ACP));
    }
    if (!section.Lock()) {
      *error = L"the region's mutex stayed busy";
      return kWriterExitFailed;
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t sequence = done + i + 1;
      const bool same = options.fault == WriterFault::kSameTime && sequence % 2 == 0;
      region.Append(GetCurrentProcessId(), texts[i].data(), uint16_t(texts[i].size()), same);
    }
    section.Unlock();
    done += count;
    *written = done;
    Pace(options.rate, done, start);
  }
  if (section.Lock()) {
    region.ApplyFault(options.fault);
    section.Unlock();
  }
  if (options.lingerMs != 0) {
    Sleep(options.lingerMs);  // a traced program that goes on running
  }
  return kWriterExitOk;
}

int RunQrcWriter(const WriterOptions& options, uint32_t* written, std::wstring* error) {
  *written = 0;
  const uint32_t pid = GetCurrentProcessId();
  Section table;
  if (!table.Create(QrcTableName(options.global, options.tag), kQrcTableBytes, error)) {
    return kWriterExitFailed;
  }
  Section region;
  const uint32_t size = std::max(options.ringBytes, kQrcMinRegion);
  if (!region.Create(QrcRegionName(options.global, pid, options.tag), size, error)) {
    return kWriterExitFailed;
  }
  const DWORD startTick = GetTickCount();
  const uint64_t ms = UnixNowMs();
  if (!region.Lock()) {
    *error = L"the region's mutex stayed busy";
    return kWriterExitFailed;
  }
  InitQrcRegion(region.view.bytes(), size, pid, uint32_t(ms / kMsPerSecond), options.fault);
  region.Unlock();
  // Listed only once the region stands, so a reader never finds a pid
  // without its region.
  if (!table.Lock()) {
    *error = L"the process table's mutex stayed busy";
    return kWriterExitFailed;
  }
  const bool listed = RegisterQrcPid(table.view.bytes(), pid) &&
                      (options.fault != WriterFault::kDeadPid || RegisterQrcPid(table.view.bytes(), kQrcDeadPid));
  table.Unlock();
  if (!listed) {
    *error = L"the process table is full";
    return kWriterExitFailed;
  }
  bool held = false;
  const ULONGLONG start = GetTickCount64();
  uint8_t event[kQrcMinEvent + kQrcMaxText + 8];
  for (uint32_t done = 0; done < options.count;) {
    HoldIfAsked(options, done, &held, &region);
    const uint32_t count = std::min(PacedBatch(options.batch, options.rate), options.count - done);
    if (!region.Lock()) {
      *error = L"the region's mutex stayed busy";
      return kWriterExitFailed;
    }
    for (uint32_t i = 1; i <= count; ++i) {
      const uint32_t sequence = done + i;
      const std::string text = NarrowMessage(options, sequence, kQrcMaxText, CP_UTF8);
      const size_t length = BuildQrcEvent(event, sizeof(event), 0, uint8_t(sequence % 3), GetTickCount() - startTick,
                                          uint16_t(GetCurrentThreadId()), sequence, text.c_str());
      AppendQrcBytes(QrcRing(region.view.bytes(), size, QrcAreaOf(sequence)), event, uint32_t(length));
    }
    region.Unlock();
    done += count;
    *written = done;
    Pace(options.rate, done, start);
  }
  if ((options.fault == WriterFault::kShortEvent || options.fault == WriterFault::kLongEvent) && region.Lock()) {
    // One damaged event after the good ones, in the trace area.
    uint8_t bad[kQrcMinEvent] = {};
    PutBe16(bad, options.fault == WriterFault::kShortEvent ? kShortEventLength : kLongEventLength);
    AppendQrcBytes(QrcRing(region.view.bytes(), size, 1), bad, sizeof(bad));
    region.Unlock();
  }
  if (options.lingerMs != 0) {
    Sleep(options.lingerMs);  // a traced program that goes on running
  }
  return kWriterExitOk;
}
