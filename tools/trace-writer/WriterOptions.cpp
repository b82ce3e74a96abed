#include "tools/trace-writer/WriterOptions.h"

#include <cwchar>
#include <cwctype>

namespace {

constexpr unsigned InputBit(WriterInput input) { return 1u << unsigned(input); }
constexpr unsigned kRingOnly = InputBit(WriterInput::kRing);

struct FaultEntry {
  const wchar_t* name;
  WriterFault fault;
  unsigned inputs;  // the inputs the fault applies to
};

constexpr FaultEntry kFaults[] = {
    {L"die-holding-mutex", WriterFault::kDieHoldingMutex, kRingOnly},
    {L"bad-magic", WriterFault::kBadMagic, kRingOnly},
    {L"bad-version", WriterFault::kBadVersion, kRingOnly},
    {L"bad-end", WriterFault::kBadEnd, kRingOnly | InputBit(WriterInput::kQrv)},
    {L"bad-count", WriterFault::kBadCount, kRingOnly | InputBit(WriterInput::kQrv)},
    {L"zero-length", WriterFault::kZeroLength, kRingOnly},
    {L"new-generation", WriterFault::kNewGeneration, kRingOnly},
    {L"hold-mutex", WriterFault::kHoldMutex, kRingOnly | InputBit(WriterInput::kQrv) | InputBit(WriterInput::kQrc)},
    {L"signal-no-ring", WriterFault::kSignalNoRing, kRingOnly},
    {L"unterminated", WriterFault::kUnterminated,
     InputBit(WriterInput::kKelBuffer) | InputBit(WriterInput::kDbwinRaw) | InputBit(WriterInput::kCopyData)},
    {L"empty-text", WriterFault::kEmptyText, InputBit(WriterInput::kKelBuffer) | InputBit(WriterInput::kDbwinRaw)},
    {L"no-prefix", WriterFault::kNoPrefix, InputBit(WriterInput::kCopyData)},
    {L"ignored-data", WriterFault::kIgnoredData, InputBit(WriterInput::kCopyData)},
    {L"empty-data", WriterFault::kEmptyData, InputBit(WriterInput::kCopyData)},
    {L"too-long", WriterFault::kTooLong, InputBit(WriterInput::kCopyData)},
    {L"same-time", WriterFault::kSameTime, InputBit(WriterInput::kQrv)},
    {L"bad-offset", WriterFault::kBadOffset, InputBit(WriterInput::kQrc)},
    {L"bad-size", WriterFault::kBadSize, InputBit(WriterInput::kQrc)},
    {L"short-event", WriterFault::kShortEvent, InputBit(WriterInput::kQrc)},
    {L"long-event", WriterFault::kLongEvent, InputBit(WriterInput::kQrc)},
    {L"dead-pid", WriterFault::kDeadPid, InputBit(WriterInput::kQrc)},
};

struct InputEntry {
  const wchar_t* name;
  WriterInput input;
};

constexpr InputEntry kInputs[] = {
    {L"ring", WriterInput::kRing},          {L"kel-buffer", WriterInput::kKelBuffer},
    {L"dbwin", WriterInput::kDbwin},        {L"dbwin-raw", WriterInput::kDbwinRaw},
    {L"copydata", WriterInput::kCopyData},  {L"qrv", WriterInput::kQrv},
    {L"qrc", WriterInput::kQrc},
};
constexpr uint32_t kMaxLayoutVersion = 4;

constexpr uint8_t kMaxCipherKind = 4;
constexpr uint32_t kLevelBits = 0x1F;

// Decimal or 0x-hexadecimal, the whole text, within [low, high].
bool ParseNumber(const wchar_t* text, uint32_t low, uint32_t high, uint32_t* value) {
  if (text == nullptr || text[0] == 0 || text[0] == L'-' || text[0] == L'+' || iswspace(text[0])) {
    return false;
  }
  wchar_t* end = nullptr;
  const unsigned long long parsed = wcstoull(text, &end, 0);
  if (end == text || *end != 0 || parsed < low || parsed > high) {
    return false;
  }
  *value = uint32_t(parsed);
  return true;
}

bool Fail(std::wstring* error, const wchar_t* option, const wchar_t* what) {
  *error = std::wstring(option) + L": " + what;
  return false;
}

}  // namespace

const wchar_t* FaultName(WriterFault fault) {
  for (const FaultEntry& entry : kFaults) {
    if (entry.fault == fault) {
      return entry.name;
    }
  }
  return nullptr;
}

const wchar_t* InputName(WriterInput input) {
  for (const InputEntry& entry : kInputs) {
    if (entry.input == input) {
      return entry.name;
    }
  }
  return L"?";
}

const wchar_t* WriterUsage() {
  return L"usage: trace-writer [--kind K] [--global] [--count N] [--batch B] [--rate R] [--ring BYTES]\n"
         L"                    [--threads T] [--id W] [--cipher C] [--encoding E] [--level L]\n"
         L"                    [--module NAME] [--wait-event MS] [--fault F] [--linger MS] [--tag TEXT]\n"
         L"                    [--input I] [--version V] [--level-code C] [--start-event NAME]\n"
         L"  I: ring kel-buffer dbwin dbwin-raw copydata qrv qrc\n"
         L"  F (ring): die-holding-mutex bad-magic bad-version bad-end bad-count zero-length\n"
         L"            new-generation hold-mutex signal-no-ring\n"
         L"  F (kel-buffer, dbwin-raw): unterminated empty-text; (copydata): unterminated\n"
         L"            no-prefix ignored-data empty-data too-long; (qrv): bad-end bad-count\n"
         L"            same-time hold-mutex; (qrc): bad-offset bad-size short-event long-event\n"
         L"            dead-pid hold-mutex\n";
}

bool ParseWriterOptions(int argc, const wchar_t* const* argv, WriterOptions* options, std::wstring* error) {
  struct NumberOption {
    const wchar_t* name;
    uint32_t* value;
    uint32_t low;
    uint32_t high;
  };
  uint32_t cipher = options->cipher, encoding = options->encoding;
  const NumberOption numbers[] = {
      {L"--kind", &options->kind, 0, kWriterKinds - 1},
      {L"--count", &options->count, 0, UINT32_MAX},
      {L"--batch", &options->batch, 1, kMaxBatch},
      {L"--rate", &options->rate, 0, UINT32_MAX},
      {L"--ring", &options->ringBytes, kMinRingBytes, kMaxRingBytes},
      {L"--threads", &options->threads, 1, kMaxWriterThreads},
      {L"--id", &options->id, 0, UINT32_MAX},
      {L"--cipher", &cipher, 0, kMaxCipherKind},
      {L"--encoding", &encoding, 1, 4},
      {L"--level", &options->level, 0, kLevelBits},
      {L"--wait-event", &options->waitEventMs, 0, UINT32_MAX},
      {L"--linger", &options->lingerMs, 0, UINT32_MAX},
      {L"--version", &options->layoutVersion, 0, kMaxLayoutVersion},
      {L"--level-code", &options->levelCode, 0, UINT32_MAX},
  };
  for (int i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    if (wcscmp(arg, L"--global") == 0) {
      options->global = true;
      continue;
    }
    const NumberOption* number = nullptr;
    for (const NumberOption& candidate : numbers) {
      if (wcscmp(arg, candidate.name) == 0) {
        number = &candidate;
      }
    }
    const bool isText = wcscmp(arg, L"--module") == 0 || wcscmp(arg, L"--fault") == 0 || wcscmp(arg, L"--tag") == 0 ||
                        wcscmp(arg, L"--input") == 0 || wcscmp(arg, L"--start-event") == 0;
    if (number == nullptr && !isText) {
      return Fail(error, arg, L"unknown option");
    }
    if (i + 1 >= argc) {
      return Fail(error, arg, L"needs a value");
    }
    const wchar_t* value = argv[++i];
    if (number != nullptr) {
      if (!ParseNumber(value, number->low, number->high, number->value)) {
        return Fail(error, arg, (L"not a number from " + std::to_wstring(number->low) + L" to " +
                                 std::to_wstring(number->high) + L": " + value)
                                    .c_str());
      }
    } else if (wcscmp(arg, L"--module") == 0) {
      const size_t length = wcslen(value);
      if (length == 0 || length > kMaxWriterModuleUnits || wcschr(value, L'@') != nullptr) {
        return Fail(error, arg, L"needs 1 to 127 characters without '@'");
      }
      options->module = value;
    } else if (wcscmp(arg, L"--tag") == 0) {
      const size_t length = wcslen(value);
      if (length == 0 || length > kMaxWriterTagUnits || wcspbrk(value, L"\\/") != nullptr) {
        return Fail(error, arg, L"needs 1 to 16 characters without slashes");
      }
      options->tag = value;
    } else if (wcscmp(arg, L"--start-event") == 0) {
      const size_t length = wcslen(value);
      if (length == 0 || length > kMaxStartEventUnits) {
        return Fail(error, arg, L"needs 1 to 63 characters");
      }
      options->startEvent = value;
    } else if (wcscmp(arg, L"--input") == 0) {
      const InputEntry* found = nullptr;
      for (const InputEntry& entry : kInputs) {
        if (wcscmp(value, entry.name) == 0) {
          found = &entry;
        }
      }
      if (found == nullptr) {
        return Fail(error, arg, (std::wstring(L"unknown input: ") + value).c_str());
      }
      options->input = found->input;
    } else {
      options->fault = WriterFault::kNone;
      for (const FaultEntry& entry : kFaults) {
        if (wcscmp(value, entry.name) == 0) {
          options->fault = entry.fault;
        }
      }
      if (options->fault == WriterFault::kNone) {
        return Fail(error, arg, (std::wstring(L"unknown fault: ") + value).c_str());
      }
    }
  }
  for (const FaultEntry& entry : kFaults) {
    if (entry.fault == options->fault && (entry.inputs & InputBit(options->input)) == 0) {
      return Fail(error, L"--fault",
                  (std::wstring(entry.name) + L" does not apply to input " + InputName(options->input)).c_str());
    }
  }
  if (encoding == 3) {
    return Fail(error, L"--encoding", L"must be 1 (ANSI), 2 (UTF-16) or 4 (UTF-8)");
  }
  options->cipher = uint8_t(cipher);
  options->encoding = uint8_t(encoding);
  return true;
}
