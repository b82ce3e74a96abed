#include <gtest/gtest.h>
#include <windows.h>

#include <tinyxml.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/ModuleGroups.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "formats/EventDesc.h"
#include "formats/MapLogs.h"
#include "tests/core/TempFolder.h"

#include "tests/formats/FuzzFixture.h"
#include "tests/formats/GuardedBytes.h"
#include "tests/formats/MapLogFixture.h"

namespace {

constexpr char kGroupsText[] = "[MEDIA]\nM=MEDIA_LOG;MEDIA_TRACE\n[NET]\nM=NETIO_LOG;NETIO_TRACE\n";
constexpr uint32_t kPid = 4321;
constexpr uint32_t kRecordPid = 99;
const SourceSpec kSource{kPid, 1700000000, 5000, 2000};

EventSpec Spec(uint8_t level, uint8_t event, std::vector<EventArg> args, uint32_t milliseconds = 0) {
  EventSpec spec;
  spec.level = level;
  spec.event = event;
  spec.args = std::move(args);
  spec.milliseconds = milliseconds;
  return spec;
}

// Events of the embedded document's modules 1 (NETIO) and 0 (MEDIA).
const Bytes kConnect = DescribedEvent(Spec(1, 1, {Number(5), Text("xyz")}, 1500));
const Bytes kResolve = DescribedEvent(Spec(1, 0, {Text("example.org"), Number(0)}));
const Bytes kDeviceOpen = DescribedEvent(Spec(1, 0, {Number(2), Text("cam")}));
const Bytes kSessionStart = DescribedEvent(Spec(0, 0, {Number(1), Number(3)}));
const Bytes kFormatSet = DescribedEvent(Spec(1, 2, {Number(640), Number(480), Number(30)}));
const Bytes kKeyFrame = DescribedEvent(Spec(2, 1, {Number(12), Array({1, 2, 3})}));
const Bytes kSurfaceLost = DescribedEvent(Spec(3, 0, {Number(1), Number(0x8007000E)}));

const wchar_t kConnectText[] = L"Connect,a=5,b=\"xyz\",";
const wchar_t kResolveText[] = L"Resolve,host=\"example.org\",result=0,";
const wchar_t kRecordText[] = L"per-process text";
const wchar_t kDeviceOpenText[] = L"DeviceOpen,device=2,name=\"cam\",";
const wchar_t kSessionStartText[] = L"SessionStart,session=1,mode=3,";
const wchar_t kFormatSetText[] = L"FormatSet,width=640,height=480,rate=30,";
const wchar_t kKeyFrameText[] = L"KeyFrame,frame=12,size={1,2,3,}";
const wchar_t kSurfaceLostText[] = L"SurfaceLost,surface=1,error=0x8007000e,";

struct Stored {
  std::wstring module, message;
  uint32_t pid;
};

std::vector<Stored> Records(const CTraceMgr& store) {
  std::vector<Stored> out;
  if (store.Buffer() == nullptr) return out;
  CTraceRingWalker walker(store.Buffer());
  for (const TraceRecord* r = walker.Next(); r != nullptr; r = walker.Next()) {
    out.push_back({r->Module(), r->Message(), r->pid});
  }
  return out;
}

std::vector<std::wstring> Messages(const CTraceMgr& store) {
  std::vector<std::wstring> out;
  for (const Stored& s : Records(store)) out.push_back(s.message);
  return out;
}

// Block boundaries of the .kdv fixture, so the tests know where a cut falls.
struct KdvFile {
  Bytes bytes;
  std::vector<size_t> blockEnds;
};

KdvFile KdvFixture() {
  KdvFile f;
  f.bytes = HostSourceHeader(kSource);
  AppendKdvBlock(f.bytes, 1, 0, Concat({kConnect, kResolve}));
  f.blockEnds.push_back(f.bytes.size());
  AppendKdvBlock(f.bytes, kKdvRecordBlock, 0, PerProcessRecord(kRecordPid, "per-process text"));
  f.blockEnds.push_back(f.bytes.size());
  AppendKdvBlock(f.bytes, 0, 1, kDeviceOpen);
  f.blockEnds.push_back(f.bytes.size());
  return f;
}

class MapLogs : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(1, LoadEventDescriptions(&g_eventDescriptions)); }
  void SetUp() override { ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1)); }
  void TearDown() override { g_moduleGroups.Clear(); }

  // Parses `bytes` placed flush against a no-access page into a fresh store.
  int Parse(const Bytes& bytes, int (*parse)(CTraceMgr*, const uint8_t*, size_t)) {
    store = std::make_unique<CTraceFile>();
    CGuardedBytes guarded(bytes);
    EXPECT_TRUE(guarded.Ready());
    EXPECT_EQ(1, store->GrowBuffer(4096));
    return parse(store.get(), guarded.Data(), bytes.size());
  }
  int ParseKdv(const Bytes& bytes) { return Parse(bytes, ParseKdvImage); }
  int ParseKmp(const Bytes& bytes) { return Parse(bytes, ParseKmpImage); }
  // Loads `bytes` written to a file through `load` into a fresh store.
  int LoadFile(const Bytes* bytes, int (*load)(CTraceMgr*)) {
    store = std::make_unique<CTraceFile>();
    const std::wstring path = folder.File(L"capture.bin");
    DeleteFileW(path.c_str());
    if (bytes != nullptr) {
      HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      EXPECT_NE(INVALID_HANDLE_VALUE, file);
      DWORD written = 0;
      EXPECT_TRUE(WriteFile(file, bytes->data(), DWORD(bytes->size()), &written, nullptr));
      CloseHandle(file);
    }
    EXPECT_EQ(1, store->SetFileName(path.c_str(), L"capture.bin"));
    return load(store.get());
  }

  TempFolder folder{L"maplogs"};
  std::unique_ptr<CTraceFile> store;
};

TEST_F(MapLogs, KdvBlocksOfEventsAndAPerProcessRecord) {
  const KdvFile f = KdvFixture();
  ASSERT_EQ(1, ParseKdv(f.bytes));
  const std::vector<Stored> got = Records(*store);
  ASSERT_EQ(4u, got.size());
  EXPECT_EQ(L"NETIO_LOG", got[0].module);
  EXPECT_EQ(kConnectText, got[0].message);
  EXPECT_EQ(kPid, got[0].pid);
  EXPECT_EQ(kResolveText, got[1].message);
  EXPECT_EQ(L"qrv", got[2].module);
  EXPECT_EQ(kRecordText, got[2].message);
  EXPECT_EQ(kRecordPid, got[2].pid);
  EXPECT_EQ(L"MEDIA_TRACE", got[3].module);
  EXPECT_EQ(kDeviceOpenText, got[3].message);

  const TraceRecord* connect = CTraceRingWalker(store->Buffer()).Next();
  EXPECT_EQ(1700000004u, connect->time);
  EXPECT_EQ(500, connect->milliseconds);
  EXPECT_EQ(77u, connect->tid);
  // Every record is counted in the statistics.
  ASSERT_GE(store->m_processStats.count, 1u);
  EXPECT_EQ(4u, store->m_processStats[0]->m_count);
  ASSERT_NE(nullptr, store->FindProcessStat(kPid));
  EXPECT_EQ(3u, store->FindProcessStat(kPid)->m_count);
  ASSERT_NE(nullptr, store->FindProcessStat(kRecordPid));
  EXPECT_EQ(100u, store->Progress());
}

TEST_F(MapLogs, KdvBadEventLengthsEndOnlyTheirBlock) {
  Bytes shortFirst = HostSourceHeader(kSource);
  Bytes tiny = kConnect;
  PutBig16(tiny.data(), 11);
  AppendKdvBlock(shortFirst, 1, 0, Concat({tiny, kResolve}));
  AppendKdvBlock(shortFirst, 0, 1, kDeviceOpen);
  EXPECT_EQ(1, ParseKdv(shortFirst));
  EXPECT_EQ(std::vector<std::wstring>{kDeviceOpenText}, Messages(*store));

  // An event running past its block (though not past the file) ends the block.
  Bytes pastBlock = HostSourceHeader(kSource);
  Bytes longer = kResolve;
  PutBig16(longer.data(), uint32_t(kResolve.size() + 6));
  AppendKdvBlock(pastBlock, 1, 0, Concat({kConnect, longer}));
  AppendKdvBlock(pastBlock, 0, 1, kDeviceOpen);
  EXPECT_EQ(1, ParseKdv(pastBlock));
  EXPECT_EQ((std::vector<std::wstring>{kConnectText, kDeviceOpenText}), Messages(*store));

  // A payload length of 0 is the end of the data.
  Bytes zero = HostSourceHeader(kSource);
  AppendKdvBlock(zero, 1, 0, kConnect);
  AppendKdvBlock(zero, 1, 0, {});
  AppendKdvBlock(zero, 0, 1, kDeviceOpen);
  EXPECT_EQ(1, ParseKdv(zero));
  EXPECT_EQ(std::vector<std::wstring>{kConnectText}, Messages(*store));
}

struct HostileKdv {
  const char* what;
  Bytes bytes;
  std::vector<std::wstring> kept;
};

TEST_F(MapLogs, HostileKdvFilesAreRefusedKeepingWhatWasRead) {
  const KdvFile f = KdvFixture();
  const std::vector<std::wstring> firstTwo = {kConnectText, kResolveText, kRecordText};
  const std::vector<std::wstring> all = {kConnectText, kResolveText, kRecordText, kDeviceOpenText};
  auto with = [&](const Bytes& tail) { return Concat({f.bytes, tail}); };
  Bytes cutPayload(f.bytes.begin(), f.bytes.end() - 3);
  Bytes wrapping;
  AppendKdvBlock(wrapping, 1, 0, kConnect, 0xFFFFFFFF);
  Bytes wrapsToItself;  // position + 6 + length is the block's own position in 32 bits
  AppendKdvBlock(wrapsToItself, 1, 0, kConnect, 0xFFFFFFFA);
  Bytes pastEnd;
  AppendKdvBlock(pastEnd, kKdvRecordBlock, 0, PerProcessRecord(1, "lost"), 200);
  const HostileKdv cases[] = {
      {"payload cut by the end of the file", cutPayload, firstTwo},
      {"block header cut", with({1, 0, 9}), all},
      {"one byte after the last block", with({1}), all},
      {"length 0xFFFFFFFF", with(wrapping), all},
      {"length that wraps a 32-bit position", with(wrapsToItself), all},
      {"record block past the end", with(pastEnd), all},
  };
  for (const HostileKdv& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(0, ParseKdv(c.bytes));
    EXPECT_EQ(c.kept, Messages(*store));
    EXPECT_EQ(int(c.kept.size()), CountSoundRecords(*store));
    // The same file read through the reader's buffer.
    EXPECT_EQ(0, LoadFile(&c.bytes, LoadKdv));
    EXPECT_EQ(c.kept, Messages(*store));
  }
}

TEST_F(MapLogs, KdvCutAtEveryLength) {
  const KdvFile f = KdvFixture();
  for (size_t size = 0; size <= f.bytes.size(); ++size) {
    SCOPED_TRACE(size);
    const Bytes cut(f.bytes.begin(), f.bytes.begin() + size);
    size_t blocks = 0;
    while (blocks < f.blockEnds.size() && f.blockEnds[blocks] <= size) ++blocks;
    const bool atBoundary = size == kSourceHeaderSize || (blocks != 0 && f.blockEnds[blocks - 1] == size);
    EXPECT_EQ(size >= kSourceHeaderSize && atBoundary ? 1 : 0, ParseKdv(cut));
    const size_t records[] = {0, 2, 3, 4};
    EXPECT_EQ(int(size >= kSourceHeaderSize ? records[blocks] : 0), CountSoundRecords(*store));
  }
}

TEST_F(MapLogs, KdvFilesThroughTheStorePath) {
  const KdvFile f = KdvFixture();
  EXPECT_EQ(1, LoadFile(&f.bytes, LoadKdv));
  EXPECT_EQ(4, CountSoundRecords(*store));

  const Bytes headerOnly = HostSourceHeader(kSource);
  EXPECT_EQ(1, LoadFile(&headerOnly, LoadKdv));
  ASSERT_NE(nullptr, store->Buffer());  // the open dispatch needs a buffer
  EXPECT_EQ(0u, store->Buffer()->recordCount);

  const Bytes tooShort(kSourceHeaderSize - 1, 0);
  EXPECT_EQ(0, LoadFile(&tooShort, LoadKdv));
  EXPECT_EQ(0, LoadFile(nullptr, LoadKdv));
}

// A map log: module 0 with a log area that wraps (start 100, end 40,
// capacity 200: bytes 100 to 199, then 0 to 39, an event straddling the
// seam) and a plain trace area; module 1 absent (base 0) though its lengths
// point at events; module 2 with an empty log area.
struct KmpFile {
  Bytes bytes;
  size_t module0;  // file offset of module 0's data
};

constexpr uint32_t kKmpBase0 = 112;
constexpr uint32_t kLogAreaOffset = 16;

KmpFile KmpFixture() {
  Bytes stream = Concat({kSessionStart, kFormatSet, kKeyFrame});
  stream.resize(140, 0);
  const Bytes logArea = WrappedKmpArea(stream, 200, 100, 0xEE);
  const Bytes traceArea = KmpArea(64, uint32_t(kSurfaceLost.size()), 0, kSurfaceLost);
  const Bytes emptyArea = KmpArea(32, 10, 10, Bytes(32, 0));

  const Bytes module0 = Concat({Bytes(kLogAreaOffset, 0), logArea, traceArea});
  const uint32_t base2 = kKmpBase0 + uint32_t(module0.size());
  const std::vector<KmpEntry> entries = {
      {kKmpBase0, kLogAreaOffset, uint32_t(logArea.size()), uint32_t(traceArea.size())},
      {0, kKmpBase0 + kLogAreaOffset, uint32_t(logArea.size()), 0},
      {base2, 0, uint32_t(emptyArea.size()), 0},
  };
  return {Concat({KmpHeader(kSource, 3, entries), module0, emptyArea}), kKmpBase0};
}

TEST_F(MapLogs, KmpWrappingAreaAbsentModuleAndEmptyArea) {
  ASSERT_EQ(1, ParseKmp(KmpFixture().bytes));
  const std::vector<Stored> got = Records(*store);
  ASSERT_EQ(4u, got.size());
  EXPECT_EQ(kSessionStartText, got[0].message);
  EXPECT_EQ(kFormatSetText, got[1].message);
  EXPECT_EQ(kKeyFrameText, got[2].message);  // straddles the seam of the ring
  EXPECT_EQ(kSurfaceLostText, got[3].message);
  EXPECT_EQ(L"MEDIA_LOG", got[0].module);
  EXPECT_EQ(L"MEDIA_TRACE", got[3].module);
  CTraceRingWalker walker(store->Buffer());
  for (const TraceRecord* r = walker.Next(); r != nullptr; r = walker.Next()) {
    EXPECT_EQ(kPid, r->pid);  // from the big-endian header
    EXPECT_EQ(1700000003u, r->time);
    EXPECT_EQ(kSourceDescribedEvent, r->sourceType);
    EXPECT_EQ(kRecordLive, r->flags & kRecordLive);
  }
  EXPECT_EQ(4u, store->m_processStats[0]->m_count);
}

TEST_F(MapLogs, KmpAreaReadsOnlyValidAreas) {
  const Bytes header = HostSourceHeader(kSource);
  struct {
    const char* what;
    Bytes area;
    uint64_t span;
    int result;
    int records;
  } cases[] = {
      {"whole", KmpArea(64, uint32_t(kSurfaceLost.size()), 0, kSurfaceLost), 0, 1, 1},
      {"start equal to end", KmpArea(64, 5, 5, kSurfaceLost), 0, 0, 0},
      {"capacity 0", KmpArea(0, 0, 1, {}), 0, 0, 0},
      {"empty area reaching past the span", KmpArea(64, 5, 5, {}), 40, -1, 0},
      {"end at capacity", KmpArea(64, 64, 0, kSurfaceLost), 0, 0, 0},
      {"start past capacity", KmpArea(64, 10, 70, kSurfaceLost), 0, 0, 0},
      {"data past the span", KmpArea(64, uint32_t(kSurfaceLost.size()), 0, kSurfaceLost), 60, -1, 0},
      {"header past the span", KmpArea(64, 1, 0, {}), 11, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CTraceFile file;
    ASSERT_EQ(1, file.GrowBuffer(4096));
    // The span ends where the no-access page starts.
    const Bytes spanned(c.area.begin(), c.area.begin() + (c.span != 0 ? c.span : c.area.size()));
    CGuardedBytes guarded(spanned);
    EXPECT_EQ(c.result, LoadKmpArea(&file, guarded.Data(), spanned.size(), header.data(), 0, 1));
    EXPECT_EQ(c.records, file.Buffer() != nullptr ? int(file.Buffer()->recordCount) : 0);
  }
}

// The ring's seam at every byte of a stream of events: each event, the one
// cut by the seam (its length field too) and the ones after it, comes out
// whole and in order.
TEST_F(MapLogs, KmpSeamAtEveryByte) {
  const Bytes stream = Concat({kSessionStart, kFormatSet, kKeyFrame, kSurfaceLost});
  const std::vector<std::wstring> all = {kSessionStartText, kFormatSetText, kKeyFrameText, kSurfaceLostText};
  const Bytes header = HostSourceHeader(kSource);
  const uint32_t capacity = uint32_t(stream.size()) + 1;
  for (uint32_t start = 1; start < capacity; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    CTraceFile file;
    ASSERT_EQ(1, file.GrowBuffer(1 << 16));
    const Bytes area = WrappedKmpArea(stream, capacity, start, 0xEE);
    CGuardedBytes guarded(area);
    ASSERT_TRUE(guarded.Ready());
    ASSERT_EQ(1, LoadKmpArea(&file, guarded.Data(), area.size(), header.data(), 0, 0));
    EXPECT_EQ(all, Messages(file));
  }
}

struct HostileKmp {
  const char* what;
  Bytes bytes;
  int result;
  std::vector<std::wstring> kept;
};

TEST_F(MapLogs, HostileKmpFilesAreRefused) {
  const KmpFile f = KmpFixture();
  const std::vector<std::wstring> all = {kSessionStartText, kFormatSetText, kKeyFrameText, kSurfaceLostText};
  auto entryField = [&](uint8_t count, size_t entry, size_t field, uint32_t value) {
    Bytes b = f.bytes;
    b[2] = count;
    PutBig32(&b[32 + 20 * entry + field], value);
    return b;
  };
  Bytes count255 = f.bytes;
  count255[2] = 255;
  Bytes count5 = f.bytes;
  count5[2] = 5;
  // Module 0's log area claims more data than the file holds.
  Bytes bigCapacity = f.bytes;
  PutBig32(&bigCapacity[kKmpBase0 + kLogAreaOffset], 0x7FFFFFF0);
  PutBig32(&bigCapacity[kKmpBase0 + kLogAreaOffset + 8], 0x7FFFFF00);
  Bytes longEvent = f.bytes;  // the first event of the trace area says it is longer than the area
  const size_t traceAt = kKmpBase0 + kLogAreaOffset + kKmpAreaHeaderSize + 200 + kKmpAreaHeaderSize;
  PutBig16(&longEvent[traceAt], 65);
  const HostileKmp cases[] = {
      {"module count 255", count255, 0, {}},
      {"module count 5", count5, 0, {}},
      {"area past the end", bigCapacity, 0, {kSurfaceLostText}},
      {"area offset past the end", entryField(3, 0, 8, 0x10000), 0, {}},
      {"base and offset wrap in 32 bits", entryField(3, 0, 4, 0xFFFFFF00 + kKmpBase0), 0, {}},
      {"log length moves the trace area past 4 GiB", entryField(1, 0, 12, 0xFFFFFFF0), 0,
       {kSessionStartText, kFormatSetText, kKeyFrameText}},
      {"event longer than its area", longEvent, 1, {kSessionStartText, kFormatSetText, kKeyFrameText}},
      {"entry of an absent module is not read", entryField(2, 1, 8, 0xFFFFFFFF), 1, all},
  };
  for (const HostileKmp& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.result, ParseKmp(c.bytes));
    EXPECT_EQ(c.kept, Messages(*store));
    // The same file read through the reader's buffer.
    EXPECT_EQ(c.result, LoadFile(&c.bytes, LoadKmp));
    EXPECT_EQ(c.kept, Messages(*store));
  }
}

TEST_F(MapLogs, KmpCutAtEveryLength) {
  const KmpFile f = KmpFixture();
  for (size_t size = 0; size <= f.bytes.size(); ++size) {
    SCOPED_TRACE(size);
    const Bytes cut(f.bytes.begin(), f.bytes.begin() + size);
    const int result = ParseKmp(cut);
    EXPECT_EQ(size == f.bytes.size() ? 1 : 0, result);
    EXPECT_GE(CountSoundRecords(*store), 0);
  }
}

TEST_F(MapLogs, KmpFilesThroughTheStorePath) {
  const KmpFile f = KmpFixture();
  EXPECT_EQ(1, LoadFile(&f.bytes, LoadKmp));
  EXPECT_EQ(4, CountSoundRecords(*store));
  const Bytes noModules = KmpHeader(kSource, 0, {});
  EXPECT_EQ(1, LoadFile(&noModules, LoadKmp));
  EXPECT_EQ(0, CountSoundRecords(*store));
  const Bytes tooShort(kSourceHeaderSize - 1, 0);
  EXPECT_EQ(0, LoadFile(&tooShort, LoadKmp));
  EXPECT_EQ(0, LoadFile(nullptr, LoadKmp));
}

// Files large enough that helper threads touch the store ahead of the
// records, whose records outgrow the file-sized reservation several times:
// every event must come out whole and in order across each growth. The
// serial travels as text (numbers from 0x10000 on are shown in hex).
constexpr size_t kLargeFileBytes = 17u << 20;

// NETIO "Connect" for the .kdv file (module 1), MEDIA "DeviceOpen" for the
// map log (module 0).
Bytes Connect(uint32_t serial) {
  return DescribedEvent(Spec(1, 1, {Number(serial % 1000), Text(std::to_string(serial))}));
}
Bytes DeviceOpen(uint32_t serial) {
  return DescribedEvent(Spec(1, 0, {Number(serial % 1000), Text(std::to_string(serial))}));
}

Bytes LargeKdv(uint32_t* events) {
  constexpr size_t kPayload = 4096;
  Bytes file = HostSourceHeader(kSource);
  file.reserve(kLargeFileBytes + kPayload * 2);
  *events = 0;
  while (file.size() < kLargeFileBytes) {
    Bytes payload;
    for (Bytes e = Connect(*events); payload.size() + e.size() <= kPayload; e = Connect(++*events)) {
      payload.insert(payload.end(), e.begin(), e.end());
    }
    AppendKdvBlock(file, 1, 0, payload);
  }
  return file;
}

// One module whose log area wraps in its middle.
Bytes LargeKmp(uint32_t* events) {
  Bytes stream;
  stream.reserve(kLargeFileBytes);
  *events = 0;
  for (Bytes e = DeviceOpen(0); stream.size() + e.size() <= kLargeFileBytes; e = DeviceOpen(++*events)) {
    stream.insert(stream.end(), e.begin(), e.end());
  }
  const uint32_t capacity = uint32_t(stream.size()) + 1;
  const Bytes area = WrappedKmpArea(stream, capacity, capacity / 2, 0);
  return Concat({KmpHeader(kSource, 1, {{kKmpBase0, 0, uint32_t(area.size()), 0}}), area});
}

std::wstring ConnectText(uint32_t serial) {
  return L"Connect,a=" + std::to_wstring(serial % 1000) + L",b=\"" + std::to_wstring(serial) + L"\",";
}
std::wstring DeviceOpenText(uint32_t serial) {
  return L"DeviceOpen,device=" + std::to_wstring(serial % 1000) + L",name=\"" + std::to_wstring(serial) + L"\",";
}

struct LargeCase {
  const char* name;
  Bytes (*make)(uint32_t*);
  int (*load)(CTraceMgr*);
  std::wstring (*text)(uint32_t);
  const wchar_t* module;
};

class MapLogsLarge : public MapLogs, public testing::WithParamInterface<LargeCase> {};

TEST_P(MapLogsLarge, EveryEventSurvivesTheGrowthOfATouchedStore) {
  const LargeCase& c = GetParam();
  uint32_t events = 0;
  const Bytes file = c.make(&events);
  ASSERT_EQ(1, LoadFile(&file, c.load));
  ASSERT_GT(store->Buffer()->capacity, 4 * file.size());  // grown several times
  ASSERT_EQ(events, store->Buffer()->recordCount);
  CTraceRingWalker walker(store->Buffer());
  uint32_t serial = 0;
  for (const TraceRecord* r = walker.Next(); r != nullptr; r = walker.Next(), ++serial) {
    ASSERT_EQ(c.text(serial), r->Message()) << "record " << serial;
    ASSERT_STREQ(c.module, r->Module()) << "record " << serial;
  }
  EXPECT_EQ(events, serial);
}

INSTANTIATE_TEST_SUITE_P(Files, MapLogsLarge,
                         testing::Values(LargeCase{"Kdv", LargeKdv, LoadKdv, ConnectText, L"NETIO_LOG"},
                                         LargeCase{"Kmp", LargeKmp, LoadKmp, DeviceOpenText, L"MEDIA_LOG"}),
                         [](const testing::TestParamInfo<LargeCase>& info) { return std::string(info.param.name); });

// Mutations of the sound fixtures with a fixed seed: nothing may crash or
// read outside the file, and every stored record must be sound.
void Mutate(Bytes& bytes, CFuzzRandom& random, bool bigEndian) {
  constexpr uint32_t kWords[] = {0, 1, 11, 12, 0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFF9, 0xFFFFFFFF};
  const uint32_t kind = random.Below(kFuzzByteMutations + 1);
  if (kind < kFuzzByteMutations) {
    MutateBytes(bytes, random, kind);
  } else if (bytes.size() >= 4) {  // a length, offset or count set to a hostile value
    uint8_t* at = &bytes[random.Below(uint32_t(bytes.size()) - 3)];
    const uint32_t word = kWords[random.Below(sizeof(kWords) / sizeof(kWords[0]))];
    bigEndian ? PutBig32(at, word) : PutHost32(at, word);
  }
}

template <typename Parse>
void Fuzz(const Bytes& seed, bool bigEndian, uint32_t randomSeed, Parse parse) {
  constexpr int kRounds = 4000;
  CFuzzRandom random(randomSeed);
  int stored = 0;
  for (int round = 0; round < kRounds; ++round) {
    Bytes bytes = seed;
    for (uint32_t n = 1 + random.Below(4); n != 0; --n) Mutate(bytes, random, bigEndian);
    CGuardedBytes guarded(bytes);
    ASSERT_TRUE(guarded.Ready());
    CTraceFile file;
    ASSERT_EQ(1, file.GrowBuffer(4096));
    parse(&file, guarded.Data(), bytes.size());
    const int sound = CountSoundRecords(file);
    ASSERT_GE(sound, 0) << "round " << round;
    stored += sound;
  }
  EXPECT_GT(stored, kRounds);
}

TEST_F(MapLogs, FuzzedKdvFilesStaySound) { Fuzz(KdvFixture().bytes, false, 0x4B44564D, ParseKdvImage); }

TEST_F(MapLogs, FuzzedKmpFilesStaySound) { Fuzz(KmpFixture().bytes, true, 0x4B4D504D, ParseKmpImage); }

}  // namespace
