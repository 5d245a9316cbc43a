// The encoders behind new databases, read back by the project's reader: page 0, table definitions, rows, index trees
// deeper than two levels, and deletions that take a row's long values with it.
#include <gtest/gtest.h>

#include <filesystem>

#include "jet/create/generator.h"
#include "jet/create/header_page_writer.h"
#include "jet/format/index_keys.h"
#include "jet/create/page_file.h"
#include "jet/create/row_encoder.h"
#include "jet/create/table_def_writer.h"
#include "jet/format/data_page.h"
#include "jet/read/database.h"
#include "jet/pager/header.h"
#include "jet/format/index_tree_writer.h"
#include "jet/read/index_walk.h"
#include "jet/format/long_value.h"
#include "jet/os/env.h"
#include "jet/format/row_layout.h"
#include "jet/read/table_scan.h"
#include "jet/testing/reader_test_support.h"
#include "jet/format/value.h"

namespace jet::create {
namespace {

using reader_testing::TempDir;

TEST(HeaderPageWriter, ReadsBackWithItsSettings) {
  HeaderSettings s;
  s.creationDate = 43831.75;  // 2020-01-01 18:00
  std::vector<uint8_t> page = buildJet4HeaderPage(s);
  ASSERT_EQ(page.size(), 4096u);
  DatabaseHeader h = parseHeader(page, 3 * 4096);
  EXPECT_EQ(h.version(), Version::Jet4);
  EXPECT_EQ(h.sortOrder, 0x0409);
  EXPECT_EQ(h.sortVersion, 0);
  EXPECT_EQ(h.codePage, 1252);
  EXPECT_EQ(h.encodingKey, 0u);
  EXPECT_FALSE(h.hasPassword);
  EXPECT_EQ(h.creationDate, 43831.75);
}

TableSchema everyType() {
  TableSchema t;
  t.name = "Vse";
  auto col = [&t](const char* name, ColumnType type, uint16_t length = 0) {
    t.columns.push_back(columnSpec(name, type, length));
  };
  col("Id", ColumnType::Long);
  t.columns.back().autoNumber = true;
  col("Ime", ColumnType::Text, 100);
  t.columns.back().compressedText = true;
  col("Zastavica", ColumnType::Boolean);
  col("Bajt", ColumnType::Byte);
  col("Celo", ColumnType::Integer);
  col("Denar", ColumnType::Currency);
  col("Enojno", ColumnType::Single);
  col("Dvojno", ColumnType::Double);
  col("Datum", ColumnType::DateTime);
  col("Podatki", ColumnType::Binary, 20);
  col("Opomba", ColumnType::Memo);
  col("Slika", ColumnType::Ole);
  col("Guid", ColumnType::Guid);
  col("Stevilo", ColumnType::Numeric);
  t.columns.back().precision = 18;
  t.columns.back().scale = 2;
  IndexSpec pk{"PrimaryKey", {0}};
  pk.primaryKey = true;
  IndexSpec two{"ImeDatum", {1, 8}};
  two.unique = true;
  t.indexes = {pk, two};
  return t;
}

TEST(TableDefWriter, DefinitionParsesBackFieldByField) {
  TableSchema schema = everyType();
  // Names are UTF-16 in the definition: letters of any script, and characters outside the basic plane as pairs.
  schema.columns[2].name = "Cena \xE2\x82\xAC \xF0\x9F\x98\x80";
  TableDefState state;
  state.rowCount = 12;
  state.autoNumber = 15;
  state.ownedPages = RowPointer{40, 0};
  state.freeSpacePages = RowPointer{40, 1};
  state.indexes = {IndexState{RowPointer{40, 2}, 77, 12}, IndexState{RowPointer{40, 3}, 78, 11}};
  state.longValues = {LongValueMapState{RowPointer{40, 4}, RowPointer{40, 5}},
                      LongValueMapState{RowPointer{40, 6}, RowPointer{40, 7}}};
  std::vector<uint8_t> page = encodeTableDef(schema, state);
  ASSERT_EQ(page.size(), 4096u);
  TableDef def = parseTableDef(kJet4Format, 1252, page);
  EXPECT_EQ(def.definitionLength, def.endOffset);
  EXPECT_EQ(le16(page.data() + 2), 4096 - 8 - def.definitionLength);
  EXPECT_EQ(def.rowCount, 12u);
  EXPECT_EQ(def.autoNumber, 15u);
  EXPECT_EQ(def.tableType, kTableTypeUser);
  EXPECT_EQ(def.ownedPages.at, (RowPointer{40, 0}));
  EXPECT_EQ(def.freeSpacePages.at, (RowPointer{40, 1}));
  ASSERT_EQ(def.columns.size(), schema.columns.size());
  EXPECT_EQ(def.varColumnCount, 4);  // Text, Binary, Memo, OLE
  const TableLayout layout = layoutTable(schema);
  for (size_t i = 0; i < schema.columns.size(); ++i) {
    SCOPED_TRACE(schema.columns[i].name);
    const ColumnDef& c = def.columns[i];
    EXPECT_EQ(c.name, schema.columns[i].name);
    EXPECT_EQ(c.type, schema.columns[i].type);
    EXPECT_EQ(c.number, i);
    EXPECT_EQ(c.isFixed(), layout.places[i].fixed);
    if (c.isFixed()) {
      EXPECT_EQ(c.fixedOffset, layout.places[i].fixedOffset);
    } else {
      EXPECT_EQ(c.varIndex, layout.places[i].varIndex);
    }
  }
  EXPECT_TRUE(def.columns[1].compressedUnicode());
  EXPECT_EQ(def.columns[1].locale, 0x0409);
  EXPECT_EQ(def.columns[1].length, 100);
  EXPECT_EQ(def.columns[13].precision, 18);
  EXPECT_EQ(def.columns[13].scale, 2);
  EXPECT_NE(def.columns[0].flags & kColumnAutoNumber, 0);
  ASSERT_EQ(def.realIndexes.size(), 2u);
  EXPECT_EQ(def.realIndexes[1].columns.size(), 2u);
  EXPECT_EQ(def.realIndexes[1].columns[1].column, 8);
  EXPECT_EQ(def.realIndexes[1].rootPage, 78u);
  EXPECT_EQ(def.realIndexes[1].keyCount, 11u);
  EXPECT_EQ(def.realIndexes[1].usageMap.at, (RowPointer{40, 3}));
  EXPECT_EQ(def.realIndexes[0].flags, 0x89);  // unique, required, and the bit Jet 4 always sets
  EXPECT_EQ(def.realIndexes[1].flags, 0x81);
  ASSERT_EQ(def.logicalIndexes.size(), 2u);
  EXPECT_EQ(def.logicalIndexes[0].name, "PrimaryKey");
  EXPECT_EQ(def.logicalIndexes[0].type, 1);
  EXPECT_EQ(def.logicalIndexes[1].name, "ImeDatum");
  ASSERT_EQ(def.longValueMaps.size(), 2u);
  EXPECT_EQ(def.longValueMaps[1].column, 11);
  EXPECT_EQ(def.longValueMaps[1].free.at, (RowPointer{40, 7}));
}

TEST(RowEncoder, EveryTypeDecodesBack) {
  const TableSchema schema = everyType();
  TableDefState state;
  state.indexes.resize(2);
  state.longValues.resize(2);
  TableDef def = parseTableDef(kJet4Format, 1252, encodeTableDef(schema, state));
  const TableLayout layout = layoutTable(schema);
  std::vector<FieldValue> f(schema.columns.size());
  f[0] = longField(-7);
  f[1] = textField(u"Čokolada", true);  // č has no one-byte form: UCS-2
  f[2] = booleanField(true);
  f[3] = byteField(200);
  f[4] = integerField(-300);
  f[5] = currencyField(12345678);
  f[6] = singleField(2.5f);
  f[7] = doubleField(-0.125);
  f[8] = dateField(43831.5);
  f[9] = bytesField({1, 2, 3});
  // Memo and OLE stay null: their values live on long-value pages this test has none of.
  const uint8_t guid[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 1, 2, 3, 4, 5, 6, 7, 8};
  f[12] = guidField(guid);
  f[13] = numericField(true, 123456);
  std::vector<uint8_t> row = encodeRow(schema, layout, f);

  // A page reader is needed for long values only; an empty database file serves.
  std::vector<uint8_t> file = buildJet4HeaderPage(HeaderSettings{});
  file.resize(3 * 4096, 0);
  PageReader pages(std::make_unique<MemorySource>("mem", file));
  RowLayout cracked;
  crackRow(kJet4Format, def, row, cracked);
  auto value = [&](size_t k) {
    Value v;
    decodeValue(pages, def.columns[k], row, cracked.fields[k], v);
    return v;
  };
  EXPECT_EQ(value(0).integer, -7);
  EXPECT_EQ(value(1).text, "Čokolada");
  EXPECT_TRUE(value(2).boolean);
  EXPECT_EQ(value(3).integer, 200);
  EXPECT_EQ(value(4).integer, -300);
  EXPECT_EQ(value(5).integer, 12345678);
  EXPECT_EQ(value(6).real, 2.5);
  EXPECT_EQ(value(7).real, -0.125);
  EXPECT_EQ(formatDateTime(value(8).real), "01/01/20 12:00:00");
  EXPECT_EQ(value(9).bytes, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(value(10).null);
  EXPECT_TRUE(value(11).null);
  EXPECT_EQ(value(12).bytes, std::vector<uint8_t>(guid, guid + 16));
  Value n = value(13);
  EXPECT_EQ(formatNumeric(n.negative, n.bytes.data(), n.scale), "-1234.56");

  // Text that has a one-byte form is stored in it when the column allows.
  EXPECT_EQ(encodeText(u"abc", true), (std::vector<uint8_t>{0xFF, 0xFE, 'a', 'b', 'c'}));
  EXPECT_EQ(encodeText(u"abc", false), (std::vector<uint8_t>{'a', 0, 'b', 0, 'c', 0}));
}

TEST(RowEncoder, TextThatIsNotUtf8IsRefused) {
  EXPECT_EQ(utf8ToUtf16("\xC4\x8D\xE2\x82\xAC\xF0\x9F\x98\x80"), u"\u010D\u20AC\U0001F600");
  for (const char* bad : {"a\x80", "ab\xC4", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
    try {
      utf8ToUtf16(bad);
      ADD_FAILURE() << "accepted " << testing::PrintToString(std::string(bad));
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::InvalidArgument);
    }
  }
}

TEST(IndexTreeWriter, DeepTreesWalkInOrder) {
  TempDir dir;
  const std::string path = (dir.path() / "tree.mdb").string();
  WrittenIndexTree written;
  {
    PageFile file(path, kJet4Format);
    file.allocate();
    file.write(0, buildJet4HeaderPage(HeaderSettings{}));
    IndexTreeWriter writer(kJet4Format, 2, indexPageOutput(file, file));
    // Long keys, so that few fit a page and the tree gets four levels; every key twice (as a non-unique index has).
    for (uint32_t i = 0; i < 6000; ++i) {
      for (uint8_t copy = 0; copy < 2; ++copy) {
        std::vector<uint8_t> key;
        appendLongKey(static_cast<int32_t>(i), key);
        key.resize(300, 0x55);
        writer.add(makeLeafEntry(key, RowPointer{1000 + i, copy}));
      }
    }
    std::vector<uint8_t> key;
    appendLongKey(5, key);
    EXPECT_THROW(writer.add(makeLeafEntry(key, RowPointer{1, 0})), Error);  // out of order
    written = writer.finish();
    file.finish();
  }
  EXPECT_EQ(written.entries, 12000u);
  EXPECT_EQ(written.distinctKeys, 6000u);
  PageReader pages(Env::system().openSource(path));
  IndexWalker walker(pages, 2, written.rootPage);
  IndexWalkEntry e;
  uint64_t n = 0;
  while (walker.next(e)) {
    EXPECT_EQ(e.row, (RowPointer{1000 + static_cast<uint32_t>(n / 2), static_cast<uint8_t>(n % 2)}));
    ++n;
  }
  EXPECT_EQ(n, 12000u);
  EXPECT_EQ(walker.distinctKeys(), 6000u);
  EXPECT_GE(walker.depth(), 4u);
  EXPECT_EQ(walker.leafPages() + walker.nodePages(), written.pages.size());
}

// Deleting a row deletes the long-value rows of its values too: every live row on a long-value page belongs to a
// value of a live row, and every deleted slot carries both flag bits.
TEST(TableWriter, DeletedRowsTakeTheirLongValuesWithThem) {
  TempDir dir;
  const std::string path = (dir.path() / "deleted.mdb").string();
  GeneratorOptions o;
  o.articles = 300;
  o.seed = 4;
  o.bloatPercent = 50;
  generateDatabase(path, o);
  auto db = Database::open(path);
  uint64_t referenced = 0;
  for (const char* name : {"Artikli", "Gibanja"}) {
    TableDef def = db->tableDef(name);
    TableScan scan(db->pages(), def);
    RowRecord rec;
    RowLayout layout;
    while (scan.next(rec)) {
      crackRow(db->format(), def, rec.bytes, layout);
      for (size_t k = 0; k < def.columns.size(); ++k) {
        if (!isLongValueType(def.columns[k].type) || !layout.fields[k].present) continue;
        LongValueRef ref = parseLongValueRef(rec.bytes.subspan(layout.fields[k].offset, layout.fields[k].length));
        std::vector<uint8_t> bytes;
        std::vector<LongValuePiece> pieces;
        readLongValue(db->pages(), ref, bytes, SIZE_MAX, &pieces);
        referenced += pieces.size();
      }
    }
  }
  // Live rows on the long-value pages that belong to the two tables (the dropped work tables' pages are free).
  UsageMap freeMap = db->globalFreeMap();
  std::vector<uint32_t> free = mappedPages(db->pages(), freeMap);
  uint64_t liveLongValueRows = 0;
  uint64_t deletedSlots = 0;
  for (uint32_t p = 3; p < db->pages().pageCount(); ++p) {
    if (std::binary_search(free.begin(), free.end(), p)) continue;
    PageHandle page = db->pages().page(p);
    if ((*page)[0] != 0x01) continue;
    const uint16_t rows = dataPageRowCount(db->format(), *page);
    for (uint16_t r = 0; r < rows; ++r) {
      RowSlot slot = dataPageRow(db->format(), *page, r);
      if (slot.deleted()) {
        ++deletedSlots;
        EXPECT_TRUE(slot.overflow()) << "page " << p << " row " << r;
      } else if (dataPageOwner(db->format(), *page) == kLongValueOwner) {
        ++liveLongValueRows;
      }
    }
  }
  EXPECT_GT(deletedSlots, 300u);
  EXPECT_EQ(liveLongValueRows, referenced);
}

}  // namespace
}  // namespace jet::create
