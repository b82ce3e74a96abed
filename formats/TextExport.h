// Text and HTML export: a store, or one view of it, as tab-separated text
// (.log, .txt) or as an HTML table (.htm, .html), UTF-8 with a byte-order
// mark. Header, line and footer formats come from the string table, so the
// text readers read both exports back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Containers.h"
#include "core/TraceRecord.h"

class CTraceMgr;
class CTraceView;

// The word for a record's level, by the first of these bits found:
// information "info", warning "warn", error "error", personal data "PII";
// none of them "debug". Used as the HTML row class too.
const wchar_t* LevelWord(uint32_t level);

// A line format of the string table taken apart once at its "%s" places, so
// each record is put together by copying instead of by printf.
class CLineFormat {
 public:
  static constexpr size_t kMaxArguments = 8;

  // 1, or 0 when the text has more "%s" than kMaxArguments or a "%" that
  // is neither "%s" nor "%%" (such a format was not meant for records).
  int Parse(const wchar_t* format);
  // The text before argument i (i == ArgumentCount(): the text after the last).
  const wchar_t* Piece(size_t i) const { return m_pieces[i].c_str(); }
  size_t PieceLength(size_t i) const { return m_pieces[i].Length(); }
  size_t ArgumentCount() const { return m_arguments; }

 private:
  CWideStrBuilder m_pieces[kMaxArguments + 1];
  size_t m_arguments = 0;
};

// Appends one record, formatted with `format` (string 61459 for text, 61460
// for HTML), then its message and the line end: in text the message as
// stored and CR LF; in HTML "<td nowrap>", the message, "</td>" and CR LF.
// HTML cells have "&", "<", ">", '"' and "'" written as character
// references, so a message holding markup shows as text and reads back as
// written. A format must take 6 (text) or 7 (HTML: the class first)
// arguments. Strings are read only inside the record. 1, or 0 when the
// output could not grow or the format does not fit.
int FormatItemLine(CWideStrBuilder& out, const CLineFormat& format, int html, const TraceRecord* record);

// Writes the whole store (view null: its records in ring order) or one view
// (in view order) to `path`: header, one line per record and, for HTML, the
// footer. Progress goes to the store or to the view. The file is written
// beside the target and replaces it only when complete, so a failed write
// (a full disk) leaves the old file. The caller holds the store's shared
// lock. 1 on success; 0 when the strings are missing or any write failed.
int SaveText(CTraceMgr* store, const wchar_t* path, int html, CTraceView* view);
