// One run of the trace writer: its threads append their records to the
// channel in batches, one mutex hold and one signal per batch, at the rate
// asked, and the fault asked for is played at its moment.
#pragma once

#include <cstdint>
#include <string>

#include "tools/trace-writer/WriterOptions.h"

constexpr int kWriterExitOk = 0;
constexpr int kWriterExitFailed = 1;
constexpr int kWriterExitBadArguments = 2;
constexpr int kWriterExitDied = 3;  // die-holding-mutex
// How long hold-mutex keeps the mutex.
constexpr uint32_t kHoldMutexMs = 1500;

// Runs the writer. Returns an exit code above; `written` receives the
// records appended by all threads, `error` the reason of a failure.
// die-holding-mutex does not return: the process ends with kWriterExitDied
// after printing its "written:" line.
int RunWriter(const WriterOptions& options, uint32_t* written, std::wstring* error);
