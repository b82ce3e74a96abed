// The reader of text and HTML exports and of .jslog files.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "core/Handle.h"
#include "core/RecordBuilder.h"
#include "core/SysUtil.h"
#include "core/TextFile.h"
#include "core/TraceStore.h"
#include "formats/LineReader.h"
#include "formats/StoreToucher.h"
#include "formats/TextLogs.h"

namespace {

constexpr uint32_t kPercent = 100;
constexpr uint64_t kMinReservation = 32768;
// An HTML export holds about five bytes of markup for every three of record.
constexpr uint64_t kHtmlReserveNumerator = 3;
constexpr uint64_t kHtmlReserveDenominator = 5;
constexpr uint64_t kRecordsPerTextByte = 3;
// A text line: level, time, module, name/hint, "[pid:tid]", then the message.
constexpr size_t kTextLineTabs = 5;

constexpr uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

constexpr wchar_t kRowMarker[] = L"<tr class=";
constexpr wchar_t kCellOpener[] = L"<td nowrap>";
constexpr wchar_t kModuleCellOpener[] = L"<td nowrap";
constexpr wchar_t kCellCloser[] = L"</td>";

// The fields of one line, handed to the text-line importer.
struct TextFields {
  wchar_t* level = nullptr;
  wchar_t* time = nullptr;
  wchar_t* nameHint = nullptr;
  wchar_t* ids = nullptr;
  wchar_t* message = nullptr;
};

bool EndsWithLineEnd(const wchar_t* line, size_t length) {
  return length != 0 && (line[length - 1] == L'\n' || line[length - 1] == L'\r');
}

size_t TrimLineEnd(wchar_t* line, size_t length) {
  while (length != 0 && (line[length - 1] == L'\n' || line[length - 1] == L'\r')) {
    line[--length] = 0;
  }
  return length;
}

bool SplitTextLine(wchar_t* line, TextFields* fields) {
  if (line[0] == 0 || line[0] == L'-' || line[0] == L';') {
    return false;
  }
  wchar_t* parts[kTextLineTabs + 1];
  parts[0] = line;
  for (size_t i = 1; i <= kTextLineTabs; ++i) {
    wchar_t* tab = wcschr(parts[i - 1], L'\t');
    if (tab == nullptr) {
      return false;
    }
    *tab = 0;
    parts[i] = tab + 1;
  }
  fields->level = parts[0];
  fields->time = parts[1];
  fields->nameHint = parts[3];  // parts[2] is the group name, which the reader works out again
  fields->ids = parts[4];
  fields->message = parts[5];
  return true;
}

bool SplitHtmlRow(wchar_t* line, TextFields* fields) {
  wchar_t* at = wcsstr(line, kRowMarker);
  if (at == nullptr) {
    return false;
  }
  wchar_t* module = nullptr;
  if ((at = ExtractBetween(at, kCellOpener, kCellCloser, &fields->level)) == nullptr ||
      (at = ExtractBetween(at, kCellOpener, kCellCloser, &fields->time)) == nullptr ||
      (at = ExtractBetween(at, kModuleCellOpener, kCellCloser, &module)) == nullptr ||
      (at = ExtractBetween(at, kCellOpener, kCellCloser, &fields->nameHint)) == nullptr ||
      (at = ExtractBetween(at, kCellOpener, kCellCloser, &fields->ids)) == nullptr ||
      ExtractBetween(at, kCellOpener, kCellCloser, &fields->message) == nullptr) {
    return false;
  }
  for (wchar_t* cell : {fields->level, fields->time, fields->nameHint, fields->ids, fields->message}) {
    HtmlUnescapeInPlace(cell);
  }
  return true;
}

// A character reference's value, or -1 when the text is none or names no
// character a string can hold.
long ReferenceValue(const wchar_t* digits, const wchar_t* semicolon) {
  int base = 10;
  if (*digits == L'x' || *digits == L'X') {
    base = 16;
    ++digits;
  }
  constexpr ptrdiff_t kMaxDigits = 8;
  if (digits == semicolon || semicolon - digits > kMaxDigits) {
    return -1;
  }
  long value = 0;
  for (const wchar_t* p = digits; p < semicolon; ++p) {
    int digit;
    if (*p >= L'0' && *p <= L'9') {
      digit = *p - L'0';
    } else if (base == 16 && (*p | 0x20) >= L'a' && (*p | 0x20) <= L'f') {
      digit = (*p | 0x20) - L'a' + 10;
    } else {
      return -1;
    }
    value = value * base + digit;
  }
  constexpr long kLastCharacter = 0x10FFFF;
  if (value == 0 || value > kLastCharacter || (value >= 0xD800 && value <= 0xDFFF)) {
    return -1;
  }
  return value;
}

// Writes the character at `out`; the units written (never more than the
// reference's own length, so decoding in place is safe).
size_t PutCharacter(long value, wchar_t* out) {
  if (value < 0x10000) {
    out[0] = wchar_t(value);
    return 1;
  }
  value -= 0x10000;
  out[0] = wchar_t(0xD800 + (value >> 10));
  out[1] = wchar_t(0xDC00 + (value & 0x3FF));
  return 2;
}

// The character an entity at `amp` stands for, and the entity's length; 0
// when the text there is no entity this reader knows.
size_t DecodeEntity(const wchar_t* amp, long* value) {
  struct Named {
    const wchar_t* text;
    wchar_t character;
  };
  static constexpr Named kNamed[] = {
      {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}};
  for (const Named& named : kNamed) {
    const size_t n = wcslen(named.text);
    if (wcsncmp(amp, named.text, n) == 0) {
      *value = named.character;
      return n;
    }
  }
  if (amp[1] != L'#') {
    return 0;
  }
  constexpr size_t kLongestReference = 12;  // "&#x" or "&#", 8 digits, ";"
  const wchar_t* semicolon = amp + 2;
  while (*semicolon != 0 && *semicolon != L';' && size_t(semicolon - amp) < kLongestReference) {
    ++semicolon;
  }
  if (*semicolon != L';') {
    return 0;
  }
  *value = ReferenceValue(amp + 2, semicolon);
  return *value < 0 ? 0 : size_t(semicolon - amp) + 1;
}

class CTextReader {
 public:
  CTextReader(CTraceMgr* store, int html, int jslog) : m_store(store), m_html(html), m_jslog(jslog) {}
  int Run();

 private:
  // Reserves room for a file of `size` bytes after its mark.
  int Reserve(uint64_t size);
  // A UTF-8 file (the exports) is read in chunks and decoded here; other
  // encodings go through the text file.
  int RunUtf8(HANDLE file, uint64_t size);
  int RunTextFile();
  // 1 when the line was skipped or stored, 0 when storing failed.
  int Line(wchar_t* line, size_t length);
  void Progress(uint64_t done, uint64_t size);

  CTraceMgr* m_store;
  CStoreToucher m_toucher;
  int m_html;
  int m_jslog;
  uint32_t m_percent = 0;
  wchar_t m_line[CTextFile::kLineChars];
};

int CTextReader::Reserve(uint64_t size) {
  const uint64_t least = m_html ? size * kHtmlReserveNumerator / kHtmlReserveDenominator : size;
  auto clamp = [](uint64_t bytes) {
    return bytes < kMinReservation ? kMinReservation : (bytes > kMaxStoreReservation ? kMaxStoreReservation : bytes);
  };
  const TraceBufferHeader* header = m_store->Buffer();
  if (header != nullptr && header->freeBytes >= clamp(least)) {
    return 1;
  }
  // Records hold UTF-16 text behind a fixed head: about three times the
  // bytes of the text. Reserving that at once spares the copies of a buffer
  // growing step by step; the least amount is the fallback.
  if (!m_store->GrowBuffer(uint32_t(clamp(least * kRecordsPerTextByte))) &&
      !m_store->GrowBuffer(uint32_t(clamp(least)))) {
    return 0;
  }
  m_toucher.Start(m_store);
  return 1;
}

void CTextReader::Progress(uint64_t done, uint64_t size) {
  const uint64_t step = size / kPercent != 0 ? size / kPercent : 1;
  const uint64_t now = done / step;
  const uint32_t percent = uint32_t(now < kPercent ? now : kPercent);
  // Other threads read the figure: it is written only when it changes.
  if (percent != m_percent) {
    m_percent = percent;
    m_store->SetProgress(percent);
  }
}

int CTextReader::Run() {
  CHandle file(CreateFileW(m_store->m_filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size;
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) {
    return 0;
  }
  uint8_t mark[sizeof(kUtf8Mark)] = {};
  DWORD got = 0;
  if (!ReadFile(file.get(), mark, sizeof(mark), &got, nullptr)) {
    return 0;
  }
  if (got == sizeof(mark) && memcmp(mark, kUtf8Mark, sizeof(mark)) == 0) {
    return RunUtf8(file.get(), uint64_t(size.QuadPart) - sizeof(mark));
  }
  file.Close();
  return RunTextFile();
}

int CTextReader::RunUtf8(HANDLE file, uint64_t size) {
  CChunkLineReader lines(file);
  if (!Reserve(size) || !lines.Init()) {
    return 0;
  }
  ByteSpan piece;
  bool lineEnd = true;
  bool passOver = false;  // the rest of a line longer than the line buffer
  int got;
  while ((got = lines.Next(&piece, &lineEnd)) > 0) {
    if (passOver) {
      passOver = !lineEnd;
      continue;
    }
    // A line longer than the line buffer is read as its first part.
    const uint8_t* at = piece.begin;
    const size_t length = DecodeUtf8(&at, piece.end, m_line, CTextFile::kLineChars - 1, InvalidByte::kReplacement);
    m_line[length] = 0;
    passOver = !lineEnd;
    if (!Line(m_line, length)) {
      return 0;
    }
    Progress(lines.Consumed(), size);
  }
  return got == 0 ? 1 : 0;
}

int CTextReader::RunTextFile() {
  CTextFile file;
  if (!file.Open(m_store->m_filePath.c_str(), 1, KT_ENC_NONE)) {
    return 0;
  }
  const uint64_t size = file.FileSize() - file.MarkLength();
  if (!Reserve(size)) {
    return 0;
  }
  uint64_t characters = 0;
  size_t length = 0;
  while (wchar_t* line = file.ReadLine(&length)) {
    characters += length;
    // A line longer than the file's line buffer comes in pieces: the first
    // piece is read as the line, the others are passed over.
    bool cut = !EndsWithLineEnd(line, length) && length + 1 >= CTextFile::kLineChars;
    if (!Line(line, TrimLineEnd(line, length))) {
      return 0;
    }
    while (cut && (line = file.ReadLine(&length)) != nullptr) {
      characters += length;
      cut = !EndsWithLineEnd(line, length) && length + 1 >= CTextFile::kLineChars;
    }
    Progress(characters, size);
  }
  return 1;
}

int CTextReader::Line(wchar_t* line, size_t length) {
  TextFields fields;
  if (m_jslog) {
    if (length == 0) {
      return 1;
    }
    fields.message = line;
  } else if (!(m_html ? SplitHtmlRow(line, &fields) : SplitTextLine(line, &fields))) {
    return 1;
  }
  // A line may register a block word that already marks its own message.
  // The scan pass looks at the message alone, so the other words are not
  // parsed twice.
  CTraceMgr::AddTraceItem(m_store, -1, 0, nullptr, nullptr, fields.message, 0, 0, 0, 0, nullptr, nullptr, kModeScan,
                          kLiveMessageLimit);
  m_toucher.BeforeRecord(m_store);
  TraceRecord* record = CTraceMgr::AddTextLine(m_store, fields.level, fields.time, fields.nameHint, fields.ids,
                                               fields.message, kModeBuild);
  if (record == nullptr) {
    DebugTraceA("LoadHtmlOrText, store, %u records", m_store->Buffer() ? m_store->Buffer()->recordCount : 0u);
    return 0;
  }
  m_store->AddToProcessStats(record);
  return 1;
}

}  // namespace

wchar_t* ExtractBetween(wchar_t* text, const wchar_t* opener, const wchar_t* closer, wchar_t** out) {
  if (text == nullptr || opener == nullptr || closer == nullptr || out == nullptr || *opener == 0 || *closer == 0) {
    return nullptr;
  }
  wchar_t* start = wcsstr(text, opener);
  if (start == nullptr) {
    return nullptr;
  }
  start += wcslen(opener);
  wchar_t* end = wcsstr(start, closer);
  if (end == nullptr) {
    return nullptr;
  }
  *out = start;
  *end = 0;
  return end + wcslen(closer);
}

wchar_t* HtmlUnescapeInPlace(wchar_t* text) {
  if (text == nullptr) {
    return nullptr;
  }
  wchar_t* out = wcschr(text, L'&');
  if (out == nullptr) {
    return text;
  }
  const wchar_t* in = out;
  while (*in != 0) {
    long value = 0;
    const size_t n = *in == L'&' ? DecodeEntity(in, &value) : 0;
    if (n != 0) {
      out += PutCharacter(value, out);
      in += n;
    } else {
      *out++ = *in++;
    }
  }
  *out = 0;
  return text;
}

int LoadHtmlOrText(CTraceMgr* store, int html, int jslog) {
  if (store == nullptr) {
    return 0;
  }
  // The reader holds a line buffer: too large for the stack.
  std::unique_ptr<CTextReader> reader(new (std::nothrow) CTextReader(store, html, jslog));
  if (reader == nullptr) {
    return 0;
  }
  const int result = reader->Run();
  store->SetProgress(kPercent);
  return result;
}
