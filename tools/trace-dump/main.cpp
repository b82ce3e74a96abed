// trace-dump: prints any trace or log file the program opens one record a
// line (see DumpLine.h), converts one into the format of another name's
// extension, or writes a synthetic .ktr file (see Generate.h).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/StrUtil.h"
#include "core/TraceRecord.h"
#include "core/TraceStore.h"
#include "formats/EventDesc.h"
#include "formats/FileDispatch.h"
#include "formats/Ktr.h"
#include "tools/trace-dump/DumpLine.h"
#include "tools/trace-dump/Generate.h"

namespace {
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kDecimal = 10;
constexpr uint32_t kDefaultSeed = 1;
// Lines are collected and written in pieces of about this size.
constexpr size_t kOutputPiece = 1 << 16;
// The builder needs room to start with; the store grows as records come.
constexpr uint32_t kInitialStoreBytes = 1 << 20;

void Usage() {
  std::fputs("usage: trace-dump FILE\n"
             "       trace-dump --convert IN OUT\n"
             "       trace-dump --generate FILE N [seed]\n"
             "       trace-dump --version\n",
             stderr);
}

// A whole decimal number that fits in 32 bits.
bool ParseCount(const wchar_t* text, uint32_t* value) {
  if (text == nullptr || text[0] < L'0' || text[0] > L'9') {
    return false;
  }
  wchar_t* end = nullptr;
  errno = 0;
  const unsigned long long n = std::wcstoull(text, &end, kDecimal);
  if (errno != 0 || *end != 0 || n > 0xFFFFFFFFull) {
    return false;
  }
  *value = uint32_t(n);
  return true;
}

bool WriteOut(const std::string& text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

int Dump(const wchar_t* path) {
  CTraceFile store;
  const int loaded = OpenFile(&store, path);
  if (!loaded && (store.Buffer() == nullptr || store.Buffer()->recordCount == 0)) {
    std::fprintf(stderr, "trace-dump: %ls: cannot be read as a trace or log file\n", path);
    return kExitFailed;
  }
  // A damaged file still shows the records read before the damage.
  std::string out;
  unsigned long long count = 0;
  CTraceRingWalker walker(store.Buffer());
  for (const TraceRecord* record = walker.Next(); record != nullptr; record = walker.Next()) {
    AppendDumpLine(record, out);
    ++count;
    if (out.size() >= kOutputPiece) {
      if (!WriteOut(out)) {
        std::fputs("trace-dump: cannot write the output\n", stderr);
        return kExitFailed;
      }
      out.clear();
    }
  }
  out += DumpTrailer(count);
  if (!WriteOut(out) || std::fflush(stdout) != 0) {
    std::fputs("trace-dump: cannot write the output\n", stderr);
    return kExitFailed;
  }
  if (!loaded) {
    std::fprintf(stderr, "trace-dump: %ls: damaged file, %llu records read before the damage\n", path, count);
    return kExitFailed;
  }
  return kExitOk;
}

int Generate(const wchar_t* path, uint32_t count, uint32_t seed) {
  CTraceFile store;
  store.SetFileName(path, path);
  if (!store.GrowBuffer(kInitialStoreBytes)) {
    std::fputs("trace-dump: out of memory\n", stderr);
    return kExitFailed;
  }
  const uint32_t made = GenerateRecords(&store, count, seed);
  if (made != count) {
    std::fprintf(stderr, "trace-dump: only %u of %u records could be made\n", made, count);
    return kExitFailed;
  }
  if (!SaveKtr(&store, path, nullptr)) {
    std::fprintf(stderr, "trace-dump: %ls: cannot be written (error %lu)\n", path, GetLastError());
    return kExitFailed;
  }
  return kExitOk;
}

// Reads IN whole and saves it in the format of OUT's extension. A file that
// reads only in part is not converted: the copy would pass for the whole.
int Convert(const wchar_t* in, const wchar_t* out) {
  CTraceFile store;
  if (!OpenFile(&store, in)) {
    std::fprintf(stderr, "trace-dump: %ls: cannot be read whole as a trace or log file\n", in);
    return kExitFailed;
  }
  if (!SaveFile(&store, out, nullptr)) {
    std::fprintf(stderr, "trace-dump: %ls: cannot be written (error %lu)\n", out, GetLastError());
    return kExitFailed;
  }
  return kExitOk;
}

int Run(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"--version") == 0) {
    std::printf("trace-dump %s\n", KT_VERSION);
    return kExitOk;
  }
  // Without the embedded table every module falls into the catch-all group,
  // which is all a dump needs: lines carry no group.
  g_moduleGroups.LoadFromResource();
  // Described events without their document still read, with bare values.
  LoadEventDescriptions(&g_eventDescriptions);
  wchar_t version[kVersionTextChars];
  if (MultiByteToWideChar(CP_UTF8, 0, KT_VERSION, -1, version, int(kVersionTextChars)) > 0) {
    StrCopyNW(g_appConfig.m_version, kVersionTextChars, version);
  }
  if (argc == 4 && std::wcscmp(argv[1], L"--convert") == 0) {
    return Convert(argv[2], argv[3]);
  }
  if ((argc == 4 || argc == 5) && std::wcscmp(argv[1], L"--generate") == 0) {
    uint32_t count = 0, seed = kDefaultSeed;
    if (!ParseCount(argv[3], &count) || (argc == 5 && !ParseCount(argv[4], &seed))) {
      Usage();
      return kExitUsage;
    }
    return Generate(argv[2], count, seed);
  }
  if (argc != 2 || argv[1][0] == L'-') {
    Usage();
    return kExitUsage;
  }
  return Dump(argv[1]);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The line format ends lines in '\n' alone.
  _setmode(_fileno(stdout), _O_BINARY);
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("trace-dump: out of memory\n", stderr);
    return kExitFailed;
  }
}
