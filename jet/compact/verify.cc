#include "jet/compact/verify.h"

#include <algorithm>
#include <unordered_map>

#include "jet/errors.h"
#include "jet/format/long_value.h"

namespace jet {
namespace {

[[noreturn]] void differs(const TablePlan& t, const std::string& what) {
  corrupt("the compacted database differs from its source in table " + t.name + ": " + what);
}

std::string rowText(uint64_t n) { return "row " + std::to_string(n + 1); }

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
    if (out.logicalIndexes[i].relatedTablePage != *plan.ids.find(related))
      differs(t, "a foreign key names another table");
    mask(in.logicalIndexes[i].defOffset + (f.version == Version::Jet4 ? 4 : 0) + 13, 4);
  }
  for (uint32_t i = 0; i < t.definitionLength; ++i) {
    if (!skip[i] && in.raw[i] != out.raw[i]) differs(t, "its definition differs at byte " + std::to_string(i));
  }
}

constexpr size_t kNoColumn = ~size_t{0};

}  // namespace

void addLongValueDigest(Digest& values, size_t column, Bytes value) {
  values.addNumber(column);
  values.add(value);
  values.addNumber(value.size());
}

uint64_t rowDigest(const TableDef& def, Bytes row, const RowLayout& layout, uint64_t values) {
  // The definitions of values stored outside the row name their new places; the values themselves are compared.
  // At most a handful a row: kept on the stack, sorted by offset.
  constexpr size_t kMaxLeftOut = 16;
  size_t leftOut[kMaxLeftOut];
  size_t count = 0;
  Digest d;
  for (size_t k = 0; k < def.columns.size() && k < layout.fields.size(); ++k) {
    if (!isLongValueType(def.columns[k].type)) continue;
    const FieldLocation& field = layout.fields[k];
    if (!field.present || field.length < kLongValueDefinitionSize || !fits(row, field.offset, field.length)) continue;
    if ((le32(row.data() + field.offset) & ~kLongValueLengthMask) == kLongValueInline) continue;
    if (count == kMaxLeftOut) {
      // More long values than any real table holds: their definitions count as they are. Both sides agree on it.
      break;
    }
    leftOut[count++] = field.offset;
  }
  std::sort(leftOut, leftOut + count);
  static constexpr uint8_t kZero[kLongValueDefinitionSize] = {};
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    if (leftOut[i] < at) continue;  // overlapping fields: only a damaged layout has them
    d.add(row.subspan(at, leftOut[i] - at));
    d.add(Bytes(kZero, kLongValueDefinitionSize));
    at = leftOut[i] + kLongValueDefinitionSize;
  }
  d.add(row.subspan(at));
  d.addNumber(values);
  return d.value();
}

void addIndexEntryDigest(Digest& entries, Bytes entry) {
  entries.addNumber(entry.size());
  entries.add(entry);
}

struct CompactionComparison::State {
  const Format& format;
  const CompactPlan& plan;
  const std::vector<TableRecord>& records;
  std::unordered_map<uint32_t, size_t> byPage;  // new definition page -> plan table
  std::vector<bool> seen;
  std::optional<std::string> difference;

  // The table being read back (none for a table the copy did not write).
  const TablePlan* table = nullptr;
  const TableRecord* record = nullptr;
  RowBlocks rows;  // as read
  Digest places;
  Digest values;
  size_t valueColumn = kNoColumn;
  uint64_t valueLength = 0;
  std::vector<Digest> indexes;
  std::vector<uint64_t> indexEntries;
  std::vector<bool> indexEnded;

  State(const Format& f, const CompactPlan& p, const std::vector<TableRecord>& r)
      : format(f), plan(p), records(r), seen(p.tables.size(), false) {}

  void note(const std::string& what) {
    if (!difference) difference = what;
  }
  void differ(const std::string& what) {
    note("the compacted database differs from its source in table " + table->name + ": " + what);
  }
  void closeValue() {
    if (valueColumn == kNoColumn) return;
    values.addNumber(valueLength);
    valueColumn = kNoColumn;
  }
};

CompactionComparison::CompactionComparison(const Format& format, const CompactPlan& plan,
                                           const std::vector<TableRecord>& records)
    : s_(std::make_unique<State>(format, plan, records)) {
  for (size_t i = 0; i < plan.tables.size(); ++i) s_->byPage[plan.tables[i].newPage] = i;
}

CompactionComparison::~CompactionComparison() = default;

void CompactionComparison::definition(const std::string& name, const TableDef& def) {
  State& s = *s_;
  auto it = s.byPage.find(def.page);
  if (it == s.byPage.end()) {
    s.note("the compacted database has a table " + name + " that the source lacks");
    return;
  }
  const TablePlan& t = s.plan.tables[it->second];
  const TableRecord& record = s.records[it->second];
  try {
    if (def.columns.size() != t.def.columns.size() || def.realIndexes.size() != t.def.realIndexes.size() ||
        def.logicalIndexes.size() != t.def.logicalIndexes.size() || record.indexes.size() != def.realIndexes.size()) {
      differs(t, "its definition has other columns or indexes");
    }
    compareDefinitions(s.format, s.plan, t, def);
    if (def.rowCount != record.rows.rows()) {
      differs(t, "its definition counts " + std::to_string(def.rowCount) + " rows, not " +
                     std::to_string(record.rows.rows()));
    }
  } catch (const Error& e) {
    s.note(e.what());
  }
}

void CompactionComparison::beginTable(const std::string& name, const TableDef& def) {
  State& s = *s_;
  s.table = nullptr;
  s.record = nullptr;
  auto it = s.byPage.find(def.page);
  if (it == s.byPage.end()) {
    s.note("the compacted database has a table " + name + " that the source lacks");
    return;
  }
  if (s.seen[it->second]) return;  // a second catalog entry for it: the check reports that
  s.seen[it->second] = true;
  const TablePlan& t = s.plan.tables[it->second];
  // The definition itself is compared by definition(); nothing of the table can be compared meaningfully without
  // the same indexes.
  if (def.realIndexes.size() != t.def.realIndexes.size()) return;
  s.table = &t;
  s.record = &s.records[it->second];
  s.rows = RowBlocks{};
  s.places = Digest{};
  s.indexes.assign(def.realIndexes.size(), Digest{});
  s.indexEntries.assign(def.realIndexes.size(), 0);
  s.indexEnded.assign(def.realIndexes.size(), false);
}

void CompactionComparison::beginRow() {
  s_->values = Digest{};
  s_->valueColumn = kNoColumn;
}

void CompactionComparison::longValuePart(size_t column, Bytes part) {
  State& s = *s_;
  if (s.table == nullptr) return;
  if (column != s.valueColumn) {
    s.closeValue();
    s.values.addNumber(column);
    s.valueColumn = column;
    s.valueLength = 0;
  }
  s.values.add(part);
  s.valueLength += part.size();
}

void CompactionComparison::row(RowPointer home, Bytes bytes, const RowLayout& layout) {
  State& s = *s_;
  if (s.table == nullptr) return;
  s.closeValue();
  const uint64_t digest = rowDigest(s.table->def, bytes, layout, s.values.value());
  // Compared with the copy's at the end of the table: a table read back while it is written is read ahead of them.
  s.rows.add(digest);
  s.places.addNumber(digest);
  s.places.addNumber(home.raw());
}

void CompactionComparison::indexEntry(uint32_t index, Bytes entry) {
  State& s = *s_;
  if (s.table == nullptr || index >= s.indexes.size()) return;
  addIndexEntryDigest(s.indexes[index], entry);
  ++s.indexEntries[index];
}

void CompactionComparison::endIndex(uint32_t index, uint64_t distinctKeys) {
  State& s = *s_;
  if (s.table == nullptr || index >= s.indexes.size()) return;
  s.indexEnded[index] = true;
  const TableRecord::Index& want = s.record->indexes[index];
  const std::string name = "index " + std::to_string(index);
  if (s.indexEntries[index] != want.entries) {
    s.differ(name + " has " + std::to_string(s.indexEntries[index]) + " entries, not " + std::to_string(want.entries));
  } else if (s.indexes[index].value() != want.digest) {
    s.differ(name + " has different entries");
  } else if (distinctKeys != want.distinctKeys) {
    s.differ(name + " has a wrong key count");
  }
}

void CompactionComparison::endTable() {
  State& s = *s_;
  if (s.table == nullptr) return;
  const RowBlocks& want = s.record->rows;
  const uint64_t got = s.rows.rows();
  // The blocks both sides have whole, and with as many rows on both sides the last one too.
  const std::vector<uint32_t> gotBlocks = s.rows.blocks();
  const std::vector<uint32_t> wantBlocks = want.blocks();
  const uint64_t comparable =
      got == want.rows() ? gotBlocks.size() : std::min(got, want.rows()) / RowBlocks::kRowsPerBlock;
  const auto differing =
      std::mismatch(gotBlocks.begin(), gotBlocks.begin() + static_cast<std::ptrdiff_t>(comparable), wantBlocks.begin());
  if (differing.first != gotBlocks.begin() + static_cast<std::ptrdiff_t>(comparable)) {
    const auto block = static_cast<uint64_t>(differing.first - gotBlocks.begin());
    const uint64_t first = block * RowBlocks::kRowsPerBlock;
    s.differ("a row among rows " + std::to_string(first + 1) + " to " +
             std::to_string(std::min(first + RowBlocks::kRowsPerBlock, got)) + " has different bytes or long values");
  } else if (got > want.rows()) {
    s.differ("the copy has more rows than the source");
  } else if (got < want.rows()) {
    s.differ(rowText(got) + " is missing");
  } else if (s.places.value() != s.record->rowsDigest) {
    s.differ("its rows differ from the source's, or are not where the copy put them");
  }
  for (size_t i = 0; i < s.indexEnded.size(); ++i) {
    if (!s.indexEnded[i]) s.differ("index " + std::to_string(i) + " cannot be read back");
  }
  s.rows = RowBlocks{};
  s.table = nullptr;
}

void CompactionComparison::finish() {
  State& s = *s_;
  if (s.difference) corrupt(*s.difference);
  for (size_t i = 0; i < s.seen.size(); ++i) {
    if (!s.seen[i]) differs(s.plan.tables[i], "the compacted database lacks it");
  }
}

}  // namespace jet
