// The one-message inputs as a writer feeds them: the shared one-record
// buffer ("KEL_BUFFER"), the debugger output buffer ("DBWIN_BUFFER", through
// OutputDebugStringA or filled by hand) and WM_COPYDATA text sent to the
// window the tracer property names. The fill functions only lay out bytes;
// the Run functions own the named objects and the hand-over.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/RecordImport.h"
#include "tools/trace-writer/WriterOptions.h"

constexpr size_t kKelBufferBytes = kSharedRecordSize;
constexpr size_t kDbwinBufferBytes = 4096;
// Room of the text field of the shared buffer.
constexpr size_t kKelTextBytes = kSharedVersionOffset - kSharedTextOffset;
// WM_COPYDATA of this tag is not text for the tool.
constexpr ULONG_PTR kCopyDataIgnoredTag = 1234;
// too-long sends this much text.
constexpr size_t kCopyDataTooLongBytes = 4096;

struct KelBufferMessage {
  uint32_t version = 2;
  uint32_t levelCode = 0;
  uint32_t pid = 0;
  uint32_t tid = 0;
  const wchar_t* module = L"";
  const wchar_t* text = L"";
  uint32_t time = 0;  // versions 2 and 3; the reader stamps 0 and 1
  uint16_t milliseconds = 0;
  WriterFault fault = WriterFault::kNone;  // kUnterminated, kEmptyText
};

// Lays one message out in a 2344-byte shared buffer: narrow (ANSI) strings
// for versions 0 to 2, UTF-16 for version 3, each cut to its field with a
// terminator, unless the fault leaves both fields full and unterminated.
void FillKelBuffer(uint8_t* buffer, const KelBufferMessage& message);

// Lays one message out in a 4096-byte debugger buffer: the pid, then the
// ANSI text with its terminator (cut to fit), or with kUnterminated the
// rest of the buffer filled with text and no terminator.
void FillDbwinBuffer(uint8_t* buffer, uint32_t pid, const wchar_t* text, WriterFault fault);

// The ANSI text of one WM_COPYDATA message: "(module:pid:tid)" and the
// message, or the message alone with kNoPrefix; too-long pads it to 4096
// bytes. The terminator is part of the bytes unless kUnterminated.
std::string MakeCopyDataText(const wchar_t* module, uint32_t pid, uint32_t tid, const wchar_t* message,
                             WriterFault fault);

// The object names of these inputs, "Global\" and "_<tag>" as asked.
std::wstring InputObjectName(const wchar_t* base, bool global, const std::wstring& tag);

// Each sends options.count messages per thread; the exit codes of WriterRun.h.
int RunKelBufferWriter(const WriterOptions& options, uint32_t* written, std::wstring* error);
int RunDbwinWriter(const WriterOptions& options, uint32_t* written, std::wstring* error);
int RunCopyDataWriter(const WriterOptions& options, uint32_t* written, std::wstring* error);
