#include "jet/format/long_value_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "jet/format/data_page.h"
#include "jet/errors.h"
#include "jet/format/long_value.h"
#include "jet/pager/page_reader.h"
#include "jet/os/page_source.h"
#include "jet/testing/codec_samples.h"
#include "jet/testing/generated_database.h"

namespace jet {
namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return v;
}

// Writes values with the builder into a copy of a generated Jet 4 database and, where the samples are, of a Jet 3 one
// (new pages appended after its last page) and reads them back with the reader's long-value code.
TEST(LongValueBuilder, ValuesReadBackThroughTheReader) {
  std::vector<testing::SampleFile> samples = testing::loadSamples();
  samples.push_back(testing::SampleFile{"generated", reader_testing::generatedDatabase(), &kJet4Format});
  for (const char* name : {"jet3/testV1997.mdb", "generated"}) {
    SCOPED_TRACE(name);
    auto it = std::find_if(samples.begin(), samples.end(), [&](const auto& s) { return s.name == name; });
    if (it == samples.end()) continue;  // Jet 3 files come only from the samples
    const Format& f = *it->format;
    uint32_t nextPage = it->pageCount();
    LongValueWriter writer(f, [&] { return nextPage++; });
    std::vector<size_t> sizes{0,
                              1,
                              maxInlineLongValue(f),
                              maxInlineLongValue(f) + 1,
                              500,
                              maxSingleRowLongValue(f),
                              maxSingleRowLongValue(f) + 1,
                              3 * longValueChainChunk(f),
                              5 * longValueChainChunk(f) + 77};
    std::vector<std::vector<uint8_t>> values, fields;
    for (size_t i = 0; i < sizes.size(); ++i) {
      values.push_back(pattern(sizes[i], static_cast<uint8_t>(i)));
      fields.push_back(writer.add(values.back(), 4000));
    }
    std::vector<uint8_t> file = it->bytes;
    for (auto& [n, page] : writer.takePages()) {
      ASSERT_EQ(n, file.size() / f.pageSize);  // pages come back in number order
      file.insert(file.end(), page.begin(), page.end());
    }
    EXPECT_EQ(writer.pageNumbers().back() + 1, nextPage);
    PageReader reader(std::make_unique<MemorySource>(name, file));
    for (size_t i = 0; i < sizes.size(); ++i) {
      LongValueRef ref = parseLongValueRef(fields[i]);
      EXPECT_EQ(ref.length, sizes[i]);
      LongValueRef::Kind expected = sizes[i] <= maxInlineLongValue(f)      ? LongValueRef::Kind::Inline
                                    : sizes[i] <= maxSingleRowLongValue(f) ? LongValueRef::Kind::SingleRow
                                                                           : LongValueRef::Kind::Chain;
      EXPECT_EQ(ref.kind, expected) << sizes[i] << " bytes";
      EXPECT_EQ(fields[i].size(), 12 + (expected == LongValueRef::Kind::Inline ? sizes[i] : 0));
      std::vector<uint8_t> back;
      readLongValue(reader, ref, back);
      EXPECT_EQ(back, values[i]) << sizes[i] << " bytes";
    }
    // Every page is a long-value page with the free space Jet's rule leaves.
    for (uint32_t n : writer.pageNumbers()) {
      PageHandle page = reader.page(n);
      EXPECT_EQ(dataPageOwner(f, *page), kLongValueOwner);
    }
  }
}

TEST(LongValueBuilder, ShortValuesGoToAPageWhenTheRowHasNoRoom) {
  const Format& f = kJet4Format;
  uint32_t next = 50;
  LongValueWriter writer(f, [&] { return next++; });
  std::vector<uint8_t> value = pattern(40, 1);
  EXPECT_EQ(writer.add(value, 52).size(), 52u);  // exactly fits inline
  std::vector<uint8_t> field = writer.add(value, 51);
  ASSERT_EQ(field.size(), 12u);
  EXPECT_EQ(field, encodeLongValueDefinition(LongValueKind::SingleRow, 40, {50, 0}));
  // Small values share a page.
  EXPECT_EQ(writer.add(pattern(100, 2), 0), encodeLongValueDefinition(LongValueKind::SingleRow, 100, {50, 1}));
  EXPECT_EQ(writer.pageNumbers(), std::vector<uint32_t>{50});
  EXPECT_THROW(encodeLongValueDefinition(LongValueKind::Chain, 1u << 30, {}), Error);
}

// The 9818-byte chain of the Jet 3 sample (pages 45 to 49) comes out of the builder as the same pages.
TEST(LongValueBuilder, RebuildsAnAccessChainByteForByte) {
  std::vector<testing::SampleFile> samples = testing::loadSamples();
  auto it = std::find_if(samples.begin(), samples.end(), [](const auto& s) { return s.name == "jet3/testV1997.mdb"; });
  if (it == samples.end()) GTEST_SKIP() << "JET_SAMPLES is not set or does not name the sample folder";
  const Format& f = *it->format;
  std::vector<uint8_t> value;
  for (uint32_t n = 45; n <= 49; ++n) {
    Bytes page = it->page(n);
    ASSERT_EQ(dataPageRowCount(f, page), 1);
    Bytes row = dataPageRowBytes(page, dataPageRow(f, page, 0));
    value.insert(value.end(), row.begin() + 4, row.end());
  }
  ASSERT_EQ(value.size(), 9818u);
  uint32_t next = 45;
  LongValueWriter writer(f, [&] { return next++; });
  EXPECT_EQ(writer.add(value, 4000), encodeLongValueDefinition(LongValueKind::Chain, 9818, {45, 0}));
  auto pages = writer.takePages();
  ASSERT_EQ(pages.size(), 5u);
  for (auto& [n, page] : pages) {
    Bytes original = it->page(n);
    size_t tableEnd = f.rowOffsetTable() + 2;
    size_t rowStart = dataPageRow(f, original, 0).start;
    EXPECT_TRUE(std::equal(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(tableEnd), original.begin()));
    EXPECT_TRUE(std::equal(page.begin() + static_cast<std::ptrdiff_t>(rowStart), page.end(),
                           original.begin() + static_cast<std::ptrdiff_t>(rowStart)))
        << "page " << n;
  }
}

// A chain whose link leads back to a row it passed is refused, not read round until the stated length is reached:
// near its start, where the rows passed are few, and far along a long chain.
TEST(LongValueBuilder, AChainThatLoopsBackIsRefused) {
  const Format& f = kJet4Format;
  std::vector<uint8_t> file = reader_testing::generatedDatabase();
  uint32_t nextPage = static_cast<uint32_t>(file.size() / f.pageSize);
  LongValueWriter writer(f, [&] { return nextPage++; });
  const std::vector<uint8_t> value = pattern(40 * longValueChainChunk(f), 3);
  const LongValueRef ref = parseLongValueRef(writer.add(value, 4000));
  ASSERT_EQ(ref.kind, LongValueRef::Kind::Chain);
  for (auto& [n, page] : writer.takePages()) file.insert(file.end(), page.begin(), page.end());
  // The links of the chain, in order, and where each row's link is stored in the file.
  std::vector<RowPointer> rows;
  std::vector<size_t> linkAt;
  for (RowPointer at = ref.first; !at.isNull();) {
    const size_t pageStart = size_t{at.page} * f.pageSize;
    const Bytes page(file.data() + pageStart, f.pageSize);
    const RowSlot slot = dataPageRow(f, page, at.row);
    rows.push_back(at);
    linkAt.push_back(pageStart + slot.start);
    at = RowPointer::fromRaw(le32(file.data() + linkAt.back()));
  }
  ASSERT_GT(rows.size(), 30u);
  for (const auto& [from, to] : {std::pair{size_t{2}, size_t{0}}, std::pair{size_t{29}, size_t{20}}}) {
    SCOPED_TRACE("row " + std::to_string(from) + " links back to row " + std::to_string(to));
    std::vector<uint8_t> looped = file;
    const uint32_t raw = rows[to].raw();
    for (size_t k = 0; k < 4; ++k) looped[linkAt[from] + k] = static_cast<uint8_t>(raw >> (8 * k));
    PageReader reader(std::make_unique<MemorySource>("looped", looped));
    std::vector<uint8_t> back;
    try {
      readLongValue(reader, ref, back);
      ADD_FAILURE() << "a looping chain was read";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("loops back"), std::string::npos) << e.what();
    }
  }
  PageReader reader(std::make_unique<MemorySource>("whole", file));
  std::vector<uint8_t> back;
  readLongValue(reader, ref, back);
  EXPECT_EQ(back, value);
}

}  // namespace
}  // namespace jet
