#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "ui/dialogs/MessageLibrary.h"

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// The stand-in library the build puts beside the test executable.
std::wstring StandInLibrary() { return ProgramFolder() + L"kt_test_messages.dll"; }
std::wstring LibraryBesideProgram() { return ProgramFolder() + kMessageLibraryName; }

bool EntryPointRan() { return ::GetEnvironmentVariableW(L"KT_MESSAGE_DLL_RAN", nullptr, 0) != 0; }

std::wstring LookUp(HMODULE library, const wchar_t* code) {
  CString text;
  EXPECT_EQ(1, LookUpErrorText(library, code, &text));
  return text.c_str();
}

// A folder of its own under the temp folder, removed with what it holds.
class CScratchFolder {
 public:
  CScratchFolder() {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + L"kt_msglib_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
             std::to_wstring(++s_count) + L"\\";
    ::CreateDirectoryW(m_path.c_str(), nullptr);
  }
  ~CScratchFolder() {
    ::DeleteFileW((m_path + kMessageLibraryName).c_str());
    ::RemoveDirectoryW(m_path.c_str());
  }
  const std::wstring& path() const { return m_path; }

 private:
  static inline int s_count = 0;
  std::wstring m_path;
};

// Puts the stand-in beside the program as talmoerror.dll, or makes sure
// none is there, for one test.
class MessageLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(StandInLibrary().c_str()))
        << "kt_test_messages.dll is built beside the test executable";
    ::SetEnvironmentVariableW(L"KT_MESSAGE_DLL_RAN", nullptr);
  }
  void TearDown() override { ::DeleteFileW(LibraryBesideProgram().c_str()); }

  static void PlaceBesideProgram() {
    ASSERT_TRUE(::CopyFileW(StandInLibrary().c_str(), LibraryBesideProgram().c_str(), FALSE));
  }
};

TEST_F(MessageLibraryTest, ReadsMessagesFromTheLibraryBesideTheProgramWithoutRunningIt) {
  PlaceBesideProgram();
  CMessageLibrary library;
  ASSERT_EQ(1, library.LoadFromProgramFolder());
  ASSERT_NE(nullptr, library.get());
  EXPECT_FALSE(EntryPointRan()) << "the library was run, not mapped as data";

  EXPECT_EQ(L"The trace channel could not be opened.\r\n", LookUp(library.get(), L"1"));
  EXPECT_EQ(L"A message for a hexadecimal code.\r\n", LookUp(library.get(), L"0x1234"));
  // Decimal when every character is a digit, hexadecimal otherwise.
  EXPECT_EQ(L"Insert %1 and %2 stay as they are written.\r\n", LookUp(library.get(), L"42"));
  EXPECT_EQ(LookUp(library.get(), L"42"), LookUp(library.get(), L"2a"));
  EXPECT_EQ(L"Message not found", LookUp(library.get(), L"7"));
  EXPECT_EQ(L"Message not found", LookUp(library.get(), L"zz"));
  EXPECT_FALSE(EntryPointRan());
}

TEST_F(MessageLibraryTest, AMessageMustFitTheBufferWithItsTerminator) {
  PlaceBesideProgram();
  CMessageLibrary library;
  ASSERT_EQ(1, library.LoadFromProgramFolder());
  const std::wstring fits = LookUp(library.get(), L"0x4001");  // 257 characters, CR LF, terminator
  EXPECT_EQ(259u, fits.size());
  EXPECT_EQ(L"Length boundary: ", fits.substr(0, 17));
  EXPECT_EQ(L"Message not found", LookUp(library.get(), L"0x4002"));  // one more
  EXPECT_EQ(L"Message not found", LookUp(library.get(), L"0x4000"));  // 301 characters
}

TEST_F(MessageLibraryTest, NoLibraryBesideTheProgramMeansNoneAtAll) {
  // One in the current folder and one on PATH are never taken.
  CScratchFolder current;
  CScratchFolder onPath;
  ASSERT_TRUE(::CopyFileW(StandInLibrary().c_str(), (current.path() + kMessageLibraryName).c_str(), FALSE));
  ASSERT_TRUE(::CopyFileW(StandInLibrary().c_str(), (onPath.path() + kMessageLibraryName).c_str(), FALSE));
  wchar_t oldCurrent[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, oldCurrent);
  std::wstring oldPath(32767, L'\0');
  oldPath.resize(::GetEnvironmentVariableW(L"PATH", oldPath.data(), DWORD(oldPath.size())));
  ASSERT_TRUE(::SetCurrentDirectoryW(current.path().c_str()));
  ::SetEnvironmentVariableW(L"PATH", (onPath.path() + L";" + oldPath).c_str());

  CMessageLibrary library;
  const int loaded = library.LoadFromProgramFolder();

  ::SetCurrentDirectoryW(oldCurrent);
  ::SetEnvironmentVariableW(L"PATH", oldPath.c_str());
  EXPECT_EQ(0, loaded);
  EXPECT_EQ(nullptr, library.get());
  EXPECT_EQ(L"Message not found", LookUp(library.get(), L"1"));
  EXPECT_FALSE(EntryPointRan());
}

TEST_F(MessageLibraryTest, LoadsFromAGivenFolderWithOrWithoutItsBackslash) {
  CScratchFolder folder;
  ASSERT_TRUE(::CopyFileW(StandInLibrary().c_str(), (folder.path() + kMessageLibraryName).c_str(), FALSE));
  CMessageLibrary library;
  EXPECT_EQ(1, library.LoadFromFolder(folder.path().c_str()));
  const std::wstring bare = folder.path().substr(0, folder.path().size() - 1);
  EXPECT_EQ(1, library.LoadFromFolder(bare.c_str()));
  EXPECT_EQ(L"The trace channel could not be opened.\r\n", LookUp(library.get(), L"1"));
  EXPECT_EQ(0, library.LoadFromFolder(L""));
  EXPECT_EQ(nullptr, library.get());
  EXPECT_EQ(0, library.LoadFromFolder(nullptr));
  EXPECT_FALSE(EntryPointRan());
}

TEST_F(MessageLibraryTest, AFileThatIsNoLibraryIsRefused) {
  CScratchFolder folder;
  const std::wstring path = folder.path() + kMessageLibraryName;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  ::WriteFile(file, "MZ but nothing more", 19, &written, nullptr);
  ::CloseHandle(file);
  CMessageLibrary library;
  EXPECT_EQ(0, library.LoadFromFolder(folder.path().c_str()));
  EXPECT_EQ(nullptr, library.get());
}

TEST(ErrorLookupText, AnEmptyCodeShowsNothing) {
  CString text(L"kept");
  EXPECT_EQ(0, LookUpErrorText(nullptr, L"", &text));
  EXPECT_EQ(0, LookUpErrorText(nullptr, nullptr, &text));
  EXPECT_STREQ(L"kept", text.c_str());
  EXPECT_EQ(1, LookUpErrorText(nullptr, L"5", &text));
  EXPECT_STREQ(L"Message not found", text.c_str());
}

}  // namespace
