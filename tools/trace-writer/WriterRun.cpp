#include "tools/trace-writer/WriterRun.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "core/Handle.h"
#include "core/TraceRecord.h"
#include "tools/trace-writer/WriterBytes.h"
#include "tools/trace-writer/WriterChannel.h"
#include "tools/trace-writer/WriterOlder.h"
#include "tools/trace-writer/WriterRecord.h"
#include "tools/trace-writer/WriterRing.h"
#include "tools/trace-writer/WriterSingle.h"

namespace {


struct WriterShared {
  const WriterOptions* options;
  CWriterChannel* channel;
  std::atomic<uint32_t> written{0};
  std::atomic<bool> failed{false};
};

void FillTimes(WriterRecordFields* fields) {
  const uint64_t ms = UnixNowMs();
  fields->time = uint32_t(ms / kMsPerSecond);
  fields->milliseconds = uint16_t(ms % kMsPerSecond);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  fields->stamp = uint64_t(counter.QuadPart);
}

// The batch's records, built outside the mutex, back to back in `bytes`
// (its first `used` bytes), so they go into the ring with one copy each.
struct Batch {
  std::vector<uint8_t> bytes;
  size_t used = 0;
  std::vector<uint32_t> lengths;
};

bool BuildBatch(const WriterOptions& options, uint32_t thread, uint32_t firstSequence, uint32_t count, Batch* batch) {
  static thread_local wchar_t message[kWriterMessageUnits];
  batch->used = 0;
  batch->lengths.clear();
  WriterRecordFields fields;
  fields.level = options.level;
  fields.pid = GetCurrentProcessId();
  fields.tid = GetCurrentThreadId();
  fields.module = options.module.c_str();
  fields.encoding = options.encoding;
  fields.cipher = options.cipher;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t sequence = firstSequence + i;
    MakeWriterMessage(options.id, thread, sequence, message, kWriterMessageUnits);
    fields.message = message;
    fields.hint = WriterHint(sequence);
    FillTimes(&fields);
    if (batch->bytes.size() < batch->used + kMaxNarrowRecord) {
      batch->bytes.resize((batch->used + kMaxNarrowRecord) * 2);
    }
    const size_t length = BuildWriterRecord(fields, batch->bytes.data() + batch->used, kMaxNarrowRecord);
    if (length == 0) {
      return false;
    }
    batch->used += length;
    batch->lengths.push_back(uint32_t(length));
  }
  return true;
}

// Ends the process while it holds the mutex, half way through an append:
// the header already counts a record whose bytes are only half there.
[[noreturn]] void DieHoldingMutex(WriterShared* shared, const Batch& batch) {
  TraceBufferHeader* ring = shared->channel->Lock();
  if (ring != nullptr && !batch.lengths.empty()) {
    uint8_t* slot = ReserveRingRecord(ring, batch.lengths[0], nullptr);
    if (slot != nullptr) {
      std::memcpy(slot, batch.bytes.data(), batch.lengths[0] / 2);
    }
  }
  printf("written: %u\n", shared->written.load());
  fflush(stdout);
  TerminateProcess(GetCurrentProcess(), kWriterExitDied);
  ExitProcess(kWriterExitDied);
}

// Mid-run faults belong to thread 1, at its first batch past half its count.
void PlayMidRunFault(WriterShared* shared, const Batch& next) {
  const WriterFault fault = shared->options->fault;
  if (fault == WriterFault::kDieHoldingMutex) {
    DieHoldingMutex(shared, next);
  }
  if (fault != WriterFault::kHoldMutex && fault != WriterFault::kNewGeneration) {
    return;
  }
  TraceBufferHeader* ring = shared->channel->Lock();
  if (ring == nullptr) {
    return;
  }
  if (fault == WriterFault::kHoldMutex) {
    Sleep(kHoldMutexMs);  // the point is to hold it
  } else {
    ApplyRingFault(ring, fault);
  }
  shared->channel->Unlock();
}

void WriteThread(WriterShared* shared, uint32_t thread) {
  const WriterOptions& options = *shared->options;
  const bool midRunFault = thread == 1 && (options.fault == WriterFault::kDieHoldingMutex ||
                                           options.fault == WriterFault::kHoldMutex ||
                                           options.fault == WriterFault::kNewGeneration);
  const uint32_t faultAt = options.count / 2;
  bool faultPlayed = false;
  const ULONGLONG start = GetTickCount64();
  const uint32_t batchSize = PacedBatch(options.batch, options.rate);
  Batch batch;
  uint32_t done = 0;
  while (done < options.count && !shared->failed.load()) {
    const uint32_t count = options.count - done < batchSize ? options.count - done : batchSize;
    if (!BuildBatch(options, thread, done + 1, count, &batch)) {
      shared->failed.store(true);
      return;
    }
    if (midRunFault && !faultPlayed && done >= faultAt) {
      faultPlayed = true;
      PlayMidRunFault(shared, batch);
    }
    TraceBufferHeader* ring = shared->channel->Lock();
    if (ring == nullptr) {
      shared->failed.store(true);
      return;
    }
    const uint8_t* record = batch.bytes.data();
    for (uint32_t length : batch.lengths) {
      AppendRingRecord(ring, record, length, nullptr);
      record += length;
    }
    shared->channel->Unlock();
    done += count;
    shared->written.fetch_add(count);
    shared->channel->Signal();
    Pace(options.rate, done, start);
  }
}

bool SignalOnly(const WriterOptions& options, std::wstring* error) {
  CWriterChannel channel(MakeChannelNames(options.kind, options.global, options.tag));
  if (options.waitEventMs != 0 && !channel.WaitForEvent(options.waitEventMs)) {
    *error = L"no event " + channel.Names().event;
    return false;
  }
  if (!channel.Signal()) {
    *error = L"cannot signal " + channel.Names().event;
    return false;
  }
  return true;
}

// The starter may make the event before or after this process opens it.
bool WaitForStart(const std::wstring& name, std::wstring* error) {
  const CHandle start(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  if (!start.valid()) {
    *error = L"cannot open start event " + name;
    return false;
  }
  const DWORD waited = WaitForSingleObject(start.get(), kStartEventWaitMs);
  if (waited != WAIT_OBJECT_0) {
    *error = L"no start from " + name + L" after " + std::to_wstring(kStartEventWaitMs) + L" ms";
    return false;
  }
  return true;
}

}  // namespace

int RunWriter(const WriterOptions& options, uint32_t* written, std::wstring* error) {
  *written = 0;
  // A ring writer gets its ring ready first (below).
  const bool ringReadyFirst = options.input == WriterInput::kRing && options.fault != WriterFault::kSignalNoRing;
  if (!options.startEvent.empty() && !ringReadyFirst && !WaitForStart(options.startEvent, error)) {
    return kWriterExitFailed;
  }
  switch (options.input) {
    case WriterInput::kKelBuffer:
      return RunKelBufferWriter(options, written, error);
    case WriterInput::kDbwin:
    case WriterInput::kDbwinRaw:
      return RunDbwinWriter(options, written, error);
    case WriterInput::kCopyData:
      return RunCopyDataWriter(options, written, error);
    case WriterInput::kQrv:
      return RunQrvWriter(options, written, error);
    case WriterInput::kQrc:
      return RunQrcWriter(options, written, error);
    case WriterInput::kRing:
      break;
  }
  if (options.fault == WriterFault::kSignalNoRing) {
    return SignalOnly(options, error) ? kWriterExitOk : kWriterExitFailed;
  }
  CWriterChannel channel(MakeChannelNames(options.kind, options.global, options.tag));
  if (!channel.Open(options.ringBytes, error)) {
    return kWriterExitFailed;
  }
  if (!options.startEvent.empty()) {
    channel.TouchRing();
    if (!WaitForStart(options.startEvent, error)) {
      return kWriterExitFailed;
    }
  }
  if (options.waitEventMs != 0 && !channel.WaitForEvent(options.waitEventMs)) {
    *error = L"no event " + channel.Names().event + L" after " + std::to_wstring(options.waitEventMs) + L" ms";
    return kWriterExitFailed;
  }
  WriterShared shared;
  shared.options = &options;
  shared.channel = &channel;
  std::vector<std::thread> threads;
  for (uint32_t t = 1; t <= options.threads; ++t) {
    threads.emplace_back(WriteThread, &shared, t);
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  *written = shared.written.load();
  if (shared.failed.load()) {
    *error = L"a record could not be built or the mutex could not be taken";
    return kWriterExitFailed;
  }
  if (TraceBufferHeader* ring = channel.Lock()) {
    ApplyRingFault(ring, options.fault == WriterFault::kNewGeneration ? WriterFault::kNone : options.fault);
    channel.Unlock();
    channel.Signal();
  }
  if (options.lingerMs != 0) {
    Sleep(options.lingerMs);  // a traced program that goes on running
  }
  return kWriterExitOk;
}
