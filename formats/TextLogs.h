// Readers of the text family: the program's own tab-separated text and HTML
// exports, .jslog files (one message per line) and logs whose lines open with
// an ISO-8601 timestamp.
//
// The readers follow the store readers' shape: they reserve the buffer first,
// write their progress into the store, count every stored record in the
// per-process statistics and keep what was stored before a failure. Lines
// are read into bounded buffers; nothing in the file sets a length or an
// offset the readers rely on.
#pragma once

#include <cstddef>
#include <cstdint>

class CTraceMgr;

// An ISO log's message longer than this is stored as several records.
constexpr size_t kIsoMessagePieceUnits = 32000;
// The module name every ISO log record carries.
constexpr wchar_t kIsoLogModule[] = L"TalmoApp";

// Reads the store's own path (m_filePath) as a text export (html 0, jslog 0),
// an HTML export (html 1) or a .jslog file (jslog 1), in the encoding its
// byte-order mark names (ANSI without one). HTML cells have the export's
// escaping of "&", "<", ">" and quotes undone, so a message reads back as it
// was written. Malformed lines are skipped; a line longer than the text
// file's line buffer is read as its first part. 1 when the file was read to
// its end (also when it held no record); 0 when it cannot be opened or read,
// the store cannot reserve memory, or a record could not be stored (the
// records stored before stay).
int LoadHtmlOrText(CTraceMgr* store, int html, int jslog);

// Finds `opener` in `text`, sets *out to the character after it, finds
// `closer` after that, overwrites the closer's first character with NUL and
// returns the position after the closer. Null, with *out untouched, when
// either is missing or an argument is null.
wchar_t* ExtractBetween(wchar_t* text, const wchar_t* opener, const wchar_t* closer, wchar_t** out);

// Undoes the HTML escaping of one cell in place: the named entities amp, lt,
// gt, quot and apos and decimal or hexadecimal character references. Any
// other "&" stays as written. Returns text.
wchar_t* HtmlUnescapeInPlace(wchar_t* text);

// Reads `path` as an ISO-timestamped log: "YYYY-MM-DDTHH:MM:SS.mmmZ [Level]
// [thread] message" lines, each line without a timestamp continuing the last
// timestamped one. Records go to the catch-all module group. A thread word
// that is no number gives thread 0 and keeps the word in the message. 1 when
// the file was read to its end; 0 when it cannot be opened or read, or a
// record could not be stored (the records stored before stay).
int LoadIsoLog(CTraceMgr* store, const wchar_t* path);
