// One FTP test server (tests/net/ftp_server.py) for a whole test suite:
// started before the suite's first test and stopped after its last, with
// the Internet session open in between. Base is the suite's own fixture.
#pragma once

#include <gtest/gtest.h>

#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include "net/Inet.h"
#include "net/RemoteServer.h"
#include "tests/net/ScriptServer.h"

template <typename Base = ::testing::Test>
class FtpSuite : public Base {
 protected:
  static constexpr wchar_t kUser[] = L"tracer";
  static constexpr wchar_t kPassword[] = L"Secret-1";

  static void SetUpTestSuite() {
    ASSERT_EQ(1, g_inetSession.Open());
    s_server = new ScriptServer;
    ASSERT_TRUE(StartFtpServer(Narrow(kUser) + " " + Narrow(kPassword))) << s_server->Line();
  }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
    g_inetSession.Close();
  }

  // An entry for the server's user, with another password or protocol
  // when a test needs one.
  static CRemoteServer Server(const wchar_t* path, const wchar_t* password = kPassword,
                              uint16_t protocol = kProtocolFtp) {
    return CRemoteServer(L"127.0.0.1", protocol, s_port, path, kUser, password);
  }
  static CRemoteServer Anonymous(const wchar_t* path) {
    return CRemoteServer(L"127.0.0.1", kProtocolFtp, s_port, path, L"", L"");
  }

  // The listed names in order, "[" before a folder's.
  static std::vector<std::wstring> Names(const CFtpListing& listing) {
    std::vector<std::wstring> names;
    for (size_t i = 0; i < listing.Count(); ++i) {
      names.push_back(std::wstring(listing[i]->IsFolder() ? L"[" : L"") + listing[i]->name.c_str());
    }
    return names;
  }

  static inline ScriptServer* s_server = nullptr;
  static inline uint16_t s_port = 0;
  // The served folder as this process sees it (Wine's Z: is "/").
  static inline std::wstring s_root;

 private:
  static std::string Narrow(const wchar_t* text) { return std::string(text, text + wcslen(text)); }

  // The server's line names its port and its folder.
  static bool StartFtpServer(const std::string& arguments) {
    if (!s_server->Start("ftp_server.py", arguments)) return false;
    std::istringstream line(s_server->Line());
    std::string word;
    std::string folder;
    line >> word >> s_port >> folder;
    s_root = L"Z:" + std::wstring(folder.begin(), folder.end());
    for (wchar_t& ch : s_root) ch = ch == L'/' ? L'\\' : ch;
    return word == "PORT" && s_port != 0;
  }
};
