#include "tools/trace-dump/DumpLine.h"

#include <cstdio>

namespace {

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Appends a field, escaped, reading at most `limit` units.
void AppendField(const wchar_t* text, size_t limit, std::string& out) {
  for (size_t i = 0; i < limit && text[i] != 0; ++i) {
    uint32_t c = uint16_t(text[i]);
    switch (c) {
      case L'\t': out += "\\t"; continue;
      case L'\r': out += "\\r"; continue;
      case L'\n': out += "\\n"; continue;
      case L'\\': out += "\\\\"; continue;
      default: break;
    }
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < limit && uint16_t(text[i + 1]) >= 0xDC00 &&
        uint16_t(text[i + 1]) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint16_t(text[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    AppendUtf8(c, out);
  }
}

// Units a string at `offset` may span without leaving the record.
size_t UnitsLeft(const TraceRecord* record, uint16_t offset) {
  if (offset < kRecordFixedSize || offset >= record->length) {
    return 0;
  }
  return (record->length - offset) / sizeof(wchar_t);
}

}  // namespace

void AppendDumpLine(const TraceRecord* record, std::string& out) {
  char numbers[64];
  std::snprintf(numbers, sizeof(numbers), "%u\t%u\t%u\t%u\t", record->sequence, record->level, record->pid,
                record->tid);
  out += numbers;
  AppendField(record->timeText, kRecordTimeTextUnits, out);
  out += '\t';
  AppendField(record->Module(), UnitsLeft(record, record->moduleOffset), out);
  out += '\t';
  AppendField(record->Hint(), UnitsLeft(record, record->hintOffset), out);
  out += '\t';
  AppendField(record->Message(), UnitsLeft(record, record->messageOffset), out);
  out += '\n';
}

std::string DumpTrailer(unsigned long long count) { return "records: " + std::to_string(count) + "\n"; }
