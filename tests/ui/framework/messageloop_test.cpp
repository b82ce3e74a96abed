#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/ui/UiHarness.h"
#include "ui/framework/MessageLoop.h"
#include "ui/framework/WindowImpl.h"

namespace {

constexpr UINT kMsgA = WM_APP + 30;
constexpr UINT kMsgB = WM_APP + 31;
constexpr UINT kMsgC = WM_APP + 32;
constexpr UINT kMsgD = WM_APP + 33;

class CReceiver : public CWindowImpl<CReceiver> {
 public:
  std::vector<UINT> received;

  BEGIN_MSG_MAP(CReceiver)
    MESSAGE_RANGE_HANDLER(kMsgA, kMsgD, OnMessage)
  END_MSG_MAP()

  LRESULT OnMessage(UINT msg, WPARAM, LPARAM) {
    received.push_back(msg);
    return 0;
  }
};

class CEatingFilter : public CMessageFilter {
 public:
  CEatingFilter(UINT eats, std::vector<int>* order, int name) : m_eats(eats), m_order(order), m_name(name) {}
  std::vector<UINT> seen;

  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message >= kMsgA && msg->message <= kMsgD) {
      seen.push_back(msg->message);
      m_order->push_back(m_name);
    }
    return msg->message == m_eats;
  }

 private:
  UINT m_eats;
  std::vector<int>* m_order;
  int m_name;
};

// Runs a script, one step per idle period: a message to post, or 0 to quit.
class CScriptedIdle : public CIdleHandler {
 public:
  CScriptedIdle(HWND target, std::vector<UINT> steps, int exitCode, const std::vector<UINT>* received)
      : m_target(target), m_steps(std::move(steps)), m_exitCode(exitCode), m_received(received) {}
  int calls = 0;
  std::vector<size_t> receivedAtIdle;

  BOOL OnIdle() override {
    receivedAtIdle.push_back(m_received->size());
    const size_t step = size_t(calls++);
    if (step >= m_steps.size() || m_steps[step] == 0) {
      ::PostQuitMessage(m_exitCode);
    } else {
      ::PostMessageW(m_target, m_steps[step], 0, 0);
    }
    return FALSE;
  }

 private:
  HWND m_target;
  std::vector<UINT> m_steps;
  int m_exitCode;
  const std::vector<UINT>* m_received;
};

class MessageLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RECT rect = {0, 0, 10, 10};
    ASSERT_NE(nullptr, receiver.Create(host.get(), &rect));
  }
  kt_test::CTestHostWindow host;
  CReceiver receiver;
};

TEST_F(MessageLoopTest, FiltersSeeEveryMessageAndAConsumedOneIsNotDispatched) {
  CMessageLoop loop;
  std::vector<int> order;
  CEatingFilter first(kMsgB, &order, 1);
  CEatingFilter last(kMsgB, &order, 2);
  ASSERT_TRUE(loop.AddMessageFilter(&first));
  ASSERT_TRUE(loop.AddMessageFilter(&last));
  CScriptedIdle idle(receiver.m_hWnd, {0}, 7, &receiver.received);
  ASSERT_TRUE(loop.AddIdleHandler(&idle));
  receiver.PostMessage(kMsgA);
  receiver.PostMessage(kMsgB);
  receiver.PostMessage(kMsgC);

  EXPECT_EQ(7, loop.Run());
  EXPECT_EQ((std::vector<UINT>{kMsgA, kMsgC}), receiver.received);
  EXPECT_EQ((std::vector<UINT>{kMsgA, kMsgB, kMsgC}), last.seen);
  EXPECT_EQ((std::vector<UINT>{kMsgA, kMsgC}), first.seen);  // the later filter consumed B first
  EXPECT_EQ((std::vector<int>{2, 1, 2, 2, 1}), order);
  EXPECT_EQ(1, idle.calls);
  EXPECT_EQ((std::vector<size_t>{2}), idle.receivedAtIdle);  // idle only once the queue ran empty
}

TEST_F(MessageLoopTest, IdleHandlersRunAgainAfterEachNewMessage) {
  CMessageLoop loop;
  CScriptedIdle idle(receiver.m_hWnd, {kMsgD, kMsgA, 0}, 3, &receiver.received);
  ASSERT_TRUE(loop.AddIdleHandler(&idle));
  EXPECT_EQ(3, loop.Run());
  EXPECT_EQ((std::vector<UINT>{kMsgD, kMsgA}), receiver.received);
  EXPECT_EQ((std::vector<size_t>{0, 1, 2}), idle.receivedAtIdle);
}

TEST_F(MessageLoopTest, RemovedFilterAndIdleHandlerAreNotCalled) {
  CMessageLoop loop;
  std::vector<int> order;
  CEatingFilter removed(kMsgA, &order, 1);
  CScriptedIdle removedIdle(receiver.m_hWnd, {kMsgB}, 99, &receiver.received);
  CScriptedIdle quitter(receiver.m_hWnd, {0}, 5, &receiver.received);
  ASSERT_TRUE(loop.AddMessageFilter(&removed));
  ASSERT_TRUE(loop.AddIdleHandler(&removedIdle));
  ASSERT_TRUE(loop.AddIdleHandler(&quitter));
  EXPECT_TRUE(loop.RemoveMessageFilter(&removed));
  EXPECT_TRUE(loop.RemoveIdleHandler(&removedIdle));
  EXPECT_FALSE(loop.RemoveIdleHandler(&removedIdle));
  receiver.PostMessage(kMsgA);
  EXPECT_EQ(5, loop.Run());
  EXPECT_EQ((std::vector<UINT>{kMsgA}), receiver.received);
  EXPECT_TRUE(removed.seen.empty());
  EXPECT_EQ(0, removedIdle.calls);
}

TEST(MessageLoop, FirstLoopOfAThreadIsItsLoop) {
  EXPECT_EQ(nullptr, CMessageLoop::ForCurrentThread());
  {
    CMessageLoop outer;
    CMessageLoop inner;
    EXPECT_EQ(&outer, CMessageLoop::ForCurrentThread());
    CMessageLoop* other = &outer;
    std::thread([&other] { other = CMessageLoop::ForCurrentThread(); }).join();
    EXPECT_EQ(nullptr, other);
  }
  EXPECT_EQ(nullptr, CMessageLoop::ForCurrentThread());
}

}  // namespace
