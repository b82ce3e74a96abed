#include <gtest/gtest.h>
#include <windows.h>

#include <tinyxml.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "formats/EventDesc.h"

#include "tests/formats/FuzzFixture.h"
#include "tests/formats/GuardedBytes.h"
#include "tests/formats/MapLogFixture.h"

namespace {

constexpr char kGroupsText[] = "[NETG]\nM=NET_LOG\n";
constexpr uint32_t kLogId = 0;
constexpr uint32_t kTraceId = kDescribedAreaUnit;

// A small document of the embedded one's shape, so each case names exactly
// what it decodes with.
constexpr char kDocument[] =
    "<?xml version=\"1.0\" ?>\r\n"
    "<module0 descryption=\"NET\">\r\n"
    "  <level1 descryption=\"Link\">\r\n"
    "    <event7 descryption=\"Connect\"><string>a</string><string>b</string></event7>\r\n"
    "    <event8 descryption=\"Blob\"><string>data</string><string>after</string></event8>\r\n"
    "    <event9 descryption=\"\"><string>value</string></event9>\r\n"
    "    <event10 descryption=\"Bare\" />\r\n"
    "  </level1>\r\n"
    "</module0>\r\n"
    "<module1 />\r\n";

class DescribedEvents : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
    document.Parse(kDocument);
    ASSERT_FALSE(document.Error()) << document.ErrorDesc();
    net = FindEventModule(&document, 0);
    ASSERT_NE(nullptr, net);
    ASSERT_EQ(1, store.GrowBuffer(1 << 16));
  }
  void TearDown() override { g_moduleGroups.Clear(); }

  // Decodes `event` placed flush against a no-access page.
  TraceRecord* Decode(const Bytes& event, const TiXmlElement* module, uint32_t id = kLogId, uint32_t ignore = 0,
                      const Bytes& header = HostSourceHeader({})) {
    CGuardedBytes guarded(event);
    CGuardedBytes guardedHeader(header);
    if (!guarded.Ready() || !guardedHeader.Ready()) return nullptr;
    return AddDescribedEvent(&store, ignore, guardedHeader.Data(), guarded.Data(), uint32_t(event.size()), module,
                             id);
  }

  TiXmlDocument document;
  const TiXmlElement* net = nullptr;
  CTraceFile store;
};

EventSpec Event(uint8_t event, std::vector<EventArg> args, uint8_t level = 1) {
  EventSpec spec;
  spec.level = level;
  spec.event = event;
  spec.args = std::move(args);
  return spec;
}

// The event with its last `cut` bytes gone and its length field saying so.
Bytes CutEvent(const EventSpec& spec, size_t cut) {
  Bytes e = DescribedEvent(spec);
  e.resize(e.size() - cut);
  PutBig16(e.data(), uint32_t(e.size()));
  return e;
}

struct MessageCase {
  const char* what;
  EventSpec spec;
  size_t cut;
  const wchar_t* message;
};

TEST_F(DescribedEvents, MessagesNameEachArgumentAndStopWhereAFieldWouldNotFit) {
  const MessageCase cases[] = {
      {"number then text", Event(7, {Number(5), Text("xyz")}), 0, L"Connect,a=5,b=\"xyz\","},
      {"hex and small negative", Event(7, {Number(0x12345678), Number(0xFFFFFFFE)}), 0,
       L"Connect,a=0x12345678,b=-2,"},
      {"zero and minus one", Event(7, {Number(0), Number(0xFFFFFFFF)}), 0, L"Connect,a=0,b=-1,"},
      {"decimal up to 0xFFFF", Event(7, {Number(0xFFFF), Number(0x10000)}), 0, L"Connect,a=65535,b=0x10000,"},
      {"negative from 0xFFFF0001", Event(7, {Number(0xFFFF0000), Number(0xFFFF0001)}), 0,
       L"Connect,a=0xffff0000,b=-65535,"},
      {"byte array then number", Event(8, {Array({1, 2, 255}), Number(7)}), 0, L"Blob,data={1,2,255,}after=7,"},
      {"byte array of zeros", Event(8, {Array({0, 0})}), 0, L"Blob,data={0,0,}"},
      {"empty byte array", Event(8, {Array({}), Number(7)}), 0, L"Blob,data={}after=7,"},
      {"text without terminator", Event(7, {Text("abc", false)}), 0, L"Connect,a=\"abc\","},
      {"text ends at its first NUL", Event(7, {Text(std::string("ab\0cd", 5))}), 0, L"Connect,a=\"ab\","},
      {"UTF-8 text", Event(7, {Text("caf\xC3\xA9")}), 0, L"Connect,a=\"caf\u00e9\","},
      {"unknown event: values only", Event(99, {Number(5), Text("x")}), 0, L"5,\"x\","},
      {"unknown level: values only", Event(7, {Number(5)}, 200), 0, L"5,"},
      {"more arguments than names", Event(7, {Number(1), Number(2), Number(3)}), 0, L"Connect,a=1,b=2,3,"},
      {"empty description", Event(9, {Number(4)}), 0, L"value=4,"},
      {"event without names", Event(10, {Number(4)}), 0, L"Bare,4,"},
      {"no arguments", Event(10, {}), 0, L"Bare,"},
      {"type 0 names an argument without value", Event(7, {NoArgument(), Number(3)}), 0, L"Connect,a=b=3,"},
      {"text running past the record", Event(7, {Number(5), Text("xyz")}), 1, L"Connect,a=5,"},
      {"count cut by the record's end", Event(7, {Number(1), Text("x")}), 3, L"Connect,a=1,"},
      {"byte array running past the record", Event(8, {Array({1, 2, 3})}), 2, L"Blob,"},
      {"number cut by the record's end", Event(7, {Number(5)}), 2, L"Connect,"},
      {"mask beyond a 12-byte record", Event(7, {Number(5)}), 4, L"Connect,"},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.what);
    TraceRecord* r = Decode(CutEvent(c.spec, c.cut), net);
    ASSERT_NE(nullptr, r);
    EXPECT_STREQ(c.message, r->Message());
  }
}

TEST_F(DescribedEvents, LongArgumentsAreCutToTheirLimits) {
  // A byte array prints as many numbers as fit in 1023 characters; no comma
  // follows its closing brace.
  TraceRecord* r = Decode(DescribedEvent(Event(8, {Array(Bytes(600, 255)), Number(1)})), net);
  ASSERT_NE(nullptr, r);
  std::wstring list;
  while (list.size() + 4 <= 1023) list += L"255,";
  EXPECT_EQ(L"Blob,data={" + list + L"}after=1,", std::wstring(r->Message()));

  // The whole message stays within 2047 bytes.
  r = Decode(DescribedEvent(Event(7, {Text(std::string(3000, 'q')), Number(9)})), net);
  ASSERT_NE(nullptr, r);
  const std::wstring message = r->Message();
  EXPECT_EQ(2047u, message.size());
  EXPECT_EQ(L"Connect,a=\"qqq", message.substr(0, 14));

  // A cut never leaves half a character: 2036 bytes of three-byte
  // characters after the 11-byte prefix end in a whole one.
  std::string euros;
  for (int i = 0; i < 1000; ++i) euros += "\xE2\x82\xAC";
  r = Decode(DescribedEvent(Event(7, {Text(euros)})), net);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(L"Connect,a=\"" + std::wstring(678, L'\u20ac'), std::wstring(r->Message()));
}

TEST_F(DescribedEvents, ModuleNameTellsLogFromTraceAreas) {
  const TiXmlElement* unnamed = FindEventModule(&document, 1);
  ASSERT_NE(nullptr, unnamed);
  TiXmlDocument longName;
  longName.Parse(("<module0 descryption=\"" + std::string(300, 'x') + "\" />").c_str());
  struct {
    const TiXmlElement* module;
    uint32_t id;
    std::wstring name;
  } cases[] = {
      {net, kLogId, L"NET_LOG"},
      {net, 0xFFFF, L"NET_LOG"},
      {net, kTraceId, L"NET_TRACE"},
      {net, 3 * kDescribedAreaUnit + 2, L"NET_TRACE"},
      {unnamed, kLogId, L"QRC_LOG"},
      {nullptr, kTraceId, L"QRC_TRACE"},
      {FindEventModule(&longName, 0), kLogId, std::wstring(127, L'x')},
  };
  for (const auto& c : cases) {
    TraceRecord* r = Decode(DescribedEvent(Event(7, {Number(1)})), c.module, c.id);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(c.name, std::wstring(r->Module()));
  }
}

TEST_F(DescribedEvents, TimeProcessThreadLevelAndGroup) {
  struct {
    SourceSpec source;
    uint32_t offset;
    uint32_t seconds;
    uint16_t milliseconds;
  } cases[] = {
      {{4321, 1700000000, 5000, 2000}, 1500, 1700000004, 500},
      {{4321, 1700000000, 1000, 3000}, 2500, 1700000000, 500},  // counters subtract in 32 bits
      {{4321, 1700000000, 0, 0}, 999, 1700000000, 999},
  };
  for (const auto& c : cases) {
    EventSpec spec = Event(7, {Number(1)});
    spec.milliseconds = c.offset;
    spec.tid = 0xBEEF;
    TraceRecord* r = Decode(DescribedEvent(spec), net, kLogId, 0, HostSourceHeader(c.source));
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(c.seconds, r->time);
    EXPECT_EQ(c.milliseconds, r->milliseconds);
    EXPECT_EQ(4321u, r->pid);
    EXPECT_EQ(0xBEEFu, r->tid);
    EXPECT_EQ(kLevelInfo, r->level);
    EXPECT_EQ(g_moduleGroups.GroupAt(0)->Flag(), r->groupFlag);
  }
}

// One cache serves every event of a load, whatever module, area, event and
// ignore mask each has: the same events in a shuffled order, through one
// cache, must give what each gives alone. The document has two modules
// with the same level and event numbers, and events share slots.
TEST_F(DescribedEvents, CachedLookupsGiveWhatFreshOnesGive) {
  TiXmlDocument second;
  second.Parse(
      "<module0 descryption=\"NET\"><level1 descryption=\"L\">"
      "<event7 descryption=\"Other\"><string>x</string></event7></level1></module0>"
      "<module1 descryption=\"DISK\"><level1><event7 descryption=\"Spin\"><string>rpm</string></event7>"
      "<event8 descryption=\"Park\" /></level1></module1>");
  ASSERT_FALSE(second.Error());
  const TiXmlElement* modules[] = {net, FindEventModule(&document, 1), nullptr, FindEventModule(&second, 0),
                                   FindEventModule(&second, 1)};
  const uint32_t ignores[] = {0, g_moduleGroups.GroupAt(0)->Flag()};
  std::vector<Bytes> events;
  for (uint8_t level : {1, 2, 200}) {
    for (uint8_t event : {7, 8, 9, 10, 99}) {
      events.push_back(DescribedEvent(Event(event, {Number(level), Text("v"), Array({event})}, level)));
    }
  }
  struct Case {
    size_t module, event;
    uint32_t id, ignore;
  };
  std::vector<Case> cases;
  for (size_t m = 0; m < std::size(modules); ++m) {
    for (size_t e = 0; e < events.size(); ++e) {
      for (uint32_t id : {kLogId, kTraceId}) {
        for (uint32_t ignore : ignores) cases.push_back({m, e, id, ignore});
      }
    }
  }
  CFuzzRandom random(0x43414348);
  for (size_t i = cases.size(); i > 1; --i) std::swap(cases[i - 1], cases[random.Below(uint32_t(i))]);
  cases.insert(cases.end(), cases.begin(), cases.end());  // and each again, from the cache

  const Bytes header = HostSourceHeader({});
  CDescribedEventCache cache;
  for (const Case& c : cases) {
    const std::string what = "module " + std::to_string(c.module) + " event " + std::to_string(c.event) + " id " +
                             std::to_string(c.id) + " ignore " + std::to_string(c.ignore);
    const Bytes& event = events[c.event];
    TraceRecord* alone = AddDescribedEvent(&store, c.ignore, header.data(), event.data(), uint32_t(event.size()),
                                           modules[c.module], c.id);
    TraceRecord* cached = AddDescribedEvent(&store, c.ignore, header.data(), event.data(), uint32_t(event.size()),
                                            modules[c.module], c.id, kModeBuild, &cache);
    ASSERT_EQ(alone == nullptr, cached == nullptr) << what;
    if (alone != nullptr) {
      EXPECT_STREQ(alone->Module(), cached->Module()) << what;
      EXPECT_STREQ(alone->Message(), cached->Message()) << what;
      EXPECT_EQ(alone->groupFlag, cached->groupFlag) << what;
    }
  }
}

TEST_F(DescribedEvents, IgnoredGroupStoresNothing) {
  const uint32_t ignore = g_moduleGroups.GroupAt(0)->Flag();
  const Bytes event = DescribedEvent(Event(7, {Number(1)}));
  EXPECT_EQ(nullptr, Decode(event, net, kLogId, ignore));
  EXPECT_EQ(0u, store.Buffer()->recordCount);
  EXPECT_NE(nullptr, Decode(event, net, kTraceId, ignore));  // NET_TRACE is in the catch-all group
}

TEST_F(DescribedEvents, RecordsShorterThanTheirHeadStoreNothing) {
  const Bytes event = DescribedEvent(Event(7, {Number(1)}));
  for (uint32_t length = 0; length < kMinDescribedEvent; ++length) {
    Bytes cut(event.begin(), event.begin() + length);
    CGuardedBytes guarded(cut);
    const Bytes header = HostSourceHeader({});
    EXPECT_EQ(nullptr, AddDescribedEvent(&store, 0, header.data(), guarded.Data(), length, net, kLogId));
  }
  EXPECT_EQ(0u, store.Buffer()->recordCount);
}

// The event records are big-endian in every source; the source header is
// little-endian in .kdv files and big-endian in map logs and shared regions,
// which convert it first.
TEST_F(DescribedEvents, BigEndianSourceHeaderDecodesAsTheHostOne) {
  const SourceSpec source{0x01020304, 1700000123, 0x00010000, 0x00000100};
  Bytes big = HostSourceHeader(source);
  for (size_t offset : {kSourcePidOffset, kSourceBaseTimeOffset, kSourceCounterOffset, kSourceCounterBaseOffset}) {
    std::reverse(big.begin() + offset, big.begin() + offset + 4);
  }
  Bytes converted = big;
  ConvertBigEndianSourceHeader(converted.data());
  EXPECT_EQ(HostSourceHeader(source), converted);  // and the other bytes are untouched

  EventSpec spec = Event(7, {Number(1)});
  spec.milliseconds = 1234;
  TraceRecord* fromHost = Decode(DescribedEvent(spec), net, kLogId, 0, HostSourceHeader(source));
  TraceRecord* fromBig = Decode(DescribedEvent(spec), net, kLogId, 0, converted);
  ASSERT_NE(nullptr, fromHost);
  ASSERT_NE(nullptr, fromBig);
  EXPECT_EQ(fromHost->pid, fromBig->pid);
  EXPECT_EQ(fromHost->time, fromBig->time);
  EXPECT_EQ(fromHost->milliseconds, fromBig->milliseconds);
  EXPECT_EQ(0x01020304u, fromBig->pid);
}

TEST(DescribedEventWalk, LengthOnlyOfWholeEventsInsideTheBlock) {
  Bytes block(30, 0);
  PutBig16(&block[0], 12);   // exactly the head
  PutBig16(&block[12], 11);  // too short to move on
  PutBig16(&block[14], 16);  // exactly to the end
  PutBig16(&block[20], 11);
  PutBig16(&block[28], 12);  // runs past the end
  CGuardedBytes guarded(block);
  const uint8_t* b = guarded.Data();
  struct {
    uint32_t size, offset, length;
  } cases[] = {{30, 0, 12}, {30, 12, 0}, {30, 14, 16}, {29, 14, 0}, {30, 28, 0}, {30, 29, 0}, {30, 30, 0},
               {30, 31, 0}, {30, 0xFFFFFFFF, 0}, {1, 0, 0}, {0, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.length, DescribedEventLength(b, c.size, c.offset)) << c.size << " " << c.offset;
  }
  EXPECT_EQ(0u, DescribedEventLength(nullptr, 30, 0));
}

TEST_F(DescribedEvents, EventLookupNeedsLevelAndEvent) {
  EXPECT_STREQ("Connect", FindEventDesc(net, 1, 7)->Attribute("descryption"));
  EXPECT_EQ(nullptr, FindEventDesc(net, 1, 6));
  EXPECT_EQ(nullptr, FindEventDesc(net, 2, 7));
  EXPECT_EQ(nullptr, FindEventDesc(nullptr, 1, 7));
  EXPECT_EQ(nullptr, FindEventModule(&document, 2));
  EXPECT_EQ(nullptr, FindEventModule(nullptr, 0));
}

TEST(EventDescriptions, EmbeddedDocumentLoadsAndLookupsFindWhatItHolds) {
  TiXmlDocument document;
  ASSERT_EQ(1, LoadEventDescriptions(&document));
  EXPECT_EQ(0, LoadEventDescriptions(nullptr));

  const char* names[] = {"MEDIA", "NETIO", "UPDATE"};
  for (uint32_t m = 0; m < 3; ++m) {
    const TiXmlElement* module = FindEventModule(&document, m);
    ASSERT_NE(nullptr, module) << m;
    EXPECT_STREQ(names[m], module->Attribute("descryption"));
  }
  EXPECT_EQ(nullptr, FindEventModule(&document, 3));
  EXPECT_EQ(nullptr, FindEventModule(&document, 2)->FirstChildElement());  // a module without levels

  // Every level and event is named; every event's children are argument names.
  int events = 0;
  for (uint32_t m = 0; m < 2; ++m) {
    const TiXmlElement* module = FindEventModule(&document, m);
    for (const TiXmlElement* level = module->FirstChildElement(); level; level = level->NextSiblingElement()) {
      EXPECT_EQ(0, std::strncmp(level->Value(), "level", 5)) << level->Value();
      EXPECT_NE(nullptr, level->Attribute("descryption"));
      for (const TiXmlElement* event = level->FirstChildElement(); event; event = event->NextSiblingElement()) {
        ++events;
        EXPECT_EQ(0, std::strncmp(event->Value(), "event", 5)) << event->Value();
        EXPECT_NE(nullptr, event->Attribute("descryption"));
        for (const TiXmlElement* arg = event->FirstChildElement(); arg; arg = arg->NextSiblingElement()) {
          EXPECT_STREQ("string", arg->Value());
          EXPECT_NE(nullptr, arg->GetText());
        }
      }
    }
  }
  EXPECT_GE(events, 20);

  const TiXmlElement* connect = FindEventDesc(FindEventModule(&document, 1), 1, 1);
  ASSERT_NE(nullptr, connect);
  EXPECT_STREQ("Connect", connect->Attribute("descryption"));
  const TiXmlElement* first = connect->FirstChildElement("string");
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("a", first->GetText());
  EXPECT_STREQ("b", first->NextSiblingElement("string")->GetText());
  const TiXmlElement* parameters = FindEventDesc(FindEventModule(&document, 0), 2, 4);
  ASSERT_NE(nullptr, parameters);
  EXPECT_STREQ("Parameters", parameters->Attribute("descryption"));
  EXPECT_EQ(nullptr, FindEventDesc(FindEventModule(&document, 0), 2, 3));
  EXPECT_EQ(nullptr, FindEventDesc(FindEventModule(&document, 1), 4, 0));
}

TEST(EventDescriptions, TextThatDoesNotParseFails) {
  const std::string texts[] = {"", "<?xml version=\"1.0\" ?>\r\n", "<module0 descryption=\"A\">",
                               "<module0 descryption=\"A\"></module1>", "module0"};
  for (const std::string& text : texts) {
    TiXmlDocument document;
    EXPECT_EQ(0, ParseEventDescriptions(&document, text.data(), text.size())) << text;
  }
  // The text need not be terminated: only `length` bytes are read.
  const std::string good = "<module0 descryption=\"A\" />garbage";
  TiXmlDocument document;
  EXPECT_EQ(1, ParseEventDescriptions(&document, good.data(), good.size() - 7));
  EXPECT_STREQ("A", FindEventModule(&document, 0)->Attribute("descryption"));
}

// Mutated events decoded against a no-access page: the decoder must never
// read outside the record and every record it stores must be sound.
TEST_F(DescribedEvents, FuzzedEventsStaySound) {
  constexpr uint32_t kSeed = 0x45564E54;
  constexpr int kRounds = 8000;
  const std::vector<Bytes> seeds = {
      DescribedEvent(Event(7, {Number(5), Text("xyz")})),
      DescribedEvent(Event(8, {Array({1, 2, 255}), Number(7), Text("tail", false)})),
      DescribedEvent(Event(9, {Text(std::string(40, 'w')), Array(Bytes(30, 9)), Number(0xFFFFFFFE)})),
  };
  CFuzzRandom random(kSeed);
  const Bytes header = HostSourceHeader({});
  int stored = 0;
  for (int round = 0; round < kRounds; ++round) {
    Bytes event = seeds[random.Below(uint32_t(seeds.size()))];
    for (uint32_t n = 1 + random.Below(4); n != 0; --n) {
      const uint32_t size = uint32_t(event.size());
      const uint32_t kind = random.Below(kFuzzByteMutations + 2);
      if (kind < kFuzzByteMutations) {
        MutateBytes(event, random, kind);
      } else if (kind == kFuzzByteMutations && size >= 12) {  // the mask
        PutBig16(&event[10], random.Next());
      } else if (size >= 2) {  // a count or the length
        const uint32_t at = random.Below(2) ? 0 : random.Below(size - 1);
        PutBig16(&event[at], random.Below(2) ? random.Below(64) : random.Next());
      }
    }
    CGuardedBytes guarded(event);
    ASSERT_TRUE(guarded.Ready());
    TraceRecord* r = AddDescribedEvent(&store, 0, header.data(), guarded.Data(), uint32_t(event.size()),
                                       FindEventModule(&document, random.Below(3)), random.Below(2) * kTraceId);
    if (r != nullptr) {
      ++stored;
      ASSERT_TRUE(StringInside(r, r->moduleOffset)) << "round " << round;
      ASSERT_TRUE(StringInside(r, r->messageOffset)) << "round " << round;
      ASSERT_LE(wcslen(r->Message()), 2047u) << "round " << round;
    }
  }
  EXPECT_EQ(stored, CountSoundRecords(store));
  EXPECT_GT(stored, kRounds / 2);
}

}  // namespace
