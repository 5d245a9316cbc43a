#include "jet/compact/verify.h"

#include <algorithm>

#include "jet/compact/indexes.h"
#include "jet/compact/rows.h"
#include "jet/errors.h"
#include "jet/read/index_walk.h"
#include "jet/format/long_value.h"
#include "jet/format/row_layout.h"
#include "jet/format/table_def.h"
#include "jet/read/table_scan.h"

namespace jet {
namespace {

[[noreturn]] void differs(const TablePlan& t, const std::string& what) {
  corrupt("the compacted database differs from its source in table " + t.name + ": " + what);
}

std::string rowText(uint64_t n) { return "row " + std::to_string(n + 1); }

// Whether the copy leaves this source row out (an Id column naming a table that does not exist).
bool leftOut(const CompactPlan& plan, const TablePlan& t, Bytes row, const RowLayout& layout) {
  for (size_t k : t.idColumns) {
    const FieldLocation& fl = layout.fields[k];
    if (!fl.present || fl.length != 4) continue;
    int32_t id = static_cast<int32_t>(le32(row.data() + fl.offset));
    if (TableIdMap::looksLikeTableId(id) && !plan.ids.find(static_cast<uint32_t>(id))) return true;
  }
  return false;
}

RowPointerMap compareRows(PageReader& src, PageReader& dst, const CompactPlan& plan, const TablePlan& t,
                          const TableDef& out, uint64_t& rows) {
  const Format& f = src.format();
  RowPointerMap moved;
  TableScan a(src, t.def);
  TableScan b(dst, out);
  RowRecord ra, rb;
  RowLayout la, lb;
  std::vector<uint8_t> expected, va, vb;
  uint64_t n = 0;
  while (a.next(ra)) {
    crackRow(f, t.def, ra.bytes, la);
    if (leftOut(plan, t, ra.bytes, la)) continue;
    if (!b.next(rb)) differs(t, rowText(n) + " is missing");
    crackRow(f, out, rb.bytes, lb);
    expected.assign(ra.bytes.begin(), ra.bytes.end());
    for (size_t k : t.idColumns) {
      const FieldLocation& fl = la.fields[k];
      if (!fl.present || fl.length != 4) continue;
      int32_t id = static_cast<int32_t>(le32(expected.data() + fl.offset));
      if (!TableIdMap::looksLikeTableId(id)) continue;
      uint32_t to = *plan.ids.find(static_cast<uint32_t>(id));
      for (int i = 0; i < 4; ++i) expected[fl.offset + static_cast<size_t>(i)] = static_cast<uint8_t>(to >> (8 * i));
    }
    if (rb.bytes.size() != expected.size()) differs(t, rowText(n) + " has a different length");
    for (size_t k = 0; k < t.def.columns.size(); ++k) {
      if (!isLongValueType(t.def.columns[k].type)) continue;
      const FieldLocation& fa = la.fields[k];
      const FieldLocation& fb = lb.fields[k];
      if (fa.present != fb.present || fa.offset != fb.offset || fa.length != fb.length) {
        differs(t, rowText(n) + " stores column " + t.def.columns[k].name + " differently");
      }
      if (!fa.present || fa.length < kLongValueDefinitionSize) continue;
      LongValueRef refA = parseLongValueRef(ra.bytes.subspan(fa.offset, fa.length));
      if (refA.kind == LongValueRef::Kind::Inline) continue;
      LongValueRef refB = parseLongValueRef(rb.bytes.subspan(fb.offset, fb.length));
      va.clear();
      vb.clear();
      readLongValue(src, refA, va);
      readLongValue(dst, refB, vb);
      if (va != vb) differs(t, rowText(n) + " has a different value in column " + t.def.columns[k].name);
      std::copy_n(rb.bytes.begin() + static_cast<std::ptrdiff_t>(fb.offset), kLongValueDefinitionSize,
                  expected.begin() + static_cast<std::ptrdiff_t>(fa.offset));
    }
    if (!std::equal(expected.begin(), expected.end(), rb.bytes.begin())) differs(t, rowText(n) + " has different bytes");
    try {
      moved.add({ra.home.page, static_cast<uint8_t>(ra.home.row)}, {rb.home.page, static_cast<uint8_t>(rb.home.row)});
    } catch (const Error&) {
      differs(t, rowText(n) + " is not where the rows before it lead");
    }
    ++n;
  }
  if (b.next(rb)) differs(t, "the copy has more rows than the source");
  if (out.rowCount != n) differs(t, "its definition counts " + std::to_string(out.rowCount) + " rows, not " + std::to_string(n));
  rows += n;
  return moved;
}

uint64_t compareIndex(PageReader& src, PageReader& dst, const CompactPlan& plan, const TablePlan& t,
                      const TableDef& out, const RowPointerMap& moved, size_t i) {
  const RealIndexDef& ia = t.def.realIndexes[i];
  const RealIndexDef& ib = out.realIndexes[i];
  const std::string name = "index " + std::to_string(i);
  bool overIds = false;
  for (const RealIndexDef::KeyColumn& kc : ia.columns) {
    for (size_t k : t.idColumns) overIds = overIds || t.def.columns[k].number == kc.column;
  }
  // The source's entries as the copy should hold them.
  std::vector<IndexEntry> expected;
  IndexWalker wa(src, t.def.page, ia.rootPage);
  IndexWalker wb(dst, t.newPage, ib.rootPage);
  IndexWalkEntry ea, eb;
  uint64_t n = 0;
  auto check = [&](const IndexEntry& want) {
    if (!wb.next(eb)) differs(t, name + " lacks entry " + std::to_string(n + 1));
    if (!std::equal(want.begin(), want.end(), eb.entry.begin(), eb.entry.end())) {
      differs(t, name + " has a different entry " + std::to_string(n + 1));
    }
    ++n;
  };
  IndexEntry want;  // reused: most indexes are compared entry by entry without keeping any
  while (wa.next(ea)) {
    std::optional<RowPointerMap::Found> to = moved.find(ea.row);
    if (!to) continue;  // a row the copy leaves out
    want.assign(ea.key.begin(), ea.key.end());
    if (overIds && !remapIdKey(t.def, ia.columns, t.idColumns, plan.ids, want)) {
      differs(t, name + " has an unreadable key");
    }
    // A leaf entry is the key, then the row's page (3 bytes, big-endian) and row.
    const uint8_t pointer[4] = {static_cast<uint8_t>(to->to.page >> 16), static_cast<uint8_t>(to->to.page >> 8),
                                static_cast<uint8_t>(to->to.page), to->to.row};
    want.insert(want.end(), pointer, pointer + 4);
    if (overIds) {
      expected.push_back(want);
    } else {
      check(want);
    }
  }
  std::sort(expected.begin(), expected.end(), indexEntryLess);
  for (const IndexEntry& sorted : expected) check(sorted);
  if (wb.next(eb)) differs(t, name + " has more entries than the source");
  if (u32(out.raw, ib.countOffset + 4) != wb.distinctKeys()) differs(t, name + " has a wrong key count");
  return n;
}

// The definition must be the source's byte for byte, apart from the fields the compaction rewrites: counts, page
// pointers (checked by following them, above and in the integrity check) and related tables (checked through the
// Id map). The next-page pointers and Jet 4 free-space fields live in page headers, outside the assembled bytes
// compared here only for the first page.
void compareDefinitions(const Format& f, const CompactPlan& plan, const TablePlan& t, const TableDef& out) {
  const TableDef& in = t.def;
  if (out.definitionLength != in.definitionLength || out.raw.size() < t.definitionLength) {
    differs(t, "its definition has another length");
  }
  std::vector<bool> skip(t.definitionLength, false);
  auto mask = [&](uint32_t offset, uint32_t length) {
    for (uint32_t i = offset; i < offset + length && i < skip.size(); ++i) skip[i] = true;
  };
  mask(2, 6);  // Jet 4 free space, next page
  mask(f.tdefRowCount, 4);
  mask(in.ownedPages.offset, 4);
  mask(in.freeSpacePages.offset, 4);
  for (const RealIndexDef& ix : in.realIndexes) {
    mask(ix.countOffset + 4, 4);
    mask(ix.usageMap.offset, 8);  // map pointer and root page
  }
  for (const LongValueMaps& m : in.longValueMaps) mask(m.offset + 2, 8);
  for (size_t i = 0; i < in.logicalIndexes.size(); ++i) {
    uint32_t related = in.logicalIndexes[i].relatedTablePage;
    if (!TableIdMap::looksLikeTableId(static_cast<int32_t>(related))) continue;
    if (out.logicalIndexes[i].relatedTablePage != *plan.ids.find(related)) differs(t, "a foreign key names another table");
    mask(in.logicalIndexes[i].defOffset + (f.version == Version::Jet4 ? 4 : 0) + 13, 4);
  }
  for (uint32_t i = 0; i < t.definitionLength; ++i) {
    if (!skip[i] && in.raw[i] != out.raw[i]) differs(t, "its definition differs at byte " + std::to_string(i));
  }
}

}  // namespace

VerifyReport verifyCompaction(PageReader& src, PageReader& dst, const CompactPlan& plan) {
  VerifyReport report;
  if (dst.format().version != src.format().version) corrupt("the compacted database has another version");
  for (const TablePlan& t : plan.tables) {
    TableDef out = readTableDef(dst, t.newPage);
    if (out.columns.size() != t.def.columns.size() || out.realIndexes.size() != t.def.realIndexes.size() ||
        out.logicalIndexes.size() != t.def.logicalIndexes.size()) {
      differs(t, "its definition has other columns or indexes");
    }
    compareDefinitions(src.format(), plan, t, out);
    RowPointerMap moved = compareRows(src, dst, plan, t, out, report.rows);
    for (size_t i = 0; i < t.def.realIndexes.size(); ++i) {
      report.indexEntries += compareIndex(src, dst, plan, t, out, moved, i);
    }
  }
  return report;
}

}  // namespace jet
