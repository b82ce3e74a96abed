// Line reading for the text-family readers: a file read in chunks into one
// buffer and handed out as byte spans, and a UTF-8 decoder into UTF-16.
// Memory does not grow with the file or with its longest line: a line longer
// than a chunk comes in pieces.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

struct ByteSpan {
  const uint8_t* begin;
  const uint8_t* end;
  size_t size() const { return size_t(end - begin); }
};

// What a byte that starts no valid UTF-8 sequence becomes.
enum class InvalidByte {
  kLatin1,       // the character of the same number (byte-per-character reading)
  kReplacement,  // U+FFFD, as the text file reads broken UTF-8
};

// Decodes from *at up to end into out (room for `room` units) and moves *at
// on. A character needing two units is left for the next call when only one
// unit is left. Returns the units written.
size_t DecodeUtf8(const uint8_t** at, const uint8_t* end, wchar_t* out, size_t room, InvalidByte invalid);

class CChunkLineReader {
 public:
  // Bytes read at a time; a line longer than this comes in pieces.
  static constexpr size_t kChunkBytes = 1u << 20;

  // Reads `file` (not owned) from its current position.
  explicit CChunkLineReader(HANDLE file) : m_file(file) {}
  CChunkLineReader(const CChunkLineReader&) = delete;
  CChunkLineReader& operator=(const CChunkLineReader&) = delete;

  // 0 when the buffer cannot be had.
  int Init();

  // The next piece of a line: 1 with the piece, and *lineEnd true when it
  // ends its line (at an LF, whose CR before it is dropped, or at the end of
  // the file); 0 at the end of the file; -1 when reading failed. A piece
  // that does not end its line never ends inside a UTF-8 sequence that
  // the next bytes complete. The piece lives until the next call.
  int Next(ByteSpan* piece, bool* lineEnd);

  // File bytes handed out so far, line ends included.
  uint64_t Consumed() const { return m_consumed; }

 private:
  int Fill();

  HANDLE m_file;
  std::unique_ptr<uint8_t[]> m_buffer;  // 2 * kChunkBytes
  size_t m_pos = 0;
  size_t m_have = 0;
  bool m_eof = false;
  uint64_t m_consumed = 0;
};
