// Mutates archives of our own writer with a fixed seed and loads each one:
// whatever the bytes say, the load ends, and the store it filled stays sound.
// Half of the rounds damage the archive itself, half the .ktr image inside
// a well-formed archive, so the image reader is reached through the zip.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/ByteOrder.h"
#include "formats/Ktr.h"
#include "formats/Zip.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/FuzzFixture.h"
#include "tests/formats/StoreFixture.h"

using namespace storefix;

namespace {

constexpr uint32_t kSeed = 0x5A495031;
// Every round writes and opens a file (about 5 ms under Wine).
constexpr int kRounds = 500;
constexpr int kMaxMutations = 4;
constexpr uint32_t kHostileWords[] = {0, 1, 47, 48, 0x7FFF, 0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF};
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
// Fields of the local header, the central header and the end record that
// steer a reader: sizes, name and extra lengths, offsets, counts.
constexpr size_t kLocalFields[] = {14, 18, 22, 26, 28};
constexpr size_t kCentralFields[] = {16, 20, 24, 28, 30, 32, 42};
constexpr size_t kEndFields[] = {8, 10, 12, 16, 20};


void PutHostile(Bytes& bytes, size_t at, CFuzzRandom& random) {
  const uint32_t value = kHostileWords[random.Below(sizeof(kHostileWords) / sizeof(kHostileWords[0]))];
  const size_t width = random.Below(2) ? 4 : 2;
  if (at + width <= bytes.size()) {
    std::memcpy(&bytes[at], &value, width);
  }
}

// A hostile value in a field of one of the zip records found in the bytes.
void MutateZipField(Bytes& bytes, CFuzzRandom& random) {
  std::vector<size_t> fields;
  for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
    const uint32_t word = LoadLittle32(&bytes[i]);
    if (word == kLocalSignature) {
      for (size_t f : kLocalFields) fields.push_back(i + f);
    } else if (word == kCentralSignature) {
      for (size_t f : kCentralFields) fields.push_back(i + f);
    } else if (word == kEndSignature) {
      for (size_t f : kEndFields) fields.push_back(i + f);
    }
  }
  if (!fields.empty()) {
    PutHostile(bytes, fields[random.Below(uint32_t(fields.size()))], random);
  }
}

void MutateBytes(Bytes& bytes, CFuzzRandom& random, bool zipFields) {
  const uint32_t size = uint32_t(bytes.size());
  switch (random.Below(zipFields ? 5 : 4)) {
    case 0:
      if (size != 0) bytes[random.Below(size)] ^= uint8_t(1u << random.Below(8));
      break;
    case 1:
      bytes.resize(random.Below(size + 1));
      break;
    case 2: {
      const uint32_t at = random.Below(size + 1);
      bytes.insert(bytes.begin() + at, 1 + random.Below(16), uint8_t(random.Next()));
      break;
    }
    case 3:
      PutHostile(bytes, random.Below(size + 1), random);
      break;
    default:
      MutateZipField(bytes, random);
      break;
  }
}

Bytes ArchiveOf(const Bytes& image) {
  CZipHandleOwner archive(CZip::OpenInMemory());
  SYSTEMTIME t = {};
  t.wYear = 2024;
  t.wMonth = 1;
  t.wDay = 1;
  if (archive.get() == nullptr || CZip::AddBuffer(archive.get(), L"fuzz.ktr", t, image.data(), image.size()) != 0 ||
      CZip::Close(archive.get()) != 0) {
    return {};
  }
  const uint8_t* data = CZip::GetMemoryData(archive.get());
  return Bytes(data, data + CZip::GetMemorySize(archive.get()));
}

TEST(ZipFuzz, MutatedArchivesLoadSoundlyOrNotAtAll) {
  ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  CTraceFile source;
  ASSERT_EQ(1, source.GrowBuffer(1 << 16));
  for (int i = 0; i < 12; ++i) {
    Item item;
    item.module = i % 2 ? L"net.dll" : L"mod.dll";
    item.subName = i % 3 ? L"" : L"sub";
    item.hint = i % 4 ? L"" : L"hint";
    item.message = std::wstring(size_t(i) * 7, L'x') + L" message";
    ASSERT_NE(nullptr, Add(source, item));
  }
  CByteBuffer buffer;
  ASSERT_EQ(1, WriteKeltImage(&source, buffer, nullptr));
  const Bytes image(buffer.Data(), buffer.Data() + buffer.Size());
  const Bytes archive = ArchiveOf(image);
  ASSERT_FALSE(archive.empty());

  CFuzzRandom random(kSeed);
  const std::wstring path = folder.File(L"fuzz.zip");
  int loaded = 0, refused = 0;
  for (int round = 0; round < kRounds; ++round) {
    Bytes bytes;
    const int mutations = 1 + int(random.Below(kMaxMutations));
    if (round % 2 == 0) {
      bytes = archive;
      for (int m = 0; m < mutations; ++m) MutateBytes(bytes, random, true);
    } else {
      Bytes inner = image;
      for (int m = 0; m < mutations; ++m) MutateBytes(inner, random, false);
      bytes = ArchiveOf(inner);
    }
    ASSERT_TRUE(WriteBytes(path, bytes));
    CTraceFile store;
    store.SetFileName(path.c_str(), L"fuzz.zip");
    const int result = LoadZip(&store);
    if (store.Buffer() != nullptr) {
      ASSERT_GE(CountSoundRecords(store), 0) << "round " << round;
    }
    result ? ++loaded : ++refused;
  }
  // The mutations must leave some archives whole and break others, or the
  // test exercises one side only.
  EXPECT_GT(loaded, kRounds / 20);
  EXPECT_GT(refused, kRounds / 20);
  g_moduleGroups.Clear();
}

}  // namespace
