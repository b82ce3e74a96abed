// The remote file dialog's rules that need no window: walking the server
// entry's path into a folder and back up, and the dialog's title.
#pragma once

#include <windows.h>

#include "core/RefString.h"

class CRemoteServer;
struct CFtpFileEntry;

constexpr wchar_t kRemoteFileTitle[] = L"Remote File";
constexpr wchar_t kParentFolderName[] = L"..";

// Going up: the path is cut before its last "/", looking from the character
// before the last one so that a trailing "/" is passed over. 0 (path as it
// was) when there is no such "/", as at the root.
int RemotePathUp(CString& path);
// The path after opening the folder entry `name`: ".." goes up, any other
// name is appended. 0 when nothing changed. Normalising the entry
// (CInetUrl::NormalizePath) then restores the trailing "/".
int RemoteOpenFolder(CString& path, const wchar_t* name);
// "Remote File" alone (jobTextId 0), or "Remote File - " and the job's text
// (61487 or 61488) formatted with `argument`.
CString RemoteFileTitle(UINT jobTextId, const wchar_t* argument);
// The cells of one listing row: the name, "<>" or the size text, and the
// modified time (empty for "..").
void RemoteFileCells(const CFtpFileEntry& entry, CString* size, CString* modified);
