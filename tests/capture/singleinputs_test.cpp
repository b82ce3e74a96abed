// The one-message inputs: the shared one-record buffer, the debugger buffer
// and WM_COPYDATA text, read by the capture in this process and fed by
// trace-writer processes.
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/RecordBuilder.h"
#include "core/SysUtil.h"
#include "jobs/Threads.h"
#include "tests/capture/CaptureFixture.h"
#include "tests/tools/CopyDataWindow.h"
#include "tests/tools/TraceWriterProcess.h"
#include "tools/trace-writer/WriterSingle.h"

using namespace capture_test;

namespace {

constexpr DWORD kArrivalMs = 20000;
constexpr uint32_t kFixedTime = 1700000000;
constexpr uint16_t kFixedMs = 123;

// A mapping and event of this session opened the way a writer opens them.
class WriterSide {
 public:
  WriterSide(const std::wstring& buffer, const std::wstring& ready, size_t size) {
    m_mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, buffer.c_str());
    m_ready = OpenEventW(SYNCHRONIZE, FALSE, ready.c_str());
    if (m_mapping != nullptr) {
      m_view = static_cast<uint8_t*>(MapViewOfFile(m_mapping, FILE_MAP_WRITE, 0, 0, size));
    }
  }
  ~WriterSide() {
    if (m_view) UnmapViewOfFile(m_view);
    if (m_mapping) CloseHandle(m_mapping);
    if (m_ready) CloseHandle(m_ready);
  }
  bool Ok() const { return m_view != nullptr && m_ready != nullptr; }
  uint8_t* View() { return m_view; }
  // True when the reader freed the buffer (the auto-reset event is taken).
  bool Freed() { return WaitForSingleObject(m_ready, 0) == WAIT_OBJECT_0; }

 private:
  HANDLE m_mapping = nullptr;
  HANDLE m_ready = nullptr;
  uint8_t* m_view = nullptr;
};

class SingleInputs : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadGroupsOnce();
    NoticeLog::Get().Clear();
    m_tag = UniqueTag(L"single");
    m_capture = NewCapture(m_tag);
    ASSERT_EQ(1, m_capture->Init(0));
  }
  void TearDown() override {
    m_capture->CloseMapFiles();
    m_capture->Release();
  }
  // The records stored so far, after moving the staged ones in.
  std::vector<const TraceRecord*> Stored() {
    m_capture->DrainQueueToCaches();
    std::vector<const TraceRecord*> out;
    CTraceView* view = m_capture->m_views[0];
    for (size_t i = 0; i < view->RecordCount(); ++i) out.push_back(view->RecordAt(i));
    return out;
  }
  std::wstring Named(const wchar_t* base) { return std::wstring(base) + L"_" + m_tag; }

  std::wstring m_tag;
  CTraceCapture* m_capture = nullptr;
};

TEST_F(SingleInputs, KelBufferVersionsAndLevelCodes) {
  ASSERT_EQ(1, m_capture->OpenKelBuffer(0, nullptr));
  WriterSide writer(Named(L"KEL_BUFFER"), Named(L"KEL_BUFFER_READY"), kKelBufferBytes);
  ASSERT_TRUE(writer.Ok());
  ASSERT_TRUE(writer.Freed());  // free once the objects exist

  struct Case {
    uint32_t version, code;
    uint32_t level;  // 0: no record
    size_t textChars;
    size_t expectChars;
  };
  const Case cases[] = {
      {0, 0, kLevelInfo, 20, 20},         {0, 100, kLevelWarning, 20, 20}, {1, 200, kLevelError, 20, 20},
      {1, 300, kLevelInfo, 1500, 1023},   {2, 400, kLevelPersonal, 20, 20}, {2, 100, kLevelWarning, 3000, 2047},
      {3, 200, kLevelError, 20, 20},      {3, 7, kLevelInfo, 1500, 1023},  {4, 0, 0, 20, 0},
  };
  size_t expected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << c.version << " code " << c.code);
    const std::wstring text(c.textChars, L'a' + wchar_t(c.version));
    KelBufferMessage m;
    m.version = c.version;
    m.levelCode = c.code;
    m.pid = kForeignPid;
    m.tid = 77;
    m.module = L"mod.dll";
    m.text = text.c_str();
    m.time = kFixedTime;
    m.milliseconds = kFixedMs;
    FillKelBuffer(writer.View(), m);
    const uint32_t before = uint32_t(time(nullptr));
    EXPECT_EQ(1, m_capture->OnKelBufferData());
    EXPECT_TRUE(writer.Freed());
    // Cleared for the next writer: version, module and text.
    uint32_t version;
    std::memcpy(&version, writer.View() + kSharedVersionOffset, sizeof(version));
    EXPECT_EQ(0u, version);
    EXPECT_EQ(0, writer.View()[kSharedModuleOffset] | writer.View()[kSharedModuleOffset + 1]);
    EXPECT_EQ(0, writer.View()[kSharedTextOffset] | writer.View()[kSharedTextOffset + 1]);

    const auto stored = Stored();
    if (c.level == 0) {
      EXPECT_EQ(expected, stored.size());
      continue;
    }
    ASSERT_EQ(++expected, stored.size());
    const TraceRecord* r = stored.back();
    EXPECT_EQ(c.level, r->level & kLevelMask);
    EXPECT_STREQ(L"mod.dll", r->Module());
    EXPECT_EQ(kForeignPid, r->pid);
    EXPECT_EQ(77u, r->tid);
    EXPECT_EQ(c.expectChars, wcslen(r->Message()));
    EXPECT_EQ(kSourceOneRecordBuffer, r->sourceType);
    EXPECT_NE(0, r->flags & kRecordLive);
    if (c.version <= 1) {
      EXPECT_GE(r->time, before);  // stamped when read
    } else {
      EXPECT_EQ(kFixedTime, r->time);
      EXPECT_EQ(kFixedMs, r->milliseconds);
    }
  }
}

TEST_F(SingleInputs, KelBufferWithoutTerminatorsOrTextIsBounded) {
  ASSERT_EQ(1, m_capture->OpenKelBuffer(0, nullptr));
  WriterSide writer(Named(L"KEL_BUFFER"), Named(L"KEL_BUFFER_READY"), kKelBufferBytes);
  ASSERT_TRUE(writer.Ok());
  ASSERT_TRUE(writer.Freed());
  for (uint32_t version = 0; version <= 3; ++version) {
    SCOPED_TRACE(version);
    KelBufferMessage m;
    m.version = version;
    m.pid = kForeignPid;
    m.fault = WriterFault::kUnterminated;
    FillKelBuffer(writer.View(), m);
    m_capture->OnKelBufferData();
    EXPECT_TRUE(writer.Freed());
    m.fault = WriterFault::kEmptyText;
    m.module = L"mod.dll";
    FillKelBuffer(writer.View(), m);
    m_capture->OnKelBufferData();
    EXPECT_TRUE(writer.Freed());
  }
  const auto stored = Stored();
  ASSERT_EQ(4u, stored.size());  // the empty texts make no record
  for (const TraceRecord* r : stored) {
    EXPECT_LT(wcslen(r->Module()), kRecordNameUnits);
    EXPECT_GT(wcslen(r->Message()), 0u);
    EXPECT_LE(wcslen(r->Message()), 2047u);
  }
}

TEST_F(SingleInputs, DebuggerBufferWithinItsPage) {
  ASSERT_EQ(1, m_capture->OpenDbwin(nullptr));
  WriterSide writer(Named(L"DBWIN_BUFFER"), Named(L"DBWIN_BUFFER_READY"), kDbwinBufferBytes);
  ASSERT_TRUE(writer.Ok());
  ASSERT_TRUE(writer.Freed());

  FillDbwinBuffer(writer.View(), kForeignPid, L"plain line", WriterFault::kNone);
  m_capture->OnDbwinData();
  EXPECT_TRUE(writer.Freed());
  FillDbwinBuffer(writer.View(), kForeignPid, L"", WriterFault::kEmptyText);
  m_capture->OnDbwinData();
  EXPECT_TRUE(writer.Freed()) << "an empty text still frees the buffer";
  // 4092 text bytes and no terminator up to the page's end.
  FillDbwinBuffer(writer.View(), kForeignPid, L"", WriterFault::kUnterminated);
  m_capture->OnDbwinData();
  EXPECT_TRUE(writer.Freed());

  const auto stored = Stored();
  ASSERT_EQ(2u, stored.size());
  for (const TraceRecord* r : stored) {
    EXPECT_STREQ(L"DBWIN", r->Module());
    EXPECT_EQ(kLevelDebug, r->level & kLevelMask);
    EXPECT_EQ(kForeignPid, r->pid);
    EXPECT_EQ(0u, r->tid);
    EXPECT_EQ(kSourceDebugOutput, r->sourceType);
    EXPECT_NE(0, r->flags & kRecordLive);
  }
  EXPECT_STREQ(L"plain line", stored[0]->Message());
  const std::wstring cut = stored[1]->Message();
  EXPECT_EQ(2047u, cut.size());
  EXPECT_EQ(std::wstring::npos, cut.find_first_not_of(L'x'));
}

TEST_F(SingleInputs, CopyDataTextWithAndWithoutPrefix) {
  struct Case {
    std::string text;
    const wchar_t* module;
    uint32_t pid, tid;
    std::wstring message;
  };
  const Case cases[] = {
      {"(net:12:34)hello", L"net", 12, 34, L"hello"},
      {"hello", L"", 0, 0, L"hello"},
      // Only a prefix at the very start is one.
      {"before(net:12:34)hello", L"", 0, 0, L"before(net:12:34)hello"},
      {"(net:5:6)" + std::string(2000, 'y'), L"net", 5, 6, std::wstring(1023, L'y')},
  };
  size_t expected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 30));
    m_capture->AddCopyDataText(c.text.data(), c.text.data() + c.text.size());
    const auto stored = Stored();
    ASSERT_EQ(++expected, stored.size());
    const TraceRecord* r = stored.back();
    EXPECT_STREQ(c.module, r->Module());
    EXPECT_EQ(c.pid, r->pid);
    EXPECT_EQ(c.tid, r->tid);
    EXPECT_EQ(c.message, r->Message());
    EXPECT_EQ(kLevelInfo, r->level & kLevelMask);
    EXPECT_EQ(kSourceCopyData, r->sourceType);
    EXPECT_NE(0, r->flags & kRecordLive);
  }
}

// ---- against trace-writer processes ------------------------------------

class SingleInputsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadGroupsOnce();
    NoticeLog::Get().Clear();
    m_tag = UniqueTag(L"single");
  }
  void TearDown() override {
    g_appConfig.m_hvnEnable = 0;
    g_appConfig.m_dbWinEnable = 0;
    if (m_thread != nullptr) {
      EXPECT_EQ(1, m_thread->Stop(kThreadStopTimeoutMs));
      delete m_thread;
    }
    if (m_capture != nullptr) m_capture->Release();
  }
  void StartCapture(const wchar_t* tag) {
    m_capture = NewCapture(m_tag);
    m_capture->SetChannelTag(tag);
    ASSERT_EQ(1, m_capture->Init(0));
    m_thread = new CThreadCapture(nullptr, m_capture);
    ASSERT_EQ(1, m_thread->Start());
    ASSERT_TRUE(
        WaitFor([&] { return NoticeLog::Get().Count(kNotifyNotice, kNoticeCaptureStarted) > 0; }, kArrivalMs));
  }
  size_t Count() {
    const CStoreLock lock(m_capture, kLockShared);
    return lock.Held() ? m_capture->m_views[0]->RecordCount() : 0;
  }

  std::wstring m_tag;
  CTraceCapture* m_capture = nullptr;
  CThreadCapture* m_thread = nullptr;
};

TEST_F(SingleInputsEndToEnd, ThousandKelBufferMessagesInOrder) {
  g_appConfig.m_hvnEnable = 1;
  StartCapture(m_tag.c_str());
  CTraceWriterProcess writer;
  // An administrator's capture owns the Global\ buffer.
  const std::wstring global = IsUserAdmin() ? L" --global" : L"";
  ASSERT_TRUE(writer.Start(L"--input kel-buffer --count 1000 --id 7 --wait-event 10000 --tag " + m_tag + global));
  ASSERT_TRUE(writer.Wait(60000));
  // Every message waited for the buffer to be freed after the one before.
  EXPECT_EQ(0u, writer.ExitCode()) << writer.Output();
  ASSERT_TRUE(WaitFor([&] { return Count() >= 1000; }, kArrivalMs));
  const auto records = ViewRecords(m_capture);
  EXPECT_EQ(1000u, records.size());
  EXPECT_TRUE(HoldsAllInOrder(records, 7, 1, 1000));
}

TEST_F(SingleInputsEndToEnd, CopyDataFromAnotherProcess) {
  m_capture = NewCapture(m_tag);
  ASSERT_EQ(1, m_capture->Init(0));
  // As the owner windows take it: text of at most 2047 bytes.
  CCopyDataWindow window(m_tag, [&](const COPYDATASTRUCT* data) -> LRESULT {
    const auto* text = static_cast<const char*>(data->lpData);
    m_capture->AddCopyDataText(text, text + (data->cbData < 2047 ? data->cbData : 2047));
    return TRUE;
  });
  ASSERT_TRUE(window.valid());
  struct Case {
    const wchar_t* fault;
    uint32_t id;
    bool prefixed;
  };
  const Case cases[] = {{L"", 3, true}, {L"no-prefix", 4, false}, {L"unterminated", 5, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    CTraceWriterProcess writer;
    ASSERT_TRUE(writer.Start(L"--input copydata --count 50 --module cd.exe --wait-event 10000 --id " +
                             std::to_wstring(c.id) + L" --tag " + m_tag +
                             (c.fault[0] ? std::wstring(L" --fault ") + c.fault : L"")));
    window.PumpUntil(writer.Process());
    ASSERT_TRUE(writer.Wait(10000));
    EXPECT_EQ(0u, writer.ExitCode());
    m_capture->DrainQueueToCaches();
    std::vector<Seen> mine;
    for (const Seen& seen : ViewRecords(m_capture)) {
      if (seen.id == c.id) mine.push_back(seen);
    }
    EXPECT_TRUE(HoldsAllInOrder(mine, c.id, 1, 50));
    for (const Seen& seen : mine) {
      EXPECT_EQ(c.prefixed ? writer.ProcessId() : 0u, seen.pid);
    }
  }
}

TEST_F(SingleInputsEndToEnd, UnterminatedDebuggerBufferFromAnotherProcess) {
  g_appConfig.m_dbWinEnable = 1;
  StartCapture(m_tag.c_str());  // a tagged debugger buffer: no other reader meets it
  CTraceWriterProcess writer;
  ASSERT_TRUE(writer.Start(L"--input dbwin-raw --fault unterminated --count 20 --wait-event 10000 --tag " + m_tag));
  ASSERT_TRUE(writer.Wait(60000));
  EXPECT_EQ(0u, writer.ExitCode()) << writer.Output();
  ASSERT_TRUE(WaitFor([&] { return Count() >= 20; }, kArrivalMs));
  EXPECT_EQ(20u, Count());
}

// Reads the session's real debugger channel: runs alone.
TEST_F(SingleInputsEndToEnd, DebugChannelThousandLinesFromAnotherProcess) {
  g_appConfig.m_dbWinEnable = 1;
  StartCapture(L"");
  CTraceWriterProcess writer;
  ASSERT_TRUE(writer.Start(L"--input dbwin --count 1000 --id 9"));
  ASSERT_TRUE(writer.Wait(120000));
  EXPECT_EQ(0u, writer.ExitCode()) << writer.Output();
  ASSERT_TRUE(WaitFor([&] { return Count() >= 1000; }, kArrivalMs));
  std::vector<Seen> mine;
  if (const CStoreLock lock(m_capture, kLockShared); lock.Held()) {
    CTraceView* view = m_capture->m_views[0];
    for (size_t i = 0; i < view->RecordCount(); ++i) {
      const TraceRecord* r = view->RecordAt(i);
      Seen seen = {};
      if (r->pid == writer.ProcessId() && ParseMessage(r, &seen)) {
        EXPECT_STREQ(L"DBWIN", r->Module());
        EXPECT_EQ(kLevelDebug, r->level & kLevelMask);
        mine.push_back(seen);
      }
    }
  }
  EXPECT_EQ(1000u, mine.size());
  EXPECT_TRUE(HoldsAllInOrder(mine, 9, 1, 1000));
}

}  // namespace
