#include "jet/check/row_homes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace jet {
namespace {

// Lookups in any order (an index's key order is not the rows' order) find exactly the rows added, with their
// ordinals, and iteration gives them back in order: for a table whose pages lie close together (looked up through a
// table of page numbers) and for one scattered thinly over a large file (searched). Pages with all their rows live
// and pages with some deleted are both there.
TEST(RowHomes, FindsExactlyTheRowsAddedInAnyOrderOfLookups) {
  for (const bool scattered : {false, true}) {
    SCOPED_TRACE(scattered ? "scattered" : "close together");
    std::mt19937 engine(5);
    auto rng = [&engine] { return static_cast<uint32_t>(engine()); };
    RowHomes homes;
    std::vector<uint32_t> added;
    std::set<uint32_t> all;
    for (uint32_t page = 3; page < (scattered ? 0xFFFF00u : 400u);
         page += scattered ? 1 + rng() % 0x10000 : 1 + rng() % 3) {
      const uint32_t rows = rng() % 5 == 0 ? 0 : 1 + rng() % 255;
      const bool allLive = rng() % 2 == 0;
      for (uint32_t row = 0; row < rows; ++row) {
        if (!allLive && rng() % 4 == 0) continue;  // a deleted row
        homes.add(page, static_cast<uint8_t>(row));
        added.push_back(page << 8 | row);
        all.insert(page << 8 | row);
      }
    }
    ASSERT_EQ(homes.size(), added.size());
    size_t seen = 0;
    homes.forEach([&](size_t i, uint32_t raw) {
      EXPECT_EQ(i, seen);
      EXPECT_EQ(raw, added[seen]);
      ++seen;
    });
    EXPECT_EQ(seen, added.size());
    // In order, backwards, and at random; and pointers next to the rows, which are none of them.
    std::vector<size_t> order(added.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::vector<size_t> backwards(order.rbegin(), order.rend());
    std::vector<size_t> shuffled = order;
    std::shuffle(shuffled.begin(), shuffled.end(), engine);
    for (const std::vector<size_t>* o : {&order, &backwards, &shuffled}) {
      for (size_t i : *o) {
        std::optional<size_t> found = homes.find(added[i]);
        ASSERT_TRUE(found.has_value()) << added[i];
        EXPECT_EQ(*found, i);
        for (uint32_t near : {added[i] + 1, added[i] - 1, added[i] + 256}) {
          EXPECT_EQ(homes.find(near).has_value(), all.count(near) == 1) << near;
        }
      }
    }
    EXPECT_FALSE(homes.find(0).has_value());
    EXPECT_FALSE(homes.find(0xFFFFFFFFu).has_value());
  }
  EXPECT_FALSE(RowHomes{}.find(3 << 8).has_value());
}

// Rows added after a lookup are found too: the lookup's table of pages is not kept stale.
TEST(RowHomes, RowsAddedAfterALookupAreFound) {
  RowHomes homes;
  homes.add(10, 0);
  homes.add(10, 1);
  EXPECT_EQ(homes.find(10 << 8 | 1), std::optional<size_t>(1));
  EXPECT_FALSE(homes.find(12 << 8).has_value());
  homes.add(12, 0);
  homes.add(12, 3);
  EXPECT_EQ(homes.find(12 << 8), std::optional<size_t>(2));
  EXPECT_EQ(homes.find(12 << 8 | 3), std::optional<size_t>(3));
  EXPECT_FALSE(homes.find(12 << 8 | 1).has_value());
  EXPECT_FALSE(homes.find(11 << 8).has_value());
}

TEST(RowHomes, TwoBitsPerRowKeepEachRowsBitsApart) {
  TwoBitsPerRow bits;
  for (size_t i = 0; i < 1001; ++i) bits.push_back(static_cast<uint8_t>((i * 7 + i / 3) % 4));
  ASSERT_EQ(bits.size(), 1001u);
  for (size_t i = 0; i < 1001; ++i) EXPECT_EQ(bits[i], (i * 7 + i / 3) % 4) << i;
}

// Pages added out of order break add()'s contract; lookups then may miss, but never index outside what was added, and
// what they find is right.
TEST(RowHomes, PagesOutOfOrderAreNeverIndexedWrongly) {
  RowHomes homes;
  const std::vector<uint32_t> raws = {10u << 8, 10u << 8 | 1, 5u << 8, 12u << 8, 7u << 8 | 2};
  for (uint32_t raw : raws) homes.add(raw >> 8, static_cast<uint8_t>(raw & 0xFF));
  for (size_t i = 0; i < raws.size(); ++i) {
    const std::optional<size_t> found = homes.find(raws[i]);
    if (found) {
      EXPECT_EQ(*found, i) << raws[i];
    }
  }
  for (uint32_t page = 0; page < 20; ++page) {
    if (const std::optional<size_t> found = homes.find(page << 8 | 3)) {
      ADD_FAILURE() << "found " << *found;
    }
  }
}

}  // namespace
}  // namespace jet
