// trace-writer: plays a traced program writing a writer channel, for tests,
// benchmarks and trying the capture by hand. Not part of the shipped tool.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "tools/trace-writer/WriterOptions.h"
#include "tools/trace-writer/WriterRun.h"

int wmain(int argc, wchar_t** argv) {
  WriterOptions options;
  options.id = GetCurrentProcessId();
  std::wstring error;
  if (argc == 2 && wcscmp(argv[1], L"--help") == 0) {
    fwprintf(stdout, L"%ls", WriterUsage());
    return kWriterExitOk;
  }
  if (!ParseWriterOptions(argc, argv, &options, &error)) {
    fwprintf(stderr, L"trace-writer: %ls\n%ls", error.c_str(), WriterUsage());
    return kWriterExitBadArguments;
  }
  uint32_t written = 0;
  const int code = RunWriter(options, &written, &error);
  if (code != kWriterExitOk) {
    fwprintf(stderr, L"trace-writer: %ls\n", error.c_str());
  }
  printf("written: %u\n", written);
  return code;
}
