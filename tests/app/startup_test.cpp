#include "app/Startup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "tests/app/FrameFixture.h"
#include "tests/core/TempFolder.h"

namespace {

TEST(ParseRemotePort, SwitchAndPortTable) {
    struct Case {
        const wchar_t* line;
        int port;
    } const cases[] = {
        {nullptr, 0},
        {L"", 0},
        {L"c:\\logs\\a.ktr", 0},
        {L"-x", 0},
        {L"c", 0},
        {L"-c", 6000},
        {L"/C", 6000},
        {L"-c   \t", 6000},
        {L"-c 0", 6000},
        {L"-c7000", 7000},
        {L"-C 7001", 7001},
        {L"/c\t65535", 65535},
        {L"-c 1", 1},
        {L"-cx", 6000},
        {L"-c 7000 trailing", 7000},
        {L"-c +80", 80},
        // Refused rather than wrapped to a port nobody asked for.
        {L"-c 65536", -1},
        {L"-c 70000", -1},
        {L"-c 99999999999999999999", -1},
        {L"-c -5", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseRemotePort(c.line), c.port) << (c.line ? c.line : L"(null)");
    }
}

COPYDATASTRUCT CopyData(ULONG_PTR id, const void* bytes, DWORD size) {
    COPYDATASTRUCT data = {};
    data.dwData = id;
    data.cbData = size;
    data.lpData = const_cast<void*>(bytes);
    return data;
}

TEST(HandOver, TextRoundTripsAndKeepsLongPaths) {
    std::wstring path = L"C:\\";
    path.append(600, L'd');
    path += L"\\trace.ktr";
    const std::wstring text = MakeHandOverText(path.c_str());
    EXPECT_EQ(text, L"!" + path);
    const COPYDATASTRUCT data =
        CopyData(kHandOverCopyDataId, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    std::wstring read;
    ASSERT_TRUE(ReadHandOverText(&data, &read));
    EXPECT_EQ(read, path);
}

TEST(HandOver, ReadsWithinTheSentBytesOnly) {
    // Unterminated text against a no-access page: reading past cbData faults.
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    auto* base = static_cast<BYTE*>(VirtualAlloc(nullptr, info.dwPageSize * 2, MEM_RESERVE | MEM_COMMIT,
                                                 PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(base + info.dwPageSize, info.dwPageSize, PAGE_NOACCESS, &old));
    const wchar_t sent[] = {L'!', L'a', L'.', L'k', L't', L'r'};
    BYTE* at = base + info.dwPageSize - sizeof(sent);
    memcpy(at, sent, sizeof(sent));

    struct Case {
        ULONG_PTR id;
        DWORD bytes;
        bool ok;
        const wchar_t* text;
    } const cases[] = {
        {kHandOverCopyDataId, sizeof(sent), true, L"a.ktr"},
        {kHandOverCopyDataId, sizeof(sent) - 1, true, L"a.kt"},  // an odd byte count drops the half character
        {kHandOverCopyDataId, 2, true, L""},
        {kHandOverCopyDataId, 1, false, nullptr},
        {kHandOverCopyDataId, 0, false, nullptr},
        {7, sizeof(sent), false, nullptr},
    };
    for (const Case& c : cases) {
        const COPYDATASTRUCT data = CopyData(c.id, at, c.bytes);
        std::wstring read = L"untouched";
        EXPECT_EQ(ReadHandOverText(&data, &read), c.ok) << c.bytes;
        if (c.ok) {
            EXPECT_EQ(read, c.text);
        }
    }
    const wchar_t noMark[] = L"a.ktr";
    const COPYDATASTRUCT plain = CopyData(kHandOverCopyDataId, noMark, sizeof(noMark));
    std::wstring read;
    EXPECT_FALSE(ReadHandOverText(&plain, &read));
    VirtualFree(base, 0, MEM_RELEASE);
}

// A stand-in for the running viewer: a window of the frame's class that
// records what a second start hands over.
struct FakeViewer {
    static std::vector<std::wstring>* received;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COPYDATA) {
            std::wstring text;
            if (ReadHandOverText(reinterpret_cast<COPYDATASTRUCT*>(lParam), &text)) {
                received->push_back(text);
            }
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
};
std::vector<std::wstring>* FakeViewer::received = nullptr;

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        first_ = CheckSingleInstance(nullptr, L"");
        ASSERT_NE(first_, nullptr) << "another instance holds the event in this prefix";
        WNDCLASSW wc = {};
        wc.lpfnWndProc = FakeViewer::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kMainFrameClassName;
        RegisterClassW(&wc);
        FakeViewer::received = &received_;
    }
    void TearDown() override {
        if (viewer_) {
            DestroyWindow(viewer_);
        }
        UnregisterClassW(kMainFrameClassName, GetModuleHandleW(nullptr));
        CloseHandle(first_);
    }
    void CreateViewer() {
        viewer_ = CreateWindowW(kMainFrameClassName, L"viewer", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(viewer_, nullptr);
    }
    HANDLE first_ = nullptr;
    HWND viewer_ = nullptr;
    std::vector<std::wstring> received_;
};

TEST_F(SingleInstance, SecondStartHandsItsCommandLineToTheViewer) {
    CreateViewer();
    EXPECT_EQ(CheckSingleInstance(nullptr, L"C:\\traces\\a b.ktr"), nullptr);
    EXPECT_EQ(CheckSingleInstance(nullptr, L""), nullptr);  // brought forward, nothing to open
    // A remote-server command line names no file for the viewer.
    EXPECT_EQ(CheckSingleInstance(nullptr, L"-c 7001"), nullptr);
    EXPECT_EQ(CheckSingleInstance(nullptr, L"/C"), nullptr);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0], L"C:\\traces\\a b.ktr");
}

TEST_F(SingleInstance, SecondStartWaitsForAWindowThatComesLate) {
    // The viewer's window appears only after the second start began looking
    // (the gap between the first instance's event and its window); the second
    // start runs on another thread so this one can create the window.
    // The hand-over gives up on a window whose thread has not looked at its
    // queue for seconds (a hung viewer); this thread has just been busy with
    // other tests, so it looks once now.
    MSG peeked;
    PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE);
    struct Second {
        static DWORD WINAPI Run(void*) {
            SingleInstanceTiming timing;
            timing.findWindowForMs = 10000;
            timing.findIntervalMs = 20;
            return CheckSingleInstance(nullptr, L"late.ktr", timing) == nullptr ? 0 : 1;
        }
    };
    HANDLE second = CreateThread(nullptr, 0, Second::Run, nullptr, 0, nullptr);
    Sleep(300);
    CreateViewer();
    // Pump until the second start has delivered.
    while (MsgWaitForMultipleObjects(1, &second, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
    }
    DWORD code = 99;
    GetExitCodeThread(second, &code);
    EXPECT_EQ(code, 0u);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0], L"late.ktr");
    CloseHandle(second);
}

TEST_F(SingleInstance, NoWindowAtAllGivesUpAfterItsWait) {
    SingleInstanceTiming timing;
    timing.findWindowForMs = 200;
    timing.findIntervalMs = 20;
    EXPECT_EQ(CheckSingleInstance(nullptr, L"lost.ktr", timing), nullptr);
    EXPECT_TRUE(received_.empty());
}

// A frame that was opened and closed in this process leaves the class name
// free: the next viewer window under it (here the stand-in) gets the
// hand-over, and a frame opened after that one works again.
TEST(SingleInstanceAfterFrame, AClosedFrameLeavesTheNameToTheNextViewer) {
    TempFolder temp(L"ktafterframe");
    frame_test::LoadConfig(temp.path());
    CMessageLoop loop;
    CMainFrame* frame = frame_test::StartFrame(400, 300);
    ASSERT_NE(frame, nullptr);
    frame_test::CloseFrame(frame);
    delete frame;
    WNDCLASSEXW info = {sizeof(info)};
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), kMainFrameClassName, &info));

    HANDLE first = CheckSingleInstance(nullptr, L"");
    ASSERT_NE(first, nullptr) << "another instance holds the event in this prefix";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FakeViewer::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kMainFrameClassName;
    const ATOM fake = RegisterClassW(&wc);
    EXPECT_NE(fake, 0);
    std::vector<std::wstring> received;
    FakeViewer::received = &received;
    HWND viewer = CreateWindowW(kMainFrameClassName, L"viewer", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(CheckSingleInstance(nullptr, L"after.ktr"), nullptr);
    DestroyWindow(viewer);
    UnregisterClassW(kMainFrameClassName, GetModuleHandleW(nullptr));
    CloseHandle(first);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], L"after.ktr");

    frame = frame_test::StartFrame(400, 300);
    ASSERT_NE(frame, nullptr) << "a frame reopened after the stand-in's class went";
    EXPECT_NE(FindWindowW(kMainFrameClassName, nullptr), nullptr);
    frame_test::CloseFrame(frame);
    delete frame;
}

class FileTypes : public ::testing::Test {
protected:
    void TearDown() override {
        for (const wchar_t* key : {L".kttesta", L".kttestb", L"KeltracerTest"}) {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
        }
    }
    static std::wstring Default(const wchar_t* path) {
        wchar_t value[512] = {};
        DWORD size = sizeof(value);
        if (RegGetValueW(HKEY_CLASSES_ROOT, path, nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
            return L"<missing>";
        }
        return value;
    }
};

TEST_F(FileTypes, RegistersProgIdAndKeepsOtherAssociations) {
    HKEY other = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L".kttestb", 0, nullptr, 0, KEY_WRITE, nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(other, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"OtherApp"), sizeof(L"OtherApp"));
    RegCloseKey(other);

    RegisterFileType(0, L".kttesta", L"C:\\Program Files\\kt\\keltracer.exe", L"KeltracerTest", L"Test trace");
    RegisterFileType(0, L".kttestb", L"C:\\kt.exe", L"KeltracerTest", L"Test trace");
    EXPECT_EQ(Default(L".kttesta"), L"KeltracerTest");
    EXPECT_EQ(Default(L".kttestb"), L"OtherApp");
    EXPECT_EQ(Default(L"KeltracerTest"), L"Test trace");
    EXPECT_EQ(Default(L"KeltracerTest\\DefaultIcon"), L"");
    EXPECT_EQ(Default(L"KeltracerTest\\Shell\\Open\\Command"), L"\"C:\\Program Files\\kt\\keltracer.exe\" \"%1\"");

    // Making it the default takes the extension over.
    RegisterFileType(1, L".kttestb", L"C:\\kt.exe", L"KeltracerTest", L"Test trace");
    EXPECT_EQ(Default(L".kttestb"), L"KeltracerTest");
}

}  // namespace
