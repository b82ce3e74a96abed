#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "resource.h"
#include "ui/dialogs/ColumnChoice.h"

namespace {

std::vector<uint32_t> Available(const CColumnChoice& choice) {
  std::vector<uint32_t> bits;
  for (size_t i = 0; i < choice.AvailableCount(); ++i) bits.push_back(choice.AvailableAt(int(i)));
  return bits;
}

std::vector<uint32_t> Current(const CColumnChoice& choice) {
  std::vector<uint32_t> bits;
  for (size_t i = 0; i < choice.CurrentCount(); ++i) bits.push_back(choice.CurrentAt(int(i)));
  return bits;
}

CColumnChoice Filled(std::vector<uint32_t> order) {
  CColumnChoice choice;
  choice.Fill(order.data(), order.size());
  return choice;
}

struct FillCase {
  const char* what;
  std::vector<uint32_t> order;
  std::vector<uint32_t> available;
  std::vector<uint32_t> current;
};

TEST(ColumnChoice, FillSplitsTheNineColumnsIntoTheTwoLists) {
  const FillCase cases[] = {
      {"defaults", {1, 2, 8, 32, 256}, {4, 16, 64, 128}, {1, 2, 8, 32, 256}},
      {"order as given, not bit order", {256, 128, 64, 32, 16, 8, 4, 2, 1}, {}, {256, 128, 64, 32, 16, 8, 4, 2, 1}},
      {"nothing shown", {}, {1, 2, 4, 8, 16, 32, 64, 128, 256}, {}},
      {"entries that are no column are skipped", {1, 3, 0, 512, 0x80000000u, 256}, {2, 4, 8, 16, 32, 64, 128},
       {1, 256}},
      {"a repeated entry is shown once", {1, 256, 1, 256}, {2, 4, 8, 16, 32, 64, 128}, {1, 256}},
  };
  for (const FillCase& c : cases) {
    SCOPED_TRACE(c.what);
    const CColumnChoice choice = Filled(c.order);
    EXPECT_EQ(c.available, Available(choice));
    EXPECT_EQ(c.current, Current(choice));
    EXPECT_FALSE(choice.Changed());
  }
}

TEST(ColumnChoice, ResetGivesExactlyTheFiveDefaultColumns) {
  CColumnChoice choice = Filled({256, 128, 64, 32, 16, 8, 4, 2, 1});
  choice.Reset();
  EXPECT_TRUE(choice.Changed());
  uint32_t mask = 0;
  uint32_t order[kColumnKinds] = {};
  ASSERT_EQ(5u, choice.Result(&mask, order));
  EXPECT_EQ(0x12Bu, mask);
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 8, 32, 256}), std::vector<uint32_t>(order, order + 5));
  EXPECT_EQ((std::vector<uint32_t>{4, 16, 64, 128}), Available(choice));
}

struct ButtonCase {
  int availableRow;
  int currentRow;
  ColumnButtons expected;
};

TEST(ColumnChoice, ButtonsFollowTheSelections) {
  // Current: "#", "Time", "Pid", "Message"; Available: 4, 8, 16, 64, 128.
  const CColumnChoice choice = Filled({1, 2, 32, 256});
  const ButtonCase cases[] = {
      {-1, -1, {false, false, false, false}},
      {0, -1, {true, false, false, false}},
      {4, -1, {true, false, false, false}},
      {5, -1, {false, false, false, false}},     // past the end of Available
      {-1, 0, {false, false, false, true}},      // "#" first: no remove, no up
      {-1, 1, {false, true, true, true}},        // "Time"
      {-1, 3, {false, false, true, false}},      // "Message" last: no remove, no down
      {-1, 4, {false, false, false, false}},     // past the end of Current
      {2, 2, {true, true, true, true}},
  };
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "available " << c.availableRow << " current " << c.currentRow);
    const ColumnButtons got = choice.Buttons(c.availableRow, c.currentRow);
    EXPECT_EQ(c.expected.add, got.add);
    EXPECT_EQ(c.expected.remove, got.remove);
    EXPECT_EQ(c.expected.up, got.up);
    EXPECT_EQ(c.expected.down, got.down);
  }
}

TEST(ColumnChoice, AddAndRemoveInsertBehindTheOtherListsSelection) {
  CColumnChoice choice = Filled({1, 256});  // Available 2,4,8,16,32,64,128
  EXPECT_EQ(1, choice.Add(0, 0));                   // "Time" behind "#"
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 256}), Current(choice));
  EXPECT_EQ(3, choice.Add(5, -1));                  // "Tid" at the end
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 256, 128}), Current(choice));
  EXPECT_EQ((std::vector<uint32_t>{4, 8, 16, 32, 64}), Available(choice));

  EXPECT_EQ(1, choice.Remove(1, 0));                // "Time" back behind "Module"
  EXPECT_EQ((std::vector<uint32_t>{4, 2, 8, 16, 32, 64}), Available(choice));
  EXPECT_EQ(6, choice.Remove(2, -1));               // "Tid" at the end
  EXPECT_EQ((std::vector<uint32_t>{4, 2, 8, 16, 32, 64, 128}), Available(choice));
  EXPECT_EQ((std::vector<uint32_t>{1, 256}), Current(choice));
  EXPECT_TRUE(choice.Changed());
}

TEST(ColumnChoice, NumberAndMessageMoveButNeverLeave) {
  CColumnChoice choice = Filled({1, 2, 256});
  EXPECT_EQ(-1, choice.Remove(0, -1));
  EXPECT_EQ(-1, choice.Remove(2, -1));
  EXPECT_FALSE(choice.Changed());
  EXPECT_EQ(1, choice.MoveDown(0));
  EXPECT_EQ(1, choice.MoveUp(2));
  EXPECT_EQ((std::vector<uint32_t>{2, 256, 1}), Current(choice));
  EXPECT_EQ(-1, choice.Remove(1, -1));
  EXPECT_EQ(-1, choice.Remove(2, -1));
  EXPECT_EQ(3u, choice.CurrentCount());
}

TEST(ColumnChoice, MovesRefusedAtTheEndsAndOutsideTheList) {
  CColumnChoice choice = Filled({1, 2, 256});
  EXPECT_EQ(-1, choice.MoveUp(0));
  EXPECT_EQ(-1, choice.MoveDown(2));
  EXPECT_EQ(-1, choice.MoveUp(3));
  EXPECT_EQ(-1, choice.MoveDown(-1));
  EXPECT_EQ(-1, choice.Add(-1, 0));
  EXPECT_EQ(-1, choice.Add(7, 0));
  EXPECT_EQ(-1, choice.Remove(-1, 0));
  EXPECT_FALSE(choice.Changed());
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 256}), Current(choice));
}

// Whatever a user clicks, every column stays in exactly one list, "#" and
// "Message" stay shown, and the result is the shown list.
TEST(ColumnChoice, RandomClicksKeepEveryColumnOnceAndTheFixedOnesShown) {
  std::mt19937 random(17);
  CColumnChoice choice = Filled({1, 2, 8, 32, 256});
  for (int step = 0; step < 5000; ++step) {
    const int availableRow = int(random() % 11) - 1;
    const int currentRow = int(random() % 11) - 1;
    switch (random() % 5) {
      case 0: choice.Add(availableRow, currentRow); break;
      case 1: choice.Remove(currentRow, availableRow); break;
      case 2: choice.MoveUp(currentRow); break;
      case 3: choice.MoveDown(currentRow); break;
      default:
        if (random() % 50 == 0) choice.Reset();
        break;
    }
    uint32_t seen = 0;
    for (uint32_t bit : Available(choice)) {
      ASSERT_EQ(0u, seen & bit);
      seen |= bit;
    }
    for (uint32_t bit : Current(choice)) {
      ASSERT_EQ(0u, seen & bit);
      seen |= bit;
    }
    ASSERT_EQ(0x1FFu, seen);
    uint32_t mask = 0;
    uint32_t order[kColumnKinds] = {};
    const uint32_t count = choice.Result(&mask, order);
    ASSERT_EQ(choice.CurrentCount(), count);
    ASSERT_EQ(kColumnNumber | kColumnMessage, mask & (kColumnNumber | kColumnMessage));
    for (uint32_t bit : Available(choice)) ASSERT_EQ(0u, mask & bit);
  }
}

TEST(ColumnChoice, NamesComeFromTheStringTableByBitIndex) {
  EXPECT_EQ(UINT(IDS_COLUMN_NUMBER), ColumnNameStringId(kColumnNumber));
  EXPECT_EQ(UINT(IDS_COLUMN_NAME), ColumnNameStringId(kColumnName));
  EXPECT_EQ(UINT(IDS_COLUMN_MESSAGE), ColumnNameStringId(kColumnMessage));
  for (uint32_t notOne : {0u, 3u, 512u, 0x80000000u}) {
    EXPECT_EQ(0u, ColumnNameStringId(notOne)) << notOne;
  }
}

}  // namespace
