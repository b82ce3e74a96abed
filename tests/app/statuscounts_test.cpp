// The status bar of a frame at its smallest size showing a view of a
// million rows and its level counts: every counter reads whole, and so does
// the status text up to its count of items.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <memory>
#include <string>

#include "app/MainFrame.h"
#include "core/AppConfig.h"
#include "core/TraceStore.h"
#include "core/TraceView.h"
#include "resource.h"
#include "tests/app/FrameFixture.h"
#include "tests/core/TempFolder.h"
#include "tests/ui/UiHarness.h"

namespace {
constexpr uint32_t kRecords = 2000;
constexpr size_t kRows = 1000000;

int TextWidth(HWND window, const wchar_t* text) {
  HDC dc = ::GetDC(window);
  HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
  SIZE extent = {0, 0};
  ::GetTextExtentPoint32W(dc, text, int(wcslen(text)), &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return extent.cx;
}

TEST(StatusCounts, AtTheSmallestSizeCountersAndTheItemCountReadWhole) {
  TempFolder temp(L"ktcounts");
  frame_test::LoadConfig(temp.path());
  CMessageLoop loop;
  CMainFrame* frame = frame_test::StartFrame(ktframe::kMinTrackWidth, ktframe::kMinTrackHeight);
  ASSERT_NE(nullptr, frame);
  CTraceFile* file = frame_test::MakeFile(L"counts.ktr", kRecords, 9);
  CTraceView* view = file->m_views[0];
  for (size_t i = view->RecordCount(); i < kRows; ++i) {
    ASSERT_TRUE(view->m_records.Append(view->m_records[i % kRecords]));
  }
  view->m_debugCount = 1;
  view->m_infoCount = 999999;
  view->m_warningCount = 1000000;
  view->m_errorCount = 250000;
  view->m_personalCount = 999999;
  ASSERT_TRUE(frame->AddDocument(file));
  kt_test::PumpMessages();
  frame->UpdateView(frame->ShownView(), 1, 1, 0, nullptr);
  kt_test::PumpMessages();

  CStatusBarEx& bar = frame->StatusBar();
  const wchar_t* const expected[] = {L"1", L"999999", L"1000000", L"250000", L"999999"};
  // So narrow a bar has the counters drop their pictures to leave the text its room.
  EXPECT_TRUE(bar.CountersCompact());
  const int picture = bar.CountersCompact() ? 0 : 18;
  for (size_t i = 0; i < 5; ++i) {
    const StatusIndicatorItem* item = bar.GetItem(kStatusItemDebug + i);
    ASSERT_NE(nullptr, item);
    EXPECT_STREQ(expected[i], item->text.c_str());
    const int room = (item->rect.right - 2) - (item->rect.left + picture);
    EXPECT_LE(TextWidth(bar.m_hWnd, item->text.c_str()), room) << i;
  }
  RECT client = {};
  bar.GetClientRect(&client);
  EXPECT_LE(bar.GetItem(kStatusItemPii)->rect.right, client.right);

  CString text;
  bar.GetText(bar.GetPaneIndexFromId(ktui::kDefaultPaneId), text);
  const std::wstring status(text.c_str());
  const std::wstring upToCount = L"Filter is OFF, 1000000 items";
  ASSERT_EQ(0u, status.find(upToCount)) << std::string(status.begin(), status.end());
  RECT pane = {};
  ASSERT_TRUE(bar.GetPaneRect(ktui::kDefaultPaneId, &pane));
  EXPECT_LE(2 + TextWidth(bar.m_hWnd, upToCount.c_str()), pane.right - 1) << "pane " << pane.right;
  kt_test::SaveScreenshot(bar.m_hWnd, L"status-counts-600");

  // Wide enough for both, the pictures come back.
  frame->SetWindowPos(nullptr, 0, 0, 1100, ktframe::kMinTrackHeight, SWP_NOMOVE | SWP_NOZORDER);
  kt_test::PumpMessages();
  EXPECT_FALSE(bar.CountersCompact());
  frame_test::CloseFrame(frame);
  delete frame;
}

}  // namespace
