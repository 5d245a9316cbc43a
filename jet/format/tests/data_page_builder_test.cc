#include "jet/format/data_page_builder.h"

#include <gtest/gtest.h>

#include "jet/format/data_page.h"
#include "jet/errors.h"
#include "jet/testing/codec_samples.h"

namespace jet {
namespace {

std::vector<std::vector<uint8_t>> liveRows(const Format& f, Bytes page, bool& anyDeletedOrOverflow) {
  std::vector<std::vector<uint8_t>> rows;
  anyDeletedOrOverflow = false;
  uint16_t count = dataPageRowCount(f, page);
  for (uint16_t r = 0; r < count; ++r) {
    RowSlot s = dataPageRow(f, page, r);
    if (s.deleted() || s.overflow()) anyDeletedOrOverflow = true;
    if (!s.deleted()) {
      Bytes b = dataPageRowBytes(page, s);
      rows.emplace_back(b.begin(), b.end());
    }
  }
  return rows;
}

// Pages Jet wrote without later deletions come out of the builder byte for byte: header, offset table and rows.
// Only the gap between the offset table and the rows is skipped (Jet leaves old bytes there).
TEST(DataPageBuilder, RepacksSampleDataPagesToTheSameBytes) {
  std::vector<testing::SampleFile> samples = testing::loadSamples();
  if (samples.empty()) GTEST_SKIP() << "JET_SAMPLES is not set or does not name the sample folder";
  size_t compared = 0;
  for (const testing::SampleFile& s : samples) {
    SCOPED_TRACE(s.name);
    const Format& f = *s.format;
    for (uint32_t n = 2; n < s.pageCount(); ++n) {
      Bytes page = s.page(n);
      if (page[0] != static_cast<uint8_t>(PageType::Data)) continue;
      bool messy = false;
      std::vector<std::vector<uint8_t>> rows = liveRows(f, page, messy);
      uint32_t owner = dataPageOwner(f, page);
      if (messy || rows.empty()) continue;
      if (f.version == Version::Jet4 && le32(page.data() + 8) != 0) continue;  // leftover bytes on some LVAL pages
      std::vector<RowPlacement> at;
      std::vector<std::vector<uint8_t>> built = packDataPages(f, owner, rows, at);
      ASSERT_EQ(built.size(), 1u) << "page " << n;
      const std::vector<uint8_t>& b = built[0];
      size_t tableEnd = f.rowOffsetTable() + 2 * rows.size();
      size_t rowsStart = le16(b.data() + tableEnd - 2);
      EXPECT_TRUE(std::equal(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(tableEnd), page.begin()))
          << "header of page " << n;
      EXPECT_TRUE(std::equal(b.begin() + static_cast<std::ptrdiff_t>(rowsStart), b.end(),
                             page.begin() + static_cast<std::ptrdiff_t>(rowsStart)))
          << "rows of page " << n;
      ++compared;
    }
  }
  EXPECT_GT(compared, 500u);
}

TEST(DataPageBuilder, FillsPagesUntilTheNextRowDoesNotFit) {
  for (Version v : {Version::Jet3, Version::Jet4}) {
    const Format& f = formatFor(v);
    std::vector<std::vector<uint8_t>> rows;
    for (size_t i = 0; i < 300; ++i) rows.push_back(std::vector<uint8_t>(20 + i % 37, static_cast<uint8_t>(i)));
    std::vector<RowPlacement> at;
    auto pages = packDataPages(f, 42, rows, at);
    size_t next = 0;
    for (size_t p = 0; p < pages.size(); ++p) {
      Bytes page = pages[p];
      EXPECT_EQ(dataPageOwner(f, page), 42u);
      uint16_t count = dataPageRowCount(f, page);
      uint16_t lowest = dataPageRow(f, page, static_cast<uint16_t>(count - 1)).start;
      uint16_t free = le16(page.data() + 2);
      EXPECT_EQ(free, lowest - (f.rowOffsetTable() + 2 * count));
      for (uint16_t r = 0; r < count; ++r, ++next) {
        EXPECT_EQ(at[next], (RowPlacement{static_cast<uint32_t>(p), static_cast<uint8_t>(r)}));
        Bytes row = dataPageRowBytes(page, dataPageRow(f, page, r));
        EXPECT_TRUE(std::equal(row.begin(), row.end(), rows[next].begin(), rows[next].end()));
      }
      if (p + 1 < pages.size()) {
        EXPECT_LT(free, rows[next].size() + 2);  // the next row really did not fit
      }
    }
    EXPECT_EQ(next, rows.size());
  }
}

TEST(DataPageBuilder, LimitsPagesTo255RowsAndRejectsRowsNoPageCanHold) {
  const Format& f = kJet4Format;
  std::vector<std::vector<uint8_t>> tiny(600, std::vector<uint8_t>{1, 2, 3});
  std::vector<RowPlacement> at;
  auto pages = packDataPages(f, 7, tiny, at);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(dataPageRowCount(f, pages[0]), 255);
  EXPECT_EQ(at[255], (RowPlacement{1, 0}));

  DataPageBuilder b(f, 7);
  std::vector<uint8_t> biggest(DataPageBuilder::maxRowSize(f), 9);
  EXPECT_EQ(b.add(biggest), (RowPlacement{0, 0}));
  EXPECT_EQ(le16(b.takePages()[0].data() + 2), 0);
  biggest.push_back(9);
  EXPECT_THROW(b.add(biggest), Error);
  EXPECT_THROW(b.add(std::vector<uint8_t>{}), Error);
}

TEST(DataPageBuilder, HandsOverFinishedPagesAndKeepsCounting) {
  const Format& f = kJet3Format;
  DataPageBuilder b(f, 3);
  std::vector<uint8_t> row(1500, 5);
  b.add(row);
  b.add(row);  // second page
  auto first = b.takeFinishedPages();
  EXPECT_EQ(first.size(), 1u);
  EXPECT_EQ(b.add(std::vector<uint8_t>(500, 6)), (RowPlacement{1, 1}));
  b.patch({1, 1}, 10, std::vector<uint8_t>{0xAA});
  EXPECT_THROW(b.patch({0, 0}, 0, std::vector<uint8_t>{1}), Error);  // already handed over
  EXPECT_THROW(b.patch({1, 1}, 500, std::vector<uint8_t>{1}), Error);
  auto rest = b.takePages();
  ASSERT_EQ(rest.size(), 1u);
  Bytes patched = dataPageRowBytes(rest[0], dataPageRow(f, rest[0], 1));
  EXPECT_EQ(patched[10], 0xAA);
  EXPECT_EQ(b.add(row), (RowPlacement{2, 0}));
}

}  // namespace
}  // namespace jet
