#include "core/Cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <windows.h>

#include <malloc.h>

#include <atomic>
#include <climits>
#include <cstring>


namespace {

constexpr size_t kAes128KeyBytes = 16;
constexpr size_t kAes256KeyBytes = 32;
constexpr int kEncrypt = 1;
constexpr int kDecrypt = 0;
// EVP takes an int length: longer data goes through in pieces, which CBC
// chains like one call.
constexpr size_t kLargestPiece = size_t(INT_MAX) / kCipherBlockSize * kCipherBlockSize;

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

// One key in one direction.
enum Slot {
  kSlotAes128Decrypt,
  kSlotAes256Decrypt,   // the first 256-bit key
  kSlotRecordEncrypt,   // the record key
  kSlotRecordDecrypt,
  kSlotAes128Encrypt,   // the other writers' side, for EncipherArea
  kSlotAes256Encrypt,
  kSlotCount
};

// The process's cipher contexts. EVP picks AES-NI where the processor has
// it. A context is keyed once, so a record costs no key schedule; a thread
// takes an idle context of its slot and gives it back, so threads never
// share one. The owner is made on
// first use after libcrypto's own set-up, so it is destroyed (once, at
// process exit) before libcrypto cleans up; no context belongs to a thread.
// Idle contexts wait in a few atomic places per slot: taking and giving one
// is one exchange, which every record pays (the system's lock-free lists
// cost a guarded call each). A context given back when every place is taken
// is freed.
class CCipherContexts {
 public:
  static CCipherContexts& Get() {
    static CCipherContexts contexts;
    return contexts;
  }

  bool Ready() const { return m_ready; }
  int Run(Slot slot, uint8_t* data, size_t length);

 private:
  CCipherContexts();
  ~CCipherContexts();
  CCipherContexts(const CCipherContexts&) = delete;
  CCipherContexts& operator=(const CCipherContexts&) = delete;

  // Contexts kept idle per slot: more threads than this ciphering at once
  // is rare, and costs them a context copy.
  static constexpr size_t kIdlePlaces = 8;

  // An idle context in one of a slot's places.
  struct IdleContext {
    EVP_CIPHER_CTX* context;
    // The context's CBC chaining block: the fixed vector after keying, then
    // the last cipher block of the previous call.
    uint8_t chain[kCipherBlockSize];
  };

  bool Key(Slot slot, const EVP_CIPHER* cipher, const uint8_t* key, int direction);
  IdleContext* Take(Slot slot);
  void Give(Slot slot, IdleContext* idle);
  static void Free(IdleContext* idle);

  EVP_CIPHER* m_aes128 = nullptr;
  EVP_CIPHER* m_aes256 = nullptr;
  // Keyed contexts that are only ever copied.
  EVP_CIPHER_CTX* m_keyed[kSlotCount] = {};
  std::atomic<IdleContext*> m_idle[kSlotCount][kIdlePlaces] = {};
  uint8_t m_vector[kCipherBlockSize] = {};
  bool m_ready = false;
};

CCipherContexts::CCipherContexts() {
  if (OPENSSL_init_crypto(0, nullptr) != 1) {
    return;
  }
  // Fetched once: naming the cipher on every initialisation would look it
  // up in the provider tables each time.
  m_aes128 = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
  m_aes256 = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
  if (m_aes128 == nullptr || m_aes256 == nullptr) {
    return;
  }
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
  ExpandSeed(kSeedVector, m_vector, sizeof(m_vector));
  m_ready = Key(kSlotAes128Decrypt, m_aes128, key128, kDecrypt) &&
            Key(kSlotAes256Decrypt, m_aes256, key256, kDecrypt) &&
            Key(kSlotRecordEncrypt, m_aes256, recordKey, kEncrypt) &&
            Key(kSlotRecordDecrypt, m_aes256, recordKey, kDecrypt) &&
            Key(kSlotAes128Encrypt, m_aes128, key128, kEncrypt) &&
            Key(kSlotAes256Encrypt, m_aes256, key256, kEncrypt);
  OPENSSL_cleanse(key128, sizeof(key128));
  OPENSSL_cleanse(key256, sizeof(key256));
  OPENSSL_cleanse(mix, sizeof(mix));
  OPENSSL_cleanse(recordKey, sizeof(recordKey));
}

CCipherContexts::~CCipherContexts() {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    for (std::atomic<IdleContext*>& place : m_idle[slot]) {
      IdleContext* idle = place.exchange(nullptr, std::memory_order_acquire);
      if (idle != nullptr) {
        Free(idle);
      }
    }
    EVP_CIPHER_CTX_free(m_keyed[slot]);
  }
  EVP_CIPHER_free(m_aes128);
  EVP_CIPHER_free(m_aes256);
}

bool CCipherContexts::Key(Slot slot, const EVP_CIPHER* cipher, const uint8_t* key, int direction) {
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  if (context == nullptr) {
    return false;
  }
  m_keyed[slot] = context;
  // Every length is a whole number of blocks: no padding of EVP's own.
  return EVP_CipherInit_ex2(context, cipher, key, m_vector, direction, nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(context, 0) == 1;
}

CCipherContexts::IdleContext* CCipherContexts::Take(Slot slot) {
  for (std::atomic<IdleContext*>& place : m_idle[slot]) {
    if (place.load(std::memory_order_relaxed) != nullptr) {
      IdleContext* idle = place.exchange(nullptr, std::memory_order_acquire);
      if (idle != nullptr) {
        return idle;
      }
    }
  }
  // One more thread ciphers at the same time: a copy of the keyed context.
  auto* idle = static_cast<IdleContext*>(_aligned_malloc(sizeof(IdleContext), alignof(IdleContext)));
  if (idle == nullptr) {
    return nullptr;
  }
  idle->context = EVP_CIPHER_CTX_new();
  if (idle->context == nullptr || EVP_CIPHER_CTX_copy(idle->context, m_keyed[slot]) != 1) {
    EVP_CIPHER_CTX_free(idle->context);
    _aligned_free(idle);
    return nullptr;
  }
  std::memcpy(idle->chain, m_vector, sizeof(idle->chain));
  return idle;
}

void CCipherContexts::Give(Slot slot, IdleContext* idle) {
  for (std::atomic<IdleContext*>& place : m_idle[slot]) {
    IdleContext* empty = nullptr;
    if (place.compare_exchange_strong(empty, idle, std::memory_order_release, std::memory_order_relaxed)) {
      return;
    }
  }
  Free(idle);
}

void CCipherContexts::Free(IdleContext* idle) {
  EVP_CIPHER_CTX_free(idle->context);
  _aligned_free(idle);
}

bool AcceptableLength(const uint8_t* data, size_t length) {
  return data != nullptr && length != 0 && length % kCipherBlockSize == 0;
}

void XorBlock(uint8_t* target, const uint8_t* a, const uint8_t* b) {
  for (size_t i = 0; i < kCipherBlockSize; ++i) {
    target[i] ^= a[i] ^ b[i];
  }
}

bool IsEncryptSlot(Slot slot) {
  return slot == kSlotRecordEncrypt || slot == kSlotAes128Encrypt || slot == kSlotAes256Encrypt;
}

int CCipherContexts::Run(Slot slot, uint8_t* data, size_t length) {
  if (!m_ready || !AcceptableLength(data, length)) {
    return 0;
  }
  IdleContext* idle = Take(slot);
  if (idle == nullptr) {
    return 0;
  }
  // Every call must start from the fixed vector, so every record's area is
  // enciphered independently. Re-arming the context costs more than the
  // cipher of a short area, so the context goes on from its last block and
  // the first block is corrected instead: CBC mixes the vector into the
  // first block only.
  const bool encrypt = IsEncryptSlot(slot);
  uint8_t lastIn[kCipherBlockSize];
  if (encrypt) {
    XorBlock(data, m_vector, idle->chain);
  } else {
    std::memcpy(lastIn, data + length - kCipherBlockSize, sizeof(lastIn));
  }
  bool done = true;
  for (size_t at = 0; done && at < length;) {
    const size_t piece = length - at < kLargestPiece ? length - at : kLargestPiece;
    int out = 0;
    done = EVP_CipherUpdate(idle->context, data + at, &out, data + at, int(piece)) == 1 && size_t(out) == piece;
    at += piece;
  }
  if (!done) {
    // The context's chaining block is unknown now: it is not used again.
    Free(idle);
    return 0;
  }
  if (encrypt) {
    std::memcpy(idle->chain, data + length - kCipherBlockSize, sizeof(idle->chain));
  } else {
    XorBlock(data, m_vector, idle->chain);
    std::memcpy(idle->chain, lastIn, sizeof(idle->chain));
  }
  Give(slot, idle);
  return 1;
}

int RunCbc(uint8_t* data, size_t length, Slot slot) { return CCipherContexts::Get().Run(slot, data, length); }

}  // namespace

int InitCipherKeys() { return CCipherContexts::Get().Ready() ? 1 : 0; }

int DecipherAes128(uint8_t* data, size_t length) {
  return RunCbc(data, length, kSlotAes128Decrypt);
}

int DecipherAes256(uint8_t* data, size_t length) {
  return RunCbc(data, length, kSlotAes256Decrypt);
}

int CipherAes256(uint8_t* data, size_t length, int encrypt) {
  if (encrypt != 0) {
    return RunCbc(data, length, kSlotRecordEncrypt);
  }
  return RunCbc(data, length, kSlotRecordDecrypt);
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
      return RunCbc(data, length, kSlotAes256Encrypt);
    case kCipherAes128:
      return RunCbc(data, length, kSlotAes128Encrypt);
    case kCipherAes256Record:
      return CipherAes256(data, length, 1);
    default:
      return 0;
  }
}
