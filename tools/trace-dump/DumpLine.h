// The fixed output line of trace-dump, which scripts and tests rely on:
// sequence, level word (decimal), pid, tid, the 24-character time text,
// module, hint and message, separated by tabs; tabs, CR, LF and backslashes
// inside a field are written as \t, \r, \n and \\. Output is UTF-8.
#pragma once

#include <string>

#include "core/TraceRecord.h"

// Appends one record's line (with its '\n') to `out`.
void AppendDumpLine(const TraceRecord* record, std::string& out);

// The closing line: "records: N\n".
std::string DumpTrailer(unsigned long long count);
