// Small pieces every writer input shares: unaligned stores in both byte
// orders, the wall clock in milliseconds since 1970, and waiting for an
// object that another process creates.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

inline void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, sizeof(v)); }
inline void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof(v)); }
inline void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof(v)); }
inline uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}
inline void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline uint32_t GetBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;  // 1970 in 100 ns since 1601
constexpr uint64_t kFileTimeTicksPerMs = 10000;
constexpr uint32_t kMsPerSecond = 1000;

inline uint64_t FileTimeValue(const FILETIME& time) {
  return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Milliseconds since 1970 (UTC).
inline uint64_t UnixNowMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (FileTimeValue(now) - kFileTimeUnixEpoch) / kFileTimeTicksPerMs;
}

// Calls `open` until it gives a handle or `ms` have passed; nobody signals
// the creation of a named object, so this polls.
template <class Open>
HANDLE PollForObject(Open open, uint32_t ms) {
  constexpr DWORD kPollMs = 5;
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    const HANDLE handle = open();
    if (handle != nullptr || GetTickCount64() - start >= ms) {
      return handle;
    }
    Sleep(kPollMs);
  }
}

// With a rate a batch holds at most a tenth of a second's records, so the
// records come spread over each second rather than in one burst.
inline uint32_t PacedBatch(uint32_t batch, uint32_t rate) {
  constexpr uint32_t kBatchesPerSecond = 10;
  if (rate == 0) {
    return batch;
  }
  const uint32_t most = rate / kBatchesPerSecond > 0 ? rate / kBatchesPerSecond : 1;
  return batch < most ? batch : most;
}

// Sleeps until `done` records are due at `rate` per second (0: no pause)
// from the tick `start`.
inline void Pace(uint32_t rate, uint64_t done, ULONGLONG start) {
  if (rate == 0) {
    return;
  }
  const ULONGLONG due = start + done * kMsPerSecond / rate;
  const ULONGLONG now = GetTickCount64();
  if (due > now) {
    Sleep(DWORD(due - now));
  }
}
