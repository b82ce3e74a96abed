#include "formats/TextExport.h"

#include <windows.h>

#include <cwchar>

#include "core/AppConfig.h"
#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/RefString.h"
#include "core/SysUtil.h"
#include "core/TextFile.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "formats/FileReplace.h"
#include "formats/PercentSteps.h"
#include "formats/RecordStrings.h"
#include "resource.h"

namespace {

// Lines are collected and handed to the text file in pieces of about this
// many characters: one conversion and one write per piece, not per line.
constexpr size_t kFlushChars = 1 << 16;
constexpr size_t kTextArguments = 6;
constexpr size_t kHtmlArguments = 7;  // the row's class comes first
constexpr size_t kNameUnits = kRecordNameUnits;  // "module@sub" with its terminator
constexpr wchar_t kLineEnd[] = L"\r\n";
constexpr wchar_t kHtmlCellOpen[] = L"<td nowrap>";
constexpr wchar_t kHtmlCellClose[] = L"</td>\r\n";

template <size_t N>
constexpr size_t Chars(const wchar_t (&)[N]) {
  return N - 1;
}

// The character reference of a character that markup would take as its own,
// or null for one that goes out as it is.
inline const wchar_t* HtmlReference(wchar_t c, size_t* length) {
  switch (c) {
    case L'&': *length = 5; return L"&amp;";
    case L'<': *length = 4; return L"&lt;";
    case L'>': *length = 4; return L"&gt;";
    case L'"': *length = 6; return L"&quot;";
    case L'\'': *length = 5; return L"&#39;";
    default: return nullptr;
  }
}

int AppendEscaped(CWideStrBuilder& out, const WideSpan& span) {
  size_t run = 0;  // start of the characters not yet appended
  for (size_t i = 0; i < span.units; ++i) {
    size_t length = 0;
    const wchar_t* reference = HtmlReference(span.text[i], &length);
    if (reference == nullptr) {
      continue;
    }
    if (!out.Append(span.text + run, i - run) || !out.Append(reference, length)) {
      return 0;
    }
    run = i + 1;
  }
  return out.Append(span.text + run, span.units - run);
}

int AppendCell(CWideStrBuilder& out, const WideSpan& span, int html) {
  return html ? AppendEscaped(out, span) : out.Append(span.text, span.units);
}

WideSpan Span(const wchar_t* text, size_t limit) { return {text, wcsnlen(text, limit)}; }

// "module" or "module@sub-name", at most 127 characters.
WideSpan MakeName(const TraceRecord* record, wchar_t (&name)[kNameUnits]) {
  const WideSpan module = RecordString(record, record->moduleOffset);
  const WideSpan sub = RecordString(record, record->subNameOffset);
  size_t n = module.units < kNameUnits - 1 ? module.units : kNameUnits - 1;
  wmemcpy(name, module.text, n);
  if (sub.units != 0 && n + 1 < kNameUnits - 1) {
    name[n++] = L'@';
    const size_t room = kNameUnits - 1 - n;
    const size_t take = sub.units < room ? sub.units : room;
    wmemcpy(name + n, sub.text, take);
    n += take;
  }
  name[n] = 0;
  return {name, n};
}

bool LoadText(CString& text, UINT id) {
  if (!text.LoadString(id)) {
    DebugTraceA("SaveText, string %u missing", id);
    return false;
  }
  return true;
}

// Writes and empties the collected lines; false on a failed write.
bool Flush(CTextFile& file, CWideStrBuilder& lines) {
  const bool written = lines.Length() == 0 || file.WriteString(lines.c_str(), lines.Length()) >= 0;
  lines.Clear();
  return written;
}

// Tells the store or the view its progress when the percentage changes.
class CProgress {
 public:
  CProgress(CTraceMgr* store, CTraceView* view, size_t count) : m_store(store), m_view(view), m_steps(count) {}
  void Done(size_t done) {
    uint32_t percent = 0;
    if (!m_steps.Reached(done, &percent)) {
      return;
    }
    if (m_view != nullptr) {
      m_view->SetProgress(percent);
    } else {
      m_store->SetProgress(percent);
    }
  }

 private:
  CTraceMgr* m_store;
  CTraceView* m_view;
  CPercentSteps m_steps;
};

class CTextExport {
 public:
  CTextExport(CTraceMgr* store, int html, CTraceView* view) : m_store(store), m_html(html), m_view(view) {}
  int Run(const wchar_t* path);

 private:
  size_t Count() const;
  bool WriteHeader();
  bool WriteRecords();
  bool Add(const TraceRecord* record);

  CTraceMgr* m_store;
  int m_html;
  CTraceView* m_view;
  CTextFile m_file;
  CLineFormat m_line;
  CWideStrBuilder m_lines;
};

size_t CTextExport::Count() const {
  if (m_view != nullptr) {
    return m_view->RecordCount();
  }
  return m_store->Buffer() != nullptr ? m_store->Buffer()->recordCount : 0;
}

bool CTextExport::WriteHeader() {
  CString format;
  if (!LoadText(format, m_html ? IDS_EXPORT_HTML_HEADER : IDS_EXPORT_TEXT_HEADER)) {
    return false;
  }
  uint32_t mask = 0;
  if (m_view != nullptr) {
    mask = m_view->m_groupMask;
  } else if (m_store->m_processStats.count != 0) {
    mask = m_store->m_processStats[0]->m_groupMask;
  }
  const CString names = g_moduleGroups.FormatNamesPipe(mask);
  CString header;
  if (header.Format(format.c_str(), g_appConfig.m_version, names.c_str(), unsigned(Count())) < 0) {
    return false;
  }
  return m_file.WriteString(header.c_str(), header.GetLength()) >= 0;
}

bool CTextExport::Add(const TraceRecord* record) {
  if (!FormatItemLine(m_lines, m_line, m_html, record)) {
    return false;
  }
  return m_lines.Length() < kFlushChars || Flush(m_file, m_lines);
}

bool CTextExport::WriteRecords() {
  CString format;
  if (!LoadText(format, m_html ? IDS_EXPORT_HTML_ROW : IDS_EXPORT_TEXT_LINE) || !m_line.Parse(format.c_str()) ||
      !m_lines.Grow(kFlushChars + kFlushChars / 4)) {
    return false;
  }
  const size_t count = Count();
  CProgress progress(m_store, m_view, count);
  if (m_view != nullptr) {
    for (size_t i = 0; i < count; ++i) {
      if (!Add(m_view->RecordAt(i))) {
        return false;
      }
      progress.Done(i + 1);
    }
  } else if (count != 0) {
    CTraceRingWalker walker(m_store->Buffer());
    for (size_t i = 0; i < count; ++i) {
      const TraceRecord* record = walker.Next();
      // A walk that ends early met a damaged buffer: the file would lack records.
      if (record == nullptr || !Add(record)) {
        return false;
      }
      progress.Done(i + 1);
    }
  }
  progress.Done(count);
  return Flush(m_file, m_lines);
}

int CTextExport::Run(const wchar_t* path) {
  CFileReplacement replacement;
  if (!replacement.Begin(path) || !m_file.Open(replacement.TempPath(), 0, KT_ENC_NONE)) {
    DebugTraceA("SaveText, create, %lu", GetLastError());
    return 0;
  }
  bool written = WriteHeader() && WriteRecords();
  if (written && m_html) {
    CString footer;
    written = LoadText(footer, IDS_EXPORT_HTML_FOOTER) && m_file.WriteString(footer.c_str(), footer.GetLength()) >= 0;
  }
  // Closing flushes the last bytes: only a clean close makes a complete file.
  written = m_file.Close() == 1 && written;
  if (!written) {
    DebugTraceA("SaveText, write, %lu", GetLastError());
    return 0;  // the replacement deletes the temporary file
  }
  return replacement.Commit();
}

}  // namespace

const wchar_t* LevelWord(uint32_t level) {
  if (level & kLevelInfo) return L"info";
  if (level & kLevelWarning) return L"warn";
  if (level & kLevelError) return L"error";
  if (level & kLevelPersonal) return L"PII";
  return L"debug";
}

int CLineFormat::Parse(const wchar_t* format) {
  m_arguments = 0;
  for (CWideStrBuilder& piece : m_pieces) {
    piece.Clear();
  }
  if (format == nullptr) {
    return 0;
  }
  for (const wchar_t* p = format; *p != 0; ++p) {
    if (*p != L'%') {
      if (!m_pieces[m_arguments].Append(p, 1)) {
        return 0;
      }
      continue;
    }
    ++p;
    if (*p == L'%') {
      if (!m_pieces[m_arguments].Append(p, 1)) {
        return 0;
      }
    } else if (*p == L's' && m_arguments < kMaxArguments) {
      ++m_arguments;
    } else {
      return 0;
    }
  }
  return 1;
}

int FormatItemLine(CWideStrBuilder& out, const CLineFormat& format, int html, const TraceRecord* record) {
  const size_t wanted = html ? kHtmlArguments : kTextArguments;
  if (record == nullptr || record->length < kRecordFixedSize || format.ArgumentCount() != wanted) {
    return 0;
  }
  wchar_t nameBuffer[kNameUnits];
  const WideSpan level = Span(LevelWord(record->level), kNameUnits);
  const WideSpan group = record->groupName != nullptr ? Span(record->groupName, kModuleGroupNameChars)
                                                      : WideSpan{L"", 0};
  const WideSpan cells[kHtmlArguments] = {
      level,
      level,
      Span(record->timeText, kRecordTimeTextUnits),
      group,
      MakeName(record, nameBuffer),
      RecordString(record, record->hintOffset),
      RecordString(record, kRecordFixedSize),  // "[pid:tid]"
  };
  // The text line has no class: its cells start at the second.
  const WideSpan* cell = html ? cells : cells + 1;
  for (size_t i = 0; i < wanted; ++i) {
    if (!out.Append(format.Piece(i), format.PieceLength(i)) || !AppendCell(out, cell[i], html)) {
      return 0;
    }
  }
  if (!out.Append(format.Piece(wanted), format.PieceLength(wanted))) {
    return 0;
  }
  const WideSpan message = RecordString(record, record->messageOffset);
  if (html) {
    return out.Append(kHtmlCellOpen, Chars(kHtmlCellOpen)) && AppendEscaped(out, message) &&
           out.Append(kHtmlCellClose, Chars(kHtmlCellClose));
  }
  return out.Append(message.text, message.units) && out.Append(kLineEnd, Chars(kLineEnd));
}

int SaveText(CTraceMgr* store, const wchar_t* path, int html, CTraceView* view) {
  if (store == nullptr || path == nullptr || path[0] == 0) {
    return 0;
  }
  CTextExport exporter(store, html, view);
  return exporter.Run(path);
}
