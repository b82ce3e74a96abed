// The HTTP exchange with the log server.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/StrUtil.h"
#include "core/SysUtil.h"
#include "net/Inet.h"
#include "res/resource.h"

namespace {

constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kCertificatePromptFlags =
    FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
constexpr DWORD kAuthPromptFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS;
constexpr char kPostVerb[] = "POST";
constexpr char kBodyHeaders[] = "Content-Type: application/octet-stream\r\nContent-Length: %u\r\n";
constexpr size_t kHeaderChars = 128;
constexpr size_t kStatusTextBytes = 256;
constexpr DWORD kStatusOk = 200;
constexpr DWORD kStatusUnauthorized = 401;
constexpr DWORD kStatusForbidden = 403;
constexpr DWORD kStatusProxyAuth = 407;
// A prompt that keeps saying "retry" while nothing changes would otherwise
// send the same request forever.
constexpr int kMaxPrompts = 16;
constexpr size_t kDrainChunk = 4096;

constexpr char kStatusTag[] = "<Status>";
constexpr char kServerStatusTag[] = "<ServerStatus>";
constexpr char kSuccess[] = "SUCCESS";
constexpr unsigned long kServerAccepts = 1;

bool IsCertificateError(DWORD error) {
  return error == ERROR_INTERNET_SEC_CERT_DATE_INVALID || error == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
         error == ERROR_INTERNET_INVALID_CA || error == ERROR_INTERNET_SEC_CERT_REV_FAILED;
}

const char* SkipSpaces(const char* text) {
  while (*text == ' ') ++text;
  return text;
}

// Reads and drops what is left of a reply, so the request can be sent again
// on the same connection.
void DrainReply(HINTERNET request) {
  char chunk[kDrainChunk];
  DWORD read = 0;
  while (InternetReadFile(request, chunk, sizeof(chunk), &read) && read != 0) {
  }
}

}  // namespace

UINT CheckStatusReply(const char* reply, int checkServer) {
  const UINT refused = checkServer ? IDS_SEND_ERR_SERVER_BUSY : IDS_SEND_ERR_HTTP;
  const char* status = reply ? std::strstr(reply, kStatusTag) : nullptr;
  if (!status) return refused;
  status = SkipSpaces(status + sizeof(kStatusTag) - 1);
  if (std::strncmp(status, kSuccess, sizeof(kSuccess) - 1) != 0) return refused;
  if (!checkServer) return 0;
  const char* server = std::strstr(reply, kServerStatusTag);
  if (!server) return IDS_SEND_ERR_SERVER_BUSY;
  server = SkipSpaces(server + sizeof(kServerStatusTag) - 1);
  char* end = nullptr;
  const unsigned long value = std::strtoul(server, &end, 10);
  return end != server && value == kServerAccepts ? 0 : IDS_SEND_ERR_SERVER_BUSY;
}

UINT CInetRequest::OpenHttpRequest(const wchar_t* url, const char* verb) {
  m_request.Close();
  m_connection.Close();
  char utf8[kMaxUrlBytes];
  if (!url || !WideCharToMultiByte(CP_UTF8, 0, url, -1, utf8, sizeof(utf8), nullptr, nullptr)) {
    m_error = url ? GetLastError() : ERROR_INVALID_PARAMETER;
    return IDS_SEND_ERR_WIN32;
  }
  // Lengths of 1 with null pointers ask for pointers into utf8.
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlA(utf8, 0, 0, &parts)) {
    m_error = GetLastError();
    return IDS_SEND_ERR_INTERNET;
  }
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if ((parts.nScheme != INTERNET_SCHEME_HTTP && !secure) || !parts.lpszHostName || !parts.dwHostNameLength ||
      !parts.lpszUrlPath || !parts.dwUrlPathLength) {
    m_error = ERROR_INTERNET_INVALID_URL;
    return IDS_SEND_ERR_INTERNET;
  }
  const std::string host(parts.lpszHostName, parts.dwHostNameLength);
  std::string path(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  m_connection.Reset(InternetConnectA(g_inetSession.get(), host.c_str(), parts.nPort, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0));
  if (!m_connection) {
    m_error = GetLastError();
    return IDS_SEND_ERR_INTERNET;
  }
  const DWORD flags = kOpenFlags | (secure ? INTERNET_FLAG_SECURE : 0);
  m_request.Reset(HttpOpenRequestA(m_connection.get(), verb, path.c_str(), nullptr, nullptr, nullptr, flags, 0));
  if (!m_request) {
    m_error = GetLastError();
    return IDS_SEND_ERR_INTERNET;
  }
  // Wine keeps send and receive time-outs per request, not per session.
  DWORD timeout = kInetTimeoutMs;
  for (DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionW(m_request.get(), option, &timeout, sizeof(timeout));
  }
  return 0;
}

UINT CInetRequest::SendRequest(HWND promptWindow, const void* body, DWORD length) {
  char headers[kHeaderChars] = "";
  DWORD headerLength = 0;
  if (body) {
    const int written = StrPrintfA(headers, sizeof(headers), kBodyHeaders, static_cast<unsigned>(length));
    headerLength = written > 0 ? static_cast<DWORD>(written) : 0;
  }
  for (int prompts = 0;; ++prompts) {
    if (!HttpSendRequestA(m_request.get(), headerLength ? headers : nullptr, headerLength, const_cast<void*>(body),
                          body ? length : 0)) {
      const DWORD error = GetLastError();
      m_error = error;
      if (error == ERROR_INTERNET_TIMEOUT) return IDS_SEND_ERR_TIMEOUT;
      if (!IsCertificateError(error)) return IDS_SEND_ERR_INTERNET;
      if (prompts == kMaxPrompts) return IDS_SEND_ERR_CERTIFICATE;
      const UINT refused = OnCertificateError(promptWindow, error);
      if (refused) return refused;
      continue;
    }
    char text[kStatusTextBytes];
    DWORD size = sizeof(text) - 1;
    if (!HttpQueryInfoA(m_request.get(), HTTP_QUERY_STATUS_CODE, text, &size, nullptr)) {
      m_error = GetLastError();
      return IDS_SEND_ERR_INTERNET;
    }
    text[size < sizeof(text) ? size : sizeof(text) - 1] = '\0';
    const auto status = static_cast<DWORD>(std::strtoul(text, nullptr, 10));
    if (status == kStatusOk) return 0;
    m_error = status;
    if (status != kStatusUnauthorized && status != kStatusForbidden && status != kStatusProxyAuth) {
      return IDS_SEND_ERR_HTTP;
    }
    if (prompts == kMaxPrompts) return IDS_SEND_ERR_PROXY_AUTH;
    const UINT refused = OnAuthStatus(promptWindow, status);
    if (refused) return refused;
    DrainReply(m_request.get());
  }
}

UINT CInetRequest::OnCertificateError(HWND promptWindow, DWORD error) {
  const DWORD answer = g_inetErrorDlg(promptWindow, m_request.get(), error, kCertificatePromptFlags, nullptr);
  if (answer != ERROR_SUCCESS) {
    m_error = error;
    return IDS_SEND_ERR_CERTIFICATE;
  }
  if (error == ERROR_INTERNET_SEC_CERT_REV_FAILED) {
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (!InternetQueryOptionA(m_request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) flags = 0;
    flags |= SECURITY_FLAG_IGNORE_REVOCATION;
    InternetSetOptionA(m_request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
  }
  return 0;
}

UINT CInetRequest::OnAuthStatus(HWND promptWindow, DWORD status) {
  const DWORD answer =
      g_inetErrorDlg(promptWindow, m_request.get(), ERROR_INTERNET_INCORRECT_PASSWORD, kAuthPromptFlags, nullptr);
  if (answer == ERROR_INTERNET_FORCE_RETRY) return 0;
  m_error = status;
  return IDS_SEND_ERR_PROXY_AUTH;
}

UINT CInetRequest::ReadStatusReply(int checkServer) {
  // Read until the reply ends or the buffer is full: one read may return
  // only the first packet.
  char reply[kMaxReplyBytes + 1];
  DWORD total = 0;
  while (total < kMaxReplyBytes) {
    DWORD read = 0;
    if (!InternetReadFile(m_request.get(), reply + total, static_cast<DWORD>(kMaxReplyBytes - total), &read) ||
        read == 0) {
      break;
    }
    total += read;
  }
  reply[total] = '\0';
  return CheckStatusReply(reply, checkServer);
}

UINT CInetRequest::Open(HWND promptWindow, const wchar_t* url) {
  UINT result = OpenHttpRequest(url, nullptr);
  if (!result) result = SendRequest(promptWindow, nullptr, 0);
  if (!result) result = ReadStatusReply(1);
  return result;
}

UINT CInetRequest::Post(HWND promptWindow, const wchar_t* url, const void* body, DWORD length) {
  UINT result = OpenHttpRequest(url, kPostVerb);
  if (!result) result = SendRequest(promptWindow, body, length);
  if (!result) result = ReadStatusReply(0);
  return result;
}

void CInetRequest::Reset() {
  m_error = 0;
  Disconnect();
}
