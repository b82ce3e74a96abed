#include "formats/ZipMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr size_t kFirstCapacity = 128;
constexpr size_t kCapacityAlign = 4;
constexpr int kSeekSet = ZLIB_FILEFUNC_SEEK_SET;
constexpr int kSeekCur = ZLIB_FILEFUNC_SEEK_CUR;
constexpr int kSeekEnd = ZLIB_FILEFUNC_SEEK_END;
// minizip's 32-bit file functions report positions as long.
constexpr size_t kMaxStreamSize = 0x7FFFFFFF;

ZipMemStream* AsStream(voidpf stream) { return static_cast<ZipMemStream*>(stream); }

voidpf ZCALLBACK OpenMem(voidpf opaque, const char* /*filename*/, int /*mode*/) {
  auto* stream = static_cast<ZipMemStream*>(std::calloc(1, sizeof(ZipMemStream)));
  if (stream != nullptr && opaque != nullptr) {
    static_cast<ZipHandle*>(opaque)->stream = stream;
    stream->limit = static_cast<ZipHandle*>(opaque)->limit;
  }
  return stream;
}

uLong ZCALLBACK ReadMem(voidpf, voidpf stream, void* buffer, uLong n) {
  return ZipMemRead(AsStream(stream), buffer, n);
}

uLong ZCALLBACK WriteMem(voidpf, voidpf stream, const void* buffer, uLong n) {
  return ZipMemWrite(AsStream(stream), buffer, n);
}

long ZCALLBACK TellMem(voidpf, voidpf stream) { return long(AsStream(stream)->position); }

long ZCALLBACK SeekMem(voidpf, voidpf stream, uLong offset, int origin) {
  return ZipMemSeek(AsStream(stream), offset, origin);
}

// minizip closes the stream as it finishes the archive; the bytes must
// outlive that, so closing only marks the stream.
int ZCALLBACK CloseMem(voidpf, voidpf stream) {
  AsStream(stream)->closed = true;
  return 0;
}

int ZCALLBACK ErrorMem(voidpf, voidpf) { return 0; }

}  // namespace

void FillMemoryFileFunctions(zlib_filefunc_def* functions, ZipHandle* owner) {
  functions->zopen_file = OpenMem;
  functions->zread_file = ReadMem;
  functions->zwrite_file = WriteMem;
  functions->ztell_file = TellMem;
  functions->zseek_file = SeekMem;
  functions->zclose_file = CloseMem;
  functions->zerror_file = ErrorMem;
  functions->opaque = owner;
}

unsigned long ZipMemRead(ZipMemStream* stream, void* buffer, unsigned long n) {
  if (stream == nullptr || buffer == nullptr || stream->position >= stream->size) {
    return 0;
  }
  const size_t left = stream->size - stream->position;
  const size_t count = n < left ? n : left;
  std::memcpy(buffer, stream->data + stream->position, count);
  stream->position += count;
  return static_cast<unsigned long>(count);
}

unsigned long ZipMemWrite(ZipMemStream* stream, const void* buffer, unsigned long n) {
  if (stream == nullptr || (buffer == nullptr && n != 0)) {
    return 0;
  }
  if (stream->discard) {
    return n;
  }
  if (n > kMaxStreamSize - stream->position) {
    return 0;
  }
  if (stream->limit != 0 && (stream->position > stream->limit || n > stream->limit - stream->position)) {
    return 0;
  }
  if (stream->capacity - stream->position < n) {
    const size_t step = stream->capacity > n ? stream->capacity : n;
    size_t wanted = stream->capacity + step;
    if (wanted < kFirstCapacity) {
      wanted = kFirstCapacity;
    }
    wanted = (wanted + kCapacityAlign - 1) & ~(kCapacityAlign - 1);
    auto* grown = static_cast<uint8_t*>(std::realloc(stream->data, wanted));
    if (grown == nullptr) {
      return 0;
    }
    stream->data = grown;
    stream->capacity = wanted;
  }
  std::memcpy(stream->data + stream->position, buffer, n);
  stream->position += n;
  if (stream->position > stream->size) {
    stream->size = stream->position;
  }
  return n;
}

int ZipMemReserve(ZipMemStream* stream, size_t capacity) {
  if (stream == nullptr || capacity > kMaxStreamSize) {
    return 0;
  }
  if (capacity <= stream->capacity) {
    return 1;
  }
  auto* grown = static_cast<uint8_t*>(std::realloc(stream->data, capacity));
  if (grown == nullptr) {
    return 0;
  }
  stream->data = grown;
  stream->capacity = capacity;
  return 1;
}

long ZipMemSeek(ZipMemStream* stream, unsigned long offset, int origin) {
  if (stream == nullptr) {
    return -1;
  }
  size_t target = 0;
  switch (origin) {
    case kSeekSet:
      target = offset;
      break;
    case kSeekCur:
      if (offset > stream->size - stream->position) {
        return -1;
      }
      target = stream->position + offset;
      break;
    case kSeekEnd:
      if (offset > stream->size) {
        return -1;
      }
      target = stream->size - offset;
      break;
    default:
      return -1;
  }
  if (target > stream->size) {
    return -1;
  }
  stream->position = target;
  return 0;
}

void ZipMemFree(ZipMemStream* stream) {
  if (stream != nullptr) {
    std::free(stream->data);
    std::free(stream);
  }
}

int zipFreeHandle(ZipHandle* handle) {
  if (handle == nullptr) {
    return kZipParamError;
  }
  int result = 0;
  if (handle->zip != nullptr) {
    // minizip frees its handle only by finishing the archive; nothing of an
    // archive given up may be kept, so those last writes are dropped.
    if (handle->stream != nullptr) {
      handle->stream->discard = true;
    }
    if (zipClose(handle->zip, nullptr) != ZIP_OK) {
      result = -1;
    }
    handle->zip = nullptr;
  }
  ZipMemFree(handle->stream);
  delete handle;
  return result;
}

ZipMemStream* zipGetStream(ZipHandle* handle) { return handle != nullptr ? handle->stream : nullptr; }
