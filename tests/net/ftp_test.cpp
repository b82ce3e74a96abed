#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "net/Inet.h"
#include "net/RemoteServer.h"
#include "tests/net/FtpSuite.h"
#include "tests/core/TempFolder.h"

namespace {

constexpr uint32_t kBigFileBytes = 3 * 1024 * 1024 + 1234;
constexpr uint32_t kNoProgress = 0xFFFFFFFF;


std::vector<char> ReadWholeFile(const std::wstring& path) {
  std::vector<char> bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return bytes;
  char chunk[65536];
  size_t read = 0;
  while ((read = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.insert(bytes.end(), chunk, chunk + read);
  fclose(file);
  return bytes;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class FtpTest : public FtpSuite<> {};

TEST_F(FtpTest, ListsFoldersFirstWithParentEntryBelowRoot) {
  struct Case {
    const wchar_t* path;
    bool anonymous;
    std::vector<std::wstring> names;  // "[" marks a folder
  };
  const Case cases[] = {
      {L"/", false, {L"[Alpha", L"[empty", L"[logs", L"readme.txt"}},
      {L"/", true, {L"[Alpha", L"[empty", L"[logs", L"readme.txt"}},
      {L"/logs/", false, {L"[..", L"[Beta", L"[old", L"A.txt", L"b.ktr", L"big.bin", L"c.log", L"noext"}},
      {L"/logs", false, {L"[..", L"[Beta", L"[old", L"A.txt", L"b.ktr", L"big.bin", L"c.log", L"noext"}},
      {L"/empty/", false, {L"[.."}},
      {L"/logs/old/", true, {L"[.."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "path " << std::string(c.path, c.path + wcslen(c.path)) << " anonymous "
                                    << c.anonymous);
    const CRemoteServer server = c.anonymous ? Anonymous(c.path) : Server(c.path);
    CFtpListing listing;
    volatile uint32_t progress = kNoProgress;
    ASSERT_EQ(0u, CInetConnect::FtpList(server, listing, &progress));
    EXPECT_EQ(c.names, Names(listing));
    EXPECT_EQ(25u, progress);
  }
}

TEST_F(FtpTest, ListingCarriesSizesAndTimes) {
  CFtpListing listing;
  ASSERT_EQ(0u, CInetConnect::FtpList(Server(L"/logs/"), listing, nullptr));
  ASSERT_EQ(8u, listing.Count());
  EXPECT_EQ(0u, listing[0]->size);
  EXPECT_EQ(0u, listing[0]->lastWrite.dwHighDateTime);
  EXPECT_EQ(10u, listing[4]->size);  // b.ktr
  EXPECT_EQ(kBigFileBytes, listing[5]->size);
  EXPECT_EQ(0u, listing[7]->size);   // noext
  EXPECT_NE(0u, listing[5]->lastWrite.dwHighDateTime);
}

TEST_F(FtpTest, ListingFailuresLeaveNoEntries) {
  struct Case {
    const char* what;
    CRemoteServer server;
  };
  const Case cases[] = {
      {"wrong password", Server(L"/logs/", L"secret-1")},
      {"missing folder", Server(L"/nothere/")},
      {"closed port", CRemoteServer(L"127.0.0.1", kProtocolFtp, 1, L"/", L"tracer", L"Secret-1")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CFtpListing listing;
    EXPECT_NE(0u, CInetConnect::FtpList(c.server, listing, nullptr));
    EXPECT_EQ(0u, listing.Count());
  }
}

TEST_F(FtpTest, FetchesLargeFileByteExact) {
  TempFolder folder;
  const std::wstring local = folder.File(L"big.bin");
  volatile uint32_t progress = 0;
  ASSERT_EQ(0u, CInetConnect::FtpGetFile(Server(L"/logs/"), L"big.bin", kBigFileBytes, local.c_str(), &progress));
  EXPECT_EQ(100u, progress);
  const std::vector<char> fetched = ReadWholeFile(local);
  const std::vector<char> served = ReadWholeFile(s_root + L"\\logs\\big.bin");
  ASSERT_EQ(kBigFileBytes, served.size());
  EXPECT_TRUE(fetched == served);
}

TEST_F(FtpTest, UnknownSizeKeepsProgressAtZero) {
  TempFolder folder;
  const std::wstring local = folder.File(L"c.log");
  volatile uint32_t progress = 0;
  ASSERT_EQ(0u, CInetConnect::FtpGetFile(Anonymous(L"/logs"), L"c.log", 0, local.c_str(), &progress));
  EXPECT_EQ(0u, progress);
  EXPECT_EQ(std::vector<char>(5000, 'c'), ReadWholeFile(local));
}

TEST_F(FtpTest, EmptyFileIsFetchedAsEmpty) {
  TempFolder folder;
  const std::wstring local = folder.File(L"noext");
  ASSERT_EQ(0u, CInetConnect::FtpGetFile(Server(L"/logs/"), L"noext", 0, local.c_str(), nullptr));
  EXPECT_TRUE(FileExists(local));
  EXPECT_TRUE(ReadWholeFile(local).empty());
}

TEST_F(FtpTest, FailedFetchLeavesNoFile) {
  struct Case {
    const char* what;
    CRemoteServer server;
    const wchar_t* name;
    uint32_t size;
  };
  const Case cases[] = {
      {"missing file", Server(L"/logs/"), L"missing.ktr", 0},
      {"wrong password", Server(L"/logs/", L"wrong"), L"b.ktr", 10},
      {"closed port", CRemoteServer(L"127.0.0.1", kProtocolFtp, 1, L"/logs/", L"", L""), L"b.ktr", 10},
      {"shorter than listed", Server(L"/logs/"), L"b.ktr", 11},
      {"longer than listed", Server(L"/logs/"), L"c.log", 4999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    const std::wstring local = folder.File(L"fetched.ktr");
    EXPECT_NE(0u, CInetConnect::FtpGetFile(c.server, c.name, c.size, local.c_str(), nullptr));
    EXPECT_FALSE(FileExists(local));
  }
}

TEST_F(FtpTest, SftpEntriesSayTheyAreNotSupported) {
  TempFolder folder;
  const std::wstring local = folder.File(L"s.ktr");
  const CRemoteServer server(L"127.0.0.1", kProtocolSftp, 1, L"/", L"", L"");
  CFtpListing listing;
  ASSERT_EQ(0u, CInetConnect::FtpList(Server(L"/"), listing, nullptr));
  EXPECT_EQ(DWORD(ERROR_NOT_SUPPORTED), CInetConnect::SftpList(server, listing, nullptr));
  EXPECT_EQ(0u, listing.Count());
  EXPECT_EQ(DWORD(ERROR_NOT_SUPPORTED), CInetConnect::SftpGetFile(server, L"x.ktr", 10, local.c_str(), nullptr));
  EXPECT_FALSE(FileExists(local));
}

}  // namespace
