#include "ui/dialogs/OptionsRules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace ktdlg;

struct ClampRow {
  int64_t typed;
  uint32_t memory;
  uint32_t size;
};

TEST(OptionsRules, MemoryAndSizeAreClampedBeforeRounding) {
  const ClampRow rows[] = {
      {0, 256, 2},
      {1, 256, 2},
      {3, 256, 4},
      {100, 256, 100},
      {255, 256, 256},
      {257, 260, 258},
      {509, 512, 510},
      {600, 512, 600},
      {2047, 512, 2048},
      {2049, 512, 2048},
      {4294967295LL, 512, 2048},  // would wrap to 0 if rounded in 32 bits first
      {4294967296LL, 512, 2048},
      {INT64_MAX, 512, 2048},
      {-1, 256, 2},
      {INT64_MIN, 256, 2},
  };
  for (const ClampRow& row : rows) {
    EXPECT_EQ(row.memory, ClampMaxMemTyped(row.typed)) << row.typed;
    if (row.typed >= 0) {
      EXPECT_EQ(row.size, ClampLogSizeTyped(uint64_t(row.typed))) << row.typed;
    }
  }
  // The size is read unsigned: its whole range is held, nothing wraps.
  EXPECT_EQ(2048u, ClampLogSizeTyped(UINT64_MAX));
  EXPECT_EQ(2048u, ClampLogSizeTyped(uint64_t(1) << 32));
}

struct RangeRow {
  int64_t megabytes;
  const wchar_t* label;
};

TEST(OptionsRules, TraceRangeLabel) {
  const RangeRow rows[] = {
      {256, L"(890000~1335000 trace)"},
      {512, L"(1780000~2670000 trace)"},
      {600, L"(2090000~3135000 trace)"},
      {0, L"(0~0 trace)"},
      {2, L"(0~0 trace)"},
      {3, L"(10000~15000 trace)"},
      {-5, L"(0~0 trace)"},
      // 64-bit products: q = 1501199875, so no 32-bit wrap of q * 15000.
      {4294967295LL, L"(15011998750000~22517998125000 trace)"},
      {INT64_MAX, L"(15011998750000~22517998125000 trace)"},
  };
  for (const RangeRow& row : rows) {
    EXPECT_STREQ(row.label, FormatTraceRange(row.megabytes).c_str()) << row.megabytes;
  }
}

struct LeadingRow {
  const wchar_t* text;
  int64_t leading;
};

// The trace-range label reads the memory edit's text as it is being typed.
TEST(OptionsRules, LeadingNumberOfTheMemoryText) {
  const LeadingRow rows[] = {
      {L"256", 256},
      {L"  600 ", 600},
      {L"+12", 12},
      {L"-3", -3},
      {L"4294967295", 4294967295LL},
      {L"99999999999999999999999", INT64_MAX},
      {L"-99999999999999999999999", INT64_MIN},
      {L"9223372036854775807", INT64_MAX},
      {L"-9223372036854775808", INT64_MIN},
      {L"", 0},
      {L"abc", 0},
      {L"12abc", 12},
      {L"-", 0},
      {L"1,024", 1},
  };
  for (const LeadingRow& row : rows) {
    EXPECT_EQ(row.leading, LeadingNumber(row.text)) << testing::PrintToString(std::wstring(row.text));
  }
  EXPECT_EQ(0, LeadingNumber(nullptr));
}

TEST(OptionsRules, FontLabelAndFolder) {
  EXPECT_STREQ(L"Tahoma 10pt", FormatFontLabel(L"Tahoma", 100).c_str());
  EXPECT_STREQ(L"Courier New 8pt", FormatFontLabel(L"Courier New", 85).c_str());
  EXPECT_STREQ(L"x 0pt", FormatFontLabel(L"x", 9).c_str());
  EXPECT_STREQ(L"C:\\Program Files\\kt", FolderOfPath(L"C:\\Program Files\\kt\\keltracer.exe").c_str());
  EXPECT_STREQ(L"C:", FolderOfPath(L"C:\\keltracer.exe").c_str());
  EXPECT_STREQ(L"", FolderOfPath(L"keltracer.exe").c_str());
  EXPECT_STREQ(L"", FolderOfPath(nullptr).c_str());
}

class OptionsStore : public testing::Test {
 protected:
  void SetUp() override {
    const std::string table = "[NET]\nM=net.dll\n[MEDIA]\nM=media.dll\n[CORE]\nM=core.dll\n";
    ASSERT_EQ(1, groups.LoadFromText(table.data(), table.size()));
    // CAppConfig's constructor leaves the block empty; give it the values a
    // freshly read ini file holds.
    COptionValues defaults = DefaultOptionValues();
    StoreOptionValues(defaults, groups, L"C:\\kt\\keltracer.exe", config);
  }

  CModuleGroups groups;
  CAppConfig config{&groups};
};

TEST_F(OptionsStore, OkWithoutChangesReportsNone) {
  const COptionValues values = OptionValuesFromConfig(config, groups);
  const COptionChanges changes = StoreOptionValues(values, groups, L"C:\\kt\\keltracer.exe", config);
  EXPECT_EQ(0u, changes.autoScroll);
  EXPECT_EQ(0u, changes.alwaysOnTop);
  EXPECT_EQ(0u, changes.showMenu);
  EXPECT_EQ(0u, changes.font);
}

TEST_F(OptionsStore, ChangeFlagsFollowTheirValues) {
  COptionValues values = OptionValuesFromConfig(config, groups);
  values.autoScroll = 0;
  values.showMenu = 1;
  values.gridLines = 0;
  COptionChanges changes = StoreOptionValues(values, groups, L"C:\\kt\\keltracer.exe", config);
  EXPECT_EQ(1u, changes.autoScroll);
  EXPECT_EQ(0u, changes.alwaysOnTop);
  EXPECT_EQ(1u, changes.showMenu);
  EXPECT_EQ(0u, config.m_autoScroll);
  EXPECT_EQ(1u, config.m_showMenu);
  EXPECT_EQ(0u, config.m_gridLines);

  values.alwaysOnTop = 1;
  changes = StoreOptionValues(values, groups, L"C:\\kt\\keltracer.exe", config);
  EXPECT_EQ(0u, changes.autoScroll);
  EXPECT_EQ(1u, changes.alwaysOnTop);
  EXPECT_EQ(0u, changes.showMenu);
}

TEST_F(OptionsStore, StoresClampedNumbersMaskAndFolder) {
  COptionValues values = OptionValuesFromConfig(config, groups);
  values.maxMem = 4294967295LL;
  values.sizeLimit = 3;
  values.ignoredGroups = L"core;nosuch;NET;";
  values.backupOn = 1;
  values.sizeLimitOn = 1;
  values.fontName = L"Courier New";
  values.fontPoint = 90;
  StoreOptionValues(values, groups, L"C:\\kt\\bin\\keltracer.exe", config);
  EXPECT_EQ(512u, config.m_maxMem);
  EXPECT_EQ(4u, config.m_logSize);
  EXPECT_EQ(0x5u, config.m_ignoreMask);
  EXPECT_EQ(1u, config.m_logEnable);
  EXPECT_EQ(1u, config.m_logLimit);
  EXPECT_STREQ(L"C:\\kt\\bin", config.m_logFolder.c_str());
  EXPECT_STREQ(L"Courier New", config.m_fontName.c_str());
  EXPECT_EQ(90u, config.m_fontPoint);

  // The folder the user gave is kept; with backup off an empty one stays empty.
  values.backupFolder = L"D:\\logs";
  StoreOptionValues(values, groups, L"C:\\kt\\bin\\keltracer.exe", config);
  EXPECT_STREQ(L"D:\\logs", config.m_logFolder.c_str());
  values.backupOn = 0;
  values.backupFolder.Empty();
  StoreOptionValues(values, groups, L"C:\\kt\\bin\\keltracer.exe", config);
  EXPECT_STREQ(L"", config.m_logFolder.c_str());

  values.ignoredGroups = L"nothing;here";
  StoreOptionValues(values, groups, L"C:\\kt\\bin\\keltracer.exe", config);
  EXPECT_EQ(0u, config.m_ignoreMask);
}

TEST_F(OptionsStore, IgnoredGroupsAreReadToTheirLimit) {
  COptionValues values = OptionValuesFromConfig(config, groups);
  // The first 511 characters end with "NET;"; "MEDIA" lies past them.
  std::wstring text(507, L';');
  text += L"NET;MEDIA";
  values.ignoredGroups = text.c_str();
  StoreOptionValues(values, groups, L"C:\\kt\\keltracer.exe", config);
  EXPECT_EQ(groups.GroupAt(0)->Flag(), config.m_ignoreMask);
}

TEST_F(OptionsStore, RoundTripOfTheIgnoredMask) {
  config.m_ignoreMask = groups.GroupAt(1)->Flag() | groups.GroupAt(3)->Flag();  // MEDIA and the catch-all
  const COptionValues values = OptionValuesFromConfig(config, groups);
  EXPECT_STREQ(L"MEDIA;UNKNOWN;", values.ignoredGroups.c_str());
  config.m_ignoreMask = 0;
  StoreOptionValues(values, groups, L"C:\\kt\\keltracer.exe", config);
  EXPECT_EQ(groups.GroupAt(1)->Flag() | groups.GroupAt(3)->Flag(), config.m_ignoreMask);
}

}  // namespace
