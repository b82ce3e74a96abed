// Whether a .log or .txt file is an ISO-timestamped log: one of its first
// lines holds a timestamp "YYYY-MM-DDTHH:MM:SS.mmmZ" near its start.
#pragma once

#include <cstddef>

// Lines looked at, and the characters of each line searched.
constexpr size_t kIsoSniffLines = 10;
constexpr size_t kIsoSniffLineChars = 40;
// The sniffer never reads more than this from a file: a huge file without
// line ends costs one read.
constexpr size_t kIsoSniffBytes = 64 * 1024;

// 1 when one of the first 10 lines (ended by LF) holds the timestamp within
// its first 40 bytes; 0 when none does, the file cannot be opened or read,
// or the first bytes end before a line that holds one.
int IsIsoTimestampLog(const wchar_t* path);

// True when the timestamp (the character between seconds and milliseconds
// may be any but a line end) starts anywhere in text[0, length).
bool ContainsIsoTimestamp(const char* text, size_t length);
