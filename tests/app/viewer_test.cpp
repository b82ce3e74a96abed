// keltracer.exe as a person meets it, driven from outside: live records from
// a trace writer, WM_COPYDATA text, a second start handing its file over,
// forged notices, the registry, and closing.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "app/Startup.h"
#include "core/AppConfig.h"
#include "tests/app/UiDriver.h"
#include "tests/core/TempFolder.h"

using namespace uidriver;

namespace {
constexpr DWORD kArrivalTimeoutMs = 20000;
constexpr DWORD kToolTimeoutMs = 60000;
constexpr int kWriterRecords = 3000;
constexpr int kGeneratedRecords = 2500;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  std::string text;
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read != 0) text.append(buffer, read);
  ::CloseHandle(file);
  return text;
}

void WriteAll(const std::wstring& path, const std::string& text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) {
    ::WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    ::CloseHandle(file);
  }
}

std::wstring RegistryDefault(const wchar_t* key) {
  wchar_t value[512] = {};
  LONG size = sizeof(value);
  if (::RegQueryValueW(HKEY_CLASSES_ROOT, key, value, &size) != ERROR_SUCCESS) return L"";
  return value;
}

// One viewer for the whole suite: a start costs seconds under Wine and
// Xvfb. The tests run in order; the last one closes it.
class Viewer : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    s_temp = std::make_unique<TempFolder>(L"ktview");
    // A saved column order that is no permutation must be ignored.
    const std::wstring iniPath = s_temp->File(L"keltracer.ini");
    CAppConfig::WriteDefaultIni(iniPath.c_str());
    std::string ini = ReadAll(iniPath);
    const size_t order = ini.find("Order=0;2;3;4;1;5;");
    if (order != std::string::npos) ini.replace(order, 18, "Order=0;0;1;2;3;4;");
    WriteAll(s_temp->path() + L"\\keltracer.ini", ini);
    WriteAll(s_temp->path() + L"\\kelrmt_12012026_101010.ktr", "left by a remote fetch");
    WriteAll(s_temp->path() + L"\\keltra_12012026_101010.dump", "a local dump file");
    s_process = std::make_unique<CProcess>();
    if (!s_process->Start(ViewerPath(), L"", s_temp->path())) return;
    HWND frame = nullptr;
    WaitUntil(s_process->Handle(), kStartTimeoutMs, [&] {
      const auto frames = FindTopWindows(kMainFrameClassName, s_process->Id());
      frame = frames.empty() ? nullptr : frames[0];
      // The title names the shown view once the capture's document is up.
      return frame != nullptr && CViewer(frame).Title().find(L" - ") != std::wstring::npos;
    });
    s_frame = frame;
  }
  static void TearDownTestSuite() {
    s_process.reset();
    s_temp.reset();
  }

 protected:
  void SetUp() override {
    ASSERT_NE(s_frame, nullptr) << "the viewer did not start";
    ASSERT_TRUE(s_process->Running());
  }
  CViewer View() const { return CViewer(s_frame); }
  bool WaitForCount(int count) {
    return WaitUntil(s_process->Handle(), kArrivalTimeoutMs, [&] { return View().ListCount() == count; });
  }

  static std::unique_ptr<TempFolder> s_temp;
  static std::unique_ptr<CProcess> s_process;
  static HWND s_frame;
};
std::unique_ptr<TempFolder> Viewer::s_temp;
std::unique_ptr<CProcess> Viewer::s_process;
HWND Viewer::s_frame = nullptr;

// The about box and exported files show the program's file version, "N/A"
// when the program has none.
TEST(ViewerFile, CarriesAFileVersion) {
  HMODULE image = ::LoadLibraryExW(ViewerPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  HRSRC found = ::FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
  ASSERT_NE(found, nullptr);
  const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(image, found)));
  const DWORD size = ::SizeofResource(image, found);
  const VS_FIXEDFILEINFO* fixed = nullptr;
  for (DWORD at = 0; bytes != nullptr && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    const auto* candidate = reinterpret_cast<const VS_FIXEDFILEINFO*>(bytes + at);
    if (candidate->dwSignature == 0xFEEF04BD) {
      fixed = candidate;
      break;
    }
  }
  ASSERT_NE(fixed, nullptr);
  EXPECT_NE(fixed->dwFileVersionMS | fixed->dwFileVersionLS, 0u);
  ::FreeLibrary(image);
}

TEST_F(Viewer, StartsWithTheLiveCaptureShown) {
  EXPECT_EQ(View().ListCount(), 0);
  EXPECT_EQ(View().Title().rfind(L"keltracer - ", 0), 0u) << "title: " << std::string(View().Title().begin(), View().Title().end());
  EXPECT_NE(View().StatusText().find(L"Filter is OFF, 0 items"), std::wstring::npos);
  // Start/Stop Capture: the title gains " - Stop" and loses it again.
  View().PostCommand(33022);
  EXPECT_TRUE(WaitUntil(s_process->Handle(), kStartTimeoutMs,
                        [&] { return View().Title().rfind(L"keltracer - Stop - ", 0) == 0; }));
  View().PostCommand(33022);
  EXPECT_TRUE(WaitUntil(s_process->Handle(), kStartTimeoutMs,
                        [&] { return View().Title().find(L" - Stop") == std::wstring::npos; }));
}

TEST_F(Viewer, WriterRecordsAppearEverySecondAndAllArrive) {
  const int before = View().ListCount();
  CProcess writer;
  ASSERT_TRUE(writer.Start(WriterPath(),
                           L"--count " + std::to_wstring(kWriterRecords) + L" --batch 25 --rate 500 --wait-event 10000",
                           s_temp->path(), CREATE_NO_WINDOW));
  // Sampled until every record is shown: the rows come in steps, one per
  // refresh, not all at the end.
  std::set<int> steps;
  const int expected = before + kWriterRecords;
  const bool all = WaitUntil(s_process->Handle(), kArrivalTimeoutMs * 2, [&] {
    const int now = View().ListCount();
    if (now > before && now < expected) steps.insert(now);
    return now == expected;
  });
  EXPECT_EQ(writer.Wait(kToolTimeoutMs), 0);
  EXPECT_TRUE(all) << "rows: " << View().ListCount();
  EXPECT_GE(steps.size(), 1u) << "no intermediate refresh was seen";
  EXPECT_NE(View().StatusText().find(L"items of read"), std::wstring::npos);
}

TEST_F(Viewer, FiveCopyDataTextsBecomeFiveRows) {
  const int before = View().ListCount();
  for (int i = 0; i < 5; ++i) {
    const std::string text = "(copier.exe:77:88)copy data line " + std::to_string(i);
    EXPECT_EQ(View().SendCopyData(1, text.c_str(), DWORD(text.size() + 1)), 1);
  }
  EXPECT_TRUE(WaitForCount(before + 5)) << "rows: " << View().ListCount();
}

TEST_F(Viewer, ForgedNoticesChangeNothing) {
  const int before = View().ListCount();
  // A finished-job notice with a job the manager never handed over: taken as
  // a pointer, it would be reported and deleted.
  ::PostMessageW(s_frame, WM_APP, 11, LPARAM(0x12345678));
  // A lost connection while not connected: no box.
  ::PostMessageW(s_frame, WM_APP, 21, LPARAM(0x0100007F));
  // A real warning after them: the first box must be this one.
  ::PostMessageW(s_frame, WM_APP, 0, LPARAM(61464));
  CMessageBoxInfo box;
  ASSERT_TRUE(WaitUntil(s_process->Handle(), kStartTimeoutMs, [&] {
    box = FindMessageBox(s_process->Id());
    return box.window != nullptr;
  }));
  EXPECT_NE(box.text.find(L"Start hvn capture failed!"), std::wstring::npos);
  AnswerMessageBox(box);
  EXPECT_TRUE(WaitUntil(s_process->Handle(), kStartTimeoutMs,
                        [&] { return FindMessageBox(s_process->Id()).window == nullptr; }));
  EXPECT_TRUE(View().Responds());
  EXPECT_EQ(View().ListCount(), before);
}

TEST_F(Viewer, SecondStartHandsItsFileOverToThisFrame) {
  const std::wstring file = s_temp->path() + L"\\handed over.ktr";
  ASSERT_EQ(RunTool(DumpToolPath(), L"--generate " + Quoted(file) + L" " + std::to_wstring(kGeneratedRecords),
                    s_temp->path(), kToolTimeoutMs),
            0);
  CProcess second;
  ASSERT_TRUE(second.Start(ViewerPath(), Quoted(file), s_temp->path()));
  EXPECT_EQ(second.Wait(kToolTimeoutMs), 0);
  // The new document is selected: the list shows its records and the
  // document strip appears.
  EXPECT_TRUE(WaitForCount(kGeneratedRecords)) << "rows: " << View().ListCount();
  EXPECT_TRUE(WaitUntil(s_process->Handle(), kStartTimeoutMs,
                        [&] { return ::IsWindowVisible(View().Child(223)) != FALSE; }));
  EXPECT_EQ(FindTopWindows(kMainFrameClassName, 0).size(), 1u);
  EXPECT_NE(View().StatusText().find(L"Filter is OFF, " + std::to_wstring(kGeneratedRecords) + L" items"),
            std::wstring::npos);
}

TEST_F(Viewer, FileTypesAreRegistered) {
  EXPECT_EQ(RegistryDefault(L".ktr"), L"Keltracer");
  EXPECT_EQ(RegistryDefault(L"Keltracer"), L"Talmo unified trace");
  const std::wstring command = RegistryDefault(L"Keltracer\\Shell\\Open\\Command");
  EXPECT_NE(command.find(L"keltracer.exe\" \"%1\""), std::wstring::npos);
}

TEST_F(Viewer, ClosingDeletesTempFilesWritesTheIniAndExitsWithOne) {
  const std::wstring ini = s_temp->path() + L"\\keltracer.ini";
  ASSERT_TRUE(::DeleteFileW(ini.c_str()));
  ::PostMessageW(s_frame, WM_CLOSE, 0, 0);
  EXPECT_EQ(s_process->Wait(kToolTimeoutMs), 1);
  EXPECT_FALSE(FileExists(s_temp->path() + L"\\kelrmt_12012026_101010.ktr"));
  EXPECT_FALSE(FileExists(s_temp->path() + L"\\keltra_12012026_101010.dump"));
  const std::string written = ReadAll(ini);
  EXPECT_NE(written.find("[View]"), std::string::npos);
  // The bad saved order was not applied, so the built order went back.
  EXPECT_NE(written.find("Order=0;1;2;3;4;5;"), std::string::npos) << written;
  s_frame = nullptr;
}

}  // namespace
