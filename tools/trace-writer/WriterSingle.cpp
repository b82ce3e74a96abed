#include "tools/trace-writer/WriterSingle.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <thread>
#include <vector>

#include "core/Handle.h"
#include "tools/trace-writer/WriterBytes.h"
#include "tools/trace-writer/WriterRecord.h"
#include "tools/trace-writer/WriterRun.h"

namespace {

constexpr uint32_t kKelWideVersion = 3;
constexpr char kFillChar = 'x';
constexpr DWORD kHandOverMs = 10000;  // how long a writer waits for a free buffer
constexpr UINT kSendTimeoutMs = 5000;

constexpr wchar_t kKelReadyName[] = L"KEL_BUFFER_READY";
constexpr wchar_t kKelDataName[] = L"KEL_DATA_READY";
constexpr wchar_t kKelBufferName[] = L"KEL_BUFFER";
constexpr wchar_t kDbwinReadyName[] = L"DBWIN_BUFFER_READY";
constexpr wchar_t kDbwinDataName[] = L"DBWIN_DATA_READY";
constexpr wchar_t kDbwinBufferName[] = L"DBWIN_BUFFER";
constexpr wchar_t kDbwinMutexName[] = L"DBWinMutex";  // serialises debugger-output writers
constexpr wchar_t kTracerPropName[] = L"HVNTracer";


// ANSI bytes of `text`, at most `room` - 1 of them and a terminator; the
// bytes written, terminator excluded.
size_t PutAnsi(const wchar_t* text, uint8_t* out, size_t room) {
  const int length = int(wcslen(text));
  size_t written = 0;
  if (length != 0) {
    const int need = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string all(need > 0 ? size_t(need) : 0, '\0');
    if (need > 0 && WideCharToMultiByte(CP_ACP, 0, text, length, all.data(), need, nullptr, nullptr) == need) {
      written = std::min(all.size(), room - 1);
      std::memcpy(out, all.data(), written);
    }
  }
  out[written] = 0;
  return written;
}

void PutWide(const wchar_t* text, uint8_t* out, size_t room) {
  const size_t units = std::min(wcslen(text), room / sizeof(wchar_t) - 1);
  std::memcpy(out, text, units * sizeof(wchar_t));
  Put16(out + units * sizeof(wchar_t), 0);
}

void FillWithText(uint8_t* out, size_t bytes, bool wide) {
  if (wide) {
    for (size_t i = 0; i + 1 < bytes; i += sizeof(wchar_t)) Put16(out + i, uint16_t(kFillChar));
  } else {
    std::memset(out, kFillChar, bytes);
  }
}

std::wstring Message(const WriterOptions& options, uint32_t thread, uint32_t sequence) {
  wchar_t text[kWriterMessageUnits];
  return std::wstring(text, MakeWriterMessage(options.id, thread, sequence, text, kWriterMessageUnits));
}

void NowTime(uint32_t* time, uint16_t* milliseconds) {
  const uint64_t ms = UnixNowMs();
  *time = uint32_t(ms / kMsPerSecond);
  *milliseconds = uint16_t(ms % kMsPerSecond);
}

// Runs `send(thread, sequence)` for every message of every thread; stops
// all threads at the first failure.
template <class Send>
int RunThreads(const WriterOptions& options, uint32_t* written, std::wstring* error, Send send) {
  std::atomic<uint32_t> done{0};
  std::atomic<bool> failed{false};
  std::vector<std::wstring> errors(options.threads + 1);
  std::vector<std::thread> threads;
  for (uint32_t t = 1; t <= options.threads; ++t) {
    threads.emplace_back([&, t] {
      const ULONGLONG start = GetTickCount64();
      for (uint32_t s = 1; s <= options.count && !failed.load(); ++s) {
        if (!send(t, s, &errors[t])) {
          failed.store(true);
          return;
        }
        done.fetch_add(1);
        Pace(options.rate, s, start);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  *written = done.load();
  for (const std::wstring& e : errors) {
    if (!e.empty()) {
      *error = e;
    }
  }
  return failed.load() ? kWriterExitFailed : kWriterExitOk;
}

// The two events and the mapped buffer of a hand-over protocol.
struct HandOver {
  CHandle ready, data, mapping;
  CMappedView view;
  bool Open(const std::wstring& readyName, const std::wstring& dataName, const std::wstring& bufferName, uint32_t waitMs,
            std::wstring* error) {
    ready = CHandle(PollForObject([&] { return OpenEventW(SYNCHRONIZE, FALSE, readyName.c_str()); }, waitMs));
    data = CHandle(OpenEventW(EVENT_MODIFY_STATE, FALSE, dataName.c_str()));
    mapping = CHandle(OpenFileMappingW(FILE_MAP_WRITE, FALSE, bufferName.c_str()));
    if (!ready.valid() || !data.valid() || !mapping.valid()) {
      *error = L"no " + bufferName + L" and its events";
      return false;
    }
    view.reset(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!view.valid()) {
      *error = L"cannot map " + bufferName;
      return false;
    }
    return true;
  }
  // Waits for the buffer to be free; false after the hand-over time.
  bool Take(std::wstring* error) {
    if (WaitForSingleObject(ready.get(), kHandOverMs) != WAIT_OBJECT_0) {
      *error = L"the buffer was not freed within 10 s";
      return false;
    }
    return true;
  }
  void Give() { SetEvent(data.get()); }
};

}  // namespace

std::wstring InputObjectName(const wchar_t* base, bool global, const std::wstring& tag) {
  return std::wstring(global ? L"Global\\" : L"") + base + (tag.empty() ? L"" : L"_" + tag);
}

void FillKelBuffer(uint8_t* buffer, const KelBufferMessage& m) {
  std::memset(buffer, 0, kKelBufferBytes);
  Put32(buffer + kSharedLevelOffset, m.levelCode);
  Put32(buffer + kSharedPidOffset, m.pid);
  Put32(buffer + kSharedTidOffset, m.tid);
  const bool wide = m.version == kKelWideVersion;
  uint8_t* module = buffer + kSharedModuleOffset;
  uint8_t* text = buffer + kSharedTextOffset;
  if (m.fault == WriterFault::kUnterminated) {
    FillWithText(module, kSharedModuleBytes, wide);
    FillWithText(text, kKelTextBytes, wide);
  } else if (wide) {
    PutWide(m.module, module, kSharedModuleBytes);
    PutWide(m.fault == WriterFault::kEmptyText ? L"" : m.text, text, kKelTextBytes);
  } else {
    PutAnsi(m.module, module, kSharedModuleBytes);
    PutAnsi(m.fault == WriterFault::kEmptyText ? L"" : m.text, text, kKelTextBytes);
  }
  Put32(buffer + kSharedVersionOffset, m.version);
  if (m.version >= 2) {
    Put64(buffer + kSharedTimeOffset, m.time);
    Put16(buffer + kSharedMillisecondsOffset, m.milliseconds);
  }
}

void FillDbwinBuffer(uint8_t* buffer, uint32_t pid, const wchar_t* text, WriterFault fault) {
  std::memset(buffer, 0, kDbwinBufferBytes);
  Put32(buffer, pid);
  uint8_t* out = buffer + kDbwinTextOffset;
  const size_t room = kDbwinBufferBytes - kDbwinTextOffset;
  if (fault == WriterFault::kUnterminated) {
    FillWithText(out, room, false);
  } else {
    PutAnsi(fault == WriterFault::kEmptyText ? L"" : text, out, room);
  }
}

std::string MakeCopyDataText(const wchar_t* module, uint32_t pid, uint32_t tid, const wchar_t* message,
                             WriterFault fault) {
  std::wstring wide;
  if (fault != WriterFault::kNoPrefix) {
    wide = L"(" + std::wstring(module) + L":" + std::to_wstring(pid) + L":" + std::to_wstring(tid) + L")";
  }
  wide += message;
  std::string text(wide.size() * 4 + 1, '\0');
  text.resize(PutAnsi(wide.c_str(), reinterpret_cast<uint8_t*>(text.data()), text.size()));
  if (fault == WriterFault::kTooLong && text.size() < kCopyDataTooLongBytes) {
    text.append(kCopyDataTooLongBytes - text.size(), kFillChar);
  }
  if (fault != WriterFault::kUnterminated) {
    text.push_back('\0');
  }
  return text;
}

int RunKelBufferWriter(const WriterOptions& options, uint32_t* written, std::wstring* error) {
  HandOver buffer;
  if (!buffer.Open(InputObjectName(kKelReadyName, options.global, options.tag),
                   InputObjectName(kKelDataName, options.global, options.tag),
                   InputObjectName(kKelBufferName, options.global, options.tag), options.waitEventMs, error)) {
    return kWriterExitFailed;
  }
  return RunThreads(options, written, error, [&](uint32_t thread, uint32_t sequence, std::wstring* e) {
    const std::wstring text = Message(options, thread, sequence);
    KelBufferMessage m;
    m.version = options.layoutVersion;
    m.levelCode = options.levelCode;
    m.pid = GetCurrentProcessId();
    m.tid = GetCurrentThreadId();
    m.module = options.module.c_str();
    m.text = text.c_str();
    m.fault = options.fault;
    NowTime(&m.time, &m.milliseconds);
    if (!buffer.Take(e)) {
      return false;
    }
    FillKelBuffer(buffer.view.bytes(), m);
    buffer.Give();
    return true;
  });
}

int RunDbwinWriter(const WriterOptions& options, uint32_t* written, std::wstring* error) {
  if (options.input == WriterInput::kDbwin) {
    return RunThreads(options, written, error, [&](uint32_t thread, uint32_t sequence, std::wstring*) {
      const std::wstring text = Message(options, thread, sequence);
      std::string narrow(text.size() * 4 + 1, '\0');
      PutAnsi(text.c_str(), reinterpret_cast<uint8_t*>(narrow.data()), narrow.size());
      OutputDebugStringA(narrow.c_str());
      return true;
    });
  }
  HandOver buffer;
  if (!buffer.Open(InputObjectName(kDbwinReadyName, false, options.tag),
                   InputObjectName(kDbwinDataName, false, options.tag),
                   InputObjectName(kDbwinBufferName, false, options.tag), options.waitEventMs, error)) {
    return kWriterExitFailed;
  }
  CHandle mutex(CreateMutexW(nullptr, FALSE, InputObjectName(kDbwinMutexName, false, options.tag).c_str()));
  if (!mutex.valid()) {
    *error = L"cannot create the debugger-output mutex";
    return kWriterExitFailed;
  }
  return RunThreads(options, written, error, [&](uint32_t thread, uint32_t sequence, std::wstring* e) {
    const std::wstring text = Message(options, thread, sequence);
    const DWORD waited = WaitForSingleObject(mutex.get(), kHandOverMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      *e = L"the debugger-output mutex stayed busy";
      return false;
    }
    const bool taken = buffer.Take(e);
    if (taken) {
      FillDbwinBuffer(buffer.view.bytes(), GetCurrentProcessId(), text.c_str(), options.fault);
      buffer.Give();
    }
    ReleaseMutex(mutex.get());
    return taken;
  });
}

int RunCopyDataWriter(const WriterOptions& options, uint32_t* written, std::wstring* error) {
  const std::wstring property = InputObjectName(kTracerPropName, false, options.tag);
  const HWND target = static_cast<HWND>(PollForObject(
      [&]() -> HANDLE {
        const HANDLE onDesktop = GetPropW(GetDesktopWindow(), property.c_str());
        const HWND shell = GetShellWindow();
        return onDesktop != nullptr ? onDesktop : shell != nullptr ? GetPropW(shell, property.c_str()) : nullptr;
      },
      options.waitEventMs));
  if (target == nullptr) {
    *error = L"no window named by the " + property + L" property";
    return kWriterExitFailed;
  }
  return RunThreads(options, written, error, [&](uint32_t thread, uint32_t sequence, std::wstring* e) {
    const std::wstring message = Message(options, thread, sequence);
    std::string text =
        MakeCopyDataText(options.module.c_str(), GetCurrentProcessId(), GetCurrentThreadId(), message.c_str(),
                         options.fault);
    COPYDATASTRUCT data{};
    data.dwData = options.fault == WriterFault::kIgnoredData ? kCopyDataIgnoredTag : 0;
    data.cbData = options.fault == WriterFault::kEmptyData ? 0 : DWORD(text.size());
    data.lpData = text.data();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &result)) {
      *e = L"WM_COPYDATA was not taken, error " + std::to_wstring(GetLastError());
      return false;
    }
    return true;
  });
}
