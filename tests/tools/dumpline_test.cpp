#include <gtest/gtest.h>

#include "tests/core/RecordFixture.h"
#include "tools/trace-dump/DumpLine.h"

namespace {

TEST(DumpLine, FieldsAreTabSeparatedAndEscaped) {
  CTraceFile store;
  ASSERT_TRUE(store.GrowBuffer(4096));
  RecordSpec spec;
  spec.pid = 12;
  spec.tid = 34;
  spec.level = kLevelError | 0x20000;  // the level word is printed whole, marks included
  spec.module = L"core.dll";
  spec.hint = L"a\\b";
  spec.message = L"tab\there\r\nend \u00e9\U0001F600";
  TraceRecord* r = AddRecord(&store, spec);
  ASSERT_NE(nullptr, r);
  std::string out;
  AppendDumpLine(r, out);
  EXPECT_EQ("1\t131080\t12\t34\t12:00:00.000 01/02/24\tcore.dll\ta\\\\b\t"
            "tab\\there\\r\\nend \xC3\xA9\xF0\x9F\x98\x80\n",
            out);
  EXPECT_EQ("records: 1\n", DumpTrailer(1));
}

TEST(DumpLine, AStringOffsetOutsideTheRecordPrintsEmpty) {
  CTraceFile store;
  ASSERT_TRUE(store.GrowBuffer(4096));
  RecordSpec spec;
  TraceRecord* r = AddRecord(&store, spec);
  ASSERT_NE(nullptr, r);
  r->messageOffset = 0xFFF0;
  std::string out;
  AppendDumpLine(r, out);
  EXPECT_EQ("1\t2\t100\t200\t12:00:00.000 01/02/24\tmod.dll\t\t\n", out);
}

}  // namespace
