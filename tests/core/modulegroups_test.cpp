#include "core/ModuleGroups.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/StrUtil.h"

namespace {

// Loads a table from text; the text is not terminated on purpose by length.
void Load(CModuleGroups* table, const std::string& text) {
  ASSERT_EQ(1, table->LoadFromText(text.data(), text.size()));
}

std::string TableOfGroups(int groups) {
  std::string text;
  for (int i = 0; i < groups; ++i) {
    text += "[G" + std::to_string(i) + "]\n";
    text += "M=m" + std::to_string(i) + ".dll;x" + std::to_string(i) + ".dll\n";
  }
  return text;
}

// Every line form of the format in one fixture: comments, blank lines,
// leading blanks, CR / LF / CRLF runs, keys, empty pieces, a long name.
const char kFixture[] =
    "notagroup.dll;stray.dll\r\n"   // before any group: ignored
    "; a comment\n"
    "   \n"
    "[Core]\r\n"
    "M=kelcore.dll;KelBase.DLL\r\r\n"
    "   XY=kelhost.exe\n"
    "[Net] trailing text\n"
    "kelnet.dll;;kelhttp.dll;\n"      // empty piece between; trailing ";" adds none
    "  ; an indented comment\n"
    "[ThisNameIsMuchTooLong]\n"
    "A=\n"                            // nothing after "=": no word
    "[NoClose\n"
    "a=b=c.dll\n";                    // only the first "=" separates the key

TEST(ModuleGroupsParse, ReadsEveryLineFormOfTheFixture) {
  CModuleGroups table;
  Load(&table, kFixture);
  ASSERT_EQ(5u, table.Count());  // four groups and the catch-all

  struct Row {
    const wchar_t* name;
    uint32_t flag;
    const wchar_t* words;
  };
  const Row rows[] = {
      {L"Core", 0x1, L"kelcore.dll;kelbase.dll;kelhost.exe"},
      {L"Net", 0x2, L"kelnet.dll;;kelhttp.dll"},
      {L"ThisNameIsMuchT", 0x4, L""},
      {L"NoClose", 0x8, L"b=c.dll"},
      {L"UNKNOWN", 0x10, L""},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    const CModuleGroup* group = table.GroupAt(i);
    ASSERT_NE(nullptr, group);
    EXPECT_STREQ(rows[i].name, group->Name());
    EXPECT_EQ(rows[i].flag, group->Flag());
    EXPECT_STREQ(rows[i].words, group->GetWordList().c_str());
  }
  EXPECT_EQ(nullptr, table.GroupAt(5));
}

TEST(ModuleGroupsParse, WordsCarryTheCrcOfTheirLowerCaseText) {
  CModuleGroups table;
  Load(&table, "[A]\nMiXeD.dll\n");
  const CModuleGroup* group = table.GroupAt(0);
  ASSERT_EQ(1u, group->WordCount());
  const std::wstring lower = L"mixed.dll";
  EXPECT_STREQ(lower.c_str(), group->WordAt(0));
  EXPECT_EQ(Crc32(lower.data(), lower.size() * sizeof(wchar_t)), group->m_crcs[0]);
}

TEST(ModuleGroupsParse, AFullTableKeepsTheLastGroupsWords) {
  CModuleGroups table;
  // 32 headers: the 32nd has no bit left (the catch-all takes bit 31).
  Load(&table, TableOfGroups(32));
  ASSERT_EQ(32u, table.Count());
  EXPECT_STREQ(L"G30", table.GroupAt(30)->Name());
  EXPECT_STREQ(L"m30.dll;x30.dll", table.GroupAt(30)->GetWordList().c_str());
  EXPECT_EQ(30, table.Find(L"x30.dll"));
  EXPECT_EQ(1u << 31, table.CatchAllFlag());
  EXPECT_EQ(31, table.CatchAllIndex());
  EXPECT_EQ(-1, table.FindByName(L"G31"));
  EXPECT_EQ(31, table.Find(L"m31.dll"));  // the dropped group's words are nobody's
}

TEST(ModuleGroupsParse, ASmallTablePutsTheCatchAllRightAfterItsGroups) {
  CModuleGroups table;
  Load(&table, TableOfGroups(3));
  EXPECT_EQ(3, table.CatchAllIndex());
  EXPECT_EQ(1u << 3, table.CatchAllFlag());
  EXPECT_EQ(3, table.FindByName(L"unknown"));
  EXPECT_EQ(3, table.IndexOfFlag(1u << 3));
  EXPECT_EQ(-1, table.IndexOfFlag(1u << 31));
  EXPECT_EQ(3, table.Find(L"nowhere.dll"));
  EXPECT_STREQ(L"UNKNOWN", table.NameAt(31));  // outside the table: the catch-all
}

TEST(ModuleGroupsParse, EmptyTextGivesOnlyTheCatchAll) {
  CModuleGroups table;
  Load(&table, "");
  ASSERT_EQ(1u, table.Count());
  EXPECT_EQ(1u, table.CatchAllFlag());
  EXPECT_EQ(0, table.Find(L"anything.dll"));
  EXPECT_EQ(-1, table.FindEnabled(L"anything.dll", 1u));
}

TEST(ModuleGroupsParse, AnEmptyTableFindsNothing) {
  CModuleGroups table;
  EXPECT_EQ(-1, table.Find(L"a.dll"));
  EXPECT_EQ(-1, table.FindEnabled(L"a.dll", 0));
  EXPECT_EQ(0u, table.CatchAllFlag());
  EXPECT_STREQ(L"", table.NameAt(0));
  EXPECT_EQ(0u, table.ParseNames(L"UNKNOWN"));
}

TEST(ModuleGroupsFind, MapsModulesToGroups) {
  CModuleGroups table;
  const std::wstring long127(127, L'q');
  const std::string text = "[A]\nalpha.dll;" + std::string(127, 'q') + "\n[B]\nbeta.dll;;gamma.exe\n";
  Load(&table, text);
  struct Row {
    std::wstring module;
    int group;
  };
  const Row rows[] = {
      {L"alpha.dll", 0},
      {L"ALPHA.Dll", 0},                      // case-blind
      {L"beta.dll", 1},
      {L"gamma.exe", 1},
      {L"", 1},                               // the empty word of B
      {L"alpha", 2},                          // no prefix matches
      {L"alpha.dll ", 2},
      {long127 + std::wstring(73, L'z'), 0},  // 200 characters: the first 127 count
      {std::wstring(126, L'q'), 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.module.size() << " chars");
    EXPECT_EQ(row.group, table.Find(row.module.c_str()));
  }
  EXPECT_EQ(1, table.Find(nullptr));  // looked up as ""
}

TEST(ModuleGroupsFind, WithoutAnEmptyWordTheEmptyNameIsUnknown) {
  CModuleGroups table;
  Load(&table, "[A]\na.dll\n");
  EXPECT_EQ(1, table.Find(L""));
}

TEST(ModuleGroupsFind, FindEnabledHonoursTheIgnoreMask) {
  CModuleGroups table;
  Load(&table, "[A]\na.dll\n[B]\nb.dll\n");
  struct Row {
    const wchar_t* module;
    uint32_t ignore;
    int expected;
  };
  const Row rows[] = {
      {L"a.dll", 0, 0}, {L"a.dll", 0x1, -1}, {L"a.dll", 0x2, 0},
      {L"x.dll", 0, 2}, {L"x.dll", 0x4, -1}, {L"x.dll", 0x3, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ignore);
    EXPECT_EQ(row.expected, table.FindEnabled(row.module, row.ignore));
  }
}

TEST(ModuleGroupsFind, ACachedHitNeverCrossesTables) {
  CModuleGroups first;
  CModuleGroups second;
  Load(&first, "[A]\nx.dll\n[B]\nshared.dll\n");
  Load(&second, "[C]\nshared.dll\n");
  EXPECT_EQ(1, first.Find(L"shared.dll"));   // now cached on this thread
  EXPECT_EQ(0, second.Find(L"shared.dll"));
  EXPECT_EQ(1, first.Find(L"shared.dll"));
  Load(&first, "[A]\nother.dll\n");          // same object, new contents
  EXPECT_EQ(1, first.Find(L"shared.dll"));   // the catch-all now
  first.Clear();
  EXPECT_EQ(-1, first.Find(L"shared.dll"));
}

// Two threads run lookups at the same time, each with modules of its own
// groups, in runs of two so that half the answers come from the cache.
TEST(ModuleGroupsFind, TwoThreadsAlwaysGetTheirOwnGroups) {
  CModuleGroups table;
  Load(&table, "[A]\na1.dll;a2.dll\n[B]\nb1.dll;b2.dll\n[C]\nc1.dll\n[D]\nd1.dll\n");
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, start);
  constexpr int kLookups = 100000;
  struct Case {
    const wchar_t* module;
    int group;
  };
  std::atomic<int> wrong{0};
  auto run = [&](std::vector<Case> cases) {
    WaitForSingleObject(start, INFINITE);
    for (int i = 0; i < kLookups; ++i) {
      const Case& c = cases[(i / 2) % cases.size()];
      if (table.Find(c.module) != c.group) wrong.fetch_add(1);
    }
  };
  std::thread one(run, std::vector<Case>{{L"a1.dll", 0}, {L"C1.DLL", 2}, {L"a2.dll", 0}, {L"zz.dll", 4}});
  std::thread two(run, std::vector<Case>{{L"b1.dll", 1}, {L"d1.dll", 3}, {L"B2.dll", 1}, {L"a9.dll", 4}});
  SetEvent(start);
  one.join();
  two.join();
  CloseHandle(start);
  EXPECT_EQ(0, wrong.load());
}

TEST(ModuleGroupsNames, ParseAndFormat) {
  CModuleGroups table;
  Load(&table, "[Core]\nc.dll\n[Net]\nn.dll\n[Media]\nm.dll\n");
  EXPECT_EQ(0x2u, table.ParseNames(L"nEt;nosuch;"));
  EXPECT_EQ(0x5u, table.ParseNames(L"media;CORE"));
  EXPECT_EQ(0x8u, table.ParseNames(L"unknown"));
  EXPECT_EQ(0u, table.ParseNames(L""));
  EXPECT_EQ(0u, table.ParseNames(nullptr));

  EXPECT_STREQ(L"Net;", table.FormatNames(0x2).c_str());
  EXPECT_STREQ(L"Core;Media;UNKNOWN;", table.FormatNames(0xD).c_str());
  EXPECT_STREQ(L"", table.FormatNames(0).c_str());
  EXPECT_STREQ(L"Core|Media", table.FormatNamesPipe(0x5).c_str());
  EXPECT_STREQ(L"Net", table.FormatNamesPipe(0x2 | 0x80000000u).c_str());
  EXPECT_EQ(0x7u, table.ParseNames(table.FormatNames(0x7).c_str()));
}

TEST(ModuleGroupBits, HighestBitIndexAndBitCount) {
  struct Row {
    uint32_t value;
    int highest;
    int count;
  };
  const Row rows[] = {{0, 0, 0}, {1, 0, 1}, {2, 1, 1}, {3, 1, 2}, {0x80, 7, 1},
                      {0x80000000u, 31, 1}, {0xFFFFFFFFu, 31, 32}, {0x00010100u, 16, 2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_EQ(row.highest, HighestBitIndex(row.value));
    EXPECT_EQ(row.count, BitCount(row.value));
  }
}

TEST(ModuleGroupsResource, LoadsTheEmbeddedTable) {
  CModuleGroups table;
  ASSERT_EQ(1, table.LoadFromResource());
  ASSERT_GE(table.Count(), 2u);
  const int unknown = table.FindByName(L"UNKNOWN");
  EXPECT_EQ(table.CatchAllIndex(), unknown);
  EXPECT_EQ(1u << unknown, table.CatchAllFlag());
  // Every listed word of every group maps back to its own group.
  for (size_t g = 0; g + 1 < table.Count(); ++g) {
    const CModuleGroup* group = table.GroupAt(g);
    EXPECT_EQ(1u << g, group->Flag());
    EXPECT_GT(group->WordCount(), 0u) << "group " << g;
    for (size_t w = 0; w < group->WordCount(); ++w) {
      EXPECT_EQ(static_cast<int>(g), table.Find(group->WordAt(w))) << group->WordAt(w);
    }
  }
  EXPECT_EQ(unknown, table.Find(L"not-a-module-of-ours.dll"));
}

}  // namespace
