// The sibling program's text logs (.klg). Each line has the shape
//   YYYY-MM-DDTHH:MM:SS.mmmZ  <Level> [thread] file:line  function: message
// read by byte columns: the timestamp in columns 0 to 23, the level word from
// column 26 up to ">", the thread 3 characters after that up to "]", the file
// 2 characters after that up to ":", the line number up to the next blank,
// the function 2 characters after that blank up to the next ":" outside a
// "::" pair, and the message behind it. A line becomes one plain narrow
// record (ANSI strings) that is imported like a record of a binary file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/Handle.h"
#include "formats/LineReader.h"
#include "formats/LocalMinutes.h"

class CTraceMgr;

// The sub-name and group name every .klg record carries.
constexpr wchar_t kKlgGroupName[] = L"pilvo";
constexpr char kKlgSubName[] = "pilvo";

// A line longer than this is read as its first kMaxKlgLineBytes bytes: no
// record can hold more.
constexpr size_t kMaxKlgLineBytes = 16384;
// Where the string area of a .klg record starts: the size of a stored
// record's fixed part (the narrow head's 52 bytes, then zeros).
constexpr uint32_t kKlgModuleOffset = 112;

// One parsed line and the narrow record built from it.
class CKelTraceItem : public std::enable_shared_from_this<CKelTraceItem> {
 public:
  CKelTraceItem() = default;
  CKelTraceItem(const CKelTraceItem&) = delete;
  CKelTraceItem& operator=(const CKelTraceItem&) = delete;
  virtual ~CKelTraceItem() { FreeRecord(); }

  // Splits the line into its fields. 0 at the first missing separator (">",
  // "]", ":" after the file, blank after the line number); the fields after
  // it are empty. A function without a closing ":" leaves the text from the
  // function's start as the message.
  int ParseLine(const std::string& line) { return ParseLine(line.data(), line.size()); }
  int ParseLine(const char* line, size_t size);
  // Module = file; hint = line number, ": " and function (empty when both are).
  void ComposeFields();
  // Allocates the zeroed record for the composed fields, the message cut so
  // the record stays within a narrow record's limit; `lineLength` counts
  // for progress. 0 when memory runs out.
  int BuildRecord(size_t lineLength);
  // Writes the head and the strings. `time` and `milliseconds` are used when
  // the timestamp cannot be read (ParseTime fails).
  void FillRecord(uint32_t time, uint16_t milliseconds);
  // The same with the time given, the timestamp not read again.
  void FillRecordAt(uint32_t time, uint16_t milliseconds);
  // "Debug" 1, "Warn" 4, "Error" 8 (exact case), anything else 2.
  uint32_t ParseLevel() const;
  // The timestamp as local time. False when its seven numbers cannot be
  // read or the time cannot be represented. A reader of many lines passes
  // its `minutes`, which spare most conversions.
  bool ParseTime(uint32_t* time, uint16_t* milliseconds, CLocalMinuteCache* minutes = nullptr) const;
  void FreeRecord();

  const uint8_t* Record() const { return m_record.get(); }
  uint32_t RecordLength() const { return m_recordLength; }
  uint32_t ConsumedLength() const { return m_consumedLength; }

  std::string m_timestamp;
  std::string m_level;
  std::string m_thread;
  std::string m_file;
  std::string m_lineNumber;
  std::string m_function;
  std::string m_message;
  std::string m_module;
  std::string m_subName = kKlgSubName;
  std::string m_hint;

 private:
  std::unique_ptr<uint8_t[]> m_record;
  uint32_t m_recordLength = 0;
  uint32_t m_allocSize = 0;
  uint32_t m_consumedLength = 0;
  // Bytes m_record has room for: an item read again (see ReadNext) keeps
  // its record's memory.
  uint32_t m_capacity = 0;
};

// The file and its line loop.
class CKelTraceFileHelper {
 public:
  CKelTraceFileHelper() = default;
  CKelTraceFileHelper(const CKelTraceFileHelper&) = delete;
  CKelTraceFileHelper& operator=(const CKelTraceFileHelper&) = delete;
  virtual ~CKelTraceFileHelper() = default;

  // Opens for reading, shared for reading and writing. 1 or 0.
  int Open(const wchar_t* path);
  // The next non-empty line as a built item, or null at the end of the file
  // (or when reading or memory failed: Failed() tells). A line the parser
  // refuses keeps its whole text as the message; a line whose timestamp
  // cannot be read takes the time of the last line whose could. The last
  // item, when the caller let it go, is filled again rather than made anew.
  std::shared_ptr<CKelTraceItem> ReadNext();
  void Close();
  bool Failed() const { return m_failed; }

 private:
  // The next line without its line end (cut to kMaxKlgLineBytes), valid
  // until the next read; false at the end of the file. `length` receives
  // the whole line's length.
  bool ReadLine(ByteSpan* line, size_t* length);

  CHandle m_file;
  std::unique_ptr<CChunkLineReader> m_lines;
  // A line that came in pieces, put together.
  std::string m_longLine;
  std::shared_ptr<CKelTraceItem> m_item;
  CLocalMinuteCache m_minutes;
  bool m_failed = false;
  bool m_atStart = true;
  // The time of the last line whose timestamp was read, for lines without one.
  uint32_t m_lastTime = 0;
  uint16_t m_lastMilliseconds = 0;
};

// Reads the store's own path (m_filePath) as a .klg file. 0 when the file
// cannot be opened, is empty or 4 GB - 1 bytes or more, or the store cannot
// reserve memory; otherwise the result of LoadKlgItems.
int LoadKlg(CTraceMgr* store);
// Reads every line of the store's path into records. 1 when the file was
// read to its end; 0 when it cannot be opened or read, or a record could
// not be stored (the records stored before stay). `size` is the file size
// for progress; `copy` is the importer's copy flag.
int LoadKlgItems(CTraceMgr* store, uint64_t size, int copy);
