#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/StrUtil.h"
#include "net/Inet.h"
#include "res/resource.h"
#include "tests/net/ScriptServer.h"

namespace {

// The prompt stand-in: records each call and answers from a script.
struct PromptLog {
  std::vector<DWORD> errors;
  std::vector<DWORD> flags;
  DWORD answer = ERROR_CANCELLED;
  DWORD securityFlagsToAdd = 0;  // set on the request before answering, as the dialog does
};
PromptLog g_prompts;

DWORD WINAPI FakeErrorDlg(HWND, HINTERNET request, DWORD error, DWORD flags, void**) {
  g_prompts.errors.push_back(error);
  g_prompts.flags.push_back(flags);
  if (g_prompts.securityFlagsToAdd) {
    DWORD current = 0;
    DWORD size = sizeof(current);
    InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &current, &size);
    current |= g_prompts.securityFlagsToAdd;
    InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &current, sizeof(current));
  }
  return g_prompts.answer;
}

// One HTTP test server per suite (plain or TLS) and the prompt stand-in
// for every test.
class HttpServerTest : public ::testing::Test {
 protected:
  static void StartServer(const char* scheme, const char* arguments) {
    ASSERT_EQ(1, g_inetSession.Open());
    s_server = new ScriptServer;
    ASSERT_TRUE(s_server->Start("http_server.py", arguments)) << s_server->Line();
    std::istringstream line(s_server->Line());
    std::string word;
    unsigned port = 0;
    line >> word >> port;
    ASSERT_EQ("PORT", word);
    s_base = std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
  }
  static void StopServer() {
    delete s_server;
    s_server = nullptr;
    g_inetSession.Close();
  }
  void SetUp() override {
    g_prompts = PromptLog();
    g_inetErrorDlg = FakeErrorDlg;
  }
  void TearDown() override { g_inetErrorDlg = ::InternetErrorDlg; }

  static std::wstring Url(const std::string& pathAndQuery) {
    const std::string url = s_base + pathAndQuery;
    return std::wstring(url.begin(), url.end());
  }

  static ScriptServer* s_server;
  static std::string s_base;
};

ScriptServer* HttpServerTest::s_server = nullptr;
std::string HttpServerTest::s_base;

class InetRequestTest : public HttpServerTest {
 protected:
  static void SetUpTestSuite() { StartServer("http", ""); }
  static void TearDownTestSuite() { StopServer(); }
};

TEST_F(InetRequestTest, StatusQueryTable) {
  struct Case {
    const char* pathAndQuery;
    UINT result;
    DWORD error;  // checked when the result is not 0
  };
  const Case cases[] = {
      {"/reply?code=200&body=%3CStatus%3ESUCCESS%3C/Status%3E%3CServerStatus%3E1%3C/ServerStatus%3E", 0, 0},
      {"/reply?code=200&body=%3CStatus%3E%20%20SUCCESS%3CServerStatus%3E%20%201", 0, 0},
      {"/reply?code=200&body=%3CStatus%3ESUCCESS%3CServerStatus%3E0", IDS_SEND_ERR_SERVER_BUSY, 0},
      {"/reply?code=200&body=%3CStatus%3ESUCCESS", IDS_SEND_ERR_SERVER_BUSY, 0},
      {"/reply?code=200&body=%3CStatus%3EFAIL%3CServerStatus%3E1", IDS_SEND_ERR_SERVER_BUSY, 0},
      {"/reply?code=200&body=SUCCESS", IDS_SEND_ERR_SERVER_BUSY, 0},
      {"/reply?code=200&body=", IDS_SEND_ERR_SERVER_BUSY, 0},
      {"/reply?code=404&body=%3CStatus%3ESUCCESS%3CServerStatus%3E1", IDS_SEND_ERR_HTTP, 404},
      {"/reply?code=500", IDS_SEND_ERR_HTTP, 500},
      {"/reply?code=405", IDS_SEND_ERR_HTTP, 405},
      {"/nothing/here", IDS_SEND_ERR_HTTP, 404},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pathAndQuery);
    CInetRequest request;
    EXPECT_EQ(c.result, request.Open(nullptr, Url(c.pathAndQuery).c_str()));
    if (c.result == IDS_SEND_ERR_HTTP) {
      EXPECT_EQ(c.error, request.ErrorCode());
    }
  }
  EXPECT_TRUE(g_prompts.errors.empty());
}

TEST_F(InetRequestTest, PostSendsBodyAsOctetStream) {
  struct Case {
    const char* what;
    size_t length;
    bool wrongCrc;
    UINT result;
  };
  const Case cases[] = {
      {"small", 10, false, 0},
      {"one upload piece in Base64", 54616, false, 0},
      {"body the server does not accept", 100, true, IDS_SEND_ERR_HTTP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string body(c.length, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('A' + (i * 7 + i / 13) % 26);
    const uint32_t crc = Crc32(body.data(), body.size()) + (c.wrongCrc ? 1 : 0);
    const std::string query = "/post?len=" + std::to_string(c.length) + "&crc=" + std::to_string(crc);
    CInetRequest request;
    EXPECT_EQ(c.result, request.Post(nullptr, Url(query).c_str(), body.data(), static_cast<DWORD>(body.size())));
  }
}

TEST_F(InetRequestTest, BadTargetsAreInternetErrors) {
  struct Case {
    std::wstring url;
    UINT result;
    DWORD error;  // 0: any non-zero code
  };
  const std::wstring longUrl = L"http://127.0.0.1/" + std::wstring(1100, L'a');
  const Case cases[] = {
      {L"ftp://127.0.0.1/file", IDS_SEND_ERR_INTERNET, ERROR_INTERNET_INVALID_URL},
      {L"http:///nohost", IDS_SEND_ERR_INTERNET, 0},
      {L"not a url", IDS_SEND_ERR_INTERNET, 0},
      {longUrl, IDS_SEND_ERR_WIN32, ERROR_INSUFFICIENT_BUFFER},
      {L"http://127.0.0.1:1/closed", IDS_SEND_ERR_INTERNET, ERROR_INTERNET_CANNOT_CONNECT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url.begin(), c.url.begin() + (c.url.size() < 40 ? c.url.size() : 40)));
    CInetRequest request;
    EXPECT_EQ(c.result, request.Open(nullptr, c.url.c_str()));
    if (c.error) {
      EXPECT_EQ(c.error, request.ErrorCode());
    } else {
      EXPECT_NE(0u, request.ErrorCode());
    }
  }
}

TEST_F(InetRequestTest, CredentialPromptRetriesOrGivesUp) {
  struct Case {
    const char* id;
    int code;
    int failures;
    DWORD answer;
    UINT result;
    size_t prompts;
  };
  const Case cases[] = {
      {"retry401", 401, 1, ERROR_INTERNET_FORCE_RETRY, 0, 1},
      {"retry407", 407, 2, ERROR_INTERNET_FORCE_RETRY, 0, 2},
      {"cancel401", 401, 1, ERROR_CANCELLED, IDS_SEND_ERR_PROXY_AUTH, 1},
      {"cancel403", 403, 1, ERROR_SUCCESS, IDS_SEND_ERR_PROXY_AUTH, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    g_prompts = PromptLog();
    g_prompts.answer = c.answer;
    const std::string query = std::string("/flaky?id=") + c.id + "&fail=" + std::to_string(c.failures) +
                              "&code=" + std::to_string(c.code);
    CInetRequest request;
    EXPECT_EQ(c.result, request.Open(nullptr, Url(query).c_str()));
    ASSERT_EQ(c.prompts, g_prompts.errors.size());
    EXPECT_EQ(DWORD(ERROR_INTERNET_INCORRECT_PASSWORD), g_prompts.errors[0]);
    EXPECT_EQ(DWORD(FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS), g_prompts.flags[0]);
    if (c.result) {
      EXPECT_EQ(DWORD(c.code), request.ErrorCode());
    }
  }
}

TEST_F(InetRequestTest, EndlessRetryAnswersStopAtLast) {
  g_prompts.answer = ERROR_INTERNET_FORCE_RETRY;
  CInetRequest request;
  EXPECT_EQ(UINT(IDS_SEND_ERR_PROXY_AUTH), request.Open(nullptr, Url("/flaky?id=endless&fail=1000&code=401").c_str()));
  EXPECT_EQ(401u, request.ErrorCode());
  EXPECT_GT(g_prompts.errors.size(), 1u);
}

// Wine answers queries for the connect time-out only (the others can be
// set, per request, but not read back).
TEST_F(InetRequestTest, SessionConnectTimeOutIsThirtySeconds) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  ASSERT_TRUE(InternetQueryOptionW(g_inetSession.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &value, &size));
  EXPECT_EQ(kInetTimeoutMs, value);
  HINTERNET before = g_inetSession.get();
  EXPECT_EQ(1, g_inetSession.Open());
  EXPECT_EQ(before, g_inetSession.get());
}

TEST_F(InetRequestTest, ResetClosesHandlesAndClearsError) {
  CInetRequest request;
  EXPECT_EQ(UINT(IDS_SEND_ERR_HTTP), request.Open(nullptr, Url("/reply?code=500").c_str()));
  EXPECT_NE(nullptr, request.RequestHandle());
  request.Reset();
  EXPECT_EQ(0u, request.ErrorCode());
  EXPECT_EQ(nullptr, request.RequestHandle());
  // The same object serves the next exchange.
  EXPECT_EQ(0u, request.Open(nullptr, Url("/reply?code=200&body=%3CStatus%3ESUCCESS%3CServerStatus%3E1").c_str()));
}

TEST(InetStatusReply, Table) {
  struct Case {
    const char* reply;
    int checkServer;
    UINT result;
  };
  const Case cases[] = {
      {"<Status>SUCCESS</Status>", 0, 0},
      {"<Status>   SUCCESSFUL", 0, 0},
      {"<Status>\tSUCCESS", 0, IDS_SEND_ERR_HTTP},
      {"<Status>success", 0, IDS_SEND_ERR_HTTP},
      {"<status>SUCCESS", 0, IDS_SEND_ERR_HTTP},
      {"", 0, IDS_SEND_ERR_HTTP},
      {nullptr, 0, IDS_SEND_ERR_HTTP},
      {"<Status>SUCCESS<ServerStatus>1", 1, 0},
      {"<ServerStatus>1<Status>SUCCESS", 1, 0},
      {"<Status>SUCCESS<ServerStatus>  1</ServerStatus>", 1, 0},
      {"<Status>SUCCESS<ServerStatus>01", 1, 0},
      {"<Status>SUCCESS<ServerStatus>2", 1, IDS_SEND_ERR_SERVER_BUSY},
      {"<Status>SUCCESS<ServerStatus>", 1, IDS_SEND_ERR_SERVER_BUSY},
      {"<Status>SUCCESS<ServerStatus>x1", 1, IDS_SEND_ERR_SERVER_BUSY},
      {"<Status>FAIL<ServerStatus>1", 1, IDS_SEND_ERR_SERVER_BUSY},
      {"<ServerStatus>1", 1, IDS_SEND_ERR_SERVER_BUSY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply ? c.reply : "(null)");
    EXPECT_EQ(c.result, CheckStatusReply(c.reply, c.checkServer));
  }
}

}  // namespace

namespace {

// HTTPS with a certificate nobody trusts: the certificate prompt decides.
class InetCertificateTest : public HttpServerTest {
 protected:
  static void SetUpTestSuite() { StartServer("https", "tls"); }
  static void TearDownTestSuite() { StopServer(); }

  static std::wstring Url() { return HttpServerTest::Url("/reply?code=200&body=%3CStatus%3ESUCCESS%3CServerStatus%3E1"); }
};

constexpr DWORD kCertificatePromptFlags =
    FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;

TEST_F(InetCertificateTest, DeclinedCertificateEndsTheRequest) {
  g_prompts.answer = ERROR_CANCELLED;
  CInetRequest request;
  EXPECT_EQ(UINT(IDS_SEND_ERR_CERTIFICATE), request.Open(nullptr, Url().c_str()));
  ASSERT_EQ(1u, g_prompts.errors.size());
  EXPECT_EQ(DWORD(ERROR_INTERNET_INVALID_CA), g_prompts.errors[0]);
  EXPECT_EQ(kCertificatePromptFlags, g_prompts.flags[0]);
  EXPECT_EQ(DWORD(ERROR_INTERNET_INVALID_CA), request.ErrorCode());
}

TEST_F(InetCertificateTest, AcceptedCertificateIsSentAgain) {
  g_prompts.answer = ERROR_SUCCESS;
  g_prompts.securityFlagsToAdd =
      SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  CInetRequest request;
  EXPECT_EQ(0u, request.Open(nullptr, Url().c_str()));
  EXPECT_FALSE(g_prompts.errors.empty());
}

TEST_F(InetCertificateTest, AcceptingWithoutChangeDoesNotLoopForever) {
  g_prompts.answer = ERROR_SUCCESS;
  CInetRequest request;
  EXPECT_EQ(UINT(IDS_SEND_ERR_CERTIFICATE), request.Open(nullptr, Url().c_str()));
  EXPECT_GT(g_prompts.errors.size(), 1u);
}

}  // namespace
