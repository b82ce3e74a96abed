#include "core/Cipher.h"

// The low-level AES calls are deprecated in OpenSSL 3 but still the plainest
// way to run raw CBC over a whole number of blocks; keep the warning local.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>

#include <cstring>

namespace {

constexpr int kAes128Bits = 128;
constexpr int kAes256Bits = 256;
constexpr size_t kAes128KeyBytes = 16;
constexpr size_t kAes256KeyBytes = 32;

// Seeds of the key material. The bytes are expanded at run time so the keys
// never stand in the image as plain arrays; readers and the writer of the
// narrow form must agree on them, so they never change.
constexpr uint32_t kSeedAes128Key = 0x6B3D1F27u;
constexpr uint32_t kSeedFirstAes256Key = 0x2C9E5A41u;
constexpr uint32_t kSeedRecordKeyMix = 0x71D4B80Fu;
constexpr uint32_t kSeedVector = 0x53A7C619u;

constexpr uint8_t kScramblerConstant = 0x5A;

// xorshift32: a fixed, portable expansion of a seed into bytes.
void ExpandSeed(uint32_t seed, uint8_t* out, size_t length) {
  uint32_t state = seed;
  for (size_t i = 0; i < length; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    out[i] = static_cast<uint8_t>(state >> 24);
  }
}

struct CipherSchedules {
  AES_KEY aes128Decrypt;  // slot 1
  AES_KEY aes256Decrypt;  // slot 2: the first 256-bit key
  AES_KEY recordEncrypt;  // slot 3: the record key
  AES_KEY recordDecrypt;  // slot 4
  // The other writers' side, for EncipherArea.
  AES_KEY aes128Encrypt;
  AES_KEY aes256Encrypt;
  uint8_t vector[kCipherBlockSize];
  bool ready;
};

CipherSchedules BuildSchedules() {
  CipherSchedules s;
  std::memset(&s, 0, sizeof(s));
  uint8_t key128[kAes128KeyBytes];
  uint8_t key256[kAes256KeyBytes];
  uint8_t mix[kAes256KeyBytes];
  uint8_t recordKey[kAes256KeyBytes];
  ExpandSeed(kSeedAes128Key, key128, sizeof(key128));
  ExpandSeed(kSeedFirstAes256Key, key256, sizeof(key256));
  ExpandSeed(kSeedRecordKeyMix, mix, sizeof(mix));
  for (size_t i = 0; i < kAes256KeyBytes; ++i) {
    recordKey[i] = static_cast<uint8_t>(~(key256[i] ^ mix[i]));
  }
  ExpandSeed(kSeedVector, s.vector, sizeof(s.vector));
  s.ready = AES_set_decrypt_key(key128, kAes128Bits, &s.aes128Decrypt) == 0 &&
            AES_set_decrypt_key(key256, kAes256Bits, &s.aes256Decrypt) == 0 &&
            AES_set_encrypt_key(recordKey, kAes256Bits, &s.recordEncrypt) == 0 &&
            AES_set_decrypt_key(recordKey, kAes256Bits, &s.recordDecrypt) == 0 &&
            AES_set_encrypt_key(key128, kAes128Bits, &s.aes128Encrypt) == 0 &&
            AES_set_encrypt_key(key256, kAes256Bits, &s.aes256Encrypt) == 0;
  std::memset(key128, 0, sizeof(key128));
  std::memset(key256, 0, sizeof(key256));
  std::memset(recordKey, 0, sizeof(recordKey));
  return s;
}

// Built on first use under the language's thread-safe static initialisation
// and never written again.
const CipherSchedules& Schedules() {
  static const CipherSchedules schedules = BuildSchedules();
  return schedules;
}

bool AcceptableLength(const uint8_t* data, size_t length) {
  return data != nullptr && length != 0 && length % kCipherBlockSize == 0;
}

int RunCbc(uint8_t* data, size_t length, const AES_KEY& key, int direction) {
  const CipherSchedules& s = Schedules();
  if (!s.ready || !AcceptableLength(data, length)) {
    return 0;
  }
  // CBC advances the vector: every call starts from its own copy, so every
  // record's area is enciphered independently.
  uint8_t vector[kCipherBlockSize];
  std::memcpy(vector, s.vector, sizeof(vector));
  AES_cbc_encrypt(data, data, length, &key, vector, direction);
  return 1;
}

}  // namespace

int InitCipherKeys() { return Schedules().ready ? 1 : 0; }

int DecipherAes128(uint8_t* data, size_t length) {
  return RunCbc(data, length, Schedules().aes128Decrypt, AES_DECRYPT);
}

int DecipherAes256(uint8_t* data, size_t length) {
  return RunCbc(data, length, Schedules().aes256Decrypt, AES_DECRYPT);
}

int CipherAes256(uint8_t* data, size_t length, int encrypt) {
  if (encrypt != 0) {
    return RunCbc(data, length, Schedules().recordEncrypt, AES_ENCRYPT);
  }
  return RunCbc(data, length, Schedules().recordDecrypt, AES_DECRYPT);
}

void UnscrambleBytes(uint8_t* data, size_t length) {
  if (data == nullptr) {
    return;
  }
  for (size_t i = 0; i < length; ++i) {
    data[i] = static_cast<uint8_t>(static_cast<uint8_t>(~data[i]) + kScramblerConstant);
  }
}

int DecipherArea(uint8_t kind, uint8_t* data, size_t length) {
  switch (kind) {
    case kCipherPlain:
      return 1;
    case kCipherScrambler:
      if (data == nullptr && length != 0) {
        return 0;
      }
      UnscrambleBytes(data, length);
      return 1;
    case kCipherAes256First:
      return DecipherAes256(data, length);
    case kCipherAes128:
      return DecipherAes128(data, length);
    case kCipherAes256Record:
      return CipherAes256(data, length, 0);
    default:
      return 0;
  }
}

int EncipherArea(uint8_t kind, uint8_t* data, size_t length) {
  switch (kind) {
    case kCipherPlain:
      return 1;
    case kCipherScrambler:
      if (data == nullptr && length != 0) {
        return 0;
      }
      UnscrambleBytes(data, length);
      return 1;
    case kCipherAes256First:
      return RunCbc(data, length, Schedules().aes256Encrypt, AES_ENCRYPT);
    case kCipherAes128:
      return RunCbc(data, length, Schedules().aes128Encrypt, AES_ENCRYPT);
    case kCipherAes256Record:
      return CipherAes256(data, length, 1);
    default:
      return 0;
  }
}
