// The indexes of one table: each tree walked from its root, its page map, its key counts, and whether every live row
// is in it exactly once.
#include "jet/check/table_checker.h"

#include <algorithm>

#include "jet/read/index_walk.h"

namespace jet {

namespace {

// Sorts raw row pointers in four passes of one byte each: an index's entries point all over the table, and a
// comparison sort of a large table's pointers took a tenth of the read-back.
void sortPointers(std::vector<uint32_t>& values) {
  if (values.size() < 256) {
    std::sort(values.begin(), values.end());
    return;
  }
  std::vector<uint32_t> spare(values.size());
  for (unsigned shift = 0; shift < 32; shift += 8) {
    size_t counts[257] = {};
    for (uint32_t v : values) ++counts[((v >> shift) & 0xFF) + 1];
    if (std::find(counts + 1, counts + 257, values.size()) != counts + 257) continue;  // one bucket: nothing moves
    for (size_t b = 1; b < 257; ++b) counts[b] += counts[b - 1];
    for (uint32_t v : values) spare[counts[(v >> shift) & 0xFF]++] = v;
    values.swap(spare);
  }
}

std::string indexName(const TableDef& def, uint32_t k) {
  std::string names;
  for (const LogicalIndexDef& li : def.logicalIndexes) {
    if (li.realIndex == k) names += (names.empty() ? "" : "/") + li.name;
  }
  if (names.empty()) names.append("#").append(std::to_string(k));
  return "index " + names;
}

std::string rowName(uint32_t raw) {
  RowPointer p = RowPointer::fromRaw(raw);
  return "page " + std::to_string(p.page) + " row " + std::to_string(p.row);
}

}  // namespace

void TableChecker::checkIndex(uint32_t k, const LiveRows& rows, bool rowsComplete) {
  const TableDef& def = def_;
  const RealIndexDef& ix = def.realIndexes[k];
  const std::string label = indexName(def, k);
  ++log_.report().indexes;
  std::vector<uint32_t> mapPages;
  bool mapRead = maps_.read(ix.usageMap, name_, def.page, "page map of " + label, mapPages);

  if (ix.rootPage < claims_.size() && claims_[ix.rootPage].use != Use::None) {
    add(Severity::Error, ix.rootPage, -1,
        label + " starts on a page already used for " + claims_.describe(claims_[ix.rootPage]) + "; not walked");
    return;
  }
  std::vector<uint32_t> treePages;
  std::vector<uint32_t> pointed;
  pointed.reserve(rows.home.size());
  const bool unique = (ix.flags & kIndexUnique) != 0;
  std::vector<uint8_t> previousKey;
  uint32_t previousRow = 0;
  IndexWalker walker(
      pages_, def.page, ix.rootPage,
      [&](const IndexWalkIssue& issue) {
        add(issue.warning ? Severity::Warning : Severity::Error, issue.page, -1, label + ": " + issue.message);
      },
      [&](uint32_t page, bool) {
        treePages.push_back(page);
        claim(page, Use::Index, def.page, k);
      });
  try {
    IndexWalkEntry e;
    while (walker.next(e)) {
      if (options_.observer != nullptr) options_.observer->indexEntry(k, e.entry);
      pointed.push_back(e.row.raw());
      if (unique && !previousKey.empty() &&
          std::equal(e.key.begin(), e.key.end(), previousKey.begin(), previousKey.end())) {
        // Rows whose key has a null may repeat in a unique index; rows without one may not.
        if (!keyHasNull(rows, k, e.row.raw()) && !keyHasNull(rows, k, previousRow)) {
          add(Severity::Error, e.row.page, e.row.row,
              label + " is unique but the row has the same key as " + rowName(previousRow));
        }
      }
      previousKey.assign(e.key.begin(), e.key.end());
      previousRow = e.row.raw();
    }
  } catch (const Error& e) {
    onlyCorruption(e);
    add(Severity::Error, ix.rootPage, -1, label + " cannot be walked: " + e.what());
    return;
  }
  log_.report().indexEntries += walker.entries();
  if (options_.observer != nullptr) options_.observer->endIndex(k, walker.distinctKeys());
  if (walker.distinctKeys() != ix.keyCount) {
    add(Severity::Warning, def.page, -1,
        label + ": stored key count " + std::to_string(ix.keyCount) + ", found " +
            std::to_string(walker.distinctKeys()));
  }
  if (mapRead) {
    std::sort(treePages.begin(), treePages.end());
    for (uint32_t p : mapPages) {
      if (!std::binary_search(treePages.begin(), treePages.end(), p)) {
        // Space the index holds on to without using it: nothing is lost, so a warning.
        add(Severity::Warning, p, -1, label + ": the index's page map lists a page the tree does not reach");
      }
    }
    for (uint32_t p : treePages) {
      if (!std::binary_search(mapPages.begin(), mapPages.end(), p)) {
        add(Severity::Error, p, -1, label + ": the page is in the tree but not in the index's page map");
      }
    }
  }
  if (rowsComplete) compareMembership(label, (ix.flags & kIndexIgnoreNulls) != 0, rows, rows.keys[k], pointed);
}

bool TableChecker::keyHasNull(const LiveRows& rows, uint32_t k, uint32_t raw) {
  auto it = std::lower_bound(rows.home.begin(), rows.home.end(), raw);
  if (it == rows.home.end() || *it != raw) return false;
  uint8_t bits = rows.keys[k][static_cast<size_t>(it - rows.home.begin())];
  return (bits & (kKeyAnyNull | kRowUnreadable)) != 0;
}

void TableChecker::compareMembership(const std::string& label, bool ignoresNulls, const LiveRows& rows,
                                     const std::vector<uint8_t>& keyBits, std::vector<uint32_t>& pointed) {
  sortPointers(pointed);
  size_t j = 0;
  auto rowAt = [](uint32_t raw) { return RowPointer::fromRaw(raw); };
  for (size_t i = 0; i < rows.home.size(); ++i) {
    const uint32_t home = rows.home[i];
    for (; j < pointed.size() && pointed[j] < home; ++j) {
      if (j > 0 && pointed[j - 1] == pointed[j]) continue;
      add(Severity::Error, rowAt(pointed[j]).page, rowAt(pointed[j]).row,
          label + " has an entry for a row that is deleted or does not exist");
    }
    size_t n = 0;
    for (; j < pointed.size() && pointed[j] == home; ++j) ++n;
    const uint8_t bits = keyBits[i];
    if (bits & kRowUnreadable) continue;
    const bool belongs = !(ignoresNulls && (bits & kKeyAllNull));
    if (belongs && n == 0) {
      add(Severity::Error, rowAt(home).page, rowAt(home).row, "the row is missing from " + label);
    } else if (n > 1) {
      add(Severity::Error, rowAt(home).page, rowAt(home).row, label + " lists the row " + std::to_string(n) + " times");
    } else if (!belongs && n == 1) {
      add(Severity::Error, rowAt(home).page, rowAt(home).row,
          label + " ignores nulls but lists the row, whose key columns are all null");
    }
  }
  for (; j < pointed.size(); ++j) {
    if (j > 0 && pointed[j - 1] == pointed[j]) continue;
    add(Severity::Error, rowAt(pointed[j]).page, rowAt(pointed[j]).row,
        label + " has an entry for a row that is deleted or does not exist");
  }
}

}  // namespace jet
