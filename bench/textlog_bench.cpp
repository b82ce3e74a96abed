// Opening text logs: a 200 MB ISO-timestamped .log, a 200 MB tab-separated
// text export and a 200 MB .klg log, all generated. The ISO log goes to the file named by
// KT_ISO_LOG_FILE when that is set (scripts/bench then times lnav on the very
// same file), else to the temp folder; files of the temp folder go at exit.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/BenchFiles.h"
#include "core/ModuleGroups.h"
#include "core/TraceStore.h"
#include "formats/FileDispatch.h"
#include "formats/Klg.h"
#include "formats/TextLogs.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=app.exe;kernel.dll;ui.dll\n[NET]\nM=net.dll\n";
constexpr uint64_t kFileBytes = 200ull << 20;
constexpr uint32_t kSeed = 7;

using bench::FileSize;
using bench::TempPath;

// A small generator so the files are the same on every run.
class CLineSource {
 public:
  uint32_t Next() {
    m_state = m_state * 1664525u + 1013904223u;
    return m_state >> 8;
  }

 private:
  uint32_t m_state = kSeed;
};

const char* const kLevels[] = {"Info", "Info", "Info", "Debug", "Warn", "Error"};
const char* const kWords[] = {"connection", "request", "cache", "opened", "closed", "value", "timeout",
                              "user",       "session", "retry", "buffer", "flushed", "queue", "item"};

// Lines of about 140 bytes, as real logs have them.
std::string MessageText(CLineSource& source) {
  std::string text;
  const uint32_t words = 8 + source.Next() % 10;
  for (uint32_t i = 0; i < words; ++i) {
    text += kWords[source.Next() % (sizeof(kWords) / sizeof(kWords[0]))];
    text += ' ';
  }
  text += std::to_string(source.Next() % 100000);
  return text;
}

enum class LogKind { kIso, kText, kKlg };

const char* const kFunctions[] = {"Session::Run", "Open", "Cache::Flush", "Retry"};

bool WriteGenerated(const std::wstring& path, LogKind kind) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) {
    return false;
  }
  CLineSource source;
  uint64_t written = 0;
  uint64_t millisecond = 0;
  char line[512];
  if (kind == LogKind::kText) {
    const char kMark[] = "\xEF\xBB\xBF-----------KELTracer Version: 1.0 (Module : CORE, Total Items : 0)-----------\n";
    written += fwrite(kMark, 1, sizeof(kMark) - 1, file);
  }
  while (written < kFileBytes) {
    millisecond += 1 + source.Next() % 50;
    const uint64_t second = millisecond / 1000;
    const unsigned ms = unsigned(millisecond % 1000);
    const unsigned h = unsigned(second / 3600 % 24), m = unsigned(second / 60 % 60), s = unsigned(second % 60);
    const char* level = kLevels[source.Next() % (sizeof(kLevels) / sizeof(kLevels[0]))];
    const std::string message = MessageText(source);
    const uint32_t thread = 1000 + source.Next() % 64;
    int n;
    if (kind == LogKind::kKlg) {
      n = snprintf(line, sizeof(line), "2026-12-10T%02u:%02u:%02u.%03uZ <%s> [%u] net.cpp:%u  %s: %s\n", h, m, s, ms,
                   level, thread, 10 + source.Next() % 900,
                   kFunctions[source.Next() % (sizeof(kFunctions) / sizeof(kFunctions[0]))], message.c_str());
    } else if (kind == LogKind::kIso) {
      n = (source.Next() & 1) != 0
              ? snprintf(line, sizeof(line), "2026-12-10T%02u:%02u:%02u.%03uZ [%s] [0x%X] %s\n", h, m, s, ms, level,
                         thread, message.c_str())
              : snprintf(line, sizeof(line), "2026-12-10T%02u:%02u:%02u.%03uZ [%s] [%u] %s\n", h, m, s, ms, level,
                         thread, message.c_str());
    } else {
      n = snprintf(line, sizeof(line), "%s\t%02u:%02u:%02u.%03u 12/10/26\tCORE\tapp.exe/Hint\t[%u:%u]\t%s\r\n", level,
                   h, m, s, ms, 4000 + thread % 3, thread, message.c_str());
    }
    written += fwrite(line, 1, size_t(n), file);
  }
  return fclose(file) == 0 && written >= kFileBytes;
}

std::wstring IsoLogFromEnvironment() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"KT_ISO_LOG_FILE", path, MAX_PATH);
  return n != 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}

class CBenchFiles {
 public:
  static CBenchFiles& Get() {
    static CBenchFiles files;
    return files;
  }
  ~CBenchFiles() {
    if (m_ownIso) {
      DeleteFileW(m_iso.c_str());
    }
    if (!m_text.empty()) {
      DeleteFileW(m_text.c_str());
    }
    if (!m_klg.empty()) {
      DeleteFileW(m_klg.c_str());
    }
  }

  // The file of that kind, made on first use; empty when it cannot be made.
  // A file named by the environment is made there when missing and left
  // for the caller, who times other tools on it.
  const std::wstring& Iso() {
    if (m_iso.empty()) {
      m_iso = IsoLogFromEnvironment();
      m_ownIso = m_iso.empty();
      if (m_ownIso) {
        m_iso = TempPath(L"isolog_bench_") + L".log";
      }
      if (FileSize(m_iso) == 0 && !WriteGenerated(m_iso, LogKind::kIso)) {
        DeleteFileW(m_iso.c_str());
        m_iso.clear();
      }
    }
    return m_iso;
  }
  const std::wstring& Text() {
    if (m_text.empty()) {
      m_text = TempPath(L"textlog_bench_") + L".txt";
      if (!WriteGenerated(m_text, LogKind::kText)) {
        DeleteFileW(m_text.c_str());
        m_text.clear();
      }
    }
    return m_text;
  }
  const std::wstring& Klg() {
    if (m_klg.empty()) {
      m_klg = TempPath(L"klg_bench_") + L".klg";
      if (!WriteGenerated(m_klg, LogKind::kKlg)) {
        DeleteFileW(m_klg.c_str());
        m_klg.clear();
      }
    }
    return m_klg;
  }

 private:
  CBenchFiles() { g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1); }

  std::wstring m_iso;
  std::wstring m_text;
  std::wstring m_klg;
  bool m_ownIso = false;
};

enum class Opener { kIsoReader, kTextReader, kKlgReader, kKlgLines, kDispatch };

int RunOpener(Opener opener, CTraceFile* store, const std::wstring& path) {
  switch (opener) {
    case Opener::kIsoReader:
      return LoadIsoLog(store, path.c_str());
    case Opener::kTextReader:
      return LoadHtmlOrText(store, 0, 0);
    case Opener::kKlgReader:
      return LoadKlg(store);
    case Opener::kKlgLines:  // into the store as it is, reserving nothing
      return LoadKlgItems(store, FileSize(path), 1);
    case Opener::kDispatch:
      break;
  }
  return OpenFile(store, path.c_str());
}

// With `touched` the store's buffer is reserved and written once before the
// clock runs: the figure then leaves out the first touch of fresh memory,
// which on a virtual machine costs more than the reading itself.
void OpenLog(benchmark::State& state, const std::wstring& path, Opener opener, bool touched = false) {
  if (path.empty()) {
    state.SkipWithError("the benchmark file could not be made");
    return;
  }
  constexpr uint64_t kTouchedFactor = 3;
  uint64_t records = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CTraceFile* store = new CTraceFile;
    // The dispatch names the store itself.
    if (opener != Opener::kDispatch) {
      store->SetFileName(path.c_str(), L"bench");
    }
    if (touched && store->GrowBuffer(uint32_t(FileSize(path) * kTouchedFactor))) {
      TraceBufferHeader* header = store->Buffer();
      memset(header->Bytes() + header->write, 0, header->freeBytes);
    }
    state.ResumeTiming();
    const int loaded = RunOpener(opener, store, path);
    if (!loaded || store->Buffer() == nullptr) {
      state.SkipWithError("load failed");
      store->Release();
      return;
    }
    records += store->Buffer()->recordCount;
    state.PauseTiming();
    store->Release();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations() * FileSize(path)));
  state.counters["lines"] = benchmark::Counter(double(records) / double(state.iterations()));
}

void IsoLogOpen(benchmark::State& state) { OpenLog(state, CBenchFiles::Get().Iso(), Opener::kIsoReader); }
void TextLogOpen(benchmark::State& state) { OpenLog(state, CBenchFiles::Get().Text(), Opener::kTextReader); }
void KlgOpen(benchmark::State& state) { OpenLog(state, CBenchFiles::Get().Klg(), Opener::kKlgReader); }
// The whole open as the viewer does it: sniffing, the reader and the views.
void IsoLogOpenFile(benchmark::State& state) { OpenLog(state, CBenchFiles::Get().Iso(), Opener::kDispatch); }
// Where the time goes: the same loads into a store whose memory was touched.
void IsoLogParseTouchedStore(benchmark::State& state) {
  OpenLog(state, CBenchFiles::Get().Iso(), Opener::kIsoReader, true);
}
void TextLogParseTouchedStore(benchmark::State& state) {
  OpenLog(state, CBenchFiles::Get().Text(), Opener::kTextReader, true);
}
void KlgParseTouchedStore(benchmark::State& state) {
  OpenLog(state, CBenchFiles::Get().Klg(), Opener::kKlgLines, true);
}

BENCHMARK(IsoLogOpen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(IsoLogOpenFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(IsoLogParseTouchedStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TextLogOpen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TextLogParseTouchedStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KlgOpen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(KlgParseTouchedStore)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
