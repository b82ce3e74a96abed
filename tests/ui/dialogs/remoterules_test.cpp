// The window-free rules of the remote connection, dump-file, history and
// remote file dialogs: size and time cells, file names, walking a remote
// path, the remote file dialog's title.
#include <gtest/gtest.h>

#include <string>

#include "net/Inet.h"
#include "net/RemoteServer.h"
#include "ui/dialogs/FileListText.h"
#include "ui/dialogs/RemoteFileRules.h"

namespace {

TEST(FileListText, SizeTexts) {
  struct Case {
    uint32_t bytes;
    const wchar_t* text;
  } const cases[] = {
      {0, L"0 B"},         {1, L"1 B"},          {1023, L"1023 B"},          {1024, L"1 KB"},
      {1536, L"1 KB"},     {2047, L"1 KB"},      {2048, L"2 KB"},            {1048575, L"1023 KB"},
      {0xFFFFFFFF, L"4194303 KB"},
  };
  for (const Case& c : cases) {
    wchar_t text[32];
    EXPECT_EQ(1, FormatSizeText(c.bytes, text, 32));
    EXPECT_STREQ(c.text, text) << c.bytes;
  }
  wchar_t small[4];
  EXPECT_EQ(0, FormatSizeText(1536, small, 4));
  EXPECT_STREQ(L"", small);
}

TEST(FileListText, TimesAreLocalMonthFirst) {
  SYSTEMTIME time = {2026, 12, 0, 11, 1, 2, 3, 0};
  FILETIME utc;
  ASSERT_TRUE(SystemTimeToFileTime(&time, &utc));
  const uint64_t value = uint64_t(utc.dwLowDateTime) | (uint64_t(utc.dwHighDateTime) << 32);
  wchar_t text[32];
  ASSERT_EQ(1, FormatListTime(value, text, 32));
  EXPECT_STREQ(L"12/11/2026 01:02:03", text);  // the tests run in UTC
  EXPECT_EQ(0, FormatListTime(value, text, 10));
  EXPECT_STREQ(L"", text);
}

TEST(FileListText, FileNamePart) {
  EXPECT_STREQ(L"keltra_1.ktr", ListFileName(L"C:\\temp\\keltra_1.ktr"));
  EXPECT_STREQ(L"b.dump", ListFileName(L"/var/a/b.dump"));
  EXPECT_STREQ(L"plain", ListFileName(L"plain"));
  EXPECT_STREQ(L"C:\\temp\\", ListFileName(L"C:\\temp\\"));
}

// Going up and into folders, with the normalisation the listing applies.
TEST(RemoteFileRules, WalkingThePath) {
  struct Case {
    const wchar_t* path;
    const wchar_t* open;
    int changed;
    const wchar_t* listed;
  } const cases[] = {
      {L"/a/b/", L"..", 1, L"/a/"},   {L"/a/", L"..", 1, L"/"},      {L"/", L"..", 0, L"/"},
      {L"/a/b", L"..", 1, L"/a/"},    {L"/a/", L"c", 1, L"/a/c/"},   {L"/", L"logs", 1, L"/logs/"},
      {L"/a/", L"", 0, L"/a/"},
  };
  for (const Case& c : cases) {
    CRemoteServer entry(L"127.0.0.1", kProtocolFtp, 0, c.path, L"", L"");
    EXPECT_EQ(c.changed, RemoteOpenFolder(entry.path, c.open)) << c.path << " " << c.open;
    ASSERT_EQ(1, CInetUrl::NormalizePath(entry));
    EXPECT_STREQ(c.listed, entry.path.c_str()) << c.path << " " << c.open;
  }
}

TEST(RemoteFileRules, TitleAndCells) {
  EXPECT_STREQ(L"Remote File", RemoteFileTitle(0, nullptr).c_str());
  EXPECT_STREQ(L"Remote File - List \"ftp://h/a/\"", RemoteFileTitle(61487, L"ftp://h/a/").c_str());
  EXPECT_STREQ(L"Remote File - Get \"100%.ktr\"", RemoteFileTitle(61488, L"100%.ktr").c_str());
  CFtpFileEntry up;
  up.name = L"..";
  up.attributes = FILE_ATTRIBUTE_DIRECTORY;
  CString size, modified;
  RemoteFileCells(up, &size, &modified);
  EXPECT_STREQ(L"<>", size.c_str());
  EXPECT_STREQ(L"", modified.c_str());
  CFtpFileEntry file;
  file.name = L"x.ktr";
  file.size = 1023;
  SYSTEMTIME time = {2025, 3, 0, 4, 5, 6, 7, 0};
  SystemTimeToFileTime(&time, &file.lastWrite);
  RemoteFileCells(file, &size, &modified);
  EXPECT_STREQ(L"1023 B", size.c_str());
  EXPECT_STREQ(L"03/04/2025 05:06:07", modified.c_str());
}

}  // namespace
