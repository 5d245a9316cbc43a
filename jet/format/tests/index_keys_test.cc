// Index keys. The General (Legacy) text codes are checked against the keys Jet itself stored in the
// sample databases: every entry of every single-column text index whose value consists only of characters with
// established codes must carry exactly the key we compute for that value.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "jet/create/generator.h"
#include "jet/format/index_keys.h"
#include "jet/format/data_page.h"
#include "jet/read/database.h"
#include "jet/format/index_page.h"
#include "jet/read/index_walk.h"
#include "jet/format/row_layout.h"
#include "jet/testing/reader_test_support.h"
#include "jet/format/value.h"
#include "jet/os/unicode.h"

namespace jet {
namespace {

using reader_testing::allSamples;

std::vector<uint8_t> key(std::u16string_view text) {
  std::vector<uint8_t> k;
  EXPECT_TRUE(appendGeneralLegacyTextKey(text, k));
  return k;
}

// Compares the key of every entry of every index over text and integer columns, whose text has established codes,
// with the key computed from the row it points at. Returns how many entries were compared; `seen` collects their
// characters.
size_t compareKeys(Database& db, std::set<char16_t>& seen) {
  size_t compared = 0;
  for (const CatalogEntry* entry : db.catalog().tables(true)) {
    TableDef def = db.tableDefAt(entry->tablePage());
    for (const RealIndexDef& index : def.realIndexes) {
      // Indexes over text and integer columns, all ascending: the key is the keys of the columns in order.
      std::vector<size_t> columns;
      bool usable = !index.columns.empty();
      bool anyText = false;
      for (const RealIndexDef::KeyColumn& kc : index.columns) {
        auto it = std::find_if(def.columns.begin(), def.columns.end(),
                               [&](const ColumnDef& c) { return c.number == kc.column; });
        if (it == def.columns.end() || kc.order != 0x01) {
          usable = false;
          break;
        }
        bool text = it->type == ColumnType::Text && it->sortVersion == 0;
        anyText = anyText || text;
        usable = usable && (text || it->type == ColumnType::Long || it->type == ColumnType::Integer ||
                            it->type == ColumnType::Byte);
        columns.push_back(static_cast<size_t>(it - def.columns.begin()));
      }
      if (!usable || !anyText) continue;
      IndexWalker walker(db.pages(), def.page, index.rootPage);
      IndexWalkEntry e;
      RowLayout layout;
      Value value;
      while (walker.next(e)) {
        PageHandle page = db.pages().page(e.row.page);
        RowSlot slot = dataPageRow(db.format(), *page, e.row.row);
        if (slot.deleted() || slot.overflow()) continue;
        Bytes row = dataPageRowBytes(*page, slot);
        crackRow(db.format(), def, row, layout);
        std::vector<uint8_t> expected;
        std::u16string allText;
        std::string shown;
        bool ok = true;
        for (size_t k : columns) {
          const ColumnDef& c = def.columns[k];
          decodeValue(db.pages(), c, row, layout.fields[k], value);
          const std::string printed = c.type == ColumnType::Text ? value.text : std::to_string(value.integer);
          shown += " " + c.name + "=" + (value.null ? "null" : printed);
          if (value.null) {
            appendNullKey(expected);
          } else if (c.type == ColumnType::Text) {
            std::u16string text = unicode::fromUtf8(value.text);
            allText += text;
            ok = ok && !text.empty() && appendGeneralLegacyTextKey(text, expected);
          } else if (c.type == ColumnType::Long) {
            appendLongKey(static_cast<int32_t>(value.integer), expected);
          } else if (c.type == ColumnType::Integer) {
            appendIntegerKey(static_cast<int16_t>(value.integer), expected);
          } else {
            appendByteKey(static_cast<uint8_t>(value.integer), expected);
          }
        }
        if (!ok) continue;
        EXPECT_EQ(std::vector<uint8_t>(e.key.begin(), e.key.end()), expected) << entry->name << ":" << shown;
        ++compared;
        seen.insert(allText.begin(), allText.end());
      }
    }
  }
  return compared;
}

TEST(GeneralLegacyKeys, SampleIndexesHoldTheKeysWeCompute) {
  JET_REQUIRE_SAMPLES();
  size_t compared = 0;
  std::set<char16_t> seen;
  for (const auto& path : allSamples()) {
    if (path.parent_path().filename() != "jet4") continue;
    SCOPED_TRACE(path.filename().string());
    std::unique_ptr<Database> db;
    try {
      db = Database::open(path.string());
    } catch (const Error&) {
      continue;  // samples a reader cannot open are the reader tests' business
    }
    compared += compareKeys(*db, seen);
  }
  // The samples must hold every character the generator puts into index keys (the letters in either case: the
  // sort order does not tell them apart): the letters of its table and warehouse names and article codes, the space,
  // and the digits of the article codes.
  EXPECT_GT(compared, 500u);
  for (char16_t c : std::u16string(u"ABCDEFGHIJKLMNOPRSTUVWY 01234679")) {
    char16_t lower = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    EXPECT_TRUE(seen.count(c) || seen.count(lower)) << "no sample key holds '" << static_cast<char>(c) << "'";
  }
}

// The generator's indexes hold the keys of the values in their rows (text, composite and integer keys alike).
TEST(GeneralLegacyKeys, GeneratedIndexesHoldTheKeysOfTheirRows) {
  reader_testing::TempDir dir;
  create::GeneratorOptions o;
  o.articles = 200;
  o.bloatPercent = 30;
  const std::string path = (dir.path() / "keys.mdb").string();
  create::generateDatabase(path, o);
  auto db = Database::open(path);
  std::set<char16_t> seen;
  // Artikli: ident, skl, (skl, ident); the catalog's (ParentId, Name); the relationships' three name indexes.
  EXPECT_GT(compareKeys(*db, seen), 3 * 140u);
}

TEST(GeneralLegacyKeys, CaseIsIgnoredTrailingSpacesDroppedOtherCharactersRefused) {
  EXPECT_EQ(key(u"Tables"), key(u"TABLES"));
  EXPECT_EQ(key(u"ab  "), key(u"ab"));
  EXPECT_EQ(key(u"MSysDb"), (std::vector<uint8_t>{0x7F, 0x60, 0x6B, 0x76, 0x6B, 0x4F, 0x4C, 0x01, 0x00}));
  std::vector<uint8_t> out{1, 2};
  EXPECT_FALSE(appendGeneralLegacyTextKey(u"čaj", out));
  EXPECT_FALSE(appendGeneralLegacyTextKey(u"a-b", out));  // the hyphen is sorted specially
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2}));
  // Keys order like the General sort: digits before letters, shorter before longer.
  EXPECT_TRUE(indexEntryLess(key(u"AB9"), key(u"ABC")));
  EXPECT_TRUE(indexEntryLess(key(u"AB"), key(u"ABC")));
  EXPECT_TRUE(indexEntryLess(key(u"NOVO MESTO"), key(u"PTUJ")));
}

TEST(NumericKeys, BytesSortLikeTheNumbers) {
  auto longKey = [](int32_t v) {
    std::vector<uint8_t> k;
    appendLongKey(v, k);
    return k;
  };
  auto doubleKey = [](double v) {
    std::vector<uint8_t> k;
    appendDoubleKey(v, k);
    return k;
  };
  EXPECT_EQ(longKey(0x0F000001), (std::vector<uint8_t>{0x7F, 0x8F, 0x00, 0x00, 0x01}));
  const int32_t longs[] = {INT32_MIN, -70000, -1, 0, 1, 255, 256, 70000, INT32_MAX};
  for (size_t i = 1; i < std::size(longs); ++i) EXPECT_TRUE(indexEntryLess(longKey(longs[i - 1]), longKey(longs[i])));
  const double doubles[] = {-1e300, -2.5, -0.001, 0.0, 0.001, 1.0, 43831.5, 1e300};
  for (size_t i = 1; i < std::size(doubles); ++i) {
    EXPECT_TRUE(indexEntryLess(doubleKey(doubles[i - 1]), doubleKey(doubles[i])));
  }
}

// Compaction takes Long keys apart and puts them back when it renumbers table Ids, in either order of the column.
TEST(NumericKeys, LongKeysDecodeBackAndDescendingColumnsSortTheOtherWay) {
  const int32_t longs[] = {INT32_MIN, -70000, -1, 0, 1, 0x0F000001, INT32_MAX};
  std::vector<uint8_t> previous;
  for (int32_t v : longs) {
    uint8_t up[4];
    uint8_t down[4];
    encodeLongKey(v, false, up);
    encodeLongKey(v, true, down);
    EXPECT_EQ(decodeLongKey(up, false), v);
    EXPECT_EQ(decodeLongKey(down, true), v);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(down[i], static_cast<uint8_t>(~up[i]));
    std::vector<uint8_t> key(down, down + 4);
    if (!previous.empty()) {
      EXPECT_TRUE(indexEntryLess(key, previous));
    }
    previous = key;
  }
  EXPECT_EQ(keyNullFlag(false), kKeyNullFlag);
  EXPECT_EQ(keyNullFlag(true), 0xFF);
  EXPECT_EQ(fixedKeyLength(ColumnType::Long), 4u);
  EXPECT_EQ(fixedKeyLength(ColumnType::Guid), 0u);
}

}  // namespace
}  // namespace jet
