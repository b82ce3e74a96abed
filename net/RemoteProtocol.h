// The framing of the remote instance protocol over TCP: the request a client
// sends first, the length-framed list and file replies, and the live stream
// of narrow records. All integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"

// The client's first word.
constexpr uint32_t kRemoteLiveViewer = 1;
constexpr uint32_t kRemoteDumpList = 2;
constexpr uint32_t kRemoteFileFetch = 3;

constexpr uint16_t kRemoteDefaultPort = 6000;
// A server serves at most this many connections at once.
constexpr size_t kRemoteMaxConnections = 8;
// A file request names 1 to this many bytes of UTF-8 path.
constexpr uint32_t kRemoteMaxNameBytes = 511;
// Longest request: type, name length, name.
constexpr size_t kRemoteMaxRequestBytes = 4 + 4 + kRemoteMaxNameBytes;
// Every reply opens with the u32 length of what follows.
constexpr size_t kRemoteReplyLengthBytes = 4;
// A live record's head: u16 length, version byte 3, source type, flags ...
constexpr size_t kLiveSourceTypeOffset = 3;
constexpr size_t kLiveFlagsOffset = 4;
constexpr size_t kLiveSessionOffset = 44;
constexpr uint8_t kLiveRecordVersion = 3;

enum class RemoteRequestParse {
  kIncomplete,  // more bytes must come
  kBad,         // refused: unknown type, name length 0 or over the limit
  kComplete,
};

struct RemoteRequest {
  uint32_t type = 0;
  const uint8_t* name = nullptr;  // file fetch only: into the parsed bytes
  uint32_t nameBytes = 0;
  size_t requestBytes = 0;  // bytes the request took
};

// Parses the request at the start of `data`. Pure: bytes may arrive in any
// number of reads, the caller parses again when more came.
RemoteRequestParse ParseRemoteRequest(const uint8_t* data, size_t size, RemoteRequest* request);

// Appends the u32 length placeholder of a reply; returns its offset in the
// buffer's unread bytes, or SIZE_MAX when the buffer cannot grow.
size_t BeginRemoteReply(CByteBuffer& out);
// Sets the placeholder at `at` to the bytes that follow it. 0 when the reply
// is too long for its 32-bit length.
int EndRemoteReply(CByteBuffer& out, size_t at);

enum class LiveRecordStep {
  kRecord,     // a whole record of `*length` bytes starts here
  kNeedMore,   // the record is not complete yet
  kOutOfStep,  // no record can start here: the stream lost its framing
};

// Looks at the live-stream bytes at `data`.
LiveRecordStep NextLiveRecord(const uint8_t* data, size_t size, size_t* length);

// Little-endian helpers of the protocol.
uint32_t ReadLe32(const uint8_t* p);
uint16_t ReadLe16(const uint8_t* p);
int AppendLe32(CByteBuffer& out, uint32_t value);
int AppendLe64(CByteBuffer& out, uint64_t value);
