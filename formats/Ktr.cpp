// The narrow record form and the writer of KELT images.
#include "formats/Ktr.h"

#include <emmintrin.h>
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "core/Cipher.h"
#include "core/Handle.h"
#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "formats/FileReplace.h"
#include "formats/PercentSteps.h"
#include "formats/RecordStrings.h"

namespace {

constexpr size_t kNarrowSubNameOffset = 48;
constexpr size_t kNarrowReservedOffset = 50;
// A name of at most 127 units takes at most 3 bytes a unit in UTF-8 (a
// surrogate pair takes 4 for 2 units).
constexpr size_t kNarrowNameBytes = 3 * kRecordNameUnits;
constexpr uint32_t kReplacementChar = 0xFFFD;

inline void Put16(uint8_t* p, uint16_t value) { std::memcpy(p, &value, sizeof(value)); }
inline void Put32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, sizeof(value)); }
inline uint32_t Get32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

inline bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c < 0xDC00; }
inline bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c < 0xE000; }

// UTF-16 to UTF-8 into at most `capacity` bytes, stopping before a character
// that does not fit, so a cut text is still whole characters. An unpaired
// surrogate becomes U+FFFD. Returns the bytes written (no terminator);
// `whole` (may be null) tells whether every unit was written.
size_t EncodeUtf8(const WideSpan& span, uint8_t* out, size_t capacity, bool* whole = nullptr) {
  constexpr size_t kStep = 8;
  const __m128i notAscii = _mm_set1_epi16(int16_t(0xFF80));
  size_t written = 0;
  size_t i = 0;
  while (i < span.units) {
    // ASCII runs eight units at a time; all eight bytes are stored, those
    // past the first other unit are written again.
    while (i + kStep <= span.units && capacity - written >= kStep) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(span.text + i));
      const unsigned ascii =
          unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, notAscii), _mm_setzero_si128())));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + written), _mm_packus_epi16(v, v));
      if (ascii != 0xFFFF) {
        const size_t run = size_t(__builtin_ctz(~ascii)) / sizeof(wchar_t);
        written += run;
        i += run;
        break;
      }
      written += kStep;
      i += kStep;
    }
    if (i >= span.units) {
      break;
    }
    uint32_t c = uint16_t(span.text[i]);
    size_t used = 1;
    if (IsHighSurrogate(c) && i + 1 < span.units && IsLowSurrogate(uint16_t(span.text[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint16_t(span.text[i + 1]) - 0xDC00);
      used = 2;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = kReplacementChar;
    }
    const size_t need = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (need > capacity - written) {
      break;
    }
    uint8_t* p = out + written;
    switch (need) {
      case 1:
        p[0] = uint8_t(c);
        break;
      case 2:
        p[0] = uint8_t(0xC0 | (c >> 6));
        p[1] = uint8_t(0x80 | (c & 0x3F));
        break;
      case 3:
        p[0] = uint8_t(0xE0 | (c >> 12));
        p[1] = uint8_t(0x80 | ((c >> 6) & 0x3F));
        p[2] = uint8_t(0x80 | (c & 0x3F));
        break;
      default:
        p[0] = uint8_t(0xF0 | (c >> 18));
        p[1] = uint8_t(0x80 | ((c >> 12) & 0x3F));
        p[2] = uint8_t(0x80 | ((c >> 6) & 0x3F));
        p[3] = uint8_t(0x80 | (c & 0x3F));
        break;
    }
    written += need;
    i += used;
  }
  if (whole != nullptr) {
    *whole = i >= span.units;
  }
  return written;
}

// A UTF-8 string with its NUL, ready to be placed.
struct NarrowText {
  uint8_t bytes[kNarrowNameBytes + 1];
  size_t size = 0;  // NUL included; 0 for a string that takes no room
};

// "module" or "module@sub-name", cut to 127 bytes on a character boundary;
// the "@" goes only with at least one character of the sub-name.
void MakeModuleText(const WideSpan& module, const WideSpan& subName, NarrowText* text) {
  size_t n = EncodeUtf8(module, text->bytes, kNarrowModuleTextBytes);
  if (subName.units != 0 && n + 1 < kNarrowModuleTextBytes) {
    const size_t sub = EncodeUtf8(subName, text->bytes + n + 1, kNarrowModuleTextBytes - n - 1);
    if (sub != 0) {
      text->bytes[n] = '@';
      n += 1 + sub;
    }
  }
  text->bytes[n] = 0;
  text->size = n + 1;
}

// An optional name: no room at all when empty.
void MakeOptionalText(const WideSpan& span, NarrowText* text) {
  const size_t n = EncodeUtf8(span, text->bytes, kNarrowNameBytes);
  text->bytes[n] = 0;
  text->size = n != 0 ? n + 1 : 0;
}


}  // namespace

uint8_t* ToNarrowRecord(uint8_t* output, uint32_t limit, const TraceRecord* record) {
  if (output == nullptr || record == nullptr || record->length < kRecordFixedSize) {
    return nullptr;
  }
  // Readers refuse anything longer, and the length field has 16 bits.
  if (limit > kMaxNarrowRecord) {
    limit = kMaxNarrowRecord;
  }
  if (limit < kNarrowAreaOffset + kNarrowAreaAlign) {
    return nullptr;
  }
  const size_t areaMax = (limit - kNarrowAreaOffset) / kNarrowAreaAlign * kNarrowAreaAlign;

  const WideSpan subName = RecordString(record, record->subNameOffset);
  const WideSpan message = RecordString(record, record->messageOffset);
  NarrowText moduleText, hint, sub;
  MakeModuleText(RecordString(record, record->moduleOffset), subName, &moduleText);
  MakeOptionalText(RecordString(record, record->hintOffset), &hint);
  MakeOptionalText(subName, &sub);

  const size_t names = moduleText.size + hint.size + sub.size;
  if (names + 1 > areaMax) {
    return nullptr;  // not even an empty message fits
  }
  // The message goes straight to its place; only a message that does not
  // fit whole takes all the room left (its NUL included), cut on a
  // character boundary.
  const size_t moduleAt = kNarrowAreaOffset;
  const size_t messageAt = moduleAt + moduleText.size + hint.size;
  bool whole = false;
  const size_t messageBytes = EncodeUtf8(message, output + messageAt, areaMax - names - 1, &whole);
  size_t messageSize = messageBytes + 1;
  size_t area = (names + messageSize + kNarrowAreaAlign - 1) / kNarrowAreaAlign * kNarrowAreaAlign;
  if (!whole) {
    area = areaMax;
    messageSize = areaMax - names;
  }

  std::memcpy(output, record, kNarrowHeadSize);
  output[kNarrowVersionOffset] = kTraceVersion;
  output[kNarrowEncodingOffset] = kNarrowWrittenEncoding;
  output[kNarrowCipherKindOffset] = kNarrowWrittenCipher;
  Put32(output + kNarrowLevelOffset, Get32(output + kNarrowLevelOffset) & ~kMarkMask);
  Put16(output + kNarrowReservedOffset, 0);

  const size_t hintAt = hint.size != 0 ? moduleAt + moduleText.size : moduleAt + moduleText.size - 1;
  const size_t subAt = sub.size != 0 ? messageAt + messageSize : messageAt + messageSize - 1;
  const size_t length = kNarrowAreaOffset + area;
  Put16(output + kNarrowLengthOffset, uint16_t(length));
  Put16(output + kNarrowModuleOffset, uint16_t(moduleAt));
  Put16(output + kNarrowHintOffset, uint16_t(hintAt));
  Put16(output + kNarrowMessageOffset, uint16_t(messageAt));
  Put16(output + kNarrowSubNameOffset, uint16_t(subAt));

  uint8_t* areaBytes = output + kNarrowAreaOffset;
  std::memcpy(output + moduleAt, moduleText.bytes, moduleText.size);
  std::memcpy(output + moduleAt + moduleText.size, hint.bytes, hint.size);
  // The message's NUL and spare room, then the sub-name and the padding.
  std::memset(output + messageAt + messageBytes, 0, messageSize - messageBytes);
  std::memcpy(output + messageAt + messageSize, sub.bytes, sub.size);
  const size_t used = messageAt + messageSize + sub.size - kNarrowAreaOffset;
  std::memset(areaBytes + used, 0, area - used);

  if (!EncipherArea(kCipherAes256Record, areaBytes, area)) {
    DebugTraceA("ToNarrowRecord, encipher, %u", unsigned(area));
    return nullptr;
  }
  return output;
}

void MakeLinearHeader(const TraceBufferHeader* live, TraceBufferHeader* header) {
  if (live != nullptr) {
    *header = *live;
  } else {
    InitBufferHeader(header, kTraceHeaderSize);  // a store that never held a record
  }
  header->byteOrderMark = kTraceByteOrderMark;
  header->version = kTraceVersion;
  header->headerSize = kTraceHeaderSize;
  header->flags = kTraceBufferLinear;
  header->freeBytes = 0;
  header->end = 0;
  header->first = kTraceHeaderSize;
  header->write = kTraceHeaderSize;
  header->lastSequence = 0;
}

namespace {

// The image's bytes go to a byte buffer in memory.
class CBufferSink {
 public:
  explicit CBufferSink(CByteBuffer& out) : m_out(out) {}
  uint8_t* Room(size_t bytes) { return m_out.Reserve(bytes); }
  void Advance(size_t bytes) { m_out.size += bytes; }

 private:
  CByteBuffer& m_out;
};

// The image's bytes go to a file in large pieces through one buffer, so a
// save needs no memory of the image's size.
class CFileSink {
 public:
  static constexpr size_t kPieceBytes = 1u << 20;

  explicit CFileSink(HANDLE file) : m_file(file), m_piece(kPieceBytes) {}
  uint8_t* Room(size_t bytes) {
    if (m_failed || bytes > kPieceBytes || m_piece.Data() == nullptr) {
      return nullptr;
    }
    if (bytes > kPieceBytes - m_piece.Size() && !Flush()) {
      return nullptr;
    }
    return m_piece.Reserve(bytes);
  }
  void Advance(size_t bytes) {
    m_piece.size += bytes;
    m_written += bytes;
  }
  bool Flush() {
    m_failed = m_failed || !WriteAllBytes(m_file, m_piece.Data(), m_piece.Size());
    m_piece.Consume(m_piece.Size());
    return !m_failed;
  }
  uint64_t Written() const { return m_written; }

 private:
  HANDLE m_file;
  CByteBuffer m_piece;
  uint64_t m_written = 0;
  bool m_failed = false;
};

// Writes a linear image of the store or the view through the sink: the
// header with the number of records, then each record in its narrow form.
// Every record is written or the result is 0, so the count is known first.
template <typename Sink>
int WriteImage(CTraceMgr* store, CTraceView* view, Sink& sink) {
  TraceBufferHeader header;
  MakeLinearHeader(store->Buffer(), &header);
  // The count of what is written, so an image of one view says how many
  // records it holds.
  const uint64_t count = view != nullptr ? view->RecordCount()
                                         : (store->Buffer() != nullptr ? store->Buffer()->recordCount : 0);
  if (count > UINT32_MAX) {
    return 0;
  }
  header.recordCount = uint32_t(count);
  uint8_t* room = sink.Room(sizeof(header));
  if (room == nullptr) {
    return 0;
  }
  std::memcpy(room, &header, sizeof(header));
  sink.Advance(sizeof(header));

  // Each record is built in place in the sink's room.
  auto append = [&](const TraceRecord* record) {
    uint8_t* out = sink.Room(kNarrowRecordLimit);
    if (out == nullptr || ToNarrowRecord(out, kNarrowRecordLimit, record) == nullptr) {
      return false;
    }
    uint16_t length;
    std::memcpy(&length, out, sizeof(length));
    sink.Advance(length);
    return true;
  };
  CPercentSteps steps(count);
  uint32_t percent = 0;
  if (view != nullptr) {
    for (size_t i = 0; i < count; ++i) {
      if (!append(view->RecordAt(i))) {
        return 0;
      }
      if (steps.Reached(i + 1, &percent)) {
        view->SetProgress(percent);
      }
    }
  } else if (count != 0) {
    CTraceRingWalker walker(store->Buffer());
    for (uint32_t i = 0; i < count; ++i) {
      const TraceRecord* record = walker.Next();
      // A walk that ends early met a damaged buffer: the image would lack records.
      if (record == nullptr || !append(record)) {
        return 0;
      }
      if (steps.Reached(uint64_t(i) + 1, &percent)) {
        store->SetProgress(percent);
      }
    }
  }
  return store->AfterWrite();
}

}  // namespace

int WriteKeltImage(CTraceMgr* store, CByteBuffer& out, CTraceView* view) {
  if (store == nullptr) {
    return 0;
  }
  CBufferSink sink(out);
  return WriteImage(store, view, sink);
}

int WriteKeltImage(CTraceMgr* store, IKeltImageSink& sink, CTraceView* view) {
  return store != nullptr ? WriteImage(store, view, sink) : 0;
}

int SaveKtr(CTraceMgr* store, const wchar_t* path, CTraceView* view) {
  if (store == nullptr || path == nullptr || path[0] == 0) {
    return 0;
  }
  CFileReplacement replacement;
  if (!replacement.Begin(path)) {
    return 0;
  }
  CHandle file(CreateFileW(replacement.TempPath(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    DebugTraceA("SaveKtr, create, %lu", GetLastError());
    return 0;
  }
  CFileSink sink(file.get());
  bool saved = WriteImage(store, view, sink) != 0 && sink.Flush() && sink.Written() <= kMaxKtrFileSize;
  // Only a cleanly closed, complete file replaces the old one; the
  // replacement deletes the temporary file otherwise.
  saved = file.Close() == 1 && saved;
  return saved ? replacement.Commit() : 0;
}
