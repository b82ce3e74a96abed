#include "net/RemoteServer.h"

#include <cwchar>
#include <new>

#include "core/AppConfig.h"
#include "core/StrUtil.h"

CRemoteServerList g_remoteServers;

namespace {

// Any fixed value below 256 serves; it only keeps passwords from being read
// at a glance in the ini file.
constexpr wchar_t kPasswordShift = 0x4B;
// Base64 characters that decode to at most 255 bytes (the decoder needs one
// byte of room beyond the data).
constexpr size_t kMaxScrambledChars = 340;
constexpr size_t kMaxDecodedBytes = 256;
constexpr size_t kMaxEncodedChars = 255;

constexpr wchar_t kScrambledMark = L'!';
constexpr wchar_t kSchemeSeparator[] = L"://";
constexpr wchar_t kSchemeFtp[] = L"ftp";
constexpr wchar_t kSchemeSftp[] = L"sftp";
constexpr unsigned long kMaxPort = 65535;

const wchar_t* SchemeName(uint16_t protocol) {
  switch (protocol) {
    case kProtocolFtp:
      return kSchemeFtp;
    case kProtocolSftp:
      return kSchemeSftp;
    default:
      return L"";
  }
}

bool SameNoCase(const CString& left, const CString& right) { return left.CompareNoCase(right.c_str()) == 0; }

// Protocol of a scheme name given by pointer and length; kProtocolNone when unknown.
uint16_t ProtocolOfScheme(const wchar_t* scheme, size_t length) {
  if (length == 3 && _wcsnicmp(scheme, kSchemeFtp, length) == 0) return kProtocolFtp;
  if (length == 4 && _wcsnicmp(scheme, kSchemeSftp, length) == 0) return kProtocolSftp;
  return kProtocolNone;
}

// A decimal port of 1 to 5 digits up to 65535; empty text is port 0.
bool ParsePort(const wchar_t* text, size_t length, uint16_t* port) {
  unsigned long value = 0;
  if (length > 5) return false;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    value = value * 10 + static_cast<unsigned long>(text[i] - L'0');
  }
  if (value > kMaxPort) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

const wchar_t* FindIn(const wchar_t* begin, const wchar_t* end, wchar_t ch) {
  for (const wchar_t* p = begin; p < end; ++p) {
    if (*p == ch) return p;
  }
  return nullptr;
}

}  // namespace

CRemoteServer::CRemoteServer(const wchar_t* hostText, uint16_t protocolValue, uint16_t portValue,
                             const wchar_t* pathText, const wchar_t* userText, const wchar_t* passwordText)
    : host(hostText), protocol(protocolValue), port(portValue) {
  if (pathText && pathText[0] == L'/') {
    path = pathText;
  } else {
    path = L"/";
    if (pathText) path += pathText;
  }
  if (!userText || !userText[0]) {
    anonymous = 1;
    return;
  }
  user = userText;
  if (passwordText && passwordText[0]) password = passwordText;
}

CString CRemoteServer::GetUrl() const {
  CString url;
  url.Format(L"%s://%s%s", SchemeName(protocol), host.c_str(), path.c_str());
  return url;
}

CString CRemoteServer::GetIniString() const {
  CString text;
  if (anonymous || user.IsEmpty()) {
    text.Format(L"!%s://%s:%hu%s", SchemeName(protocol), host.c_str(), port, path.c_str());
  } else {
    const CString scrambled = ScramblePassword(password.c_str());
    text.Format(L"!%s://%s:%s@%s:%hu%s", SchemeName(protocol), user.c_str(), scrambled.c_str(), host.c_str(), port,
                path.c_str());
  }
  if (text.GetLength() >= kRemoteIniTextChars) text.Empty();
  return text;
}

bool CRemoteServer::Equals(const CRemoteServer& other) const {
  if (!SameNoCase(host, other.host) || !SameNoCase(path, other.path)) return false;
  if (protocol != other.protocol || port != other.port) return false;
  if (anonymous || other.anonymous) return anonymous && other.anonymous;
  return SameNoCase(user, other.user) && password == other.password;
}

int CInetUrl::NormalizePath(CRemoteServer& entry) {
  if (entry.host.IsEmpty() || entry.protocol > kProtocolSftp) return 0;
  if (entry.path.IsEmpty() || entry.path.c_str()[0] != L'/') {
    CString rooted(L"/");
    rooted += entry.path.c_str();
    entry.path = rooted;
  }
  const size_t length = entry.path.GetLength();
  if (length > 1 && entry.path.c_str()[length - 1] != L'/') entry.path += L"/";
  if (entry.port == 0) entry.port = entry.protocol == kProtocolFtp ? kFtpDefaultPort : kSftpDefaultPort;
  if (entry.anonymous) {
    entry.user.Empty();
    entry.password.Empty();
  } else if (entry.user.IsEmpty()) {
    return 0;
  }
  return 1;
}

CRemoteServer* CInetUrl::Parse(const wchar_t* text) {
  if (!text) return nullptr;
  const bool scrambled = text[0] == kScrambledMark;
  if (scrambled) ++text;
  const wchar_t* separator = std::wcsstr(text, kSchemeSeparator);
  if (!separator) return nullptr;
  const uint16_t protocol = ProtocolOfScheme(text, static_cast<size_t>(separator - text));
  if (protocol == kProtocolNone) return nullptr;

  const wchar_t* rest = separator + (sizeof(kSchemeSeparator) / sizeof(wchar_t) - 1);
  const wchar_t* end = rest + std::wcslen(rest);
  CString user;
  CString password;
  if (const wchar_t* at = FindIn(rest, end, L'@')) {
    const wchar_t* colon = FindIn(rest, at, L':');
    user.Assign(rest, static_cast<size_t>((colon ? colon : at) - rest));
    if (colon) {
      const size_t length = static_cast<size_t>(at - colon - 1);
      if (scrambled) {
        password = UnscramblePassword(colon + 1, length);
      } else {
        password.Assign(colon + 1, length);
      }
    }
    rest = at + 1;
  }
  const wchar_t* slash = FindIn(rest, end, L'/');
  const wchar_t* hostEnd = slash ? slash : end;
  const wchar_t* portMark = FindIn(rest, hostEnd, L':');
  uint16_t port = 0;
  if (portMark && !ParsePort(portMark + 1, static_cast<size_t>(hostEnd - portMark - 1), &port)) return nullptr;
  const CString host(rest, static_cast<size_t>((portMark ? portMark : hostEnd) - rest));
  if (host.IsEmpty()) return nullptr;
  // The constructor puts the leading "/" back.
  const wchar_t* path = slash ? slash + 1 : L"";
  return new (std::nothrow) CRemoteServer(host.c_str(), protocol, port, path, user.c_str(), password.c_str());
}

CString ScramblePassword(const wchar_t* password) {
  const size_t length = password ? std::wcslen(password) : 0;
  if (length == 0 || length > kMaxStoredPasswordChars) return CString();
  uint8_t bytes[kMaxStoredPasswordChars * sizeof(wchar_t)];
  for (size_t i = 0; i < length; ++i) {
    const auto unit = static_cast<wchar_t>(password[i] + kPasswordShift);
    bytes[2 * i] = static_cast<uint8_t>(unit & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
  }
  char encoded[kMaxEncodedChars + 2];
  const size_t chars = Base64Encode(bytes, length * sizeof(wchar_t), encoded, sizeof(encoded));
  CString text;
  wchar_t* out = text.GetBuffer(chars);
  if (!out) return CString();
  for (size_t i = 0; i < chars; ++i) out[i] = static_cast<unsigned char>(encoded[i]);
  text.ReleaseBuffer(static_cast<ptrdiff_t>(chars));
  return text;
}

CString UnscramblePassword(const wchar_t* text, size_t length) {
  if (!text || length == 0) return CString();
  if (length > kMaxScrambledChars) length = kMaxScrambledChars;
  uint8_t bytes[kMaxDecodedBytes];
  const size_t decoded = Base64Decode(text, length, bytes, sizeof(bytes));
  const size_t units = decoded / sizeof(wchar_t);
  wchar_t plain[kMaxDecodedBytes / sizeof(wchar_t) + 1];
  for (size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    plain[i] = static_cast<wchar_t>(unit - kPasswordShift);
  }
  return CString(plain, units);
}

int CRemoteServerList::AddUnique(CRemoteServer* entry) {
  if (!entry) return 0;
  for (size_t i = 0; i < m_entries.Count(); ++i) {
    if (m_entries[i]->Equals(*entry)) {
      delete entry;
      return 0;
    }
  }
  return m_entries.Append(entry);
}

void CRemoteServerList::LoadFromIni(const CIniTextList& texts) {
  Clear();
  for (size_t i = 0; i < texts.Count(); ++i) AddUnique(CInetUrl::Parse(texts[i]));
}

void CRemoteServerList::SaveToIni(CIniTextList& texts) const {
  texts.Clear();
  const size_t count = m_entries.Count();
  const size_t first = count > kMaxIniListEntries ? count - kMaxIniListEntries : 0;
  for (size_t i = first; i < count; ++i) {
    const CString text = m_entries[i]->GetIniString();
    if (!text.IsEmpty()) texts.Append(text.c_str());
  }
}
