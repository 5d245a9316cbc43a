// Decoding of text, numbers and dates; RC4 and databases with an encoding key; what the samples exercise.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>

#include "tools/jetdb/csv_export.h"
#include "jet/read/database.h"
#include "jet/format/long_value.h"
#include "jet/format/page_info.h"
#include "jet/pager/rc4.h"
#include "jet/format/row_layout.h"
#include "jet/format/row_long_values.h"
#include "jet/read/table_scan.h"
#include "jet/testing/reader_test_support.h"
#include "jet/format/data_page.h"
#include "jet/format/usage_map.h"
#include "jet/format/text.h"
#include "jet/format/value.h"
#include "jet/testing/generated_database.h"

namespace jet {
namespace {

using reader_testing::encodeWithKey;
using reader_testing::exportCsvText;
using reader_testing::generatedDatabase;
using reader_testing::readFile;
using reader_testing::samplesDir;

std::vector<uint8_t> bytesOf(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int b : v) out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST(ReaderValues, Rc4KnownVector) {
  std::string key = "Key";
  std::vector<uint8_t> data{'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'};
  Rc4 rc4(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(key.data()), key.size()));
  rc4.apply(data);
  EXPECT_EQ(data, bytesOf({0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}));
}

TEST(ReaderValues, Jet4Text) {
  // Plain UCS-2, with a surrogate pair.
  EXPECT_EQ(decodeJet4Text(bytesOf({'A', 0, 0x01, 0x04, 0x3D, 0xD8, 0x00, 0xDE})), "A\xD0\x81\xF0\x9F\x98\x80");
  // Compressed: one byte a character, 0x00 switching to two-byte characters and back.
  EXPECT_EQ(decodeJet4Text(bytesOf({0xFF, 0xFE, 'a', 'b', 0x00, 0x01, 0x04, 0x00, 'c'})),
            "ab\xD0\x81"
            "c");
  // An odd trailing byte of an uncompressed run is dropped, not read past.
  EXPECT_EQ(decodeJet4Text(bytesOf({0xFF, 0xFE, 'a', 0x00, 0x01})), "a");
  EXPECT_EQ(decodeJet4Text(bytesOf({'x', 0, 'y'})), "x");
  // A lone surrogate becomes U+FFFD.
  EXPECT_EQ(decodeJet4Text(bytesOf({0x00, 0xD8, 'z', 0})), "\xEF\xBF\xBDz");
}

// Long runs of plain UCS-2 go through the fast paths of the decoder (several units at a time while they are ASCII, or
// all of two UTF-8 bytes): every mix of such runs and other characters, at every position, decodes as one unit at a
// time would.
TEST(ReaderValues, Jet4TextRunsDecodeAsUnitByUnit) {
  auto utf8 = [](std::string& out, uint32_t c) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  };
  auto expected = [&](const std::vector<uint16_t>& units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
      const uint16_t u = units[i];
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        utf8(out, 0x10000u + ((u - 0xD800u) << 10) + (units[i + 1] - 0xDC00u));
        ++i;
      } else if (u >= 0xD800 && u <= 0xDFFF) {
        utf8(out, 0xFFFD);  // a surrogate without its partner
      } else {
        utf8(out, u);
      }
    }
    return out;
  };
  std::mt19937 rng(42);
  const uint16_t others[] = {0x7F, 0x80, 0xE9, 0x10D, 0x7FF, 0x800, 0x20AC, 0xFFFD, 0xD83D, 0xDE00, 0xDBFF, 0xDC00};
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint16_t> units;
    const size_t length = rng() % 80;
    while (units.size() < length) {
      if (rng() % 3 != 0) {
        for (size_t run = rng() % 40; run > 0; --run) units.push_back(static_cast<uint16_t>(0x20 + rng() % 0x5F));
      } else if (rng() % 3 == 0) {
        // A run of letters of two UTF-8 bytes (Cyrillic, and the ends of that range).
        const uint16_t two[] = {0x80, 0x7FF, 0x410, 0x44F, 0x5D0};
        for (size_t run = rng() % 24; run > 0; --run) {
          units.push_back(rng() % 2 == 0 ? two[rng() % std::size(two)] : static_cast<uint16_t>(0x400 + rng() % 0x60));
        }
      } else if (rng() % 4 == 0) {
        units.push_back(0xD83D);  // a pair
        units.push_back(0xDE00);
      } else {
        units.push_back(others[rng() % std::size(others)]);
      }
    }
    if (!units.empty() && units[0] == 0xFEFF) units[0] = 'x';  // FF FE would mark compressed text
    std::vector<uint8_t> bytes;
    for (uint16_t u : units) {
      bytes.push_back(static_cast<uint8_t>(u));
      bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    ASSERT_EQ(decodeJet4Text(bytes), expected(units)) << "round " << round;
  }
}

TEST(ReaderValues, Jet3CodePages) {
  std::vector<uint8_t> slovene = bytesOf({0x8A, 0x9A, 0xC8, 0xE8, 0x8E, 0x9E});
  EXPECT_EQ(decodeCodePage(slovene, 1250), "\xC5\xA0\xC5\xA1\xC4\x8C\xC4\x8D\xC5\xBD\xC5\xBE");  // ŠšČčŽž
  EXPECT_EQ(decodeCodePage(bytesOf({0x80, 0xE9, 'a'}), 1252),
            "\xE2\x82\xAC\xC3\xA9"
            "a");                                                // €éa
  EXPECT_EQ(decodeCodePage(bytesOf({0xE8}), 1252), "\xC3\xA8");  // è
  EXPECT_EQ(decodeCodePage(bytesOf({0x81}), 1252), "\xC2\x81");  // undefined: passed through as U+0081
  EXPECT_EQ(decodeCodePage(bytesOf({0xE9}), 64999), "\xC3\xA9");  // code pages no converter knows read as 1252
  EXPECT_EQ(decodeCodePage(bytesOf({0xE9}), 0), "\xC3\xA9");
  // The East Asian code pages go to the system's converter (its own tests are in jet/os).
  EXPECT_EQ(decodeCodePage(bytesOf({'a', 0xD6, 0xD0, 0xCE, 0xC4}), 936), "a\u4E2D\u6587");
  EXPECT_EQ(decodeCodePage(bytesOf({'a', 'b'}), 936), "ab");
  // The other code pages of one byte a character, as Windows of each language writes them: a letter from the upper
  // half of each, checked against its Unicode name, and the undefined bytes.
  struct Letter {
    uint16_t codePage;
    uint8_t byte;
    const char* utf8;
  };
  for (const Letter& l : {Letter{874, 0xA1, "\u0E01"},    // THAI CHARACTER KO KAI
                          Letter{1251, 0xC0, "\u0410"},   // CYRILLIC CAPITAL LETTER A
                          Letter{1251, 0xB9, "\u2116"},   // NUMERO SIGN
                          Letter{1253, 0xC1, "\u0391"},   // GREEK CAPITAL LETTER ALPHA
                          Letter{1254, 0xD0, "\u011E"},   // LATIN CAPITAL LETTER G WITH BREVE
                          Letter{1255, 0xE0, "\u05D0"},   // HEBREW LETTER ALEF
                          Letter{1256, 0xC7, "\u0627"},   // ARABIC LETTER ALEF
                          Letter{1256, 0x81, "\u067E"},   // ARABIC LETTER PEH (1256 defines every byte)
                          Letter{1257, 0xC0, "\u0104"},   // LATIN CAPITAL LETTER A WITH OGONEK
                          Letter{1258, 0xD2, "\u0309"},   // COMBINING HOOK ABOVE
                          Letter{1253, 0x81, "\u0081"},   // undefined below 0xA0: the C1 control
                          Letter{1253, 0xAA, "\uFFFD"},   // undefined from 0xA0 up: the replacement character
                          Letter{874, 0xFF, "\uFFFD"}}) {
    EXPECT_EQ(decodeCodePage(bytesOf({'a', l.byte, 'b'}), l.codePage), std::string("a") + l.utf8 + "b")
        << "code page " << l.codePage << ", byte 0x" << std::hex << int{l.byte};
  }
}

// What mdb-export's converter rejects prints as '?' in the mode that reproduces it: an undefined Jet 3 code-page byte
// (a C1 control or U+FFFD once decoded), and each UTF-16 half of a Jet 4 character outside the Basic Multilingual
// Plane. Elsewhere the text prints whole.
TEST(ReaderValues, TextMdbExportCannotConvertPrintsAsQuestionMarks) {
  CsvStyle quirks;
  quirks.mdbExportQuirks = true;
  Value v;
  v.type = ColumnType::Text;
  v.null = false;
  auto printed = [&](const std::string& text, const CsvStyle& style, bool jet3) {
    v.text = text;
    std::string out;
    appendCsvField(out, v, style, jet3);
    return out;
  };
  EXPECT_EQ(printed("a\u0081b\uFFFDc\u0410", quirks, true), "\"a?b?c\u0410\"");
  EXPECT_EQ(printed("x\U00028A00y\uFFFD\u0081", quirks, false), "\"x??y\uFFFD\u0081\"");
  EXPECT_EQ(printed("x\U00028A00y\uFFFD", CsvStyle{}, true), "\"x\U00028A00y\uFFFD\"");
}

// An OLE value that is there but empty (a long-value header of length 0) prints as "" in the mode that reproduces
// mdb-export, as mdb-export prints it; a null prints nothing in either mode, and the plain mode prints both alike.
TEST(ReaderValues, EmptyOleValueMdbExportPrintsQuoted) {
  CsvStyle quirks;
  quirks.mdbExportQuirks = true;
  Value v;
  v.type = ColumnType::Ole;
  auto printed = [&](bool null, const CsvStyle& style) {
    v.null = null;
    std::string out;
    appendCsvField(out, v, style, false);
    return out;
  };
  EXPECT_EQ(printed(false, quirks), "\"\"");
  EXPECT_EQ(printed(true, quirks), "");
  EXPECT_EQ(printed(false, CsvStyle{}), "");
  v.bytes = {'a', '"', 'b'};
  EXPECT_EQ(printed(false, quirks), "\"a\"\"b\"");
}

TEST(ReaderValues, NumbersAndDates) {
  EXPECT_EQ(formatCurrency(35000), "3.5000");
  EXPECT_EQ(formatCurrency(-1), "-0.0001");
  EXPECT_EQ(formatCurrency(INT64_MIN), "-922337203685477.5808");
  std::vector<uint8_t> m(16, 0);
  m[12] = 0x39;  // 12345 in the least significant word (the last four bytes)
  m[13] = 0x30;
  EXPECT_EQ(formatNumeric(false, m.data(), 2), "123.45");
  EXPECT_EQ(formatNumeric(true, m.data(), 0), "-12345");
  EXPECT_EQ(formatNumeric(false, m.data(), 7), "0.0012345");
  std::vector<uint8_t> big(16, 0);
  big[0] = 0x01;  // 2^96: the lowest byte of the most significant word
  EXPECT_EQ(formatNumeric(false, big.data(), 0), "79228162514264337593543950336");
  // Either side of 2^64, where the digits stop coming from one 64-bit conversion; and zero.
  std::vector<uint8_t> edge(16, 0);
  std::fill(edge.begin() + 8, edge.end(), 0xFF);
  EXPECT_EQ(formatNumeric(false, edge.data(), 4), "1844674407370955.1615");
  std::fill(edge.begin(), edge.end(), 0);
  edge[4] = 0x01;  // the lowest byte of the second word
  EXPECT_EQ(formatNumeric(true, edge.data(), 0), "-18446744073709551616");
  EXPECT_EQ(formatNumeric(false, std::vector<uint8_t>(16, 0).data(), 2), "0.00");
  EXPECT_EQ(formatDouble(444.555), "444.555");
  EXPECT_EQ(formatSingle(3.5f), "3.5");
  EXPECT_EQ(formatSingle(0.1f), "0.1");
  uint8_t g[16] = {0xE6, 0x13, 0x05, 0x5E, 0xE9, 0x96, 0xA9, 0x43, 0xA4, 0x2F, 0x58, 0xB4, 0x95, 0x0C, 0xC0, 0x5C};
  EXPECT_EQ(formatGuid(g), "{5E0513E6-96E9-43A9-A42F-58B4950CC05C}");

  EXPECT_EQ(formatDateTime(0), "12/30/99 00:00:00");
  EXPECT_EQ(formatDateTime(36526.5), "01/01/00 12:00:00");
  EXPECT_EQ(formatDateTime(27293.0), "09/21/74 00:00:00");
  // Fields outside two digits print as "%02d" prints them, whole.
  EXPECT_EQ(formatDateTime(CivilDateTime{2024, 7, 5, 123, -4, 9}), "07/05/24 123:-4:09");
  CivilDateTime before = toCivil(-1.25);  // a day back, then a quarter day forward
  EXPECT_EQ(before.year, 1899);
  EXPECT_EQ(before.month, 12);
  EXPECT_EQ(before.day, 29);
  EXPECT_EQ(before.hour, 6);
  CivilDateTime rounded = toCivil(1.0 - 1e-9);  // rounds up to midnight of the next day
  EXPECT_EQ(rounded.day, 31);
  EXPECT_EQ(rounded.hour, 0);
  CivilDateTime leap = toCivil(36585.0);
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  EXPECT_EQ(leap.year, 2000);
}

// A Jet 3 table of three variable-length text columns.
TableDef jet3TextTable() {
  TableDef t;
  t.varColumnCount = 3;
  for (uint16_t k = 0; k < 3; ++k) {
    ColumnDef c;
    // Appended rather than "c" + std::to_string(k): GCC 12's optimiser warns (-Wrestrict) about the latter.
    c.name = "c";
    c.name += std::to_string(k);
    c.type = ColumnType::Text;
    c.number = k;
    c.varIndex = k;
    c.flags = kColumnNullable;
    t.columns.push_back(c);
  }
  return t;
}

// Builds a Jet 3 row of three variable columns of the given lengths with the trailing tables laid out by hand:
// eod, offsets (last column first), jump table (given), column count, null mask.
std::vector<uint8_t> jet3Row(const std::vector<uint32_t>& lengths, const std::vector<uint8_t>& jumps) {
  std::vector<uint8_t> row{3};
  std::vector<uint32_t> offsets;
  for (size_t k = 0; k < lengths.size(); ++k) {
    offsets.push_back(static_cast<uint32_t>(row.size()));
    row.insert(row.end(), lengths[k], static_cast<uint8_t>('a' + k));
  }
  uint32_t eod = static_cast<uint32_t>(row.size());
  row.push_back(static_cast<uint8_t>(eod));
  for (size_t k = offsets.size(); k > 0; --k) row.push_back(static_cast<uint8_t>(offsets[k - 1]));
  for (size_t k = jumps.size(); k > 0; --k) row.push_back(jumps[k - 1]);  // first jump nearest the count
  row.push_back(3);                                                       // variable columns
  row.push_back(0x07);                                                    // null mask: all three present
  return row;
}

// Rows of 256 bytes or more keep one-byte offsets and a jump table saying where each 256-byte segment starts.
TEST(ReaderValues, Jet3JumpTables) {
  TableDef t = jet3TextTable();
  RowLayout layout;
  // 358 bytes: one jump, at column 2 (offset 301).
  std::vector<uint8_t> row = jet3Row({200, 100, 50}, {2});
  ASSERT_EQ(row.size(), 358u);
  crackRow(kJet3Format, t, row, layout);
  EXPECT_EQ(layout.fields[0].offset, 1u);
  EXPECT_EQ(layout.fields[0].length, 200u);
  EXPECT_EQ(layout.fields[1].offset, 201u);
  EXPECT_EQ(layout.fields[1].length, 100u);
  EXPECT_EQ(layout.fields[2].offset, 301u);
  EXPECT_EQ(layout.fields[2].length, 50u);
  // 514 bytes: the size asks for two jump entries but the data ends before 512, so the second is an unused 0xFF.
  row = jet3Row({200, 100, 205}, {2, 0xFF});
  ASSERT_EQ(row.size(), 514u);
  crackRow(kJet3Format, t, row, layout);
  EXPECT_EQ(layout.fields[2].offset, 301u);
  EXPECT_EQ(layout.fields[2].length, 205u);
  // A jump table claiming a segment that would put an offset past the data is refused.
  row = jet3Row({200, 100, 50}, {0});
  EXPECT_THROW(crackRow(kJet3Format, t, row, layout), Error);
}

std::string dumpAll(Database& db) {
  std::string out;
  for (const CatalogEntry* e : db.catalog().tables(true)) out += exportCsvText(db, db.tableDefAt(e->tablePage()));
  return out;
}

// Jet 3 text columns carry their code page: switching the column to 1250 changes how its upper-half bytes read.
// Rows of a table that had no column of variable length when they were written end with the null mask: Jet writes no
// tables of variable-length columns into them, and they keep lacking them after a text column is added (seen in a
// real Jet 4 file). Their fixed columns read where they are, and the added column is null. Rows that have the text
// column read it from their tables as before.
TEST(ReaderValues, RowsWrittenBeforeTheFirstVariableColumnHaveNoOffsetTables) {
  TableDef t;
  t.varColumnCount = 1;
  for (uint16_t k = 0; k < 3; ++k) {
    ColumnDef c;
    c.name = k < 2 ? "n" : "text";
    c.type = k < 2 ? ColumnType::Long : ColumnType::Text;
    c.number = k;
    c.flags = static_cast<uint8_t>(k < 2 ? kColumnFixedLength : kColumnNullable);
    c.fixedOffset = static_cast<uint16_t>(4 * k);
    c.length = k < 2 ? 4 : 100;
    t.columns.push_back(c);
  }
  t.firstVarColumnNumber = 2;
  for (Version v : {Version::Jet3, Version::Jet4}) {
    SCOPED_TRACE(v == Version::Jet3 ? "Jet 3" : "Jet 4");
    const Format& f = formatFor(v);
    const bool jet4 = v == Version::Jet4;
    // Two columns, 7 and 0x0102 (whose low bytes would read as a variable-column count), and the null mask.
    const std::vector<uint8_t> fixed{7, 0, 0, 0, 2, 1, 0, 0};
    std::vector<uint8_t> old{2};
    if (jet4) old.push_back(0);
    old.insert(old.end(), fixed.begin(), fixed.end());
    old.push_back(0x03);
    RowLayout layout;
    crackRow(f, t, old, layout);
    ASSERT_TRUE(layout.fields[0].present && layout.fields[1].present);
    EXPECT_EQ(le32(old.data() + layout.fields[0].offset), 7u);
    EXPECT_EQ(le32(old.data() + layout.fields[1].offset), 0x0102u);
    EXPECT_FALSE(layout.fields[2].present);
    // The same row written after the text column was added: "ab", its offset, the end, the count, the mask.
    std::vector<uint8_t> row{3};
    if (jet4) row.push_back(0);
    row.insert(row.end(), fixed.begin(), fixed.end());
    const auto start = static_cast<uint8_t>(row.size());
    row.insert(row.end(), {'a', 'b'});
    for (uint8_t offset : {static_cast<uint8_t>(start + 2), start}) {  // the end first, then column 0's start
      row.push_back(offset);
      if (jet4) row.push_back(0);
    }
    row.push_back(1);  // one variable column
    if (jet4) row.push_back(0);
    row.push_back(0x07);
    crackRow(f, t, row, layout);
    ASSERT_TRUE(layout.fields[2].present);
    EXPECT_EQ(layout.fields[2].offset, start);
    EXPECT_EQ(layout.fields[2].length, 2u);
  }
}

TEST(ReaderValues, Jet3TextFollowsTheColumnCodePage) {
  JET_REQUIRE_SAMPLES();
  std::vector<uint8_t> bytes = readFile(samplesDir() / "jet3/testIndexCodesV1997.mdb");
  auto rowValue = [](Database& db, const std::string& key) {
    TableDef def = db.tableDef("Table1");
    TableScan scan(db.pages(), def);
    RowRecord rec;
    RowLayout layout;
    Value name, data;
    while (scan.next(rec)) {
      crackRow(db.format(), def, rec.bytes, layout);
      decodeValue(db.pages(), def.columns[0], rec.bytes, layout.fields[0], name);
      decodeValue(db.pages(), def.columns[1], rec.bytes, layout.fields[1], data);
      if (name.text == key) return data.text;
    }
    return std::string("(missing)");
  };
  Database western(std::make_unique<MemorySource>("1252", bytes));
  EXPECT_EQ(rowValue(western, "row232"),
            "AA\xC3\xA8"
            "AA");  // 0xE8 in 1252: è
  TableDef def = western.tableDef("Table1");
  ASSERT_EQ(def.pages.size(), 1u);
  const size_t block = size_t{def.page} * kJet3Format.pageSize + def.columns[1].blockOffset + kJet3Format.colCodePage;
  ASSERT_EQ(bytes[block] | (bytes[block + 1] << 8), 1252);
  bytes[block] = 1250 & 0xFF;
  bytes[block + 1] = 1250 >> 8;
  Database central(std::make_unique<MemorySource>("1250", bytes));
  EXPECT_EQ(rowValue(central, "row232"),
            "AA\xC4\x8D"
            "AA");  // 0xE8 in 1250: č
}

// A database with an encoding key has every page but the header RC4-encrypted with (key XOR page number).
// A generated Jet 4 database and, where the samples are, a Jet 3 one.
TEST(ReaderValues, EncodedDatabasesReadLikePlainOnes) {
  std::vector<std::string> names{"generated"};
  if (!samplesDir().empty()) names.push_back("jet3/testV1997.mdb");
  for (const std::string& name : names) {
    std::vector<uint8_t> plain = name == "generated" ? generatedDatabase() : readFile(samplesDir() / name);
    std::vector<uint8_t> coded = plain;
    const uint32_t key = 0x5A3C9617;
    encodeWithKey(coded, key);
    Database plainDb(std::make_unique<MemorySource>(name, plain));
    Database codedDb(std::make_unique<MemorySource>(name, coded));
    EXPECT_EQ(codedDb.header().encodingKey, key);
    EXPECT_EQ(dumpAll(codedDb), dumpAll(plainDb)) << name;
  }
}

// A table's owned-pages map rewritten from the inline form to the reference form (a list of usage-map pages) still
// leads to the same rows; a reference to a page that is not a usage-map page is damage.
TEST(ReaderValues, ReferenceUsageMaps) {
  const Format& f = kJet4Format;
  std::vector<uint8_t> bytes = generatedDatabase();
  Database plain(std::make_unique<MemorySource>("plain", bytes));
  TableDef def = plain.tableDef("Artikli");
  UsageMap inlineMap = readUsageMap(plain.pages(), def.ownedPages.at);
  ASSERT_EQ(inlineMap.kind, UsageMap::Kind::Inline);
  std::vector<uint32_t> owned = mappedPages(plain.pages(), inlineMap);

  const uint32_t bitmapPage = static_cast<uint32_t>(bytes.size() / f.pageSize);
  std::vector<uint8_t> bitmap(f.pageSize, 0);
  bitmap[0] = static_cast<uint8_t>(PageType::UsageMap);
  bitmap[1] = 0x01;
  for (uint32_t p : owned) bitmap[4 + p / 8] |= static_cast<uint8_t>(1u << (p % 8));
  bytes.insert(bytes.end(), bitmap.begin(), bitmap.end());
  const size_t mapPage = size_t{def.ownedPages.at.page} * f.pageSize;
  RowSlot slot = dataPageRow(f, Bytes(bytes.data() + mapPage, f.pageSize), def.ownedPages.at.row);
  std::fill(bytes.begin() + static_cast<ptrdiff_t>(mapPage + slot.start),
            bytes.begin() + static_cast<ptrdiff_t>(mapPage + slot.end), uint8_t{0});
  bytes[mapPage + slot.start] = 0x01;
  for (size_t k = 0; k < 4; ++k) {
    bytes[mapPage + slot.start + 1 + k] = static_cast<uint8_t>(bitmapPage >> (8 * k));
  }

  Database referenced(std::make_unique<MemorySource>("referenced", bytes));
  UsageMap map = readUsageMap(referenced.pages(), def.ownedPages.at);
  EXPECT_EQ(map.kind, UsageMap::Kind::Reference);
  EXPECT_EQ(mappedPages(referenced.pages(), map), owned);
  EXPECT_EQ(countRows(referenced.pages(), referenced.tableDef("Artikli")), countRows(plain.pages(), def));

  bytes[size_t{bitmapPage} * f.pageSize] = static_cast<uint8_t>(PageType::Data);
  Database damaged(std::make_unique<MemorySource>("damaged", bytes));
  EXPECT_THROW(countRows(damaged.pages(), damaged.tableDef("Artikli")), Error);
}

// The samples exercise every way a value can be stored; the comparison with mdb-export then covers them.
TEST(ReaderValues, SamplesCoverStorageForms) {
  JET_REQUIRE_SAMPLES();
  std::map<std::string, int> seen;
  for (const auto& file : reader_testing::allSamples()) {
    Database db(std::make_unique<MemorySource>(file.string(), readFile(file)));
    const bool jet3 = db.format().version == Version::Jet3;
    for (const CatalogEntry* e : db.catalog().tables(true)) {
      TableDef def = db.tableDefAt(e->tablePage());
      TableScan scan(db.pages(), def);
      RowRecord rec;
      RowLayout layout;
      Value v;
      while (scan.next(rec)) {
        crackRow(db.format(), def, rec.bytes, layout);
        if (layout.columnCount < def.columns.size()) ++seen["row older than a column"];
        for (size_t k = 0; k < def.columns.size(); ++k) {
          const ColumnDef& c = def.columns[k];
          decodeValue(db.pages(), c, rec.bytes, layout.fields[k], v);
          if (!v.null) ++seen[columnTypeName(c.type)];
          if (c.type == ColumnType::Text && !jet3 && rec.bytes[layout.fields[k].offset] == 0xFF) ++seen["compressed"];
        }
        for (const RowLongValue& lv : longValuesOf(def, rec.bytes, layout)) {
          std::vector<uint8_t> data;
          std::vector<LongValuePiece> pieces;
          readLongValue(db.pages(), lv.ref, data, SIZE_MAX, &pieces);
          EXPECT_EQ(data.size(), lv.ref.length) << file << " " << e->name << " " << def.columns[lv.column].name;
          for (const LongValuePiece& piece : pieces) {
            EXPECT_TRUE(describePage(db.pages(), piece.at.page).isLongValuePage());
          }
          ++seen[lv.ref.kind == LongValueRef::Kind::Inline      ? "lv inline"
                 : lv.ref.kind == LongValueRef::Kind::SingleRow ? "lv single row"
                                                                : "lv chain"];
        }
        EXPECT_EQ(describePage(db.pages(), rec.stored.page).owner, def.page);
      }
      if (scan.overflowRows() > 0) ++seen["overflow"];
    }
  }
  for (const char* form : {"row older than a column",
                           "compressed",
                           "lv inline",
                           "lv single row",
                           "lv chain",
                           "overflow",
                           "Boolean",
                           "Byte",
                           "Integer",
                           "Long Integer",
                           "Currency",
                           "Single",
                           "Double",
                           "DateTime",
                           "Binary",
                           "Text",
                           "OLE",
                           "Memo",
                           "Replication ID",
                           "Numeric"}) {
    EXPECT_GT(seen[form], 0) << form;
  }
}

}  // namespace
}  // namespace jet
