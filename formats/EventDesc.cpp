#include "formats/EventDesc.h"

#include <windows.h>

#include <tinyxml.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/ModuleGroups.h"
#include "core/NarrowText.h"
#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "formats/ByteOrder.h"
#include "resource.h"

TiXmlDocument g_eventDescriptions;

// Direct-mapped: a slot holds the last lookup whose key fell on it.
struct CDescribedEventCache::Slots {
  static constexpr size_t kModules = 8;
  static constexpr size_t kEvents = 256;
  struct ModuleSlot {
    bool filled = false;
    const TiXmlElement* element = nullptr;
    bool trace = false;
    uint32_t ignoreMask = 0;
    ModuleText text;
  };
  struct EventSlot {
    bool filled = false;
    const TiXmlElement* module = nullptr;
    uint8_t level = 0;
    uint8_t event = 0;
    EventText text;
  };
  ModuleSlot modules[kModules];
  EventSlot events[kEvents];
};

namespace {

constexpr wchar_t kEventXmlType[] = L"XML";
constexpr char kDescriptionAttribute[] = "descryption";
constexpr char kArgumentElement[] = "string";
constexpr char kDefaultModuleName[] = "QRC";

constexpr size_t kEventLevelOffset = 2;
constexpr size_t kEventNumberOffset = 3;
constexpr size_t kEventMillisecondsOffset = 4;
constexpr size_t kEventThreadOffset = 8;
constexpr size_t kEventMaskOffset = 10;
constexpr size_t kEventArgumentsOffset = 12;

constexpr uint32_t kArgumentNone = 0;
constexpr uint32_t kArgumentNumber = 1;
constexpr uint32_t kArgumentText = 2;
constexpr uint32_t kArgumentBytes = 3;
constexpr uint32_t kArgumentTypeBits = 2;
constexpr uint32_t kArgumentTypeMask = 3;
constexpr uint32_t kNumberBytes = 4;
constexpr uint32_t kCountBytes = 2;
// Numbers this close to 0 on either side print in decimal, others in hex.
constexpr uint32_t kSmallPositiveLimit = 0x10000;
constexpr uint32_t kSmallNegativeLimit = 0xFFFF0000;

constexpr size_t kModuleNameBytes = CDescribedEventCache::kModuleNameUnits;
constexpr size_t kMessageBytes = 2048;     // the built message, terminator included
constexpr size_t kByteListChars = 1023;    // the numbers of one byte array
constexpr size_t kElementNameChars = 32;
constexpr size_t kMaxArguments = CDescribedEventCache::kMaxArguments;
constexpr uint32_t kMillisecondsPerSecond = 1000;

// Numbers are formatted by hand: the decoder runs once per event, and the
// C library's printf costs more than the rest of the decoding.
constexpr size_t kNumberChars = 12;  // "-2147483648" and a terminator

size_t FormatUnsigned(char* out, uint32_t value) {
  char digits[kNumberChars];
  size_t n = 0;
  do {
    digits[n++] = char('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

// As "%d" of the value taken as a signed 32-bit number.
size_t FormatSigned(char* out, uint32_t value) {
  constexpr uint32_t kSignBit = 0x80000000u;
  if ((value & kSignBit) == 0) {
    return FormatUnsigned(out, value);
  }
  out[0] = '-';
  return 1 + FormatUnsigned(out + 1, 0u - value);
}

// As "%lx".
size_t FormatHex(char* out, uint32_t value) {
  static const char kHexDigits[] = "0123456789abcdef";
  char digits[kNumberChars];
  size_t n = 0;
  do {
    digits[n++] = kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

// "<prefix><n>", as the document names its elements.
void ElementName(char* out, size_t size, const char* prefix, uint32_t n) {
  const size_t length = StrCopyNA(out, size, prefix);
  if (length + kNumberChars <= size) {
    out[length + FormatUnsigned(out + length, n)] = 0;
  }
}

// Copies n bytes that do not overlap. A message is built from short pieces:
// the runtime's memcpy is a call into another module, which costs more than
// a short copy.
inline void CopyBytes(char* to, const char* from, size_t n) {
  constexpr size_t kWide = 8;
  constexpr size_t kNarrow = 4;
  if (n > 2 * kWide) {
    std::memcpy(to, from, n);
  } else if (n >= kWide) {  // two words, overlapping when n is below 16
    uint64_t head, tail;
    std::memcpy(&head, from, kWide);
    std::memcpy(&tail, from + n - kWide, kWide);
    std::memcpy(to, &head, kWide);
    std::memcpy(to + n - kWide, &tail, kWide);
  } else if (n >= kNarrow) {
    uint32_t head, tail;
    std::memcpy(&head, from, kNarrow);
    std::memcpy(&tail, from + n - kNarrow, kNarrow);
    std::memcpy(to, &head, kNarrow);
    std::memcpy(to + n - kNarrow, &tail, kNarrow);
  } else if (n != 0) {  // one to three bytes: first, middle and last
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

// Text that grows up to a fixed size; what does not fit is cut off.
template <size_t N>
class CBoundedText {
 public:
  CBoundedText() { m_text[0] = 0; }
  void Append(const char* text, size_t length) {
    const size_t room = N - 1 - m_length;
    const size_t take = length < room ? length : room;
    CopyBytes(m_text + m_length, text, take);
    m_length += take;
    m_text[m_length] = 0;
  }
  void Append(const char* text) { Append(text, strnlen(text, N)); }
  bool Fits(size_t more) const { return m_length + more <= N - 1; }
  const char* Text() const { return m_text; }
  size_t Length() const { return m_length; }

 private:
  char m_text[N];  // terminated at m_length
  size_t m_length = 0;
};

using CMessageText = CBoundedText<kMessageBytes>;

using ModuleText = CDescribedEventCache::ModuleText;
using EventText = CDescribedEventCache::EventText;

void AppendNumberArgument(CMessageText& message, uint32_t value) {
  char number[2 + kNumberChars + 1];
  size_t length = 0;
  if (value < kSmallPositiveLimit || value > kSmallNegativeLimit) {
    length = FormatSigned(number, value);
  } else {
    number[0] = '0';
    number[1] = 'x';
    length = 2 + FormatHex(number + 2, value);
  }
  number[length++] = ',';
  message.Append(number, length);
}

void AppendTextArgument(CMessageText& message, const uint8_t* text, uint32_t count) {
  // The text may lack its terminator: it ends with its own bytes.
  const uint8_t* terminator = MemFindByte(text, count, 0);
  message.Append("\"", 1);
  message.Append(reinterpret_cast<const char*>(text), terminator != nullptr ? size_t(terminator - text) : count);
  message.Append("\",", 2);
}

void AppendByteArgument(CMessageText& message, const uint8_t* bytes, uint32_t count) {
  CBoundedText<kByteListChars + 1> list;
  char number[kNumberChars + 1];
  for (uint32_t i = 0; i < count; ++i) {
    size_t length = FormatUnsigned(number, bytes[i]);
    number[length++] = ',';
    if (!list.Fits(length)) {
      break;
    }
    list.Append(number, length);
  }
  message.Append("{", 1);
  message.Append(list.Text(), list.Length());
  message.Append("}", 1);
}

// Appends "name=value," for each argument the mask declares, while its field
// fits in the record.
void AppendArguments(CMessageText& message, const uint8_t* record, uint32_t length, const EventText& event) {
  uint32_t mask = LoadBig16(record + kEventMaskOffset);
  uint32_t position = kEventArgumentsOffset;
  // Two mask bits an argument: the mask runs out after kMaxArguments.
  for (size_t argument = 0; mask != 0 && position <= length; ++argument) {
    const uint32_t type = mask & kArgumentTypeMask;
    const uint32_t left = length - position;
    uint32_t fieldBytes = 0;
    uint32_t count = 0;
    if (type == kArgumentNumber) {
      fieldBytes = kNumberBytes;
    } else if (type != kArgumentNone) {
      if (left < kCountBytes) {
        break;
      }
      count = LoadBig16(record + position);
      fieldBytes = kCountBytes + count;
    }
    if (fieldBytes > left) {
      break;  // the field would run past the record: nothing more can be read
    }
    if (argument < kMaxArguments && event.names[argument] != nullptr) {
      message.Append(event.names[argument], event.nameLengths[argument]);
      message.Append("=", 1);
    }
    const uint8_t* field = record + position;
    if (type == kArgumentNumber) {
      AppendNumberArgument(message, LoadBig32(field));
    } else if (type == kArgumentText) {
      AppendTextArgument(message, field + kCountBytes, count);
    } else if (type == kArgumentBytes) {
      AppendByteArgument(message, field + kCountBytes, count);
    }
    position += fieldBytes;
    mask >>= kArgumentTypeBits;
  }
}

// The length without a character the cut at the buffer's end left
// incomplete, so a cut message does not end in a replacement character.
size_t Utf8WholeLength(const char* text, size_t length) {
  constexpr uint8_t kContinuationMask = 0xC0;
  constexpr uint8_t kContinuation = 0x80;
  constexpr size_t kMaxContinuations = 3;
  // Back over the continuation bytes to the character's lead byte.
  size_t lead = length;
  while (lead > 0 && length - lead < kMaxContinuations &&
         (uint8_t(text[lead - 1]) & kContinuationMask) == kContinuation) {
    --lead;
  }
  if (lead == 0) {
    return length;
  }
  const auto first = uint8_t(text[lead - 1]);
  if (first < kContinuationMask) {
    return length;  // ASCII, or a stray continuation byte left as it is
  }
  const size_t expected = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
  const size_t present = length - (lead - 1);
  return present < expected ? lead - 1 : length;
}

// "<module>_LOG" or "<module>_TRACE" as UTF-16, at most 127 bytes of ANSI text.
void MakeModuleName(const TiXmlElement* module, uint32_t id, wchar_t* out, size_t outChars) {
  const char* name = module != nullptr ? module->Attribute(kDescriptionAttribute) : nullptr;
  if (name == nullptr) {
    name = kDefaultModuleName;
  }
  char narrow[kModuleNameBytes];
  StrCopyNA(narrow, sizeof(narrow), name);
  StrCatNA(narrow, sizeof(narrow), id < kDescribedAreaUnit ? "_LOG" : "_TRACE");
  const int units = MultiByteToWideChar(CP_ACP, 0, narrow, int(strnlen(narrow, sizeof(narrow))), out,
                                        int(outChars - 1));
  out[units > 0 ? units : 0] = 0;
}

void ReadModuleText(const TiXmlElement* module, uint32_t id, uint32_t ignoreMask, ModuleText* text) {
  MakeModuleName(module, id, text->name, kModuleNameBytes);
  text->group = g_moduleGroups.FindEnabled(text->name, ignoreMask);
}

// The description ("" counts as none) and the names of the first
// kMaxArguments arguments of an event element, which may be null.
void ReadEventText(const TiXmlElement* event, EventText* text) {
  *text = EventText();
  if (event == nullptr) {
    return;
  }
  const char* description = event->Attribute(kDescriptionAttribute);
  if (description != nullptr && *description != 0) {
    text->description = description;
    text->descriptionLength = strnlen(description, kMessageBytes);
  }
  const TiXmlElement* name = event->FirstChildElement(kArgumentElement);
  for (size_t i = 0; i < kMaxArguments && name != nullptr; ++i) {
    const char* nameText = name->GetText();
    if (nameText != nullptr) {
      text->names[i] = nameText;
      text->nameLengths[i] = strnlen(nameText, kMessageBytes);
    }
    name = name->NextSiblingElement(kArgumentElement);
  }
}

}  // namespace

int LoadEventDescriptions(TiXmlDocument* document) {
  if (document == nullptr) {
    return 0;
  }
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_EVENT_XML), kEventXmlType);
  HGLOBAL handle = info != nullptr ? LoadResource(nullptr, info) : nullptr;
  const DWORD size = info != nullptr ? SizeofResource(nullptr, info) : 0;
  const void* bytes = handle != nullptr ? LockResource(handle) : nullptr;
  if (bytes == nullptr || size == 0) {
    DebugTraceA("LoadEventDescriptions, 1, resource missing");
    return 0;
  }
  return ParseEventDescriptions(document, static_cast<const char*>(bytes), size);
}

int ParseEventDescriptions(TiXmlDocument* document, const char* text, size_t length) {
  if (document == nullptr || text == nullptr) {
    return 0;
  }
  // The parser needs a terminated text; a resource is not.
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) {
    return 0;
  }
  std::memcpy(copy, text, length);
  copy[length] = 0;
  int parsed = 0;
  try {
    document->Clear();
    document->Parse(copy, nullptr, TIXML_ENCODING_UTF8);
    parsed = !document->Error() && document->FirstChildElement() != nullptr ? 1 : 0;
  } catch (const std::bad_alloc&) {
    document->Clear();
  }
  std::free(copy);
  if (!parsed) {
    DebugTraceA("LoadEventDescriptions, 2, %s", document->ErrorDesc());
  }
  return parsed;
}

const TiXmlElement* FindEventModule(const TiXmlDocument* document, uint32_t module) {
  if (document == nullptr) {
    return nullptr;
  }
  char name[kElementNameChars];
  ElementName(name, sizeof(name), "module", module);
  return document->FirstChildElement(name);
}

const TiXmlElement* FindEventDesc(const TiXmlElement* module, uint32_t level, uint32_t event) {
  if (module == nullptr) {
    return nullptr;
  }
  char name[kElementNameChars];
  ElementName(name, sizeof(name), "level", level);
  const TiXmlElement* levelElement = module->FirstChildElement(name);
  if (levelElement == nullptr) {
    return nullptr;
  }
  ElementName(name, sizeof(name), "event", event);
  return levelElement->FirstChildElement(name);
}

uint32_t DescribedEventLength(const uint8_t* block, uint32_t size, uint32_t offset) {
  if (block == nullptr || offset > size || size - offset < sizeof(uint16_t)) {
    return 0;
  }
  const uint32_t length = LoadBig16(block + offset);
  // A short length would never move on; a long one would leave the block.
  return length >= kMinDescribedEvent && length <= size - offset ? length : 0;
}

void ConvertBigEndianSourceHeader(uint8_t* header) {
  for (size_t offset : {kSourcePidOffset, kSourceBaseTimeOffset, kSourceCounterOffset, kSourceCounterBaseOffset}) {
    const uint32_t value = LoadBig32(header + offset);
    std::memcpy(header + offset, &value, sizeof(value));
  }
}

CDescribedEventCache::CDescribedEventCache() : m_slots(new (std::nothrow) Slots) {}

CDescribedEventCache::~CDescribedEventCache() { delete m_slots; }

const ModuleText& CDescribedEventCache::Module(const TiXmlElement* module, uint32_t id, uint32_t ignoreMask,
                                               ModuleText* own) {
  const bool trace = id >= kDescribedAreaUnit;
  if (m_slots == nullptr) {
    ReadModuleText(module, id, ignoreMask, own);
    return *own;
  }
  const size_t index = ((reinterpret_cast<uintptr_t>(module) >> 4) ^ (trace ? 1 : 0)) % Slots::kModules;
  Slots::ModuleSlot& slot = m_slots->modules[index];
  if (!slot.filled || slot.element != module || slot.trace != trace || slot.ignoreMask != ignoreMask) {
    ReadModuleText(module, id, ignoreMask, &slot.text);
    slot.filled = true;
    slot.element = module;
    slot.trace = trace;
    slot.ignoreMask = ignoreMask;
  }
  return slot.text;
}

const EventText& CDescribedEventCache::Event(const TiXmlElement* module, uint8_t level, uint8_t event,
                                             EventText* own) {
  if (m_slots == nullptr) {
    ReadEventText(FindEventDesc(module, level, event), own);
    return *own;
  }
  const size_t index = (uint32_t(level) * 31 + event + uint32_t(reinterpret_cast<uintptr_t>(module) >> 6)) %
                       Slots::kEvents;
  Slots::EventSlot& slot = m_slots->events[index];
  if (!slot.filled || slot.module != module || slot.level != level || slot.event != event) {
    ReadEventText(FindEventDesc(module, level, event), &slot.text);
    slot.filled = true;
    slot.module = module;
    slot.level = level;
    slot.event = event;
  }
  return slot.text;
}

TraceRecord* AddDescribedEvent(CTraceBase* store, uint32_t ignoreMask, const uint8_t* header, const uint8_t* record,
                               uint32_t length, const TiXmlElement* module, uint32_t id, int mode,
                               CDescribedEventCache* cache) {
  if (store == nullptr || header == nullptr || record == nullptr || length < kMinDescribedEvent) {
    return nullptr;
  }
  CDescribedEventCache unkept(CDescribedEventCache::kNoSlots);
  CDescribedEventCache& lookups = cache != nullptr ? *cache : unkept;
  ModuleText ownModule;
  const ModuleText& moduleText = lookups.Module(module, id, ignoreMask, &ownModule);
  if (moduleText.group < 0) {
    return nullptr;
  }
  // 32-bit arithmetic on purpose: the counters wrap as the writer's do.
  const uint32_t total = LoadBig32(record + kEventMillisecondsOffset) + LoadHost32(header + kSourceCounterOffset) -
                         LoadHost32(header + kSourceCounterBaseOffset);
  const uint32_t seconds = LoadHost32(header + kSourceBaseTimeOffset) + total / kMillisecondsPerSecond;
  const auto milliseconds = uint16_t(total % kMillisecondsPerSecond);

  EventText ownEvent;
  const EventText& event = lookups.Event(module, record[kEventLevelOffset], record[kEventNumberOffset], &ownEvent);
  CMessageText message;
  if (event.description != nullptr) {
    message.Append(event.description, event.descriptionLength);
    message.Append(",", 1);
  }
  AppendArguments(message, record, length, event);

  wchar_t wide[kMessageBytes];
  const size_t whole = Utf8WholeLength(message.Text(), message.Length());
  const size_t units = Utf8ToWide(reinterpret_cast<const uint8_t*>(message.Text()), whole, wide, kMessageBytes);
  return CTraceMgr::AddTraceItem(store, moduleText.group, kLevelInfo, moduleText.name, nullptr, wide,
                                 LoadHost32(header + kSourcePidOffset), LoadBig16(record + kEventThreadOffset), seconds,
                                 milliseconds, nullptr, nullptr, mode, kLiveMessageLimit, units);
}
