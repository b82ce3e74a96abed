#include "app/Startup.h"

#include "core/Handle.h"
#include "core/RefString.h"
#include "res/resource.h"

#include <cstring>

std::wstring MakeHandOverText(const wchar_t* commandLine) {
    std::wstring text(1, kHandOverMark);
    if (commandLine) {
        text.append(commandLine, wcsnlen(commandLine, kMaxHandOverChars));
    }
    return text;
}

bool ReadHandOverText(const COPYDATASTRUCT* data, std::wstring* commandLine) {
    if (!data || data->dwData != kHandOverCopyDataId || !data->lpData || data->cbData < sizeof(wchar_t)) {
        return false;
    }
    const size_t limit = data->cbData / sizeof(wchar_t);
    const wchar_t* text = static_cast<const wchar_t*>(data->lpData);
    // The sender's buffer may be unaligned; copy before reading characters.
    std::wstring copy(limit, L'\0');
    std::memcpy(copy.data(), text, limit * sizeof(wchar_t));
    copy.resize(wcsnlen(copy.c_str(), limit));
    if (copy.empty() || copy[0] != kHandOverMark) {
        return false;
    }
    commandLine->assign(copy, 1, std::wstring::npos);
    return true;
}

namespace {

void BringForward(HWND window) {
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    SetForegroundWindow(window);
}

void HandOver(HWND viewer, const wchar_t* commandLine, UINT timeoutMs) {
    const std::wstring text = MakeHandOverText(commandLine);
    COPYDATASTRUCT data = {};
    data.dwData = kHandOverCopyDataId;
    data.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(text.c_str());
    DWORD_PTR result = 0;
    SendMessageTimeoutW(viewer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                        timeoutMs, &result);
}

// The first instance creates its event before its window: a second start in
// that gap keeps looking for a while instead of dropping its command line.
bool FindRunningInstance(const SingleInstanceTiming& timing, HWND* viewer, HWND* server) {
    CString serverCaption;
    serverCaption.LoadString(IDS_REMOTE_SERVER_CAPTION);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        *viewer = FindWindowW(kMainFrameClassName, nullptr);
        *server = *viewer ? nullptr : FindWindowW(nullptr, serverCaption.c_str());
        if (*viewer || *server) {
            return true;
        }
        if (GetTickCount64() - start >= timing.findWindowForMs) {
            return false;
        }
        Sleep(timing.findIntervalMs);
    }
}

}  // namespace

HANDLE CheckSingleInstance(SECURITY_ATTRIBUTES* attributes, const wchar_t* commandLine,
                           const SingleInstanceTiming& timing) {
    CHandle event(CreateEventW(attributes, FALSE, FALSE, kSingleInstanceEventName));
    if (!event.valid()) {
        return nullptr;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        return event.release();
    }
    event.reset();
    HWND viewer = nullptr;
    HWND server = nullptr;
    if (!FindRunningInstance(timing, &viewer, &server)) {
        return nullptr;
    }
    if (viewer) {
        BringForward(viewer);
        // A remote-server command line names no file for the viewer.
        if (commandLine && *commandLine && ParseRemotePort(commandLine) == 0) {
            HandOver(viewer, commandLine, timing.sendTimeoutMs);
        }
    } else {
        // A remote server takes no files.
        BringForward(server);
    }
    return nullptr;
}
