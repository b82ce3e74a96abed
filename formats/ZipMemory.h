// A zip archive written into memory: minizip's file functions over a
// growable memory block, and the two things minizip's writer lacks to hand
// such an archive out: keeping the output after the central directory is
// written (zipClose frees its handle and closes the stream), and releasing
// everything afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zip.h>

// The opaque stream of the memory file functions. Created zeroed.
struct ZipMemStream {
  uint8_t* data;
  size_t size;      // the highest position written
  size_t position;
  size_t capacity;
  // Set by the file functions' close: minizip is done with the stream, and
  // its bytes stay until zipFreeHandle.
  bool closed;
  // Set while an unfinished archive is released: its last writes are dropped.
  bool discard;
  // Most bytes the stream takes (0: no limit); a write past it fails, which
  // ends the archive there instead of deflating the rest for nothing.
  size_t limit;
};

// An archive being written into memory: minizip's handle (null once the
// archive was finished) and the stream its open operation made.
struct ZipHandle {
  zipFile zip;
  ZipMemStream* stream;
  size_t limit;  // given to the stream as it opens
};

// Fills minizip's file-function table with the memory functions. The open
// operation records its stream in `owner`, so the archive's bytes can be
// found again.
void FillMemoryFileFunctions(zlib_filefunc_def* functions, ZipHandle* owner);

// The memory functions themselves (tested on their own; minizip calls them
// through the table).
// read: min(n, size - position) bytes from the position; the count.
unsigned long ZipMemRead(ZipMemStream* stream, void* buffer, unsigned long n);
// write: grows to max(128, capacity + max(capacity, n)) rounded up to 4
// when the room behind the position is short; n, or 0 when memory runs out
// or the size would not fit.
unsigned long ZipMemWrite(ZipMemStream* stream, const void* buffer, unsigned long n);
// seek: origin 0 from the start, 1 from the position, 2 back from the
// size; a target beyond the size (or before the start) fails with -1 and
// leaves the position; else 0.
long ZipMemSeek(ZipMemStream* stream, unsigned long offset, int origin);

// Grows the stream's block to at least `capacity` bytes (kept as they are),
// so writes up to there never move it. 1, or 0 when memory runs out (the
// stream unchanged).
int ZipMemReserve(ZipMemStream* stream, size_t capacity);

// Frees the stream and its bytes.
void ZipMemFree(ZipMemStream* stream);

// The parameter error of minizip's writer.
constexpr int kZipParamError = ZIP_PARAMERROR;

// Releases an archive without finishing it: an unfinished minizip handle is
// closed with its writes dropped, then the stream and the handle are freed.
// kZipParamError for no handle; 0, or -1 when closing failed.
int zipFreeHandle(ZipHandle* handle);
// The stream the open operation made for this archive; null for no handle.
ZipMemStream* zipGetStream(ZipHandle* handle);
