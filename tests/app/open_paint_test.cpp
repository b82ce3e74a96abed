// Opening a document as the user does (a .ktr file through the frame's open
// path, the one dropped files and a second start's hand-over take): the
// frame is grabbed from its window surface after every paint of it or a
// child and after every message the loop dispatches, and what the open
// showed on the way is checked against the pictures before and after.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "core/TraceStore.h"
#include "formats/Ktr.h"
#include "tests/app/FrameFixture.h"
#include "tests/core/TempFolder.h"
#include "tests/ui/UiHarness.h"

namespace {
constexpr int kFrameWidth = 900;
constexpr int kFrameHeight = 600;
constexpr uint32_t kRecords = 500;
constexpr DWORD kOpenTimeoutMs = 20000;
constexpr int kQuietRounds = 10;   // message rounds the frame must stay still after the open
constexpr int kBlackSquare = 6;    // a solid black block this wide is no glyph
constexpr uint32_t kBlack = 0;

struct Grab {
  std::vector<uint32_t> pixels;  // the client area, top row first, 0x00RRGGBB
  bool laidOut;                  // taken after the list had its final place
  std::string when;              // the window that painted, or the message dispatched
};

// Grabs the frame's client area as its window surface holds it (what goes
// to the screen), children included, each time a window finished its paint
// (a child painted inside its parent's paint is part of it). Its frame and
// its erase are the first steps of that paint and are not grabbed on their
// own; one that comes alone shows in the grab after the message.
class CGrabber {
 public:
  explicit CGrabber(HWND frame, HWND list) : m_frame(frame), m_list(list) {
    s_self = this;
    m_enter = ::SetWindowsHookExW(WH_CALLWNDPROC, EnterProc, nullptr, ::GetCurrentThreadId());
    m_hook = ::SetWindowsHookExW(WH_CALLWNDPROCRET, HookProc, nullptr, ::GetCurrentThreadId());
  }
  ~CGrabber() {
    if (m_hook != nullptr) ::UnhookWindowsHookEx(m_hook);
    if (m_enter != nullptr) ::UnhookWindowsHookEx(m_enter);
    s_self = nullptr;
  }
  CGrabber(const CGrabber&) = delete;
  CGrabber& operator=(const CGrabber&) = delete;

  bool Hooked() const { return m_hook != nullptr && m_enter != nullptr; }

  void Take(const std::string& when) {
    RECT client = {};
    ::GetClientRect(m_frame, &client);
    m_width = client.right;
    m_height = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(info.bmiHeader), m_width, -m_height, 1, 32, BI_RGB};
    HDC screen = ::GetDC(m_frame);
    HDC memory = ::CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, m_width, m_height, screen, 0, 0, SRCCOPY);
    ::GdiFlush();
    Grab grab{{}, m_listMoves >= m_expectedMoves && ListRect().bottom == m_finalListBottom, when};
    const auto* first = static_cast<const uint32_t*>(bits);
    grab.pixels.assign(first, first + size_t(m_width) * size_t(m_height));
    for (uint32_t& pixel : grab.pixels) pixel &= 0xFFFFFF;
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(m_frame, screen);
    m_grabs.push_back(std::move(grab));
  }

  // The list's place in the frame's client coordinates.
  RECT ListRect() const {
    RECT rect = {};
    ::GetWindowRect(m_list, &rect);
    ::MapWindowPoints(nullptr, m_frame, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }
  // The list's bottom once laid out, and the size changes that take it there.
  void ExpectLayout(int bottom, int moves) {
    m_finalListBottom = bottom;
    m_expectedMoves = moves;
  }
  int ListMoves() const { return m_listMoves; }

  const std::vector<Grab>& Grabs() const { return m_grabs; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }

 private:
  static bool Ours(HWND hwnd) { return hwnd == s_self->m_frame || ::IsChild(s_self->m_frame, hwnd); }
  static LRESULT CALLBACK EnterProc(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && s_self != nullptr && call != nullptr && call->message == WM_PAINT && Ours(call->hwnd)) {
      ++s_self->m_painting;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && s_self != nullptr && call != nullptr && Ours(call->hwnd)) {
      if (call->message == WM_PAINT && s_self->m_painting > 0 && --s_self->m_painting == 0) {
        char name[64] = "";
        ::GetClassNameA(call->hwnd, name, sizeof(name));
        s_self->Take(std::string("paint of ") + name);
      } else if (call->message == WM_WINDOWPOSCHANGED && call->hwnd == s_self->m_list) {
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(call->lParam);
        if ((pos->flags & SWP_NOSIZE) == 0) ++s_self->m_listMoves;
      }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static CGrabber* s_self;
  HWND m_frame;
  HWND m_list;
  HHOOK m_hook = nullptr;
  HHOOK m_enter = nullptr;
  int m_painting = 0;  // sent paints under way
  std::vector<Grab> m_grabs;
  int m_width = 0;
  int m_height = 0;
  int m_listMoves = 0;
  int m_finalListBottom = -1;
  int m_expectedMoves = 0;
};
CGrabber* CGrabber::s_self = nullptr;

bool Inside(const RECT& rect, int x, int y) { return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom; }

bool HasBlackSquare(const std::vector<uint32_t>& pixels, int width, int height) {
  std::vector<int> run(size_t(width), 0);  // black pixels straight above and at each column
  for (int y = 0; y < height; ++y) {
    int across = 0;
    for (int x = 0; x < width; ++x) {
      const bool black = pixels[size_t(y) * size_t(width) + size_t(x)] == kBlack;
      run[size_t(x)] = black ? run[size_t(x)] + 1 : 0;
      across = run[size_t(x)] >= kBlackSquare ? across + 1 : 0;
      if (across >= kBlackSquare) return true;
    }
  }
  return false;
}

void SaveGrab(const std::vector<uint32_t>& pixels, int width, int height, const wchar_t* name) {
  kt_test::CPixels picture;
  picture.width = width;
  picture.height = height;
  picture.bgra = pixels;
  kt_test::WriteBmp(picture, kt_test::ScreenshotFolder() + L"\\" + name + L".bmp");
}

// Opens `path` through the frame's open path and checks every grab from the
// message that added the document on: each pixel shows the frame before or
// after, never a black square; nothing paints before the list has its final
// place (`listShrinks` pixels less tall); nothing around the list shows the
// new document before the list does; nothing changes after that message.
void OpenAndCheck(CMainFrame* frame, const std::wstring& path, int listShrinks, const wchar_t* tag) {
  const std::string name(tag, tag + wcslen(tag));
  kt_test::PumpMessages();
  ::RedrawWindow(frame->m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  kt_test::PumpMessages();
  const size_t groupsBefore = frame->ViewStrip().Model().GroupCount();
  CGrabber grabber(frame->m_hWnd, frame->List().m_hWnd);
  ASSERT_TRUE(grabber.Hooked());
  grabber.ExpectLayout(grabber.ListRect().bottom - listShrinks, listShrinks != 0 ? 1 : 0);
  size_t stepFirst = 0;  // the grabs of the message that added the document
  size_t stepEnd = 0;
  ASSERT_EQ(1, frame->OpenPath(path.c_str(), path.size()));
  const DWORD start = ::GetTickCount();
  int quiet = 0;
  while (quiet < kQuietRounds && ::GetTickCount() - start < kOpenTimeoutMs) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      const bool opened = frame->ViewStrip().Model().GroupCount() > groupsBefore;
      grabber.Take("before a message");
      const size_t first = grabber.Grabs().size();
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
      grabber.Take("after message " + std::to_string(msg.message));
      if (!opened && frame->ViewStrip().Model().GroupCount() > groupsBefore) {
        stepFirst = first;
        stepEnd = grabber.Grabs().size();
      }
    }
    if (stepEnd != 0) ++quiet;
  }
  ASSERT_NE(0u, stepEnd) << "the file did not open";
  grabber.Take("at the end");
  const std::vector<Grab>& grabs = grabber.Grabs();
  const int width = grabber.Width();
  const int height = grabber.Height();
  const std::vector<uint32_t>& before = grabs[stepFirst - 1].pixels;
  const std::vector<uint32_t>& after = grabs.back().pixels;
  ASSERT_EQ(before.size(), after.size());
  ASSERT_NE(before, after);
  // Laid out once: the list took its new size in one move, if it had to.
  EXPECT_EQ(listShrinks != 0 ? 1 : 0, grabber.ListMoves());
  const RECT list = grabber.ListRect();
  ASSERT_TRUE(grabs.back().laidOut);

  SaveGrab(before, width, height, (std::wstring(L"open-before-") + tag).c_str());
  SaveGrab(after, width, height, (std::wstring(L"open-after-") + tag).c_str());
  for (size_t g = stepFirst; g < grabs.size(); ++g) {
    const std::vector<uint32_t>& pixels = grabs[g].pixels;
    if (pixels.size() != after.size()) {
      ADD_FAILURE() << name << ": grab " << g << " (" << grabs[g].when << ")" << " of another size";
      continue;
    }
    // Each pixel is old or new: no erased bar, no black, nothing in between.
    size_t strange = 0;
    bool listDone = true;
    size_t newOutsideList = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const size_t i = size_t(y) * size_t(width) + size_t(x);
        if (pixels[i] != before[i] && pixels[i] != after[i]) ++strange;
        if (Inside(list, x, y)) {
          listDone = listDone && pixels[i] == after[i];
        } else if (pixels[i] != before[i]) {
          ++newOutsideList;
        }
      }
    }
    const bool changed = pixels != before;
    bool failed = false;
    if (HasBlackSquare(pixels, width, height)) {
      ADD_FAILURE() << name << ": grab " << g << " (" << grabs[g].when << ")" << ": a black square";
      failed = true;
    }
    if (strange != 0) {
      ADD_FAILURE() << name << ": grab " << g << " (" << grabs[g].when << ")" << ": " << strange << " pixels neither before nor after";
      failed = true;
    }
    if (changed && !grabs[g].laidOut) {
      ADD_FAILURE() << name << ": grab " << g << " (" << grabs[g].when << ")" << ": painted before the frame was laid out";
      failed = true;
    }
    if (!listDone && newOutsideList != 0) {
      ADD_FAILURE() << name << ": grab " << g << " (" << grabs[g].when << ")" << ": " << newOutsideList << " new pixels around a list not yet painted";
      failed = true;
    }
    if (g >= stepEnd && pixels != after) {
      ADD_FAILURE() << name << ": grab " << g << " (" << grabs[g].when << ")" << ": the frame still changed after the open";
      failed = true;
    }
    if (failed) SaveGrab(pixels, width, height, (std::wstring(L"open-failed-") + tag + L"-" + std::to_wstring(g)).c_str());
  }
}

// The live capture shows (one document, no document strip); the first file
// brings the document strip, which takes room from the list, new view tabs,
// new rows, scroll bars and status texts. The second adds a tab to the
// strip already shown, which used to show ahead of everything else.
TEST(OpenPaint, AFileOpensLaidOutThenPaintedInOnePassListFirst) {
  TempFolder temp(L"ktopenpaint");
  frame_test::LoadConfig(temp.path());
  CMessageLoop loop;
  CMainFrame* frame = frame_test::StartFrame(kFrameWidth, kFrameHeight);
  ASSERT_NE(nullptr, frame);
  const std::wstring paths[] = {temp.path() + L"\\first.ktr", temp.path() + L"\\second.ktr"};
  for (size_t i = 0; i < 2; ++i) {
    CTraceFile* source = frame_test::MakeFile(L"source.ktr", kRecords, uint32_t(5 + i));
    ASSERT_EQ(1, SaveKtr(source, paths[i].c_str(), nullptr));
    source->Release();
  }
  ASSERT_FALSE(frame->DocumentStrip().IsWindowVisible());
  OpenAndCheck(frame, paths[0], ktframe::kDocumentStripHeight, L"first");
  ASSERT_TRUE(frame->DocumentStrip().IsWindowVisible());
  OpenAndCheck(frame, paths[1], 0, L"second");
  EXPECT_EQ(3u, frame->DocumentStrip().Model().GetGroup(0)->Count());
  frame_test::CloseFrame(frame);
  delete frame;
}

}  // namespace
