// trace-dump run as a process: every file it converts prints the same
// records as the file it came from.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>

#include "tests/core/TempFolder.h"
#include "tests/tools/TraceWriterProcess.h"

namespace {

struct Result {
  DWORD exitCode = ~0u;
  std::string out;
};

Result RunTool(const std::wstring& arguments) {
  CToolProcess tool(L"trace-dump");
  Result result;
  result.exitCode = tool.Run(arguments);
  result.out = tool.Output();
  return result;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

TEST(TraceDump, ConvertedFilesPrintTheSameRecords) {
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  const std::wstring source = folder.File(L"source.ktr");
  ASSERT_EQ(0u, RunTool(L"--generate " + Quoted(source) + L" 40 3").exitCode);
  const Result original = RunTool(Quoted(source));
  ASSERT_EQ(0u, original.exitCode) << original.out;
  ASSERT_NE(std::string::npos, original.out.find("records: 40\n"));

  // Each step converts the previous step's file, so every reader and writer
  // takes part: .ktr to text, text to HTML, HTML to zip, zip to a name
  // without extension (a .ktr).
  std::wstring previous = source;
  for (const wchar_t* name : {L"step.log", L"step.HTML", L"step.zip", L"step"}) {
    const std::wstring next = folder.File(name);
    const Result converted = RunTool(L"--convert " + Quoted(previous) + L" " + Quoted(next));
    ASSERT_EQ(0u, converted.exitCode) << converted.out;
    const Result dumped = RunTool(Quoted(next));
    EXPECT_EQ(0u, dumped.exitCode);
    EXPECT_EQ(original.out, dumped.out) << "after converting to " << std::string(name, name + wcslen(name));
    previous = next;
  }
}

TEST(TraceDump, ConvertRefusesWhatItCannotReadWhole) {
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  const std::wstring source = folder.File(L"source.ktr");
  ASSERT_EQ(0u, RunTool(L"--generate " + Quoted(source) + L" 10").exitCode);
  // Cut the file in the middle of a record.
  HANDLE file = CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  const DWORD size = GetFileSize(file, nullptr);
  SetFilePointer(file, LONG(size - 7), nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  CloseHandle(file);
  const std::wstring target = folder.File(L"out.zip");
  EXPECT_EQ(1u, RunTool(L"--convert " + Quoted(source) + L" " + Quoted(target)).exitCode);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(target.c_str()));
  // The records before the cut are still printed, and the damage is reported.
  const Result dumped = RunTool(Quoted(source));
  EXPECT_EQ(1u, dumped.exitCode);
  EXPECT_NE(std::string::npos, dumped.out.find("records: 9\n")) << dumped.out;
  EXPECT_EQ(2u, RunTool(L"--convert " + Quoted(source)).exitCode);
}

}  // namespace
