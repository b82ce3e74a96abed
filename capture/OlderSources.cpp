// Opening and reading the older shared-memory sources.
#include "capture/OlderSources.h"

#include <cstring>
#include <new>

#include "core/StrUtil.h"
#include "core/RecordImport.h"
#include "formats/ByteOrder.h"
#include "formats/EventDesc.h"

namespace {
constexpr size_t kSectionNameChars = 128;
constexpr size_t kRegionNameChars = 64;
constexpr wchar_t kTableName[] = L"KelTraceManager";
constexpr wchar_t kStoneName[] = L"TalMoTraceFileStone";

// Region header: descriptor count, then one descriptor per ring.
constexpr size_t kDescriptorCountOffset = 2;
constexpr size_t kDescriptorsOffset = 32;
constexpr size_t kDescriptorBytes = 20;
constexpr size_t kDescRingOffset = 4;
constexpr size_t kDescAreaOffset = 8;
constexpr size_t kDescAreaSize = 12;
constexpr size_t kDescSecondArea = 16;
// Ring head: size, write and start position, then the data.
constexpr size_t kRingSizeOffset = 0;
constexpr size_t kRingWriteOffset = 4;
constexpr size_t kRingStartOffset = 8;
constexpr size_t kRingDataOffset = 12;

void CopyTag(wchar_t* target, const wchar_t* tag) { StrCopyNW(target, kOlderTagChars, tag != nullptr ? tag : L""); }

// "<prefix><base><_tag>".
void MakeName(wchar_t* out, size_t chars, bool global, const wchar_t* base, const wchar_t* tag) {
  StrPrintfW(out, chars, L"%s%s%s%s", global ? L"Global\\" : L"", base, tag[0] != 0 ? L"_" : L"", tag);
}

// The bytes readable from `view`: the mapped region, which is whole pages.
size_t MappedBytes(const void* view) {
  MEMORY_BASIC_INFORMATION info = {};
  if (VirtualQuery(view, &info, sizeof(info)) != sizeof(info)) {
    return 0;
  }
  return info.RegionSize;
}
}  // namespace

void SharedSection::Close() {
  view.reset();
  size = 0;
  mapping.reset();
  mutex.reset();
}

bool SharedSection::Lock(DWORD timeoutMs) {
  const DWORD waited = WaitForSingleObject(mutex.get(), timeoutMs);
  return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void SharedSection::Unlock() { ReleaseMutex(mutex.get()); }

int OpenSharedSection(SharedSection* section, const wchar_t* name) {
  section->Close();
  wchar_t mutexName[kSectionNameChars];
  if (StrPrintfW(mutexName, kSectionNameChars, L"%sMutex", name) < 0) {
    return 0;
  }
  section->mutex.reset(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, mutexName));
  if (!section->mutex.valid()) {
    return 0;
  }
  section->mapping.reset(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name));
  if (!section->mapping.valid() && GetLastError() == ERROR_FILE_NOT_FOUND) {
    // A writer makes its mutex first and its mapping just after: caught
    // in between, the section is not there yet rather than broken, and
    // giving it up for the run would lose everything it writes.
    section->Close();
    return 0;
  }
  if (section->mapping.valid()) {
    section->view.reset(MapViewOfFile(section->mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  }
  if (section->view.valid()) {
    section->size = MappedBytes(section->view.get());
  }
  if (section->size == 0) {
    section->Close();
    return -1;
  }
  return 1;
}

int CompareSystemTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  const WORD left[] = {a.wYear, a.wMonth, a.wDay, a.wHour, a.wMinute, a.wSecond, a.wMilliseconds};
  const WORD right[] = {b.wYear, b.wMonth, b.wDay, b.wHour, b.wMinute, b.wSecond, b.wMilliseconds};
  for (size_t i = 0; i < sizeof(left) / sizeof(left[0]); ++i) {
    if (left[i] != right[i]) {
      return left[i] < right[i] ? -1 : 1;
    }
  }
  return 0;
}

// --- CTraceProcFile ---

CTraceProcFile::CTraceProcFile(uint32_t global, uint32_t pid, const wchar_t* tag) : m_global(global), m_pid(pid) {
  CopyTag(m_tag, tag);
  for (auto& area : m_positions) {
    for (uint32_t& position : area) {
      position = kRingNeverRead;
    }
  }
}

int CTraceProcFile::Open() {
  wchar_t base[kRegionNameChars];
  wchar_t name[kSectionNameChars];
  StrPrintfW(base, kRegionNameChars, L"KelTraceFile_%u", m_pid);
  MakeName(name, kSectionNameChars, m_global != 0, base, m_tag);
  const int opened = OpenSharedSection(&m_section, name);
  if (opened == 1 && m_section.size < kProcRegionHeaderBytes) {
    m_section.Close();
    return -1;
  }
  return opened;
}

int CTraceProcFile::ReadNew(const uint8_t* ring, uint64_t room, CByteBuffer* out, uint32_t* position) {
  if (room < kRingDataOffset) {
    return 0;
  }
  const uint32_t size = LoadBig32(ring + kRingSizeOffset);
  const uint32_t write = LoadBig32(ring + kRingWriteOffset);
  const uint32_t start = LoadBig32(ring + kRingStartOffset);
  if (size == 0 || uint64_t(size) > room - kRingDataOffset || write >= size || start >= size) {
    return 0;
  }
  // A position past this ring's size is from a ring that was made anew.
  if (*position == kRingNeverRead || *position >= size) {
    *position = start;
  }
  if (*position == write) {
    return 0;
  }
  const uint8_t* data = ring + kRingDataOffset;
  const uint32_t from = *position;
  if (write > from) {
    if (out->Append(data + from, write - from) == 0) {
      return 0;
    }
  } else {
    const uint32_t tail = size - from;
    if (out->Reserve(size_t(tail) + write) == nullptr) {
      return 0;
    }
    out->Append(data + from, tail);
    if (write != 0) {
      out->Append(data, write);
    }
  }
  *position = write;
  return 1;
}

void CTraceProcFile::ReadRing(uint32_t area, uint32_t index, uint64_t areaStart, uint64_t areaSize,
                              uint32_t ringOffset, ProcRingBlocks* blocks) {
  // The ring lies inside its area, and the area inside the mapping.
  const uint64_t mapped = m_section.size;
  if (areaStart > mapped || areaSize > mapped - areaStart || ringOffset >= areaSize) {
    return;
  }
  const uint8_t* ring = m_section.view.bytes() + areaStart + ringOffset;
  ReadNew(ring, areaSize - ringOffset, &blocks->block[area][index], &m_positions[area][index]);
}

int CTraceProcFile::Read(DWORD timeoutMs, uint8_t* header, ProcRingBlocks* blocks, bool area0, bool area1) {
  if (!m_section.view.valid() || !m_section.Lock(timeoutMs)) {
    return 0;
  }
  const uint8_t* view = m_section.view.bytes();
  std::memcpy(header, view, kProcRegionHeaderBytes);
  ConvertBigEndianSourceHeader(header);
  uint32_t rings = view[kDescriptorCountOffset];
  if (rings > kProcRingsMax) {
    rings = kProcRingsMax;
  }
  for (uint32_t i = 0; i < rings; ++i) {
    const uint8_t* descriptor = view + kDescriptorsOffset + i * kDescriptorBytes;
    const uint32_t ringOffset = LoadBig32(descriptor + kDescRingOffset);
    const uint64_t area0Start = LoadBig32(descriptor + kDescAreaOffset);
    const uint64_t areaSize = LoadBig32(descriptor + kDescAreaSize);
    if (ringOffset == 0 || areaSize == 0) {
      continue;
    }
    if (area0) {
      ReadRing(0, i, area0Start, areaSize, ringOffset, blocks);
    }
    if (area1 && LoadBig32(descriptor + kDescSecondArea) != 0) {
      ReadRing(1, i, area0Start + areaSize, areaSize, ringOffset, blocks);
    }
  }
  m_section.Unlock();
  return 1;
}

// --- CTraceManagerView ---

void CTraceManagerView::SetTag(const wchar_t* tag) { CopyTag(m_tag, tag); }

void CTraceManagerView::Close() {
  for (size_t i = 0; i < m_files.count; ++i) {
    delete m_files[i];
  }
  m_files.count = 0;
  m_section.Close();
  m_state = 0;
}

int CTraceManagerView::ProcessAlive(uint32_t pid) {
  CHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  if (!process.valid() && GetLastError() == ERROR_ACCESS_DENIED) {
    process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  }
  if (!process.valid()) {
    // A process of another user or integrity cannot be opened yet lives:
    // only "no such process" means gone.
    return GetLastError() == ERROR_INVALID_PARAMETER ? 0 : 1;
  }
  DWORD code = STILL_ACTIVE;
  const BOOL known = GetExitCodeProcess(process.get(), &code);
  // A handle can outlive its process: an exit code other than STILL_ACTIVE
  // is the end of it (a process exiting with 259 stays listed).
  return !known || code == STILL_ACTIVE ? 1 : 0;
}

int CTraceManagerView::Refresh(DWORD timeoutMs) {
  if (m_state == 0) {
    wchar_t name[kSectionNameChars];
    MakeName(name, kSectionNameChars, m_global != 0, kTableName, m_tag);
    m_state = OpenSharedSection(&m_section, name);
    if (m_state == 1 && m_section.size < kProcTableSlots * sizeof(uint32_t)) {
      m_section.Close();
      m_state = -1;
    }
    if (m_state < 1) {
      return m_state;
    }
  }
  if (m_state < 0) {
    return 0;  // reported once already
  }
  if (!m_section.Lock(timeoutMs)) {
    return m_state;
  }
  CGrowArray<uint32_t> listed;
  for (uint32_t slot = 0; slot < kProcTableSlots; ++slot) {
    uint8_t* field = m_section.view.bytes() + slot * sizeof(uint32_t);
    const uint32_t pid = LoadBig32(field);
    if (pid == 0) {
      continue;
    }
    if (!m_alive(pid)) {
      std::memset(field, 0, sizeof(uint32_t));
    } else {
      listed.AddUnique(pid);
    }
  }
  m_section.Unlock();
  DropFiles(listed);
  AddFiles(listed);
  return m_state;
}

void CTraceManagerView::DropFiles(CGrowArray<uint32_t>& listed) {
  for (size_t i = m_files.count; i > 0; --i) {
    CTraceProcFile* file = m_files[i - 1];
    size_t at = 0;
    while (at < listed.count && listed[at] != file->Pid()) {
      ++at;
    }
    bool keep = at < listed.count;
    if (keep) {
      listed[at] = 0;  // crossed out: no second object
      keep = file->IsOpen() || file->Open() == 1;
    }
    if (!keep) {
      m_files.RemoveAt(i - 1);
      delete file;
    }
  }
}

void CTraceManagerView::AddFiles(const CGrowArray<uint32_t>& listed) {
  for (size_t i = 0; i < listed.count; ++i) {
    if (listed[i] == 0) {
      continue;
    }
    auto* file = new (std::nothrow) CTraceProcFile(m_global, listed[i], m_tag);
    if (file == nullptr) {
      return;
    }
    if (file->Open() != 1 || !m_files.Append(file)) {
      delete file;
    }
  }
}

// --- CTraceStone ---

void CTraceStone::SetTag(const wchar_t* tag) { CopyTag(m_tag, tag); }

int CTraceStone::Open() {
  if (m_state == 0) {
    wchar_t name[kSectionNameChars];
    MakeName(name, kSectionNameChars, false, kStoneName, m_tag);
    m_state = OpenSharedSection(&m_section, name);
    if (m_state == 1 && m_section.size < kStoneRecordsOffset) {
      m_section.Close();
      m_state = -1;
    }
    return m_state;
  }
  return m_state < 0 ? 0 : m_state;
}

void CTraceStone::Close() {
  m_section.Close();
  m_state = 0;
  m_anyTaken = false;
  m_takenAtNewest = 0;
}

SYSTEMTIME StoneRecordTime(const uint8_t* record) {
  SYSTEMTIME time;
  std::memcpy(&time, record + kQrvTimeOffset, sizeof(time));
  return time;
}

size_t CTraceStone::RecordLength(const uint8_t* record, const uint8_t* end) {
  if (record >= end || size_t(end - record) < kQrvTextOffset) {
    return 0;
  }
  const size_t length = kQrvTextOffset + LoadLittle16(record);
  return length <= size_t(end - record) ? length : 0;
}

const uint8_t* CTraceStone::ReadNew(DWORD timeoutMs, const uint8_t** end) {
  if (m_state != 1 || !m_section.Lock(timeoutMs)) {
    return nullptr;
  }
  const uint8_t* records = m_section.view.bytes() + kStoneRecordsOffset;
  // The used length is the writer's word: it never reaches past the mapping.
  size_t used = LoadLittle32(m_section.view.bytes() + kStoneUsedOffset);
  if (used > m_section.size - kStoneRecordsOffset) {
    used = m_section.size - kStoneRecordsOffset;
  }
  *end = records + used;
  uint32_t equalSeen = 0;
  const uint8_t* record = records;
  for (size_t length; (length = RecordLength(record, *end)) != 0; record += length) {
    if (!m_anyTaken) {
      return record;
    }
    const int order = CompareSystemTime(StoneRecordTime(record), m_newest);
    if (order > 0 || (order == 0 && ++equalSeen > m_takenAtNewest)) {
      return record;
    }
  }
  return record;
}

void CTraceStone::Release(const uint8_t* last, uint32_t atLastTime) {
  if (last != nullptr) {
    const SYSTEMTIME time = StoneRecordTime(last);
    if (m_anyTaken && CompareSystemTime(time, m_newest) == 0) {
      m_takenAtNewest += atLastTime;
    } else {
      m_newest = time;
      m_takenAtNewest = atLastTime;
    }
    m_anyTaken = true;
  }
  m_section.Unlock();
}
