// The older shared-memory sources of the product family, which this program
// only opens: the process table with one region of big-endian event rings
// per traced process (QRC), and the region of time-stamped, scrambled text
// records (QRV). Each region is guarded by a mutex named after it with
// "Mutex" appended.
//
// Their writers are other processes: every offset, size and position read
// from a region is checked against the mapped size before it is used.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/Handle.h"

// How long a tick waits for a region's mutex.
constexpr DWORD kOlderLockMs = 50;
// The process table: this many u32 slots, 0 or a big-endian pid.
constexpr uint32_t kProcTableSlots = 100;
// The per-process region's header, copied whole for the decoder.
constexpr uint32_t kProcRegionHeaderBytes = 112;
constexpr uint32_t kProcRingsMax = 4;
constexpr uint32_t kProcAreas = 2;
// A ring position that was never read.
constexpr uint32_t kRingNeverRead = 0xFFFFFFFF;
// The record region: u32 used bytes at 4, records from 8.
constexpr size_t kStoneUsedOffset = 4;
constexpr size_t kStoneRecordsOffset = 8;
// Longest test tag put behind the names.
constexpr size_t kOlderTagChars = 32;

// A mutex, a mapping and its whole view, opened by name.
struct SharedSection {
  CHandle mutex;
  CHandle mapping;
  CMappedView view;
  size_t size = 0;  // bytes readable from view

  void Close();
  // WAIT_ABANDONED counts as acquired: the region is read with care anyway.
  bool Lock(DWORD timeoutMs);
  void Unlock();
};

// 1 when opened; 0 when there is no mutex "<name>Mutex" or no mapping yet
// (nothing kept, to be tried again); -1 when the mapping is there but
// cannot be opened or viewed.
int OpenSharedSection(SharedSection* section, const wchar_t* name);

// Order of two SYSTEMTIMEs, the day of the week ignored.
int CompareSystemTime(const SYSTEMTIME& a, const SYSTEMTIME& b);

// The new bytes of one ring read in one tick.
struct ProcRingBlocks {
  CByteBuffer block[kProcAreas][kProcRingsMax];
};

// One traced process's region and how far each of its rings was read.
class CTraceProcFile {
 public:
  CTraceProcFile(uint32_t global, uint32_t pid, const wchar_t* tag);
  int Open();
  // Copies the header (big-endian words converted for the decoder) and the
  // new bytes of every wanted ring. 0 when the mutex stayed busy.
  int Read(DWORD timeoutMs, uint8_t* header, ProcRingBlocks* blocks, bool area0, bool area1);
  // The bytes written since `position` into a ring of whose head and data
  // `room` bytes are readable, as one block in write order (a wrapped ring
  // gives its tail first). Appends them to `out` and moves the position.
  // 0 when the ring is empty, unchanged or damaged.
  static int ReadNew(const uint8_t* ring, uint64_t room, CByteBuffer* out, uint32_t* position);

  uint32_t Pid() const { return m_pid; }
  bool IsOpen() const { return m_section.view.valid(); }

 private:
  void ReadRing(uint32_t area, uint32_t index, uint64_t areaStart, uint64_t areaSize, uint32_t ringOffset,
                ProcRingBlocks* blocks);

  uint32_t m_global;
  uint32_t m_pid;
  wchar_t m_tag[kOlderTagChars];
  SharedSection m_section;
  uint32_t m_positions[kProcAreas][kProcRingsMax];
};

// The process table of one name set (session-local or Global\) and the
// regions of its live processes.
class CTraceManagerView {
 public:
  explicit CTraceManagerView(uint32_t global) : m_global(global) { m_tag[0] = 0; }
  CTraceManagerView(const CTraceManagerView&) = delete;
  CTraceManagerView& operator=(const CTraceManagerView&) = delete;
  ~CTraceManagerView() { Close(); }

  // Opens the table when not yet open, drops the regions of processes that
  // are gone and opens the regions of new ones. The state: 1 usable, 0 not
  // there (tried again), -1 failed for this run.
  int Refresh(DWORD timeoutMs);
  void Close();
  void SetTag(const wchar_t* tag);

  int State() const { return m_state; }
  size_t FileCount() const { return m_files.count; }
  CTraceProcFile* File(size_t index) { return m_files[index]; }

  // How a listed process is judged alive; a test may replace it.
  using AliveFn = int (*)(uint32_t pid);
  void SetAliveFunction(AliveFn alive) { m_alive = alive; }
  // 1 alive (or not known to be gone), 0 gone.
  static int ProcessAlive(uint32_t pid);

 private:
  void DropFiles(CGrowArray<uint32_t>& listed);
  void AddFiles(const CGrowArray<uint32_t>& listed);

  uint32_t m_global;
  int m_state = 0;
  wchar_t m_tag[kOlderTagChars];
  SharedSection m_section;
  CGrowArray<CTraceProcFile*> m_files;
  AliveFn m_alive = &ProcessAlive;
};

// The record region and the newest record already taken from it.
class CTraceStone {
 public:
  CTraceStone() { m_tag[0] = 0; }
  int Open();
  void Close();
  void SetTag(const wchar_t* tag);
  // Locks the region and returns its first record not taken yet (or where
  // the walk ended, which is `*end` when none is new); null when the mutex
  // stayed busy or the region is not open. The mutex stays held until
  // Release.
  const uint8_t* ReadNew(DWORD timeoutMs, const uint8_t** end);
  // The record at `record` when its head and text lie before `end`: its
  // length, else 0.
  static size_t RecordLength(const uint8_t* record, const uint8_t* end);
  // Releases the mutex; `last` (null when nothing was taken) becomes the
  // newest record taken, and `atLastTime` counts the records taken in this
  // round with its time.
  void Release(const uint8_t* last, uint32_t atLastTime);
  int State() const { return m_state; }

 private:
  int m_state = 0;
  wchar_t m_tag[kOlderTagChars];
  SharedSection m_section;
  bool m_anyTaken = false;
  SYSTEMTIME m_newest = {};
  // Records with the newest time already taken: a later record with that
  // same time is new.
  uint32_t m_takenAtNewest = 0;
};

// The SYSTEMTIME of a record of the record region.
SYSTEMTIME StoneRecordTime(const uint8_t* record);
