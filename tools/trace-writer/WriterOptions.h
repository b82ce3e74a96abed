// The trace writer's command line.
#pragma once

#include <cstdint>
#include <string>

// What a writer does wrong on purpose, so the capture's defences can be
// tried against a real process.
enum class WriterFault {
  kNone,
  kDieHoldingMutex,  // half way: reserve a record, write half of it, die
  kBadMagic,         // after the records: the ring's magic is damaged
  kBadVersion,       // ... its version
  kBadEnd,           // ... its end lies past the mapping
  kBadCount,         // ... its record count is impossible
  kZeroLength,       // ... one more record whose length is 0
  kNewGeneration,    // half way: the ring restarts with a new generation
  kHoldMutex,        // half way: the mutex is held over a second
  kSignalNoRing,     // only the event is signalled; no mutex, no mapping
  // The one-message inputs and the older sources.
  kUnterminated,  // kel-buffer, dbwin-raw, copydata: text (and module) fill their room, no terminator
  kEmptyText,     // kel-buffer, dbwin-raw: the text is empty
  kNoPrefix,      // copydata: the message without "(module:pid:tid)"
  kIgnoredData,   // copydata: dwData 1234, which the tool ignores
  kEmptyData,     // copydata: cbData 0
  kTooLong,       // copydata: 4096 bytes of text
  kSameTime,      // qrv: records share their time in pairs
  kBadOffset,     // qrc: a descriptor's ring offset lies past the region
  kBadSize,       // qrc: a ring's size runs past its area
  kShortEvent,    // qrc: an event whose length is below 12
  kLongEvent,     // qrc: an event whose length runs past the written bytes
  kDeadPid,       // qrc: the process table also lists a process that is gone
};

// Which input the writer feeds.
enum class WriterInput {
  kRing,       // a writer channel
  kKelBuffer,  // the shared one-record buffer
  kDbwin,      // OutputDebugStringA
  kDbwinRaw,   // the debugger buffer filled by hand
  kCopyData,   // WM_COPYDATA to the window named by the tracer property
  kQrv,        // the older record region
  kQrc,        // the older process table and per-process region
};

constexpr uint32_t kWriterKinds = 4;
constexpr uint32_t kDefaultRecordCount = 1000;
constexpr uint32_t kDefaultBatch = 64;
constexpr uint32_t kDefaultRingBytes = 1u << 20;
constexpr uint32_t kMinRingBytes = 16384;  // the header and the largest record
constexpr uint32_t kMaxRingBytes = 1u << 30;
constexpr uint32_t kMaxWriterThreads = 64;
constexpr uint32_t kMaxBatch = 65536;
constexpr uint8_t kDefaultWriterCipher = 4;
constexpr uint8_t kDefaultWriterEncoding = 4;
constexpr uint32_t kDefaultWriterLevel = 2;
constexpr const wchar_t* kDefaultWriterModule = L"trace-writer.exe";
constexpr size_t kMaxWriterModuleUnits = 127;
constexpr size_t kMaxWriterTagUnits = 16;
constexpr size_t kMaxStartEventUnits = 63;

struct WriterOptions {
  uint32_t kind = 0;
  bool global = false;
  uint32_t count = kDefaultRecordCount;  // per thread
  uint32_t batch = kDefaultBatch;        // records per mutex hold
  uint32_t rate = 0;                     // records per second per thread, 0 = no pause
  uint32_t ringBytes = kDefaultRingBytes;
  uint32_t threads = 1;
  uint32_t id = 0;  // writer id in the messages; the pid unless given
  uint8_t cipher = kDefaultWriterCipher;
  uint8_t encoding = kDefaultWriterEncoding;
  uint32_t level = kDefaultWriterLevel;
  std::wstring module = kDefaultWriterModule;
  uint32_t waitEventMs = 0;
  WriterFault fault = WriterFault::kNone;
  uint32_t lingerMs = 0;  // keeps the channel open after the last record
  WriterInput input = WriterInput::kRing;
  uint32_t layoutVersion = 2;  // of the shared one-record buffer, 0..3 (4 = unknown)
  uint32_t levelCode = 0;      // of the shared one-record buffer
  std::wstring tag;       // appended to the object names, so tests do not meet each other
  // A manual-reset event the writer waits for before it writes: a process
  // started ahead of time writes when its starter says so.
  std::wstring startEvent;
};

// How long a writer waits for its start event.
constexpr uint32_t kStartEventWaitMs = 300000;

// Parses argv[1..argc-1] into `options` (which holds the defaults, the pid
// as id). Returns true, or false with a message in `error`.
bool ParseWriterOptions(int argc, const wchar_t* const* argv, WriterOptions* options, std::wstring* error);

// The usage text printed after a bad argument.
const wchar_t* WriterUsage();

// The fault's command-line name; null for kNone.
const wchar_t* FaultName(WriterFault fault);
// The input's command-line name.
const wchar_t* InputName(WriterInput input);
