#include "core/Containers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// ----------------------------------------------------------------- CGrowArray

CGrowArray<uint32_t> Filled(size_t reserve, size_t count) {
  CGrowArray<uint32_t> array;
  EXPECT_EQ(1, array.Reserve(reserve));
  for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(1, array.Append(100 + i));
  return array;
}

void ExpectSequence(const CGrowArray<uint32_t>& array, size_t count) {
  ASSERT_EQ(count, array.count);
  for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(100 + i, array[i]) << "index " << i;
}

TEST(GrowArray, EmptyHasNoBlock) {
  CGrowArray<uint64_t> array;
  EXPECT_EQ(nullptr, array.data);
  EXPECT_EQ(0u, array.capacity);
  EXPECT_EQ(0u, array.count);
  EXPECT_EQ(1, array.Reserve(0));
  EXPECT_EQ(nullptr, array.data);
}

struct GrowCase {
  size_t startCapacity;
  size_t request;
  size_t expected;
};

TEST(GrowArray, ReserveTakesLargerOfNeedAndDoubleRoundedToEight) {
  const GrowCase cases[] = {
      {0, 1, 8},    {8, 9, 16},   {8, 20, 24}, {8, 8, 8},      {8, 3, 8},
      {16, 17, 32}, {24, 25, 48}, {0, 13, 16}, {32, 100, 104},
  };
  for (const GrowCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "capacity " << c.startCapacity << ", Reserve(" << c.request << ")");
    CGrowArray<uint32_t> array = Filled(c.startCapacity, c.startCapacity);
    ASSERT_EQ(c.startCapacity, array.capacity);
    const uint32_t* before = array.data;
    EXPECT_EQ(1, array.Reserve(c.request));
    EXPECT_EQ(c.expected, array.capacity);
    if (c.expected == c.startCapacity) {
      EXPECT_EQ(before, array.data);
    }
    ExpectSequence(array, c.startCapacity);
  }
}

TEST(GrowArray, AppendingGrowsInDoublingSteps) {
  CGrowArray<uint32_t> array;
  std::vector<size_t> capacities;
  for (uint32_t i = 0; i < 70; ++i) {
    ASSERT_EQ(1, array.Append(100 + i));
    if (capacities.empty() || capacities.back() != array.capacity) capacities.push_back(array.capacity);
  }
  EXPECT_EQ((std::vector<size_t>{8, 16, 32, 64, 128}), capacities);
  ExpectSequence(array, 70);
}

TEST(GrowArray, ImpossibleReserveFailsAndKeepsContents) {
  const size_t requests[] = {
      SIZE_MAX,                          // byte size overflows
      SIZE_MAX / sizeof(uint64_t),       // fits, but rounding up to 8 overflows
      size_t{1} << 57,                   // 2^60 bytes: no address space holds it
  };
  for (size_t request : requests) {
    SCOPED_TRACE(testing::Message() << "Reserve(" << request << ")");
    CGrowArray<uint64_t> array;
    for (uint64_t i = 0; i < 5; ++i) ASSERT_EQ(1, array.Append(i * 3));
    const uint64_t* before = array.data;
    EXPECT_EQ(0, array.Reserve(request));
    EXPECT_EQ(before, array.data);
    EXPECT_EQ(8u, array.capacity);
    ASSERT_EQ(5u, array.count);
    for (uint64_t i = 0; i < 5; ++i) EXPECT_EQ(i * 3, array[i]);
  }
}

TEST(GrowArray, AppendNWhoseCountWouldOverflowFails) {
  CGrowArray<uint32_t> array = Filled(0, 3);
  const uint32_t source = 7;
  EXPECT_EQ(0, array.AppendN(&source, SIZE_MAX));
  EXPECT_EQ(0, array.AppendN(&source, SIZE_MAX - 2));
  EXPECT_EQ(0, array.AppendN(nullptr, 1));
  ExpectSequence(array, 3);
}

TEST(GrowArray, AppendingItsOwnElementsSurvivesReallocation) {
  CGrowArray<uint32_t> array = Filled(0, 8);
  ASSERT_EQ(8u, array.capacity);
  ASSERT_EQ(1, array.AppendN(array.data, array.count));
  ASSERT_EQ(16u, array.count);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(100 + i % 8, array[i]);
  ASSERT_EQ(16u, array.capacity);
  ASSERT_EQ(1, array.Append(array[3]));
  EXPECT_EQ(103u, array[16]);
}

TEST(GrowArray, RemoveMovesFollowersDownAndReturnsTheSlot) {
  int a = 0, b = 0, c = 0, absent = 0;
  CGrowArray<int*> array;
  int* items[] = {&a, &b, &c, &b};
  ASSERT_EQ(1, array.AppendN(items, 4));

  EXPECT_EQ(nullptr, array.Remove(&absent));
  EXPECT_EQ(4u, array.count);

  int** slot = array.Remove(&b);  // the first of two
  EXPECT_EQ(array.data + 1, slot);
  ASSERT_EQ(3u, array.count);
  EXPECT_EQ(&a, array[0]);
  EXPECT_EQ(&c, array[1]);
  EXPECT_EQ(&b, array[2]);

  slot = array.Remove(&b);  // now the last: nothing moves
  EXPECT_EQ(array.data + 2, slot);
  ASSERT_EQ(2u, array.count);
  EXPECT_EQ(&a, array[0]);
  EXPECT_EQ(&c, array[1]);
}

TEST(GrowArray, AddUniqueAppendsOnlyNewValues) {
  CGrowArray<uint32_t> ids;
  for (uint32_t id : {5u, 7u, 5u, 9u, 7u}) EXPECT_EQ(1, ids.AddUnique(id));
  ASSERT_EQ(3u, ids.count);
  EXPECT_EQ(5u, ids[0]);
  EXPECT_EQ(7u, ids[1]);
  EXPECT_EQ(9u, ids[2]);
}

TEST(GrowArray, RemoveAtClearFreeAndMove) {
  CGrowArray<uint32_t> array = Filled(0, 4);
  array.RemoveAt(4);  // past the end: ignored
  ASSERT_EQ(4u, array.count);
  array.RemoveAt(0);
  EXPECT_EQ(101u, array[0]);
  EXPECT_EQ(103u, array[2]);
  ASSERT_EQ(3u, array.count);

  CGrowArray<uint32_t> moved(std::move(array));
  EXPECT_EQ(nullptr, array.data);
  EXPECT_EQ(0u, array.capacity);
  EXPECT_EQ(0u, array.count);
  EXPECT_EQ(3u, moved.count);

  moved.Clear();
  EXPECT_EQ(0u, moved.count);
  EXPECT_EQ(8u, moved.capacity);
  EXPECT_NE(nullptr, moved.data);
  moved.Free();
  EXPECT_EQ(nullptr, moved.data);
  EXPECT_EQ(0u, moved.capacity);
}

// ---------------------------------------------------------------- CByteBuffer

std::vector<uint8_t> Pattern(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

std::vector<uint8_t> Unread(const CByteBuffer& buffer) {
  return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Size());
}

// 10 unread bytes (22..31) at the end of a full 32-byte block.
CByteBuffer TailOfFullBlock() {
  CByteBuffer buffer;
  const std::vector<uint8_t> bytes = Pattern(32);
  EXPECT_EQ(32u, buffer.Append(bytes.data(), bytes.size()));
  EXPECT_EQ(32u, buffer.capacity);
  uint8_t sink[22];
  EXPECT_EQ(22u, buffer.Read(sink, sizeof sink));
  return buffer;
}

TEST(ByteBuffer, ReserveUsesRoomBehindUnreadBytes) {
  CByteBuffer buffer;
  const std::vector<uint8_t> bytes = Pattern(10);
  ASSERT_EQ(10u, buffer.Append(bytes.data(), bytes.size()));
  uint8_t* const base = buffer.base;
  EXPECT_EQ(buffer.read + 10, buffer.Reserve(22));
  EXPECT_EQ(base, buffer.base);
  EXPECT_EQ(32u, buffer.capacity);
}

TEST(ByteBuffer, ReserveCompactsWhenTheBlockIsBigEnough) {
  CByteBuffer buffer = TailOfFullBlock();
  uint8_t* const base = buffer.base;
  uint8_t* const target = buffer.Reserve(20);  // 10 + 20 <= 32
  EXPECT_EQ(base, buffer.base);
  EXPECT_EQ(32u, buffer.capacity);
  EXPECT_EQ(base, buffer.read);
  EXPECT_EQ(base + 10, target);
  EXPECT_EQ(Pattern(10, 22), Unread(buffer));
}

TEST(ByteBuffer, ReserveReallocatesWhenCompactingIsNotEnough) {
  struct Case {
    size_t block;    // bytes appended to an empty buffer, 0 for none
    size_t unread;   // the last of them left unread
    size_t request;
    size_t expectedCapacity;
  };
  const Case cases[] = {
      {32, 10, 23, 36},    // (10 + 23 + 3) & ~3
      {32, 20, 13, 40},    // grows by the unread size when that is larger
      {100, 100, 1, 200},
      {32, 0, 33, 36},
      {0, 0, 0, 32},       // the first block has at least 32 bytes
      {0, 0, 33, 36},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.unread << " of " << c.block << " unread, Reserve(" << c.request << ")");
    CByteBuffer buffer;
    const std::vector<uint8_t> bytes = Pattern(c.block);
    if (c.block) {
      ASSERT_EQ(c.block, buffer.Append(bytes.data(), bytes.size()));
      ASSERT_EQ(c.block, buffer.capacity);
      buffer.Consume(c.block - c.unread);
    }
    const uint8_t* const oldBase = buffer.base;
    uint8_t* const target = buffer.Reserve(c.request);
    ASSERT_NE(nullptr, target);
    EXPECT_NE(oldBase, buffer.base);
    EXPECT_EQ(c.expectedCapacity, buffer.capacity);
    EXPECT_EQ(buffer.base, buffer.read);
    EXPECT_EQ(buffer.read + c.unread, target);
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - c.unread, bytes.end()), Unread(buffer));
  }
}

TEST(ByteBuffer, ImpossibleReserveFailsAndKeepsUnreadBytes) {
  CByteBuffer buffer = TailOfFullBlock();
  const uint8_t* const read = buffer.read;
  for (size_t request : {SIZE_MAX, SIZE_MAX - 20, SIZE_MAX / 2, size_t{1} << 60}) {
    SCOPED_TRACE(testing::Message() << "Reserve(" << request << ")");
    EXPECT_EQ(nullptr, buffer.Reserve(request));
    EXPECT_EQ(read, buffer.read);
    EXPECT_EQ(32u, buffer.capacity);
    EXPECT_EQ(Pattern(10, 22), Unread(buffer));
  }
}

TEST(ByteBuffer, ReadCopiesAtMostWhatIsUnread) {
  CByteBuffer buffer;
  const std::vector<uint8_t> bytes = Pattern(30);
  ASSERT_EQ(30u, buffer.Append(bytes.data(), bytes.size()));

  uint8_t target[100] = {};
  EXPECT_EQ(0u, buffer.Read(nullptr, 10));
  EXPECT_EQ(0u, buffer.Read(target, 0));
  EXPECT_EQ(30u, buffer.Size());

  EXPECT_EQ(4u, buffer.Read(target, 4));
  EXPECT_EQ(Pattern(26, 4), Unread(buffer));

  EXPECT_EQ(26u, buffer.Read(target, sizeof target));
  EXPECT_EQ(std::vector<uint8_t>(target, target + 26), Pattern(26, 4));
  EXPECT_EQ(0u, buffer.Size());
  EXPECT_EQ(0u, buffer.Read(target, sizeof target));
}

TEST(ByteBuffer, AppendRefusesNullAndEmpty) {
  CByteBuffer buffer;
  const uint8_t byte = 1;
  EXPECT_EQ(0u, buffer.Append(nullptr, 5));
  EXPECT_EQ(0u, buffer.Append(&byte, 0));
  EXPECT_EQ(nullptr, buffer.base);
}

TEST(ByteBuffer, AppendOfItsOwnUnreadBytesSurvivesReallocation) {
  CByteBuffer buffer = TailOfFullBlock();
  ASSERT_EQ(10u, buffer.Append(buffer.Data(), buffer.Size()));
  std::vector<uint8_t> expected = Pattern(10, 22);
  expected.insert(expected.end(), expected.begin(), expected.end());
  EXPECT_EQ(expected, Unread(buffer));
}

TEST(ByteBuffer, CopyHoldsOnlyTheUnreadBytes) {
  CByteBuffer buffer = TailOfFullBlock();
  CByteBuffer copy(buffer);
  EXPECT_NE(buffer.base, copy.base);
  EXPECT_EQ(Pattern(10, 22), Unread(copy));
  buffer.Consume(100);
  EXPECT_EQ(0u, buffer.Size());
  EXPECT_EQ(10u, copy.Size());

  CByteBuffer empty;
  CByteBuffer emptyCopy(empty);
  EXPECT_EQ(nullptr, emptyCopy.base);
}

TEST(ByteBuffer, FreeZeroesEveryField) {
  CByteBuffer buffer(100);
  EXPECT_EQ(100u, buffer.capacity);  // (0 + 100 + 3) & ~3
  buffer.Free();
  EXPECT_EQ(nullptr, buffer.base);
  EXPECT_EQ(nullptr, buffer.read);
  EXPECT_EQ(0u, buffer.capacity);
  EXPECT_EQ(0u, buffer.size);
}

// ------------------------------------------------------------ CWideStrBuilder

TEST(WideStrBuilder, EmptyIsAnEmptyString) {
  CWideStrBuilder builder;
  ASSERT_NE(nullptr, builder.c_str());
  EXPECT_STREQ(L"", builder.c_str());
  EXPECT_EQ(1, builder.Append(nullptr));
  EXPECT_EQ(1, builder.Append(L""));
  EXPECT_EQ(0u, builder.Length());
}

TEST(WideStrBuilder, GrowTakesLargestOfDoubleMinimumAndNeed) {
  CWideStrBuilder builder;
  ASSERT_EQ(1, builder.Append(L"abc"));
  const std::wstring big(5000, L'x');
  ASSERT_EQ(1, builder.Append(big.c_str()));  // needs 5003 + 1, double of 2048 is 4096
  ASSERT_EQ(1, builder.Append(big.c_str()));  // needs 10003 + 1, double of 5004 is 10008
  EXPECT_EQ(10003u, builder.Length());
  EXPECT_EQ(L"abc" + big + big, std::wstring(builder.c_str()));
  EXPECT_EQ(0, builder.Grow(SIZE_MAX));
  EXPECT_EQ(0, builder.Grow(SIZE_MAX / sizeof(wchar_t)));
  EXPECT_EQ(0, builder.Append(L"y", SIZE_MAX));
  EXPECT_EQ(10003u, builder.Length());
}

TEST(WideStrBuilder, AppendsPartsAndItsOwnText) {
  CWideStrBuilder builder;
  ASSERT_EQ(1, builder.Append(L"trace"));
  ASSERT_EQ(1, builder.Append(L" item", 3));
  ASSERT_EQ(1, builder.Append(builder.c_str(), builder.Length()));
  EXPECT_STREQ(L"trace ittrace it", builder.c_str());
  builder.Clear();
  EXPECT_STREQ(L"", builder.c_str());
  EXPECT_EQ(0u, builder.Length());
}

// ---------------------------------------------------- CW2WBuf and CA2WBuf

template <class Buf>
bool UsesInlineBuffer(const Buf& buf) {
  const char* text = reinterpret_cast<const char*>(buf.c_str());
  const char* self = reinterpret_cast<const char*>(&buf);
  return text >= self && text < self + sizeof buf;
}

TEST(ConversionBuffers, ShortTextsStayInlineLongOnesGoToTheHeap) {
  struct Case {
    size_t length;
    bool inlineExpected;
  };
  const Case cases[] = {{0, true}, {1, true}, {127, true}, {128, false}, {300, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " characters");
    const std::string narrow(c.length, 'k');
    const std::wstring wide(c.length, L'k');

    CW2WBuf copied(wide.c_str());
    EXPECT_EQ(c.inlineExpected, UsesInlineBuffer(copied));
    EXPECT_EQ(wide, std::wstring(copied.c_str()));

    CA2WBuf converted(narrow.c_str());
    EXPECT_EQ(c.inlineExpected, UsesInlineBuffer(converted));
    EXPECT_EQ(wide, std::wstring(static_cast<const wchar_t*>(converted)));
  }
}

TEST(ConversionBuffers, NullGivesAnEmptyString) {
  CW2WBuf copied(nullptr);
  CA2WBuf converted(nullptr);
  ASSERT_NE(nullptr, copied.c_str());
  ASSERT_NE(nullptr, converted.c_str());
  EXPECT_STREQ(L"", copied.c_str());
  EXPECT_STREQ(L"", converted.c_str());
}

// ---------------------------------------------------------------- CStringList

TEST(StringList, AddUniqueIgnoresCaseAndRefusesEmpty) {
  CStringList list;
  EXPECT_EQ(1, list.AddUnique(L"Alpha"));
  EXPECT_EQ(0, list.AddUnique(L"ALPHA"));
  EXPECT_EQ(0, list.AddUnique(L"alpha"));
  EXPECT_EQ(0, list.AddUnique(L""));
  EXPECT_EQ(0, list.AddUnique(nullptr));
  EXPECT_EQ(1, list.AddUnique(L"Alphabet"));
  EXPECT_EQ(1, list.AddUnique(L"\u00c4rger"));
  EXPECT_EQ(0, list.AddUnique(L"\u00e4RGER"));
  ASSERT_EQ(3u, list.Count());
  EXPECT_STREQ(L"Alpha", list[0]);
  EXPECT_STREQ(L"Alphabet", list[1]);
  EXPECT_STREQ(L"\u00c4rger", list[2]);
  EXPECT_EQ(nullptr, list[3]);
}

TEST(StringList, KeepsItsOwnCopies) {
  CStringList list;
  wchar_t text[] = L"module";
  ASSERT_EQ(1, list.AddUnique(text));
  text[0] = L'X';
  EXPECT_STREQ(L"module", list[0]);
  list.Clear();
  EXPECT_EQ(0u, list.Count());
  EXPECT_EQ(1, list.AddUnique(L"module"));
}

// -------------------------------------------------------------- CSlidingArray

// Dropping from the front and appending at the back, as a view index follows
// a ring: the elements stay those of a plain queue, and the block stops
// growing once the gap in front is reused.
TEST(SlidingArray, DropsAndAppendsKeepQueueOrderInABoundedBlock) {
  CSlidingArray<uint32_t> array;
  std::vector<uint32_t> model;
  uint32_t next = 0;
  const uint32_t* blockEnd = nullptr;
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 37; ++i) {
      ASSERT_EQ(1, array.Append(next));
      model.push_back(next++);
    }
    const size_t drop = model.size() > 100 ? 37 : 5;
    array.DropFront(drop);
    model.erase(model.begin(), model.begin() + std::ptrdiff_t(drop));
    ASSERT_EQ(model.size(), array.count);
    ASSERT_TRUE(std::equal(model.begin(), model.end(), array.data)) << "round " << round;
    // The block's end moves only when a new block is taken.
    if (round == 50) {
      blockEnd = array.data + array.capacity;
    } else if (round > 50) {
      ASSERT_EQ(blockEnd, array.data + array.capacity) << "round " << round;
    }
  }
  array.DropFront(array.count + 1);
  EXPECT_EQ(0u, array.count);
  ASSERT_EQ(1, array.Append(7));
  EXPECT_EQ(7u, array[0]);
}

}  // namespace
