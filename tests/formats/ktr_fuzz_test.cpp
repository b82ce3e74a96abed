// Mutates images of our own writer with a fixed seed and parses each one:
// whatever the bytes say, the store must stay sound and every record it took
// must keep its strings inside its own length.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "core/Cipher.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/RecordImport.h"
#include "core/TraceStore.h"
#include "formats/Ktr.h"

#include "tests/formats/FuzzFixture.h"
#include "tests/formats/GuardedBytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kGroupsText[] = "[CORE]\nM=app;mod.dll\n[NET]\nM=net.dll\n";
constexpr uint32_t kSeed = 0x4B454C54;
constexpr int kRounds = 10000;
constexpr int kMaxMutations = 4;
constexpr uint32_t kBaseTime = 1700000000;

uint16_t Get16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// The images every round starts from.
struct BaseImages {
  Bytes linear;  // as the writer saves it
  Bytes plain;   // the same with plain string areas, so mutations reach the strings
  Bytes ring;    // a full ring that wraps: the newer part before the older one
};

void Decipher(Bytes& image) {
  for (size_t at = kTraceHeaderSize; at + kNarrowHeadSize <= image.size();) {
    const uint16_t length = Get16(&image[at]);
    if (length == 0 || at + length > image.size()) {
      break;
    }
    DecipherArea(image[at + kNarrowCipherKindOffset], &image[at + kNarrowHeadSize], length - kNarrowHeadSize);
    image[at + kNarrowCipherKindOffset] = kCipherPlain;
    at += length;
  }
}

// The linear image with its first two records moved behind the others and
// the header made a full ring: walked from the third record round to the second.
Bytes RingOf(const Bytes& linear) {
  Bytes ring = linear;
  const size_t second = kTraceHeaderSize + Get16(&linear[kTraceHeaderSize]);
  const size_t third = second + Get16(&linear[second]);
  const size_t older = linear.size() - third;
  std::memcpy(&ring[kTraceHeaderSize], &linear[third], older);
  std::memcpy(&ring[kTraceHeaderSize + older], &linear[kTraceHeaderSize], third - kTraceHeaderSize);
  auto* header = reinterpret_cast<TraceBufferHeader*>(ring.data());
  header->flags = 0;
  header->first = uint32_t(kTraceHeaderSize + older);
  header->write = header->first;
  header->end = uint32_t(ring.size());
  header->capacity = uint32_t(ring.size());
  header->freeBytes = 0;
  return ring;
}

// Values that sit on the edges of what fields hold.
constexpr uint8_t kBoundaryBytes[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE, 0x34, 0x35};
constexpr uint32_t kHostileWords[] = {0, 1, 47, 48, 52, 53, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF};
// Header fields, as byte offsets: 16-bit wrap-to and flags, then 32-bit fields.
constexpr size_t kHeaderWords16[] = {8, 10};
constexpr size_t kHeaderWords32[] = {12, 16, 20, 24, 28, 32, 36};
// Head fields of a record that steer the reader.
constexpr size_t kRecordWords16[] = {kNarrowLengthOffset, kNarrowModuleOffset, kNarrowHintOffset,
                                     kNarrowMessageOffset, 48};

void Mutate(Bytes& image, CFuzzRandom& random) {
  const uint32_t size = uint32_t(image.size());
  switch (random.Below(7)) {
    case 0:  // bit flip
      if (size != 0) {
        image[random.Below(size)] ^= uint8_t(1u << random.Below(8));
      }
      break;
    case 1:  // a byte on a boundary value
      if (size != 0) {
        image[random.Below(size)] = kBoundaryBytes[random.Below(sizeof(kBoundaryBytes))];
      }
      break;
    case 2:  // truncation
      image.resize(random.Below(size + 1));
      break;
    case 3: {  // insertion of a few bytes
      const uint32_t at = random.Below(size + 1);
      const uint32_t n = 1 + random.Below(24);
      image.insert(image.begin() + at, n, kBoundaryBytes[random.Below(sizeof(kBoundaryBytes))]);
      break;
    }
    case 4:  // a header field set to a hostile value
      if (size >= kTraceHeaderSize) {
        const uint32_t value = kHostileWords[random.Below(sizeof(kHostileWords) / sizeof(kHostileWords[0]))];
        if (random.Below(2) == 0) {
          Put16(&image[kHeaderWords16[random.Below(2)]], uint16_t(value));
        } else {
          Put32(&image[kHeaderWords32[random.Below(sizeof(kHeaderWords32) / sizeof(kHeaderWords32[0]))]], value);
        }
      }
      break;
    case 5: {  // a record's length or offset set to a hostile value
      size_t at = kTraceHeaderSize;
      for (uint32_t skip = random.Below(4); skip != 0 && at + 2 <= size; --skip) {
        const uint16_t length = Get16(&image[at]);
        if (length == 0) {
          break;
        }
        at += length;
      }
      const size_t field = at + kRecordWords16[random.Below(sizeof(kRecordWords16) / sizeof(kRecordWords16[0]))];
      if (field + 2 <= size) {
        Put16(&image[field], uint16_t(kHostileWords[random.Below(sizeof(kHostileWords) / sizeof(kHostileWords[0]))]));
      }
      break;
    }
    default:  // a run of one value over the strings
      if (size > kTraceHeaderSize) {
        const uint32_t at = kTraceHeaderSize + random.Below(size - kTraceHeaderSize);
        const uint32_t n = 1 + random.Below(64);
        std::memset(&image[at], random.Below(2) ? 'z' : 0, n < size - at ? n : size - at);
      }
      break;
  }
}

class KtrFuzz : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
    g_blockWords.Clear();
    ASSERT_EQ(1, source.GrowBuffer(1 << 16));
    const wchar_t* modules[] = {L"mod.dll", L"net.dll", L"app", L"\u00fcber.dll", L"mod.dll"};
    const wchar_t* hints[] = {L"", L"Init", L"", L"\u6587", L"Send"};
    const wchar_t* subNames[] = {nullptr, L"worker", nullptr, L"io", nullptr};
    const wchar_t* messages[] = {L"hello", L"caf\u00e9 \U0001F600", L"", L"a longer message with some words in it",
                                 L"\u65e5\u672c\u8a9e"};
    const uint32_t stamp[2] = {0x11223344, 0x55667788};
    for (int i = 0; i < 5; ++i) {
      const int group = g_moduleGroups.FindEnabled(modules[i], 0);
      ASSERT_GE(group, 0);
      ASSERT_NE(nullptr, CTraceMgr::AddTraceItem(&source, group, kLevelInfo, modules[i], hints[i], messages[i],
                                                 100 + i, 200, kBaseTime + i, uint16_t(i), i % 2 ? stamp : nullptr,
                                                 subNames[i], kModeBuild, kLiveMessageLimit));
    }
    CByteBuffer out;
    ASSERT_EQ(1, WriteKeltImage(&source, out, nullptr));
    images.linear.assign(out.Data(), out.Data() + out.Size());
    images.plain = images.linear;
    Decipher(images.plain);
    images.ring = RingOf(images.linear);
  }
  void TearDown() override {
    g_moduleGroups.Clear();
    g_blockWords.Clear();
  }

  CTraceFile source;
  BaseImages images;
};

// The unmutated images load whole: the mutations start from sound input.
TEST_F(KtrFuzz, BaseImagesLoadWhole) {
  for (const Bytes* image : {&images.linear, &images.plain, &images.ring}) {
    CTraceFile store;
    ASSERT_EQ(1, store.GrowBuffer(uint32_t(image->size())));
    uint32_t refused = 1;
    EXPECT_EQ(1, ParseKeltImage(&store, image->data(), image->size(), 1, &refused));
    EXPECT_EQ(5u, store.Buffer()->recordCount);
    EXPECT_EQ(0u, refused);
  }
}

TEST_F(KtrFuzz, MutatedImagesKeepTheStoreSound) {
  CFuzzRandom random(kSeed);
  const Bytes* bases[] = {&images.linear, &images.plain, &images.ring};
  uint32_t stored = 0, refusedTotal = 0;
  for (int round = 0; round < kRounds; ++round) {
    Bytes image = *bases[random.Below(3)];
    for (uint32_t n = 1 + random.Below(kMaxMutations); n != 0; --n) {
      Mutate(image, random);
    }
    CGuardedBytes guarded(image);
    ASSERT_TRUE(guarded.Ready());
    CTraceFile store;
    ASSERT_EQ(1, store.GrowBuffer(uint32_t(image.size()) + 4096));
    uint32_t refused = 0;
    ParseKeltImage(&store, guarded.Data(), image.size(), 1, &refused);

    const TraceBufferHeader* buffer = store.Buffer();
    ASSERT_NE(nullptr, buffer);
    ASSERT_EQ(1, CheckRingInvariants(buffer)) << "round " << round;
    ASSERT_EQ(store.m_sourceItemCount, buffer->recordCount + refused) << "round " << round;
    CTraceRingWalker walker(buffer);
    uint32_t walked = 0;
    for (const TraceRecord* r = walker.Next(); r != nullptr; r = walker.Next(), ++walked) {
      ASSERT_TRUE(StringInside(r, r->moduleOffset)) << "round " << round;
      ASSERT_TRUE(StringInside(r, r->hintOffset)) << "round " << round;
      ASSERT_TRUE(StringInside(r, r->messageOffset)) << "round " << round;
      ASSERT_TRUE(StringInside(r, r->subNameOffset)) << "round " << round;
      ASSERT_TRUE(StringInside(r, kRecordFixedSize)) << "round " << round;
    }
    ASSERT_EQ(buffer->recordCount, walked) << "round " << round;
    stored += walked;
    refusedTotal += refused;
  }
  // The rounds reached both sides of the reader.
  EXPECT_GT(stored, 0u);
  EXPECT_GT(refusedTotal, 0u);
}

}  // namespace
