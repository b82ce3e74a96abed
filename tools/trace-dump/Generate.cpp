#include "tools/trace-dump/Generate.h"

#include <cwchar>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"

namespace {

constexpr const wchar_t* kModules[] = {L"app.exe", L"kernel.dll", L"net.dll", L"ui.dll", L"\u00fcber.dll"};
constexpr const wchar_t* kHints[] = {L"", L"Init", L"", L"Send", L"\u041e\u0436\u0438\u0434\u0430\u043d\u0438\u0435"};
constexpr const wchar_t* kSubNames[] = {L"", L"", L"worker", L"", L"io"};
constexpr const wchar_t* kWords[] = {L"open", L"read", L"close", L"retry", L"\u00e9t\u00e9", L"\u6587\u4ef6",
                                     L"\U0001F600", L"timeout", L"ok", L"queue"};
constexpr uint32_t kLevels[] = {kLevelDebug, kLevelInfo, kLevelInfo, kLevelWarning, kLevelError};
constexpr uint32_t kStartTime = 1700000000;  // 2023-11-14
constexpr uint32_t kRecordsPerSecond = 10;
constexpr uint32_t kMillisecondsPerSecond = 1000;
constexpr uint32_t kLongMessageEvery = 97;
constexpr size_t kLongMessageUnits = 1900;
constexpr size_t kMessageUnits = kLiveMessageLimit;
constexpr uint32_t kProcesses = 4;
constexpr uint32_t kThreads = 8;

// xorshift32: a small generator whose sequence is fixed by its seed.
class CRandom {
 public:
  explicit CRandom(uint32_t seed) : m_state(seed != 0 ? seed : 0x9E3779B9u) {}
  uint32_t Next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
  }
  template <size_t N, typename T>
  T Pick(const T (&items)[N]) {
    return items[Next() % N];
  }

 private:
  uint32_t m_state;
};

void AppendText(wchar_t* message, size_t* length, const wchar_t* text) {
  const size_t n = wcslen(text);
  if (*length + n + 1 < kMessageUnits) {
    wmemcpy(message + *length, text, n);
    *length += n;
    message[*length] = 0;
  }
}

}  // namespace

uint32_t GenerateRecords(CTraceMgr* store, uint32_t count, uint32_t seed) {
  CRandom random(seed);
  wchar_t message[kMessageUnits];
  uint64_t stamp = uint64_t(seed) << 20;
  for (uint32_t i = 0; i < count; ++i) {
    const wchar_t* module = random.Pick(kModules);
    const wchar_t* hint = random.Pick(kHints);
    const wchar_t* subName = random.Pick(kSubNames);
    size_t length = 0;
    message[0] = 0;
    _snwprintf(message, kMessageUnits, L"record %u:", i);
    message[kMessageUnits - 1] = 0;
    length = wcslen(message);
    const size_t want = (i % kLongMessageEvery == kLongMessageEvery - 1) ? kLongMessageUnits : random.Next() % 80;
    while (length < want && length + 16 < kMessageUnits) {
      AppendText(message, &length, L" ");
      AppendText(message, &length, random.Pick(kWords));
    }
    stamp += 1 + random.Next() % 5000;
    const uint32_t stampWords[2] = {uint32_t(stamp), uint32_t(stamp >> 32)};
    const int group = g_moduleGroups.FindEnabled(module, 0);
    if (group < 0) {
      return i;  // no group table: the builder has nowhere to put the record
    }
    TraceRecord* record = CTraceMgr::AddTraceItem(
        store, group, random.Pick(kLevels), module, hint, message, 1000 + random.Next() % kProcesses,
        2000 + random.Next() % kThreads, kStartTime + i / kRecordsPerSecond,
        uint16_t((i * 37) % kMillisecondsPerSecond), stampWords, subName[0] ? subName : nullptr, kModeBuild,
        kLiveMessageLimit);
    if (record == nullptr) {
      return i;
    }
  }
  return count;
}
