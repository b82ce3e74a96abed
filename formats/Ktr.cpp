// The narrow record form and the writer of KELT images.
#include "formats/Ktr.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "core/Cipher.h"
#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/SysUtil.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "formats/FileHandle.h"

namespace {

constexpr size_t kNarrowSubNameOffset = 48;
constexpr size_t kNarrowReservedOffset = 50;
// A name of at most 127 units takes at most 3 bytes a unit in UTF-8 (a
// surrogate pair takes 4 for 2 units).
constexpr size_t kNarrowNameBytes = 3 * kRecordNameUnits;
constexpr uint32_t kReplacementChar = 0xFFFD;
constexpr uint32_t kPercent = 100;
// WriteFile takes a 32-bit count: larger images go in pieces.
constexpr size_t kWritePieceBytes = 0x40000000;

inline void Put16(uint8_t* p, uint16_t value) { std::memcpy(p, &value, sizeof(value)); }
inline void Put32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, sizeof(value)); }
inline uint32_t Get32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

inline bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c < 0xDC00; }
inline bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c < 0xE000; }

// A string of a stored record: never read beyond the record's own length.
struct WideSpan {
  const wchar_t* text;
  size_t units;  // terminator excluded
};

WideSpan RecordString(const TraceRecord* record, uint16_t offset) {
  if (offset < kRecordFixedSize || offset >= record->length) {
    return {L"", 0};
  }
  const wchar_t* text = record->StringAt(offset);
  return {text, wcsnlen(text, (record->length - offset) / sizeof(wchar_t))};
}

// UTF-16 to UTF-8 into at most `capacity` bytes, stopping before a character
// that does not fit, so a cut text is still whole characters. An unpaired
// surrogate becomes U+FFFD. With a null `out` only counts (no capacity).
// Returns the bytes written (or counted); no terminator.
size_t EncodeUtf8(const WideSpan& span, uint8_t* out, size_t capacity) {
  size_t written = 0;
  for (size_t i = 0; i < span.units;) {
    uint32_t c = uint16_t(span.text[i]);
    size_t used = 1;
    if (IsHighSurrogate(c) && i + 1 < span.units && IsLowSurrogate(uint16_t(span.text[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint16_t(span.text[i + 1]) - 0xDC00);
      used = 2;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = kReplacementChar;
    }
    const size_t need = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (out != nullptr) {
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
    }
    written += need;
    i += used;
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

// Appends every byte or reports a short write.
bool WriteAll(HANDLE file, const uint8_t* data, size_t size) {
  while (size != 0) {
    const DWORD piece = DWORD(size < kWritePieceBytes ? size : kWritePieceBytes);
    DWORD written = 0;
    if (!WriteFile(file, data, piece, &written, nullptr) || written != piece) {
      return false;
    }
    data += piece;
    size -= piece;
  }
  return true;
}

// "<path>.<pid>-<tid>.tmp": beside the target, so the final rename stays on
// one volume, and distinct for every thread that saves.
int MakeTempPath(const wchar_t* path, CWideStrBuilder* temp) {
  wchar_t suffix[48];
  _snwprintf(suffix, sizeof(suffix) / sizeof(suffix[0]), L".%lx-%lx.tmp", GetCurrentProcessId(),
             GetCurrentThreadId());
  suffix[sizeof(suffix) / sizeof(suffix[0]) - 1] = 0;
  return temp->Append(path) && temp->Append(suffix) ? 1 : 0;
}

uint32_t PercentOf(uint64_t done, uint64_t count) {
  return count != 0 ? uint32_t(done * kPercent / count) : kPercent;
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
  const size_t messageFull = EncodeUtf8(message, nullptr, 0);
  size_t messageSize = messageFull + 1;
  size_t area = (names + messageSize + kNarrowAreaAlign - 1) / kNarrowAreaAlign * kNarrowAreaAlign;
  if (names + messageSize > areaMax) {
    area = areaMax;
    messageSize = areaMax - names;  // the message's room, its NUL included
  }

  std::memcpy(output, record, kNarrowHeadSize);
  output[kNarrowVersionOffset] = kTraceVersion;
  output[kNarrowEncodingOffset] = kNarrowWrittenEncoding;
  output[kNarrowCipherKindOffset] = kNarrowWrittenCipher;
  Put32(output + kNarrowLevelOffset, Get32(output + kNarrowLevelOffset) & ~kMarkMask);
  Put16(output + kNarrowReservedOffset, 0);

  const size_t moduleAt = kNarrowAreaOffset;
  const size_t hintAt = hint.size != 0 ? moduleAt + moduleText.size : moduleAt + moduleText.size - 1;
  const size_t messageAt = moduleAt + moduleText.size + hint.size;
  const size_t subAt = sub.size != 0 ? messageAt + messageSize : messageAt + messageSize - 1;
  const size_t length = kNarrowAreaOffset + area;
  Put16(output + kNarrowLengthOffset, uint16_t(length));
  Put16(output + kNarrowModuleOffset, uint16_t(moduleAt));
  Put16(output + kNarrowHintOffset, uint16_t(hintAt));
  Put16(output + kNarrowMessageOffset, uint16_t(messageAt));
  Put16(output + kNarrowSubNameOffset, uint16_t(subAt));

  uint8_t* areaBytes = output + kNarrowAreaOffset;
  std::memset(areaBytes, 0, area);  // the message's spare room and the padding
  std::memcpy(output + moduleAt, moduleText.bytes, moduleText.size);
  std::memcpy(output + moduleAt + moduleText.size, hint.bytes, hint.size);
  EncodeUtf8(message, output + messageAt, messageSize - 1);
  std::memcpy(output + messageAt + messageSize, sub.bytes, sub.size);

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

int WriteKeltImage(CTraceMgr* store, CByteBuffer& out, CTraceView* view) {
  if (store == nullptr) {
    return 0;
  }
  TraceBufferHeader header;
  MakeLinearHeader(store->Buffer(), &header);
  // The unread bytes keep their order when the buffer grows: the header is
  // found again at the same distance from Data().
  const size_t headerAt = out.Size();
  if (out.Append(&header, sizeof(header)) != sizeof(header)) {
    return 0;
  }
  uint32_t written = 0;

  alignas(16) uint8_t narrow[kNarrowRecordLimit];
  auto append = [&](const TraceRecord* record) {
    if (ToNarrowRecord(narrow, kNarrowRecordLimit, record) == nullptr) {
      return false;
    }
    uint16_t length;
    std::memcpy(&length, narrow, sizeof(length));
    if (out.Append(narrow, length) != length) {
      return false;
    }
    ++written;
    return true;
  };

  if (view != nullptr) {
    const size_t count = view->RecordCount();
    for (size_t i = 0; i < count; ++i) {
      if (!append(view->RecordAt(i))) {
        return 0;
      }
      view->SetProgress(PercentOf(i + 1, count));
    }
  } else if (store->Buffer() != nullptr) {
    const uint32_t count = store->Buffer()->recordCount;
    CTraceRingWalker walker(store->Buffer());
    for (uint32_t i = 0; i < count; ++i) {
      const TraceRecord* record = walker.Next();
      // A walk that ends early met a damaged buffer: the image would lack records.
      if (record == nullptr || !append(record)) {
        return 0;
      }
      store->SetProgress(PercentOf(uint64_t(i) + 1, count));
    }
  }
  // The count of what was written, so an image of one view says how many
  // records it holds.
  std::memcpy(out.read + headerAt + offsetof(TraceBufferHeader, recordCount), &written, sizeof(written));
  return store->AfterWrite();
}

int SaveKtr(CTraceMgr* store, const wchar_t* path, CTraceView* view) {
  if (store == nullptr || path == nullptr || path[0] == 0) {
    return 0;
  }
  CByteBuffer image;
  if (!WriteKeltImage(store, image, view) || image.Size() > kMaxKtrFileSize) {
    return 0;
  }
  CWideStrBuilder temp;
  if (!MakeTempPath(path, &temp)) {
    return 0;
  }
  CFileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
  if (!file.valid()) {
    DebugTraceA("SaveKtr, create, %lu", GetLastError());
    return 0;
  }
  bool saved = WriteAll(file.get(), image.Data(), image.Size());
  image.Free();
  saved = file.Close() == 1 && saved;
  if (saved && !MoveFileExW(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DebugTraceA("SaveKtr, replace, %lu", GetLastError());
    saved = false;
  }
  if (!saved) {
    DeleteFileW(temp.c_str());
    return 0;
  }
  return 1;
}
