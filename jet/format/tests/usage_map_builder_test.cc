#include "jet/format/usage_map_builder.h"

#include <gtest/gtest.h>

#include <map>

#include "jet/format/data_page.h"
#include "jet/errors.h"
#include "jet/testing/codec_samples.h"

namespace jet {
namespace {

// Pages named by a map row; bitmap pages are looked up in `bitmapPages`.
std::vector<uint32_t> mapPages(const Format& f, Bytes row,
                               const std::map<uint32_t, std::vector<uint8_t>>& bitmapPages) {
  std::vector<uint32_t> out;
  auto collect = [&](Bytes bits, uint64_t first) {
    for (size_t i = 0; i < bits.size() * 8; ++i) {
      if (bits[i / 8] & (1u << (i % 8))) out.push_back(static_cast<uint32_t>(first + i));
    }
  };
  if (row[0] == 0) {
    collect(row.subspan(5), le32(row.data() + 1));
  } else {
    for (size_t k = 0; 1 + 4 * k + 4 <= row.size(); ++k) {
      uint32_t page = le32(row.data() + 1 + 4 * k);
      if (page == 0) continue;
      const std::vector<uint8_t>& bitmap = bitmapPages.at(page);
      EXPECT_EQ(bitmap[0], 0x05);
      EXPECT_EQ(bitmap[1], 0x01);
      collect(Bytes(bitmap).subspan(4), uint64_t{k} * pagesPerBitmapPage(f));
    }
  }
  return out;
}

uint32_t noPages() {
  ADD_FAILURE() << "an inline map asked for a bitmap page";
  return 0;
}

TEST(UsageMapBuilder, RewritesTheSampleMapsByteForByte) {
  std::vector<testing::SampleFile> samples = testing::loadSamples();
  if (samples.empty()) GTEST_SKIP() << "JET_SAMPLES is not set or does not name the sample folder";
  size_t maps = 0;
  size_t freeMaps = 0;
  for (const testing::SampleFile& s : samples) {
    SCOPED_TRACE(s.name);
    const Format& f = *s.format;
    // Page 1: the free-page map comes out the same, and so does the whole page when row 1 has the usual size.
    Bytes page1 = s.page(1);
    Bytes row0 = dataPageRowBytes(page1, dataPageRow(f, page1, 0));
    std::vector<uint32_t> free;
    for (uint32_t p : mapPages(f, row0, {})) {
      if (p < s.pageCount()) free.push_back(p);
    }
    EncodedUsageMap freeMap = encodeFreePageMap(f, free, s.pageCount(), noPages);
    EXPECT_TRUE(std::equal(freeMap.row.begin(), freeMap.row.end(), row0.begin(), row0.end()));
    if (dataPageRow(f, page1, 1).length() == 5 + f.usageMapInlineBitmap) {
      std::vector<uint8_t> rebuilt = buildFreeMapPage(f, freeMap.row);
      uint16_t low = dataPageRow(f, page1, 1).start;
      size_t header = f.rowOffsetTable() + 4;
      EXPECT_TRUE(std::equal(rebuilt.begin(), rebuilt.begin() + static_cast<std::ptrdiff_t>(header), page1.begin()));
      EXPECT_TRUE(std::equal(rebuilt.begin() + low, rebuilt.end(), page1.begin() + low));
      ++freeMaps;
    }
    // Table, index and long-value maps of the usual size (pages owned by 0 hold them).
    for (uint32_t n = 3; n < s.pageCount(); ++n) {
      Bytes page = s.page(n);
      if (page[0] != static_cast<uint8_t>(PageType::Data) || dataPageOwner(f, page) != 0) continue;
      for (uint16_t r = 0; r < dataPageRowCount(f, page); ++r) {
        RowSlot slot = dataPageRow(f, page, r);
        if (slot.deleted() || slot.length() != 5 + f.usageMapInlineBitmap) continue;
        Bytes row = dataPageRowBytes(page, slot);
        if (row[0] != 0) continue;
        EncodedUsageMap again = encodeUsageMap(f, mapPages(f, row, {}), noPages);
        EXPECT_TRUE(std::equal(again.row.begin(), again.row.end(), row.begin(), row.end()))
            << "page " << n << " row " << r;
        ++maps;
      }
    }
  }
  EXPECT_GT(maps, 500u);
  EXPECT_GE(freeMaps, 20u);
}

TEST(UsageMapBuilder, ChoosesInlineFromZeroThenAMovedStartThenBitmapPages) {
  for (Version v : {Version::Jet3, Version::Jet4}) {
    const Format& f = formatFor(v);
    const uint32_t bits = f.usageMapInlineBitmap * 8;
    EncodedUsageMap low = encodeUsageMap(f, {bits - 1, 3, 3}, noPages);
    EXPECT_EQ(low.row.size(), 5 + f.usageMapInlineBitmap);
    EXPECT_EQ(le32(low.row.data() + 1), 0u);
    EXPECT_EQ(mapPages(f, low.row, {}), (std::vector<uint32_t>{3, bits - 1}));

    EncodedUsageMap moved = encodeUsageMap(f, {bits + 13, 2 * bits + 7}, noPages);
    EXPECT_EQ(le32(moved.row.data() + 1), bits + 8);
    EXPECT_EQ(mapPages(f, moved.row, {}), (std::vector<uint32_t>{bits + 13, 2 * bits + 7}));

    // Too wide for one inline bitmap: bitmap pages for the ranges that hold pages, none for the empty range between.
    const uint32_t per = pagesPerBitmapPage(f);
    std::vector<uint32_t> pages{5, 6, 2 * per + 1, 2 * per + 9};
    uint32_t nextFree = 900;
    EncodedUsageMap wide = encodeUsageMap(f, pages, [&] { return nextFree++; });
    EXPECT_EQ(wide.row[0], 1);
    EXPECT_EQ(wide.row.size(), 5 + f.usageMapInlineBitmap);  // the same row length as an inline map
    ASSERT_EQ(wide.bitmapPages.size(), 2u);
    EXPECT_EQ(le32(wide.row.data() + 1), 900u);
    EXPECT_EQ(le32(wide.row.data() + 5), 0u);
    EXPECT_EQ(le32(wide.row.data() + 9), 901u);
    std::map<uint32_t, std::vector<uint8_t>> byNumber(wide.bitmapPages.begin(), wide.bitmapPages.end());
    EXPECT_EQ(mapPages(f, wide.row, byNumber), pages);

    uint32_t entries = (4 + f.usageMapInlineBitmap) / 4;
    EXPECT_THROW(encodeUsageMap(f, {0, entries * per}, [&] { return nextFree++; }), Error);
  }
}

TEST(UsageMapBuilder, FreePageMapGrowsWithTheFileThenUsesBitmapPages) {
  const Format& f = kJet4Format;
  // 1000 pages: 125 bytes needed, 128 written; pages 1000..1023 count as free.
  EncodedUsageMap grown = encodeFreePageMap(f, {17}, 1000, noPages);
  EXPECT_EQ(grown.row.size(), 5u + 128u);
  std::vector<uint32_t> got = mapPages(f, grown.row, {});
  ASSERT_EQ(got.size(), 1u + 24u);
  EXPECT_EQ(got[0], 17u);
  EXPECT_EQ(got[1], 1000u);
  EXPECT_EQ(buildFreeMapPage(f, grown.row)[0], 0x01);

  // 100000 pages no longer fit page 1 inline.
  uint32_t next = 100000;
  EncodedUsageMap big = encodeFreePageMap(f, {40000}, 100000, [&] { return next++; });
  EXPECT_EQ(big.row[0], 1);
  std::map<uint32_t, std::vector<uint8_t>> byNumber(big.bitmapPages.begin(), big.bitmapPages.end());
  got = mapPages(f, big.row, byNumber);
  EXPECT_EQ(got.front(), 40000u);
  EXPECT_EQ(got[1], 100000u);
  EXPECT_EQ(got.back(), 4 * pagesPerBitmapPage(f) - 1);  // the end of the bitmap page holding the end of the file
  EXPECT_THROW(encodeFreePageMap(f, {100}, 100, noPages), Error);
}

}  // namespace
}  // namespace jet
