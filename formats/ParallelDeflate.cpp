#include "formats/ParallelDeflate.h"

#include <process.h>

#include <cstdlib>
#include <cstring>

#include "core/SysUtil.h"

namespace {

// Raw deflate (no zlib header), the usual window.
constexpr int kRawWindowBits = -MAX_WBITS;
// Deflate looks back at most this far: all of a chunk's dictionary it uses.
constexpr size_t kDictionaryBytes = 32u << 10;
// A chunk's input block: dictionary, the chunk, and room for the last write
// that takes it past kChunkBytes.
constexpr size_t kInputCapacity = kDictionaryBytes + CParallelDeflate::kChunkBytes + CParallelDeflate::kMaxRoom;
// deflateBound counts a finished stream; a sync flush adds an empty stored
// block and the bits before it.
constexpr size_t kFlushSlack = 64;

}  // namespace

CParallelDeflate::CParallelDeflate(ISink* sink, int level, int memLevel, int strategy)
    : m_sink(sink), m_level(level), m_memLevel(memLevel), m_strategy(strategy) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const int spare = int(system.dwNumberOfProcessors) - 1;
  m_maxHelpers = spare < kMostHelpers ? spare : kMostHelpers;
}

CParallelDeflate::~CParallelDeflate() {
  StopHelpers();
  if (m_streamReady) {
    deflateEnd(&m_stream);
  }
  for (Chunk& chunk : m_chunks) {
    std::free(chunk.input);
    std::free(chunk.output);
  }
}

uint8_t* CParallelDeflate::Room(size_t bytes) {
  if (m_result != DeflateResult::kOk || m_finished || bytes > kMaxRoom) {
    return nullptr;
  }
  if (!m_open && !OpenChunk()) {
    return nullptr;
  }
  Chunk& chunk = Slot(m_sealed);
  return chunk.input + chunk.dictionary + chunk.size;
}

void CParallelDeflate::Advance(size_t bytes) {
  Chunk& chunk = Slot(m_sealed);
  chunk.size += bytes;
  m_bytesIn += bytes;
  if (chunk.size >= kChunkBytes) {
    Seal(false);
    // Whatever is deflated already goes out now: a sink that refuses stops
    // the filling early.
    while (Pump(false)) {
    }
  }
}

bool CParallelDeflate::Append(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size != 0) {
    uint8_t* room = Room(kMaxRoom);
    if (room == nullptr) {
      return false;
    }
    const size_t left = kChunkBytes - Slot(m_sealed).size;
    const size_t piece = size < left ? size : left;
    std::memcpy(room, bytes, piece);
    Advance(piece);
    bytes += piece;
    size -= piece;
  }
  return m_result == DeflateResult::kOk;
}

DeflateResult CParallelDeflate::Finish() {
  if (m_finished) {
    return m_result;
  }
  // The last chunk ends the stream, even when it holds nothing.
  if (m_result == DeflateResult::kOk && (m_open || OpenChunk())) {
    Seal(true);
    while (m_written < m_sealed && Pump(true)) {
    }
  }
  m_finished = true;
  StopHelpers();
  return m_result;
}

bool CParallelDeflate::OpenChunk() {
  // The slot is free once the chunk that had it went to the sink.
  while (m_sealed >= m_written + kSlots) {
    if (!Pump(true)) {
      return false;
    }
  }
  Chunk& chunk = Slot(m_sealed);
  if (chunk.input == nullptr) {
    chunk.input = static_cast<uint8_t*>(std::malloc(kInputCapacity));
    if (chunk.input == nullptr) {
      Fail(DeflateResult::kNoMemory);
      return false;
    }
  }
  chunk.dictionary = 0;
  if (m_sealed != 0) {
    // A helper may be reading the chunk before; reading it here too is safe.
    const Chunk& before = Slot(m_sealed - 1);
    const size_t have = before.dictionary + before.size;
    const size_t take = have < kDictionaryBytes ? have : kDictionaryBytes;
    std::memmove(chunk.input, before.input + have - take, take);
    chunk.dictionary = take;
  }
  chunk.size = 0;
  chunk.last = false;
  m_open = true;
  return true;
}

void CParallelDeflate::Seal(bool last) {
  Chunk& chunk = Slot(m_sealed);
  chunk.last = last;
  AcquireSRWLockExclusive(&m_lock);
  chunk.state = kSealed;
  const uint64_t sealed = ++m_sealed;
  ReleaseSRWLockExclusive(&m_lock);
  WakeAllConditionVariable(&m_changed);
  m_open = false;
  // One helper more for every chunk beyond the first, up to the limit: the
  // caller itself deflates whatever they leave.
  if (m_helperCount < m_maxHelpers && uint64_t(m_helperCount) + 1 < sealed) {
    StartHelper();
  }
}

bool CParallelDeflate::Pump(bool wait) {
  AcquireSRWLockExclusive(&m_lock);
  for (;;) {
    if (m_stop || m_written == m_sealed) {
      ReleaseSRWLockExclusive(&m_lock);
      return false;
    }
    Chunk& next = Slot(m_written);
    if (next.state == kDone || next.state == kFailed) {
      break;
    }
    if (!wait) {
      ReleaseSRWLockExclusive(&m_lock);
      return false;
    }
    if (m_claimed < m_sealed && (m_streamReady || InitStream(m_stream))) {
      m_streamReady = true;
      DeflateNextLocked(m_stream);
    } else if (m_claimed < m_sealed) {
      // No stream of our own: waiting could be for ever without helpers.
      ReleaseSRWLockExclusive(&m_lock);
      Fail(DeflateResult::kNoMemory);
      return false;
    } else {
      SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
    }
  }
  ReleaseSRWLockExclusive(&m_lock);

  Chunk& chunk = Slot(m_written);
  if (chunk.state == kFailed) {
    Fail(chunk.failure);
    return false;
  }
  if (!m_sink->Write(chunk.output, chunk.outputSize)) {
    Fail(DeflateResult::kSinkFailed);
    return false;
  }
  m_crc = uint32_t(crc32_combine(m_crc, chunk.crc, z_off_t(chunk.size)));
  AcquireSRWLockExclusive(&m_lock);
  chunk.state = kFree;
  ++m_written;
  ReleaseSRWLockExclusive(&m_lock);
  return true;
}

bool CParallelDeflate::InitStream(z_stream& stream) {
  stream = z_stream{};
  return deflateInit2(&stream, m_level, Z_DEFLATED, kRawWindowBits, m_memLevel, m_strategy) == Z_OK;
}

DeflateResult CParallelDeflate::DeflateChunk(z_stream& stream, Chunk& chunk) {
  if (deflateReset(&stream) != Z_OK ||
      (chunk.dictionary != 0 && deflateSetDictionary(&stream, chunk.input, uInt(chunk.dictionary)) != Z_OK)) {
    return DeflateResult::kDeflateFailed;
  }
  const uint8_t* data = chunk.input + chunk.dictionary;
  chunk.crc = uint32_t(crc32(0, data, uInt(chunk.size)));
  const size_t bound = deflateBound(&stream, uLong(chunk.size)) + kFlushSlack;
  if (chunk.outputCapacity < bound) {
    std::free(chunk.output);
    chunk.output = static_cast<uint8_t*>(std::malloc(bound));
    chunk.outputCapacity = chunk.output != nullptr ? bound : 0;
    if (chunk.output == nullptr) {
      return DeflateResult::kNoMemory;
    }
  }
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = uInt(chunk.size);
  stream.next_out = chunk.output;
  stream.avail_out = uInt(chunk.outputCapacity);
  const int flush = chunk.last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    const int result = deflate(&stream, flush);
    const size_t done = size_t(stream.next_out - chunk.output);
    if (result == Z_STREAM_END || (result == Z_OK && !chunk.last && stream.avail_in == 0 && stream.avail_out != 0)) {
      chunk.outputSize = done;
      return DeflateResult::kOk;
    }
    if ((result != Z_OK && result != Z_BUF_ERROR) || stream.avail_out != 0) {
      DebugTraceA("CParallelDeflate::DeflateChunk, 1, deflate %d", result);
      return DeflateResult::kDeflateFailed;
    }
    // The bound fell short: more room, keeping what is written.
    const size_t grown = chunk.outputCapacity + chunk.outputCapacity / 2;
    auto* output = static_cast<uint8_t*>(std::realloc(chunk.output, grown));
    if (output == nullptr) {
      return DeflateResult::kNoMemory;
    }
    chunk.output = output;
    chunk.outputCapacity = grown;
    stream.next_out = output + done;
    stream.avail_out = uInt(grown - done);
  }
}

void CParallelDeflate::StartHelper() {
  const uintptr_t thread = _beginthreadex(nullptr, 0, HelperProc, this, 0, nullptr);
  if (thread == 0) {
    DebugTraceA("CParallelDeflate::StartHelper, 1, _beginthreadex failed after %d", m_helperCount);
    m_maxHelpers = m_helperCount;
    return;
  }
  m_helpers[m_helperCount++].reset(reinterpret_cast<HANDLE>(thread));
}

unsigned __stdcall CParallelDeflate::HelperProc(void* self) {
  static_cast<CParallelDeflate*>(self)->HelperLoop();
  return 0;
}

void CParallelDeflate::HelperLoop() noexcept {
  z_stream stream;
  if (!InitStream(stream)) {
    // The caller and the other helpers deflate what this one would have.
    DebugTraceA("CParallelDeflate::HelperLoop, 1, deflateInit2 failed");
    return;
  }
  AcquireSRWLockExclusive(&m_lock);
  for (;;) {
    while (!m_stop && m_claimed == m_sealed) {
      SleepConditionVariableSRW(&m_changed, &m_lock, INFINITE, 0);
    }
    if (m_stop) {
      break;
    }
    DeflateNextLocked(stream);
  }
  ReleaseSRWLockExclusive(&m_lock);
  deflateEnd(&stream);
}

void CParallelDeflate::DeflateNextLocked(z_stream& stream) {
  Chunk& chunk = Slot(m_claimed++);
  chunk.state = kBusy;
  ReleaseSRWLockExclusive(&m_lock);
  chunk.failure = DeflateChunk(stream, chunk);
  AcquireSRWLockExclusive(&m_lock);
  chunk.state = chunk.failure == DeflateResult::kOk ? kDone : kFailed;
  WakeAllConditionVariable(&m_changed);
}

void CParallelDeflate::RequestStop() {
  AcquireSRWLockExclusive(&m_lock);
  m_stop = true;
  ReleaseSRWLockExclusive(&m_lock);
  WakeAllConditionVariable(&m_changed);
}

void CParallelDeflate::StopHelpers() {
  if (m_helperCount == 0) {
    return;
  }
  RequestStop();
  for (int i = 0; i < m_helperCount; ++i) {
    WaitForSingleObject(m_helpers[i].get(), INFINITE);
    m_helpers[i].reset();
  }
  m_helperCount = 0;
}

void CParallelDeflate::Fail(DeflateResult failure) {
  if (m_result == DeflateResult::kOk) {
    m_result = failure;
  }
  RequestStop();
}
