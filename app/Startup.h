#pragma once
// Start-up pieces that do not need the main window: the command-line switch
// of remote-server mode, the single-instance check with its hand-over to the
// running viewer, and the file associations.
#include <windows.h>

#include "net/RemoteProtocol.h"

#include <string>

// Fixed for good: a second start finds the first one by these names.
inline constexpr wchar_t kSingleInstanceEventName[] = L"KELTRA_{6F1C2A4E-93B7-4D5A-A8E2-1C7B95D3F042}";
inline constexpr wchar_t kGlobalSingleInstanceEventName[] =
    L"Global\\KELTRA_{6F1C2A4E-93B7-4D5A-A8E2-1C7B95D3F042}";
inline constexpr wchar_t kMainFrameClassName[] = L"KELTRA_{B2D84E17-5C3A-4F69-9E0B-7A41C6D2E853}";

inline constexpr ULONG_PTR kHandOverCopyDataId = 1234;
inline constexpr wchar_t kHandOverMark = L'!';

inline constexpr wchar_t kFileTypeProgId[] = L"Keltracer";
inline constexpr wchar_t kFileTypeDescription[] = L"Talmo unified trace";

// Listen port of remote-server mode named by "-c [port]" or "/C [port]":
// 0 for viewer mode, kRemoteDefaultPort when no port (or port 0) is given,
// -1 when the number is above 65535 (it is refused, not wrapped). What
// follows the digits is ignored.
int ParseRemotePort(const wchar_t* commandLine);

// The longest command line a second start hands over: a full path and more.
inline constexpr size_t kMaxHandOverChars = 32767;

// "!" followed by the command line, as UTF-16 with its terminator; the text
// is cut at kMaxHandOverChars.
std::wstring MakeHandOverText(const wchar_t* commandLine);

// Reads the text of a WM_COPYDATA hand-over (dwData 1234) within cbData
// bytes: any process can send one, so the terminator is never trusted.
// Returns false when the data is not "!"-marked wide text.
bool ReadHandOverText(const COPYDATASTRUCT* data, std::wstring* commandLine);

struct SingleInstanceTiming {
    DWORD findWindowForMs = 5000;  // how long a second start looks for the first one's window
    DWORD findIntervalMs = 100;
    UINT sendTimeoutMs = 5000;  // a hung first instance must not hang the second
};

// Creates the single-instance event. Returns it when this is the first
// instance; otherwise brings the running viewer (or remote server) forward,
// hands the command line to a viewer, and returns null.
HANDLE CheckSingleInstance(SECURITY_ATTRIBUTES* attributes, const wchar_t* commandLine,
                           const SingleInstanceTiming& timing = {});

// Associates an extension with the ProgID under HKEY_CLASSES_ROOT. With
// makeDefault 0 an extension that is already associated is left alone.
// Registry failures are silent, as a missing association only costs the
// double click.
void RegisterFileType(int makeDefault, const wchar_t* extension, const wchar_t* programPath,
                      const wchar_t* progId, const wchar_t* description);
