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
  std::wstring tag;       // appended to the object names, so tests do not meet each other
};

// Parses argv[1..argc-1] into `options` (which holds the defaults, the pid
// as id). Returns true, or false with a message in `error`.
bool ParseWriterOptions(int argc, const wchar_t* const* argv, WriterOptions* options, std::wstring* error);

// The usage text printed after a bad argument.
const wchar_t* WriterUsage();

// The fault's command-line name; null for kNone.
const wchar_t* FaultName(WriterFault fault);
