// Raw deflate of one zip entry on several threads.
//
// The entry is cut into chunks of about kChunkBytes. Each chunk is deflated
// on its own, primed with the 32 KiB of data in front of it (so matches
// still reach back across the cut and the ratio stays that of one stream),
// and ends on a byte boundary with a sync flush; the last one ends the
// stream. Put one after another they are one ordinary deflate stream that
// any inflater reads, and the chunks' CRC-32s combine into the entry's.
//
// The caller fills the chunks and gets the packed bytes, in order, on its
// own thread; helper threads deflate the chunks filled so far, and the
// caller deflates one itself whenever it would otherwise wait. Helpers are
// started only once there is more than one chunk, so a small entry costs no
// thread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include <zlib.h>

#include "core/Handle.h"

// What becomes of a deflate: the bytes went out whole, or the first fault.
enum class DeflateResult { kOk, kNoMemory, kDeflateFailed, kSinkFailed };

class CParallelDeflate {
 public:
  // Takes the packed bytes in order; false stops the deflate.
  class ISink {
   public:
    virtual bool Write(const uint8_t* data, size_t size) = 0;

   protected:
    ~ISink() = default;
  };

  static constexpr size_t kChunkBytes = 1u << 20;
  // The most one Room call may ask for.
  static constexpr size_t kMaxRoom = 16u << 10;
  // Chunks filled or in flight at once, and helper threads besides the caller.
  static constexpr size_t kSlots = 16;
  static constexpr int kMostHelpers = 7;

  // deflateInit2's level, memory level and strategy for every chunk.
  CParallelDeflate(ISink* sink, int level, int memLevel, int strategy);
  CParallelDeflate(const CParallelDeflate&) = delete;
  CParallelDeflate& operator=(const CParallelDeflate&) = delete;
  // Ends the helpers (each finishes the chunk it is on) and frees everything.
  ~CParallelDeflate();

  // `bytes` more bytes of the entry are written to the returned place and
  // then counted with Advance. Null after a fault, or for more than kMaxRoom.
  uint8_t* Room(size_t bytes);
  void Advance(size_t bytes);
  // Copies `size` bytes in; false after a fault.
  bool Append(const void* data, size_t size);
  // Deflates what is left, hands every packed byte to the sink and ends the
  // helpers. kOk, or the first fault (nothing more went to the sink after it).
  DeflateResult Finish();

  // The CRC-32 and the count of the bytes taken, once Finish gave kOk.
  uint32_t Crc() const { return m_crc; }
  uint64_t BytesIn() const { return m_bytesIn; }
  // The first fault so far (kOk while none).
  DeflateResult Result() const { return m_result; }

 private:
  enum ChunkState { kFree, kSealed, kBusy, kDone, kFailed };

  struct Chunk {
    // The dictionary (the data in front of the chunk), then the chunk.
    uint8_t* input = nullptr;
    size_t dictionary = 0;
    size_t size = 0;
    bool last = false;
    uint8_t* output = nullptr;
    size_t outputCapacity = 0;
    size_t outputSize = 0;
    uint32_t crc = 0;
    DeflateResult failure = DeflateResult::kOk;
    ChunkState state = kFree;  // guarded by m_lock
  };

  static unsigned __stdcall HelperProc(void* self);
  // Everything the helpers run is C and Win32 calls: nothing throws.
  void HelperLoop() noexcept;
  // Deflates one chunk with `stream` into its output; the chunk's failure,
  // or kOk.
  DeflateResult DeflateChunk(z_stream& stream, Chunk& chunk);
  // With m_lock held: takes the oldest sealed chunk and deflates it with
  // `stream`, letting the lock go meanwhile.
  void DeflateNextLocked(z_stream& stream);
  bool InitStream(z_stream& stream);

  Chunk& Slot(uint64_t index) { return m_chunks[index % kSlots]; }
  // Makes the chunk m_sealed the one being filled: its slot free and
  // allocated, its dictionary copied from the chunk before it.
  bool OpenChunk();
  // Hands the chunk being filled to the deflaters.
  void Seal(bool last);
  // Writes the oldest unwritten chunk when it is deflated; otherwise
  // deflates a waiting chunk here, or (with `wait`) waits for a helper.
  // False after a fault, or without `wait` when nothing could be done.
  bool Pump(bool wait);
  void StartHelper();
  // Helpers end after the chunk they are on; nothing more is written.
  void RequestStop();
  void StopHelpers();
  void Fail(DeflateResult failure);

  ISink* m_sink;
  const int m_level;
  const int m_memLevel;
  const int m_strategy;
  int m_maxHelpers = 0;

  Chunk m_chunks[kSlots];
  uint64_t m_sealed = 0;   // chunks handed to the deflaters; guarded by m_lock
  uint64_t m_claimed = 0;  // of those, taken by a deflater; guarded by m_lock
  bool m_stop = false;     // guarded by m_lock
  // The caller's own: chunks written to the sink, and its stream.
  uint64_t m_written = 0;
  bool m_open = false;  // the chunk m_sealed is being filled
  z_stream m_stream = {};
  bool m_streamReady = false;
  uint32_t m_crc = 0;
  uint64_t m_bytesIn = 0;
  bool m_finished = false;
  DeflateResult m_result = DeflateResult::kOk;

  SRWLOCK m_lock = SRWLOCK_INIT;
  // Woken when a chunk is sealed, deflated, or the helpers must stop.
  CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
  CHandle m_helpers[kMostHelpers];
  int m_helperCount = 0;
};
