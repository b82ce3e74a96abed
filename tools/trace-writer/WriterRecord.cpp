#include "tools/trace-writer/WriterRecord.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "core/Cipher.h"
#include "core/RecordImport.h"
#include "core/TraceRecord.h"
#include "tools/trace-writer/WriterBytes.h"

namespace {

constexpr const wchar_t* kWords[] = {L"open",  L"read", L"\u00e9t\u00e9", L"queue", L"\u00fcber",
                                     L"retry", L"\u6587\u4ef6", L"close", L"\U0001F600", L"timeout"};
constexpr const wchar_t* kHints[] = {L"Init", L"Send", L"\u041e\u0436\u0438\u0434\u0430\u043d\u0438\u0435"};
constexpr uint32_t kHintEvery = 5;
constexpr uint32_t kLongEvery = 97;
constexpr size_t kLongBase = 1500;
constexpr size_t kLongSpread = 400;
constexpr size_t kShortSpread = 100;
constexpr size_t kNarrowModuleBytes = 128;  // 127 bytes and the NUL

uint32_t Mix(uint32_t id, uint32_t thread, uint32_t sequence) {
  uint32_t h = id * 0x9E3779B1u ^ thread * 0x85EBCA77u ^ sequence * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h != 0 ? h : 1;
}

uint32_t XorShift(uint32_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}


// Writes `text` with its terminator in the record's encoding; the bytes
// written, or 0 when it does not fit in `room` or cannot be converted.
size_t EncodeText(uint8_t encoding, const wchar_t* text, uint8_t* out, size_t room) {
  const size_t units = wcslen(text);
  if (encoding == kNarrowEncodingUtf16) {
    const size_t bytes = (units + 1) * sizeof(wchar_t);
    if (bytes > room) {
      return 0;
    }
    std::memcpy(out, text, bytes);
    return bytes;
  }
  const UINT codePage = encoding == kNarrowEncodingUtf8 ? CP_UTF8 : CP_ACP;
  if (room < 1) {
    return 0;
  }
  int written = 0;
  if (units != 0) {
    written = WideCharToMultiByte(codePage, 0, text, int(units), reinterpret_cast<char*>(out), int(room - 1),
                                  nullptr, nullptr);
    if (written <= 0) {
      return 0;
    }
  }
  out[written] = 0;
  return size_t(written) + 1;
}

}  // namespace

size_t MakeWriterMessage(uint32_t id, uint32_t thread, uint32_t sequence, wchar_t* out, size_t units) {
  if (out == nullptr || units == 0) {
    return 0;
  }
  int length = _snwprintf(out, units, L"w%u t%u #%u ", id, thread, sequence);
  if (length < 0) {
    out[units - 1] = 0;
    return wcslen(out);
  }
  uint32_t state = Mix(id, thread, sequence);
  const size_t want = (sequence % kLongEvery == 0) ? kLongBase + XorShift(&state) % kLongSpread
                                                   : XorShift(&state) % kShortSpread;
  // At least one word, and none at the end: builders drop trailing blanks.
  size_t at = size_t(length);
  bool first = true;
  while (first || at < want) {
    const wchar_t* word = kWords[XorShift(&state) % (sizeof(kWords) / sizeof(kWords[0]))];
    const size_t n = wcslen(word);
    if (at + n + 2 > units) {
      break;
    }
    if (!first) {
      out[at++] = L' ';
    }
    wmemcpy(out + at, word, n);
    at += n;
    first = false;
  }
  out[at] = 0;
  return at;
}

const wchar_t* WriterHint(uint32_t sequence) {
  if (sequence % kHintEvery != 0) {
    return L"";
  }
  return kHints[(sequence / kHintEvery) % (sizeof(kHints) / sizeof(kHints[0]))];
}

size_t BuildWriterRecord(const WriterRecordFields& f, uint8_t* out, size_t limit) {
  if (limit > kMaxNarrowRecord) {
    limit = kMaxNarrowRecord;
  }
  if (out == nullptr || limit < kNarrowHeadSize + kCipherBlockSize) {
    return 0;
  }
  const bool wide = f.encoding == kNarrowEncodingUtf16;
  const size_t nul = wide ? sizeof(wchar_t) : 1;
  std::memset(out, 0, kNarrowHeadSize);
  size_t at = kNarrowHeadSize;
  const size_t moduleSize = EncodeText(f.encoding, f.module, out + at, std::min(kNarrowModuleBytes * nul, limit - at));
  if (moduleSize == 0) {
    return 0;
  }
  const uint16_t moduleAt = uint16_t(at);
  at += moduleSize;
  uint16_t hintAt = uint16_t(at - nul);  // an empty hint reads the module's terminator
  if (f.hint[0] != 0) {
    const size_t hintSize = EncodeText(f.encoding, f.hint, out + at, limit - at);
    if (hintSize == 0) {
      return 0;
    }
    hintAt = uint16_t(at);
    at += hintSize;
  }
  const size_t messageSize = EncodeText(f.encoding, f.message, out + at, limit - at);
  if (messageSize == 0) {
    return 0;
  }
  const uint16_t messageAt = uint16_t(at);
  at += messageSize;
  const size_t area = (at - kNarrowHeadSize + kCipherBlockSize - 1) / kCipherBlockSize * kCipherBlockSize;
  const size_t length = kNarrowHeadSize + area;
  if (length > limit) {
    return 0;
  }
  std::memset(out + at, 0, length - at);  // the padding
  Put16(out + kNarrowLengthOffset, uint16_t(length));
  out[kNarrowVersionOffset] = kTraceVersion;
  Put16(out + kNarrowFlagsOffset, kRecordStampValid);
  out[kNarrowEncodingOffset] = f.encoding;
  out[kNarrowCipherKindOffset] = f.cipher;
  Put32(out + kNarrowLevelOffset, f.level);
  Put32(out + kNarrowPidOffset, f.pid);
  Put32(out + kNarrowTidOffset, f.tid);
  Put32(out + kNarrowTimeOffset, f.time);
  Put16(out + kNarrowMillisecondsOffset, f.milliseconds);
  Put16(out + kNarrowModuleOffset, moduleAt);
  Put16(out + kNarrowHintOffset, hintAt);
  Put16(out + kNarrowMessageOffset, messageAt);
  Put32(out + kNarrowStampLowOffset, uint32_t(f.stamp));
  Put32(out + kNarrowStampHighOffset, uint32_t(f.stamp >> 32));
  // No sub-name: its offset reads the message's terminator.
  Put16(out + offsetof(TraceRecord, subNameOffset), uint16_t(at - nul));
  if (!EncipherArea(f.cipher, out + kNarrowHeadSize, area)) {
    return 0;
  }
  return length;
}
