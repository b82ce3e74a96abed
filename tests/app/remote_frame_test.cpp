// The frame's remote commands in this process against real peers on
// 127.0.0.1: a server that never answers the dump-file list and one that
// sends garbage, the FTP test server behind the remote file dialog, and the
// fake log server behind the upload dialog.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/MainFrame.h"
#include "capture/LocalFileList.h"
#include "core/AppConfig.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "jobs/JobMgr.h"
#include "formats/Ktr.h"
#include "formats/Zip.h"
#include "jobs/UploadJob.h"
#include "net/Inet.h"
#include "net/RemoteAddress.h"
#include "net/RemoteProtocol.h"
#include "net/RemoteServer.h"
#include "resource.h"
#include "tests/app/FrameFixture.h"
#include "tests/app/UiDriver.h"
#include "tests/core/TempFolder.h"
#include "tests/net/LoopbackPort.h"
#include "tests/net/ScriptServer.h"
#include "tests/ui/ControlText.h"
#include "tests/ui/UiHarness.h"
#include "ui/dialogs/DumpFileDlg.h"
#include "ui/dialogs/RemoteFileDlg.h"
#include "ui/dialogs/SendToTalmoDlg.h"
#include "ui/dialogs/SockConnectDlg.h"

namespace {

constexpr int kFrameWidth = 900;
constexpr int kFrameHeight = 600;
constexpr DWORD kWaitMs = 30000;

// Handles this thread's messages until `done` holds; false after the time.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = kWaitMs) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > timeoutMs) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      if (!CMessageLoop::ForCurrentThread() || !CMessageLoop::ForCurrentThread()->PreTranslateMessage(&msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
  }
  return true;
}

using kt_test::Text;
using kt_test::Caption;
using kt_test::Cell;
std::vector<std::wstring> Names(HWND list) {
  std::vector<std::wstring> out;
  for (int r = 0; r < ListView_GetItemCount(list); ++r) out.push_back(Cell(list, r, 0));
  return out;
}
int RowNamed(HWND list, const wchar_t* name) {
  const std::vector<std::wstring> names = Names(list);
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return int(i);
  }
  return -1;
}

// A listener on 127.0.0.1 whose connections, `connections` of them one
// after another, `serve` answers on a thread.
class Peer {
 public:
  explicit Peer(std::function<void(SOCKET, const std::atomic<bool>&)> serve, int connections = 1) {
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(m_listener, 1);
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this, serve, connections] {
      for (int i = 0; i < connections; ++i) {
        SOCKET peer = accept(m_listener, nullptr, nullptr);
        if (peer == INVALID_SOCKET) return;
        serve(peer, m_stop);
        closesocket(peer);
      }
    });
  }
  ~Peer() {
    m_stop = true;
    closesocket(m_listener);
    m_thread.join();
  }
  std::wstring Address() const { return L"127.0.0.1:" + std::to_wstring(m_port); }

 private:
  SOCKET m_listener = INVALID_SOCKET;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// Reads `bytes` bytes; fewer when the connection ends first.
std::string ReadBytes(SOCKET s, size_t bytes) {
  std::string data(bytes, '\0');
  size_t have = 0;
  while (have < bytes) {
    const int got = recv(s, &data[have], int(bytes - have), 0);
    if (got <= 0) break;
    have += size_t(got);
  }
  data.resize(have);
  return data;
}
uint32_t ReadLe32(SOCKET s) {
  const std::string word = ReadBytes(s, 4);
  uint32_t value = 0;
  for (size_t i = 0; i < word.size(); ++i) value |= uint32_t(uint8_t(word[i])) << (8 * i);
  return value;
}
void ReadWord(SOCKET s) { ReadBytes(s, 4); }

void PutLe32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(char(value >> (8 * i)));
}

class RemoteFrame : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    s_temp = std::make_unique<TempFolder>(L"ktremoteframe");
    frame_test::LoadConfig(s_temp->path());
    g_appConfig.m_showMenu = 0;
    LocalFileFolders folders;
    wcscpy(folders.temp, s_temp->path().c_str());
    g_localFileList.SetFolders(folders);
    s_loop = new CMessageLoop;
    s_frame = frame_test::StartFrame(kFrameWidth, kFrameHeight);
    kt_test::PumpMessages();
  }
  static void TearDownTestSuite() {
    frame_test::CloseFrame(s_frame);
    delete s_frame;
    s_frame = nullptr;
    delete s_loop;
    s_loop = nullptr;
    g_localFileList.SetFolders(LocalFileFolders{});
    g_remoteServers.Clear();
    s_temp.reset();
    WSACleanup();
  }

 protected:
  void SetUp() override { ASSERT_TRUE(s_frame != nullptr && s_frame->IsWindow()); }
  void TearDown() override { s_frame->SetConnection(ktframe::kNotConnected, L""); }
  CMainFrame& Frame() { return *s_frame; }
  std::wstring Title() { return Caption(s_frame->m_hWnd); }

  static inline std::unique_ptr<TempFolder> s_temp;
  static inline CMessageLoop* s_loop = nullptr;
  static inline CMainFrame* s_frame = nullptr;
};

// ------------------------------------------------------------------ connect

TEST_F(RemoteFrame, AddressesThatMakeNoAddressAreRefusedWithTheConnectWarning) {
  for (const wchar_t* typed : {L"127.0.0.1:65536", L"127.0.0.1:70000", L":6000", L"127.0.0.1:x"}) {
    kt_test::CPopupRecorder boxes;
    Frame().ConnectTo(typed);
    ASSERT_EQ(1u, boxes.messageBoxes.size()) << std::wstring(typed);
    EXPECT_EQ(L"Connect to \"" + std::wstring(typed) + L"\" failed!", boxes.messageBoxes[0].text);
    EXPECT_EQ(UINT(MB_ICONWARNING), boxes.messageBoxes[0].type);
    EXPECT_EQ(ktframe::kNotConnected, Frame().ConnectionState());
  }
}

// The dialog's text starts the connection; a refused port ends it with the
// capture's notice 23 and the same warning.
TEST_F(RemoteFrame, ConnectDialogStartsAndARefusedPortEndsIt) {
  const uint16_t port = UnusedLoopbackPort();
  const std::wstring typed = L"127.0.0.1:" + std::to_wstring(port);
  kt_test::CPopupRecorder boxes;
  {
    kt_test::CModalRecorder modal;
    modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
      EXPECT_EQ(UINT(IDD_SOCK_CONNECT), templateId);
      static_cast<CSockConnectDlg&>(dialog).m_address = typed.c_str();
      return IDOK;
    };
    Frame().OnSockConnect();
  }
  EXPECT_EQ(ktframe::kConnecting, Frame().ConnectionState());
  EXPECT_NE(std::wstring::npos, Title().find(typed + L"(Connecting)")) << Title();
  Frame().OnSockDisconnect();  // while connecting: nothing
  EXPECT_EQ(ktframe::kConnecting, Frame().ConnectionState());
  ASSERT_TRUE(PumpUntil([&] { return Frame().ConnectionState() == ktframe::kNotConnected; }));
  ASSERT_EQ(1u, boxes.messageBoxes.size());
  EXPECT_EQ(L"Connect to \"" + typed + L"\" failed!", boxes.messageBoxes[0].text);
  EXPECT_EQ(std::wstring::npos, Title().find(typed)) << Title();
}

// ---------------------------------------------------------- local dump files

void WriteBytes(const std::wstring& path, size_t bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const std::string data(bytes, 'd');
  DWORD written = 0;
  ::WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr);
  ::CloseHandle(file);
}
DWORD FileBytes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : DWORD(-1);
}

// One local dump file goes straight to the save dialog; with two the
// selection comes first.
TEST_F(RemoteFrame, LocalDumpFilesAreCopiedWhereTheUserSays) {
  WriteBytes(s_temp->File(L"keltra_one.dump"), 100);
  g_localFileList.Expire(kLocalFilesDump);
  const std::wstring first = s_temp->File(L"copy_one.dump");
  {
    kt_test::CModalRecorder modal;
    std::wstring initial;
    modal.saveFile = [&](OPENFILENAMEW& request) {
      initial = request.lpstrFile;
      EXPECT_STREQ(L"dump", request.lpstrDefExt);
      wcsncpy(request.lpstrFile, first.c_str(), request.nMaxFile);
      return TRUE;
    };
    Frame().OnSaveDumpFile();
    EXPECT_TRUE(modal.dialogs.empty());
    EXPECT_EQ(L"keltra_one.dump", initial);
  }
  EXPECT_TRUE(PumpUntil([&] { return FileBytes(first) == 100; }));

  WriteBytes(s_temp->File(L"keltra_two.dump"), 200);
  g_localFileList.Expire(kLocalFilesDump);
  const std::wstring second = s_temp->File(L"copy_two.dump");
  {
    kt_test::CModalRecorder modal;
    size_t offered = 0;
    modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
      EXPECT_EQ(UINT(IDD_DUMP_FILE), templateId);
      auto& dump = static_cast<CDumpFileDlg&>(dialog);
      EXPECT_TRUE(dump.RemoteName().IsEmpty());
      offered = dump.Entries().Count();
      dump.m_path = s_temp->File(L"keltra_two.dump").c_str();
      return IDOK;
    };
    modal.saveFile = [&](OPENFILENAMEW& request) {
      wcsncpy(request.lpstrFile, second.c_str(), request.nMaxFile);
      return TRUE;
    };
    Frame().OnSaveDumpFile();
    EXPECT_EQ(2u, offered);
  }
  EXPECT_TRUE(PumpUntil([&] { return FileBytes(second) == 200; }));
}

// The lists are scanned when the File drop-down, Save dump file or the
// history dialog opens, however soon after the last scan: the clock stands
// still here, and a file written between two openings is offered by the
// second.
DWORD StillClock() { return 1000; }

TEST_F(RemoteFrame, EachFileListIsScannedWhenItOpens) {
  TempFolder folder(L"ktrescan");
  LocalFileFolders folders;
  wcscpy(folders.temp, folder.path().c_str());
  g_localFileList.SetFolders(folders);
  g_localFileList.SetTickSource(StillClock);
  g_localFileList.Expire(kLocalFilesTrace | kLocalFilesDump);
  // Each opener returns how many files it offered.
  const auto dropDown = [&]() -> size_t {
    kt_test::CPopupRecorder popups;
    NMTOOLBARW drop = {};
    drop.hdr = {nullptr, ktui::kToolBarWindowId, UINT(TBN_DROPDOWN)};
    drop.iItem = ID_FILE_DROPDOWN;
    Frame().SendMessage(WM_NOTIFY, ktui::kToolBarWindowId, LPARAM(&drop));
    EXPECT_EQ(1u, popups.menus.size());
    return Frame().HistoryPaths().size();
  };
  const auto history = [&]() -> size_t {
    size_t offered = 0;
    kt_test::CModalRecorder modal;
    modal.answerWith = [&](CDialogImplBase&, UINT templateId) -> INT_PTR {
      EXPECT_EQ(UINT(IDD_HISTORY), templateId);
      offered = g_localFileList.TraceFiles().count;  // the list the dialog shows
      return IDCANCEL;
    };
    Frame().SendMessage(WM_COMMAND, MAKEWPARAM(ID_FILE_HISTORY_MANAGE, 0), 0);
    return offered;
  };
  const auto saveDump = [&]() -> size_t {
    size_t offered = 0;
    kt_test::CModalRecorder modal;
    modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
      EXPECT_EQ(UINT(IDD_DUMP_FILE), templateId);
      offered = static_cast<CDumpFileDlg&>(dialog).Entries().Count();
      return IDCANCEL;
    };
    modal.saveFile = [&](OPENFILENAMEW&) {
      offered = 1;  // one file goes straight to the save dialog
      return FALSE;
    };
    Frame().OnSaveDumpFile();
    return offered;
  };
  const struct {
    const char* name;
    const wchar_t* extension;
    std::function<size_t()> open;
  } openers[] = {{"file drop-down", L".ktr", dropDown},
                 {"history dialog", L".ktr", history},
                 {"save dump file", L".dump", saveDump}};
  for (const auto& opener : openers) {
    SCOPED_TRACE(opener.name);
    for (size_t files = 1; files <= 2; ++files) {
      WriteBytes(folder.File((L"keltra_" + std::to_wstring(files) + opener.extension).c_str()), 100);
      EXPECT_EQ(files, opener.open());
    }
    for (size_t files = 1; files <= 2; ++files) {
      ::DeleteFileW(folder.File((L"keltra_" + std::to_wstring(files) + opener.extension).c_str()).c_str());
    }
  }
  g_localFileList.SetTickSource(GetTickCount);
  LocalFileFolders shared;
  wcscpy(shared.temp, s_temp->path().c_str());
  g_localFileList.SetFolders(shared);
  g_localFileList.Expire(kLocalFilesTrace | kLocalFilesDump);
}

// ---------------------------------------------------------- remote dump list

class DumpListFrame : public RemoteFrame {
 protected:
  // Runs Save dump file while connected to `address` and answers the dump
  // dialog with Cancel; the entries it showed, or -1 when none was shown.
  int RunDumpList(const std::wstring& address, std::vector<std::wstring>* paths,
                  kt_test::CPopupRecorder& boxes) {
    Frame().SetConnection(ktframe::kConnected, address.c_str());
    sockaddr_in server = {};
    EXPECT_EQ(1, MakeRemoteSocketAddress(address.c_str(), &server));
    Frame().SetRemoteServerAddress(server);
    int shown = -1;
    kt_test::CModalRecorder modal;
    modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
      EXPECT_EQ(UINT(IDD_DUMP_FILE), templateId);
      const auto& dump = static_cast<CDumpFileDlg&>(dialog);
      EXPECT_STREQ(address.c_str(), dump.RemoteName().c_str());
      shown = int(dump.Entries().Count());
      for (size_t i = 0; i < dump.Entries().Count(); ++i) paths->push_back(dump.Entries()[i]->path.c_str());
      return IDCANCEL;
    };
    Frame().OnSaveDumpFile();
    // The request runs beside the window: it answers messages sent from
    // another thread all the while.
    EXPECT_TRUE(Frame().DumpListPending());
    std::atomic<int> answered{0};
    std::atomic<bool> stop{false};
    HWND frame = Frame().m_hWnd;
    std::thread sender([&] {
      while (!stop) {
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(frame, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &result)) ++answered;
        ::Sleep(100);
      }
    });
    EXPECT_TRUE(PumpUntil([&] { return !Frame().DumpListPending() && answered >= 3; }));
    stop = true;
    sender.join();
    kt_test::PumpMessages();
    (void)boxes;
    return shown;
  }
};

TEST_F(DumpListFrame, ServerThatNeverAnswersShowsAnEmptyList) {
  Peer peer([](SOCKET s, const std::atomic<bool>& stop) {
    ReadWord(s);
    while (!stop) ::Sleep(20);
  });
  kt_test::CPopupRecorder boxes;
  std::vector<std::wstring> paths;
  EXPECT_EQ(0, RunDumpList(peer.Address(), &paths, boxes));
  EXPECT_TRUE(boxes.messageBoxes.empty());
}

// A list that breaks off into garbage shows the entries read before it; the
// server then keeps sending without end and is cut off.
TEST_F(DumpListFrame, GarbledEndlessReplyShowsTheEntriesRead) {
  Peer peer([](SOCKET s, const std::atomic<bool>& stop) {
    ReadWord(s);
    std::string reply;
    PutLe32(reply, 0x7FFFFFFF);
    PutLe32(reply, 50);  // count, low word
    PutLe32(reply, 0);
    const std::string name = "C:\\far\\keltra_1.dump";
    PutLe32(reply, uint32_t(name.size()));
    reply += name;
    reply += std::string(16, '\x01');
    PutLe32(reply, 100000);  // a name far too long: the list stops here
    send(s, reply.data(), int(reply.size()), 0);
    const std::string junk(4096, '\xEE');
    while (!stop && send(s, junk.data(), int(junk.size()), 0) > 0) {
    }
  });
  kt_test::CPopupRecorder boxes;
  std::vector<std::wstring> paths;
  EXPECT_EQ(1, RunDumpList(peer.Address(), &paths, boxes));
  EXPECT_EQ((std::vector<std::wstring>{L"C:\\far\\keltra_1.dump"}), paths);
}

TEST_F(DumpListFrame, NoServerIsTheSocketError) {
  const uint16_t port = UnusedLoopbackPort();
  kt_test::CPopupRecorder boxes;
  std::vector<std::wstring> paths;
  EXPECT_EQ(-1, RunDumpList(L"127.0.0.1:" + std::to_wstring(port), &paths, boxes));
  ASSERT_EQ(1u, boxes.messageBoxes.size());
  EXPECT_EQ(L"socket create remote dump file list failed!", boxes.messageBoxes[0].text);
  EXPECT_EQ(UINT(MB_ICONERROR), boxes.messageBoxes[0].type);
}

// A list asked of one server and answered only after the frame connected to
// another is that first server's: it is shown under the first server's name
// and the chosen file is fetched from there.
TEST_F(DumpListFrame, AListAnsweredAfterAReconnectKeepsTheServerItWasAskedOf) {
  const std::string remotePath = "C:\\first\\keltra_a.dump";
  const std::string content(300, 'a');
  HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, release);
  std::mutex fetchedLock;
  std::string fetched;  // the path the file request named; guarded by fetchedLock
  Peer first(
      [&](SOCKET s, const std::atomic<bool>&) {
        if (ReadLe32(s) == kRemoteDumpList) {
          ::WaitForSingleObject(release, kWaitMs);
          std::string reply;
          PutLe32(reply, uint32_t(8 + 4 + remotePath.size() + 16));
          PutLe32(reply, 1);  // count
          PutLe32(reply, 0);
          PutLe32(reply, uint32_t(remotePath.size()));
          reply += remotePath;
          reply += std::string(8, '\0');  // last write
          PutLe32(reply, uint32_t(content.size()));
          PutLe32(reply, 0);  // records
          send(s, reply.data(), int(reply.size()), 0);
          return;
        }
        const std::string path = ReadBytes(s, ReadLe32(s));
        {
          const std::lock_guard<std::mutex> hold(fetchedLock);
          fetched = path;
        }
        std::string reply;
        PutLe32(reply, uint32_t(content.size()));
        reply += content;
        send(s, reply.data(), int(reply.size()), 0);
      },
      2);
  sockaddr_in server = {};
  ASSERT_EQ(1, MakeRemoteSocketAddress(first.Address().c_str(), &server));
  Frame().SetConnection(ktframe::kConnected, first.Address().c_str());
  Frame().SetRemoteServerAddress(server);
  const std::wstring target = s_temp->File(L"from_first.dump");
  std::wstring shownName;
  kt_test::CPopupRecorder boxes;
  kt_test::CModalRecorder modal;
  modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
    EXPECT_EQ(UINT(IDD_DUMP_FILE), templateId);
    auto& dump = static_cast<CDumpFileDlg&>(dialog);
    shownName = dump.RemoteName().c_str();
    if (dump.Entries().Count() != 1) return IDCANCEL;
    dump.m_path = dump.Entries()[0]->path;
    return IDOK;
  };
  modal.saveFile = [&](OPENFILENAMEW& request) {
    wcsncpy(request.lpstrFile, target.c_str(), request.nMaxFile);
    return TRUE;
  };
  Frame().OnSaveDumpFile();
  ASSERT_TRUE(Frame().DumpListPending());
  // Meanwhile the frame left the first server for another.
  const std::wstring second = L"127.0.0.1:" + std::to_wstring(UnusedLoopbackPort());
  sockaddr_in secondServer = {};
  ASSERT_EQ(1, MakeRemoteSocketAddress(second.c_str(), &secondServer));
  Frame().SetConnection(ktframe::kNotConnected, L"");
  Frame().SetConnection(ktframe::kConnected, second.c_str());
  Frame().SetRemoteServerAddress(secondServer);
  ::SetEvent(release);
  EXPECT_TRUE(PumpUntil([&] { return !Frame().DumpListPending(); }));
  EXPECT_EQ(first.Address(), shownName);
  EXPECT_TRUE(PumpUntil([&] { return FileBytes(target) == content.size(); }));
  {
    const std::lock_guard<std::mutex> hold(fetchedLock);
    EXPECT_EQ(remotePath, fetched);
  }
  EXPECT_TRUE(boxes.messageBoxes.empty());
  ::CloseHandle(release);
}

// --------------------------------------------------------------- remote file

class RemoteFileFrame : public RemoteFrame {
 public:
  static void SetUpTestSuite() {
    RemoteFrame::SetUpTestSuite();
    s_ftp = new ScriptServer;
    ASSERT_TRUE(s_ftp->Start("ftp_server.py", "tracer Secret-1")) << s_ftp->Line();
    std::istringstream line(s_ftp->Line());
    std::string word, folder;
    line >> word >> s_ftpPort >> folder;
    ASSERT_EQ("PORT", word);
    s_ftpRoot = L"Z:" + std::wstring(folder.begin(), folder.end());
    for (wchar_t& ch : s_ftpRoot) ch = ch == L'/' ? L'\\' : ch;
    // A real trace file to open.
    CTraceFile* file = frame_test::MakeFile(L"remote.ktr", 300, 11);
    ASSERT_EQ(1, SaveKtr(file, (s_ftpRoot + L"\\logs\\remote.ktr").c_str(), nullptr));
    file->Release();
  }
  static void TearDownTestSuite() {
    delete s_ftp;
    s_ftp = nullptr;
    RemoteFrame::TearDownTestSuite();
  }

 protected:
  HWND OpenDialog() {
    Frame().OnOpenRemote();
    return Frame().RemoteFileDlg() != nullptr ? Frame().RemoteFileDlg()->DialogWindow() : nullptr;
  }
  CRemoteFileDlg* Dialog() { return static_cast<CRemoteFileDlg*>(Frame().RemoteFileDlg()); }
  void Fill(HWND dialog, const wchar_t* path, bool anonymous, const wchar_t* password) {
    ::SetDlgItemTextW(dialog, IDC_REMOTE_SERVER, L"127.0.0.1");
    ::SetDlgItemTextW(dialog, IDC_REMOTE_PORT, std::to_wstring(s_ftpPort).c_str());
    ::CheckDlgButton(dialog, IDC_REMOTE_ANONYMOUS, anonymous ? BST_CHECKED : BST_UNCHECKED);
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_REMOTE_ANONYMOUS, BN_CLICKED), 0);
    ::SetDlgItemTextW(dialog, IDC_REMOTE_USER, anonymous ? L"" : L"tracer");
    ::SetDlgItemTextW(dialog, IDC_REMOTE_PASSWORD, password);
    ::SetDlgItemTextW(dialog, IDC_REMOTE_PATH, path);
  }
  // Clicks List Files (or runs `start`) and waits until the dialog is ready.
  bool WaitReady() {
    return PumpUntil([&] { return Dialog() != nullptr && Dialog()->m_ready == 1; });
  }
  HWND List(HWND dialog) { return ::GetDlgItem(dialog, IDC_REMOTE_FILES); }

  static inline ScriptServer* s_ftp = nullptr;
  static inline uint16_t s_ftpPort = 0;
  static inline std::wstring s_ftpRoot;
};

TEST_F(RemoteFileFrame, ListsGoesIntoAFolderAndBackUpAndOpensAFile) {
  g_remoteServers.Clear();
  HWND dialog = OpenDialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_TRUE(::IsWindowVisible(dialog));
  Fill(dialog, L"/", false, L"Secret-1");
  kt_test::ClickButton(dialog, IDC_REMOTE_LIST_FILES);
  EXPECT_EQ(0u, Dialog()->m_ready);
  EXPECT_EQ(L"Remote File - List \"ftp://127.0.0.1/\"", Caption(dialog));
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_REMOTE_LIST_FILES)));
  ASSERT_TRUE(WaitReady());
  EXPECT_EQ(L"Remote File", Caption(dialog));
  // The root has no "..": folders first, then files, each by name.
  EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"empty", L"logs", L"readme.txt"}), Names(List(dialog)));
  EXPECT_EQ(L"<>", Cell(List(dialog), 0, 1));
  EXPECT_EQ(L"10 B", Cell(List(dialog), 3, 1));
  kt_test::DoubleClickRow(dialog, IDC_REMOTE_FILES, RowNamed(List(dialog), L"logs"));
  ASSERT_TRUE(WaitReady());
  EXPECT_EQ(L"/logs/", Text(dialog, IDC_REMOTE_PATH));
  const std::vector<std::wstring> logs = Names(List(dialog));
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(L"..", logs[0]);
  EXPECT_EQ(L"", Cell(List(dialog), 0, 2));
  EXPECT_EQ(L"4 KB", Cell(List(dialog), RowNamed(List(dialog), L"c.log"), 1));
  // Only listed: the server is not remembered yet.
  EXPECT_EQ(0u, g_remoteServers.Count());
  kt_test::DoubleClickRow(dialog, IDC_REMOTE_FILES, 0);
  ASSERT_TRUE(WaitReady());
  EXPECT_EQ(L"/", Text(dialog, IDC_REMOTE_PATH));
  EXPECT_EQ(L"Alpha", Names(List(dialog))[0]);
  kt_test::DoubleClickRow(dialog, IDC_REMOTE_FILES, RowNamed(List(dialog), L"logs"));
  ASSERT_TRUE(WaitReady());
  // Fetching opens the file as a new document and remembers the server once.
  const size_t documents = Frame().DocumentStrip().Model().GetGroup(0)->Count();
  for (int fetch = 0; fetch < 2; ++fetch) {
    LVITEMW select = {};
    select.stateMask = LVIS_SELECTED;
    select.state = LVIS_SELECTED;
    ::SendMessageW(List(dialog), LVM_SETITEMSTATE, WPARAM(RowNamed(List(dialog), L"remote.ktr")), LPARAM(&select));
    kt_test::ClickButton(dialog, IDOK);
    EXPECT_EQ(L"Remote File - Get \"remote.ktr\"", Caption(dialog));
    ASSERT_TRUE(WaitReady());
    EXPECT_EQ(1u, g_remoteServers.Count());
    EXPECT_EQ(1, int(::SendMessageW(::GetDlgItem(dialog, IDC_REMOTE_HISTORY), CB_GETCOUNT, 0, 0)));
  }
  EXPECT_TRUE(PumpUntil([&] { return Frame().DocumentStrip().Model().GetGroup(0)->Count() == documents + 2; }));
  EXPECT_STREQ(L"ftp://127.0.0.1/logs/", g_remoteServers[0]->GetUrl().c_str());
  // Hidden and shown again: the same dialog with its listing.
  kt_test::ClickButton(dialog, IDCANCEL);
  EXPECT_FALSE(::IsWindowVisible(dialog));
  EXPECT_EQ(dialog, OpenDialog());
  EXPECT_TRUE(::IsWindowVisible(dialog));
  EXPECT_LT(0, ListView_GetItemCount(List(dialog)));
}

TEST_F(RemoteFileFrame, AnonymousListsWithoutUserAndAWrongPasswordIsReported) {
  HWND dialog = OpenDialog();
  ASSERT_NE(nullptr, dialog);
  Fill(dialog, L"/logs", true, L"");
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_REMOTE_USER)));
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_REMOTE_PASSWORD)));
  kt_test::CPopupRecorder boxes;
  kt_test::ClickButton(dialog, IDC_REMOTE_LIST_FILES);
  ASSERT_TRUE(WaitReady());
  EXPECT_TRUE(boxes.messageBoxes.empty());
  EXPECT_EQ(L"..", Names(List(dialog))[0]);
  EXPECT_NE(-1, RowNamed(List(dialog), L"remote.ktr"));
  EXPECT_EQ(1u, Dialog()->m_server.anonymous);
  EXPECT_TRUE(Dialog()->m_server.user.IsEmpty());

  Fill(dialog, L"/logs", false, L"wrong-password");
  kt_test::ClickButton(dialog, IDC_REMOTE_LIST_FILES);
  ASSERT_TRUE(WaitReady());
  ASSERT_EQ(1u, boxes.messageBoxes.size());
  EXPECT_EQ(0u, boxes.messageBoxes[0].text.find(L"List \"ftp://127.0.0.1/logs/\" failed, error 12015"))
      << std::string(boxes.messageBoxes[0].text.begin(), boxes.messageBoxes[0].text.end());
  EXPECT_EQ(dialog, boxes.messageBoxes[0].owner);  // shown over the dialog
  EXPECT_EQ(0, ListView_GetItemCount(List(dialog)));
}

// The frame may destroy the dialog while its listing runs: the job keeps
// its own listing and the frame no longer calls the dialog.
TEST_F(RemoteFileFrame, DialogDestroyedWhileItsListingRuns) {
  HWND dialog = OpenDialog();
  ASSERT_NE(nullptr, dialog);
  Fill(dialog, L"/logs", false, L"Secret-1");
  kt_test::ClickButton(dialog, IDC_REMOTE_LIST_FILES);
  ::DestroyWindow(dialog);
  EXPECT_EQ(nullptr, Frame().RemoteFileDlg());
  // The job still ends and is reported to the frame alone.
  ::Sleep(500);
  kt_test::PumpMessages();
  EXPECT_TRUE(PumpUntil([&] {
    CString text;
    uint32_t percent = 0;
    return g_jobMgr.GetProgressText(text, &percent) == 0;
  }));
  EXPECT_TRUE(Frame().IsWindow());
}

// ------------------------------------------------------------------- upload

class UploadFrame : public RemoteFrame {
 public:
  static void SetUpTestSuite() {
    RemoteFrame::SetUpTestSuite();
    s_log = new ScriptServer;
    ASSERT_TRUE(s_log->Start("log_server.py", "")) << s_log->Line();
    std::istringstream line(s_log->Line());
    std::string word;
    line >> word >> s_logPort;
    ASSERT_EQ("PORT", word);
    const std::wstring origin = L"http://127.0.0.1:" + std::to_wstring(s_logPort);
    SetEnvironmentVariableW(kLogServerEnvironment, origin.c_str());
    // A document whose upload zip takes three pieces.
    s_document = ThreePieceDocument();
    ASSERT_NE(nullptr, s_document);
    ASSERT_EQ(1, s_frame->AddDocument(s_document));
  }
  static void TearDownTestSuite() {
    SetEnvironmentVariableW(kLogServerEnvironment, nullptr);
    delete s_log;
    s_log = nullptr;
    RemoteFrame::TearDownTestSuite();
  }

 protected:
  struct Shown {
    std::vector<std::wstring> sending;  // line 3 after each step
    std::vector<UINT> marks;            // the indicators at the end
  };
  // Starts the upload of the current document and pumps until the dialog
  // reaches a final state, noting line 3 after each step; `during` runs
  // once after the first piece.
  Shown Upload(CSendToTalmoDlg** dialogOut, const std::function<void(HWND)>& during = {}) {
    Shown shown;
    Frame().OnSendToTalmo(false);
    auto* dialog = static_cast<CSendToTalmoDlg*>(Frame().UploadDlg());
    *dialogOut = dialog;
    if (dialog == nullptr) return shown;
    HWND hwnd = dialog->m_hWnd;
    bool ran = false;
    const DWORD start = ::GetTickCount();
    while (::IsWindow(hwnd) && dialog->Model().State() <= kUploadRunning && ::GetTickCount() - start < kWaitMs) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&msg);
        if (msg.hwnd == hwnd && msg.message == WM_APP && LOWORD(msg.wParam) == 2 && !ran && during) {
          ran = true;
          during(hwnd);
        }
        if (msg.hwnd == hwnd && msg.message == WM_APP && LOWORD(msg.wParam) == 3) {
          shown.sending.push_back(Text(hwnd, IDC_SEND_STEP3));
        }
      }
    }
    // The job's end reaches the frame after the dialog's last step.
    PumpUntil([&] {
      CString text;
      uint32_t percent = 0;
      return g_jobMgr.GetProgressText(text, &percent) == 0;
    });
    kt_test::PumpMessages();
    for (size_t i = 0; i < CUploadProgress::kLines; ++i) shown.marks.push_back(dialog->Model().Mark(i));
    return shown;
  }

  static size_t Pieces(CTraceFile* file) {
    const SYSTEMTIME time = {2026, 12, 0, 11, 2, 0, 0, 0};
    CZipHandleOwner zip(ZipForUpload(file, time, nullptr));
    return (CZip::GetMemorySize(zip.get()) + kUploadPieceBytes - 1) / kUploadPieceBytes;
  }
  // The generated records hardly compress: a search over the record count
  // finds a document of three pieces.
  static CTraceFile* ThreePieceDocument() {
    uint32_t low = 1, high = 64;
    while (true) {
      CTraceFile* file = frame_test::MakeFile(L"upload.ktr", high, 5);
      const size_t pieces = Pieces(file);
      if (pieces == 3) return file;
      file->Release();
      if (pieces > 3) break;
      low = high;
      high *= 2;
      if (high > (1u << 20)) return nullptr;
    }
    while (low + 1 < high) {
      const uint32_t middle = low + (high - low) / 2;
      CTraceFile* file = frame_test::MakeFile(L"upload.ktr", middle, 5);
      const size_t pieces = Pieces(file);
      if (pieces == 3) return file;
      file->Release();
      (pieces < 3 ? low : high) = middle;
    }
    return nullptr;
  }

  static inline ScriptServer* s_log = nullptr;
  static inline uint16_t s_logPort = 0;
  static inline CTraceFile* s_document = nullptr;
};

TEST_F(UploadFrame, SmallDocumentShowsEveryStepAndTheFrameClearsTheJob) {
  ASSERT_EQ("reset", test_net::LoopbackHttpGet(s_logPort, "/control/reset"));
  CSendToTalmoDlg* dialog = nullptr;
  const Shown shown = Upload(&dialog);
  ASSERT_NE(nullptr, dialog);
  HWND hwnd = dialog->m_hWnd;
  EXPECT_EQ((std::vector<std::wstring>{L"Sending to talmo...33%", L"Sending to talmo...66%",
                                       L"Sending to talmo...100%", L"Sending to talmo...100%"}),
            shown.sending);
  EXPECT_EQ((std::vector<UINT>{kUploadMarkTick, kUploadMarkTick, kUploadMarkTick, kUploadMarkTick}), shown.marks);
  EXPECT_EQ(L"Send to talmo completed", Caption(hwnd));
  // The frame deleted the job and told the dialog first.
  EXPECT_EQ(nullptr, dialog->Job());
  // While it is open the commands do not open a second one.
  Frame().OnSendToTalmo(false);
  EXPECT_EQ(dialog, Frame().UploadDlg());
  kt_test::ClickButton(hwnd, IDCANCEL);  // "OK"
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(nullptr, Frame().UploadDlg());
}

TEST_F(UploadFrame, BusyServerTurnsTheConnectLineRed) {
  ASSERT_EQ("reset", test_net::LoopbackHttpGet(s_logPort, "/control/reset?query=busy"));
  CSendToTalmoDlg* dialog = nullptr;
  Upload(&dialog);
  ASSERT_NE(nullptr, dialog);
  HWND hwnd = dialog->m_hWnd;
  EXPECT_EQ(kUploadFailedColour, dialog->Model().Colour(1));
  EXPECT_EQ(L"Connecting to server...Failed (Logserver is offline or busy)", Text(hwnd, IDC_SEND_STEP2));
  EXPECT_EQ(L"Send to talmo failed", Caption(hwnd));
  EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(hwnd, IDOK)));
  EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(hwnd, IDCANCEL)));
  kt_test::ClickButton(hwnd, IDOK);
  EXPECT_FALSE(::IsWindow(hwnd));
}

TEST_F(UploadFrame, CancelWhileSendingShowsTheCancelledForm) {
  ASSERT_EQ("reset", test_net::LoopbackHttpGet(s_logPort, "/control/reset?stall=1"));
  CSendToTalmoDlg* dialog = nullptr;
  std::wstring waiting;
  Upload(&dialog, [&](HWND hwnd) {
    test_net::LoopbackHttpGet(s_logPort, "/control/wait_stall");
    kt_test::ClickButton(hwnd, IDCANCEL);
    waiting = Caption(hwnd);
    test_net::LoopbackHttpGet(s_logPort, "/control/release");
  });
  ASSERT_NE(nullptr, dialog);
  HWND hwnd = dialog->m_hWnd;
  EXPECT_EQ(L"User canceled, please wait...", waiting);
  EXPECT_EQ(L"Send to talmo cancelled", Caption(hwnd));
  EXPECT_EQ(L"Sending to talmo...Failed (User cancelled)", Text(hwnd, IDC_SEND_STEP3));
  EXPECT_EQ(kUploadFailedColour, dialog->Model().Colour(2));
  kt_test::ClickButton(hwnd, IDOK);
  EXPECT_FALSE(::IsWindow(hwnd));
}


// ------------------------------------------------------- a second keltracer

// keltracer.exe in remote-server mode in a Wine prefix of its own, run by
// tests/app/peer_keltracer.sh (a Unix script, started through Wine). The
// two sides talk through files in a Unix folder.
class PeerKeltracer {
 public:
  static constexpr DWORD kStartMs = 180000;  // a first start boots the prefix

  PeerKeltracer() {
    static LONG serial = 0;
    const std::wstring name = L"ktpeer_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                              std::to_wstring(::InterlockedIncrement(&serial));
    m_unixDir = L"/tmp/" + name;
    m_dir = L"Z:\\tmp\\" + name;
    m_temp = m_dir + L"\\temp";
    ::CreateDirectoryW(m_dir.c_str(), nullptr);
    ::CreateDirectoryW(m_temp.c_str(), nullptr);
  }
  ~PeerKeltracer() {
    Stop();
    RemoveTree(m_dir);
  }

  const std::wstring& TempFolder() const { return m_temp; }
  bool Start(uint16_t port) {
    m_port = port;
    const std::wstring exe = uidriver::ExeFolder();
    std::wstring command = L"Z:\\bin\\sh " + Widen(KT_SOURCE_DIR) + L"/tests/app/peer_keltracer.sh " + m_unixDir +
                           L" " + std::to_wstring(port) + L" " + uidriver::ViewerPath() + L" " +
                           uidriver::WriterPath() + L" " + m_temp;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      return false;
    }
    if (process.hThread) ::CloseHandle(process.hThread);
    if (process.hProcess) ::CloseHandle(process.hProcess);
    m_started = true;
    // Serving once the port takes a connection (an empty list request).
    return PumpUntil([&] { return Answers(); }, kStartMs);
  }
  // Has the peer's writer write one batch of 50 records (again, when
  // called again).
  bool Write() {
    ::DeleteFileW((m_dir + L"\\written").c_str());
    Touch(L"write");
    return PumpUntil([&] { return Exists(L"written"); }, kWaitMs);
  }
  void Stop() {
    if (!m_started) return;
    m_started = false;
    Touch(L"stop");
    PumpUntil([&] { return Exists(L"stopped"); }, kWaitMs);
  }

 private:
  static std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }
  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path);
        } else {
          ::DeleteFileW(path.c_str());
        }
      } while (::FindNextFileW(find, &found));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
  }
  bool Exists(const wchar_t* name) const {
    return ::GetFileAttributesW((m_dir + L"\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  void Touch(const wchar_t* name) const {
    HANDLE file = ::CreateFileW((m_dir + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  }
  bool Answers() const {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const DWORD timeout = 2000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    bool answered = false;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
      const char request[4] = {2, 0, 0, 0};
      char reply[12];
      answered = send(s, request, 4, 0) == 4 && recv(s, reply, sizeof(reply), 0) > 0;
    }
    closesocket(s);
    return answered;
  }

  std::wstring m_unixDir;
  std::wstring m_dir;
  std::wstring m_temp;
  uint16_t m_port = 0;
  bool m_started = false;
};

using PeerFrame = RemoteFrame;

TEST_F(PeerFrame, ViewerConnectsSeesRecordsCopiesADumpFileAndLeaves) {
  PeerKeltracer peer;
  for (const wchar_t* name : {L"keltra_peer1.dump", L"keltra_peer2.dump"}) {
    const std::wstring path = peer.TempFolder() + L"\\" + name;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const std::string bytes(1536, name[11] == L'1' ? '1' : '2');
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  const uint16_t port = UnusedLoopbackPort();
  ASSERT_TRUE(peer.Start(port));
  const std::wstring address = L"127.0.0.1:" + std::to_wstring(port);

  Frame().ConnectTo(address.c_str());
  EXPECT_EQ(ktframe::kConnecting, Frame().ConnectionState());
  ASSERT_TRUE(PumpUntil([&] { return Frame().ConnectionState() == ktframe::kConnected; }));
  EXPECT_NE(std::wstring::npos, Title().find(L" - " + address)) << Title();
  EXPECT_EQ(std::wstring::npos, Title().find(L"(Connecting)")) << Title();

  // Records written on the server's side arrive in the live capture. The
  // server streams what it captures once it has read the viewer's request;
  // on a busy machine that read can come after a first batch was captured,
  // so a batch is written again (three at most) until one arrives.
  const int before = Frame().List().GetItemCount();
  bool arrived = false;
  for (int batch = 0; batch < 3 && !arrived; ++batch) {
    ASSERT_TRUE(peer.Write());
    arrived = PumpUntil([&] { return Frame().List().GetItemCount() >= before + 50; }, kWaitMs / 3);
  }
  EXPECT_TRUE(arrived) << Frame().List().GetItemCount() - before;

  // The server's dump files, one of them saved to a local path.
  const std::wstring target = s_temp->File(L"copied.dump");
  std::vector<std::wstring> listed;
  {
    kt_test::CModalRecorder modal;
    modal.answerWith = [&](CDialogImplBase& dialog, UINT templateId) -> INT_PTR {
      EXPECT_EQ(UINT(IDD_DUMP_FILE), templateId);
      auto& dump = static_cast<CDumpFileDlg&>(dialog);
      for (size_t i = 0; i < dump.Entries().Count(); ++i) listed.push_back(dump.Entries()[i]->path.c_str());
      for (const auto& path : listed) {
        if (path.find(L"keltra_peer2.dump") != std::wstring::npos) dump.m_path = path.c_str();
      }
      return dump.m_path.IsEmpty() ? IDCANCEL : IDOK;
    };
    modal.saveFile = [&](OPENFILENAMEW& request) {
      wcsncpy(request.lpstrFile, target.c_str(), request.nMaxFile);
      return TRUE;
    };
    Frame().OnSaveDumpFile();
    EXPECT_TRUE(PumpUntil([&] { return !Frame().DumpListPending(); }));
  }
  EXPECT_EQ(2u, listed.size());
  EXPECT_TRUE(PumpUntil([&] {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return ::GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow == 1536;
  }));

  Frame().OnSockDisconnect();
  EXPECT_EQ(ktframe::kNotConnected, Frame().ConnectionState());
  EXPECT_EQ(std::wstring::npos, Title().find(address)) << Title();

  // Connected again, then the server goes away: the notice and state 0.
  Frame().ConnectTo(address.c_str());
  ASSERT_TRUE(PumpUntil([&] { return Frame().ConnectionState() == ktframe::kConnected; }));
  kt_test::CPopupRecorder boxes;
  peer.Stop();
  EXPECT_TRUE(PumpUntil([&] { return Frame().ConnectionState() == ktframe::kNotConnected; }));
  ASSERT_EQ(1u, boxes.messageBoxes.size());
  EXPECT_EQ(L"Connect to \"" + address + L"\" lost!", boxes.messageBoxes[0].text);
  EXPECT_EQ(UINT(MB_ICONWARNING), boxes.messageBoxes[0].type);
  EXPECT_EQ(std::wstring::npos, Title().find(address)) << Title();
}

}  // namespace
