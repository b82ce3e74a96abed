// The event-description table and the decoder of described events.
//
// Some sources write compact binary events (a level number, an event number
// and typed arguments) instead of text. The embedded document (XML resource
// 249) names, per module, level and event, the event and its arguments:
// top-level elements "module<n>" (attribute "descryption": the module's short
// name) hold "level<n>" elements, which hold "event<n>" elements (attribute
// "descryption": the event's name), which hold one "string" element per
// argument name, in argument order.
//
// Described event, big-endian whatever the source's own byte order:
//   u16 length (at least 12), u8 level, u8 event, u32 milliseconds offset,
//   u16 thread id, u16 argument type mask (two bits per argument, lowest
//   first: 0 none, 1 u32 number, 2 u16 count + text, 3 u16 count + bytes),
//   then the arguments back to back.
//
// The decoder reads nothing outside the record: an argument whose field
// would not fit ends the walk, and text is printed from its own bytes only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/RecordBuilder.h"

class CTraceBase;
class TiXmlDocument;
class TiXmlElement;
struct TraceRecord;

// The source header every described event is decoded with: 112 bytes whose
// u32 words below are in host order when the decoder reads them.
constexpr uint32_t kSourceHeaderSize = 112;
constexpr size_t kSourcePidOffset = 4;
constexpr size_t kSourceBaseTimeOffset = 16;
constexpr size_t kSourceCounterOffset = 20;  // minus the next one: added to every event's offset
constexpr size_t kSourceCounterBaseOffset = 24;

constexpr uint32_t kMinDescribedEvent = 12;
// Ids below this are log areas ("%s_LOG"), others trace areas ("%s_TRACE").
constexpr uint32_t kDescribedAreaUnit = 0x10000;

// The program's one document, loaded at start-up and only read afterwards.
extern TiXmlDocument g_eventDescriptions;

// Parses resource 249 of type "XML" of the current module into `document`.
// 1, or 0 when the resource is missing or does not parse.
int LoadEventDescriptions(TiXmlDocument* document);
// The same parse over `length` bytes of document text (no terminator
// needed): 1, or 0 when the text does not parse or holds no element.
int ParseEventDescriptions(TiXmlDocument* document, const char* text, size_t length);

// The top-level element "module<n>", or null (also for a null document).
const TiXmlElement* FindEventModule(const TiXmlDocument* document, uint32_t module);
// The element "event<event>" under "level<level>" of the module element, or
// null when either is missing or no module element is given.
const TiXmlElement* FindEventDesc(const TiXmlElement* module, uint32_t level, uint32_t event);

// The length of the event at `offset` of a block of `size` bytes, or 0 when
// no whole event of at least 12 bytes starts there (the walk then ends).
uint32_t DescribedEventLength(const uint8_t* block, uint32_t size, uint32_t offset);

// Sources that write their header big-endian (map logs, the shared
// per-process regions) convert the words the decoder reads with this, in
// place, before decoding.
void ConvertBigEndianSourceHeader(uint8_t* header);

// What decoding looks up, kept across the events of one load: finding an
// element walks its siblings comparing names, and a module's name and group
// are the same for all its events. Valid while the document and the
// module-group table stay as they are, so one load keeps one cache. Without
// memory for its slots it looks everything up each time.
class CDescribedEventCache {
 public:
  static constexpr size_t kModuleNameUnits = 128;  // 127 and the terminator
  // Two bits of the 16-bit type mask an argument.
  static constexpr size_t kMaxArguments = 8;

  // "<module>_LOG" or "<module>_TRACE" and its group (-1: ignored).
  struct ModuleText {
    wchar_t name[kModuleNameUnits];
    int group;
  };
  // An event's description (null when missing or empty) and the text of
  // its argument names by position (null when missing).
  struct EventText {
    const char* description = nullptr;
    size_t descriptionLength = 0;
    const char* names[kMaxArguments] = {};
    size_t nameLengths[kMaxArguments] = {};
  };

  enum NoSlots { kNoSlots };
  CDescribedEventCache();
  // One that keeps nothing.
  explicit CDescribedEventCache(NoSlots) : m_slots(nullptr) {}
  ~CDescribedEventCache();
  CDescribedEventCache(const CDescribedEventCache&) = delete;
  CDescribedEventCache& operator=(const CDescribedEventCache&) = delete;

  // The kept lookup, or a fresh one in *own; valid until the next call.
  const ModuleText& Module(const TiXmlElement* module, uint32_t id, uint32_t ignoreMask, ModuleText* own);
  const EventText& Event(const TiXmlElement* module, uint8_t level, uint8_t event, EventText* own);

 private:
  struct Slots;
  Slots* m_slots;
};

// Decodes one described event of `length` bytes and stores it in `store`
// (a file store or the capture's staging buffer) through the record builder
// in `mode`. `header` is the source's 112-byte header in host order; `id` is
// the source's area number times 0x10000 plus its module number; `cache`,
// when given, spares the lookups of earlier events. Returns the stored
// record (inside the store's buffer), or null when the module's group is in
// `ignoreMask`, the record is shorter than 12 bytes or nothing was stored.
TraceRecord* AddDescribedEvent(CTraceBase* store, uint32_t ignoreMask, const uint8_t* header, const uint8_t* record,
                               uint32_t length, const TiXmlElement* module, uint32_t id, int mode = kModeBuild,
                               CDescribedEventCache* cache = nullptr);
