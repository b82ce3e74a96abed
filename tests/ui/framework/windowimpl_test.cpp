#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/ui/UiHarness.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr UINT kMsgDestroySelf = WM_APP + 10;
constexpr UINT kMsgPing = WM_APP + 11;

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[64] = {};
  ::GetWindowTextW(hwnd, buffer, 64);
  return buffer;
}

void Type(HWND hwnd, const wchar_t* text) {
  for (const wchar_t* c = text; *c != 0; ++c) {
    ::SendMessageW(hwnd, WM_CHAR, WPARAM(*c), 0);
  }
}

// Sees the characters typed into an edit; eats 'x', passes the rest on.
class CEditSpy : public CWindowImpl<CEditSpy> {
 public:
  int chars = 0;

  BEGIN_MSG_MAP(CEditSpy)
    MESSAGE_HANDLER(WM_CHAR, OnChar)
  END_MSG_MAP()

  LRESULT OnChar(UINT, WPARAM wParam, LPARAM) {
    ++chars;
    if (wParam != L'x') {
      SetMsgHandled(FALSE);
    }
    return 0;
  }
};

class WindowImplTest : public ::testing::Test {
 protected:
  HWND MakeEdit() {
    return ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 200, 24, host.get(),
                             nullptr, nullptr, nullptr);
  }
  kt_test::CTestHostWindow host;
};

TEST_F(WindowImplTest, SubclassedEditGetsWhatTheMapLeaves) {
  HWND edit = MakeEdit();
  ASSERT_NE(nullptr, edit);
  const LONG_PTR original = ::GetWindowLongPtrW(edit, GWLP_WNDPROC);
  CEditSpy spy;
  ASSERT_TRUE(spy.SubclassWindow(edit));
  Type(edit, L"axb");
  EXPECT_EQ(L"ab", TextOf(edit));
  EXPECT_EQ(3, spy.chars);

  EXPECT_EQ(edit, spy.UnsubclassWindow());
  EXPECT_EQ(original, ::GetWindowLongPtrW(edit, GWLP_WNDPROC));
  Type(edit, L"x");
  EXPECT_EQ(L"abx", TextOf(edit));
  EXPECT_EQ(3, spy.chars);
}

TEST_F(WindowImplTest, AWindowTakesOneObjectOnly) {
  HWND edit = MakeEdit();
  CEditSpy first;
  CEditSpy second;
  ASSERT_TRUE(first.SubclassWindow(edit));
  EXPECT_FALSE(second.SubclassWindow(edit));
  EXPECT_FALSE(first.SubclassWindow(MakeEdit()));  // one window per object too
  Type(edit, L"a");
  EXPECT_EQ(1, first.chars);
  EXPECT_EQ(0, second.chars);
}

LRESULT CALLBACK OuterSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto previous = reinterpret_cast<WNDPROC>(::GetPropW(hwnd, L"KtTestOuterPrevious"));
  return ::CallWindowProcW(previous, hwnd, msg, wParam, lParam);
}

TEST_F(WindowImplTest, ObjectDyingBeforeItsWindowLeavesTheWindowWorking) {
  HWND edit = MakeEdit();
  const LONG_PTR original = ::GetWindowLongPtrW(edit, GWLP_WNDPROC);
  {
    CEditSpy spy;
    ASSERT_TRUE(spy.SubclassWindow(edit));
  }
  EXPECT_EQ(original, ::GetWindowLongPtrW(edit, GWLP_WNDPROC));
  Type(edit, L"x");
  EXPECT_EQ(L"x", TextOf(edit));

  // Another procedure in front of ours: ours cannot be taken out, but it must
  // keep handing messages to the edit after its object is gone.
  HWND second = MakeEdit();
  {
    CEditSpy spy;
    ASSERT_TRUE(spy.SubclassWindow(second));
    ::SetPropW(second, L"KtTestOuterPrevious", reinterpret_cast<HANDLE>(::GetWindowLongPtrW(second, GWLP_WNDPROC)));
    ::SetWindowLongPtrW(second, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OuterSubclassProc));
    EXPECT_EQ(nullptr, spy.UnsubclassWindow());
  }
  Type(second, L"xy");
  EXPECT_EQ(L"xy", TextOf(second));
  ::DestroyWindow(second);
}

// A superclass of EDIT: its own class name, the edit's behaviour behind the map.
class CSuperEdit : public CWindowImpl<CSuperEdit> {
 public:
  DECLARE_WND_SUPERCLASS(L"KtTestSuperEdit", L"EDIT")
  int chars = 0;

  BEGIN_MSG_MAP(CSuperEdit)
    MESSAGE_HANDLER(WM_CHAR, OnChar)
  END_MSG_MAP()

  LRESULT OnChar(UINT, WPARAM, LPARAM) {
    ++chars;
    SetMsgHandled(FALSE);
    return 0;
  }
};

TEST_F(WindowImplTest, SuperclassKeepsTheBaseClassBehaviour) {
  CSuperEdit edit;
  RECT rect = {0, 0, 150, 24};
  ASSERT_NE(nullptr, edit.Create(host.get(), &rect, L"", 0));
  wchar_t name[64] = {};
  ::GetClassNameW(edit.m_hWnd, name, 64);
  EXPECT_STREQ(L"KtTestSuperEdit", name);
  EXPECT_EQ(CSuperEdit::GetDefaultStyle(), edit.GetStyle() & CSuperEdit::GetDefaultStyle());
  Type(edit.m_hWnd, L"hi");
  EXPECT_EQ(L"hi", TextOf(edit.m_hWnd));
  EXPECT_EQ(2, edit.chars);
}

// A window that records its messages and its final message.
class CLifeWindow : public CWindowImpl<CLifeWindow> {
 public:
  std::vector<UINT> seen;
  HWND hwndAtCreate = nullptr;
  bool failCreate = false;
  int finals = 0;
  int finalsDuringHandler = -1;
  bool makeChild = false;
  std::unique_ptr<CLifeWindow> child;

  BEGIN_MSG_MAP(CLifeWindow)
    MESSAGE_HANDLER(WM_NCCREATE, OnRecord)
    MESSAGE_HANDLER(WM_CREATE, OnCreate)
    MESSAGE_HANDLER(kMsgDestroySelf, OnDestroySelf)
    MESSAGE_HANDLER(kMsgPing, OnPing)
  END_MSG_MAP()

  LRESULT OnRecord(UINT msg, WPARAM, LPARAM) {
    seen.push_back(msg);
    SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnCreate(UINT msg, WPARAM, LPARAM) {
    seen.push_back(msg);
    hwndAtCreate = m_hWnd;
    if (makeChild) {
      child = std::make_unique<CLifeWindow>();
      RECT rect = {0, 0, 20, 20};
      child->Create(m_hWnd, &rect);
    }
    return failCreate ? -1 : 0;
  }
  LRESULT OnDestroySelf(UINT, WPARAM, LPARAM) {
    DestroyWindow();
    finalsDuringHandler = finals;
    return 9;
  }
  LRESULT OnPing(UINT, WPARAM, LPARAM) { return 1; }
  void OnFinalMessage(HWND) override { ++finals; }
};

TEST_F(WindowImplTest, ObjectIsBoundFromWmNcCreateOn) {
  CLifeWindow window;
  RECT rect = {0, 0, 50, 50};
  HWND hwnd = window.Create(host.get(), &rect);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(hwnd, window.m_hWnd);
  EXPECT_EQ(hwnd, window.hwndAtCreate);
  ASSERT_EQ(2u, window.seen.size());
  EXPECT_EQ(UINT(WM_NCCREATE), window.seen[0]);
  EXPECT_EQ(UINT(WM_CREATE), window.seen[1]);
}

TEST_F(WindowImplTest, WindowsCreatedInsideWmCreateGetTheirOwnObjects) {
  CLifeWindow window;
  window.makeChild = true;
  RECT rect = {0, 0, 50, 50};
  ASSERT_NE(nullptr, window.Create(host.get(), &rect));
  ASSERT_NE(nullptr, window.child);
  ASSERT_NE(nullptr, window.child->m_hWnd);
  EXPECT_EQ(window.m_hWnd, ::GetParent(window.child->m_hWnd));
  EXPECT_EQ(1, ::SendMessageW(window.child->m_hWnd, kMsgPing, 0, 0));
  EXPECT_EQ(2u, window.child->seen.size());
}

TEST_F(WindowImplTest, FailedCreateEndsWithOneFinalMessage) {
  CLifeWindow window;
  window.failCreate = true;
  RECT rect = {0, 0, 50, 50};
  EXPECT_EQ(nullptr, window.Create(host.get(), &rect));
  EXPECT_EQ(nullptr, window.m_hWnd);
  EXPECT_EQ(1, window.finals);
}

TEST_F(WindowImplTest, FinalMessageWaitsForTheHandlerThatDestroyedTheWindow) {
  CLifeWindow window;
  RECT rect = {0, 0, 50, 50};
  HWND hwnd = window.Create(host.get(), &rect);
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(9, ::SendMessageW(hwnd, kMsgDestroySelf, 0, 0));
  EXPECT_EQ(0, window.finalsDuringHandler);
  EXPECT_EQ(1, window.finals);
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(nullptr, window.m_hWnd);
}

TEST_F(WindowImplTest, OwnClassWindowOutlivingItsObjectStillAnswers) {
  HWND hwnd = nullptr;
  {
    CLifeWindow window;
    RECT rect = {0, 0, 50, 50};
    hwnd = window.Create(host.get(), &rect);
    ASSERT_NE(nullptr, hwnd);
  }
  EXPECT_EQ(0, ::SendMessageW(hwnd, kMsgPing, 0, 0));  // DefWindowProcW now
  EXPECT_TRUE(::DestroyWindow(hwnd));
}

}  // namespace
