#include "net/RemoteProtocol.h"

#include <cstring>

#include "core/RecordImport.h"
#include "core/TraceRecord.h"

namespace {
constexpr size_t kTypeBytes = 4;
constexpr size_t kNameLengthBytes = 4;
}  // namespace

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint16_t ReadLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

int AppendLe32(CByteBuffer& out, uint32_t value) {
  const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  return out.Append(bytes, sizeof(bytes)) == sizeof(bytes);
}

int AppendLe64(CByteBuffer& out, uint64_t value) {
  return AppendLe32(out, uint32_t(value)) && AppendLe32(out, uint32_t(value >> 32));
}

RemoteRequestParse ParseRemoteRequest(const uint8_t* data, size_t size, RemoteRequest* request) {
  if (size < kTypeBytes) {
    return RemoteRequestParse::kIncomplete;
  }
  request->type = ReadLe32(data);
  request->name = nullptr;
  request->nameBytes = 0;
  switch (request->type) {
    case kRemoteLiveViewer:
    case kRemoteDumpList:
      request->requestBytes = kTypeBytes;
      return RemoteRequestParse::kComplete;
    case kRemoteFileFetch:
      break;
    default:
      return RemoteRequestParse::kBad;
  }
  if (size < kTypeBytes + kNameLengthBytes) {
    return RemoteRequestParse::kIncomplete;
  }
  const uint32_t nameBytes = ReadLe32(data + kTypeBytes);
  if (nameBytes == 0 || nameBytes > kRemoteMaxNameBytes) {
    return RemoteRequestParse::kBad;
  }
  const size_t total = kTypeBytes + kNameLengthBytes + nameBytes;
  if (size < total) {
    return RemoteRequestParse::kIncomplete;
  }
  request->name = data + kTypeBytes + kNameLengthBytes;
  request->nameBytes = nameBytes;
  request->requestBytes = total;
  return RemoteRequestParse::kComplete;
}

size_t BeginRemoteReply(CByteBuffer& out) {
  const size_t at = out.Size();
  return AppendLe32(out, 0) ? at : SIZE_MAX;
}

int EndRemoteReply(CByteBuffer& out, size_t at) {
  const size_t following = out.Size() - at - kRemoteReplyLengthBytes;
  if (at + kRemoteReplyLengthBytes > out.Size() || following > UINT32_MAX) {
    return 0;
  }
  const uint32_t length = uint32_t(following);
  uint8_t* p = out.read + at;
  const uint8_t bytes[4] = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24)};
  std::memcpy(p, bytes, sizeof(bytes));
  return 1;
}

LiveRecordStep NextLiveRecord(const uint8_t* data, size_t size, size_t* length) {
  // The head is checked as soon as it is here: a length that cannot be
  // right is out of step at once, not after 12 KB more have arrived.
  if (size < kMinNarrowRecord) {
    return LiveRecordStep::kNeedMore;
  }
  const uint16_t recordLength = ReadLe16(data);
  if (recordLength < kMinNarrowRecord || recordLength > kMaxNarrowRecord || data[2] != kLiveRecordVersion) {
    return LiveRecordStep::kOutOfStep;
  }
  if (recordLength > size) {
    return LiveRecordStep::kNeedMore;
  }
  *length = recordLength;
  return LiveRecordStep::kRecord;
}
