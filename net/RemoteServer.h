// Remote file server entries as the user types them in the remote file
// dialog, their text form in the ini file, and the remembered list of them.
// Touched only on the user-interface thread (jobs get a copy to read).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "core/RefString.h"
#include "net/OwnedList.h"

class CIniTextList;

constexpr uint16_t kProtocolFtp = 0;
constexpr uint16_t kProtocolSftp = 1;
constexpr uint16_t kProtocolNone = 255;
constexpr uint16_t kFtpDefaultPort = 21;
constexpr uint16_t kSftpDefaultPort = 22;

// Longest password whose scrambled form fits the ini field (255 characters
// of Base64); a longer one is written with an empty password field.
constexpr size_t kMaxStoredPasswordChars = 94;
// Longest ini text of one entry, terminator excluded.
constexpr size_t kRemoteIniTextChars = 512;

class CRemoteServer {
 public:
  // The default entry: empty strings, protocol none, port 0, named.
  CRemoteServer() = default;
  // A path that is empty or lacks its leading "/" gets one; an empty user
  // makes the entry anonymous (user and password cleared).
  CRemoteServer(const wchar_t* host, uint16_t protocol, uint16_t port, const wchar_t* path, const wchar_t* user,
                const wchar_t* password);

  // "ftp://host/path" ("sftp" for SFTP, no scheme name for others).
  CString GetUrl() const;
  // The entry's ini text; empty when it would not fit 511 characters.
  CString GetIniString() const;
  // Same server: host and path without regard to case, protocol, port, and
  // both anonymous or both named with the same user (case aside) and the
  // same password (case counts: it is a secret, not a name).
  bool Equals(const CRemoteServer& other) const;

  CString host;
  CString path = L"/";
  uint16_t protocol = kProtocolNone;
  uint16_t port = 0;
  uint32_t anonymous = 0;
  CString user;
  CString password;
};

// Text form of entries: parsing and normalising.
class CInetUrl {
 public:
  // Refuses (0) an empty host or an unknown protocol; makes the path start
  // with "/" and end with "/" (unless it is "/"), gives port 0 the protocol's
  // default, and clears the credentials of an anonymous entry; a named entry
  // without a user is refused. 1 when the entry is usable.
  static int NormalizePath(CRemoteServer& entry);
  // The entry an ini text describes, or null (unknown scheme, empty host,
  // bad port). The caller owns the result.
  static CRemoteServer* Parse(const wchar_t* text);
};

// Password field of the ini form: each code unit raised by the program's
// constant, the UTF-16LE bytes in Base64. Empty for an empty password or one
// longer than kMaxStoredPasswordChars.
CString ScramblePassword(const wchar_t* password);
// The inverse; decodes at most 256 bytes of Base64. Bad input gives what it
// decodes to, never more than 128 characters.
CString UnscramblePassword(const wchar_t* text, size_t length);

// The remembered servers, oldest first; owns its entries.
class CRemoteServerList {
 public:
  // Takes ownership of entry. 1 when appended; 0 for null, for an entry equal
  // to a listed one (the new one is deleted) or when memory runs out.
  int AddUnique(CRemoteServer* entry);
  size_t Count() const { return m_entries.Count(); }
  const CRemoteServer* operator[](size_t index) const { return m_entries[index]; }
  void Clear() { m_entries.Clear(); }

  // Replaces the list by the entries of the ini texts (parsed, duplicates
  // dropped); texts that do not parse are passed over.
  void LoadFromIni(const CIniTextList& texts);
  // Replaces the texts by the newest 20 entries' ini texts, oldest first;
  // entries whose text would not fit are left out.
  void SaveToIni(CIniTextList& texts) const;

 private:
  COwnedList<CRemoteServer> m_entries;
};

extern CRemoteServerList g_remoteServers;

// Names of the temporary files that downloads are written to:
// "kelrmt_MMDDYYYY_HHMMSS" from the current UTC time and the remote name's
// extension, placed after folder in output. Only an extension of letters,
// digits, "_" and "-" (at most 15 of them) is kept: the name comes from the
// server. 0 when it does not fit.
constexpr size_t kMaxRemoteExtChars = 15;
int MakeRemoteTempName(const wchar_t* remoteName, const wchar_t* folder, wchar_t* output, size_t outputSize);
// The same from a given time (UTC).
int MakeRemoteTempName(const wchar_t* remoteName, const wchar_t* folder, const SYSTEMTIME& time, wchar_t* output,
                       size_t outputSize);
// Deletes every file (not folder) named "kelrmt_*" in the folder (which ends
// with a separator or is empty for the current folder). Returns how many.
size_t DeleteRemoteTempFiles(const wchar_t* folder);
