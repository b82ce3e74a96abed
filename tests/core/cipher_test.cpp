#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

#include "core/Cipher.h"

namespace {

constexpr size_t kArea = 32;

std::vector<uint8_t> Plain() {
  std::vector<uint8_t> bytes(kArea);
  for (size_t i = 0; i < kArea; ++i) bytes[i] = uint8_t(i * 7 + 1);
  return bytes;
}

struct KnownAnswer {
  uint8_t kind;
  uint8_t cipher[kArea];
};

// The ciphertexts of Plain() under the program's keys. Files written by
// earlier builds must keep reading back, so these never change.
const KnownAnswer kKnown[] = {
    {kCipherScrambler, {0x58, 0x51, 0x4A, 0x43, 0x3C, 0x35, 0x2E, 0x27, 0x20, 0x19, 0x12, 0x0B, 0x04, 0xFD, 0xF6, 0xEF, 0xE8, 0xE1, 0xDA, 0xD3, 0xCC, 0xC5, 0xBE, 0xB7, 0xB0, 0xA9, 0xA2, 0x9B, 0x94, 0x8D, 0x86, 0x7F}},
    {kCipherAes256First, {0xF5, 0x0D, 0x63, 0xCA, 0x9D, 0x14, 0x3B, 0x2C, 0x52, 0x4F, 0xEB, 0x2B, 0x48, 0x14, 0x58, 0x67, 0x6E, 0x8E, 0xDB, 0x7C, 0xAA, 0xA1, 0x78, 0x46, 0x0D, 0x71, 0xFC, 0x72, 0xC2, 0xA1, 0x21, 0x9A}},
    {kCipherAes128, {0x75, 0xDF, 0x1F, 0x7D, 0xE9, 0xDE, 0x76, 0xB4, 0x69, 0x15, 0x18, 0xE3, 0x44, 0xA1, 0x7D, 0xFA, 0xFA, 0x07, 0x1D, 0x72, 0x8F, 0x8B, 0x2E, 0x29, 0xD6, 0x84, 0x1D, 0xB3, 0xC8, 0xC9, 0xF4, 0x9D}},
    {kCipherAes256Record, {0xED, 0x68, 0x35, 0x83, 0x7F, 0x98, 0xED, 0x39, 0xE0, 0x3C, 0x1C, 0x95, 0x0F, 0x56, 0xD6, 0xA4, 0x08, 0x28, 0xFC, 0x17, 0xDC, 0x6F, 0x1B, 0x78, 0xA6, 0x2A, 0x93, 0xF9, 0x00, 0x14, 0x81, 0x1D}},
};

class CipherKind : public testing::TestWithParam<KnownAnswer> {};

TEST_P(CipherKind, EnciphersToTheKnownAnswerAndBack) {
  const KnownAnswer& known = GetParam();
  std::vector<uint8_t> data = Plain();
  ASSERT_EQ(1, EncipherArea(known.kind, data.data(), data.size()));
  EXPECT_EQ(0, std::memcmp(known.cipher, data.data(), kArea));
  ASSERT_EQ(1, DecipherArea(known.kind, data.data(), data.size()));
  EXPECT_EQ(Plain(), data);
}

TEST_P(CipherKind, EveryCallStartsFromTheSameVector) {
  // Two records enciphered one after the other decipher independently.
  const uint8_t kind = GetParam().kind;
  std::vector<uint8_t> first = Plain(), second = Plain();
  ASSERT_EQ(1, EncipherArea(kind, first.data(), first.size()));
  ASSERT_EQ(1, EncipherArea(kind, second.data(), second.size()));
  EXPECT_EQ(first, second);
  ASSERT_EQ(1, DecipherArea(kind, second.data(), second.size()));
  EXPECT_EQ(Plain(), second);
}

INSTANTIATE_TEST_SUITE_P(Table, CipherKind, testing::ValuesIn(kKnown));

TEST(Cipher, NamedRoutinesMatchTheirKinds) {
  std::vector<uint8_t> data = Plain();
  ASSERT_EQ(1, EncipherArea(kCipherAes128, data.data(), kArea));
  ASSERT_EQ(1, DecipherAes128(data.data(), kArea));
  EXPECT_EQ(Plain(), data);
  ASSERT_EQ(1, EncipherArea(kCipherAes256First, data.data(), kArea));
  ASSERT_EQ(1, DecipherAes256(data.data(), kArea));
  EXPECT_EQ(Plain(), data);
  ASSERT_EQ(1, CipherAes256(data.data(), kArea, 1));
  ASSERT_EQ(1, CipherAes256(data.data(), kArea, 0));
  EXPECT_EQ(Plain(), data);
}

TEST(Cipher, AesRefusesLengthsThatAreNoWholeBlocks) {
  for (uint8_t kind : {kCipherAes256First, kCipherAes128, kCipherAes256Record}) {
    for (size_t length : {size_t(0), size_t(1), size_t(15), size_t(17), size_t(31)}) {
      std::vector<uint8_t> data = Plain();
      EXPECT_EQ(0, DecipherArea(kind, data.data(), length)) << int(kind) << " " << length;
      EXPECT_EQ(0, EncipherArea(kind, data.data(), length));
      EXPECT_EQ(Plain(), data);
    }
    EXPECT_EQ(0, DecipherArea(kind, nullptr, kArea));
  }
  std::vector<uint8_t> data = Plain();
  EXPECT_EQ(0, DecipherAes128(data.data(), 15));
  EXPECT_EQ(0, DecipherAes256(data.data(), 15));
  EXPECT_EQ(0, CipherAes256(data.data(), 15, 1));
  EXPECT_EQ(Plain(), data);
}

TEST(Cipher, ScramblerTakesAnyLengthAndUndoesItself) {
  std::vector<uint8_t> data = Plain();
  UnscrambleBytes(data.data(), 5);
  EXPECT_NE(Plain(), data);
  UnscrambleBytes(data.data(), 5);
  EXPECT_EQ(Plain(), data);
  for (int b = 0; b < 256; ++b) {
    uint8_t one = uint8_t(b);
    UnscrambleBytes(&one, 1);
    UnscrambleBytes(&one, 1);
    EXPECT_EQ(b, one);
  }
}

TEST(Cipher, UnknownKindsAreRefusedAndPlainIsLeftAlone) {
  std::vector<uint8_t> data = Plain();
  EXPECT_EQ(0, DecipherArea(5, data.data(), kArea));
  EXPECT_EQ(0, EncipherArea(255, data.data(), kArea));
  EXPECT_EQ(1, DecipherArea(kCipherPlain, data.data(), kArea));
  EXPECT_EQ(Plain(), data);
}

// A thread that ciphers once the start event is set and counts the
// answers that came out wrong.
struct CipherThread {
  HANDLE start;
  int wrong;
};

DWORD WINAPI DecipherLoop(void* parameter) {
  auto* args = static_cast<CipherThread*>(parameter);
  WaitForSingleObject(args->start, INFINITE);
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> data(kKnown[3].cipher, kKnown[3].cipher + kArea);
    if (!CipherAes256(data.data(), kArea, 0) || data != Plain()) ++args->wrong;
  }
  return 0;
}

// Each answer changes the lengths the thread's next calls see.
DWORD WINAPI MixedLoop(void* parameter) {
  auto* args = static_cast<CipherThread*>(parameter);
  WaitForSingleObject(args->start, INFINITE);
  constexpr size_t kLongArea = 1024;
  std::vector<uint8_t> other(kLongArea, 0x5C);
  for (int i = 0; i < 500; ++i) {
    const KnownAnswer& known = kKnown[1 + i % 3];
    const size_t otherLength = kCipherBlockSize * (1 + i % (kLongArea / kCipherBlockSize));
    if (!EncipherArea(known.kind, other.data(), otherLength)) ++args->wrong;
    std::vector<uint8_t> data = Plain();
    if (!EncipherArea(known.kind, data.data(), kArea) || std::memcmp(known.cipher, data.data(), kArea) != 0) {
      ++args->wrong;
    }
    if (!DecipherArea(known.kind, other.data(), otherLength)) ++args->wrong;
    if (!DecipherArea(known.kind, data.data(), kArea) || data != Plain()) ++args->wrong;
  }
  for (uint8_t byte : other) {
    if (byte != 0x5C) ++args->wrong;
  }
  return 0;
}

// Starts `count` threads on `loop`, runs `meanwhile` on this thread once
// they are released, and returns the wrong answers of each.
template <typename Meanwhile>
std::vector<int> RunCipherThreads(int count, LPTHREAD_START_ROUTINE loop, Meanwhile meanwhile) {
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_NE(nullptr, start);
  std::vector<CipherThread> args(size_t(count), CipherThread{start, 0});
  std::vector<HANDLE> workers;
  for (CipherThread& arg : args) {
    HANDLE worker = CreateThread(nullptr, 0, loop, &arg, 0, nullptr);
    EXPECT_NE(nullptr, worker);
    if (worker != nullptr) workers.push_back(worker);
  }
  SetEvent(start);
  meanwhile();
  WaitForMultipleObjects(DWORD(workers.size()), workers.data(), TRUE, INFINITE);
  for (HANDLE worker : workers) CloseHandle(worker);
  CloseHandle(start);
  std::vector<int> wrong;
  for (const CipherThread& arg : args) wrong.push_back(arg.wrong);
  return wrong;
}

TEST(Cipher, SettingUpAgainNeverDisturbsADecipheringThread) {
  const std::vector<int> wrong = RunCipherThreads(1, DecipherLoop, [] {
    for (int i = 0; i < 2000; ++i) EXPECT_EQ(1, InitCipherKeys());
  });
  EXPECT_EQ(std::vector<int>{0}, wrong);
}

// Threads cipher at the same time, each with areas of changing lengths in
// between: every known answer still comes out, so no context is shared and
// no call inherits anything from the one before it.
TEST(Cipher, ThreadsCipheringTogetherEachGetTheKnownAnswers) {
  constexpr int kThreads = 4;
  const std::vector<int> wrong = RunCipherThreads(kThreads, MixedLoop, [] {});
  EXPECT_EQ(std::vector<int>(kThreads, 0), wrong);
}

// More threads than contexts are kept idle: the ones given back beyond that
// are freed, and every thread still ciphers from the fixed vector.
TEST(Cipher, MoreThreadsThanIdleContextsEachGetTheKnownAnswers) {
  constexpr int kThreads = 20;
  const std::vector<int> wrong = RunCipherThreads(kThreads, MixedLoop, [] {});
  EXPECT_EQ(std::vector<int>(kThreads, 0), wrong);
}

}  // namespace
