#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/SysUtil.h"
#include "core/TraceView.h"
#include "ui/dialogs/AddTabChoice.h"

namespace {

constexpr char kGroupsText[] =
    "[CORE]\nM=kelcore.dll\n"
    "[NETWORK]\nM=kelnet.dll\n"
    "[MEDIA]\nM=kelaudio.dll\n";

// Entries as the store keeps them: entry 0 for every process, then one per pid.
class AddTabChoiceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, m_groups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1)); }

  CTraceProcessStat* AddEntry(uint32_t pid, uint32_t groupMask, std::vector<uint64_t> counts) {
    m_owned.push_back(std::make_unique<CTraceProcessStat>(pid));
    CTraceProcessStat* entry = m_owned.back().get();
    entry->m_groupMask = groupMask;
    entry->m_groupCounts.count = 0;
    for (uint64_t count : counts) EXPECT_EQ(1, entry->m_groupCounts.Append(count));
    EXPECT_EQ(1, m_entries.Append(entry));
    return entry;
  }

  CModuleGroups m_groups;  // CORE 1, NETWORK 2, MEDIA 4, UNKNOWN 8
  ProcessEntries m_entries;
  std::vector<std::unique_ptr<CTraceProcessStat>> m_owned;
};

TEST_F(AddTabChoiceTest, ProcessesAreOfferedFromThreeEntriesOn) {
  EXPECT_FALSE(AddTabOffersProcesses(nullptr));
  EXPECT_FALSE(AddTabOffersProcesses(&m_entries));
  AddEntry(0, 1, {5});
  AddEntry(100, 1, {5});
  EXPECT_FALSE(AddTabOffersProcesses(&m_entries));
  AddEntry(200, 1, {5});
  EXPECT_TRUE(AddTabOffersProcesses(&m_entries));
}

struct InitialCase {
  const char* what;
  uint32_t all;
  uint32_t pid;
  size_t expected;
};

TEST_F(AddTabChoiceTest, StartsOnTheGivenPidOrOnAllProcesses) {
  AddEntry(0, 0xF, {});
  AddEntry(100, 1, {});
  AddEntry(200, 2, {});
  AddEntry(300, 4, {});
  const InitialCase cases[] = {
      {"the given pid", 0, 200, 2},
      {"the last entry", 0, 300, 3},
      {"all processes asked", 1, 200, 0},
      {"a pid without an entry", 0, 999, 0},
      {"pid 0 is entry 0's, which is all processes", 0, 0, 0},
  };
  for (const InitialCase& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t index = AddTabInitialEntry(&m_entries, c.all, c.pid);
    EXPECT_EQ(c.expected, index);
    // What OK reads back for that start is always one of the entries.
    const AddTabProcess process = AddTabProcessAt(&m_entries, index);
    EXPECT_EQ(c.expected == 0 ? 1u : 0u, process.all);
    EXPECT_EQ(c.expected == 0 ? 0u : m_entries[c.expected]->m_pid, process.pid);
  }
}

TEST_F(AddTabChoiceTest, WithFewEntriesOnlyAllProcessesIsOffered) {
  AddEntry(0, 1, {3});
  AddEntry(100, 1, {3});
  EXPECT_EQ(0u, AddTabInitialEntry(&m_entries, 0, 100));
  const AddTabProcess process = AddTabProcessAt(&m_entries, 1);
  EXPECT_EQ(1u, process.all);
  EXPECT_EQ(0u, process.pid);
  EXPECT_EQ(m_entries[0], AddTabEntryAt(&m_entries, 1));
}

TEST_F(AddTabChoiceTest, AnIndexOutsideTheEntriesMeansAllProcesses) {
  AddEntry(0, 1, {});
  AddEntry(100, 1, {});
  AddEntry(200, 1, {});
  for (size_t index : {size_t(3), size_t(4), size_t(1000), SIZE_MAX}) {
    const AddTabProcess process = AddTabProcessAt(&m_entries, index);
    EXPECT_EQ(1u, process.all) << index;
    EXPECT_EQ(0u, process.pid) << index;
    EXPECT_EQ(m_entries[0], AddTabEntryAt(&m_entries, index)) << index;
  }
  EXPECT_EQ(nullptr, AddTabEntryAt(nullptr, 0));
  const AddTabProcess none = AddTabProcessAt(nullptr, 2);
  EXPECT_EQ(1u, none.all);
}

TEST_F(AddTabChoiceTest, GroupRowsAreTheEntrysGroupsInTableOrder) {
  AddEntry(0, 0xF, {10, 20, 30, 40});
  CTraceProcessStat* network = AddEntry(100, 0x2 | 0x8, {0, 7, 0, 2});
  AddEntry(200, 0, {});

  AddTabGroupRow rows[8];
  ASSERT_EQ(4u, AddTabGroupRows(m_groups, m_entries[0], rows, 8));
  EXPECT_STREQ(L"CORE", rows[0].name);
  EXPECT_STREQ(L"UNKNOWN", rows[3].name);
  EXPECT_EQ(30u, rows[2].count);
  EXPECT_EQ(4u, rows[2].flag);

  ASSERT_EQ(2u, AddTabGroupRows(m_groups, network, rows, 8));
  EXPECT_STREQ(L"NETWORK", rows[0].name);
  EXPECT_EQ(7u, rows[0].count);
  EXPECT_EQ(2u, rows[0].flag);
  EXPECT_STREQ(L"UNKNOWN", rows[1].name);
  EXPECT_EQ(2u, rows[1].count);
  EXPECT_EQ(8u, rows[1].flag);

  EXPECT_EQ(0u, AddTabGroupRows(m_groups, m_entries[2], rows, 8));
  EXPECT_EQ(0u, AddTabGroupRows(m_groups, nullptr, rows, 8));
  EXPECT_EQ(1u, AddTabGroupRows(m_groups, m_entries[0], rows, 1));
  CModuleGroups empty;
  EXPECT_EQ(0u, AddTabGroupRows(empty, m_entries[0], rows, 8));
}

TEST_F(AddTabChoiceTest, ProcessLabelsNameTheProcessAndAreCut) {
  CProcessList names;  // empty: every name is unknown
  EXPECT_STREQ(L"N/A (pid:4242)", FormatProcessLabel(names, 4242).c_str());
  ASSERT_EQ(1, names.Refresh());
  const uint32_t self = ::GetCurrentProcessId();
  const std::wstring expected = std::wstring(names.GetNameById(self).c_str()) + L" (pid:" + std::to_wstring(self) + L")";
  EXPECT_EQ(expected, FormatProcessLabel(names, self).c_str());
  EXPECT_GE(kProcessLabelChars - 1, FormatProcessLabel(names, 0xFFFFFFFFu).GetLength());
}

}  // namespace
