// The upload zip's size limit: an archive that would pass it is not made.
#include <gtest/gtest.h>

#include "formats/Zip.h"
#include "tests/formats/StoreFixture.h"

using namespace storefix;

namespace {

class ZipLimit : public CStoreTest {};

TEST_F(ZipLimit, ArchiveOfExactlyTheLimitIsMadeAndOneByteLessRefusesIt) {
  for (int i = 0; i < 300; ++i) {
    Item item;
    item.message = L"record " + std::to_wstring(i * 7919);
    ASSERT_NE(nullptr, Add(source, item));
  }
  const SYSTEMTIME t = {2024, 3, 0, 4, 5, 6, 7, 0};
  CZipHandleOwner unlimited(ZipForUpload(&source, t, nullptr));
  ASSERT_NE(nullptr, unlimited.get());
  const size_t size = CZip::GetMemorySize(unlimited.get());
  const Bytes whole(CZip::GetMemoryData(unlimited.get()), CZip::GetMemoryData(unlimited.get()) + size);

  CZipHandleOwner exact(ZipForUpload(&source, t, nullptr, size));
  ASSERT_NE(nullptr, exact.get());
  EXPECT_EQ(whole, Bytes(CZip::GetMemoryData(exact.get()), CZip::GetMemoryData(exact.get()) + size));
  EXPECT_EQ(nullptr, ZipForUpload(&source, t, nullptr, size - 1));
  // A limit far below the size ends the archive early, not only at its end.
  EXPECT_EQ(nullptr, ZipForUpload(&source, t, nullptr, 64));
}

}  // namespace
