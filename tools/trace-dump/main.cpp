// trace-dump: prints a trace file one record a line (see DumpLine.h).
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {
constexpr int kExitUsage = 2;

void Usage() {
  std::fputs("usage: trace-dump FILE\n       trace-dump --version\n", stderr);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"--version") == 0) {
    std::printf("trace-dump %s\n", KT_VERSION);
    return 0;
  }
  if (argc != 2) {
    Usage();
    return kExitUsage;
  }
  std::fprintf(stderr, "trace-dump: %ls: this build reads no trace file format yet\n", argv[1]);
  return 1;
}
