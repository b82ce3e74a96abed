// Ciphers of the string area of narrow records: the byte scrambler and
// AES-CBC under the program's own keys. The keys are set up once per process
// and every thread ciphers with a context of its own, so any thread may
// decipher at any time.
#pragma once

#include <cstddef>
#include <cstdint>

// Cipher kinds of a narrow record (byte 7).
constexpr uint8_t kCipherPlain = 0;
constexpr uint8_t kCipherScrambler = 1;
constexpr uint8_t kCipherAes256First = 2;  // first 256-bit key
constexpr uint8_t kCipherAes128 = 3;
constexpr uint8_t kCipherAes256Record = 4;  // the record key the binary writer uses

constexpr size_t kCipherBlockSize = 16;

// Sets up the keys. Safe to call any number of times from any thread: only
// the first call builds, later calls find the same keys, so a second set-up
// can never disturb a thread that is deciphering. The cipher routines below
// call it themselves. Returns 1 when the keys stand.
int InitCipherKeys();

// AES-CBC in place with a fresh copy of the fixed vector per call. The length
// must be a positive multiple of 16: CBC over a partial last block would read
// and write past it. Returns 1, or 0 (data untouched) for a refused length or
// missing schedules.
int DecipherAes128(uint8_t* data, size_t length);
int DecipherAes256(uint8_t* data, size_t length);
// With encrypt non-zero enciphers under the record key, else deciphers with it.
int CipherAes256(uint8_t* data, size_t length, int encrypt);

// The byte scrambler: each byte b becomes (NOT b) + a constant, modulo 256.
// Applying it twice gives the bytes back.
void UnscrambleBytes(uint8_t* data, size_t length);

// Deciphers a string area in place as its cipher kind says; plain data is
// left as it is. The scrambler takes any length, the AES kinds a positive
// multiple of 16. 0 (data untouched) for an unknown kind or a refused length.
int DecipherArea(uint8_t kind, uint8_t* data, size_t length);
// The inverse, as a writer of that kind enciphers; the same rules.
int EncipherArea(uint8_t kind, uint8_t* data, size_t length);
