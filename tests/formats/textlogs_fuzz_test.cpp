// Every text reader on files pieced together from the fragments its parser
// looks for and random bytes: a fixed seed, a bounded number of rounds. Each
// load must end, succeed (nothing here fails to store) and leave a sound
// store whose records are all counted.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "core/ModuleGroups.h"
#include "core/RecordBuilder.h"
#include "core/TraceStore.h"
#include "formats/Klg.h"
#include "formats/TextLogs.h"
#include "tests/core/TempFolder.h"
#include "tests/formats/FuzzFixture.h"
#include "tests/formats/TextFixture.h"

namespace {

constexpr char kGroupsText[] = "[CORE]\nM=app.exe;a.cpp\n";
constexpr int kRounds = 150;
constexpr uint32_t kSeed = 20261210;

const char* const kFragments[] = {
    "2022-03-01T10:20:30.456Z", " [Warn] ", " [0x1A2B] ", " [abc] ", "[", "]", "<", ">", " <Info> ", ":", "::",
    " ", "  ", "\t", "\r\n", "\n", "\r", "0x", "-", ";", "99999999999", "1999", "/", "@",
    "<tr class=warn>", "<td nowrap>", "<td nowrap", "</td>", "&amp;", "&#", "&#x1F600;", "&", ";",
    "\xEF\xBB\xBF", "\xC3", "\xA9", "\xF0\x9F\x98", "\xFF", "", "[12:34]",
    "10:20:30.456 03/01/22", "###BLKW###-", "c2VjcmV0"};

std::string RandomFile(CFuzzRandom& random) {
  std::string bytes;
  const uint32_t pieces = random.Below(200);
  for (uint32_t i = 0; i < pieces; ++i) {
    const uint32_t pick = random.Below(4);
    if (pick == 0) {
      const uint32_t n = random.Below(40);
      for (uint32_t j = 0; j < n; ++j) {
        bytes += char(random.Next() & 0xFF);
      }
    } else {
      const char* fragment = kFragments[random.Below(sizeof(kFragments) / sizeof(kFragments[0]))];
      bytes += *fragment != 0 ? std::string(fragment) : std::string(1, '\0');
    }
  }
  return bytes;
}

enum class Reader { kIso, kText, kHtml, kJslog, kKlg };

int LoadWith(Reader reader, CTraceMgr* store, const std::wstring& path) {
  switch (reader) {
    case Reader::kIso:
      return LoadIsoLog(store, path.c_str());
    case Reader::kText:
      return LoadHtmlOrText(store, 0, 0);
    case Reader::kHtml:
      return LoadHtmlOrText(store, 1, 0);
    case Reader::kJslog:
      return LoadHtmlOrText(store, 0, 1);
    case Reader::kKlg:
      return LoadKlg(store);
  }
  return 0;
}

class TextLogsFuzz : public testing::TestWithParam<Reader> {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, g_moduleGroups.LoadFromText(kGroupsText, sizeof(kGroupsText) - 1));
    g_blockWords.Clear();
  }
  void TearDown() override {
    g_moduleGroups.Clear();
    g_blockWords.Clear();
  }
};

TEST_P(TextLogsFuzz, RandomFilesLoadAndLeaveWholeRecords) {
  TempFolder folder;
  ASSERT_TRUE(folder.valid());
  const std::wstring path = folder.File(L"fuzz.log");
  CFuzzRandom random(kSeed + uint32_t(GetParam()));
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const std::string bytes = RandomFile(random);
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    CTraceFile* store = new CTraceFile;
    store->SetFileName(path.c_str(), L"fuzz.log");
    const int loaded = LoadWith(GetParam(), store, path);
    // An empty .klg file is refused; every other file here is read.
    EXPECT_EQ(GetParam() == Reader::kKlg && bytes.empty() ? 0 : 1, loaded);
    // A refused file leaves the store without a buffer.
    const int sound = store->Buffer() != nullptr ? CountSoundRecords(*store) : 0;
    EXPECT_LE(0, sound);
    EXPECT_EQ(uint64_t(sound), CountedRecords(*store));
    store->Release();
  }
}

std::string ReaderName(const testing::TestParamInfo<Reader>& info) {
  static const char* const kNames[] = {"Iso", "Text", "Html", "Jslog", "Klg"};
  return kNames[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Readers, TextLogsFuzz,
                         testing::Values(Reader::kIso, Reader::kText, Reader::kHtml, Reader::kJslog, Reader::kKlg),
                         ReaderName);

}  // namespace
